#include "frame_sender.h"
#include "recording_camera_control.h"
#include "reference_frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

class FrameSenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(camera.ok()) << "recording camera library missing beside the test";
        camera.reset();
    }

    // Waits until the sender's worker has sent `more` frames beyond now.
    bool sendMore(int more) { return camera.waitForFrames(camera.frameCount() + more); }

    RecordingCamera camera;
};

} // namespace

TEST_F(FrameSenderTest, CameraLifecycleFollowsTheLibrary)
{
    FrameSender sender;
    EXPECT_FALSE(sender.IsConnected()) << "no camera yet";
    ASSERT_TRUE(sender.InitCamera(320, 240, 30.0f));
    EXPECT_NE(sender.dll, nullptr);
    EXPECT_NE(sender.isConnectedFn, nullptr);
    EXPECT_EQ(sender.cameraWidth, 320);
    EXPECT_EQ(sender.cameraHeight, 240);
    EXPECT_TRUE(camera.cameraLive());

    EXPECT_FALSE(sender.IsConnected());
    camera.setConnected(true);
    EXPECT_TRUE(sender.IsConnected());

    // A new size replaces the camera: the old one is deleted first.
    ASSERT_TRUE(sender.InitCamera(640, 360, 30.0f));
    EXPECT_EQ(camera.deleteCalls(), 1);
    EXPECT_EQ(camera.createCalls(), 2);

    sender.ShutdownCamera();
    EXPECT_FALSE(camera.cameraLive());
    EXPECT_EQ(sender.camera, nullptr);
    EXPECT_FALSE(sender.IsConnected());
    EXPECT_EQ(sender.cameraWidth, 640) << "size survives the shutdown";
}

TEST_F(FrameSenderTest, CameraCreationIsRetriedOnceThenGivenUp)
{
    FrameSender sender;
    camera.setCreateFailures(1);
    ASSERT_TRUE(sender.InitCamera(320, 240, 30.0f));
    EXPECT_EQ(camera.createCalls(), 2);

    camera.setCreateFailures(2);
    EXPECT_FALSE(sender.InitCamera(1280, 720, 30.0f));
    EXPECT_EQ(sender.camera, nullptr);
    EXPECT_EQ(sender.cameraWidth, 320) << "a failed init keeps the old size";
    EXPECT_FALSE(camera.cameraLive()) << "the previous camera is gone all the same";

    EXPECT_FALSE(sender.InitCamera(0, 240, 30.0f));
    EXPECT_FALSE(sender.InitCamera(65536, 32768, 30.0f)) << "frames of 2 GiB are refused";
}

TEST_F(FrameSenderTest, StillImageStreamsFittedAndMirrored)
{
    const int w = 160, h = 90;
    const auto image = reference_frame::Pattern(w, h);
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(96, 96, 30.0f));
    camera.setPacing(false);

    std::mutex seenMutex;
    std::vector<uint8_t> seen;
    int seenW = 0, seenH = 0;
    sender.onFrame = [&](const unsigned char *px, int fw, int fh) {
        std::lock_guard lock(seenMutex);
        seen.assign(px, px + size_t(fw) * fh * 3);
        seenW = fw;
        seenH = fh;
    };
    sender.position = 12.5;
    sender.StartImage(image.data(), w, h);
    ASSERT_TRUE(sender.running);
    ASSERT_TRUE(sendMore(5));

    EXPECT_EQ(camera.frame(), reference_frame::CameraFrame(image.data(), w, h, 96, 96, false));
    {
        std::lock_guard lock(seenMutex);
        EXPECT_EQ(seenW, w);
        EXPECT_EQ(seenH, h);
        EXPECT_EQ(seen, image) << "the preview gets the unmirrored source";
    }
    EXPECT_EQ(sender.position.load(), 12.5) << "a still image leaves the position alone";

    // Stretch takes effect on the next frame.
    sender.stretch = true;
    ASSERT_TRUE(sendMore(3));
    EXPECT_EQ(camera.frame(), reference_frame::CameraFrame(image.data(), w, h, 96, 96, true));
    sender.Stop();
}

