#pragma once

#include <filesystem>

// The platform's shared-library loader, as FrameSender needs it: the camera
// library is looked for beside the executable first, then by bare name
// (on Linux: the package's private folder first, then the loader's search).
namespace camera_library {

// "softcam.dll" on Windows, "libvidloomcam.so" elsewhere.
const char *FileName();
// Directory of the running executable; empty if it cannot be told.
std::filesystem::path ExecutableDir();
void *Open(const std::filesystem::path &path);
void *Symbol(void *library, const char *name);
void Close(void *library);
#ifndef _WIN32
// For tests: the package's folder looked in for the bare name; empty means
// none, so a test does not depend on what the machine has installed.
void SetInstalledDirForTesting(const std::filesystem::path &dir);
#endif

} // namespace camera_library
