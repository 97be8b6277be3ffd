// The pocket and card dialog, shown by EditPocket and driven by a robot.
#include "dialog_fixture.h"

#include <memory>
#include "pocket_dialog.h"
#include "support/free_once_spy.h"
#include "support/stand_in_sealer.h"

using P = cardkeep::dialogs::frmEditPocket;
using namespace dialogtest;
using testsupport::errorDescription;
using testsupport::narrow;
using Names = std::vector<std::wstring>;

namespace {

class PocketDialog : public DialogTest {
protected:
    // Home with two cards, Bank with one.
    void fill() {
        writeSealed(L"NAME", L"Family");
        reinitialise();
        ASSERT_EQ(S_OK, setCard(L"Home", L"Door", L"1234"));
        ASSERT_EQ(S_OK, setCard(L"Home", L"Garage", L"remote 77"));
        ASSERT_EQ(S_OK, setCard(L"Bank", L"Online", L"user 4711"));
    }
    static HWND pocketEdit(HWND dialog) { return DialogRobot::comboEdit(control(dialog, P::txtPocketName)); }
    static HWND cardEdit(HWND dialog) { return DialogRobot::comboEdit(control(dialog, P::txtCardName)); }
    // Chooses a card as a user does, by the first letters of its pocket and
    // its name; returns the information box (not yet focused).
    static HWND chooseCard(DialogRobot& robot, HWND dialog, const wchar_t* pocket, const wchar_t* card) {
        robot.type(pocket);
        robot.focus(dialog, control(dialog, P::txtCardName));
        robot.type(card);
        return control(dialog, P::txtInformation);
    }
};

TEST_F(PocketDialog, ListsThePocketsByThePocketRuleInANativeDialog) {
    // Sections the pocket rule hides, beside ones it shows. The wallet
    // stays without a name: the caption starts with the separator.
    for (const wchar_t* section : {L"wallet", L"Wallets", L"WALLET2", L"walle", L"Pocket WALLET"})
        ASSERT_EQ(S_OK, setCard(section, L"card", L"x"));
    const std::string before = fileBytes();
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - POCKETS");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ((Names{L"walle", L"Pocket WALLET"}), robot.entries(control(dialog, P::txtPocketName)));
        EXPECT_EQ(Names{}, robot.entries(control(dialog, P::txtCardName)));
        expectTexts(dialog, {{P::txtPocketName, L""}, {P::txtCardName, L""}, {P::txtInformation, L""}});

        expectDialogFrame(dialog);
        RECT client{};
        GetClientRect(dialog, &client);
        EXPECT_EQ(pixelsX(5835), client.right);
        EXPECT_EQ(pixelsY(2535), client.bottom);
        for (int id : {P::txtPocketName, P::txtCardName}) {
            HWND box = control(dialog, id);
            EXPECT_EQ(CBS_DROPDOWN, GetWindowLongPtrW(box, GWL_STYLE) & 0x3) << "not an editable drop-down";
            const RECT at = clientRect(dialog, box);
            EXPECT_EQ(pixelsX(240 + 1440), at.left);
            EXPECT_EQ(pixelsX(3735), at.right - at.left);
            EXPECT_EQ(pixelsY(360), at.bottom - at.top) << "the closed box is not the designed height";
        }
        EXPECT_EQ(pixelsY(240), clientRect(dialog, control(dialog, P::txtPocketName)).top);
        EXPECT_EQ(pixelsY(720), clientRect(dialog, control(dialog, P::txtCardName)).top);
        const RECT information = clientRect(dialog, control(dialog, P::txtInformation));
        EXPECT_EQ(pixelsY(1200), information.top);
        EXPECT_EQ(pixelsY(405), information.bottom - information.top);
        const RECT ok = clientRect(dialog, control(dialog, P::cmdOK));
        EXPECT_EQ(pixelsX(240 + 2160), ok.left);
        EXPECT_EQ(pixelsY(1680), ok.top);
        EXPECT_EQ(pixelsY(2415), clientRect(dialog, control(dialog, P::Frame1)).bottom);

        expectTexts(dialog, {{P::lblPocketName, L"Poc&ket Name"},
                             {P::lblCardName, L"C&ard Name"},
                             {P::lblInformation, L"&Information"},
                             {P::cmdOK, L"&OK"},
                             {P::cmdCancel, L"&Cancel"}});
        for (int id : {P::txtPocketName, P::txtCardName, P::txtInformation}) {
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(control(dialog, id), WM_GETFONT, 0, 0));
            LOGFONTW lf{};
            ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
            EXPECT_STREQ(L"MS Sans Serif", lf.lfFaceName);
            EXPECT_EQ(-MulDiv(975, dpiY(), 7200), lf.lfHeight);
        }

