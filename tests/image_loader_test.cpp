// The image-loader contract, run against the platform's backend on pictures
// made at build time (support/make_test_media.sh): four rectangles at
// 33 x 17, red top left (17 x 9), lime top right, blue bottom left, white
// bottom right. The backend's own cases are in image_loader_<backend>_cases.cpp.
#include "image_loader.h"
#include "test_media.h"

#include <gtest/gtest.h>

using test_media::Made;

namespace {

struct Bgr {
    uint8_t b, g, r;
};
constexpr Bgr kRed{0, 0, 255}, kLime{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

std::vector<uint8_t> Rectangles(uint32_t w, uint32_t h, Bgr tl = kRed, Bgr tr = kLime, Bgr bl = kBlue, Bgr br = kWhite)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const Bgr c = y < (h + 1) / 2 ? (x < (w + 1) / 2 ? tl : tr) : (x < (w + 1) / 2 ? bl : br);
            out.insert(out.end(), {c.b, c.g, c.r});
        }
    return out;
}

class ImageLoaderContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loader.Initialize()); }
    bool Load(const char *name, unsigned w = 0, unsigned h = 0) { return loader.LoadImageW(Made(name), w, h); }
    void ExpectEmpty() const { EXPECT_TRUE(loader.pixels.empty() && loader.width + loader.height == 0); }

    ImageLoader loader;
};

} // namespace

// Odd widths: 99-byte rows, so any row padding would show. Alpha is dropped,
// not blended; JPEG edges may ring, but its colours may not swap.
TEST_F(ImageLoaderContract, FormatsArriveAsBgr)
{
    const std::filesystem::path unicode = test_media::Dir() / std::filesystem::u8path("bild-\u00fc\u00df.bmp");
    std::filesystem::copy_file(Made("quadrants.bmp"), unicode);
    const struct {
        std::filesystem::path path;
        std::vector<uint8_t> pixels;
        int tolerance;
    } cases[] = {
        {Made("quadrants.bmp"), Rectangles(33, 17), 0},
        {unicode, Rectangles(33, 17), 0},
        {Made("palette.png"), Rectangles(33, 17), 0},
        {Made("animated.gif"), Rectangles(33, 17), 0}, // the first frame only
        {Made("alpha.png"), Rectangles(33, 17), 0},    // 32 bits with half and fully transparent rectangles
        {Made("mono.bmp"), Rectangles(33, 17, kBlack, kWhite, kWhite, kBlack), 0},
        {Made("quadrants.jpg"), Rectangles(33, 17), 80},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(loader.LoadImageW(c.path)) << c.path;
        EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(33u, 17u)) << c.path;
        ASSERT_EQ(loader.pixels.size(), c.pixels.size()) << c.path;
        int worst = 0;
        for (size_t i = 0; i < c.pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(loader.pixels[i]) - int(c.pixels[i])));
        EXPECT_LE(worst, c.tolerance) << c.path;
    }
}

// Scaled, aspect ratio not kept, only when both target values are given and
// differ from the image's own size; larger than the largest camera frame at
// its own size: fitted into it; targets beyond that are refused.
TEST_F(ImageLoaderContract, ScalesToTheTargetOnlyWhenAsked)
{
    ASSERT_TRUE(Load("large.png", 320, 240));
    const auto expected = Rectangles(320, 240);
    ASSERT_EQ(loader.pixels.size(), expected.size());
    for (size_t i :
         {(60 * 320 + 80) * 3, (60 * 320 + 240) * 3, (180 * 320 + 80) * 3, (180 * 320 + 240) * 3, 0, 320 * 240 * 3 - 3})
        EXPECT_TRUE(std::equal(expected.begin() + i, expected.begin() + i + 3, loader.pixels.begin() + i)) << i / 3;
    const struct {
        const char *name;
        unsigned w, h, wantW, wantH; // 0 x 0: refused
    } cases[] = {
        {"quadrants.bmp", 0, 17, 33, 17},   {"quadrants.bmp", 33, 0, 33, 17},   {"quadrants.bmp", 33, 17, 33, 17},
        {"quadrants.bmp", 66, 10, 66, 10},  {"palette.png", 5, 40, 5, 40},      {"panorama.png", 0, 0, 7680, 480},
        {"quadrants.bmp", 7681, 100, 0, 0}, {"quadrants.bmp", 100, 4321, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Load(c.name, c.w, c.h), c.wantW > 0) << c.name << " to " << c.w << "x" << c.h;
        EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(c.wantW, c.wantH));
        EXPECT_EQ(loader.pixels.size(), size_t(c.wantW) * c.wantH * 3);
    }
    ASSERT_TRUE(Load("quadrants.bmp", 33, 17));
    EXPECT_EQ(loader.pixels, Rectangles(33, 17)) << "not scaled to its own size";
}

// A failure leaves the loader empty and usable; nothing loads before
// Initialize, which prepares the backend once.
TEST_F(ImageLoaderContract, BadFilesFailAndLeaveTheLoaderEmpty)
{
    const std::string png = test_media::ReadFile(Made("large.png"));
    ASSERT_GT(png.size(), 1000u);
    const std::filesystem::path bad[] = {
        test_media::WriteFile("truncated.png", png.substr(0, png.size() / 2)),
        test_media::WriteFile("header-only.png", png.substr(0, 40)),
        test_media::WriteFile("empty.png", ""),
        test_media::WriteFile("text.jpg", "not a picture\n"),
        test_media::WriteFile("garbage.jpg", std::string("\xff\xd8\xff\xe0 garbage", 13)),
        Made("quadrants.mp4"),
        test_media::Dir() / "missing.png",
        test_media::Dir(),
        {},
    };
    for (const auto &path : bad) {
        ASSERT_TRUE(Load("quadrants.bmp"));
        EXPECT_FALSE(loader.LoadImageW(path)) << path;
        ExpectEmpty();
    }
    ASSERT_TRUE(Load("quadrants.bmp"));
    void *const factory = loader.factory;
    ASSERT_TRUE(loader.Initialize());
    EXPECT_EQ(loader.factory, factory);
    ImageLoader fresh;
    EXPECT_FALSE(fresh.LoadImageW(Made("quadrants.bmp")));
}
