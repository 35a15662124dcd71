// Runs from a folder without the camera library.
#include "camera_registration.h"

#include <gtest/gtest.h>

TEST(CameraRegistrationWithoutLibrary, BothOperationsFailWithoutStartingTheTool)
{
    EXPECT_FALSE(camera_registration::RunTool(false));
    EXPECT_FALSE(camera_registration::IsRegistered()) << "nothing registered anything";
    EXPECT_FALSE(camera_registration::RunTool(true));
}
