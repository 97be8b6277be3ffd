#include "shared_objects.h"

#include "com_error.h"
#include "folders.h"
#include "module_state.h"

namespace cardkeep {
namespace {

constexpr wchar_t kRunTimeProgId[] = L"KORVEX11.clsKorvex11RunTimeA";
constexpr wchar_t kIniFileProgId[] = L"KORVEX10.clsKorvexINIFileHandler1A";
constexpr wchar_t kCryptographyProgId[] = L"KORVEX10.clsKorvexCryptographyC";

}  // namespace

HRESULT requireSlot(outside::LateBound& slot, const wchar_t* what, outside::LateBound*& out) {
    if (!slot)
        return comkit::fail(E_UNEXPECTED, std::wstring(L"The wallet's ") + what +
                                              L" component is not available on this thread. Create the wallet "
                                              L"object again.");
    out = &slot;
    return S_OK;
}

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

HRESULT requireRunTime(outside::LateBound*& runTime) { return requireSlot(threadState().goRunTime, L"run-time", runTime); }

}  // namespace cardkeep
