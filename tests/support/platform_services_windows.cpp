// Starts COM (single-threaded apartment, as on the app's user-interface
// thread) and Media Foundation around all tests of a program, the way the
// app's entry does around its event loop. Linked as a source file into each
// test program that needs it, so its registration is never dropped.
#include <gtest/gtest.h>

#include <mfapi.h>
#include <objbase.h>

namespace {

class PlatformServices : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL)));
    }
    void TearDown() override
    {
        MFShutdown();
        CoUninitialize();
    }
};

[[maybe_unused]] ::testing::Environment *const registered =
    ::testing::AddGlobalTestEnvironment(new PlatformServices);

} // namespace