        // The pocket box has the focus; Tab and the access keys go round.
        EXPECT_EQ(pocketEdit(dialog), robot.focused());
        robot.key(VK_TAB);
        EXPECT_EQ(cardEdit(dialog), robot.focused());
        robot.key(VK_TAB);
        EXPECT_EQ(control(dialog, P::txtInformation), robot.focused());
        robot.key(VK_TAB);
        EXPECT_EQ(control(dialog, P::cmdOK), robot.focused());
        robot.accessKey(dialog, L'a');
        EXPECT_EQ(cardEdit(dialog), robot.focused());
        robot.accessKey(dialog, L'i');
        EXPECT_EQ(control(dialog, P::txtInformation), robot.focused());
        robot.accessKey(dialog, L'k');
        EXPECT_EQ(pocketEdit(dialog), robot.focused());

        robot.press(control(dialog, P::cmdCancel));
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(before, fileBytes());
}

TEST_F(PocketDialog, AWalletWithoutPocketsListsNothing) {
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - POCKETS");
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(Names{}, robot.entries(control(dialog, P::txtPocketName)));
        EXPECT_EQ(Names{}, robot.entries(control(dialog, P::txtCardName)));
        robot.type(L"H");  // nothing to complete from
        EXPECT_EQ(L"H", robot.text(control(dialog, P::txtPocketName)));
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr);
}

TEST_F(PocketDialog, ChoosingAPocketListsItsCardsAndChoosingACardShowsItsInformation) {
    fill();
    const std::string before = fileBytes();
    editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND pockets = control(dialog, P::txtPocketName), cards = control(dialog, P::txtCardName);
        HWND information = control(dialog, P::txtInformation);
        EXPECT_EQ((Names{L"Home", L"Bank"}), robot.entries(pockets));

        // Something typed into the card box and the information first.
        robot.focus(dialog, cards);
        robot.type(L"junk");
        robot.focus(dialog, information);
        robot.type(L"typed");

        // The arrow keys choose: Home, the first entry.
        robot.focus(dialog, pockets);
        robot.key(VK_DOWN);
        EXPECT_EQ(L"Home", robot.text(pockets));
        EXPECT_EQ(L"", robot.text(cards)) << "choosing a pocket keeps the card box";
        EXPECT_EQ(L"", robot.text(information)) << "choosing a pocket keeps the information";
        EXPECT_EQ((Names{L"Door", L"Garage"}), robot.entries(cards));

        robot.focus(dialog, information);
        robot.type(L"scribble");
        robot.focus(dialog, cards);
        robot.key(VK_DOWN);
        EXPECT_EQ(L"Door", robot.text(cards));
        EXPECT_EQ(L"1234", robot.text(information)) << "choosing a card keeps what was typed";
        robot.key(VK_DOWN);
        EXPECT_EQ(L"Garage", robot.text(cards));
        EXPECT_EQ(L"remote 77", robot.text(information));

        // The next pocket replaces the card list.
        robot.focus(dialog, pockets);
        robot.key(VK_DOWN);
        EXPECT_EQ(L"Bank", robot.text(pockets));
        EXPECT_EQ((Names{L"Online"}), robot.entries(cards));
        EXPECT_EQ(L"", robot.text(cards));
        EXPECT_EQ(L"", robot.text(information));

        // With the list dropped down, Esc still closes the dialog.
        SendMessageW(pockets, CB_SHOWDROPDOWN, TRUE, 0);
        EXPECT_TRUE(SendMessageW(pockets, CB_GETDROPPEDSTATE, 0, 0));
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(before, fileBytes());
}

