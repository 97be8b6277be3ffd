// SelectActiveControlText and ComboAutoComplete on the platform's own
// controls, in a window of the test's own: focus moved for real, keystrokes
// sent to the combo box's edit control through the same subclass the
// dialogs put on it.
#include "common.h"
#include "ui_robot.h"
#include "platform_text.h"
#include "window_guards.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using cardkeep::Common::ComboAutoComplete;
using cardkeep::Common::SelectActiveControlText;
using cardkeep::dialogs::WindowSubclass;
using comkit::windowText;
using uirobot::selection;

namespace {

constexpr int kEditId = 10, kComboId = 11, kListId = 12, kButtonId = 13, kEmptyComboId = 14;

// What the parent saw of the box when it was told of a choice.
struct Choice {
    int id;
    LRESULT index;
    std::wstring text;
};
std::vector<Choice> g_choices;

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
        HWND combo = reinterpret_cast<HWND>(lParam);
        g_choices.push_back({LOWORD(wParam), SendMessageW(combo, CB_GETCURSEL, 0, 0), windowText(combo)});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The dialogs' keystroke path: each character meets ComboAutoComplete
// before the box, and a key code set to 0 drops it.
LRESULT CALLBACK typeAheadProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_CHAR) {
        SHORT keyCode = static_cast<SHORT>(LOWORD(wParam));
        ComboAutoComplete(GetParent(edit), keyCode);
        if (keyCode == 0) return 0;
        wParam = static_cast<unsigned short>(keyCode);
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

class InputConveniences : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = parentProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"CardkeepInputTest";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, L"CardkeepInputTest", L"input test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400,
                                 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, parent);
        edit = child(L"Edit", kEditId, ES_AUTOHSCROLL | WS_TABSTOP, 10);
        combo = child(L"ComboBox", kComboId, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 40);
        list = child(L"ComboBox", kListId, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 70);
        emptyCombo = child(L"ComboBox", kEmptyComboId, CBS_DROPDOWN | WS_TABSTOP, 100);
        button = child(L"Button", kButtonId, BS_PUSHBUTTON | WS_TABSTOP, 130);
        for (HWND box : {combo, list}) {
            SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Savings"));
            SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"bank"));
        }
        comboEdit = uirobot::comboEdit(combo);
        ASSERT_NE(nullptr, comboEdit);
        subclass = std::make_unique<WindowSubclass>(comboEdit, typeAheadProc, 1, 0);
        emptySubclass = std::make_unique<WindowSubclass>(uirobot::comboEdit(emptyCombo), typeAheadProc, 1, 0);
        SetForegroundWindow(parent);
        g_choices.clear();
    }
    void TearDown() override {
        subclass.reset();
        emptySubclass.reset();
        DestroyWindow(parent);
    }

    HWND child(const wchar_t* cls, int id, DWORD style, int top) {
        HWND c = CreateWindowExW(WS_EX_CLIENTEDGE, cls, L"", WS_CHILD | WS_VISIBLE | style, 10, top, 200, 150, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(nullptr, c);
        return c;
    }
    void typeInto(HWND target, const std::wstring& text) {
        for (wchar_t c : text) SendMessageW(target, WM_CHAR, c, 1);
    }
    // Puts text in the box with the caret at the given place.
    void prepare(HWND box, const wchar_t* text, DWORD caret) {
        SetWindowTextW(box, text);
        SendMessageW(uirobot::comboEdit(box), EM_SETSEL, caret, caret);
        g_choices.clear();
    }

    HWND parent = nullptr, edit = nullptr, combo = nullptr, list = nullptr, emptyCombo = nullptr, button = nullptr;
    HWND comboEdit = nullptr;
    std::unique_ptr<WindowSubclass> subclass, emptySubclass;
};

using Sel = std::pair<DWORD, DWORD>;

TEST_F(InputConveniences, SelectActiveControlTextSelectsTheWholeTextOfTheFocusedField) {
    SetWindowTextW(edit, L"Bank");
    SetFocus(edit);
    ASSERT_EQ(edit, GetFocus());
    SendMessageW(edit, EM_SETSEL, 2, 2);
    SelectActiveControlText();
    EXPECT_EQ(Sel(0, 4), selection(edit));

    // An editable combo box: its edit part holds the focus and the text.
    SetWindowTextW(combo, L"Savings");
    SetFocus(comboEdit);
    SendMessageW(comboEdit, EM_SETSEL, 7, 7);
    SelectActiveControlText();
    EXPECT_EQ(Sel(0, 7), selection(comboEdit));

    // An empty field: nothing to select, nothing raised.
    SetWindowTextW(edit, L"");
    SetFocus(edit);
    SelectActiveControlText();
    EXPECT_EQ(Sel(0, 0), selection(edit));
}

