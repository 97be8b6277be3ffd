// Owners for the window-side resources of the dialogs: a GDI font, a
// window subclass, a window's drawing suspended, a screen device context, a
// hidden owner window, the calling thread's windows disabled and its focus. Each is released by
// exactly one destructor, on every path out; the plain handles are the
// kit's owner.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "com_types.h"

#include <utility>
#include <vector>

namespace cardkeep::dialogs {

using GdiFont = comkit::Owned<HFONT, comkit::PointerHandle<HFONT, DeleteObject>>;

// A subclass installed through the common controls' chain, so that it can
// be removed in any order and never leaves a dangling window procedure.
class WindowSubclass {
public:
    WindowSubclass(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data)
        : window_(SetWindowSubclass(window, proc, id, data) ? window : nullptr), proc_(proc), id_(id) {}
    ~WindowSubclass() {
        if (window_) RemoveWindowSubclass(window_, proc_, id_);
    }
    WindowSubclass(const WindowSubclass&) = delete;
    WindowSubclass& operator=(const WindowSubclass&) = delete;
    WindowSubclass(WindowSubclass&& other) noexcept
        : window_(std::exchange(other.window_, nullptr)), proc_(other.proc_), id_(other.id_) {}
    WindowSubclass& operator=(WindowSubclass&&) = delete;
    explicit operator bool() const { return window_ != nullptr; }

private:
    HWND window_;
    SUBCLASSPROC proc_;
    UINT_PTR id_;
};

// A window that draws nothing while the guard lives (WM_SETREDRAW), and is
// drawn afresh after. A list box filled entry by entry otherwise redoes its
// scroll bar and its drawing for every entry.
class RedrawSuspended {
public:
    explicit RedrawSuspended(HWND window) : window_(window) {
        if (window_) SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    }
    ~RedrawSuspended() {
        if (!window_) return;
        SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(window_, nullptr, TRUE);
    }
    RedrawSuspended(const RedrawSuspended&) = delete;
    RedrawSuspended& operator=(const RedrawSuspended&) = delete;

private:
    HWND window_;
};

// The screen's device context, for its resolution.
inline void releaseScreenDc(HDC dc) { ReleaseDC(nullptr, dc); }
using ScreenDc = comkit::Owned<HDC, comkit::PointerHandle<HDC, releaseScreenDc>>;

// A top-level window of the component's own that is never shown
// (hiddenOwner makes one). A dialog it owns has no task-bar button without
// taking the tool-window caption, and no window of the host becomes the
// dialog's owner.
using HiddenOwner = comkit::Owned<HWND, comkit::PointerHandle<HWND, DestroyWindow>>;
inline HiddenOwner hiddenOwner(HINSTANCE module) {
    return HiddenOwner(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, nullptr));
}

// The calling thread's visible top-level windows that were enabled, disabled
// while the guard lives, as a task-modal message box does: the host's windows
// take no input while a dialog waits. enable() gives back exactly those that
// it took (once); the destructor does so on any path it was not called.
class ThreadWindowsDisabled {
public:
    ThreadWindowsDisabled() {
        EnumThreadWindows(GetCurrentThreadId(), &ThreadWindowsDisabled::collect, reinterpret_cast<LPARAM>(this));
        if (!complete_) return;  // nothing is disabled when not all could be noted
        for (HWND window : windows_) EnableWindow(window, FALSE);
    }
    ~ThreadWindowsDisabled() { enable(); }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

    // False when the windows could not all be noted (out of memory); then
    // none was disabled.
    bool complete() const { return complete_; }
    void enable() {
        if (complete_)
            for (HWND window : windows_)
                if (IsWindow(window)) EnableWindow(window, TRUE);
        windows_.clear();
    }

private:
    static BOOL CALLBACK collect(HWND window, LPARAM param) {
        auto* self = reinterpret_cast<ThreadWindowsDisabled*>(param);
        if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
        try {
            self->windows_.push_back(window);
        } catch (...) {
            self->complete_ = false;
            return FALSE;
        }
        return TRUE;
    }

    std::vector<HWND> windows_;
    bool complete_ = true;
};

// The calling thread's focus, given back to the window that had it when the
// guard goes (if it is still there and can take it), as a modal dialog gives
// it back to its owner.
class FocusReturn {
public:
    FocusReturn() : focus_(GetFocus()), active_(GetActiveWindow()) {}
    ~FocusReturn() {
        if (focus_ && IsWindow(focus_) && IsWindowEnabled(GetAncestor(focus_, GA_ROOT)))
            SetFocus(focus_);
        else if (active_ && IsWindow(active_) && IsWindowEnabled(active_))
            SetActiveWindow(active_);
    }
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

private:
    HWND focus_;
    HWND active_;
};

}  // namespace cardkeep::dialogs
