// regsvr32 started elevated on the test camera library beside this program,
// from a folder with a space in its name (so the path must reach the tool
// quoted), and from a folder without the library, where nothing may start.
#include "camera_library.h"
#include "camera_registration.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(CameraRegistration, RegistersAndUnregistersThroughTheTool)
{
    constexpr wchar_t kClassKey[] = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey); // a run that failed half way may have left it
    const auto dir = camera_library::ExecutableDir();
    const bool beside = std::filesystem::exists(dir / camera_library::FileName());
    ASSERT_EQ(beside, dir.filename() != "nolib");
    EXPECT_FALSE(camera_registration::IsRegistered());
    // Registering twice is harmless.
    for (const bool unregister : {false, false, true}) {
        EXPECT_EQ(camera_registration::RunTool(unregister), beside);
        EXPECT_EQ(camera_registration::IsRegistered(), beside && !unregister);
    }
    // A key written by anyone counts.
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, kClassKey, nullptr, REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
    EXPECT_TRUE(camera_registration::IsRegistered());
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey), ERROR_SUCCESS);
    EXPECT_FALSE(camera_registration::IsRegistered());
}
