// The Media Foundation decoder on real files: the four rectangles for one
// second, then yellow for one second (see support/make_windows_media.sh).
#include "video_decoder.h"

#include "frame_sender.h"
#include "recording_camera_control.h"
#include "reference_frame.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

struct Bgr {
    int b, g, r;
};
constexpr Bgr kRed{0, 0, 255}, kLime{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kYellow{0, 255, 255};

// Lossy codecs and YUV round trips shift colours a little.
::testing::AssertionResult colourNear(const std::vector<uint8_t> &frame, uint32_t width, uint32_t x, uint32_t y,
                                      Bgr expected)
{
    const size_t i = (size_t(y) * width + x) * 3;
    const Bgr got{frame[i], frame[i + 1], frame[i + 2]};
    if (std::abs(got.b - expected.b) <= 24 && std::abs(got.g - expected.g) <= 24 && std::abs(got.r - expected.r) <= 24)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is BGR " << got.b << "," << got.g
                                         << "," << got.r << ", expected " << expected.b << "," << expected.g << ","
                                         << expected.r;
}

void expectQuadrants(const std::vector<uint8_t> &frame)
{
    ASSERT_EQ(frame.size(), 320u * 240 * 3);
    EXPECT_TRUE(colourNear(frame, 320, 0, 0, kRed)) << "first pixel";
    EXPECT_TRUE(colourNear(frame, 320, 80, 60, kRed));
    EXPECT_TRUE(colourNear(frame, 320, 240, 60, kLime)) << "rows must not be mirrored";
    EXPECT_TRUE(colourNear(frame, 320, 80, 180, kBlue)) << "rows must come top down";
    EXPECT_TRUE(colourNear(frame, 320, 240, 180, kWhite));
    EXPECT_TRUE(colourNear(frame, 320, 319, 239, kWhite)) << "last pixel";
}

void expectYellow(const std::vector<uint8_t> &frame)
{
    ASSERT_EQ(frame.size(), 320u * 240 * 3);
    EXPECT_TRUE(colourNear(frame, 320, 0, 0, kYellow));
    EXPECT_TRUE(colourNear(frame, 320, 319, 239, kYellow));
}

// Wine exports its version from ntdll; Windows does not.
bool runningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class VideoDecoderFiles : public ::testing::TestWithParam<const char *> {};

} // namespace

TEST_P(VideoDecoderFiles, ReadsSeeksEndsAndRewinds)
{
    const auto path = test_media::Generate(GetParam(), "");
    ASSERT_FALSE(path.empty()) << GetParam() << " was not made at build time";
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Open(path));
    EXPECT_TRUE(decoder.IsOpen());
    EXPECT_EQ(decoder.width, 320u);
    EXPECT_EQ(decoder.height, 240u);
    EXPECT_NE(decoder.stride, 0);
    EXPECT_NEAR(decoder.duration, 2.0, 0.1);
    EXPECT_EQ(decoder.position, 0.0);

    std::vector<uint8_t> frame;
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectQuadrants(frame);
    EXPECT_LT(decoder.position, 0.1) << "at most a few frames of decoder delay";
    const uint8_t *storage = frame.data();
    ASSERT_TRUE(decoder.ReadFrame(frame));
    EXPECT_EQ(frame.data(), storage) << "the caller's buffer is reused";
    EXPECT_GT(decoder.position, 0.0);

    // Into the yellow second; the position takes the target at once.
    decoder.SeekTo(1.5);
    EXPECT_EQ(decoder.position, 1.5);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectYellow(frame);
    EXPECT_GE(decoder.position, 0.95);
    EXPECT_LE(decoder.position, 1.6);

    // To the end: every frame yellow, then false with the frame untouched.
    int frames = 0;
    double last = decoder.position;
    while (decoder.ReadFrame(frame)) {
        ASSERT_LT(++frames, 200) << "never reached the end";
        EXPECT_GE(decoder.position, last);
        last = decoder.position;
    }
    EXPECT_GT(frames, 10);
    expectYellow(frame);
    EXPECT_FALSE(decoder.ReadFrame(frame)) << "the end stays the end";

    decoder.SeekToStart();
    EXPECT_EQ(decoder.position, 0.0);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectQuadrants(frame);
    EXPECT_LT(decoder.position, 0.1) << "at most a few frames of decoder delay";

    decoder.Close();
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_EQ(decoder.width, 0u);
    EXPECT_EQ(decoder.duration, 0.0);
    EXPECT_FALSE(decoder.ReadFrame(frame));
    decoder.SeekTo(1.0); // closed: nothing happens
    EXPECT_EQ(decoder.position, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoDecoderFiles,
                         ::testing::Values("quadrants.mp4", "quadrants.avi", "quadrants.wmv"),
                         [](const auto &info) {
                             std::string name = info.param;
                             return name.substr(name.find('.') + 1);
                         });

