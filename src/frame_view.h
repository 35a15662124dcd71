#pragma once

#include <cstdint>

// A decoded picture as its producer holds it, without copying: either a
// tightly packed BGR24 frame, or the three planes of 8-bit 4:2:0 YUV
// (BT.601, limited range) straight from the decoder, which become upright
// when turned `rotation` degrees counter-clockwise. width and height are
// always the upright size. The memory stays the producer's and is valid until its next frame.
struct FrameView {
    enum class Format { Bgr24, Yuv420 };
    Format format = Format::Bgr24;
    int width = 0;
    int height = 0;
    const uint8_t *plane[3] = {};
    int stride[3] = {};
    int rotation = 0; // Yuv420 only: 0, 90, 180 or 270

    static FrameView Bgr(const uint8_t *pixels, int width, int height)
    {
        FrameView v;
        v.width = width;
        v.height = height;
        v.plane[0] = pixels;
        v.stride[0] = width * 3;
        return v;
    }
    // Size of the stored (not upright) picture.
    int StoredWidth() const { return rotation % 180 ? height : width; }
    int StoredHeight() const { return rotation % 180 ? width : height; }
};
