#include "text_codec.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace korvex::ini {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool startsWith(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

void appendCodePoint(std::u16string& out, std::uint32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Appends the UTF-16 form of `in` to `out`. Strict mode stops with false at
// the first ill-formed sequence (the caller then tries another encoding).
// Lenient mode turns each maximal ill-formed subpart into one U+FFFD, the
// usual convention, so a damaged byte costs one replacement, not the rest of
// the line.
bool utf8ToUtf16(std::string_view in, std::u16string& out, bool strict)
{
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    out.reserve(out.size() + n);
    std::size_t i = 0;
    while (i < n) {
        const unsigned lead = p[i];
        if (lead < 0x80) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        // The ranges of the second byte exclude overlong forms (E0, F0),
        // encoded surrogates (ED) and code points above U+10FFFF (F4).
        unsigned trail = 0;
        std::uint32_t cp = 0;
        unsigned lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            if (strict) return false;
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (unsigned k = 0; k < trail; ++k, ++j) {
            if (j >= n || p[j] < lo || p[j] > hi) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[j] & 0x3F);
            lo = 0x80;
            hi = 0xBF;
        }
        if (!ok) {
            if (strict) return false;
            out.push_back(kReplacement);
            i = j;  // the valid prefix is the maximal subpart; j > i always
            continue;
        }
        appendCodePoint(out, cp);
        i = j;
    }
    return true;
}

// False when `in` holds a lone surrogate, which UTF-8 cannot carry.
bool utf16ToUtf8(std::u16string_view in, std::string& out)
{
    out.reserve(out.size() + in.size() + in.size() / 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        std::uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp > 0xDBFF || i + 1 >= in.size()) return false;
            const std::uint32_t low = in[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

// A dangling odd byte cannot be half a character we could keep, so it shows
// up as U+FFFD: visible to the user instead of silently vanishing.
// Each file is read and written whole on every change, so the common form,
// little-endian on a little-endian machine, is one copy.
std::u16string utf16FromBytes(std::string_view bytes, bool bigEndian)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t pairs = bytes.size() / 2;
    std::u16string out(pairs, u'\0');
    if (!bigEndian && std::endian::native == std::endian::little) {
        if (pairs != 0) std::memcpy(out.data(), p, 2 * pairs);
    } else {
        for (std::size_t k = 0; k < pairs; ++k) {
            const unsigned a = p[2 * k], b = p[2 * k + 1];
            out[k] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
        }
    }
    if (bytes.size() % 2 != 0) out.push_back(kReplacement);
    return out;
}

std::string utf16LeWithBom(std::u16string_view text)
{
    std::string out(2 + 2 * text.size(), '\0');
    out[0] = '\xFF';
    out[1] = '\xFE';
    if constexpr (std::endian::native == std::endian::little) {
        if (!text.empty()) std::memcpy(out.data() + 2, text.data(), 2 * text.size());
    } else {
        for (std::size_t k = 0; k < text.size(); ++k) {
            out[2 + 2 * k] = static_cast<char>(text[k] & 0xFF);
            out[3 + 2 * k] = static_cast<char>(text[k] >> 8);
        }
    }
    return out;
}

}  // namespace

std::u16string Latin1Codec::decode(std::string_view bytes) const
{
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<unsigned char>(bytes[i]);
    return out;
}

std::optional<std::string> Latin1Codec::encode(std::u16string_view text) const
{
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0xFF) return std::nullopt;
        out[i] = static_cast<char>(text[i]);
    }
    return out;
}

bool isValidUtf8(std::string_view bytes)
{
    std::u16string scratch;
    return utf8ToUtf16(bytes, scratch, true);
}

// Order matters: a BOM is the only unambiguous signal; then UTF-8, because
// ANSI text with high bytes is very unlikely to form valid UTF-8 by chance,
// while every byte string is valid in the ANSI code page.
Decoded decode(std::string_view bytes, const AnsiCodec& ansi)
{
    // An empty (new) file gets our default form when first saved.
    if (bytes.empty()) return {std::u16string(), Encoding::Utf16Le};
    if (startsWith(bytes, "\xFF\xFE"))
        return {utf16FromBytes(bytes.substr(2), false), Encoding::Utf16Le};
    // Big-endian files are read but written back as UTF-16LE: nothing here
    // ever produces big-endian, and keeping one more output form only for
    // files some other tool wrote is not worth it. The text is unchanged.
    if (startsWith(bytes, "\xFE\xFF"))
        return {utf16FromBytes(bytes.substr(2), true), Encoding::Utf16Le};
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        // The BOM states the encoding; damage after it is replaced rather
        // than reinterpreting the whole file as ANSI.
        Decoded d{std::u16string(), Encoding::Utf8Bom};
        utf8ToUtf16(bytes.substr(3), d.text, false);
        return d;
    }
    Decoded d{std::u16string(), Encoding::Utf8};
    if (utf8ToUtf16(bytes, d.text, true)) return d;
    return {ansi.decode(bytes), Encoding::Ansi};
}

std::string encode(std::u16string_view text, Encoding& enc, const AnsiCodec& ansi)
{
    switch (enc) {
    case Encoding::Utf16Le:
        break;
    case Encoding::Utf8Bom:
    case Encoding::Utf8: {
        std::string out;
        if (enc == Encoding::Utf8Bom) out = "\xEF\xBB\xBF";
        // Without a BOM of our own, a leading U+FEFF would be written as one
        // and swallowed on the next read.
        const bool leadsWithBom = enc == Encoding::Utf8 && !text.empty() && text.front() == 0xFEFF;
        if (!leadsWithBom && utf16ToUtf8(text, out)) return out;
        break;
    }
    case Encoding::Ansi:
        // Representable is not enough: the bytes must also be read back as
        // the same text. They may happen to look like a BOM or like UTF-8
        // ("Ã©" in Latin-1 is the UTF-8 form of "é"), and a code page codec may
        // not be symmetric.
        if (auto bytes = ansi.encode(text)) {
            if (decode(*bytes, ansi).text == text) return std::move(*bytes);
        }
        break;
    }
    enc = Encoding::Utf16Le;
    return utf16LeWithBom(text);
}

}  // namespace korvex::ini
