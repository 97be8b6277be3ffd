#include "ini_cursor.h"

#include "com_error.h"
#include "korvex10_h.h"
#include "module_state.h"
#include "shared_objects.h"

namespace cardkeep {

HRESULT requireIniFile(const std::wstring& walletPath, outside::LateBound*& ini) {
    ModuleState& state = threadState();
    CK_RETURN_IF_FAILED(requireSlot(state.goINIFile, L"INI-file", ini));
    if (walletPath == state.cursorPath) return S_OK;
    if (walletPath.empty())
        return comkit::fail(E_UNEXPECTED, L"The wallet is not initialised: assign AppObject first.");
    state.cursorPath.clear();  // where a failed assignment leaves the cursor is not known
    CK_RETURN_IF_FAILED(ini->assignText(L"Path", walletPath));
    state.cursorPath = walletPath;
    return S_OK;
}

HRESULT requireIniFile(outside::LateBound*& ini) { return requireIniFile(threadState().dialogWalletPath, ini); }
DialogWallet::DialogWallet(std::wstring walletPath, std::wstring walletName)
    : state_(threadState()), path_(std::move(walletPath)), name_(std::move(walletName)) {
    state_.dialogWalletPath.swap(path_);
    state_.gsCurrentWalletName.swap(name_);
}

DialogWallet::~DialogWallet() {
    state_.dialogWalletPath.swap(path_);
    state_.gsCurrentWalletName.swap(name_);
}

HRESULT selectEntry(outside::LateBound& ini, std::wstring_view section, std::wstring_view key) {
    CK_RETURN_IF_FAILED(ini.assignText(L"Section", section));
    return ini.assignText(L"Key", key);
}

HRESULT readText(outside::LateBound& ini, comkit::Bstr& text) {
    comkit::Variant value;
    CK_RETURN_IF_FAILED(ini.read(L"Value", value));
    return comkit::toText(*value.get(), text);
}

namespace {

// One field of each value, as the list of texts SetValues takes.
HRESULT textList(std::span<const IniValue> values, std::wstring_view IniValue::*field, comkit::SafeArray& list) {
    list.reset(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values.size())));
    if (!list) return comkit::fail(E_OUTOFMEMORY, L"Out of memory.");
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        const comkit::Bstr text(values[i].*field);
        if (!text.get()) return comkit::fail(E_OUTOFMEMORY, L"Out of memory.");
        CK_RETURN_IF_FAILED(SafeArrayPutElement(list.get(), &i, text.get()));  // a copy goes in
    }
    return S_OK;
}

}  // namespace

HRESULT writeValues(outside::LateBound& ini, std::wstring_view section, std::span<const IniValue> values) {
    comkit::ComPtr<IKorvexIniChanges> changes;
    if (!ini.get() ||
        FAILED(ini.get()->QueryInterface(IID_IKorvexIniChanges, reinterpret_cast<void**>(changes.GetAddressOf())))) {
        // An INI component from before SetValues: one value after another.
        CK_RETURN_IF_FAILED(ini.assignText(L"Section", section));
        for (const IniValue& v : values) {
            CK_RETURN_IF_FAILED(ini.assignText(L"Key", v.key));
            CK_RETURN_IF_FAILED(ini.assignText(L"Value", v.value));
        }
        return S_OK;
    }
    const comkit::Bstr sectionText(section);
    comkit::SafeArray keys, texts;
    if (!sectionText.get()) return comkit::fail(E_OUTOFMEMORY, L"Out of memory.");
    CK_RETURN_IF_FAILED(textList(values, &IniValue::key, keys));
    CK_RETURN_IF_FAILED(textList(values, &IniValue::value, texts));
    SetErrorInfo(0, nullptr);  // what the call leaves is its own
    const HRESULT hr = changes->SetValues(sectionText.get(), keys.get(), texts.get());
    if (SUCCEEDED(hr)) return S_OK;
    // The component says what could not be done; the caller also learns
    // that none of the values was written.
    std::wstring description = comkit::takeErrorInfo().description;
    if (description.empty()) description = comkit::describe(hr);
    if (description.back() != L'.') description += L'.';
    if (description.find(L"not changed") == std::wstring::npos) description += L" The wallet was not changed.";
    return comkit::fail(hr, description);
}

}  // namespace cardkeep
