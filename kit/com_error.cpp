#include "com_error.h"

#include <new>
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

ErrorText takeErrorInfo() {
    ErrorText text;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return text;
    Bstr source, description;
    if (SUCCEEDED(info->GetSource(source.put()))) text.source = source.view();
    if (SUCCEEDED(info->GetDescription(description.put()))) text.description = description.view();
    return text;
}

namespace {

// Records a description that is already a terminated string: allocates
// nothing of ours, so it serves where an allocation has just failed.
void recordText(const wchar_t* description, const wchar_t* source, const IID& iid) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetDescription(const_cast<wchar_t*>(description));
    if (source) create->SetSource(const_cast<wchar_t*>(source));
    create->SetGUID(iid);
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

void record(std::wstring_view description, const wchar_t* source, const IID& iid) {
    const std::wstring desc(description);
    recordText(desc.c_str(), source, iid);
}

constexpr wchar_t kOutOfMemory[] = L"Out of memory.";

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
    std::wstring desc = takeErrorInfo().description;
    record(desc.empty() ? describe(hr) : desc, nullptr, GUID_NULL);
    return hr;
}

HRESULT exceptionStatus() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        recordText(kOutOfMemory, nullptr, GUID_NULL);
        return E_OUTOFMEMORY;
    } catch (...) {
        recordText(L"An unexpected error occurred inside the component.", nullptr, GUID_NULL);
        return E_UNEXPECTED;
    }
}

HRESULT stamp(HRESULT hr, const EntryPoint& entry) noexcept {
    const IID& iid = entry.iid ? *entry.iid : GUID_NULL;
    if (SUCCEEDED(hr)) {
        // A success must not leave a stale error behind for the caller to find.
        SetErrorInfo(0, nullptr);
        return hr;
    }
    ComPtr<IErrorInfo> info;
    Bstr description;
    if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(description.put());
    if (description.length()) {
        recordText(description.get(), entry.source, iid);
        return hr;
    }
    try {
        recordText(describe(hr).c_str(), entry.source, iid);
    } catch (...) {
        recordText(kOutOfMemory, entry.source, iid);
    }
    return hr;
}

HRESULT copyOut(std::wstring_view text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out || text.empty() ? S_OK : fail(E_OUTOFMEMORY, kOutOfMemory);
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
