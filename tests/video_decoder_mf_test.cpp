// The Media Foundation decoder on real files: the four rectangles for one
// second, then yellow for one second (see support/make_windows_media.sh).
// Streaming through the frame sender's worker thread is in frame_sender_test.
#include "video_decoder.h"

#include "test_media.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

struct Pixel {
    uint32_t x, y;
    int b, g, r;
};
const std::vector<Pixel> kQuadrants = {
    {0, 0, 0, 0, 255},         // red, the first pixel
    {240, 60, 0, 255, 0},      // lime: rows not mirrored
    {80, 180, 255, 0, 0},      // blue: rows top down
    {319, 239, 255, 255, 255}, // white, the last pixel
};
const std::vector<Pixel> kYellow = {{0, 0, 0, 255, 255}, {319, 239, 0, 255, 255}};

// Lossy codecs and YUV round trips shift colours a little.
void expectPixels(const std::vector<uint8_t> &frame, const std::vector<Pixel> &pixels)
{
    ASSERT_EQ(frame.size(), 320u * 240 * 3);
    for (const Pixel &p : pixels) {
        const uint8_t *got = &frame[(size_t(p.y) * 320 + p.x) * 3];
        EXPECT_TRUE(std::abs(got[0] - p.b) <= 24 && std::abs(got[1] - p.g) <= 24 && std::abs(got[2] - p.r) <= 24)
            << "pixel (" << p.x << "," << p.y << ") is BGR " << int(got[0]) << "," << int(got[1]) << ","
            << int(got[2]) << ", expected " << p.b << "," << p.g << "," << p.r;
    }
}

std::filesystem::path media(const char *name)
{
    const auto path = test_media::Generate(name, "");
    EXPECT_FALSE(path.empty()) << name << " was not made at build time";
    return path;
}

class VideoDecoderFiles : public ::testing::TestWithParam<const char *> {};

} // namespace

TEST_P(VideoDecoderFiles, ReadsSeeksEndsAndRewinds)
{
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Open(media(GetParam())));
    EXPECT_EQ(decoder.width, 320u);
    EXPECT_EQ(decoder.height, 240u);
    EXPECT_NEAR(decoder.duration, 2.0, 0.1);

    std::vector<uint8_t> frame;
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectPixels(frame, kQuadrants);
    EXPECT_LT(decoder.position, 0.1) << "at most a few frames of decoder delay";

    // Into the yellow second; the position takes the target at once.
    decoder.SeekTo(1.5);
    EXPECT_EQ(decoder.position, 1.5);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectPixels(frame, kYellow);
    EXPECT_GE(decoder.position, 0.95);
    EXPECT_LE(decoder.position, 1.6);

    // To the end, then false with the frame untouched.
    int frames = 0;
    while (decoder.ReadFrame(frame))
        ASSERT_LT(++frames, 200) << "never reached the end";
    EXPECT_GT(frames, 10);
    expectPixels(frame, kYellow);
    EXPECT_FALSE(decoder.ReadFrame(frame)) << "the end stays the end";

    decoder.SeekToStart();
    EXPECT_EQ(decoder.position, 0.0);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectPixels(frame, kQuadrants);

    // Another file replaces this one from its start.
    ASSERT_TRUE(decoder.Open(media("quadrants.mp4")));
    EXPECT_EQ(decoder.position, 0.0);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectPixels(frame, kQuadrants);

    decoder.Close();
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_FALSE(decoder.ReadFrame(frame));
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoDecoderFiles,
                         ::testing::Values("quadrants.mp4", "quadrants.avi", "quadrants.wmv"),
                         [](const auto &info) {
                             std::string name = info.param;
                             return name.substr(name.find('.') + 1);
                         });

TEST(VideoDecoder, FilesThatAreNoVideoFailCleanly)
{
    const std::filesystem::path bad[] = {
        test_media::WriteFile("text.mp4", "This is not a video, only text with a video's name.\n"),
        test_media::WriteFile("empty.mp4", ""),
        test_media::WriteFile("noise.avi", "RIFF\x10\0\0\0AVI LIST" + std::string(300, '\x7f')),
        test_media::Dir() / "missing.mp4",
    };
    for (const auto &path : bad) {
        VideoDecoder decoder;
        std::vector<uint8_t> frame(6, 7);
        EXPECT_FALSE(decoder.Open(path)) << path.filename();
        EXPECT_FALSE(decoder.IsOpen());
        EXPECT_EQ(decoder.width, 0u);
        EXPECT_EQ(decoder.duration, 0.0);
        EXPECT_FALSE(decoder.ReadFrame(frame));
        EXPECT_EQ(frame, std::vector<uint8_t>(6, 7));
    }
}

// Refusing the file outright is just as good as ending early.
TEST(VideoDecoder, TruncatedFileEndsEarlyWithoutCrashing)
{
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine's GStreamer-based media source now and then hangs opening a cut-off MP4";
    std::ifstream in(media("quadrants.mp4"), std::ios::binary);
    const std::string mp4((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    VideoDecoder decoder;
    std::vector<uint8_t> frame;
    int frames = 0;
    if (decoder.Open(test_media::WriteFile("half.mp4", mp4.substr(0, mp4.size() / 2)))) {
        while (decoder.ReadFrame(frame))
            ASSERT_LT(++frames, 60);
    }
}
