#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The camera frame written out the slow, obvious way: zero the frame, fit
// the source with nearest-neighbour sampling into the letterbox (or the
// whole frame when stretching), then mirror left to right as a second pass.
// Optimised code must produce exactly these bytes.
namespace reference_frame {

inline std::vector<uint8_t> Fit(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch)
{
    std::vector<uint8_t> out(size_t(camW) * camH * 3, 0);
    int dstW, dstH, offX = 0, offY = 0;
    if (stretch || int64_t(srcW) * camH == int64_t(camW) * srcH) { // same aspect: exact
        dstW = camW;
        dstH = camH;
    } else {
        const float srcAspect = float(srcW) / float(srcH);
        const float camAspect = float(camW) / float(camH);
        if (srcAspect > camAspect) {
            dstW = camW;
            dstH = int(float(camW) / srcAspect);
            offY = (camH - dstH) / 2;
        } else {
            dstW = int(float(camH) * srcAspect);
            dstH = camH;
            offX = (camW - dstW) / 2;
        }
    }
    if (dstW <= 0 || dstH <= 0)
        return out;
    for (int r = offY; r < offY + dstH; ++r) {
        for (int c = offX; c < offX + dstW; ++c) {
            const int sy = int((int64_t(r - offY) * srcH) / dstH);
            const int sx = int((int64_t(c - offX) * srcW) / dstW);
            for (int k = 0; k < 3; ++k)
                out[(size_t(r) * camW + c) * 3 + k] = src[(size_t(sy) * srcW + sx) * 3 + k];
        }
    }
    return out;
}

inline std::vector<uint8_t> Mirror(const uint8_t *src, int w, int h)
{
    std::vector<uint8_t> out(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k)
                out[(size_t(y) * w + (w - 1 - x)) * 3 + k] = src[(size_t(y) * w + x) * 3 + k];
    return out;
}

// What the camera receives for a source frame: fitted unless the sizes
// already match, then mirrored.
inline std::vector<uint8_t> CameraFrame(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch)
{
    if (srcW == camW && srcH == camH)
        return Mirror(src, camW, camH);
    const std::vector<uint8_t> fitted = Fit(src, srcW, srcH, camW, camH, stretch);
    return Mirror(fitted.data(), camW, camH);
}

// A source whose every pixel differs from its neighbours, so a sampling
// error of one pixel shows.
inline std::vector<uint8_t> Pattern(int w, int h, uint32_t seed = 1)
{
    std::vector<uint8_t> px(size_t(w) * h * 3);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto &b : px) {
        state = state * 1664525u + 1013904223u;
        b = uint8_t(state >> 24);
    }
    return px;
}

} // namespace reference_frame
