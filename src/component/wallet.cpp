#include "wallet.h"

#include "folders.h"
#include "module_state.h"
#include "notices.h"
#include "pocket_dialog.h"
#include "sealing.h"
#include "shared_objects.h"
#include "wallet_dialog.h"
#include "wallet_layout.h"

namespace cardkeep {
namespace {

using comkit::Bstr;
using comkit::fail;

using comkit::copyOut;
using comkit::view;

HRESULT lowerCase(const comkit::Variant& value, std::wstring& text) {
    Bstr converted;
    CK_RETURN_IF_FAILED(comkit::toText(*value.get(), converted));
    text.assign(converted.view());
    if (!text.empty())
        LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()),
                      text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0);
    return S_OK;
}

// A parameter passed by reference that the host left null is the empty text.
BSTR& refOrEmpty(BSTR* parameter, BSTR& empty) { return parameter ? *parameter : empty; }

}  // namespace

Wallet::~Wallet() { ReleaseSharedObjects(); }

HRESULT Wallet::initialise() { return CreateSharedObjects(); }

HRESULT Wallet::initialiseWallet() {
    outside::LateBound* runTime = nullptr;
    CK_RETURN_IF_FAILED(RequireRunTime(runTime));
    comkit::Variant root;
    CK_RETURN_IF_FAILED(runTime->call(L"EnvironGet", {*comkit::Variant::i2(2).get(),
                                                      *comkit::Variant::text(store::kRootVariable).get()},
                                      root));
    CK_RETURN_IF_FAILED(lowerCase(root, localProgramsPath_));

    CK_RETURN_IF_FAILED(ApplicationPath(appObject_, 3, pavString_));
    walletFolder_ = localProgramsPath_ + L"\\" + pavString_;
    CK_RETURN_IF_FAILED(EnsureApplicationFolders(localProgramsPath_, appObject_));
    walletPath_ = walletFolder_ + L"\\" + store::kWalletFileName;

    ModuleState& state = threadState();
    if (!state.goFileSystem) state.goFileSystem = std::make_unique<FileSystem>();
    if (!state.goFileSystem->FileExists(walletPath_))
        ShowNotice(L"Wallet file does not exists on this computer", L"Invalid Wallet", MB_ICONEXCLAMATION);

    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(RequireIniFile(ini));
    CK_RETURN_IF_FAILED(ini->assignText(L"Path", walletPath_));
    CK_RETURN_IF_FAILED(SelectEntry(*ini, store::kWalletSection, store::kKeyNow));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    DATE stamp = 0;
    SystemTimeToVariantTime(&now, &stamp);
    CK_RETURN_IF_FAILED(ini->assign(L"Value", *comkit::Variant::date(stamp).get()));
    CK_RETURN_IF_FAILED(ini->assignText(L"Key", store::kKeyName));
    Bstr sealedName;
    CK_RETURN_IF_FAILED(ReadText(*ini, sealedName));
    BSTR nameVariable = sealedName.get();
    state.gsCurrentWalletName.assign(store::open(nameVariable).view());
    return S_OK;
}

HRESULT Wallet::changePassword(BSTR& oldPassword, BSTR& newPassword, BSTR& newHint) {
    if (view(newPassword) != view(oldPassword)) {
        ShowNotice(L"OldPassword and NewPassword does not match.", L"Invalid Password", MB_ICONINFORMATION);
        return S_OK;
    }
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(RequireIniFile(ini));
    // Both are sealed before anything is written: a value that cannot be
    // sealed must not leave the empty text in its place, nor a new password
    // beside the old hint.
    const Bstr password = store::seal(newPassword);
    const Bstr hint = store::seal(newHint);
    if ((password.length() == 0 && SysStringLen(newPassword) != 0) || (hint.length() == 0 && SysStringLen(newHint) != 0))
        return fail(NTE_FAIL, L"The value could not be sealed.");
    CK_RETURN_IF_FAILED(SelectEntry(*ini, store::kWalletSection, store::kKeyPassword));
    CK_RETURN_IF_FAILED(ini->assignText(L"Value", password.view()));
    CK_RETURN_IF_FAILED(ini->assignText(L"Key", store::kKeyHint));
    return ini->assignText(L"Value", hint.view());
}

HRESULT Wallet::setCard(BSTR pocket, BSTR card, BSTR& information) {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(RequireIniFile(ini));
    CK_RETURN_IF_FAILED(SelectEntry(*ini, view(pocket), view(card)));
    const Bstr sealed = store::seal(information);
    if (sealed.length() == 0 && SysStringLen(information) != 0)
        return fail(NTE_FAIL, L"The value could not be sealed.");
    return ini->assignText(L"Value", sealed.view());
}

