#include "camera_library.h"

#include <windows.h>

namespace camera_library {

const char *FileName()
{
    return "softcam.dll";
}

std::filesystem::path ExecutableDir()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring path(buffer, length);
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return {};
    return std::filesystem::path(path.substr(0, slash));
}

void *Open(const std::filesystem::path &path)
{
    return reinterpret_cast<void *>(LoadLibraryW(path.c_str()));
}

void *Symbol(void *library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(void *library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace camera_library
