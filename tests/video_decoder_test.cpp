// The decoder contract, run against each backend on clips made at build time
// (support/make_test_media.sh); the backend's own cases are in video_decoder_<backend>_cases.cpp.
#include "test_media.h"
#include "video_decoder.h"

#include <gtest/gtest.h>

#include <array>

// Files the backend refuses besides the ones every backend refuses.
std::vector<std::filesystem::path> BackendBadFiles();

namespace {

using Frame = std::vector<uint8_t>;
// x, y, blue, green, red: red first, lime (rows not mirrored), blue (rows top down), white last.
using Pixels = std::vector<std::array<int, 5>>;
const Pixels kQuadrants = {{0, 0, 0, 0, 255}, {240, 60, 0, 255, 0}, {80, 180, 255, 0, 0}, {319, 239, 255, 255, 255}};
const Pixels kYellow = {{0, 0, 0, 255, 255}, {319, 239, 0, 255, 255}};

// Lossy codecs and YUV round trips shift colours a little.
void ExpectPixels(const uint8_t *frame, const Pixels &pixels)
{
    for (const auto &[x, y, b, g, r] : pixels) {
        const uint8_t *got = frame + (size_t(y) * 320 + size_t(x)) * 3;
        EXPECT_TRUE(std::abs(got[0] - b) <= 24 && std::abs(got[1] - g) <= 24 && std::abs(got[2] - r) <= 24)
            << "pixel (" << x << "," << y << ") is BGR " << int(got[0]) << "," << int(got[1]) << "," << int(got[2]);
    }
}

void ExpectRead(VideoDecoder &d, const Pixels &pixels)
{
    Frame frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    ASSERT_EQ(frame.size(), 320u * 240 * 3);
    ExpectPixels(frame.data(), pixels);
}

// Every size and time zero, reads fail leaving the buffer alone, nothing to seek.
void ExpectClosed(VideoDecoder &d)
{
    d.SeekTo(1.0);
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.width + d.height, 0u);
    EXPECT_EQ(d.duration + d.position, 0.0);
    Frame out(3, 7);
    EXPECT_FALSE(d.ReadFrame(out));
    EXPECT_EQ(out, Frame(3, 7));
}

class Clips : public ::testing::TestWithParam<const char *> { };

TEST_P(Clips, ReadSeekEndRewindReopenClose)
{
    VideoDecoder d;
    ExpectClosed(d);
    ASSERT_TRUE(d.Open(test_media::Made(GetParam())));
    EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(320u, 240u));
    EXPECT_NEAR(d.duration, 2.0, 0.1);
    ExpectRead(d, kQuadrants);
    EXPECT_LT(d.position, 0.1) << "at most a few frames of decoder delay";

    d.SeekTo(1.5);
    EXPECT_EQ(d.position, 1.5) << "the position takes the target at once";
    ExpectRead(d, kYellow);
    EXPECT_TRUE(d.position >= 0.95 && d.position <= 1.6) << d.position;

    Frame frame;
    int frames = 0;
    while (d.ReadFrame(frame))
        ASSERT_LT(++frames, 200) << "never reached the end";
    EXPECT_GT(frames, 10);
    EXPECT_FALSE(d.ReadFrame(frame)) << "the end stays the end";
    ExpectPixels(frame.data(), kYellow);

    d.SeekToStart();
    EXPECT_EQ(d.position, 0.0);
    ExpectRead(d, kQuadrants);

    // Another file replaces this one from its start; views are BGR24 unless YUV is asked for.
    ASSERT_TRUE(d.Open(test_media::Made("quadrants.mp4")));
    EXPECT_EQ(d.position, 0.0);
    FrameView view;
    ASSERT_TRUE(d.ReadFrame(view, false));
    EXPECT_EQ(view.format, FrameView::Format::Bgr24);
    ASSERT_EQ(std::make_pair(view.width, view.height), std::make_pair(320, 240));
    ExpectPixels(view.plane[0], kQuadrants);
    d.Close();
    ExpectClosed(d);
}

INSTANTIATE_TEST_SUITE_P(VideoDecoder, Clips, ::testing::Values("quadrants.mp4", "quadrants.avi", "quadrants.wmv"),
                         [](const auto &info) { return std::string(info.param).substr(10); });

TEST(VideoDecoder, BadFilesFailAndLeaveItClosed)
{
    std::vector<std::filesystem::path> bad = BackendBadFiles();
    bad.insert(bad.end(),
               {test_media::WriteFile("text.mp4", "This is not a video, only text with a video's name.\n"),
                test_media::WriteFile("empty.mp4", ""),
                test_media::WriteFile("noise.avi", "RIFF\x10\0\0\0AVI LIST" + std::string(300, '\x7f')),
                test_media::Dir() / "missing.mp4",
                test_media::Dir(),
                {}});
    for (const auto &path : bad) {
        VideoDecoder d;
        ASSERT_TRUE(d.Open(test_media::Made("quadrants.mp4")));
        ExpectRead(d, kQuadrants);
        EXPECT_FALSE(d.Open(path)) << path;
        ExpectClosed(d);
    }
}

} // namespace
