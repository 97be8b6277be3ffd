#include "pocket_dialog.h"

#include "com_error.h"
#include "dialog_store.h"
#include "module_state.h"
#include "ini_cursor.h"
#include "wallet_layout.h"

#include <new>
#include <vector>

namespace cardkeep::dialogs {
namespace {

using P = frmEditPocket;

constexpr int kInformationLimit = 100;

// Twips; the frame is placed in the client area, everything else in the
// frame.
constexpr FrameOrigin kFrame{240, 0};

constexpr ControlSpec kControls[] = {
    {P::lblPocketName, Kind::Label, L"Poc&ket Name", kFrame.place(120, 240, 1095, 255)},
    {P::txtPocketName, Kind::Combo, L"", kFrame.place(1440, 240, 3735, 360)},
    {P::lblCardName, Kind::Label, L"C&ard Name", kFrame.place(120, 720, 1095, 255)},
    {P::txtCardName, Kind::Combo, L"", kFrame.place(1440, 720, 3735, 360)},
    {P::lblInformation, Kind::Label, L"&Information", kFrame.place(120, 1320, 1095, 255)},
    {P::txtInformation, Kind::Field, L"", kFrame.place(1440, 1200, 3735, 405), kInformationLimit},
    {P::cmdOK, Kind::Button, L"&OK", kFrame.place(2160, 1680, 1455, 495)},
    {P::cmdCancel, Kind::Button, L"&Cancel", kFrame.place(3720, 1680, 1455, 495)},
    {P::Frame1, Kind::Frame, L"", {kFrame.left, kFrame.top, 5415, 2415}},
};

constexpr DialogLayout kLayout{5835, 2535, kControls};

HRESULT addEntry(HWND combo, const std::wstring& name) {
    const LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (index == CB_ERR || index == CB_ERRSPACE) return comkit::fail(E_OUTOFMEMORY, L"The list is full.");
    return S_OK;
}

// Appends the names to a combo box's list, in order. The list learns first
// how many names and characters are coming, and draws nothing until they are
// all in: entry by entry it would grow its storage and redo its scroll bar
// for each one, which at a thousand cards was most of what choosing a pocket
// cost. A name that cannot be added ends the filling with those before it
// listed.
HRESULT fillList(HWND combo, const std::vector<std::wstring>& names) {
    size_t characters = 0;
    for (const std::wstring& name : names) characters += name.size() + 1;
    // Only room asked for ahead: a list that cannot give it still grows as
    // each name comes.
    SendMessageW(combo, CB_INITSTORAGE, names.size(), characters * sizeof(wchar_t));
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    const RedrawSuspended quiet(GetComboBoxInfo(combo, &info) ? info.hwndList : nullptr);
    for (const std::wstring& name : names) CK_RETURN_IF_FAILED(addEntry(combo, name));
    return S_OK;
}

}  // namespace

frmEditPocket::frmEditPocket() : ModalDialog(kLayout) {}

std::wstring frmEditPocket::caption() const { return threadState().gsCurrentWalletName + L" - POCKETS"; }

HRESULT frmEditPocket::LoadPro() { return LoadPockets(); }

HRESULT frmEditPocket::LoadPockets() {
    HWND list = item(txtPocketName);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    std::vector<std::wstring> sections;
    CK_RETURN_IF_FAILED(enumerateNames(*ini, L"EnumerateAllSections", sections));
    std::erase_if(sections, [](const std::wstring& name) { return !store::isPocket(name); });
    return fillList(list, sections);
}

HRESULT frmEditPocket::LoadPocketCards(const std::wstring& sPocketName) {
    HWND list = item(txtCardName);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    CK_RETURN_IF_FAILED(ini->assignText(L"Section", sPocketName));
    std::vector<std::wstring> keys;
    CK_RETURN_IF_FAILED(enumerateNames(*ini, L"EnumerateCurrentSection", keys));
    return fillList(list, keys);
}

HRESULT frmEditPocket::LoadPocketCardiNFO(const std::wstring& sPocketName, const std::wstring& sCardName) {
    CK_RETURN_IF_FAILED(setText(txtInformation, L""));
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    CK_RETURN_IF_FAILED(selectEntry(*ini, sPocketName, sCardName));
    std::wstring information;
    CK_RETURN_IF_FAILED(readOpened(*ini, information));
    // Shown whole: the box's limit is for typing, not for what is stored.
    return setText(txtInformation, information);
}

HRESULT frmEditPocket::OKPro() {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    comkit::Bstr sealed;
    CK_RETURN_IF_FAILED(sealForWriting(text(txtInformation), sealed));
    CK_RETURN_IF_FAILED(selectEntry(*ini, text(txtPocketName), text(txtCardName)));
    return ini->assignText(L"Value", sealed.view());
}

std::wstring frmEditPocket::chosenText(int id) const {
    // While the list is being moved through, the box's edit part may not
    // show the new entry yet; the entry itself is what was chosen.
    HWND combo = item(id);
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return text(id);
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return text(id);
    std::wstring entry(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(entry.data()));
    if (got == CB_ERR) return text(id);
    entry.resize(static_cast<size_t>(got));
    return entry;
}

void frmEditPocket::txtPocketName_Click() {
    const std::wstring pocket = chosenText(txtPocketName);
    HRESULT hr = setText(txtCardName, L"");
    if (SUCCEEDED(hr)) hr = setText(txtInformation, L"");
    if (SUCCEEDED(hr)) hr = LoadPocketCards(pocket);
    if (FAILED(hr)) report(hr);
}

void frmEditPocket::txtCardName_Click() {
    const std::wstring card = chosenText(txtCardName);
    HRESULT hr = setText(txtInformation, L"");
    if (SUCCEEDED(hr)) hr = LoadPocketCardiNFO(text(txtPocketName), card);
    if (FAILED(hr)) report(hr);
}

void frmEditPocket::command(int id, int code) {
    switch (id) {
    case txtPocketName:
        if (code == CBN_SELCHANGE) txtPocketName_Click();
        break;
    case txtCardName:
        if (code == CBN_SELCHANGE) txtCardName_Click();
        break;
    case cmdOK:
        if (code == BN_CLICKED) cmdOK_Click();
        break;
    case cmdCancel:
        if (code == BN_CLICKED) unload();
        break;
    default:
        break;
    }
}

HRESULT showEditPocket() {
    ModuleState& state = threadState();
    if (!state.frmEditPocket) state.frmEditPocket = std::make_unique<frmEditPocket>();
    return state.frmEditPocket->Show();
}

}  // namespace cardkeep::dialogs
