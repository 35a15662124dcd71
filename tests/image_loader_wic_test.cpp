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

class ImageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loader.Initialize()); }

    // Loads a file made at build time.
    bool load(const char *name, unsigned w = 0, unsigned h = 0)
    {
        const auto path = test_media::Generate(name, "");
        EXPECT_FALSE(path.empty()) << name << " was not made at build time";
        return loader.LoadImageW(path, w, h);
    }

    ImageLoader loader;
};

} // namespace

// Odd widths: 99-byte rows, so any row padding would show. Alpha is dropped,
// not blended; JPEG edges may ring, but its colours may not swap.
TEST_F(ImageLoaderTest, FormatsArriveAsBgr)
{
    const struct {
        const char *name;
        std::vector<uint8_t> pixels;
        int tolerance;
    } cases[] = {
        {"quadrants.bmp", kQuadrants, 0},
        {"palette.png", kQuadrants, 0},
        {"animated.gif", kQuadrants, 0}, // the first frame only
        {"alpha.png", kQuadrants, 0},    // 32 bits with half and fully transparent rectangles
        {"mono.bmp", rectangles(33, 17, kBlack, kWhite, kWhite, kBlack), 0},
        {"quadrants.jpg", kQuadrants, 80},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(load(c.name)) << c.name;
        EXPECT_EQ(loader.width, 33u) << c.name;
        EXPECT_EQ(loader.height, 17u) << c.name;
        ASSERT_EQ(loader.pixels.size(), c.pixels.size()) << c.name;
        int worst = 0;
        for (size_t i = 0; i < c.pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(loader.pixels[i]) - int(c.pixels[i])));
        EXPECT_LE(worst, c.tolerance) << c.name;
    }
}

// Scaled only when both target values are given and differ from the image's
// own size; stretched, the aspect ratio not kept.
TEST_F(ImageLoaderTest, ScalesToTheTargetOnlyWhenAsked)
{
    ASSERT_TRUE(load("large.png", 320, 240));
    const auto expected = rectangles(320, 240, kRed, kLime, kBlue, kWhite);
    ASSERT_EQ(loader.pixels.size(), expected.size());
    for (auto [x, y] : {std::pair{80, 60}, {240, 60}, {80, 180}, {240, 180}, {0, 0}, {319, 239}}) {
        const size_t i = (size_t(y) * 320 + x) * 3;
        EXPECT_EQ(std::vector<uint8_t>(loader.pixels.begin() + i, loader.pixels.begin() + i + 3),
                  std::vector<uint8_t>(expected.begin() + i, expected.begin() + i + 3))
            << "at " << x << "," << y;
    }
    for (auto [w, h] : {std::pair{0u, 17u}, {33u, 0u}, {33u, 17u}}) {
        ASSERT_TRUE(load("quadrants.bmp", w, h));
        EXPECT_EQ(loader.pixels, kQuadrants) << w << "x" << h;
    }
    ASSERT_TRUE(load("quadrants.bmp", 66, 10));
    EXPECT_EQ(loader.width, 66u);
    EXPECT_EQ(loader.pixels.size(), 66u * 10 * 3);
    ASSERT_TRUE(load("palette.png", 5, 40)) << "indexed images scale too";
    EXPECT_EQ(loader.pixels.size(), 5u * 40 * 3);
}

TEST_F(ImageLoaderTest, BadFilesFailAndLeaveTheLoaderEmpty)
{
    std::ifstream in(test_media::Generate("large.png", ""), std::ios::binary);
    const std::string png{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
        EXPECT_TRUE(loader.pixels.empty());
        EXPECT_EQ(loader.width, 0u);
        EXPECT_EQ(loader.height, 0u);
    }
    ASSERT_TRUE(load("quadrants.bmp")) << "a failure leaves the loader usable";
}

TEST(ImageLoader, NothingLoadsBeforeInitialize)
{
    ImageLoader loader;
    EXPECT_FALSE(loader.LoadImageW(test_media::Generate("quadrants.bmp", "")));
    ASSERT_TRUE(loader.Initialize());
    void *const factory = loader.factory;
    ASSERT_TRUE(loader.Initialize());
    EXPECT_EQ(loader.factory, factory) << "the factory is made once";
    EXPECT_TRUE(loader.LoadImageW(test_media::Generate("quadrants.bmp", "")));
}
