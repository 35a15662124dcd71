#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

// Decoded frames to tightly packed, upright BGR24 with swscale, and the test
// for frames the camera can take without any conversion.
namespace ffmpeg_conversion {

// Row pitch of the scratch buffer: generous padding so no SIMD writer can
// reach the next row, and 64-byte aligned rows.
inline size_t PaddedPitch(int w)
{
    return (static_cast<size_t>(w) * 3 + 64 + 63) & ~size_t(63);
}
// Extra bytes after the last padded row.
constexpr size_t kScratchTail = 4096;

// Frames the camera can take as they are: 8-bit 4:2:0 in limited range with
// the BT.601 matrix (or none stated, which is read as BT.601), the camera's
// own colours. Anything else is converted to BGR24 first.
bool PassesAsYuv(const AVFrame *f);

class BgrConverter {
public:
    BgrConverter() = default;
    BgrConverter(const BgrConverter &) = delete;
    BgrConverter &operator=(const BgrConverter &) = delete;
    ~BgrConverter();

    // Sets swscale up for f's size, format and colours (cheap when they are
    // unchanged); false when f cannot be converted.
    bool Prepare(const AVFrame *f);
    // Converts f into out, turned by `rotation`; width and height are the
    // upright size. out is only touched once f is known to be convertible.
    bool Convert(const AVFrame *f, std::vector<uint8_t> &out, uint32_t &width, uint32_t &height);

    int rotation = 0; // counter-clockwise degrees applied to every frame

private:
    SwsContext *sws = nullptr;
    int swsW = 0, swsH = 0;
    AVPixelFormat swsFormat = AV_PIX_FMT_NONE;
    int swsColorspace = -1, swsRange = -1;
    bool direct = false; // tightly packed output is safe for this configuration
    std::vector<uint8_t> scratch;
};

} // namespace ffmpeg_conversion
