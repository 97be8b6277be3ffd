#include "common.h"

#include "platform_text.h"

#include <algorithm>
#include <string>

namespace cardkeep::Common {
namespace {

using comkit::windowText;

bool isComboBox(HWND window) {
    wchar_t name[16] = {};
    return GetClassNameW(window, name, ARRAYSIZE(name)) && lstrcmpiW(name, L"ComboBox") == 0;
}

std::wstring itemText(HWND combo, LRESULT index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<size_t>(got));
    return text;
}

}  // namespace

void SelectActiveControlText() {
    // The focused window is the active control of the active dialog; for an
    // editable combo box it is the box's own edit control, which is the part
    // that holds the text.
    HWND control = GetFocus();
    if (!control) return;
    // The dialog manager's own test for "takes EM_SETSEL": buttons, lists
    // and drop-down lists answer without it and are passed over.
    if (!(SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)) return;
    SendMessageW(control, EM_SETSEL, 0, static_cast<LPARAM>(GetWindowTextLengthW(control)));
}

void ComboAutoComplete(HWND combo, SHORT& keyCode) {
    if (!combo || !IsWindow(combo) || !isComboBox(combo)) return;
    const LONG_PTR kind = GetWindowLongPtrW(combo, GWL_STYLE) & 0x3;
    if (kind != CBS_SIMPLE && kind != CBS_DROPDOWN) return;  // a drop-down list has no text to complete
    const wchar_t typed = static_cast<wchar_t>(static_cast<unsigned short>(keyCode));
    // A NUL would cut the search text short and match on the prefix alone.
    if (typed == L'\0') return;

    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (!GetComboBoxInfo(combo, &info) || !info.hwndItem) return;
    HWND edit = info.hwndItem;

    // What is typed replaces the selection, so only the text left of the
    // selection (or of the caret) and the new character are looked for.
    const std::wstring text = windowText(combo);
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    std::wstring search = text.substr(0, std::min<size_t>(selStart, text.size()));
    search += typed;

    // The wide form, so that names outside the ANSI code page are found.
    const LRESULT found = SendMessageW(combo, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(search.c_str()));
    if (found == CB_ERR) return;

    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
    if (HWND parent = GetParent(combo)) {
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        // The choice may have closed the dialog around the box.
        if (!IsWindow(combo)) {
            keyCode = 0;
            return;
        }
    }

    // The entry's own letter case replaces what was typed; the untyped rest
    // of it stays selected, so the next character replaces it.
    SetWindowTextW(combo, itemText(combo, found).c_str());
    const int length = GetWindowTextLengthW(combo);
    const int start = std::min<int>(static_cast<int>(search.size()), length);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(std::min<int>(start + length, length)));
    keyCode = 0;
}

}  // namespace cardkeep::Common