TEST(VideoDecoder, ReopeningReplacesTheFile)
{
    const auto mp4 = test_media::Generate("quadrants.mp4", ""), wmv = test_media::Generate("quadrants.wmv", "");
    ASSERT_FALSE(mp4.empty());
    ASSERT_FALSE(wmv.empty());
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Open(mp4));
    std::vector<uint8_t> frame;
    decoder.SeekTo(1.5);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    ASSERT_TRUE(decoder.Open(wmv));
    EXPECT_EQ(decoder.position, 0.0);
    ASSERT_TRUE(decoder.ReadFrame(frame));
    expectQuadrants(frame);
}

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
        EXPECT_EQ(decoder.height, 0u);
        EXPECT_EQ(decoder.duration, 0.0);
        EXPECT_FALSE(decoder.ReadFrame(frame));
        EXPECT_EQ(frame, std::vector<uint8_t>(6, 7));
    }
}

TEST(VideoDecoder, TruncatedFileEndsEarlyWithoutCrashing)
{
    if (runningUnderWine())
        GTEST_SKIP() << "Wine's GStreamer-based media source now and then hangs opening a cut-off MP4";
    std::ifstream in(test_media::Generate("quadrants.mp4", ""), std::ios::binary);
    const std::string mp4((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    VideoDecoder decoder;
    if (!decoder.Open(test_media::WriteFile("half.mp4", mp4.substr(0, mp4.size() / 2))))
        return; // refusing it outright is just as good
    std::vector<uint8_t> frame;
    int frames = 0;
    while (decoder.ReadFrame(frame))
        ASSERT_LT(++frames, 200);
    EXPECT_LT(frames, 60);
}

// The worker thread reads the decoder without initialising COM itself, and
// the owner seeks it meanwhile.
TEST(VideoDecoder, StreamsThroughTheFrameSenderFittedAndMirrored)
{
    RecordingCamera camera;
    ASSERT_TRUE(camera.ok()) << "test camera library missing beside the test";
    camera.reset();
    const auto path = test_media::Generate("quadrants.mp4", "");
    std::vector<uint8_t> first;
    {
        VideoDecoder reference;
        ASSERT_TRUE(reference.Open(path));
        ASSERT_TRUE(reference.ReadFrame(first));
    }

    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Open(path));
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(160, 160, 30.0f));
    camera.captureFrames(1); // paced: the worker stays near the frame last sent
    std::atomic<int> finished{0};
    sender.onFinished = [&] { ++finished; };
    sender.StartVideo(&decoder, false);
    ASSERT_TRUE(camera.waitForFrames(5));
    sender.SeekTo(1.5);
    for (int i = 0; i < 500 && sender.running; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(sender.running) << "a video without loop ends by itself";
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(camera.frame(0), reference_frame::CameraFrame(first.data(), 320, 240, 160, 160, false));
    EXPECT_GT(camera.frameCount(), 10);
    EXPECT_LT(camera.frameCount(), 45) << "the seek skipped most of the video";
    sender.Stop();
}
