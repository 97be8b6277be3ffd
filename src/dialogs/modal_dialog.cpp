#include "modal_dialog.h"

#include "com_error.h"
#include "com_server.h"
#include "common.h"
#include "platform_text.h"

#include <new>

namespace cardkeep::dialogs {
namespace {

// The fields' face and size: 9.75 points, which a template cannot carry
// (it takes whole points), so the font is made at the exact size.
constexpr wchar_t kFieldFace[] = L"MS Sans Serif";
constexpr int kFieldHundredthsOfPoint = 975;
// Labels and buttons keep the platform's dialog font.
constexpr wchar_t kDialogFace[] = L"MS Shell Dlg";
constexpr WORD kDialogPoints = 8;

// The ordinary fixed dialog frame and caption with its close box. It stays
// out of the task bar by being owned by a hidden window of our own.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD kDialogExStyle = 0;

// How many entries a combo box shows when its list drops down.
constexpr int kDroppedEntries = 8;

constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082, kComboAtom = 0x0085;

struct ControlKind {
    WORD atom;
    DWORD style;
    DWORD exStyle;
};

ControlKind kindOf(Kind kind) {
    switch (kind) {
    case Kind::Frame: return {kButtonAtom, BS_GROUPBOX, 0};
    case Kind::Label: return {kStaticAtom, SS_LEFT | WS_GROUP, 0};
    case Kind::Field: return {kEditAtom, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case Kind::Password: return {kEditAtom, ES_LEFT | ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case Kind::Combo: return {kComboAtom, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0};
    case Kind::Button: return {kButtonAtom, BS_PUSHBUTTON | WS_TABSTOP, 0};
    }
    return {kStaticAtom, 0, 0};
}

// Appends to a DLGTEMPLATEEX in the making.
class TemplateWriter {
public:
    void word(WORD w) { words_.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(const wchar_t* s) {
        for (; s && *s; ++s) word(static_cast<WORD>(*s));
        word(0);
    }
    void alignDword() {
        if (words_.size() % 2) word(0);
    }
    std::vector<WORD> take() { return std::move(words_); }

private:
    std::vector<WORD> words_;
};

std::wstring describeThreadError(HRESULT hr) {
    std::wstring description = comkit::takeErrorInfo().description;
    return description.empty() ? comkit::describe(hr) : description;
}

int screenDpi(int axis) {
    const ScreenDc screen(GetDC(nullptr));
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), axis) : 0;
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

int twipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

struct ModalDialog::Shown {
    explicit Shown(HINSTANCE module) : owner(hiddenOwner(module)) {}
    HWND window = nullptr;
    GdiFont fieldFont;
    std::vector<WindowSubclass> subclasses;
    HRESULT loadStatus = S_OK;
    std::wstring loadDescription;
    // The dialog is modal for the host without being owned by a window of
    // it: the host's windows on this thread are disabled meanwhile.
    HiddenOwner owner;
    ThreadWindowsDisabled hostWindows;
};

ModalDialog::ModalDialog(const DialogLayout& layout) : layout_(layout) {}
ModalDialog::~ModalDialog() = default;

std::vector<WORD> ModalDialog::buildTemplate() const {
    // Positions and sizes are left at zero: the template's dialog units
    // follow the font, while the layout is in twips, so WM_INITDIALOG
    // places everything in pixels.
    TemplateWriter t;
    t.word(1);       // dlgVer
    t.word(0xFFFF);  // signature: DLGTEMPLATEEX
    t.dword(0);      // helpID
    t.dword(kDialogExStyle);
    t.dword(kDialogStyle);
    t.word(static_cast<WORD>(layout_.controls.size()));
    for (int i = 0; i < 4; ++i) t.word(0);  // x, y, cx, cy
    t.word(0);                              // no menu
    t.word(0);                              // the dialog class
    t.text(L"");                            // the caption is set on every load
    t.word(kDialogPoints);
    t.word(FW_NORMAL);
    t.word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, charset
    t.text(kDialogFace);
    for (const ControlSpec& c : layout_.controls) {
        const ControlKind kind = kindOf(c.kind);
        t.alignDword();
        t.dword(0);  // helpID
        t.dword(kind.exStyle);
        t.dword(WS_CHILD | WS_VISIBLE | kind.style);
        for (int i = 0; i < 4; ++i) t.word(0);
        t.dword(static_cast<DWORD>(c.id));
        t.word(0xFFFF);
        t.word(kind.atom);
        t.text(c.caption);
        t.word(0);  // no creation data
    }
    return t.take();
}

HRESULT ModalDialog::Show() {
    if (shown_) return comkit::fail(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), L"The dialog is already open.");
    // Noted before the host's windows are disabled (which takes the focus
    // away), and given back once they are all enabled again.
    const FocusReturn focusBack;
    // Running out of memory here reaches the member's boundary as any other.
    const std::vector<WORD> dialogTemplate = buildTemplate();
    shown_ = std::make_unique<Shown>(comkit::moduleHandle());
    // Whatever happens, the next showing starts from nothing, with the
    // host's windows enabled again.
    struct Forget {
        std::unique_ptr<Shown>& shown;
        ~Forget() { shown.reset(); }
    } forget{shown_};
    if (!shown_->owner.get()) return comkit::failWin32(GetLastError(), L"The dialog cannot be shown");
    if (!shown_->hostWindows.complete()) return comkit::fail(E_OUTOFMEMORY, L"Out of memory.");

    SetLastError(ERROR_SUCCESS);
    const INT_PTR result =
        DialogBoxIndirectParamW(comkit::moduleHandle(), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                shown_->owner.get(), &ModalDialog::dialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) {
        const DWORD error = GetLastError();
        if (error == ERROR_SUCCESS) return comkit::fail(E_FAIL, L"The dialog cannot be shown.");
        return comkit::failWin32(error, L"The dialog cannot be shown");
    }
    if (FAILED(shown_->loadStatus)) return comkit::fail(shown_->loadStatus, shown_->loadDescription);
    return S_OK;
}

HWND ModalDialog::window() const { return shown_ ? shown_->window : nullptr; }
HWND ModalDialog::item(int id) const { return GetDlgItem(window(), id); }

std::wstring ModalDialog::text(int id) const {
    return comkit::windowText(item(id));
}

HRESULT ModalDialog::setText(int id, std::wstring_view value) {
    const std::wstring terminated(value);
    if (!SetWindowTextW(item(id), terminated.c_str()))
        return comkit::failWin32(GetLastError(), L"A field of the dialog cannot be filled");
    return S_OK;
}

void ModalDialog::focus(int id) { SendMessageW(window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(id)), TRUE); }

int ModalDialog::ask(const wchar_t* message, const wchar_t* title, UINT flags) const {
    return MessageBoxW(window(), message, title, flags);
}

void ModalDialog::report(HRESULT hr) const {
    const std::wstring description = describeThreadError(hr);
    const std::wstring title = comkit::windowText(window());
    MessageBoxW(window(), description.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void ModalDialog::cmdOK_Click() {
    if (ask(L"Do you want to change?", L"Sure...", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES) return;
    if (!ValidateEntries()) return;
    const HRESULT hr = OKPro();
    if (FAILED(hr)) {
        report(hr);
        return;
    }
    unload();
}

void ModalDialog::unload() {
    if (!window()) return;
    // Enabled before the dialog goes, so that the activation it leaves
    // behind passes to the host's window rather than to another program.
    shown_->hostWindows.enable();
    EndDialog(window(), IDCANCEL);
}

bool ModalDialog::isField(int id) const {
    for (const ControlSpec& c : layout_.controls)
        if (c.id == id) return c.kind == Kind::Field || c.kind == Kind::Password || c.kind == Kind::Combo;
    return false;
}

void ModalDialog::arrange() {
    HWND dialog = window();
    const int dpiX = screenDpi(LOGPIXELSX), dpiY = screenDpi(LOGPIXELSY);
    auto x = [&](int twips) { return twipsToPixels(twips, dpiX); };
    auto y = [&](int twips) { return twipsToPixels(twips, dpiY); };

    shown_->fieldFont = GdiFont(CreateFontW(-MulDiv(kFieldHundredthsOfPoint, dpiY, 7200), 0, 0, 0, FW_NORMAL, FALSE,
                                            FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFieldFace));

    for (const ControlSpec& c : layout_.controls) {
        HWND control = GetDlgItem(dialog, c.id);
        if (!control) continue;
        const bool field = c.kind == Kind::Field || c.kind == Kind::Password || c.kind == Kind::Combo;
        if (field && shown_->fieldFont.get())
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown_->fieldFont.get()), FALSE);
        if (c.kind == Kind::Password) SendMessageW(control, EM_SETPASSWORDCHAR, L'*', 0);
        // A limit stops typing only: text the program puts in is never cut.
        if (c.limit > 0)
            SendMessageW(control, c.kind == Kind::Combo ? CB_LIMITTEXT : EM_LIMITTEXT, static_cast<WPARAM>(c.limit), 0);

        int height = y(c.at.height);
        if (c.kind == Kind::Combo) {
            // The closed box takes the designed height: its selection field
            // follows the item height, which the font has just set.
            MoveWindow(control, x(c.at.left), y(c.at.top), x(c.at.width), height, FALSE);
            RECT closed{};
            GetWindowRect(control, &closed);
            const LRESULT fieldHeight = SendMessageW(control, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
            const LONG difference = height - (closed.bottom - closed.top);
            if (fieldHeight != CB_ERR && difference != 0 && fieldHeight + difference > 0)
                SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), fieldHeight + difference);
            const LRESULT entryHeight = SendMessageW(control, CB_GETITEMHEIGHT, 0, 0);
            height += static_cast<int>(entryHeight == CB_ERR ? 0 : entryHeight) * kDroppedEntries + 2;
        }
        MoveWindow(control, x(c.at.left), y(c.at.top), x(c.at.width), height, FALSE);

        if (c.kind == Kind::Combo) {
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            if (GetComboBoxInfo(control, &info) && info.hwndItem)
                shown_->subclasses.emplace_back(info.hwndItem, &ModalDialog::comboEditProc, 1,
                                                reinterpret_cast<DWORD_PTR>(this));
        }
    }

    // The client area takes the designed size, and the dialog opens in the
    // middle of the screen's work area.
    RECT frame{0, 0, x(layout_.clientWidth), y(layout_.clientHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT ModalDialog::initialise() {
    arrange();
    SetWindowTextW(window(), caption().c_str());
    return load();
}

INT_PTR CALLBACK ModalDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ModalDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self || !self->shown_) return FALSE;
    if (message == WM_INITDIALOG) self->shown_->window = window;
    // Nothing may leave a window procedure as an exception: it would end
    // the host. A handler ended so while loading ends the dialog, and the
    // member that showed it returns the failure; later the user is told and
    // the dialog stays open.
    INT_PTR handled = TRUE;
    comkit::boundary([&] {
        const HRESULT hr = comkit::boundary([&] {
            handled = self->handle(message, wParam, lParam);
            return S_OK;
        });
        if (SUCCEEDED(hr)) return S_OK;
        handled = TRUE;
        if (message != WM_INITDIALOG) {
            self->report(hr);
            return S_OK;
        }
        self->shown_->loadStatus = hr;
        EndDialog(window, IDCANCEL);
        self->shown_->loadDescription = describeThreadError(hr);
        return S_OK;
    });
    return handled;
}

INT_PTR ModalDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const HRESULT hr = initialise();
        if (FAILED(hr)) {
            // Ended before it was ever shown: the caller gets the failure.
            shown_->loadStatus = hr;
            shown_->loadDescription = describeThreadError(hr);
            EndDialog(window(), IDCANCEL);
        }
        return TRUE;  // the first field takes the focus
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        // IDCANCEL is the dialog manager's Esc (with or without Shift or
        // Ctrl) from any control; no button carries that id.
        if (id == IDCANCEL) {
            unload();
            return TRUE;
        }
        // IDOK is the dialog manager's Enter: there is no default button,
        // so Enter in a field does nothing.
        if (id == IDOK) return TRUE;
        if ((code == EN_SETFOCUS || code == CBN_SETFOCUS) && isField(id)) {
            Common::SelectActiveControlText();
            return TRUE;
        }
        // A combo box's edit part keeps showing its selection without the
        // focus; the box gives it up, as a text box does.
        if (code == CBN_KILLFOCUS && isField(id)) {
            SendMessageW(item(id), CB_SETEDITSEL, 0, MAKELPARAM(-1, 0));
            return TRUE;
        }
        command(id, code);
        return TRUE;
    }
    case WM_CLOSE:  // the close box: like Cancel
        unload();
        return TRUE;
    case WM_DESTROY:
        // The controls still exist here; the subclasses go before them.
        shown_->subclasses.clear();
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT CALLBACK ModalDialog::comboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data) {
    auto* self = reinterpret_cast<ModalDialog*>(data);
    bool passOn = true;
    const HRESULT hr = comkit::boundary([&] {
        switch (message) {
        case WM_CHAR: {
            // Seen before the box: a completed text swallows the keystroke.
            SHORT keyCode = static_cast<SHORT>(LOWORD(wParam));
            Common::ComboAutoComplete(GetParent(edit), keyCode);
            if (keyCode == 0) passOn = false;
            wParam = static_cast<unsigned short>(keyCode);
            break;
        }
        case WM_KEYDOWN:
            // With its list dropped the box keeps Esc for itself; the dialog
            // still closes on it, whichever control has the focus.
            if (wParam == VK_ESCAPE && self) {
                self->unload();
                passOn = false;
            }
            break;
        default:
            break;
        }
        return S_OK;
    });
    if (FAILED(hr)) {
        passOn = false;
        if (self) comkit::boundary([&] {
            self->report(hr);
            return S_OK;
        });
    }
    return passOn ? DefSubclassProc(edit, message, wParam, lParam) : 0;
}

}  // namespace cardkeep::dialogs
