#include "wallet_dialog.h"

#include "com_error.h"
#include "dialog_store.h"
#include "module_state.h"
#include "ini_cursor.h"
#include "wallet_layout.h"

#include <iterator>
#include <new>
#include <span>
#include <tuple>

namespace cardkeep::dialogs {
namespace {

using W = frmEditWalletA;

constexpr int kHintLimit = 50;

// Twips; the frame is placed in the client area, everything else in the
// frame.
constexpr FrameOrigin kFrame{120, 120};

constexpr ControlSpec kControls[] = {
    {W::Frame1, Kind::Frame, L"", {kFrame.left, kFrame.top, 5415, 3375}},
    {W::lblWalletName, Kind::Label, L"Wallet &Name", kFrame.place(120, 240, 1095, 255)},
    {W::txtWalletName, Kind::Field, L"", kFrame.place(1560, 240, 3615, 375)},
    {W::lblWalletDescription, Kind::Label, L"&Description", kFrame.place(120, 720, 1095, 255)},
    {W::txtWalletDescription, Kind::Field, L"", kFrame.place(1560, 720, 3615, 375)},
    {W::lblPasswordEnter, Kind::Label, L"&Password", kFrame.place(120, 1320, 1095, 255)},
    {W::txtPasswordEnter, Kind::Password, L"", kFrame.place(1560, 1200, 3615, 375)},
    {W::lblPasswordConfirm, Kind::Label, L"Con&firm ", kFrame.place(120, 1800, 1335, 255)},
    {W::txtPasswordConfirm, Kind::Password, L"", kFrame.place(1560, 1680, 3615, 375)},
    {W::lblPasswordHint, Kind::Label, L"Password &Hint", kFrame.place(120, 2280, 1335, 255)},
    {W::txtPasswordHint, Kind::Field, L"", kFrame.place(1560, 2160, 3615, 375), kHintLimit},
    {W::cmdOK, Kind::Button, L"&OK", kFrame.place(2160, 2640, 1455, 495)},
    {W::cmdCancel, Kind::Button, L"&Cancel", kFrame.place(3720, 2640, 1455, 495)},
};

constexpr DialogLayout kLayout{5625, 3570, kControls};

struct StoredField {
    const wchar_t* key;
    int control;
};
constexpr StoredField kStoredFields[] = {
    {store::kKeyName, W::txtWalletName},
    {store::kKeyDescription, W::txtWalletDescription},
    {store::kKeyPassword, W::txtPasswordEnter},
    {store::kKeyHint, W::txtPasswordHint},
};
constexpr size_t kStoredCount = std::size(kStoredFields);

// The current local date and time as text in the user's general date form
// (short date, a blank, long time), the platform's own conversion.
HRESULT nowAsText(std::wstring& text) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    DATE date = 0;
    if (!SystemTimeToVariantTime(&now, &date)) return comkit::fail(E_UNEXPECTED, L"The current time cannot be read.");
    comkit::Bstr converted;
    CK_RETURN_IF_FAILED(comkit::toText(*comkit::Variant::date(date).get(), converted));
    text.assign(converted.view());
    return S_OK;
}

}  // namespace

frmEditWalletA::frmEditWalletA() : ModalDialog(kLayout) {}

std::wstring frmEditWalletA::caption() const { return threadState().gsCurrentWalletName + L" - WALLET"; }

HRESULT frmEditWalletA::LoadPro() {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    CK_RETURN_IF_FAILED(ini->assignText(L"Section", store::kWalletSection));
    static_assert(std::tuple_size_v<decltype(loaded_)> == kStoredCount);
    for (size_t i = 0; i < kStoredCount; ++i) {
        CK_RETURN_IF_FAILED(ini->assignText(L"Key", kStoredFields[i].key));
        std::wstring plain;
        CK_RETURN_IF_FAILED(readOpened(*ini, plain));
        CK_RETURN_IF_FAILED(setText(kStoredFields[i].control, plain));
        loaded_[i] = text(kStoredFields[i].control);
    }
    return S_OK;
}

HRESULT frmEditWalletA::OKPro() {
    outside::LateBound* ini = nullptr;
    CK_RETURN_IF_FAILED(requireIniFile(ini));
    // Only the fields the user changed are written, and the time. Another
    // host may have stored a value since the dialog opened (a password,
    // say, which the user cannot see behind its mask), and a stored value
    // that did not open is shown empty: writing back what was shown would
    // replace the one and erase the other, so a field left as shown is not
    // written. Everything is sealed before the
    // one write, so a value that cannot be sealed leaves the record as it was.
    comkit::Bstr sealed[kStoredCount + 1];
    IniValue changed[kStoredCount + 1];
    size_t count = 0;
    for (size_t i = 0; i < kStoredCount; ++i) {
        const std::wstring typed = text(kStoredFields[i].control);
        if (typed == loaded_[i]) continue;
        CK_RETURN_IF_FAILED(sealForWriting(typed, sealed[count]));
        changed[count] = {kStoredFields[i].key, sealed[count].view()};
        ++count;
    }
    std::wstring modified;
    CK_RETURN_IF_FAILED(nowAsText(modified));
    CK_RETURN_IF_FAILED(sealForWriting(modified, sealed[count]));
    changed[count] = {store::kKeyModified, sealed[count].view()};
    ++count;
    return writeValues(*ini, store::kWalletSection, std::span<const IniValue>(changed, count));
}

bool frmEditWalletA::ValidateEntries() {
    if (text(txtPasswordEnter) == text(txtPasswordConfirm)) return true;
    ask(L"Password entered and confirm password not matched", L"Invalid Passwords...", MB_OK | MB_ICONINFORMATION);
    focus(txtPasswordConfirm);
    return false;
}

void frmEditWalletA::command(int id, int code) {
    if (code != BN_CLICKED) return;
    if (id == cmdOK) cmdOK_Click();
    else if (id == cmdCancel) unload();
}

HRESULT showEditWallet() {
    ModuleState& state = threadState();
    if (!state.frmEditWalletA) state.frmEditWalletA = std::make_unique<frmEditWalletA>();
    return state.frmEditWalletA->Show();
}

}  // namespace cardkeep::dialogs
