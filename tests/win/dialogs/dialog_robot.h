// Drives this process's dialogs from a second thread the way a user would,
// on the robot library: finds a window by its caption, moves the focus as
// the keyboard does, types with key messages posted to the focused control
// (so they pass through the dialog manager and the controls' own handling),
// presses buttons, answers message boxes, and reads back what the controls
// show. Each step waits until the dialog's thread has handled it; a step
// that cannot be taken fails the test.
#pragma once

#include "ui_robot.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace dialogtest {

class DialogRobot {
public:
    // probe lives on the thread that shows the dialogs; uiDone turns true
    // once the call that shows the dialog has returned: every wait then
    // gives up at once.
    DialogRobot(uirobot::QueueProbe& probe, const std::atomic<bool>& uiDone);

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
    HWND focused() const { return probe_.focused(); }
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
    static std::wstring boxText(HWND box) { return uirobot::boxText(box); }
    static std::pair<DWORD, DWORD> selection(HWND edit) { return uirobot::selection(edit); }
    static std::vector<std::wstring> entries(HWND combo) { return uirobot::entries(combo); }
    static HWND comboEdit(HWND combo) { return uirobot::comboEdit(combo); }

    // Closes whatever this process still shows, until the call returns;
    // returns how many windows it had to close.
    int cleanUp();

private:
    bool post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    uirobot::QueueProbe& probe_;
    const std::atomic<bool>& uiDone_;
};

}  // namespace dialogtest
