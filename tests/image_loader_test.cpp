// The image-loader contract, run against each backend on pictures made at build time: four
// rectangles at 33 x 17, red top left (17 x 9), lime top right, blue bottom left, white bottom right.
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

} // namespace

// 99-byte rows show any padding. Alpha is dropped. Scaled (aspect not kept) only to two given values;
// too large: fitted; larger targets and bad files are refused, leaving the loader empty and usable.
TEST(ImageLoader, LoadsAsBgrScaledOnlyWhenAsked)
{
    ImageLoader loader;
    EXPECT_FALSE(loader.LoadImageW(Made("quadrants.bmp"))) << "not before Initialize";
    ASSERT_TRUE(loader.Initialize());
    void *const factory = loader.factory;
    ASSERT_TRUE(loader.Initialize());
    EXPECT_EQ(loader.factory, factory) << "the backend is prepared once";
    const std::string png = test_media::ReadFile(Made("large.png"));
    const std::filesystem::path unicode = test_media::Dir() / std::filesystem::u8path("bild-\u00fc\u00df.bmp");
    std::filesystem::copy_file(Made("quadrants.bmp"), unicode);
    const auto quadrants = Rectangles(33, 17);
    const struct {
        std::filesystem::path path;
        unsigned w, h, wantW, wantH; // wanted 0 x 0: refused
        std::vector<uint8_t> pixels; // empty: only the size is checked
        int worst = 0;               // largest difference of a byte
        double mean = 0;             // mean difference per byte
    } cases[] = {
        {Made("quadrants.bmp"), 0, 0, 33, 17, quadrants},
        {unicode, 0, 0, 33, 17, quadrants},
        {Made("palette.png"), 0, 0, 33, 17, quadrants},
        {Made("animated.gif"), 0, 0, 33, 17, quadrants}, // the first frame only
        {Made("alpha.png"), 0, 0, 33, 17, quadrants},    // 32 bits with half and fully transparent rectangles
        {Made("mono.bmp"), 0, 0, 33, 17, Rectangles(33, 17, kBlack, kWhite, kWhite, kBlack)},
        {Made("quadrants.jpg"), 0, 0, 33, 17, quadrants, 80, 255}, // edges may ring, colours not swap
        {Made("quadrants.bmp"), 0, 17, 33, 17, quadrants},
        {Made("quadrants.bmp"), 33, 0, 33, 17, quadrants},
        {Made("quadrants.bmp"), 33, 17, 33, 17, quadrants},
        {Made("large.png"), 320, 240, 320, 240, Rectangles(320, 240), 255, 3}, // blurred along the middle lines
        {Made("quadrants.bmp"), 66, 10, 66, 10, {}},
        {Made("palette.png"), 5, 40, 5, 40, {}},
        {Made("panorama.png"), 0, 0, 7680, 480, {}},
        {Made("quadrants.bmp"), 7681, 100, 0, 0, {}},
        {Made("quadrants.bmp"), 100, 4321, 0, 0, {}},
        {Made("quadrants.bmp"), 0, 0, 33, 17, quadrants},
        {test_media::WriteFile("truncated.png", png.substr(0, png.size() / 2)), 0, 0, 0, 0, {}},
        {test_media::WriteFile("empty.png", ""), 0, 0, 0, 0, {}},
        {test_media::WriteFile("text.jpg", "not a picture\n"), 0, 0, 0, 0, {}},
        {Made("quadrants.mp4"), 0, 0, 0, 0, {}},
        {test_media::Dir() / "missing.png", 0, 0, 0, 0, {}},
        {test_media::Dir(), 0, 0, 0, 0, {}},
        {{}, 0, 0, 0, 0, {}},
        {Made("quadrants.bmp"), 0, 0, 33, 17, quadrants},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases)); // names beyond ASCII may not print
        EXPECT_EQ(loader.LoadImageW(c.path, c.w, c.h), c.wantW > 0);
        EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(c.wantW, c.wantH));
        ASSERT_EQ(loader.pixels.size(), size_t(c.wantW) * c.wantH * 3);
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < c.pixels.size(); ++i) {
            const int difference = std::abs(int(loader.pixels[i]) - int(c.pixels[i]));
            worst = std::max(worst, difference);
            total += difference;
        }
        EXPECT_LE(worst, c.worst);
        EXPECT_LE(total / double(loader.pixels.size() + 1), c.mean);
    }
}
