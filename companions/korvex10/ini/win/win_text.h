// The platform's half of the INI core's text handling: the ANSI code page
// and letter-case folding that is the same under every user locale.
#pragma once

#include "text_codec.h"

#include <string>
#include <string_view>

namespace korvex::ini {

class WindowsAnsiCodec final : public AnsiCodec {
public:
    std::u16string decode(std::string_view bytes) const override;
    std::optional<std::string> encode(std::u16string_view text) const override;
};

// Ordinal upper-casing over the whole BMP, as the platform's own profile
// functions match names; independent of the user's locale.
char16_t invariantFold(char16_t c);

inline std::u16string_view u16(std::wstring_view s) {
    return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}
inline std::wstring_view wide(std::u16string_view s) {
    return {reinterpret_cast<const wchar_t*>(s.data()), s.size()};
}

}  // namespace korvex::ini
