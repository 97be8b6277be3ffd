#include "sealed_text.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>

namespace kc = korvex::crypto;

namespace {

std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

std::u16string sealedOf(const std::vector<std::uint8_t>& payload) {
    const std::string b64 = kc::base64Encode(payload);
    return u"v1:" + std::u16string(b64.begin(), b64.end());
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

TEST(Base64, MatchesRfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"},  // sextets 62 and 63: standard, not URL-safe, alphabet
    };
    for (const auto& [plain, encoded] : vectors) {
        const std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
        EXPECT_EQ(kc::base64Encode(bytes), encoded);
        EXPECT_EQ(kc::base64Decode(encoded), bytes) << encoded;
    }
}

TEST(Base64, RoundTripsEveryLength) {
    for (std::size_t n = 0; n <= 70; ++n) {
        const auto bytes = randomBytes(n, static_cast<std::uint32_t>(n));
        EXPECT_EQ(kc::base64Decode(kc::base64Encode(bytes)), bytes) << n;
    }
}

TEST(Base64, RefusesNonCanonicalText) {
    const std::string refused[] = {
        "Zg", "Zg=", "Zg===", "Z===", "====", "Zg=A",  // missing, short, extra, lone, broken padding
        "Zg==Zm8=", "Zm=v",                    // padding before the end
        "Zh==", "Zm9=",                        // unused low bits set (canonical: Zg==, Zm8=)
        "Zm9v ", " Zm9v", "Zm9v\n", "Zm\r\n9v",  // whitespace anywhere
        "-_-_", "Zm9.",                        // URL-safe or foreign characters
        std::string("Zm\0v", 4), "Zm9\xC3", "\xFF\xFF\xFF\xFF",
    };
    for (const auto& text : refused) EXPECT_FALSE(kc::base64Decode(text)) << '"' << text << '"';
}

TEST(Base64, AcceptsExactlyOneSpellingPerByte) {
    // Of the 4096 texts "xy==", exactly one per byte value may decode, and
    // each must be what the encoder writes for that byte.
    std::set<std::vector<std::uint8_t>> values;
    for (char x : kAlphabet)
        for (char y : kAlphabet)
            if (const auto d = kc::base64Decode(std::string{x, y, '=', '='})) {
                EXPECT_EQ(kc::base64Encode(*d), (std::string{x, y, '=', '='}));
                values.insert(*d);
            }
    EXPECT_EQ(values.size(), 256u);
}

TEST(Frame, RoundTripsNonceCiphertextAndTag) {
    for (std::size_t cipherLen : {0u, 1u, 2u, 3u, 100u}) {
        const auto nonce = randomBytes(kc::kNonceSize, 1);
        const auto cipherAndTag = randomBytes(cipherLen + kc::kTagSize, 2);
        const std::u16string sealed = kc::frame(nonce, cipherAndTag);
        ASSERT_EQ(sealed.substr(0, 3), u"v1:");
        for (char16_t ch : sealed.substr(3))
            EXPECT_TRUE(ch == u'=' || (ch < 0x80 && kAlphabet.find(char(ch)) != std::string::npos));

        const auto f = kc::unframe(sealed);
        ASSERT_TRUE(f) << cipherLen;
        EXPECT_TRUE(std::equal(f->nonce.begin(), f->nonce.end(), nonce.begin(), nonce.end()));
        std::vector<std::uint8_t> joined = f->ciphertext;
        joined.insert(joined.end(), f->tag.begin(), f->tag.end());
        EXPECT_EQ(joined, cipherAndTag);
    }
    EXPECT_THROW(kc::frame(randomBytes(11, 4), randomBytes(16, 5)), std::invalid_argument);
    EXPECT_THROW(kc::frame(randomBytes(13, 4), randomBytes(16, 5)), std::invalid_argument);
    EXPECT_THROW(kc::frame(randomBytes(12, 4), randomBytes(15, 5)), std::invalid_argument);
}

TEST(Unframe, RefusesTextsNotOfTheSealedForm) {
    const std::u16string good = kc::frame(randomBytes(12, 6), randomBytes(20, 7));
    ASSERT_TRUE(kc::unframe(good));
    const std::u16string body = good.substr(3);
    const std::u16string refused[] = {
        u"", u"v1:", body, u"V1:" + body, u"v2:" + body, u"v1" + body, u" v1:" + body,
        good + u" ", good + u"\r\n",
        good.substr(0, good.size() - 1),  // not a multiple of four
        u"v1:" + body.substr(1) + u"A",   // padding moved inside
    };
    for (const auto& text : refused) EXPECT_FALSE(kc::unframe(text)) << text.size();

    // U+0141 and U+FF41 have 'A' as their low byte: a narrowing copy would accept them.
    for (char16_t wide : {u'\u0141', u'\uFF41'}) {
        std::u16string bad = good;
        bad[5] = wide;
        EXPECT_FALSE(kc::unframe(bad));
    }
}

TEST(Unframe, NeedsAtLeastNonceAndTag) {
    for (std::size_t n : {0u, 1u, 12u, 16u, 27u}) EXPECT_FALSE(kc::unframe(sealedOf(randomBytes(n, 8)))) << n;
    const auto shortest = kc::unframe(sealedOf(randomBytes(28, 8)));
    ASSERT_TRUE(shortest);
    EXPECT_TRUE(shortest->ciphertext.empty());
}

TEST(Utf16Bytes, AreLittleEndianCodeUnitsAndRoundTrip) {
    EXPECT_EQ(kc::toUtf16LeBytes(u"A\u20AC"), (std::vector<std::uint8_t>{0x41, 0x00, 0xAC, 0x20}));
    const std::u16string texts[] = {
        u"", std::u16string(u"a\0b", 3), u"\U0001F600",
        std::u16string(1, u'\xD800'), std::u16string{u'\xDC00', u'\xD800'},  // lone and reversed
    };
    for (const auto& t : texts) EXPECT_EQ(kc::fromUtf16LeBytes(kc::toUtf16LeBytes(t)), t);
    EXPECT_FALSE(kc::fromUtf16LeBytes(std::vector<std::uint8_t>{0x41, 0x00, 0x42}));
}
