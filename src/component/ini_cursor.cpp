#include "ini_cursor.h"

#include "com_error.h"
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

HRESULT writeValues(outside::LateBound& ini, std::wstring_view section, std::span<const IniValue> values) {
    CK_RETURN_IF_FAILED(ini.assignText(L"Section", section));
    for (const IniValue& v : values) {
        CK_RETURN_IF_FAILED(ini.assignText(L"Key", v.key));
        CK_RETURN_IF_FAILED(ini.assignText(L"Value", v.value));
    }
    return S_OK;
}

}  // namespace cardkeep
