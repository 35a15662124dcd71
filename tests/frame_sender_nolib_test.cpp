// Runs from a folder with no camera library at all.
#include "camera_library.h"
#include "frame_sender.h"

#include <gtest/gtest.h>

TEST(CameraLibraryBinding, MissingLibraryFailsCleanly)
{
    if (void *installed = camera_library::Open(camera_library::FileName())) {
        camera_library::Close(installed);
        GTEST_SKIP() << "a camera library is installed system-wide";
    }
    FrameSender sender;
    EXPECT_FALSE(sender.InitCamera(640, 480, 30.0f));
    EXPECT_EQ(sender.dll, nullptr);
    EXPECT_EQ(sender.camera, nullptr);
    EXPECT_EQ(sender.cameraWidth, 640);
    sender.ShutdownCamera(); // harmless without a camera
}
