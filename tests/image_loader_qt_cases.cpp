// The Qt backend's own cases: formats Qt reads but the window does not offer, enormous pictures
// and EXIF orientation.
#include "image_loader.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

// Refused before the memory is taken (from the header or the allocation limit); JPEGs scale.
TEST(ImageLoaderQt, RefusesOtherFormatsAndEnormousClaimsTurnsPhotosUpright)
{
    ImageLoader loader;
    ASSERT_TRUE(loader.Initialize());
    const auto fifo = test_media::Dir() / "fifo.png"; // opening it would wait for a writer
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path bad[] = {
        test_media::Generate("readable.tif", "-f lavfi -i color=red:s=8x8 -frames:v 1"), // Qt reads it; not offered
        test_media::WriteFile("bomb.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='16000' height='16000'/>"),
        // Beyond the largest frame's pixels, and not a JPEG, which could scale.
        test_media::Generate("bomb.png", "-f lavfi -i color=c=red:s=8000x4500 -pix_fmt rgb24 -frames:v 1"),
        fifo,
        "/dev/zero",
    };
    for (const auto &path : bad) {
        EXPECT_FALSE(loader.LoadImageW(path)) << path;
        EXPECT_TRUE(loader.pixels.empty() && loader.width + loader.height == 0);
    }
    ASSERT_TRUE(loader.LoadImageW(
        test_media::Generate("bomb.jpg", "-f lavfi -i color=red:s=15360x8640 -pix_fmt yuvj420p -frames:v 1")));
    EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(7680u, 4320u));

    // Stored landscape, left red, right blue, with EXIF orientation 6 (turn clockwise): red on top.
    std::string jpeg = test_media::ReadFile(test_media::Generate(
        "plain.jpg", "-f lavfi -i color=red:s=64x32,drawbox=x=32:c=blue:t=fill -q:v 2 -frames:v 1"));
    const std::string exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    jpeg.insert(2, std::string("\xff\xe1\0", 3) + char(exif.size() + 2) + exif);
    ASSERT_TRUE(loader.LoadImageW(test_media::WriteFile("rotated.jpg", jpeg)));
    ASSERT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(32u, 64u));
    const uint8_t *top = &loader.pixels[(8 * 32 + 16) * 3], *bottom = &loader.pixels[(56 * 32 + 16) * 3];
    EXPECT_TRUE(top[2] > 200 && bottom[0] > 200) << "red " << int(top[2]) << ", blue " << int(bottom[0]);
}
