// The wallet details dialog, shown by EditWallet and driven by a robot.
#include "dialog_fixture.h"
#include "ui_robot.h"
#include "support/free_once_spy.h"
#include "support/stand_in_sealer.h"
#include "wallet_dialog.h"

#include <thread>

using W = cardkeep::dialogs::frmEditWalletA;
using namespace dialogtest;
using testsupport::errorDescription;
using testsupport::narrow;

namespace {

class WalletDialog : public DialogTest {
protected:
    // A wallet named Home with all four values stored.
    void fill(const std::wstring& password = L"Secret") {
        writeSealed(L"NAME", L"Home");
        writeSealed(L"DESCRIPTION", L"Our cards");
        ASSERT_EQ(S_OK, changePassword(password, L"the pet"));
        reinitialise();
    }
};

// The face the screen really uses for a control's font: without the
// prefix's own fonts another face stands in for it.
std::wstring resolvedFace(HWND window) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return face;
}

std::wstring fontFace(HWND window, LONG* height = nullptr) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    if (!font || !GetObjectW(font, sizeof lf, &lf)) return L"<system font>";
    if (height) *height = lf.lfHeight;
    return lf.lfFaceName;
}

using CanUnload = HRESULT(STDAPICALLTYPE*)();

TEST_F(WalletDialog, OpensWithTheStoredValuesAsANativeDialogInTheDesignedLayout) {
    fill();
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);

        // A fixed dialog frame with only a close box, not in the task bar,
        // above the host's window, which takes no input meanwhile.
        expectDialogFrame(dialog);

        // The layout, twips converted at the screen's resolution.
        RECT client{};
        GetClientRect(dialog, &client);
        EXPECT_EQ(pixelsX(5625), client.right);
        EXPECT_EQ(pixelsY(3570), client.bottom);
        const RECT name = clientRect(dialog, control(dialog, W::txtWalletName));
        EXPECT_EQ(pixelsX(120 + 1560), name.left);
        EXPECT_EQ(pixelsY(120 + 240), name.top);
        EXPECT_EQ(pixelsX(3615), name.right - name.left);
        EXPECT_EQ(pixelsY(375), name.bottom - name.top);
        const RECT hint = clientRect(dialog, control(dialog, W::txtPasswordHint));
        EXPECT_EQ(pixelsY(120 + 2160), hint.top);
        const RECT confirmLabel = clientRect(dialog, control(dialog, W::lblPasswordConfirm));
        EXPECT_EQ(pixelsX(1335), confirmLabel.right - confirmLabel.left);
        EXPECT_EQ(pixelsY(120 + 1800), confirmLabel.top);
        const RECT cancel = clientRect(dialog, control(dialog, W::cmdCancel));
        EXPECT_EQ(pixelsX(120 + 3720), cancel.left);
        EXPECT_EQ(pixelsY(120 + 2640), cancel.top);
        EXPECT_EQ(pixelsX(1455), cancel.right - cancel.left);
        EXPECT_EQ(pixelsY(495), cancel.bottom - cancel.top);
        const RECT frame = clientRect(dialog, control(dialog, W::Frame1));
        EXPECT_EQ(pixelsX(120), frame.left);
        EXPECT_EQ(pixelsY(3375), frame.bottom - frame.top);

        // Captions, values, masking.
        expectTexts(dialog, {{W::lblWalletName, L"Wallet &Name"},
                             {W::lblWalletDescription, L"&Description"},
                             {W::lblPasswordEnter, L"&Password"},
                             {W::lblPasswordConfirm, L"Con&firm "},
                             {W::lblPasswordHint, L"Password &Hint"},
                             {W::cmdOK, L"&OK"},
                             {W::cmdCancel, L"&Cancel"},
                             {W::Frame1, L""},
                             {W::txtWalletName, L"Home"},
                             {W::txtWalletDescription, L"Our cards"},
                             {W::txtPasswordEnter, L"Secret"},
                             {W::txtPasswordConfirm, L""},
                             {W::txtPasswordHint, L"the pet"}});
        for (int id : {W::txtPasswordEnter, W::txtPasswordConfirm}) {
            EXPECT_TRUE(GetWindowLongPtrW(control(dialog, id), GWL_STYLE) & ES_PASSWORD);
            EXPECT_EQ(L'*', SendMessageW(control(dialog, id), EM_GETPASSWORDCHAR, 0, 0));
        }
        EXPECT_FALSE(GetWindowLongPtrW(control(dialog, W::txtWalletName), GWL_STYLE) & ES_PASSWORD);

        // Fields in MS Sans Serif at 9.75 points; labels and buttons in the dialog's font.
        LONG height = 0;
        EXPECT_EQ(L"MS Sans Serif", fontFace(control(dialog, W::txtPasswordHint), &height));
        EXPECT_EQ(-MulDiv(975, dpiY(), 7200), height);
        EXPECT_EQ(L"MS Sans Serif", resolvedFace(control(dialog, W::txtWalletName)));
        EXPECT_NE(L"MS Sans Serif", fontFace(control(dialog, W::lblWalletName)));
        EXPECT_EQ(fontFace(dialog), fontFace(control(dialog, W::cmdOK)));

        // Neither button is the default one.
        for (int id : {W::cmdOK, W::cmdCancel})
            EXPECT_NE(BS_DEFPUSHBUTTON, GetWindowLongPtrW(control(dialog, id), GWL_STYLE) & BS_TYPEMASK);
        const LRESULT defId = SendMessageW(dialog, DM_GETDEFID, 0, 0);
        if (HIWORD(defId) == DC_HASDEFID) {
            EXPECT_EQ(nullptr, GetDlgItem(dialog, LOWORD(defId))) << "a control is the dialog's default";
        }
        EXPECT_EQ(nullptr, GetDlgItem(dialog, IDOK));
        EXPECT_EQ(nullptr, GetDlgItem(dialog, IDCANCEL));

        // The name has the focus with its text selected; Tab goes through
        // the fields and buttons in order.
        EXPECT_EQ(control(dialog, W::txtWalletName), robot.focused());
        EXPECT_EQ(std::make_pair(DWORD{0}, DWORD{4}), robot.selection(control(dialog, W::txtWalletName)));
        const int order[] = {W::txtWalletName, W::txtWalletDescription, W::txtPasswordEnter, W::txtPasswordConfirm,
                             W::txtPasswordHint, W::cmdOK, W::cmdCancel, W::txtWalletName};
        for (size_t i = 0; i + 1 < std::size(order); ++i) {
            robot.key(VK_TAB);
            EXPECT_EQ(control(dialog, order[i + 1]), robot.focused()) << "tab stop " << i + 1;
        }

        // The library stays loaded while its dialog is open.
        auto canUnload = reinterpret_cast<CanUnload>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"cardkeep.dll"), "DllCanUnloadNow")));
        ASSERT_NE(nullptr, canUnload);
        EXPECT_EQ(S_FALSE, canUnload());

        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
}

