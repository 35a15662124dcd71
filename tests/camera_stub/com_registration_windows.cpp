// The test camera library's COM registration entry points: regsvr32 calls
// them to write or remove the camera filter's class key.
#include <windows.h>
#include <olectl.h>

static constexpr wchar_t kClassKey[] = L"CLSID\\{AEF3B972-5FA5-4647-9571-358EB472BC9E}";

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    constexpr wchar_t server[] = L"softcam.dll";
    const LSTATUS written = RegSetKeyValueW(HKEY_CLASSES_ROOT, kClassKey, nullptr, REG_SZ, server, sizeof(server));
    return written == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    const LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
