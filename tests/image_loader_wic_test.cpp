// The WIC image loader on real files: four rectangles at 33 x 17, red top
// left (17 x 9), lime top right, blue bottom left, white bottom right (see
// support/make_windows_media.sh).
#include "image_loader.h"

#include "test_media.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

struct Bgr {
    uint8_t b, g, r;
};
constexpr Bgr kRed{0, 0, 255}, kLime{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

std::vector<uint8_t> rectangles(uint32_t w, uint32_t h, Bgr tl, Bgr tr, Bgr bl, Bgr br)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const bool left = x < (w + 1) / 2, top = y < (h + 1) / 2;
            const Bgr c = top ? (left ? tl : tr) : (left ? bl : br);
            out.insert(out.end(), {c.b, c.g, c.r});
        }
    return out;
}

const std::vector<uint8_t> kQuadrants = rectangles(33, 17, kRed, kLime, kBlue, kWhite);

// Largest difference of any byte, for lossy formats.
int maxDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

std::string bytesOf(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loader.Initialize()); }

    // Loads a file made at build time at its own size.
    bool load(const char *name, unsigned w = 0, unsigned h = 0)
    {
        const auto path = test_media::Generate(name, "");
        EXPECT_FALSE(path.empty()) << name << " was not made at build time";
        return loader.LoadImageW(path, w, h);
    }

    void expectEmpty()
    {
        EXPECT_TRUE(loader.pixels.empty());
        EXPECT_EQ(loader.width, 0u);
        EXPECT_EQ(loader.height, 0u);
    }

    ImageLoader loader;
};

} // namespace

TEST_F(ImageLoaderTest, LosslessFormatsArriveByteExact)
{
    // Odd widths: 99-byte rows, so any row padding would show.
    for (const char *name : {"quadrants.bmp", "palette.png", "animated.gif"}) {
        ASSERT_TRUE(load(name)) << name;
        EXPECT_EQ(loader.width, 33u) << name;
        EXPECT_EQ(loader.height, 17u) << name;
        EXPECT_EQ(loader.pixels, kQuadrants) << name << (std::string(name) == "animated.gif" ? ": first frame only" : "");
    }
}

TEST_F(ImageLoaderTest, AlphaIsDroppedNotBlended)
{
    // Half and fully transparent rectangles keep their stored colours.
    ASSERT_TRUE(load("alpha.png"));
    EXPECT_EQ(loader.width, 33u);
    EXPECT_EQ(loader.pixels, kQuadrants);
}

TEST_F(ImageLoaderTest, OneBitImageComesOutAsBgr)
{
    ASSERT_TRUE(load("mono.bmp"));
    EXPECT_EQ(loader.pixels, rectangles(33, 17, kBlack, kWhite, kWhite, kBlack));
}

TEST_F(ImageLoaderTest, JpegArrivesWithinCodecTolerance)
{
    ASSERT_TRUE(load("quadrants.jpg"));
    ASSERT_EQ(loader.pixels.size(), kQuadrants.size());
    // Away from the edges, where 4:4:4 JPEG at top quality keeps colours.
    EXPECT_LE(maxDifference(loader.pixels, kQuadrants), 80) << "edges may ring, colours may not swap";
    for (auto [x, y] : {std::pair{4, 3}, {28, 3}, {4, 14}, {28, 14}}) {
        const size_t i = (size_t(y) * 33 + x) * 3;
        const std::vector<uint8_t> got(loader.pixels.begin() + i, loader.pixels.begin() + i + 3);
        const std::vector<uint8_t> want(kQuadrants.begin() + i, kQuadrants.begin() + i + 3);
        EXPECT_LE(maxDifference(got, want), 8) << "at " << x << "," << y;
    }
}

TEST_F(ImageLoaderTest, ScalesToTheTargetOnlyWhenAsked)
{
    ASSERT_TRUE(load("large.png", 320, 240));
    EXPECT_EQ(loader.width, 320u);
    EXPECT_EQ(loader.height, 240u);
    ASSERT_EQ(loader.pixels.size(), 230400u);
    const auto expected = rectangles(320, 240, kRed, kLime, kBlue, kWhite);
    for (auto [x, y] : {std::pair{80, 60}, {240, 60}, {80, 180}, {240, 180}, {0, 0}, {319, 239}}) {
        const size_t i = (size_t(y) * 320 + x) * 3;
        EXPECT_EQ(std::vector<uint8_t>(loader.pixels.begin() + i, loader.pixels.begin() + i + 3),
                  std::vector<uint8_t>(expected.begin() + i, expected.begin() + i + 3))
            << "at " << x << "," << y;
    }

    // One target value of 0, or the image's own size: no scaling at all.
    for (auto [w, h] : {std::pair{0u, 17u}, {33u, 0u}, {33u, 17u}}) {
        ASSERT_TRUE(load("quadrants.bmp", w, h));
        EXPECT_EQ(loader.pixels, kQuadrants) << w << "x" << h;
    }
    // Stretched, aspect ratio not kept.
    ASSERT_TRUE(load("quadrants.bmp", 66, 10));
    EXPECT_EQ(loader.width, 66u);
    EXPECT_EQ(loader.pixels.size(), 66u * 10 * 3);
    ASSERT_TRUE(load("palette.png", 5, 40)) << "indexed images scale too";
    EXPECT_EQ(loader.pixels.size(), 5u * 40 * 3);
}

TEST_F(ImageLoaderTest, BadFilesFailAndLeaveTheLoaderEmpty)
{
    const std::string png = bytesOf(test_media::Generate("large.png", ""));
    ASSERT_GT(png.size(), 1000u);
    const std::filesystem::path bad[] = {
        test_media::WriteFile("truncated.png", png.substr(0, png.size() / 2)),
        test_media::WriteFile("header-only.png", png.substr(0, 40)),
        test_media::WriteFile("empty.png", ""),
        test_media::WriteFile("text.jpg", "not a picture\n"),
        test_media::Generate("quadrants.mp4", ""),
        test_media::Dir() / "missing.png",
    };
    for (const auto &path : bad) {
        ASSERT_TRUE(load("quadrants.bmp"));
        EXPECT_FALSE(loader.LoadImageW(path)) << path.filename();
        expectEmpty();
    }
    ASSERT_TRUE(load("quadrants.bmp")) << "a failure leaves the loader usable";
    loader.Release();
    expectEmpty();
}

TEST(ImageLoader, NothingLoadsBeforeInitialize)
{
    ImageLoader loader;
    EXPECT_FALSE(loader.LoadImageW(test_media::Generate("quadrants.bmp", "")));
    EXPECT_TRUE(loader.pixels.empty());
    ASSERT_TRUE(loader.Initialize());
    void *const factory = loader.factory;
    ASSERT_TRUE(loader.Initialize());
    EXPECT_EQ(loader.factory, factory) << "the factory is made once";
    EXPECT_TRUE(loader.LoadImageW(test_media::Generate("quadrants.bmp", "")));
}
