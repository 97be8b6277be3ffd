#include "wallet.h"

#include "fault_points.h"
#include "folders.h"
#include "host_application.h"
#include "module_state.h"
#include "notices.h"
#include "pocket_dialog.h"
#include "sealing.h"
#include "ini_cursor.h"
#include "shared_objects.h"
#include "wallet_dialog.h"
#include "wallet_layout.h"

namespace cardkeep {
namespace {

using comkit::Bstr;
using comkit::fail;

using comkit::copyIn;
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

// The host's variable behind a by-reference parameter; one the host left
// out is a variable of the call's own (standIn).
comkit::BstrRef hostVariable(BSTR* parameter, Bstr& standIn) {
    return parameter ? comkit::BstrRef(parameter) : comkit::BstrRef(standIn);
}

BSTR hostText(BSTR* parameter) { return parameter ? *parameter : nullptr; }

}  // namespace

Wallet::~Wallet() {
    if (sharesComponents_) ReleaseSharedObjects();
}

HRESULT Wallet::initialise() {
    CK_RETURN_IF_FAILED(CreateSharedObjects());
    sharesComponents_ = true;
    return S_OK;
}

HRESULT Wallet::initialiseWallet() {
    outside::LateBound* runTime = nullptr;
    CK_RETURN_IF_FAILED(requireRunTime(runTime));
    comkit::Variant root;
    CK_RETURN_IF_FAILED(runTime->call(L"EnvironGet", {*comkit::Variant::i2(2).get(),
                                                      *comkit::Variant::text(store::kRootVariable).get()},
                                      root));
    CK_RETURN_IF_FAILED(lowerCase(root, localProgramsPath_));

    CK_RETURN_IF_FAILED(applicationPath(appObject_, 3, pavString_));
    walletFolder_ = localProgramsPath_ + L"\\" + pavString_;
    CK_RETURN_IF_FAILED(EnsureApplicationFolders(localProgramsPath_, appObject_));
    walletPath_ = walletFolder_ + L"\\" + store::kWalletFileName;

    ModuleState& state = threadState();
    if (!state.goFileSystem) state.goFileSystem = std::make_unique<FileSystem>();
    if (!state.goFileSystem->FileExists(walletPath_))
        showNotice(L"Wallet file does not exists on this computer", L"Invalid Wallet", MB_ICONEXCLAMATION);

    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(walletPath_, ini));
    openedPath_ = walletPath_;
    CK_RETURN_IF_FAILED(selectEntry(*ini, store::kWalletSection, store::kKeyNow));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    DATE stamp = 0;
    SystemTimeToVariantTime(&now, &stamp);
    // The stamp is written when it can be: a wallet file that cannot be
    // written (read-only, say) still opens and reads, and each write to it
    // says why it fails.
    if (FAILED(ini->assign(L"Value", *comkit::Variant::date(stamp).get()))) SetErrorInfo(0, nullptr);
    CK_RETURN_IF_FAILED(ini->assignText(L"Key", store::kKeyName));
    Bstr sealedName;
    CK_RETURN_IF_FAILED(readText(*ini, sealedName));
    openedName_.assign(store::open(comkit::BstrRef(sealedName)).view());
    state.gsCurrentWalletName = openedName_;
    return S_OK;
}

HRESULT Wallet::changePassword(comkit::BstrRef oldPassword, comkit::BstrRef newPassword, comkit::BstrRef newHint) {
    if (newPassword.view() != oldPassword.view()) {
        showNotice(L"OldPassword and NewPassword does not match.", L"Invalid Password", MB_ICONINFORMATION);
        return S_OK;
    }
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(openedPath_, ini));
    // Both are sealed before anything is written: a value that cannot be
    // sealed must not leave the empty text in its place, nor a new password
    // beside the old hint.
    const Bstr password = store::seal(newPassword);
    const Bstr hint = store::seal(newHint);
    if ((password.length() == 0 && !newPassword.view().empty()) || (hint.length() == 0 && !newHint.view().empty()))
        return fail(NTE_FAIL, L"The value could not be sealed.");
    const IniValue values[] = {{store::kKeyPassword, password.view()}, {store::kKeyHint, hint.view()}};
    return writeValues(*ini, store::kWalletSection, values);
}

HRESULT Wallet::setPocket(BSTR pocket) {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(openedPath_, ini));
    return ini->assignText(L"Section", view(pocket));
}

