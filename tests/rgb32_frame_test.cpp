#include "rgb32_frame.h"

#include <gtest/gtest.h>

using rgb32_frame::RowPitch;
using rgb32_frame::ToBgr24;

TEST(Rgb32RowPitch, BufferLengthDecidesBetweenClaimedAndPaddedRows)
{
    // Too short for the claimed stride: tightly packed rows.
    EXPECT_EQ(RowPitch(100, 10, 512, 4000), 400u);
    // An unusual stride that the buffer holds is trusted.
    EXPECT_EQ(RowPitch(100, 10, 512, 5120), 512u);
    EXPECT_EQ(RowPitch(100, 10, 512, 9999), 512u);
    // The buffer fits the usual stride exactly.
    EXPECT_EQ(RowPitch(100, 10, 400, 4000), 400u);
    // A longer buffer that splits into equal rows: padded rows.
    EXPECT_EQ(RowPitch(100, 10, 400, 4480), 448u);
    // Longer, not equal rows, but room for rows aligned to 64 bytes.
    EXPECT_EQ(RowPitch(1366, 768, 5464, 768 * 5504 + 1), 5504u);
    EXPECT_EQ(RowPitch(1366, 768, 5464, 768 * 5504 + 767), 5504u);
    // Longer, not equal rows, no room for aligned rows: the claimed stride.
    EXPECT_EQ(RowPitch(100, 10, 400, 4001), 400u);
    EXPECT_EQ(RowPitch(1366, 768, 5464, 768 * 5504 - 1), 5464u);
}

TEST(Rgb32RowPitch, BottomUpStrideCountsByItsSize)
{
    EXPECT_EQ(RowPitch(100, 10, -400, 4000), 400u);
    EXPECT_EQ(RowPitch(100, 10, -400, 4480), 448u);
    EXPECT_EQ(RowPitch(100, 10, -512, 4000), 400u);
}

TEST(Rgb32RowPitch, HugeFramesDoNotWrapAround)
{
    // 65536 rows of 1 MiB wrap to 0 in 32 bits; the short buffer must still
    // count as short.
    EXPECT_EQ(RowPitch(16, 65536, 1 << 20, 4096), 64u);
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

std::vector<uint8_t> expectedBgr24(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t k = 0; k < 3; ++k)
                out.push_back(uint8_t(y * 31 + x * 7 + k));
    return out;
}

} // namespace

TEST(Rgb32ToBgr24, DropsTheFourthByteAndSkipsRowPadding)
{
    for (uint32_t pitch : {4u * 5, 4u * 5 + 12, 64u}) {
        const auto data = rgb32Picture(5, 3, pitch);
        std::vector<uint8_t> out(100, 0x55);
        ASSERT_TRUE(ToBgr24(data.data(), uint32_t(data.size()), 5, 3, pitch, out)) << pitch;
        EXPECT_EQ(out, expectedBgr24(5, 3)) << "pitch " << pitch;
    }
}

TEST(Rgb32ToBgr24, PaddedBufferReadWithTheChosenPitch)
{
    // A 1366-wide frame padded to 64-byte rows, with stray bytes at the end.
    const uint32_t w = 1366, h = 4;
    const auto data = rgb32Picture(w, h, 5504, 3);
    std::vector<uint8_t> out;
    const uint32_t length = uint32_t(data.size());
    ASSERT_TRUE(ToBgr24(data.data(), length, w, h, RowPitch(w, h, int32_t(w * 4), length), out));
    EXPECT_EQ(out, expectedBgr24(w, h));
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
}

TEST(Rgb32ToBgr24, EmptyPictureGivesAnEmptyFrame)
{
    std::vector<uint8_t> out(12, 1);
    EXPECT_TRUE(ToBgr24(nullptr, 0, 4, 0, 16, out));
    EXPECT_TRUE(out.empty());
}