HRESULT Wallet::getCard(BSTR pocket, BSTR card, BSTR* information) {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(RequireIniFile(ini));
    CK_RETURN_IF_FAILED(SelectEntry(*ini, view(pocket), view(card)));
    Bstr sealed;
    CK_RETURN_IF_FAILED(ReadText(*ini, sealed));
    BSTR sealedVariable = sealed.get();
    *information = store::open(sealedVariable).detach();
    return S_OK;
}

// The published members: each keeps the object alive for the call and puts
// this class on the error of a failure.

STDMETHODIMP Wallet::get_AppObject(IDispatch** value) {
    const auto scope = call(kProgId);
    if (!value) return scope.done(E_POINTER);
    *value = appObject_.get();
    if (*value) (*value)->AddRef();
    return scope.done(S_OK);
}

STDMETHODIMP Wallet::putref_AppObject(IDispatch* oNewValue) {
    const auto scope = call(kProgId);
    appObject_ = outside::LateBound(comkit::ComPtr<IDispatch>(oNewValue));
    return scope.done(initialiseWallet());
}

STDMETHODIMP Wallet::get_PAVString(BSTR* value) {
    const auto scope = call(kProgId);
    return scope.done(copyOut(pavString_, value));
}
STDMETHODIMP Wallet::put_PAVString(BSTR sNewValue) {
    const auto scope = call(kProgId);
    pavString_.assign(view(sNewValue));
    return scope.done(S_OK);
}
STDMETHODIMP Wallet::get_LocalProgramsPath(BSTR* value) {
    const auto scope = call(kProgId);
    return scope.done(copyOut(localProgramsPath_, value));
}
STDMETHODIMP Wallet::put_LocalProgramsPath(BSTR sNewValue) {
    const auto scope = call(kProgId);
    localProgramsPath_.assign(view(sNewValue));
    return scope.done(S_OK);
}
STDMETHODIMP Wallet::get_WalletPath(BSTR* value) {
    const auto scope = call(kProgId);
    return scope.done(copyOut(walletPath_, value));
}
STDMETHODIMP Wallet::put_WalletPath(BSTR sNewValue) {
    const auto scope = call(kProgId);
    walletPath_.assign(view(sNewValue));
    return scope.done(S_OK);
}
STDMETHODIMP Wallet::get_WalletFolder(BSTR* value) {
    const auto scope = call(kProgId);
    return scope.done(copyOut(walletFolder_, value));
}
STDMETHODIMP Wallet::put_WalletFolder(BSTR sNewValue) {
    const auto scope = call(kProgId);
    walletFolder_.assign(view(sNewValue));
    return scope.done(S_OK);
}

STDMETHODIMP Wallet::InitialiseWallet() {
    const auto scope = call(kProgId);
    return scope.done(initialiseWallet());
}

STDMETHODIMP Wallet::EditWallet() {
    const auto scope = call(kProgId);
    return scope.done(dialogs::ShowEditWallet());
}

STDMETHODIMP Wallet::EditPocket() {
    const auto scope = call(kProgId);
    return scope.done(dialogs::ShowEditPocket());
}

STDMETHODIMP Wallet::ChangePassword(BSTR* sOldPassword, BSTR* sNewPassword, BSTR* sNewHint, VARIANT* result) {
    const auto scope = call(kProgId);
    if (!result) return scope.done(E_POINTER);
    VariantInit(result);
    BSTR empty1 = nullptr, empty2 = nullptr, empty3 = nullptr;
    return scope.done(changePassword(refOrEmpty(sOldPassword, empty1), refOrEmpty(sNewPassword, empty2),
                                     refOrEmpty(sNewHint, empty3)));
}

STDMETHODIMP Wallet::SetPocket(BSTR* sPocketName, LONG* result) {
    const auto scope = call(kProgId);
    if (!result) return scope.done(E_POINTER);
    *result = 0;
    outside::LateBound* ini = nullptr;
    HRESULT hr = RequireIniFile(ini);
    if (SUCCEEDED(hr)) hr = ini->assignText(L"Section", view(sPocketName ? *sPocketName : nullptr));
    if (SUCCEEDED(hr)) *result = 1;
    return scope.done(hr);
}

STDMETHODIMP Wallet::SetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* sInformation, LONG* result) {
    const auto scope = call(kProgId);
    if (!result) return scope.done(E_POINTER);
    *result = 0;
    BSTR empty = nullptr;
    const HRESULT hr = setCard(sPocketName ? *sPocketName : nullptr, sCardName ? *sCardName : nullptr,
                               refOrEmpty(sInformation, empty));
    if (SUCCEEDED(hr)) *result = 1;
    return scope.done(hr);
}

STDMETHODIMP Wallet::GetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* result) {
    const auto scope = call(kProgId);
    if (!result) return scope.done(E_POINTER);
    *result = nullptr;
    return scope.done(getCard(sPocketName ? *sPocketName : nullptr, sCardName ? *sCardName : nullptr, result));
}

}  // namespace cardkeep
