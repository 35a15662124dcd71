#include "camera_library.h"

#include <dlfcn.h>
#include <system_error>

namespace camera_library {

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
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
