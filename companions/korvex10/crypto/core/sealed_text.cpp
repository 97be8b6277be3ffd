#include "sealed_text.h"

#include <algorithm>
#include <stdexcept>

namespace korvex::crypto {

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kInvalid = 0xFF;

// Reverse lookup over all 256 byte values so that no input byte, signed or
// not, can index outside the table.
constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = kInvalid;
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}

constexpr auto kDecode = makeDecodeTable();

std::uint8_t sextet(char c) { return kDecode[static_cast<unsigned char>(c)]; }

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    std::string out;
    if (n / 3 >= out.max_size() / 4) throw std::length_error("base64Encode: input too large");
    out.reserve((n / 3 + (n % 3 != 0)) * 4);

    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) |
                                (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out.push_back(kAlphabet[(v >> 18) & 0x3F]);
        out.push_back(kAlphabet[(v >> 12) & 0x3F]);
        out.push_back(kAlphabet[(v >> 6) & 0x3F]);
        out.push_back(kAlphabet[v & 0x3F]);
    }
    if (const std::size_t rest = n - i; rest != 0) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (rest == 2) v |= std::uint32_t{bytes[i + 1]} << 8;
        out.push_back(kAlphabet[(v >> 18) & 0x3F]);
        out.push_back(kAlphabet[(v >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;

    std::vector<std::uint8_t> out;
    if (text.empty()) return out;
    out.reserve(text.size() / 4 * 3);

    const std::size_t lastQuad = text.size() - 4;
    for (std::size_t i = 0; i < lastQuad; i += 4) {
        const std::uint8_t a = sextet(text[i]), b = sextet(text[i + 1]),
                           c = sextet(text[i + 2]), d = sextet(text[i + 3]);
        // '=' is not in the table either, so padding before the end fails here.
        if (a == kInvalid || b == kInvalid || c == kInvalid || d == kInvalid)
            return std::nullopt;
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) |
                                (std::uint32_t{c} << 6) | d;
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }

    // The last quad is the only place padding may appear: "xxxx", "xxx=" or "xx==".
    const std::string_view q = text.substr(lastQuad);
    const std::uint8_t a = sextet(q[0]), b = sextet(q[1]);
    if (a == kInvalid || b == kInvalid) return std::nullopt;

    if (q[2] == '=') {
        if (q[3] != '=') return std::nullopt;
        if ((b & 0x0F) != 0) return std::nullopt;  // unused bits must be zero
        out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
        return out;
    }
    const std::uint8_t c = sextet(q[2]);
    if (c == kInvalid) return std::nullopt;
    if (q[3] == '=') {
        if ((c & 0x03) != 0) return std::nullopt;  // unused bits must be zero
        out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
        out.push_back(static_cast<std::uint8_t>((b << 4) | (c >> 2)));
        return out;
    }
    const std::uint8_t d = sextet(q[3]);
    if (d == kInvalid) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>((a << 2) | (b >> 4)));
    out.push_back(static_cast<std::uint8_t>((b << 4) | (c >> 2)));
    out.push_back(static_cast<std::uint8_t>((c << 6) | d));
    return out;
}

std::u16string frame(std::span<const std::uint8_t> nonce,
                     std::span<const std::uint8_t> cipherAndTag) {
    if (nonce.size() != kNonceSize)
        throw std::invalid_argument("frame: the nonce must be 12 bytes");
    if (cipherAndTag.size() < kTagSize)
        throw std::invalid_argument("frame: the ciphertext must end with a 16-byte tag");

    std::vector<std::uint8_t> payload;
    payload.reserve(nonce.size() + cipherAndTag.size());
    payload.insert(payload.end(), nonce.begin(), nonce.end());
    payload.insert(payload.end(), cipherAndTag.begin(), cipherAndTag.end());
    const std::string encoded = base64Encode(payload);

    std::u16string out;
    out.reserve(kSealedPrefix.size() + encoded.size());
    out.append(kSealedPrefix);
    for (const char ch : encoded) out.push_back(static_cast<char16_t>(ch));
    return out;
}

std::optional<Framed> unframe(std::u16string_view sealed) {
    if (!sealed.starts_with(kSealedPrefix)) return std::nullopt;
    const std::u16string_view body = sealed.substr(kSealedPrefix.size());

    // Narrowing is only lossless for ASCII; anything wider cannot be ours and
    // must not be truncated into something that happens to decode.
    std::string ascii;
    ascii.reserve(body.size());
    for (const char16_t ch : body) {
        if (ch > 0x7F) return std::nullopt;
        ascii.push_back(static_cast<char>(ch));
    }

    auto payload = base64Decode(ascii);
    if (!payload || payload->size() < kNonceSize + kTagSize) return std::nullopt;

    Framed f;
    const auto cipherBegin = payload->begin() + kNonceSize;
    const auto tagBegin = payload->end() - kTagSize;
    std::copy(payload->begin(), cipherBegin, f.nonce.begin());
    f.ciphertext.assign(cipherBegin, tagBegin);
    std::copy(tagBegin, payload->end(), f.tag.begin());
    return f;
}

std::vector<std::uint8_t> toUtf16LeBytes(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

std::optional<std::u16string> fromUtf16LeBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return out;
}

}  // namespace korvex::crypto
