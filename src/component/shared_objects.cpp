#include "shared_objects.h"

#include "com_error.h"
#include "folders.h"
#include "module_state.h"

namespace cardkeep {
namespace {

constexpr wchar_t kRunTimeProgId[] = L"KORVEX11.clsKorvex11RunTimeA";
constexpr wchar_t kIniFileProgId[] = L"KORVEX10.clsKorvexINIFileHandler1A";
constexpr wchar_t kCryptographyProgId[] = L"KORVEX10.clsKorvexCryptographyC";

HRESULT fill(outside::LateBound& slot, const wchar_t* progId) {
    comkit::ComPtr<IDispatch> object;
    CK_RETURN_IF_FAILED(outside::create(progId, object));
    slot = outside::LateBound(std::move(object));
    return S_OK;
}

HRESULT require(outside::LateBound& slot, const wchar_t* what, outside::LateBound*& out) {
    if (!slot)
        return comkit::fail(E_UNEXPECTED, std::wstring(L"The wallet's ") + what +
                                              L" component is not available on this thread: another wallet "
                                              L"object on the thread was released. Create the wallet object again.");
    out = &slot;
    return S_OK;
}

}  // namespace

HRESULT CreateSharedObjects() {
    ModuleState& state = threadState();
    CK_RETURN_IF_FAILED(fill(state.goRunTime, kRunTimeProgId));
    CK_RETURN_IF_FAILED(fill(state.goINIFile, kIniFileProgId));
    CK_RETURN_IF_FAILED(fill(state.goCryptography, kCryptographyProgId));
    return S_OK;
}

void ReleaseSharedObjects() {
    ModuleState& state = threadState();
    state.goRunTime.reset();
    state.goINIFile.reset();
    state.goCryptography.reset();
    state.goFileSystem.reset();
}

HRESULT RequireIniFile(outside::LateBound*& ini) { return require(threadState().goINIFile, L"INI-file", ini); }
HRESULT RequireRunTime(outside::LateBound*& runTime) { return require(threadState().goRunTime, L"run-time", runTime); }

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