TEST_F(PocketDialog, TypingCompletesFromTheListsAndChoosesAtOnce) {
    fill();
    ASSERT_EQ(S_OK, setCard(L"Holiday", L"Passport", L"in the drawer"));
    const std::string before = fileBytes();
    editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND pockets = control(dialog, P::txtPocketName), cards = control(dialog, P::txtCardName);
        // One keystroke: completed to Home, the rest selected, and Home's
        // cards listed before the next key.
        robot.type(L"h");
        EXPECT_EQ(L"Home", robot.text(pockets));
        EXPECT_EQ(std::make_pair(DWORD{1}, DWORD{4}), robot.selection(pocketEdit(dialog)));
        EXPECT_EQ((Names{L"Door", L"Garage"}), robot.entries(cards));
        // Holiday differs from the third letter on.
        robot.type(L"ol");
        EXPECT_EQ(L"Holiday", robot.text(pockets));
        EXPECT_EQ(std::make_pair(DWORD{3}, DWORD{7}), robot.selection(pocketEdit(dialog)));
        EXPECT_EQ((Names{L"Passport"}), robot.entries(cards));
        // Backspace matches nothing and deletes the selection as usual.
        robot.key(VK_BACK);
        EXPECT_EQ(L"Hol", robot.text(pockets));
        EXPECT_EQ((Names{L"Passport"}), robot.entries(cards));
        robot.type(L"\bme");
        EXPECT_EQ(L"Home", robot.text(pockets));
        EXPECT_EQ((Names{L"Door", L"Garage"}), robot.entries(cards));

        // In the card box a completion shows the card's information at once.
        robot.focus(dialog, cards);
        robot.type(L"G");
        EXPECT_EQ(L"Garage", robot.text(cards));
        EXPECT_EQ(L"remote 77", robot.text(control(dialog, P::txtInformation)));
        robot.key(VK_ESCAPE, VK_SHIFT);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(before, fileBytes());
}

TEST_F(PocketDialog, OkStoresUnderTheNamesAsTypedAndATypedPocketKeepsTheLastCardList) {
    fill();
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND pockets = control(dialog, P::txtPocketName), cards = control(dialog, P::txtCardName);
        robot.type(L"H");  // chooses Home
        robot.type(L"x");  // "Hx" begins no entry: nothing is chosen
        EXPECT_EQ(L"Hx", robot.text(pockets));
        EXPECT_EQ((Names{L"Door", L"Garage"}), robot.entries(cards)) << "the card list left the last chosen pocket";
        robot.focus(dialog, cards);
        robot.type(L"Door");
        EXPECT_EQ(L"Door", robot.text(cards));
        robot.focus(dialog, control(dialog, P::txtInformation));
        robot.type(L"new code");
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"new code", opened(L"Hx", L"Door"));
    EXPECT_EQ(0u, stored(L"Hx", L"Door").find(L"v1:")) << "not sealed";
    EXPECT_EQ(L"1234", opened(L"Home", L"Door"));
}

TEST_F(PocketDialog, OkReplacesAStoredCardAlsoWithTheEmptyInformation) {
    fill();
    for (const wchar_t* replacement : {L"4321", L""}) {
        SCOPED_TRACE(narrow(replacement));
        const HRESULT hr = editPocket([&](DialogRobot& robot) {
            HWND dialog = robot.waitDialog(L"Family - POCKETS");
            ASSERT_NE(nullptr, dialog);
            HWND information = chooseCard(robot, dialog, L"H", L"D");
            robot.focus(dialog, information);  // its text selected
            if (*replacement) robot.type(replacement);
            else robot.key(VK_BACK);
            EXPECT_EQ(replacement, robot.text(information));
            confirmOk(robot, control(dialog, P::cmdOK), IDYES);
            EXPECT_TRUE(robot.waitGone(dialog));
        });
        ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
        EXPECT_EQ(replacement, opened(L"Home", L"Door"));
        EXPECT_EQ(0u, stored(L"Home", L"Door").find(L"v1:")) << "not sealed";
    }
    EXPECT_EQ(L"remote 77", opened(L"Home", L"Garage"));
}

