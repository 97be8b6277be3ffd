#include "cng_sealer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <set>
#include <thread>
#include <vector>

using korvex::crypto::SealError;
using korvex::crypto::Sealer;
using Kind = SealError::Kind;

namespace {

const std::wstring kKey = L"wallet key";
const std::wstring kBase64Chars = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// How open() refused the text, or nullopt if it dared to return a plain text.
std::optional<Kind> refusal(std::wstring_view sealed, std::wstring_view key) {
    try {
        Sealer::instance().open(sealed, key);
        return std::nullopt;
    } catch (const SealError& e) {
        EXPECT_NE(std::string(e.what()), "");
        return e.kind();
    }
}

bool refusedAsNotOurs(std::wstring_view sealed, std::wstring_view key) {
    const auto kind = refusal(sealed, key);
    return kind == Kind::NotSealed || kind == Kind::Damaged;
}

std::wstring seal(std::wstring_view plain, std::wstring_view key = kKey) {
    return Sealer::instance().seal(plain, key);
}

std::wstring open(std::wstring_view sealed, std::wstring_view key = kKey) {
    return Sealer::instance().open(sealed, key);
}

}  // namespace

TEST(SealerRoundTrip, AwkwardTextsComeBackUnchanged) {
    const std::wstring texts[] = {
        L"", L"=;[]", L"  leading and trailing blanks  ", L"line\r\nbreak",
        L"Gr\u00fc\u00dfe \u20ac \u65e5\u672c",
        std::wstring(L"before\0after", 12), std::wstring(3, L'\0'),
        L"\U0001F600",                                           // surrogate pair
        std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDFFF)),  // lone surrogates
        std::wstring{wchar_t(0xDC00), wchar_t(0xD800)},          // pair in the wrong order
    };
    for (const auto& text : texts) EXPECT_EQ(open(seal(text)), text) << text.size();

    std::wstring big(1 << 20, L'\0');  // 1 MB of mixed code units
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = wchar_t((i * 2654435761u) >> 16);
    EXPECT_EQ(open(seal(big)), big);
}

TEST(SealerForm, IsOneLineOfPrefixAndBase64WithAFreshNonce) {
    for (const std::wstring text : {L"", L"4111 1111 1111 1111"}) {
        const std::wstring sealed = seal(text);
        ASSERT_EQ(sealed.substr(0, 3), L"v1:");
        EXPECT_EQ(sealed.find_first_not_of(kBase64Chars + L"=", 3), std::wstring::npos);
        // nonce (12) + two bytes per code unit + tag (16), in padded base64
        EXPECT_EQ(sealed.size() - 3, (12 + 2 * text.size() + 16 + 2) / 3 * 4);
    }
    std::set<std::wstring> nonces;  // the first 16 characters carry the 12-byte nonce
    for (int i = 0; i < 50; ++i) nonces.insert(seal(L"same text").substr(3, 16));
    EXPECT_EQ(nonces.size(), 50u);
}

TEST(SealerForm, OpensValuesSealedByAnIndependentImplementation) {
    // Made outside this code: PBKDF2-HMAC-SHA256 of the UTF-16LE key text with
    // our salt and 10000 rounds, AES-256-GCM with nonce 00..0B. If derivation
    // or layout ever changes, values already stored in users' INI files stop
    // opening; this is what catches it.
    EXPECT_EQ(open(L"v1:AAECAwQFBgcICQoLLXzRxbiYhQ93iGEylgYyDLIymx7p6CH7FXYqCaHksyIgYfQ5r3SR"
                   L"96JkFT4ZOIm5b2ySzOts/BCqfzsEQc4=",
                   L"correct horse"),
              L"4111 1111 1111 1111 \u00e9\U0001F600");
    EXPECT_EQ(open(L"v1:AAECAwQFBgcICQoLSIW57k41fg1yFWt5KVAPkw==", L""), L"");
}

