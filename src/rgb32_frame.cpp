#include "rgb32_frame.h"

#include <cstdlib>

namespace rgb32_frame {

uint32_t RowPitch(uint32_t width, uint32_t height, int32_t stride, uint32_t length)
{
    // Products in 64 bits: a wrapped comparison would pick a pitch that
    // reads outside the buffer.
    const uint64_t rowBytes = uint64_t(width) * 4;
    const uint64_t claimed = uint64_t(std::llabs(int64_t(stride)));
    if (length < uint64_t(height) * claimed)
        return uint32_t(rowBytes);
    if (claimed != rowBytes || length == uint64_t(height) * claimed)
        return uint32_t(claimed);
    if (length % height == 0 && length / height >= rowBytes)
        return length / height;
    const uint64_t aligned = (rowBytes + 63) / 64 * 64;
    return length >= uint64_t(height) * aligned ? uint32_t(aligned) : uint32_t(claimed);
}

bool ToBgr24(const uint8_t *data, uint32_t length, uint32_t width, uint32_t height, uint32_t pitch,
             std::vector<uint8_t> &out)
{
    if (width == 0 || height == 0) {
        out.clear();
        return true;
    }
    // The last pixel's unused byte need not be there.
    if (uint64_t(height - 1) * pitch + uint64_t(width) * 4 - 1 > length)
        return false;
    out.resize(size_t(width) * height * 3);
    uint8_t *dst = out.data();
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = data + size_t(y) * pitch;
        for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    return true;
}

} // namespace rgb32_frame
