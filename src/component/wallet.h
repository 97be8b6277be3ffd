// clsWALLETA: the wallet a host application creates, hands its application
// object, and keeps cards in.
#pragma once

#include "cardkeep_h.h"
#include "com_server.h"
#include "late_bound.h"

#include <string>

namespace cardkeep {

class Wallet final : public comkit::AutomationObject<_clsWALLETA> {
public:
    static constexpr const wchar_t* kProgId = L"cardkeep.clsWALLETA";

    ~Wallet() override;
    HRESULT initialise() override;

    STDMETHODIMP get_AppObject(IDispatch** value) override;
    STDMETHODIMP putref_AppObject(IDispatch* oNewValue) override;
    STDMETHODIMP get_PAVString(BSTR* value) override;
    STDMETHODIMP put_PAVString(BSTR sNewValue) override;
    STDMETHODIMP get_LocalProgramsPath(BSTR* value) override;
    STDMETHODIMP put_LocalProgramsPath(BSTR sNewValue) override;
    STDMETHODIMP get_WalletPath(BSTR* value) override;
    STDMETHODIMP put_WalletPath(BSTR sNewValue) override;
    STDMETHODIMP get_WalletFolder(BSTR* value) override;
    STDMETHODIMP put_WalletFolder(BSTR sNewValue) override;
    STDMETHODIMP InitialiseWallet() override;
    STDMETHODIMP EditWallet() override;
    STDMETHODIMP EditPocket() override;
    STDMETHODIMP ChangePassword(BSTR* sOldPassword, BSTR* sNewPassword, BSTR* sNewHint, VARIANT* result) override;
    STDMETHODIMP SetPocket(BSTR* sPocketName, LONG* result) override;
    STDMETHODIMP SetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* sInformation, LONG* result) override;
    STDMETHODIMP GetCard(BSTR* sPocketName, BSTR* sCardName, BSTR* result) override;

private:
    HRESULT initialiseWallet();
    HRESULT changePassword(comkit::BstrRef oldPassword, comkit::BstrRef newPassword, comkit::BstrRef newHint);
    HRESULT setPocket(BSTR pocket);
    HRESULT setCard(BSTR pocket, BSTR card, comkit::BstrRef information);
    HRESULT getCard(BSTR pocket, BSTR card, BSTR* information);
    // Shows one of the thread's dialogs on this object's wallet.
    HRESULT showDialog(HRESULT (*show)());

    // The object's own state, in the order the class declares it.
    std::wstring walletFolder_;
    std::wstring walletPath_;
    std::wstring pavString_;
    outside::LateBound appObject_;
    std::wstring localProgramsPath_;

    // The wallet file the object's last initialisation pointed the cursor
    // at, which every later use goes back to (writing WalletPath does not
    // move the wallet), and the name it opened there, for the captions.
    std::wstring openedPath_;
    std::wstring openedName_;
    // Whether the thread's shared components count this object.
    bool sharesComponents_ = false;
};

}  // namespace cardkeep