TEST(SealerRefusal, EverySingleCharacterChange) {
    const std::wstring sealed = seal(L"4111 1111 1111 1111");
    for (std::size_t i = 0; i < sealed.size(); ++i) {
        const std::size_t at = kBase64Chars.find(sealed[i]);
        const wchar_t base = at == std::wstring::npos ? L'A' : kBase64Chars[(at + 1) % 64];
        const wchar_t far = at == std::wstring::npos ? L'/' : kBase64Chars[(at + 32) % 64];
        for (const wchar_t r : {base, far, L'=', L'*', L' ', wchar_t(0x0141), wchar_t(0xD800)}) {
            if (r == sealed[i]) continue;
            std::wstring changed = sealed;
            changed[i] = r;
            EXPECT_TRUE(refusedAsNotOurs(changed, kKey)) << "at " << i << " by " << int(r);
        }
    }
}

TEST(SealerRefusal, TruncationOtherKeyAndGarbage) {
    const std::wstring sealed = seal(L"4111 1111 1111 1111");
    for (std::size_t n = 1; n < sealed.size(); ++n)
        EXPECT_TRUE(refusedAsNotOurs(sealed.substr(0, n), kKey)) << n;
    // Cut by whole base64 quads the text keeps its form; only the tag can tell.
    const std::wstring longer = seal(std::wstring(40, L'x'));
    EXPECT_EQ(refusal(longer.substr(0, longer.size() - 4), kKey), Kind::Damaged);

    for (const std::wstring other : {L"Wallet key", L"wallet key ", L"wallet", L""})
        EXPECT_EQ(refusal(sealed, other), Kind::Damaged) << other.size();
    EXPECT_EQ(refusal(sealed, std::wstring(L"wallet\0key", 10)), Kind::Damaged);
    EXPECT_EQ(open(sealed), L"4111 1111 1111 1111");  // the right key still works

    for (const std::wstring text : {L"hello", L"v1:", L"v1:!!!!", L"v1:AAAA",
                                    L"V1:AAECAwQFBgcICQoLSIW57k41fg1yFWt5KVAPkw==",
                                    L"v1:AAECAwQFBgcICQoLSIW57k41fg1yFWt5KVAPkw"})
        EXPECT_EQ(refusal(text, kKey), Kind::NotSealed) << text.size();
    EXPECT_EQ(refusal(std::wstring(L"\0", 1), kKey), Kind::NotSealed);
    // Right form and length (30 bytes), but never sealed by anyone.
    EXPECT_EQ(refusal(L"v1:" + std::wstring(40, L'A'), kKey), Kind::Damaged);
}

TEST(SealerKeys, EmptyTextOpensEmptyAndEmptyKeyIsAKeyOfItsOwn) {
    EXPECT_EQ(open(L""), L"");
    EXPECT_EQ(open(L"", L""), L"");
    const std::wstring sealed = seal(L"value", L"");
    EXPECT_EQ(open(sealed, L""), L"value");
    EXPECT_EQ(refusal(sealed, L" "), Kind::Damaged);
}

TEST(SealerKeys, ManyKeysStayApartBeyondTheCache) {
    auto key = [](int k) { return L"key " + std::to_wstring(k % 40); };
    std::vector<std::wstring> sealed;
    for (int k = 0; k < 40; ++k) sealed.push_back(seal(L"value " + std::to_wstring(k), key(k)));
    for (int k = 0; k < 40; ++k) {
        EXPECT_EQ(open(sealed[k], key(k)), L"value " + std::to_wstring(k));
        EXPECT_EQ(refusal(sealed[k], key(k + 1)), Kind::Damaged);
    }
}

TEST(SealerThreads, ConcurrentUseWithSharedAndOwnKeys) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            const std::wstring own = L"thread key " + std::to_wstring(t);
            for (int i = 0; i < 100; ++i) {
                const std::wstring key = (i % 2) ? own : L"shared key";
                const std::wstring text = std::to_wstring(t) + L"/" + std::to_wstring(i);
                try {
                    if (open(seal(text, key), key) != text) ++failures;
                } catch (const SealError&) {
                    ++failures;
                }
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}
