#include "swscale_padding.h"

#include "bgr_conversion.h"

#include <cstring>

namespace swscale_padding {

bool TightRowsAreSafe(SwsContext *sws, const AVFrame *f, std::vector<uint8_t> &scratch)
{
    using ffmpeg_conversion::kScratchTail;
    const int w = f->width, h = f->height;
    const size_t tight = size_t(w) * 3, pitch = ffmpeg_conversion::PaddedPitch(w);
    const size_t bytes = tight * size_t(h);
    std::vector<uint8_t> &padded = scratch;
    padded.resize(pitch * size_t(h) + kScratchTail);
    {
        uint8_t *dst[4] = {padded.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {int(pitch), 0, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride) != h)
            return false;
    }
    std::vector<uint8_t> packed(bytes + kScratchTail);
    for (uint8_t fill : {uint8_t(0x5A), uint8_t(0xA5)}) {
        std::memset(packed.data(), fill, packed.size());
        uint8_t *dst[4] = {packed.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {int(tight), 0, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride) != h)
            return false;
        for (size_t i = bytes; i < packed.size(); ++i)
            if (packed[i] != fill)
                return false;
        for (int y = 0; y < h; ++y)
            if (std::memcmp(packed.data() + size_t(y) * tight, padded.data() + size_t(y) * pitch, tight) != 0)
                return false;
    }
    return true;
}

} // namespace swscale_padding
