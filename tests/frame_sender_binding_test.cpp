// Beside a camera library without scSendFrame, or none: it is refused whole, and a stream neither hangs nor crashes.
#include "camera_library.h"
#include "frame_sender.h"

#include <gtest/gtest.h>

TEST(CameraLibraryBinding, MissingOrIncompleteLibraryIsRefusedWhole)
{
    const auto dir = camera_library::ExecutableDir();
    void *beside = camera_library::Open(dir / camera_library::FileName());
    ASSERT_EQ(beside != nullptr, dir.filename() == "incomplete") << "the wrong library beside " << dir;
    if (beside)
        camera_library::Close(beside);
    else if (void *installed = camera_library::Open(camera_library::FileName())) {
        camera_library::Close(installed);
        GTEST_SKIP() << "a camera library is installed system-wide";
    }
    FrameSender sender;
    EXPECT_FALSE(sender.InitCamera(640, 480, 30.0f));
    EXPECT_FALSE(sender.LoadDll());
    EXPECT_TRUE(!sender.dll && !sender.camera && !sender.createCameraFn && !sender.deleteCameraFn
                && !sender.isConnectedFn && !sender.waitForConnectionFn && !sender.IsConnected());
    const unsigned char pixel[3] = {};
    sender.StartImage(pixel, 1, 1);
    sender.Stop();
    sender.ShutdownCamera();
}
