#include "win_text.h"

#include <windows.h>

#include <array>

namespace korvex::ini {

std::u16string WindowsAnsiCodec::decode(std::string_view bytes) const {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string text(static_cast<size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                            reinterpret_cast<wchar_t*>(text.data()), n);
    return text;
}

std::optional<std::string> WindowsAnsiCodec::encode(std::u16string_view text) const {
    if (text.empty()) return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, &lossy);
    if (lossy) return std::nullopt;
    return bytes;
}

namespace {

struct FoldTable {
    std::array<char16_t, 0x10000> upper{};
    FoldTable() {
        for (size_t c = 0; c < upper.size(); ++c) upper[c] = static_cast<char16_t>(c);
        // Surrogates are left alone: a lone half has no case.
        mapRange(0x0001, 0xD7FF);
        mapRange(0xE000, 0xFFFF);
    }
    void mapRange(size_t first, size_t last) {
        const int count = static_cast<int>(last - first + 1);
        std::wstring in(static_cast<size_t>(count), L'\0');
        for (int i = 0; i < count; ++i) in[i] = static_cast<wchar_t>(first + i);
        std::wstring out(in.size(), L'\0');
        const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in.data(), count, out.data(),
                                    count, nullptr, nullptr, 0);
        if (n == count) {
            for (int i = 0; i < count; ++i) upper[first + i] = static_cast<char16_t>(out[i]);
            return;
        }
        // Upper-casing never changes the length of a single unit; should a
        // platform disagree for the block, fall back to one unit at a time.
        for (int i = 0; i < count; ++i) {
            wchar_t one = in[i], mapped = in[i];
            if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &one, 1, &mapped, 1, nullptr, nullptr, 0) == 1)
                upper[first + i] = static_cast<char16_t>(mapped);
        }
    }
};

}  // namespace

char16_t invariantFold(char16_t c) {
    static const FoldTable table;
    return table.upper[c];
}

}  // namespace korvex::ini
