// Texts that platform calls copy into a caller's buffer, read whole.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace comkit {

// A window's text. The length a window reports is a hint that may be short
// for a moment; what it copies is what counts.
inline std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The text of a call of the GetModuleFileName kind: copy(buffer, size)
// returns how many characters it copied, or, when they did not fit, the
// size it needs or the size it was given; 0 is a failure (the thread's last
// error says why), and then the result is empty.
template <class Copy>
std::wstring copiedText(Copy copy, DWORD first = MAX_PATH) {
    std::wstring text(first, L'\0');
    for (;;) {
        const DWORD n = copy(text.data(), static_cast<DWORD>(text.size()));
        if (n == 0) return {};
        if (n < text.size()) {
            text.resize(n);
            return text;
        }
        text.resize(std::max<size_t>(n, text.size() * 2));
    }
}

}  // namespace comkit
