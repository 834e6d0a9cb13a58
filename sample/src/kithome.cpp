// DLL custom action of the sample kit package. A formatted directory property
// always ends with a backslash; the kit home is recorded without one, so this
// copies INSTALLDIR into the private property KitHomeValue minus the trailing
// separator ("C:\" keeps its own).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

extern "C" __declspec(dllexport) UINT __stdcall SetKitHomeValue(MSIHANDLE install) {
    DWORD len = 0;
    wchar_t empty[1] = L"";
    UINT r = MsiGetPropertyW(install, L"INSTALLDIR", empty, &len);
    if (r != ERROR_MORE_DATA && r != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
    std::wstring dir(len + 1, L'\0');
    len = static_cast<DWORD>(dir.size());
    if (MsiGetPropertyW(install, L"INSTALLDIR", &dir[0], &len) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    dir.resize(len);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    return MsiSetPropertyW(install, L"KitHomeValue", dir.c_str()) == ERROR_SUCCESS
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}
