#include "rotation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
}

namespace ffmpeg_rotation {

namespace {

// Tiled so both sides stay in cache.
constexpr int kTile = 64;

inline void CopyPixel(uint8_t *d, const uint8_t *s)
{
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

// A quarter turn: output is h x w. Counter-clockwise out(X, Y) =
// src(w-1-Y, X); clockwise out(X, Y) = src(Y, h-1-X).
void RotateQuarter(const uint8_t *src, size_t srcPitch, int w, int h, bool clockwise, uint8_t *dst)
{
    const int outW = h, outH = w;
    const size_t outPitch = size_t(outW) * 3;
    const ptrdiff_t step = clockwise ? -ptrdiff_t(srcPitch) : ptrdiff_t(srcPitch);
    const uint8_t *origin = clockwise ? src + size_t(h - 1) * srcPitch : src + size_t(w - 1) * 3;
    const ptrdiff_t column = clockwise ? 3 : -3; // source step per output row
    for (int y0 = 0; y0 < outH; y0 += kTile)
        for (int x0 = 0; x0 < outW; x0 += kTile) {
            const int y1 = std::min(y0 + kTile, outH), x1 = std::min(x0 + kTile, outW);
            for (int Y = y0; Y < y1; ++Y) {
                uint8_t *d = dst + size_t(Y) * outPitch;
                const uint8_t *s = origin + ptrdiff_t(Y) * column;
                for (int X = x0; X < x1; ++X)
                    CopyPixel(d + size_t(X) * 3, s + ptrdiff_t(X) * step);
            }
        }
}

// 180 degrees: out(X, Y) = src(w-1-X, h-1-Y).
void Rotate180(const uint8_t *src, size_t srcPitch, int w, int h, uint8_t *dst)
{
    const size_t outPitch = size_t(w) * 3;
    for (int Y = 0; Y < h; ++Y) {
        const uint8_t *s = src + size_t(h - 1 - Y) * srcPitch + size_t(w - 1) * 3;
        uint8_t *d = dst + size_t(Y) * outPitch;
        for (int X = 0; X < w; ++X, d += 3, s -= 3)
            CopyPixel(d, s);
    }
}

} // namespace

int FromDisplayMatrix(const int32_t *matrix)
{
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(matrix);
    if (std::isnan(angle))
        return 0;
    double ccw = std::fmod(angle, 360.0);
    if (ccw < 0)
        ccw += 360.0;
    for (int right : {0, 90, 180, 270, 360})
        if (std::fabs(ccw - right) < 1.0)
            return right % 360;
    return 0;
}

void Rotate(const uint8_t *src, size_t srcPitch, int w, int h, int ccw, uint8_t *dst)
{
    switch (ccw) {
    case 90:
        RotateQuarter(src, srcPitch, w, h, false, dst);
        break;
    case 180:
        Rotate180(src, srcPitch, w, h, dst);
        break;
    case 270:
        RotateQuarter(src, srcPitch, w, h, true, dst);
        break;
    default:
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + size_t(y) * w * 3, src + size_t(y) * srcPitch, size_t(w) * 3);
    }
}

} // namespace ffmpeg_rotation
