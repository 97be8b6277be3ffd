// What the two wallet dialogs have in common: a dialog template made at run
// time from a layout in twips, shown modally with no owner window of the
// host's (the host's windows on the calling thread are disabled meanwhile,
// and the focus goes back where it was); fields in their own font; Esc from
// any control, Cancel and the close box unload without writing; Enter in a
// field does nothing; every field selects its text when it gains the focus,
// and the combo boxes complete what is typed.
//
// A dialog object lives on in the thread's module state between showings
// but holds no window, font or subclass while it is not shown, so freeing it
// never touches a window.
#pragma once

#include "window_guards.h"

#include <windows.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardkeep::dialogs {

// A rectangle in twips (1/1440 inch), the unit the layout is designed in.
struct Twips {
    int left, top, width, height;
};

enum class Kind { Frame, Label, Field, Password, Combo, Button };

// Where a frame's top-left corner lies in the client area; controls drawn
// inside the frame are placed relative to it.
struct FrameOrigin {
    int left, top;
    constexpr Twips place(int x, int y, int width, int height) const { return {left + x, top + y, width, height}; }
};

struct ControlSpec {
    int id;
    Kind kind;
    const wchar_t* caption;
    Twips at;       // relative to the client area
    int limit = 0;  // most characters the user can type; 0 for no limit
};

struct DialogLayout {
    int clientWidth;   // twips
    int clientHeight;  // twips
    std::span<const ControlSpec> controls;  // in tab order
};

// twips * dots per inch / 1440, so the dialog keeps its proportions at any
// resolution of the screen.
int twipsToPixels(int twips, int dpi);

class ModalDialog {
public:
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Loads the dialog and shows it modally; returns once it is unloaded.
    // A failure while loading comes back here, and the dialog is not shown.
    HRESULT Show();
    bool isShown() const { return shown_ != nullptr; }

protected:
    explicit ModalDialog(const DialogLayout& layout);

    virtual std::wstring caption() const = 0;
    // Fills the controls; runs before the window is first shown.
    virtual HRESULT load() = 0;
    // Buttons and notifications of the dialog's own controls.
    virtual void command(int id, int code) = 0;

    HWND window() const;
    HWND item(int id) const;
    std::wstring text(int id) const;
    HRESULT setText(int id, std::wstring_view value);
    // Moves the focus as the keyboard would, so the field selects its text.
    void focus(int id);
    int ask(const wchar_t* message, const wchar_t* title, UINT flags) const;
    // Shows the thread's error for a failed step of a handler; the dialog
    // stays open with everything the user typed.
    void report(HRESULT hr) const;
    void unload();

    // The OK button of both dialogs: after "Do you want to change?" is
    // answered Yes and the entries are valid, writes them and unloads; a
    // failed write is shown and the dialog stays open.
    void cmdOK_Click();
    virtual bool ValidateEntries() { return true; }
    virtual HRESULT OKPro() = 0;

private:
    struct Shown;
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK comboEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR self);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    HRESULT initialise();
    void arrange();
    bool isField(int id) const;
    std::vector<WORD> buildTemplate() const;

    const DialogLayout& layout_;
    std::unique_ptr<Shown> shown_;
};

}  // namespace cardkeep::dialogs
