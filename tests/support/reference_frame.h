#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// The camera frame written out the slow, obvious way, which optimised code must match byte for
// byte: nearest-neighbour sampling into the letterbox (or the whole frame), then a mirror pass.
namespace reference_frame {

inline std::vector<uint8_t> Fit(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch)
{
    std::vector<uint8_t> out(size_t(camW) * camH * 3, 0);
    int dstW = camW, dstH = camH; // stretched, or the very same aspect
    if (!stretch && int64_t(srcW) * camH != int64_t(camW) * srcH) {
        const float srcAspect = float(srcW) / float(srcH), camAspect = float(camW) / float(camH);
        if (srcAspect > camAspect)
            dstH = int(float(camW) / srcAspect);
        else
            dstW = int(float(camH) * srcAspect);
    }
    const int offX = (camW - dstW) / 2, offY = (camH - dstH) / 2;
    for (int r = 0; r < dstH; ++r)
        for (int c = 0; c < dstW; ++c) {
            const size_t sy = size_t(int64_t(r) * srcH / dstH), sx = size_t(int64_t(c) * srcW / dstW);
            std::memcpy(&out[(size_t(r + offY) * camW + size_t(c + offX)) * 3], &src[(sy * size_t(srcW) + sx) * 3], 3);
        }
    return out;
}

// Crop: the largest centred window of the camera's aspect, stretched over the whole frame.
inline std::vector<uint8_t> Crop(const uint8_t *src, int srcW, int srcH, int camW, int camH)
{
    int w = srcW, h = srcH;
    if (int64_t(srcW) * camH > int64_t(camW) * srcH)
        w = std::max(1, int(int64_t(srcH) * camW / camH));
    else
        h = std::max(1, int(int64_t(srcW) * camH / camW));
    std::vector<uint8_t> window;
    for (int y = (srcH - h) / 2; y < (srcH - h) / 2 + h; ++y) {
        const uint8_t *row = src + (size_t(y) * srcW + size_t(srcW - w) / 2) * 3;
        window.insert(window.end(), row, row + size_t(w) * 3);
    }
    return Fit(window.data(), w, h, camW, camH, true);
}

inline std::vector<uint8_t> Mirror(const uint8_t *src, int w, int h)
{
    std::vector<uint8_t> out(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(&out[(size_t(y) * w + (w - 1 - x)) * 3], &src[(size_t(y) * w + x) * 3], 3);
    return out;
}

// What the camera receives for a source frame: fitted, then mirrored.
inline std::vector<uint8_t> CameraFrame(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch)
{
    return Mirror(Fit(src, srcW, srcH, camW, camH, stretch).data(), camW, camH);
}

// A source whose every pixel differs from its neighbours, so a sampling error of one pixel shows.
inline std::vector<uint8_t> Pattern(int w, int h, uint32_t seed = 1)
{
    std::vector<uint8_t> px(size_t(w) * h * 3);
    std::minstd_rand random(seed);
    for (auto &b : px)
        b = uint8_t(random() >> 8);
    return px;
}

} // namespace reference_frame
