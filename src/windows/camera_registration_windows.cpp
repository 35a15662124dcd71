#include "camera_registration.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace camera_registration {

namespace {

// softcam's DirectShow filter; the camera is registered while its class key
// exists.
constexpr const wchar_t *kFilterClassKey = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}";
constexpr DWORD kToolWaitMs = 10000;

// The softcam.dll beside the executable; unlike the frame sender, this
// looks nowhere else, so we never register some other copy.
std::wstring libraryPath()
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    const size_t slash = path.find_last_of(L'\\');
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return path + L"softcam.dll";
}

} // namespace

bool IsRegistered()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kFilterClassKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RunTool(bool unregister)
{
    const std::wstring library = libraryPath();
    if (GetFileAttributesW(library.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;

    // Quoted, so a folder with spaces stays one argument; /s keeps the tool
    // from showing message boxes.
    const std::wstring parameters = std::wstring(unregister ? L"/s /u " : L"/s ") + L"\"" + library + L"\"";
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = L"regsvr32";
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info) || info.hProcess == nullptr)
        return false;

    // A tool still running after the wait reports STILL_ACTIVE and so
    // counts as failed; it is left to finish on its own.
    WaitForSingleObject(info.hProcess, kToolWaitMs);
    DWORD exitCode = 1;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    return exitCode == 0;
}

// The test hooks serve the Linux backend's tests; Windows has nothing to
// redirect.
void SetSysfsRootForTesting(const std::filesystem::path &)
{
}
void SetHelperPathForTesting(const std::filesystem::path &)
{
}
void ResetForTesting()
{
}

} // namespace camera_registration
