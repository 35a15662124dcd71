#include "camera_library.h"

#include <dlfcn.h>
#include <system_error>

// Set by the build: the package's private folder for the camera library.
#ifndef VIDLOOM_CAMERA_LIBRARY_DIR
#define VIDLOOM_CAMERA_LIBRARY_DIR "/usr/lib/x86_64-linux-gnu/vidloom"
#endif

namespace camera_library {

namespace {
std::filesystem::path installedDir = VIDLOOM_CAMERA_LIBRARY_DIR;
}

const char *FileName()
{
    return "libvidloomcam.so";
}

std::filesystem::path ExecutableDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

void *Open(const std::filesystem::path &path)
{
    // RTLD_LOCAL keeps the library's symbols out of the global namespace, so
    // a test library and the real one never resolve into each other.
    // A bare name means "the installed one": the package keeps it in a
    // private folder that the loader does not search by itself.
    if (!path.has_parent_path() && !installedDir.empty()) {
        if (void *installed = dlopen((installedDir / path).c_str(), RTLD_NOW | RTLD_LOCAL))
            return installed;
    }
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void SetInstalledDirForTesting(const std::filesystem::path &dir)
{
    installedDir = dir;
}

void *Symbol(void *library, const char *name)
{
    return dlsym(library, name);
}

void Close(void *library)
{
    dlclose(library);
}

} // namespace camera_library
