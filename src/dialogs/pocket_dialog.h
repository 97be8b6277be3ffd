// frmEditPocket: the wallet's pockets and the cards of one pocket, one
// card's information, and storing the information of one card.
#pragma once

#include "modal_dialog.h"

#include <string>

namespace cardkeep::dialogs {

class frmEditPocket final : public ModalDialog {
public:
    // Control ids, in tab order.
    enum Control : int {
        lblPocketName = 200,
        txtPocketName,
        lblCardName,
        txtCardName,
        lblInformation,
        txtInformation,
        cmdOK,
        cmdCancel,
        Frame1,
    };

    frmEditPocket();

    HRESULT LoadPro();
    // The file's pockets: every section but the wallet's own kind.
    HRESULT LoadPockets();
    // The cards of one pocket, every key of its section.
    HRESULT LoadPocketCards(const std::wstring& sPocketName);
    // One card's information into the information box.
    HRESULT LoadPocketCardiNFO(const std::wstring& sPocketName, const std::wstring& sCardName);
    // Stores the information under the pocket and card names as typed.
    HRESULT OKPro() override;

private:
    std::wstring caption() const override;
    HRESULT load() override { return LoadPro(); }
    void command(int id, int code) override;

    // The text of a combo box as the choice just made leaves it.
    std::wstring chosenText(int id) const;
    void txtPocketName_Click();
    void txtCardName_Click();
};

// EditPocket: the thread's instance, made on first use, shown modally.
HRESULT showEditPocket();

}  // namespace cardkeep::dialogs
