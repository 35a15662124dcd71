#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// The camera frame written out the slow, obvious way, which optimised code must match byte for
// byte: nearest-neighbour sampling into the letterbox (or the whole frame), then a mirror pass.
namespace reference_frame {

// Crop shows the largest centred window of the camera's aspect over the whole frame.
inline std::vector<uint8_t> Fit(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch,
                                bool crop = false)
{
    std::vector<uint8_t> out(size_t(camW) * camH * 3, 0);
    int dstW = camW, dstH = camH, w = srcW, h = srcH; // the picture's place, the source window
    if (crop && int64_t(srcW) * camH > int64_t(camW) * srcH)
        w = std::max(1, int(int64_t(srcH) * camW / camH));
    else if (crop)
        h = std::max(1, int(int64_t(srcW) * camH / camW));
    else if (!stretch && int64_t(srcW) * camH != int64_t(camW) * srcH) {
        const float srcAspect = float(srcW) / float(srcH), camAspect = float(camW) / float(camH);
        if (srcAspect > camAspect)
            dstH = int(float(camW) / srcAspect);
        else
            dstW = int(float(camH) * srcAspect);
    }
    const int offX = (camW - dstW) / 2, offY = (camH - dstH) / 2, x0 = (srcW - w) / 2, y0 = (srcH - h) / 2;
    for (int r = 0; r < dstH; ++r)
        for (int c = 0; c < dstW; ++c) {
            const size_t sy = size_t(y0 + int64_t(r) * h / dstH), sx = size_t(x0 + int64_t(c) * w / dstW);
            std::memcpy(&out[(size_t(r + offY) * camW + size_t(c + offX)) * 3], &src[(sy * size_t(srcW) + sx) * 3], 3);
        }
    return out;
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