TEST_F(WalletDialog, AccessKeysMoveToTheirFieldsAndSelectTheWholeText) {
    fill();
    const std::string before = fileBytes();
    editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        const struct {
            wchar_t letter;
            int field;
            DWORD length;
        } keys[] = {{L'd', W::txtWalletDescription, 9}, {L'h', W::txtPasswordHint, 7}, {L'p', W::txtPasswordEnter, 6},
                    {L'f', W::txtPasswordConfirm, 0}, {L'n', W::txtWalletName, 4}};
        for (const auto& k : keys) {
            robot.accessKey(dialog, k.letter);
            EXPECT_EQ(control(dialog, k.field), robot.focused()) << "Alt+" << static_cast<char>(k.letter);
            EXPECT_EQ(std::make_pair(DWORD{0}, k.length), robot.selection(control(dialog, k.field)));
        }
        // Typing replaces the selected text.
        robot.type(L"Work");
        EXPECT_EQ(L"Work", robot.text(control(dialog, W::txtWalletName)));
        robot.press(control(dialog, W::cmdCancel));
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(before, fileBytes());
}

TEST_F(WalletDialog, YesWritesTheChangedValuesSealedAndTheNextShowingReadsThemBack) {
    // A new wallet: no name (the caption starts with the separator) and an
    // empty password, so two empty password fields agree.
    const std::wstring nowBefore = stored(L"WALLET", L"NOW");
    SYSTEMTIME start{};
    GetLocalTime(&start);
    DATE startDate = 0;
    SystemTimeToVariantTime(&start, &startDate);
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"", robot.text(control(dialog, W::txtPasswordEnter)));
        robot.type(L"Holiday");
        robot.focus(dialog, control(dialog, W::txtWalletDescription));
        robot.type(L"Cards = travel; [not a section]");
        robot.focus(dialog, control(dialog, W::txtPasswordHint));
        robot.type(L"none");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog)) << "OK with Yes did not unload the dialog";
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"Holiday", opened(L"WALLET", L"NAME")) << "stored as " << narrow(stored(L"WALLET", L"NAME"));
    EXPECT_EQ(L"Cards = travel; [not a section]", opened(L"WALLET", L"DESCRIPTION"));
    EXPECT_EQ(L"none", opened(L"WALLET", L"HINT"));
    EXPECT_EQ(L"", stored(L"WALLET", L"PASSWORD")) << "the untouched password was written";
    for (const wchar_t* key : {L"NAME", L"DESCRIPTION", L"HINT", L"MODIFIED"})
        EXPECT_EQ(0u, stored(L"WALLET", key).find(L"v1:")) << narrow(key) << " is not sealed";
    EXPECT_EQ(nowBefore, stored(L"WALLET", L"NOW")) << "NOW is the initialisation's";

    // MODIFIED holds the save time in the user's general date form.
    const std::wstring modified = opened(L"WALLET", L"MODIFIED");
    comkit::Variant asText = comkit::Variant::text(modified), asDate;
    ASSERT_EQ(S_OK, VariantChangeType(asDate.put(), asText.get(), 0, VT_DATE)) << narrow(modified);
    EXPECT_GE(asDate.get()->date, startDate - 2.0 / 86400) << narrow(modified);
    EXPECT_LE(asDate.get()->date, startDate + 1.0 / 24) << narrow(modified);

    // Shown again: the file's values, an empty confirmation, and the old
    // caption until the wallet is initialised again.
    editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog) << "the saved name reached the caption before an initialisation";
        EXPECT_EQ(L"Holiday", robot.text(control(dialog, W::txtWalletName)));
        EXPECT_EQ(L"none", robot.text(control(dialog, W::txtPasswordHint)));
        robot.focus(dialog, control(dialog, W::txtPasswordConfirm));
        robot.type(L"typed, never kept");
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    reinitialise();
    editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Holiday - WALLET");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"", robot.text(control(dialog, W::txtPasswordConfirm)));
        robot.closeBox(dialog);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
}

