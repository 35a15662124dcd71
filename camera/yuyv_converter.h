#pragma once

#include <cstddef>
#include <cstdint>

// BGR24 to YUYV 4:2:2 at the same size (even width), BT.601 limited range:
// the format webcam clients take most readily. The output is byte for byte
// swscale's (BT.601 table, area filter on full-width chroma, accurate
// rounding), which the camera used before, at a fraction of its cost.
class YuyvConverter {
public:
    // Plain C++ runs everywhere; the vector version where the CPU has it.
    enum class Level { Plain, Ssse3 };
    static Level Best();

    YuyvConverter(int width, int height, Level level = Best());

    bool Valid() const { return width > 0 && height > 0 && width % 2 == 0; }
    size_t OutputBytes() const { return size_t(width) * height * 2; }
    // Converts one frame of width x height x 3 bytes into OutputBytes().
    void Convert(const uint8_t *bgr, uint8_t *yuyv) const;

    // One row of pixel pairs; rounded (rather than truncated) on the last two
    // rows of a frame, where swscale rounds.
    using RowFn = void (*)(const uint8_t *bgr, int pairs, bool rounded, uint8_t *out);

private:
    int width;
    int height;
    RowFn row;
};
