// cardkeep-register: registers or unregisters the three DLLs beside it, for
// the machine (as regsvr32 does) or, with /user, for the current user only,
// which needs no administrator rights.
//
//   cardkeep-register [/u] [/user]
//
// Per-user registration redirects the classes root to the user's own
// classes key while each DLL registers itself, so the DLLs need no export
// beyond the standard four.
#include "com_error.h"
#include "identity.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

// In identity.env's order, companions first: the wallet's objects create them.
const wchar_t* const kDlls[] = {CARDKEEP_DLLS_TEXTS};

std::wstring folderOfThisProgram() {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// The DLL's own description, when it recorded one, says more than the
// system's text for the code.
std::wstring describe(HRESULT hr) {
    const std::wstring own = comkit::takeErrorInfo().description;
    return own.empty() ? comkit::describe(hr) : own;
}

HRESULT runEntry(const std::wstring& path, bool unregister) {
    HMODULE dll = LoadLibraryW(path.c_str());
    if (!dll) return HRESULT_FROM_WIN32(GetLastError());
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    const HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(dll);
    return hr;
}

// While it lives, HKEY_CLASSES_ROOT of this process is the user's own
// classes key, and type libraries register per user.
class UserClassesRoot {
public:
    UserClassesRoot() {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            return;
        ok_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, key_) == ERROR_SUCCESS;
        // Type libraries then register under the redirected root too; older
        // systems lack the call and register them there anyway.
        using Enable = void(WINAPI*)();
        if (auto enable = reinterpret_cast<Enable>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "OaEnablePerUserTLibRegistration"))))
            enable();
    }
    ~UserClassesRoot() {
        if (ok_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (key_) RegCloseKey(key_);
    }
    UserClassesRoot(const UserClassesRoot&) = delete;
    UserClassesRoot& operator=(const UserClassesRoot&) = delete;
    bool ok() const { return ok_; }

private:
    HKEY key_ = nullptr;
    bool ok_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool unregister = false, perUser = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (_wcsicmp(arg.c_str(), L"/u") == 0) unregister = true;
        else if (_wcsicmp(arg.c_str(), L"/user") == 0) perUser = true;
        else {
            fwprintf(stderr, L"usage: cardkeep-register [/u] [/user]\n");
            return 2;
        }
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    {
        std::optional<UserClassesRoot> redirect;
        if (perUser) redirect.emplace();
        if (redirect && !redirect->ok()) {
            fwprintf(stderr, L"cardkeep-register: the user's classes key cannot be opened\n");
            return 1;
        }
        std::vector<const wchar_t*> order(std::begin(kDlls), std::end(kDlls));
        if (unregister) order.assign(std::rbegin(kDlls), std::rend(kDlls));
        const std::wstring folder = folderOfThisProgram();
        for (const wchar_t* dll : order) {
            const HRESULT hr = runEntry(folder + dll, unregister);
            if (FAILED(hr)) {
                ++failures;
                fwprintf(stderr, L"cardkeep-register: %ls: 0x%08lX %ls\n", dll, static_cast<unsigned long>(hr),
                         describe(hr).c_str());
            } else {
                wprintf(L"%ls %ls%ls\n", unregister ? L"unregistered" : L"registered", dll,
                        perUser ? L" for this user" : L"");
            }
        }
    }
    CoUninitialize();
    return failures ? 1 : 0;
}