// OK writes the fields the user changed, and the time, nothing else: a
// password another host stored while the dialog was open (masked, the user
// cannot see that it is not the one shown) stays, and a stored value that
// does not open, shown empty, stays as it is stored.
TEST_F(WalletDialog, OkWritesOnlyWhatTheUserChanged) {
    fill(L"Secret");
    std::wstring damaged = stored(L"WALLET", L"DESCRIPTION");
    ASSERT_GT(damaged.size(), 20u);
    damaged[damaged.size() / 2] = damaged[damaged.size() / 2] == L'Q' ? L'R' : L'Q';
    writeStored(L"DESCRIPTION", damaged);
    const std::wstring hint = stored(L"WALLET", L"HINT");
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"", robot.text(control(dialog, W::txtWalletDescription)));
        // The other host, on a thread of its own.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        writeSealed(L"PASSWORD", L"Changed elsewhere");
        CoUninitialize();
        robot.type(L"Renamed");
        robot.focus(dialog, control(dialog, W::txtPasswordConfirm));
        robot.type(L"Secret");  // the password the dialog shows
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"Renamed", opened(L"WALLET", L"NAME"));
    EXPECT_EQ(L"Changed elsewhere", opened(L"WALLET", L"PASSWORD")) << "OK put back the password it had shown";
    EXPECT_EQ(damaged, stored(L"WALLET", L"DESCRIPTION")) << "a value that did not open was replaced";
    EXPECT_EQ(hint, stored(L"WALLET", L"HINT")) << "an unchanged field was written";
    EXPECT_NE(L"", opened(L"WALLET", L"MODIFIED"));
}

