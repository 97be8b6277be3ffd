// Drives this process's dialogs from a second thread the way a user would:
// finds a window by its caption, moves the focus as the keyboard does, types
// with key messages posted to the focused control (so they pass through the
// dialog manager and the controls' own handling), presses buttons, answers
// message boxes, and reads back what the controls show.
//
// Posted messages are handled in order by the thread that shows the dialog;
// sync() waits until everything posted so far has been handled there, by
// posting one more message to a window of the probe on that thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace dialogtest {

// Lives on the thread that will show the dialogs.
class UiProbe {
public:
    UiProbe();
    ~UiProbe();
    UiProbe(const UiProbe&) = delete;
    UiProbe& operator=(const UiProbe&) = delete;
    HWND window() const { return window_; }
    HANDLE reached() const { return reached_; }
    DWORD thread() const { return thread_; }

private:
    HWND window_ = nullptr;
    HANDLE reached_ = nullptr;
    DWORD thread_ = 0;
};

class DialogRobot {
public:
    // uiDone turns true once the call that shows the dialog has returned:
    // every wait then gives up at once.
    DialogRobot(const UiProbe& probe, const std::atomic<bool>& uiDone);

    // A visible dialog of this process with exactly this caption.
    HWND waitDialog(const std::wstring& caption);
    // A message box of this process with this title.
    HWND waitBox(const std::wstring& title);
    // Waits until the window is gone; false if it stays.
    bool waitGone(HWND window);
    // Whether the window, or one like it, ever became visible until the
    // dialog's call returned.
    bool sawDialogUntilDone(const std::wstring& caption);

    // Everything posted so far has been handled on the dialog's thread.
    bool sync();

    // The keyboard's way to a control: as Tab or an access key moves it.
    void focus(HWND dialog, HWND control);
    HWND focused() const;
    // Characters, each as one WM_CHAR to the focused control.
    void type(const std::wstring& text);
    // A key going down and up at the focused control; with shift or ctrl,
    // that key is held down meanwhile.
    void key(WORD virtualKey, WORD heldKey = 0);
    // An access key: Alt and the letter.
    void accessKey(HWND dialog, wchar_t letter);
    void press(HWND button);
    // Answers a message box with one of its buttons and waits until it goes.
    void answer(HWND box, int button);
    // The close box of the title bar.
    void closeBox(HWND dialog);

    static std::wstring text(HWND window);
    static std::wstring boxText(HWND box);
    static std::pair<DWORD, DWORD> selection(HWND edit);
    static std::vector<std::wstring> entries(HWND combo);
    static HWND comboEdit(HWND combo);

    // Closes whatever this process still shows, until the call returns;
    // returns how many windows it had to close.
    int cleanUp();

private:
    bool wait(HWND (*find)(const std::wstring&), const std::wstring& name, HWND& found);
    bool post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const UiProbe& probe_;
    const std::atomic<bool>& uiDone_;
};

}  // namespace dialogtest
