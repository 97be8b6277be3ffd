// UTF-8 for what leaves or enters as bytes: logs, test messages, files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace comkit {

inline std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

inline std::wstring fromUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, out.data(), n);
    return out;
}

}  // namespace comkit
