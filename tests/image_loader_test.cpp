// The image-loader contract, run against the platform's backend on pictures
// made at build time (support/make_test_media.sh): four rectangles at
// 33 x 17, red top left (17 x 9), lime top right, blue bottom left, white
// bottom right. The backend's own cases are in image_loader_<backend>_cases.cpp.
#include "image_loader.h"
#include "test_media.h"

#include <gtest/gtest.h>

namespace {

struct Bgr {
    uint8_t b, g, r;
};
constexpr Bgr kRed{0, 0, 255}, kLime{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

std::vector<uint8_t> Rectangles(uint32_t w, uint32_t h, Bgr tl, Bgr tr, Bgr bl, Bgr br)
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

const std::vector<uint8_t> kQuadrants = Rectangles(33, 17, kRed, kLime, kBlue, kWhite);

class ImageLoaderContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loader.Initialize()); }

    bool Load(const char *name, unsigned w = 0, unsigned h = 0)
    {
        const auto path = test_media::Made(name);
        EXPECT_FALSE(path.empty()) << name << " was not made at build time";
        return loader.LoadImageW(path, w, h);
    }
    void ExpectEmpty() const { EXPECT_TRUE(loader.pixels.empty() && loader.width + loader.height == 0); }

    ImageLoader loader;
};

} // namespace

// Odd widths: 99-byte rows, so any row padding would show. Alpha is dropped,
// not blended; JPEG edges may ring, but its colours may not swap.
TEST_F(ImageLoaderContract, FormatsArriveAsBgr)
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
        {"mono.bmp", Rectangles(33, 17, kBlack, kWhite, kWhite, kBlack), 0},
        {"quadrants.jpg", kQuadrants, 80},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(Load(c.name)) << c.name;
        EXPECT_EQ(loader.width, 33u) << c.name;
        EXPECT_EQ(loader.height, 17u) << c.name;
        ASSERT_EQ(loader.pixels.size(), c.pixels.size()) << c.name;
        int worst = 0;
        for (size_t i = 0; i < c.pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(loader.pixels[i]) - int(c.pixels[i])));
        EXPECT_LE(worst, c.tolerance) << c.name;
    }
    // A name beyond ASCII.
    const auto named = test_media::Dir() / std::filesystem::u8path("bild-\u00fc\u00df.bmp");
    std::filesystem::copy_file(test_media::Made("quadrants.bmp"), named);
    ASSERT_TRUE(loader.LoadImageW(named));
    EXPECT_EQ(loader.pixels, kQuadrants);
}

// Scaled only when both target values are given and differ from the image's
// own size; stretched, the aspect ratio not kept. Larger than the largest
// camera frame at its own size: fitted into it.
TEST_F(ImageLoaderContract, ScalesToTheTargetOnlyWhenAsked)
{
    ASSERT_TRUE(Load("large.png", 320, 240));
    const auto expected = Rectangles(320, 240, kRed, kLime, kBlue, kWhite);
    ASSERT_EQ(loader.pixels.size(), expected.size());
    for (size_t i :
         {(60 * 320 + 80) * 3, (60 * 320 + 240) * 3, (180 * 320 + 80) * 3, (180 * 320 + 240) * 3, 0, 320 * 240 * 3 - 3})
        EXPECT_TRUE(std::equal(expected.begin() + i, expected.begin() + i + 3, loader.pixels.begin() + i)) << i / 3;
    for (auto [w, h] : {std::pair{0u, 17u}, {33u, 0u}, {33u, 17u}}) {
        ASSERT_TRUE(Load("quadrants.bmp", w, h));
        EXPECT_EQ(loader.pixels, kQuadrants) << w << "x" << h;
    }
    ASSERT_TRUE(Load("quadrants.bmp", 66, 10));
    EXPECT_EQ(loader.width, 66u);
    EXPECT_EQ(loader.pixels.size(), 66u * 10 * 3);
    ASSERT_TRUE(Load("palette.png", 5, 40)) << "indexed images scale too";
    EXPECT_EQ(loader.pixels.size(), 5u * 40 * 3);
    ASSERT_TRUE(Load("panorama.png"));
    EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(7680u, 480u));
    for (auto [w, h] : {std::pair{7681u, 100u}, {100u, 4321u}}) {
        EXPECT_FALSE(Load("quadrants.bmp", w, h)) << "beyond the largest camera frame";
        ExpectEmpty();
    }
}

TEST_F(ImageLoaderContract, BadFilesFailAndLeaveTheLoaderEmpty)
{
    const std::string png = test_media::ReadFile(test_media::Made("large.png"));
    ASSERT_GT(png.size(), 1000u);
    const std::filesystem::path bad[] = {
        test_media::WriteFile("truncated.png", png.substr(0, png.size() / 2)),
        test_media::WriteFile("header-only.png", png.substr(0, 40)),
        test_media::WriteFile("empty.png", ""),
        test_media::WriteFile("text.jpg", "not a picture\n"),
        test_media::WriteFile("garbage.jpg", std::string("\xff\xd8\xff\xe0 garbage", 13)),
        test_media::Made("quadrants.mp4"),
        test_media::Dir() / "missing.png",
        test_media::Dir(),
        {},
    };
    for (const auto &path : bad) {
        ASSERT_TRUE(Load("quadrants.bmp"));
        EXPECT_FALSE(loader.LoadImageW(path)) << path;
        ExpectEmpty();
    }
    ASSERT_TRUE(Load("quadrants.bmp")) << "a failure leaves the loader usable";
}

TEST(ImageLoader, LoadsOnlyAfterInitializeAndReleaseEmpties)
{
    ImageLoader loader;
    EXPECT_FALSE(loader.LoadImageW(test_media::Made("quadrants.bmp")));
    ASSERT_TRUE(loader.Initialize());
    void *const factory = loader.factory;
    ASSERT_TRUE(loader.Initialize());
    EXPECT_EQ(loader.factory, factory) << "the backend is prepared once";
    ASSERT_TRUE(loader.LoadImageW(test_media::Made("quadrants.bmp")));
    loader.Release();
    EXPECT_TRUE(loader.pixels.empty() && loader.width + loader.height == 0);
    EXPECT_TRUE(loader.LoadImageW(test_media::Made("quadrants.bmp"))) << "still prepared";
}