// A second wallet object on the thread, for another title, shares the
// thread's components but not its wallet: the first object's dialog still
// shows, captions and writes the first wallet.
TEST_F(WalletDialog, EachObjectsDialogShowsAndWritesItsOwnWallet) {
    writeSealed(L"NAME", L"Home");
    reinitialise();
    comkit::ComPtr<_clsWALLETA> other;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                     reinterpret_cast<void**>(other.GetAddressOf())));
    {
        uirobot::BoxRobot notices;
        ASSERT_EQ(S_OK, other->putref_AppObject(testsupport::FakeHost::make(L"Ledger", L"Other", 3, 10).Get()));
    }
    comkit::Bstr otherFile;
    ASSERT_EQ(S_OK, other->get_WalletPath(otherFile.put()));
    const std::string otherBefore = testsupport::readBytes(std::wstring(otherFile.view()));
    ASSERT_FALSE(otherBefore.empty());

    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog) << "the dialog is not the first object's";
        EXPECT_EQ(L"Home", robot.text(control(dialog, W::txtWalletName)));
        robot.type(L"Work");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"Work", opened(L"WALLET", L"NAME"));
    EXPECT_EQ(otherBefore, testsupport::readBytes(std::wstring(otherFile.view()))) << "the other wallet was written";
}

TEST_F(WalletDialog, PasswordsMustAgreeExactlyAndAMismatchReturnsToTheConfirmation) {
    fill(L"Secret");
    const std::string before = fileBytes();
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        HWND confirmation = control(dialog, W::txtPasswordConfirm);
        robot.type(L"Renamed");
        // Nothing typed into the confirmation, then the wrong case, then a
        // trailing blank: three mismatches.
        for (const wchar_t* attempt : {L"", L"secret", L"Secret "}) {
            if (*attempt) {
                robot.type(attempt);  // the confirmation is focused, its text selected
                EXPECT_EQ(attempt, robot.text(confirmation));
            }
            confirmOk(robot, control(dialog, W::cmdOK), IDYES);
            HWND box = robot.waitBox(L"Invalid Passwords...");
            ASSERT_NE(nullptr, box) << "no mismatch message for '" << narrow(attempt) << "'";
            const BoxLook seen = look(box);
            EXPECT_EQ(L"Password entered and confirm password not matched", seen.text);
            EXPECT_EQ(std::set<int>{IDOK}, seen.buttons);
            EXPECT_EQ(LoadIconW(nullptr, IDI_INFORMATION), seen.icon);
            robot.answer(box, IDOK);
            ASSERT_TRUE(robot.sync());
            EXPECT_EQ(confirmation, robot.focused());
            const DWORD length = static_cast<DWORD>(wcslen(attempt));
            EXPECT_EQ(std::make_pair(DWORD{0}, length), robot.selection(confirmation));
            EXPECT_TRUE(IsWindowVisible(dialog));
            EXPECT_EQ(before, fileBytes()) << "a mismatch wrote to the wallet";
        }
        robot.type(L"Secret");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"Renamed", opened(L"WALLET", L"NAME"));
    EXPECT_EQ(L"Secret", opened(L"WALLET", L"PASSWORD"));
}

