// The entry of the Windows test programs that use COM (single-threaded, as
// on the user-interface thread) or Media Foundation, as the app's entry.
#include <gtest/gtest.h>

#include <mfapi.h>
#include <objbase.h>

#include <cstdio>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || FAILED(MFStartup(MF_VERSION, MFSTARTUP_FULL))) {
        std::fprintf(stderr, "COM or Media Foundation did not start\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    MFShutdown();
    CoUninitialize();
    return result;
}