TEST_F(PocketDialog, TheInformationLimitStopsTypingButAStoredLongerCardIsKeptWhole) {
    fill();
    const std::wstring longInformation = repeat(L"stored through SetCard, longer than the box takes; ", 150);
    ASSERT_EQ(S_OK, setCard(L"Home", L"Long", longInformation));
    const std::wstring typed = repeat(L"0123456789", 120);
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND information = chooseCard(robot, dialog, L"H", L"L");
        EXPECT_EQ(longInformation, robot.text(information)) << "the stored information was cut when shown";
        robot.focus(dialog, information);
        robot.key(VK_END);
        robot.type(L"xyz");
        EXPECT_EQ(longInformation, robot.text(information)) << "typing went past the limit";
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(longInformation, opened(L"Home", L"Long")) << "the stored information was cut when written back";

    editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        robot.type(L"Bank");
        robot.focus(dialog, control(dialog, P::txtCardName));
        robot.type(L"Typed");
        robot.focus(dialog, control(dialog, P::txtInformation));
        robot.type(typed);
        EXPECT_EQ(typed.substr(0, 100), robot.text(control(dialog, P::txtInformation)));
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(typed.substr(0, 100), opened(L"Bank", L"Typed"));
}

TEST_F(PocketDialog, NoCancelEscapeAndTheCloseBoxWriteNothing) {
    fill();
    const std::string before = fileBytes();
    const struct Way {
        const char* name;
        void (*leave)(DialogRobot&, HWND);
    } ways[] = {
        {"No, then Cancel",
         [](DialogRobot& r, HWND d) {
             r.press(control(d, P::cmdOK));
             HWND box = r.waitBox(L"Sure...");
             ASSERT_NE(nullptr, box);
             r.answer(box, IDNO);
             ASSERT_TRUE(r.sync());
             EXPECT_TRUE(IsWindowVisible(d));
             EXPECT_EQ(L"Home", DialogRobot::text(control(d, P::txtPocketName)));
             EXPECT_EQ(L"Door", DialogRobot::text(control(d, P::txtCardName)));
             EXPECT_EQ(L"changed", DialogRobot::text(control(d, P::txtInformation)));
             r.press(control(d, P::cmdCancel));
         }},
        {"Esc", [](DialogRobot& r, HWND) { r.key(VK_ESCAPE); }},
        {"Ctrl+Esc", [](DialogRobot& r, HWND) { r.key(VK_ESCAPE, VK_CONTROL); }},
        {"the close box", [](DialogRobot& r, HWND d) { r.closeBox(d); }},
        {"Enter, then Esc",
         [](DialogRobot& r, HWND d) {
             r.key(VK_RETURN);
             ASSERT_TRUE(r.sync());
             EXPECT_EQ(nullptr, uirobot::find(uirobot::ownWindows(uirobot::Kind::messageBox, L"Sure...")))
                 << "Enter pressed OK";
             r.key(VK_ESCAPE);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        const HRESULT hr = editPocket([&](DialogRobot& robot) {
            HWND dialog = robot.waitDialog(L"Family - POCKETS");
            ASSERT_NE(nullptr, dialog);
            robot.focus(dialog, chooseCard(robot, dialog, L"H", L"D"));
            robot.type(L"changed");
            expectHostBlocked(dialog);
            way.leave(robot, dialog);
            EXPECT_TRUE(robot.waitGone(dialog)) << "the dialog stayed open";
        });
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(before, fileBytes());
    }
}

TEST_F(PocketDialog, NamesOutsideTheAnsiCodePageComplete) {
    ASSERT_EQ(S_OK, setCard(L"\u03A9mega", L"\u4E2D\u6587\u5361", L"\u20AC 12"));
    ASSERT_EQ(S_OK, setCard(L"\u4E2D\u6587", L"card", L"x"));
    editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND pockets = control(dialog, P::txtPocketName);
        robot.type(L"\u4E2D");
        EXPECT_EQ(L"\u4E2D\u6587", robot.text(pockets));
        robot.key(VK_BACK);
        robot.key(VK_BACK);
        robot.type(L"\u03A9");
        EXPECT_EQ(L"\u03A9mega", robot.text(pockets));
        robot.focus(dialog, control(dialog, P::txtCardName));
        robot.type(L"\u4E2D");
        EXPECT_EQ(L"\u4E2D\u6587\u5361", robot.text(control(dialog, P::txtCardName)));
        EXPECT_EQ(L"\u20AC 12", robot.text(control(dialog, P::txtInformation)));
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
}

TEST_F(PocketDialog, ANameTheFileRefusesIsShownAndTheDialogKeepsWhatWasTyped) {
    fill();
    const std::string before = fileBytes();
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        // No pocket name at all.
        robot.focus(dialog, control(dialog, P::txtCardName));
        robot.type(L"Key");
        robot.focus(dialog, control(dialog, P::txtInformation));
        robot.type(L"under the mat");
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        HWND box = robot.waitBox(L"Family - POCKETS");
        ASSERT_NE(nullptr, box) << "the refusal was not shown";
        const BoxLook seen = look(box);
        EXPECT_FALSE(seen.text.empty());
        EXPECT_EQ(LoadIconW(nullptr, IDI_EXCLAMATION), seen.icon);
        robot.answer(box, IDOK);
        ASSERT_TRUE(robot.sync());
        EXPECT_TRUE(IsWindowVisible(dialog)) << "a refused name unloaded the dialog";
        EXPECT_EQ(L"Key", robot.text(control(dialog, P::txtCardName)));
        EXPECT_EQ(L"under the mat", robot.text(control(dialog, P::txtInformation)));
        EXPECT_EQ(before, fileBytes());
        // With a pocket name the same dialog stores the card.
        robot.focus(dialog, control(dialog, P::txtPocketName));
        robot.type(L"Garden");
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"under the mat", opened(L"Garden", L"Key"));
}

TEST_F(PocketDialog, AFailureWhileChoosingIsShownAndTheDialogStaysOpen) {
    fill();
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L"Family - POCKETS");
        ASSERT_NE(nullptr, dialog);
        // The file turns into a folder while the dialog is open.
        auto folder = std::make_unique<FolderInPlaceOf>(file());
        ASSERT_TRUE(folder->ok());
        robot.type(L"B");
        HWND box = robot.waitBox(L"Family - POCKETS");
        ASSERT_NE(nullptr, box) << "the failure was not shown";
        expectHostBlocked(dialog);
        EXPECT_NE(std::wstring::npos, look(box).text.find(L"wallet.cdw")) << narrow(look(box).text);
        robot.answer(box, IDOK);
        ASSERT_TRUE(robot.sync());
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(L"Bank", robot.text(control(dialog, P::txtPocketName)));
        folder.reset();
        robot.key(VK_ESCAPE);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    EXPECT_EQ(S_OK, hr);
}

