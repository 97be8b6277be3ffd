// Text form of a sealed value, kept free of any platform API so that it can be
// tested and fuzzed natively; the platform part only does the cryptography.
//
// A sealed text is one line: "v1:" followed by the standard base64 (with
// padding) of nonce || ciphertext || tag. Every character of it is printable
// ASCII that an INI file keeps unchanged, and the prefix lets a later format
// be told apart from this one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::crypto {

inline constexpr std::size_t kNonceSize = 12;  // 96-bit GCM nonce
inline constexpr std::size_t kTagSize = 16;    // full 128-bit GCM tag
inline constexpr std::u16string_view kSealedPrefix = u"v1:";

// Standard alphabet, always padded to a multiple of four characters.
std::string base64Encode(std::span<const std::uint8_t> bytes);

// Accepts only what base64Encode produces: no whitespace, no missing or extra
// padding, no padding in the middle, no characters outside the alphabet and
// no set bits in the unused low bits of the last character. Refusing every
// other spelling means one value has exactly one text, so a damaged text is
// never quietly read as a different but valid one.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

struct Framed {
    std::array<std::uint8_t, kNonceSize> nonce{};
    std::vector<std::uint8_t> ciphertext;
    std::array<std::uint8_t, kTagSize> tag{};
};

// Builds the sealed text. nonce must hold kNonceSize bytes and cipherAndTag
// at least kTagSize bytes (the tag is its last kTagSize bytes); anything else
// is a programming error and throws std::invalid_argument.
std::u16string frame(std::span<const std::uint8_t> nonce,
                     std::span<const std::uint8_t> cipherAndTag);

// Splits a sealed text into its parts, or nullopt when the text is not of
// the form frame() produces (prefix, characters, base64 or length).
std::optional<Framed> unframe(std::u16string_view sealed);

// The exact UTF-16 code units as little-endian bytes, whatever they contain
// (NULs, surrogate pairs, lone surrogates), and back. An odd byte count
// cannot come from toUtf16LeBytes and gives nullopt.
std::vector<std::uint8_t> toUtf16LeBytes(std::u16string_view text);
std::optional<std::u16string> fromUtf16LeBytes(std::span<const std::uint8_t> bytes);

}  // namespace korvex::crypto
