// Byte <-> UTF-16 conversion for wallet files.
//
// A wallet file may have been written by us (UTF-16LE with BOM), by a text
// editor (UTF-8 with or without BOM) or by an old tool in the ANSI code page.
// We read all of them and, when saving, keep the form the file already had
// unless that form cannot hold the text: then we write UTF-16LE, which holds
// every code unit, rather than lose a character.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvex::ini {

enum class Encoding { Utf16Le, Utf8Bom, Utf8, Ansi };

// The ANSI code page only exists on Windows, so the conversion is injected.
struct AnsiCodec {
    virtual ~AnsiCodec() = default;
    virtual std::u16string decode(std::string_view bytes) const = 0;
    // nullopt when some character has no exact form in the code page. An
    // implementation must not substitute look-alikes or '?': a lossy result
    // here would be written to disk as if it were the user's text.
    virtual std::optional<std::string> encode(std::u16string_view text) const = 0;
};

// Each byte is the code point of the same value. Used natively, where there is
// no system code page, and by the tests.
struct Latin1Codec final : AnsiCodec {
    std::u16string decode(std::string_view bytes) const override;
    std::optional<std::string> encode(std::u16string_view text) const override;
};

struct Decoded {
    std::u16string text;
    Encoding encoding;  // the form to write the text back in
};

// Never fails; see the detection order in text_codec.cpp.
Decoded decode(std::string_view bytes, const AnsiCodec& ansi);

// Encodes `text` in `enc`, BOM included for Utf16Le and Utf8Bom. When `enc`
// cannot represent the text exactly (or the bytes would be read back as other
// text), `enc` is switched to Utf16Le and the result is in that form.
std::string encode(std::u16string_view text, Encoding& enc, const AnsiCodec& ansi);

// True when `bytes` is well-formed UTF-8: shortest forms only, no encoded
// surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

}  // namespace korvex::ini