TEST_F(InputConveniences, SelectActiveControlTextPassesOverControlsWithoutText) {
    SetWindowTextW(edit, L"Bank");
    SendMessageW(edit, EM_SETSEL, 1, 1);
    SendMessageW(list, CB_SETCURSEL, 1, 0);
    for (HWND focus : {button, list}) {
        SetFocus(focus);
        ASSERT_EQ(focus, GetFocus());
        SelectActiveControlText();
        EXPECT_EQ(1, SendMessageW(list, CB_GETCURSEL, 0, 0));
    }
    SetFocus(nullptr);
    SelectActiveControlText();  // no focus at all
    EXPECT_EQ(Sel(1, 1), selection(edit)) << "a control without the focus was changed";
}

TEST_F(InputConveniences, TypingBCompletesToBankWithTheRestSelected) {
    SHORT keyCode = L'B';
    SetFocus(comboEdit);
    ComboAutoComplete(combo, keyCode);
    EXPECT_EQ(0, keyCode) << "the keystroke was not cancelled";
    EXPECT_EQ(L"bank", windowText(combo)) << "the entry's own letter case replaces the typed one";
    EXPECT_EQ(Sel(1, 4), selection(comboEdit));
    EXPECT_EQ(1, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    // Setting the list index counted as choosing, before the text was set.
    ASSERT_EQ(1u, g_choices.size());
    EXPECT_EQ(kComboId, g_choices[0].id);
    EXPECT_EQ(1, g_choices[0].index);

    // Then x: no entry begins with "bx", the keystroke goes on.
    g_choices.clear();
    typeInto(comboEdit, L"x");
    EXPECT_EQ(L"bx", windowText(combo));
    EXPECT_TRUE(g_choices.empty()) << "typing that matches nothing chose an entry";
}

TEST_F(InputConveniences, OnlyTheTextLeftOfTheCaretIsSearched) {
    prepare(combo, L"Sa123", 2);
    typeInto(comboEdit, L"v");
    EXPECT_EQ(L"Savings", windowText(combo)) << "the 123 right of the caret should be gone";
    EXPECT_EQ(Sel(3, 7), selection(comboEdit));
    ASSERT_EQ(1u, g_choices.size());
    EXPECT_EQ(0, g_choices[0].index);

    // A selection takes no part either: "S" and "ank" selected, typing s.
    prepare(combo, L"Sank", 1);
    SendMessageW(comboEdit, EM_SETSEL, 1, 4);
    typeInto(comboEdit, L"a");
    EXPECT_EQ(L"Savings", windowText(combo));
    EXPECT_EQ(Sel(2, 7), selection(comboEdit));
}

TEST_F(InputConveniences, BackspaceMatchesNothingAndDeletesAsUsual) {
    typeInto(comboEdit, L"b");
    ASSERT_EQ(L"bank", windowText(combo));
    g_choices.clear();
    SHORT keyCode = 8;
    ComboAutoComplete(combo, keyCode);
    EXPECT_EQ(8, keyCode) << "backspace was cancelled";
    typeInto(comboEdit, L"\b");
    EXPECT_EQ(L"b", windowText(combo));
    EXPECT_TRUE(g_choices.empty());
}

TEST_F(InputConveniences, ADropDownListAndOtherControlsAreLeftAlone) {
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    g_choices.clear();
    for (HWND target : {list, edit, button, static_cast<HWND>(nullptr), parent}) {
        SHORT keyCode = L'b';
        ComboAutoComplete(target, keyCode);
        EXPECT_EQ(L'b', keyCode);
    }
    EXPECT_EQ(0, SendMessageW(list, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(L"Savings", windowText(list));
    EXPECT_TRUE(g_choices.empty());

    // A window that no longer exists.
    HWND gone = child(L"ComboBox", 99, CBS_DROPDOWN, 160);
    SendMessageW(gone, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"bank"));
    DestroyWindow(gone);
    SHORT keyCode = L'b';
    ComboAutoComplete(gone, keyCode);
    EXPECT_EQ(L'b', keyCode);
}

TEST_F(InputConveniences, AnEmptyListNeverMatches) {
    HWND emptyEdit = uirobot::comboEdit(emptyCombo);
    typeInto(emptyEdit, L"Sa");
    EXPECT_EQ(L"Sa", windowText(emptyCombo));
    EXPECT_TRUE(g_choices.empty());
}

TEST_F(InputConveniences, NamesOutsideTheAnsiCodePageComplete) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* name : {L"\u0417\u0430\u043F\u0430\u0441", L"\u4E2D\u6587\u94B1\u5305", L"caf\u00E9"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    typeInto(comboEdit, L"\u4E2D");
    EXPECT_EQ(L"\u4E2D\u6587\u94B1\u5305", windowText(combo));
    EXPECT_EQ(Sel(1, 4), selection(comboEdit));
    prepare(combo, L"", 0);
    typeInto(comboEdit, L"\u0417");
    EXPECT_EQ(L"\u0417\u0430\u043F\u0430\u0441", windowText(combo));
    ASSERT_EQ(1u, g_choices.size());
    EXPECT_EQ(0, g_choices[0].index);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
