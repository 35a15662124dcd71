// The COM registration entry points of the test camera library: regsvr32
// calls them, and they write or remove the camera filter's class key, so
// registration can be tested end to end.
#include <windows.h>
#include <olectl.h>

namespace {

constexpr wchar_t kClassKey[] = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}";
constexpr wchar_t kServerKey[] = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}\\InprocServer32";
constexpr wchar_t kServer[] = L"softcam.dll";

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    const LSTATUS written = RegSetKeyValueW(HKEY_CLASSES_ROOT, kServerKey, nullptr, REG_SZ, kServer, sizeof(kServer));
    return written == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