TEST_F(WalletDialog, NoCancelEscapeAndTheCloseBoxWriteNothing) {
    fill(L"");
    const std::string before = fileBytes();
    // Each way out, after changing a field; the last word is the control
    // that has the focus when the key goes down.
    const struct Way {
        const char* name;
        void (*leave)(DialogRobot&, HWND);
    } ways[] = {
        {"Cancel", [](DialogRobot& r, HWND d) { r.press(control(d, W::cmdCancel)); }},
        {"Esc in a field", [](DialogRobot& r, HWND) { r.key(VK_ESCAPE); }},
        {"Shift+Esc in a field", [](DialogRobot& r, HWND) { r.key(VK_ESCAPE, VK_SHIFT); }},
        {"Ctrl+Esc on the OK button",
         [](DialogRobot& r, HWND d) {
             r.focus(d, control(d, W::cmdOK));
             r.key(VK_ESCAPE, VK_CONTROL);
         }},
        {"the close box", [](DialogRobot& r, HWND d) { r.closeBox(d); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        const HRESULT hr = editWallet([&](DialogRobot& robot) {
            HWND dialog = robot.waitDialog(L"Home - WALLET");
            ASSERT_NE(nullptr, dialog);
            robot.type(L"Changed");
            robot.focus(dialog, control(dialog, W::txtPasswordHint));
            robot.type(L"changed too");
            // No first: the dialog stays as it was.
            if (&way == &ways[0]) {
                confirmOk(robot, control(dialog, W::cmdOK), IDNO);
                ASSERT_TRUE(robot.sync());
                EXPECT_TRUE(IsWindowVisible(dialog));
                EXPECT_EQ(L"Changed", robot.text(control(dialog, W::txtWalletName)));
                EXPECT_EQ(L"changed too", robot.text(control(dialog, W::txtPasswordHint)));
                EXPECT_EQ(before, fileBytes()) << "No wrote to the wallet";
            }
            expectHostBlocked(dialog);
            way.leave(robot, dialog);
            EXPECT_TRUE(robot.waitGone(dialog)) << "the dialog stayed open";
        });
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(before, fileBytes());
    }
}

TEST_F(WalletDialog, EnterInAFieldDoesNotPressOk) {
    fill(L"");
    const std::string before = fileBytes();
    editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        for (int field : {W::txtWalletName, W::txtPasswordHint}) {
            robot.focus(dialog, control(dialog, field));
            robot.key(VK_RETURN);
            ASSERT_TRUE(robot.sync());
            // Had Enter pressed OK, the confirmation would be showing by now.
            EXPECT_EQ(nullptr, uirobot::find(uirobot::ownWindows(uirobot::Kind::messageBox, L"Sure...")));
            EXPECT_TRUE(IsWindowVisible(dialog));
        }
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(before, fileBytes());
}

TEST_F(WalletDialog, TheHintLimitStopsTypingButAStoredLongerHintIsKeptWhole) {
    const std::wstring longHint = repeat(L"a long hint, stored through ChangePassword; ", 70);
    ASSERT_EQ(S_OK, changePassword(L"", longHint));
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog);
        HWND hint = control(dialog, W::txtPasswordHint);
        EXPECT_EQ(longHint, robot.text(hint)) << "the stored hint was cut when shown";
        robot.focus(dialog, hint);
        robot.key(VK_END);
        robot.type(L"xyz");
        EXPECT_EQ(longHint, robot.text(hint)) << "typing went past the limit";
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(longHint, opened(L"WALLET", L"HINT")) << "the stored hint was cut when written back";

    // Typing into it stops at 50 characters.
    const std::wstring typed = repeat(L"0123456789", 60);
    const HRESULT typedHr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog);
        HWND hint = control(dialog, W::txtPasswordHint);
        robot.focus(dialog, hint);  // the whole long hint selected: typing replaces it
        robot.type(typed);
        EXPECT_EQ(typed.substr(0, 50), robot.text(hint));
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, typedHr) << narrow(errorDescription());
    EXPECT_EQ(typed.substr(0, 50), opened(L"WALLET", L"HINT")) << "the typed hint was not written back";
}

