// Owners for the window-side resources of the dialogs: a GDI font, a
// window subclass, a screen device context. Each is released by exactly
// one destructor, on every path out.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace cardkeep::dialogs {

class GdiFont {
public:
    GdiFont() = default;
    explicit GdiFont(HFONT font) : font_(font) {}
    ~GdiFont() { reset(); }
    GdiFont(const GdiFont&) = delete;
    GdiFont& operator=(const GdiFont&) = delete;
    GdiFont(GdiFont&& other) noexcept : font_(std::exchange(other.font_, nullptr)) {}
    GdiFont& operator=(GdiFont&& other) noexcept {
        if (this != &other) {
            reset();
            font_ = std::exchange(other.font_, nullptr);
        }
        return *this;
    }
    HFONT get() const { return font_; }
    void reset() {
        if (font_) DeleteObject(font_);
        font_ = nullptr;
    }

private:
    HFONT font_ = nullptr;
};

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

// The screen's device context, for its resolution.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

}  // namespace cardkeep::dialogs
