#include "rgb32_frame.h"

#include <gtest/gtest.h>

using rgb32_frame::RowPitch;
using rgb32_frame::ToBgr24;

// The buffer length decides between the claimed stride, tightly packed rows,
// equal padded rows and rows aligned to 64 bytes.
TEST(Rgb32RowPitch, Examples)
{
    struct {
        uint32_t width, height;
        int32_t stride;
        uint32_t length, pitch;
    } const cases[] = {
        {100, 10, 512, 4000, 400}, // too short for the claimed stride
        {100, 10, 512, 5120, 512}, // an unusual stride the buffer holds
        {100, 10, 400, 4000, 400},
        {100, 10, 400, 4480, 448}, // a multiple of the height: padded rows
        {1366, 768, 5464, 768 * 5504 + 767, 5504}, // room for 64-byte aligned rows
        {1366, 768, 5464, 768 * 5504 - 1, 5464}, // no room: the claimed stride
        {100, 10, 400, 4001, 400},
        {100, 10, -400, 4480, 448}, // bottom-up counts by its size
        {100, 10, -512, 4000, 400},
        {16, 65536, 1 << 20, 4096, 64}, // 65536 rows of 1 MiB wrap to 0 in 32 bits
    };
    for (const auto &c : cases)
        EXPECT_EQ(RowPitch(c.width, c.height, c.stride, c.length), c.pitch)
            << c.width << "x" << c.height << ", stride " << c.stride << ", length " << c.length;
}

namespace {

// An RGB32 picture with `pitch`-byte rows; every byte says where it is, the
// unused fourth byte and the padding are 0xEE.
std::vector<uint8_t> rgb32Picture(uint32_t w, uint32_t h, uint32_t pitch, uint32_t extra = 0)
{
    std::vector<uint8_t> data(size_t(pitch) * h + extra, 0xEE);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t k = 0; k < 3; ++k)
                data[size_t(y) * pitch + x * 4 + k] = uint8_t(y * 31 + x * 7 + k);
    return data;
}

} // namespace

// The 1366-wide frame is padded to 64-byte rows with stray bytes at the end,
// and read with the pitch the rule picks.
TEST(Rgb32ToBgr24, DropsTheFourthByteAndSkipsRowPadding)
{
    for (auto [w, pitch] : {std::pair{5u, 20u}, {5u, 32u}, {5u, 64u}, {1366u, 0u}}) {
        const uint32_t h = 4;
        const auto data = rgb32Picture(w, h, pitch ? pitch : 5504, 3);
        const uint32_t length = uint32_t(data.size());
        if (!pitch)
            pitch = RowPitch(w, h, int32_t(w * 4), length);
        std::vector<uint8_t> out(100, 0x55), expected;
        for (uint32_t i = 0; i < w * h * 3; ++i)
            expected.push_back(uint8_t(i / 3 / w * 31 + i / 3 % w * 7 + i % 3));
        ASSERT_TRUE(ToBgr24(data.data(), length, w, h, pitch, out)) << pitch;
        EXPECT_EQ(out, expected) << w << " wide, pitch " << pitch;
    }
}

TEST(Rgb32ToBgr24, ShortBufferIsRefusedAndLeavesTheFrameAlone)
{
    const auto data = rgb32Picture(5, 3, 20);
    const std::vector<uint8_t> before(7, 0x42);
    std::vector<uint8_t> out = before;
    // The last pixel needs its three colour bytes, not its fourth.
    EXPECT_TRUE(ToBgr24(data.data(), 59, 5, 3, 20, out));
    out = before;
    EXPECT_FALSE(ToBgr24(data.data(), 58, 5, 3, 20, out));
    EXPECT_EQ(out, before);
    EXPECT_FALSE(ToBgr24(data.data(), 60, 5, 3, 24, out)) << "pitch too wide for the buffer";
    EXPECT_EQ(out, before);
    EXPECT_TRUE(ToBgr24(nullptr, 0, 4, 0, 16, out)) << "an empty picture";
    EXPECT_TRUE(out.empty());
}