TEST_F(PocketDialog, AFailureWhileLoadingComesBackFromEditPocketAndNoDialogIsShown) {
    fill();
    const FolderInPlaceOf folder(file());
    ASSERT_TRUE(folder.ok());
    bool shown = true;
    const HRESULT hr = editPocket([&](DialogRobot& robot) { shown = robot.sawDialogUntilDone(L"Family - POCKETS"); });
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(shown) << "a dialog that could not be loaded was shown";
    expectWalletFileError();
}

// The dialog's strings pass by reference to a cryptography component that
// frees and replaces them: each is freed once.
TEST_F(PocketDialog, StringsTheCryptographyComponentReplacesAreFreedOnce) {
    testsupport::FreeOnceSpy& spy = testsupport::FreeOnceSpy::begin();
    testsupport::ReplacingSealer sealer;
    useSealer(&sealer);
    ASSERT_EQ(S_OK, setCard(L"Home", L"Door", L"1234"));
    const HRESULT hr = editPocket([&](DialogRobot& robot) {
        HWND dialog = robot.waitDialog(L" - POCKETS");
        ASSERT_NE(nullptr, dialog);
        HWND information = chooseCard(robot, dialog, L"H", L"D");
        EXPECT_EQ(L"1234", robot.text(information));
        robot.focus(dialog, information);
        robot.type(L"4321");
        confirmOk(robot, control(dialog, P::cmdOK), IDYES);
        EXPECT_TRUE(robot.waitGone(dialog));
    });
    ASSERT_EQ(S_OK, hr) << narrow(errorDescription());
    EXPECT_EQ(L"r:4321", stored(L"Home", L"Door"));
    wallet.Reset();
    EXPECT_LE(2 * 3, sealer.replaced()) << "one card sealed, one opened, one sealed from the dialog";
    EXPECT_EQ(0, spy.freedTwice()) << "a string was freed twice";
}

}  // namespace
