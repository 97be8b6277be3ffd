#include "shared_objects.h"

#include "com_error.h"
#include "folders.h"
#include "module_state.h"

namespace cardkeep {
namespace {

constexpr wchar_t kRunTimeProgId[] = L"KORVEX11.clsKorvex11RunTimeA";
constexpr wchar_t kIniFileProgId[] = L"KORVEX10.clsKorvexINIFileHandler1A";
constexpr wchar_t kCryptographyProgId[] = L"KORVEX10.clsKorvexCryptographyC";

HRESULT require(outside::LateBound& slot, const wchar_t* what, outside::LateBound*& out) {
    if (!slot)
        return comkit::fail(E_UNEXPECTED, std::wstring(L"The wallet's ") + what +
                                              L" component is not available on this thread. Create the wallet "
                                              L"object again.");
    out = &slot;
    return S_OK;
}

}  // namespace

HRESULT CreateSharedObjects() {
    ModuleState& state = threadState();
    // All three are made before any slot is touched, so a component that
    // cannot be made leaves the live objects' components as they are.
    comkit::ComPtr<IDispatch> runTime, iniFile, cryptography;
    CK_RETURN_IF_FAILED(outside::create(kRunTimeProgId, runTime));
    CK_RETURN_IF_FAILED(outside::create(kIniFileProgId, iniFile));
    CK_RETURN_IF_FAILED(outside::create(kCryptographyProgId, cryptography));
    if (state.walletObjects == 0) {
        state.goRunTime = outside::LateBound(std::move(runTime));
        state.goINIFile = outside::LateBound(std::move(iniFile));
        state.goCryptography = outside::LateBound(std::move(cryptography));
        state.cursorPath.clear();
    }
    ++state.walletObjects;
    return S_OK;
}

void ReleaseSharedObjects() noexcept {
    ModuleState* state = existingThreadState();
    if (!state || state->walletObjects == 0 || --state->walletObjects > 0) return;
    state->goRunTime.reset();
    state->goINIFile.reset();
    state->goCryptography.reset();
    state->goFileSystem.reset();
    state->cursorPath.clear();
}

HRESULT RequireIniFile(const std::wstring& walletPath, outside::LateBound*& ini) {
    ModuleState& state = threadState();
    CK_RETURN_IF_FAILED(require(state.goINIFile, L"INI-file", ini));
    if (walletPath == state.cursorPath) return S_OK;
    if (walletPath.empty())
        return comkit::fail(E_UNEXPECTED, L"The wallet is not initialised: assign AppObject first.");
    state.cursorPath.clear();  // where a failed assignment leaves the cursor is not known
    CK_RETURN_IF_FAILED(ini->assignText(L"Path", walletPath));
    state.cursorPath = walletPath;
    return S_OK;
}

HRESULT RequireIniFile(outside::LateBound*& ini) { return RequireIniFile(threadState().dialogWalletPath, ini); }
HRESULT RequireRunTime(outside::LateBound*& runTime) { return require(threadState().goRunTime, L"run-time", runTime); }

DialogWallet::DialogWallet(std::wstring walletPath, std::wstring walletName)
    : state_(threadState()), path_(std::move(walletPath)), name_(std::move(walletName)) {
    state_.dialogWalletPath.swap(path_);
    state_.gsCurrentWalletName.swap(name_);
}

DialogWallet::~DialogWallet() {
    state_.dialogWalletPath.swap(path_);
    state_.gsCurrentWalletName.swap(name_);
}

HRESULT SelectEntry(outside::LateBound& ini, std::wstring_view section, std::wstring_view key) {
    CK_RETURN_IF_FAILED(ini.assignText(L"Section", section));
    return ini.assignText(L"Key", key);
}

HRESULT ReadText(outside::LateBound& ini, comkit::Bstr& text) {
    comkit::Variant value;
    CK_RETURN_IF_FAILED(ini.read(L"Value", value));
    return comkit::toText(*value.get(), text);
}

}  // namespace cardkeep
