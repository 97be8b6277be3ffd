#include "dialog_robot.h"

#include "platform_text.h"

#include <gtest/gtest.h>

#include <set>

namespace dialogtest {
namespace {

constexpr DWORD kPatienceMs = 10000;

}  // namespace

DialogRobot::DialogRobot(uirobot::QueueProbe& probe, const std::atomic<bool>& uiDone)
    : probe_(probe), uiDone_(uiDone) {}

HWND DialogRobot::waitDialog(const std::wstring& caption) {
    return uirobot::waitFor(uirobot::ownWindows(uirobot::Kind::dialog, caption.c_str()), kPatienceMs, &uiDone_);
}

HWND DialogRobot::waitBox(const std::wstring& title) {
    return uirobot::waitFor(uirobot::ownWindows(uirobot::Kind::messageBox, title.c_str()), kPatienceMs, &uiDone_);
}

bool DialogRobot::waitGone(HWND window) { return uirobot::waitGone(window, kPatienceMs); }

bool DialogRobot::sawDialogUntilDone(const std::wstring& caption) {
    const uirobot::Match dialog = uirobot::ownWindows(uirobot::Kind::dialog, caption.c_str());
    const DWORD start = GetTickCount();
    bool seen = false;
    while (!uiDone_ && GetTickCount() - start < kPatienceMs) {
        if (uirobot::find(dialog)) seen = true;
        Sleep(1);
    }
    return seen;
}

bool DialogRobot::post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PostMessageW(window, message, wParam, lParam)) return true;
    // A window that a key or click has just closed takes no more messages;
    // that is the expected end of its part, not a fault of the robot.
    if (IsWindow(window)) ADD_FAILURE() << "cannot post message " << message;
    return false;
}

bool DialogRobot::sync() { return probe_.drain(kPatienceMs, &uiDone_); }

void DialogRobot::focus(HWND dialog, HWND control) {
    post(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    sync();
}

void DialogRobot::type(const std::wstring& text) {
    for (wchar_t c : text) {
        HWND target = focused();
        ASSERT_NE(nullptr, target) << "nothing has the focus to type into";
        post(target, WM_CHAR, c, 1);
        sync();
    }
}

void DialogRobot::key(WORD virtualKey, WORD heldKey) {
    HWND target = focused();
    ASSERT_NE(nullptr, target) << "nothing has the focus to press a key in";
    // Sharing the dialog thread's input state lets the robot hold a key
    // down there, as a user holding Shift or Ctrl would.
    const bool hold = heldKey != 0 && AttachThreadInput(GetCurrentThreadId(), probe_.thread(), TRUE);
    BYTE state[256] = {};
    if (hold) {
        GetKeyboardState(state);
        state[heldKey] |= 0x80;
        SetKeyboardState(state);
        post(target, WM_KEYDOWN, heldKey, uirobot::keyData(heldKey, false));
    }
    // The dialog's loop translates the key-down into a WM_CHAR that it posts
    // behind everything already queued, so the key-up and the second sync go
    // out only once the key-down has been handled: when key() returns, the
    // character has been handled too. A key that closed the window ends
    // there.
    post(target, WM_KEYDOWN, virtualKey, uirobot::keyData(virtualKey, false));
    sync();
    if (IsWindow(target)) {
        post(target, WM_KEYUP, virtualKey, uirobot::keyData(virtualKey, true));
        if (hold) post(target, WM_KEYUP, heldKey, uirobot::keyData(heldKey, true));
        sync();
    }
    if (hold) {
        state[heldKey] &= static_cast<BYTE>(~0x80);
        SetKeyboardState(state);
        AttachThreadInput(GetCurrentThreadId(), probe_.thread(), FALSE);
    }
}

void DialogRobot::accessKey(HWND dialog, wchar_t letter) {
    HWND target = focused();
    if (!target) target = dialog;
    post(target, WM_SYSCHAR, letter, uirobot::kAltKeyData);
    sync();
}

void DialogRobot::press(HWND button) {
    ASSERT_NE(nullptr, button);
    post(button, BM_CLICK, 0, 0);
    sync();
}

void DialogRobot::answer(HWND box, int button) {
    ASSERT_NE(nullptr, box);
    HWND control = GetDlgItem(box, button);
    ASSERT_NE(nullptr, control) << "the box has no button " << button;
    post(control, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitGone(box)) << "the box stayed after it was answered";
}

void DialogRobot::closeBox(HWND dialog) { post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::wstring DialogRobot::text(HWND window) { return window ? comkit::windowText(window) : std::wstring(); }

int DialogRobot::cleanUp() {
    std::set<HWND> closed;
    while (!uiDone_) {
        for (HWND window : uirobot::findAll(uirobot::ownWindows(uirobot::Kind::any))) {
            if (!closed.insert(window).second) continue;
            uirobot::dismiss(window);
        }
        Sleep(20);
    }
    return static_cast<int>(closed.size());
}

}  // namespace dialogtest
