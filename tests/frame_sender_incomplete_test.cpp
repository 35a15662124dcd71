// Runs beside a camera library that lacks scSendFrame.
#include "frame_sender.h"

#include <gtest/gtest.h>

TEST(CameraLibraryBinding, LibraryWithoutSendFrameIsRefusedWhole)
{
    FrameSender sender;
    EXPECT_FALSE(sender.LoadDll());
    EXPECT_FALSE(sender.InitCamera(640, 480, 30.0f));
    EXPECT_EQ(sender.dll, nullptr);
    EXPECT_EQ(sender.createCameraFn, nullptr);
    EXPECT_EQ(sender.deleteCameraFn, nullptr);
    EXPECT_EQ(sender.sendFrameFn, nullptr);
    EXPECT_EQ(sender.waitForConnectionFn, nullptr);
    EXPECT_EQ(sender.isConnectedFn, nullptr);
    EXPECT_EQ(sender.camera, nullptr);
    EXPECT_FALSE(sender.IsConnected());

    // Nothing to stream into: a start must not hang or crash.
    const unsigned char pixel[3] = {};
    sender.StartImage(pixel, 1, 1);
    sender.Stop();
    EXPECT_FALSE(sender.running);
}
