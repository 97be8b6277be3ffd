#include "runtime_class.h"

#include "platform_text.h"

#include <shlobj.h>

#include <string>

namespace korvex {
namespace {

constexpr short kEnvironmentVariable = 2;

std::wstring environmentValue(const wchar_t* name) {
    return comkit::copiedText(
        [name](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(name, buffer, size); }, 256);
}

// The folder Windows programs keep per-user data in: where a machine that
// does not name a root puts wallets, rather than the root of a drive.
HRESULT localAppData(std::wstring& folder) {
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
    if (SUCCEEDED(hr)) folder = path;
    CoTaskMemFree(path);
    if (FAILED(hr)) return comkit::fail(hr, L"The local application data folder cannot be found.");
    return S_OK;
}

HRESULT environGet(short mode, BSTR name, BSTR* value) {
    if (mode != kEnvironmentVariable)
        return comkit::fail(E_INVALIDARG, L"EnvironGet supports mode 2 (an environment variable) only.");
    std::wstring text = environmentValue(name ? name : L"");
    if (text.empty()) CK_RETURN_IF_FAILED(localAppData(text));
    *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value ? S_OK : comkit::fail(E_OUTOFMEMORY, L"Out of memory.");
}

}  // namespace

STDMETHODIMP RunTime::EnvironGet(short mode, BSTR name, BSTR* value) {
    return call(kProgId, [&] {
        if (!value) return E_POINTER;
        *value = nullptr;
        return environGet(mode, name, value);
    });
}

}  // namespace korvex
