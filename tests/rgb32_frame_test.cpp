#include "rgb32_frame.h"

#include <gtest/gtest.h>

// The buffer length picks the claimed stride, tight rows, equal padded rows or 64-byte aligned rows.
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
        {100, 10, 400, 4480, 448},                 // a multiple of the height: padded rows
        {1366, 768, 5464, 768 * 5504 + 767, 5504}, // room for 64-byte aligned rows
        {1366, 768, 5464, 768 * 5504 - 1, 5464},   // no room: the claimed stride
        {100, 10, 400, 4001, 400},
        {100, 10, -400, 4480, 448}, // bottom-up counts by its size
        {100, 10, -512, 4000, 400},
        {16, 65536, 1 << 20, 4096, 64}, // 65536 rows of 1 MiB wrap to 0 in 32 bits
    };
    for (const auto &c : cases)
        EXPECT_EQ(rgb32_frame::RowPitch(c.width, c.height, c.stride, c.length), c.pitch)
            << c.width << "x" << c.height << ", stride " << c.stride << ", length " << c.length;
}

// Four rows `pitch` bytes apart, every colour byte telling its place, the rest 0xEE; then one short.
TEST(Rgb32ToBgr24, DropsTheFourthByteSkipsRowPaddingAndRefusesShortBuffers)
{
    for (auto [w, pitch] : {std::pair{5u, 20u}, {5u, 32u}, {5u, 64u}, {1366u, 5504u}}) {
        const uint32_t h = 4, needed = (h - 1) * pitch + w * 4 - 1; // not the last pixel's fourth byte
        std::vector<uint8_t> data(needed, 0xEE), out(100, 0x55), expected;
        for (uint32_t i = 0; i < w * h * 3; ++i) {
            expected.push_back(uint8_t(i / 3 / w * 31 + i / 3 % w * 7 + i % 3));
            data[size_t(i / 3 / w) * pitch + i / 3 % w * 4 + i % 3] = expected.back();
        }
        ASSERT_TRUE(rgb32_frame::ToBgr24(data.data(), needed, w, h, pitch, out)) << pitch;
        EXPECT_EQ(out, expected) << w << " wide, pitch " << pitch;
        out.assign(7, 0x42);
        EXPECT_FALSE(rgb32_frame::ToBgr24(data.data(), needed - 1, w, h, pitch, out));
        EXPECT_EQ(out, std::vector<uint8_t>(7, 0x42)) << "left alone";
    }
    std::vector<uint8_t> out(3);
    EXPECT_TRUE(rgb32_frame::ToBgr24(nullptr, 0, 4, 0, 16, out) && out.empty()) << "an empty picture";
}
