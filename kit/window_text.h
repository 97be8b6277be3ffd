// A window's text, read whole: the length a window reports is a hint that
// may be short for a moment, and what it copies is what counts.
#pragma once

#include <windows.h>

#include <string>

namespace comkit {

inline std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace comkit