HRESULT Wallet::setCard(BSTR pocket, BSTR card, comkit::BstrRef information) {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(openedPath_, ini));
    CK_RETURN_IF_FAILED(selectEntry(*ini, view(pocket), view(card)));
    const Bstr sealed = store::seal(information);
    if (sealed.length() == 0 && !information.view().empty()) return fail(NTE_FAIL, L"The value could not be sealed.");
    return ini->assignText(L"Value", sealed.view());
}

HRESULT Wallet::getCard(BSTR pocket, BSTR card, BSTR* information) {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(openedPath_, ini));
    CK_RETURN_IF_FAILED(selectEntry(*ini, view(pocket), view(card)));
    CK_FAULT_POINT(L"GetCard");
    Bstr sealed;
    CK_RETURN_IF_FAILED(readText(*ini, sealed));
    *information = store::open(comkit::BstrRef(sealed)).detach();
    return S_OK;
}

HRESULT Wallet::showDialog(HRESULT (*show)()) {
    const DialogWallet shown(openedPath_, openedName_);
    return show();
}

// The published members, each inside the one boundary, which keeps the
// object alive for the call and puts this class on the error of a failure.

STDMETHODIMP Wallet::get_AppObject(IDispatch** value) {
    return call(kProgId, [&] {
        if (!value) return E_POINTER;
        *value = appObject_.get();
        if (*value) (*value)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP Wallet::putref_AppObject(IDispatch* oNewValue) {
    return call(kProgId, [&] {
        appObject_ = outside::LateBound(comkit::ComPtr<IDispatch>(oNewValue));
        return initialiseWallet();
    });
}

STDMETHODIMP Wallet::get_PAVString(BSTR* value) {
    return call(kProgId, [&] { return copyOut(pavString_, value); });
}
STDMETHODIMP Wallet::put_PAVString(BSTR sNewValue) {
    return call(kProgId, [&] { return copyIn(sNewValue, pavString_); });
}
STDMETHODIMP Wallet::get_LocalProgramsPath(BSTR* value) {
    return call(kProgId, [&] { return copyOut(localProgramsPath_, value); });
}
STDMETHODIMP Wallet::put_LocalProgramsPath(BSTR sNewValue) {
    return call(kProgId, [&] { return copyIn(sNewValue, localProgramsPath_); });
}
STDMETHODIMP Wallet::get_WalletPath(BSTR* value) {
    return call(kProgId, [&] { return copyOut(walletPath_, value); });
}
STDMETHODIMP Wallet::put_WalletPath(BSTR sNewValue) {
    return call(kProgId, [&] { return copyIn(sNewValue, walletPath_); });
}
STDMETHODIMP Wallet::get_WalletFolder(BSTR* value) {
    return call(kProgId, [&] { return copyOut(walletFolder_, value); });
}
STDMETHODIMP Wallet::put_WalletFolder(BSTR sNewValue) {
    return call(kProgId, [&] { return copyIn(sNewValue, walletFolder_); });
}

STDMETHODIMP Wallet::InitialiseWallet() {
    return call(kProgId, [&] { return initialiseWallet(); });
}

STDMETHODIMP Wallet::EditWallet() {
    return call(kProgId, [&] { return showDialog(&dialogs::showEditWallet); });
}

STDMETHODIMP Wallet::EditPocket() {
    return call(kProgId, [&] { return showDialog(&dialogs::showEditPocket); });
}

STDMETHODIMP Wallet::ChangePassword(BSTR* sOldPassword, BSTR* sNewPassword, BSTR* sNewHint, VARIANT* result) {
    return call(kProgId, [&] {
        if (!result) return E_POINTER;
        VariantInit(result);
        Bstr left1, left2, left3;
        return changePassword(hostVariable(sOldPassword, left1), hostVariable(sNewPassword, left2),
                              hostVariable(sNewHint, left3));
    });
}

STDMETHODIMP Wallet::SetPocket(BSTR* sPocketName, LONG* result) {
    return call(kProgId, [&] {
        if (!result) return E_POINTER;
        *result = 0;
        CK_RETURN_IF_FAILED(setPocket(hostText(sPocketName)));
        *result = 1;
        return S_OK;
    });
}

STDMETHODIMP Wallet::SetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* sInformation, LONG* result) {
    return call(kProgId, [&] {
        if (!result) return E_POINTER;
        *result = 0;
        Bstr left;
        CK_RETURN_IF_FAILED(setCard(hostText(sPocketName), hostText(sCardName), hostVariable(sInformation, left)));
        *result = 1;
        return S_OK;
    });
}

STDMETHODIMP Wallet::GetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* result) {
    return call(kProgId, [&] {
        if (!result) return E_POINTER;
        *result = nullptr;
        return getCard(hostText(sPocketName), hostText(sCardName), result);
    });
}

}  // namespace cardkeep
