// frmEditWalletA: the wallet's name, description, password and hint, shown
// from the file and written back sealed after a confirmation and a
// password check.
#pragma once

#include "modal_dialog.h"

namespace cardkeep::dialogs {

class frmEditWalletA final : public ModalDialog {
public:
    // Control ids, in tab order.
    enum Control : int {
        Frame1 = 100,
        lblWalletName,
        txtWalletName,
        lblWalletDescription,
        txtWalletDescription,
        lblPasswordEnter,
        txtPasswordEnter,
        lblPasswordConfirm,
        txtPasswordConfirm,
        lblPasswordHint,
        txtPasswordHint,
        cmdOK,
        cmdCancel,
    };

    frmEditWalletA();

    // Fills the four fields from the file; the confirmation stays empty.
    HRESULT LoadPro();
    // Writes the four fields and the modification time, all sealed.
    HRESULT OKPro() override;

private:
    std::wstring caption() const override;
    HRESULT load() override { return LoadPro(); }
    void command(int id, int code) override;

    bool ValidateEntries() override;
};

// EditWallet: the thread's instance, made on first use, shown modally.
HRESULT showEditWallet();

}  // namespace cardkeep::dialogs
