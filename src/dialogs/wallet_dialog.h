// frmEditWalletA: the wallet's name, description, password and hint, shown
// from the file and written back sealed after a confirmation and a
// password check.
#pragma once

#include "modal_dialog.h"

#include <array>
#include <string>

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
    // Writes the fields the user changed and the modification time, all
    // sealed, in one write.
    HRESULT OKPro() override;

private:
    // What LoadPro showed in each stored field (name, description,
    // password, hint); a stored value that did not open is shown empty.
    std::array<std::wstring, 4> loaded_;

    std::wstring caption() const override;
    HRESULT load() override { return LoadPro(); }
    void command(int id, int code) override;

    bool ValidateEntries() override;
};

// EditWallet: the thread's instance, made on first use, shown modally.
HRESULT showEditWallet();

}  // namespace cardkeep::dialogs