TEST_F(WalletDialog, AFailureWhileSavingIsShownAndTheDialogKeepsWhatWasTyped) {
    fill(L"");
    const std::string before = fileBytes();
    ASSERT_TRUE(SetFileAttributesW(file().c_str(), FILE_ATTRIBUTE_READONLY));
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        robot.type(L"Renamed");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        HWND box = robot.waitBox(L"Home - WALLET");
        ASSERT_NE(nullptr, box) << "the failure was not shown";
        expectHostBlocked(dialog);
        const BoxLook seen = look(box);
        EXPECT_NE(std::wstring::npos, seen.text.find(L"read-only")) << narrow(seen.text);
        EXPECT_NE(std::wstring::npos, seen.text.find(L"not changed")) << narrow(seen.text);
        EXPECT_EQ(seen.text.find(L"not changed"), seen.text.rfind(L"not changed")) << "said twice: " << narrow(seen.text);
        EXPECT_EQ(LoadIconW(nullptr, IDI_EXCLAMATION), seen.icon);
        robot.answer(box, IDOK);
        ASSERT_TRUE(robot.sync());
        EXPECT_TRUE(IsWindowVisible(dialog)) << "a failed save unloaded the dialog";
        EXPECT_EQ(L"Renamed", robot.text(control(dialog, W::txtWalletName)));
        EXPECT_EQ(before, fileBytes());
        // Once the file can be written, the same dialog saves.
        SetFileAttributesW(file().c_str(), FILE_ATTRIBUTE_NORMAL);
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"Renamed", opened(L"WALLET", L"NAME"));
}

TEST_F(WalletDialog, AFailureWhileLoadingComesBackFromEditWalletAndNoDialogIsShown) {
    fill();
    {
        const FolderInPlaceOf folder(file());
        ASSERT_TRUE(folder.ok());
        bool shown = true;
        const HRESULT hr = editWallet([&](DialogRobot& robot) { shown = robot.sawDialogUntilDone(L"Home - WALLET"); });
        EXPECT_TRUE(FAILED(hr));
        EXPECT_FALSE(shown) << "a dialog that could not be loaded was shown";
        expectWalletFileError();
    }
    // The next showing works again.
    const HRESULT again = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Home - WALLET");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"Home", robot.text(control(dialog, W::txtWalletName)));
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, again);
}

TEST_F(WalletDialog, AValueThatCannotBeSealedIsNotWrittenAndTheDialogSaysSo) {
    fill(L"");
    static testsupport::EmptySealer empty;  // the fixture releases the wallet after the test
    useSealer(&empty);
    const std::string before = fileBytes();
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        // Nothing can be opened either: every field reads empty.
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(L"", robot.text(control(dialog, W::txtWalletName)));
        robot.type(L"Unsealable");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        HWND box = robot.waitBox(L" - WALLET");
        ASSERT_NE(nullptr, box) << "the dialog did not say that nothing was written";
        EXPECT_EQ(L"A value could not be sealed, so nothing was written.", look(box).text);
        robot.answer(box, IDOK);
        ASSERT_TRUE(robot.sync());
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(L"Unsealable", robot.text(control(dialog, W::txtWalletName)));
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(before, fileBytes()) << "an empty seal replaced stored values";
}

// The dialog's strings pass by reference to a cryptography component that
// frees and replaces them: each is freed once.
TEST_F(WalletDialog, StringsTheCryptographyComponentReplacesAreFreedOnce) {
    testsupport::FreeOnceSpy& spy = testsupport::FreeOnceSpy::begin();
    testsupport::ReplacingSealer sealer;
    useSealer(&sealer);
    const HRESULT hr = editWallet([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - WALLET");
        ASSERT_NE(nullptr, dialog);
        robot.type(L"Replaced");
        confirmOk(robot, control(dialog, W::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"r:Replaced", stored(L"WALLET", L"NAME"));
    wallet.Reset();
    EXPECT_LE(2 * (4 + 2), sealer.replaced()) << "four values opened, the name and the time sealed, two strings each";
    EXPECT_EQ(0, spy.freedTwice()) << "a string was freed twice";
}

}  // namespace
