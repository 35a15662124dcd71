// The COM registration entry points of the test camera library: regsvr32
// calls them, and they write or remove the camera filter's class key the way
// the real library's do, so registration can be tested end to end.
#include <windows.h>
#include <olectl.h>

#include <string>

namespace {

constexpr wchar_t kClassKey[] = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}";

std::wstring modulePath()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&modulePath), &self);
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, buffer, MAX_PATH);
    return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

LSTATUS setDefaultValue(HKEY key, const std::wstring &text)
{
    return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          DWORD((text.size() + 1) * sizeof(wchar_t)));
}

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    const std::wstring server = std::wstring(kClassKey) + L"\\InprocServer32";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    const LSTATUS written = setDefaultValue(key, modulePath());
    RegCloseKey(key);
    return written == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
