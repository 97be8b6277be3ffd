#include "com_error.h"

#include <string>

namespace comkit {

std::wstring describe(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n != 0 && buffer) {
        text.assign(buffer, n);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
            text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    if (text.empty()) {
        wchar_t code[32];
        wsprintfW(code, L"Error 0x%08lX.", static_cast<unsigned long>(hr));
        text = code;
    }
    return text;
}

namespace {

void record(std::wstring_view description, const wchar_t* source, const IID& iid) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return;
    const std::wstring desc(description);
    create->SetDescription(const_cast<wchar_t*>(desc.c_str()));
    if (source) create->SetSource(const_cast<wchar_t*>(source));
    create->SetGUID(iid);
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

// Takes the thread's error object, if there is one, and returns its text.
std::wstring takeDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    Bstr desc;
    info->GetDescription(desc.put());
    return std::wstring(desc.view());
}

}  // namespace

HRESULT fail(HRESULT hr, std::wstring_view description) {
    record(description, nullptr, GUID_NULL);
    return hr;
}

HRESULT failWin32(DWORD error, std::wstring_view what) {
    const HRESULT hr = HRESULT_FROM_WIN32(error);
    return fail(hr, std::wstring(what) + L": " + describe(hr));
}

HRESULT passOn(HRESULT hr) {
    std::wstring desc = takeDescription();
    record(desc.empty() ? describe(hr) : desc, nullptr, GUID_NULL);
    return hr;
}

HRESULT CallScope::done(HRESULT hr) const {
    if (FAILED(hr)) {
        std::wstring desc = takeDescription();
        record(desc.empty() ? describe(hr) : desc, source_, iid_);
    } else {
        // A success must not leave a stale error behind for the caller to find.
        SetErrorInfo(0, nullptr);
    }
    return hr;
}

HRESULT copyOut(std::wstring_view text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out || text.empty() ? S_OK : fail(E_OUTOFMEMORY, L"Out of memory.");
}

HRESULT toText(const VARIANT& value, Bstr& text) {
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR);
    if (FAILED(hr)) return fail(hr, L"The value cannot be converted to text.");
    *text.put() = converted.bstrVal;  // ownership moves to text
    return S_OK;
}

}  // namespace comkit