TEST_F(FrameSenderTest, PacedStreamIsMeasuredAtThirtyFramesPerSecond)
{
    const auto image = reference_frame::Pattern(64, 48);
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(64, 48, 30.0f));
    sender.StartImage(image.data(), 64, 48);
    ASSERT_TRUE(camera.waitForFrames(75, 10000)); // 2.5 s of frames: two measuring windows
    const double fps = sender.currentFps;
    EXPECT_GT(fps, 27.0);
    EXPECT_LT(fps, 33.0);
    sender.Stop();
    EXPECT_EQ(sender.currentFps.load(), 0.0);
}

TEST_F(FrameSenderTest, PauseHoldsFramesUntilResume)
{
    const auto image = reference_frame::Pattern(64, 48);
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(64, 48, 30.0f));
    camera.setPacing(false);

    sender.Pause(); // not running: nothing happens
    sender.Resume();
    EXPECT_FALSE(sender.paused);

    sender.StartImage(image.data(), 64, 48);
    ASSERT_TRUE(sendMore(10));
    sender.Pause();
    EXPECT_TRUE(sender.paused);
    EXPECT_TRUE(sender.running);
    std::this_thread::sleep_for(50ms); // the one frame in flight may still land
    const int64_t held = camera.frameCount();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(camera.frameCount(), held) << "a paused worker sends nothing";

    sender.Resume();
    EXPECT_FALSE(sender.paused);
    EXPECT_TRUE(sendMore(10));
    sender.Stop();
}

TEST_F(FrameSenderTest, StopNeverReportsAFinishedStream)
{
    const auto image = reference_frame::Pattern(64, 48);
    FrameSender sender;
    std::atomic<int> finished{0};
    sender.onFinished = [&] { ++finished; };
    ASSERT_TRUE(sender.InitCamera(64, 48, 30.0f));

    // Stop while paused wakes the worker and ends it.
    sender.StartImage(image.data(), 64, 48);
    ASSERT_TRUE(sendMore(2));
    sender.Pause();
    sender.Stop();
    EXPECT_FALSE(sender.running);
    EXPECT_FALSE(sender.paused);

    // Stop while streaming, repeatedly and back to back with starts.
    camera.setPacing(false);
    for (int i = 0; i < 50; ++i) {
        sender.StartImage(image.data(), 64, 48);
        if (i % 2) {
            ASSERT_TRUE(sendMore(1));
        }
        sender.Stop();
    }
    sender.Stop(); // a second stop changes nothing
    EXPECT_EQ(finished, 0);
    const int64_t after = camera.frameCount();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(camera.frameCount(), after) << "no worker survives Stop";
}

TEST_F(FrameSenderTest, OversizedOrEmptyImagesAreRefused)
{
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(64, 48, 30.0f));
    const uint8_t pixel[3] = {1, 2, 3};
    sender.StartImage(pixel, 40000, 20000); // 2.4 GB: never read
    EXPECT_FALSE(sender.running);
    sender.StartImage(pixel, 0, 1);
    EXPECT_FALSE(sender.running);
    EXPECT_TRUE(sender.imageData.empty());

    sender.StartImage(pixel, 1, 1);
    EXPECT_TRUE(sender.running);
    ASSERT_TRUE(sendMore(1));
    EXPECT_EQ(camera.frame(), reference_frame::CameraFrame(pixel, 1, 1, 64, 48, false));
}

TEST_F(FrameSenderTest, WorkerThatOverrunsStopNeverRunsBesideTheNextOne)
{
    // A send that blocks past Stop's 5 s wait: Stop gives up and resets the
    // state, but the next start waits for the old worker to end first.
    const auto image = reference_frame::Pattern(64, 48);
    FrameSender sender;
    ASSERT_TRUE(sender.InitCamera(64, 48, 30.0f));
    camera.setPacing(false);
    std::atomic<int> inside{0}, overlap{0};
    sender.onFrame = [&](const unsigned char *, int, int) {
        if (++inside > 1)
            ++overlap;
        std::this_thread::sleep_for(1ms);
        --inside;
    };
    camera.setSendDelayMs(5600);
    sender.StartImage(image.data(), 64, 48);
    ASSERT_TRUE(sendMore(1));
    sender.Stop();
    EXPECT_FALSE(sender.running);
    camera.setSendDelayMs(0);

    sender.StartImage(image.data(), 64, 48);
    ASSERT_TRUE(sendMore(20));
    sender.Stop();
    EXPECT_EQ(overlap, 0);
}
