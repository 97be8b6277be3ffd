#include "cng_sealer.h"

#include "sealed_text.h"

#include "com_types.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <vector>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must hold one UTF-16 code unit");

namespace korvex::crypto {

namespace {

// Not every SDK's ntstatus.h has it; the value is fixed by the platform.
constexpr NTSTATUS kStatusAuthTagMismatch = static_cast<NTSTATUS>(0xC000A002L);
constexpr NTSTATUS kStatusUnsuccessful = static_cast<NTSTATUS>(0xC0000001L);

constexpr std::size_t kKeySize = 32;  // AES-256
constexpr ULONGLONG kIterations = 10000;

// Fixed salt: the key text is the only secret. A per-value salt would need a
// key derivation per open, which is exactly the cost the cache avoids.
constexpr char kSalt[] = "cardkeep.wallet.v1";

// Enough for every key a process realistically uses; a caller cycling
// through many keys only costs re-derivations, not memory.
constexpr std::size_t kMaxCachedKeys = 16;

using KeyBytes = std::array<std::uint8_t, kKeySize>;

[[noreturn]] void throwPlatform(const char* call, NTSTATUS status) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "The platform's cryptography failed (NTSTATUS 0x%08lX in %s).",
                  static_cast<unsigned long>(status), call);
    throw SealError(SealError::Kind::Platform, message, static_cast<std::uint32_t>(status));
}

void check(const char* call, NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) throwPlatform(call, status);
}

[[noreturn]] void throwNotSealed() {
    throw SealError(SealError::Kind::NotSealed, "The text is not a sealed value.");
}

[[noreturn]] void throwDamaged() {
    throw SealError(SealError::Kind::Damaged,
                    "The sealed text is damaged or was sealed with another key.");
}

ULONG toUlong(std::size_t n) {
    if (n > std::numeric_limits<ULONG>::max())
        throw SealError(SealError::Kind::Platform, "The text is too long to be sealed.");
    return static_cast<ULONG>(n);
}

// Plain text and key material should not linger in freed heap blocks.
template <class Container>
void wipe(Container& c) {
    if (!c.empty()) SecureZeroMemory(c.data(), c.size() * sizeof(c[0]));
}

std::u16string toU16(std::wstring_view s) { return {s.begin(), s.end()}; }

// The UTF-16LE bytes of a secret, without leaving an unwiped copy behind.
std::vector<std::uint8_t> secretBytes(std::wstring_view s) {
    std::u16string units = toU16(s);
    std::vector<std::uint8_t> bytes = toUtf16LeBytes(units);
    wipe(units);
    return bytes;
}

std::wstring toWide(std::u16string_view s) { return {s.begin(), s.end()}; }

// A key handle made for one call and destroyed with it. Sharing one handle
// between threads is not something CNG promises to be safe, and making a
// key from cached bytes costs only the AES key schedule.
using KeyHandle = comkit::Owned<BCRYPT_KEY_HANDLE, comkit::PointerHandle<BCRYPT_KEY_HANDLE, BCryptDestroyKey>>;
KeyHandle makeKey(BCRYPT_ALG_HANDLE aes, KeyBytes& bytes) {
    BCRYPT_KEY_HANDLE handle = nullptr;
    check("BCryptGenerateSymmetricKey",
          BCryptGenerateSymmetricKey(aes, &handle, nullptr, 0, bytes.data(), static_cast<ULONG>(bytes.size()), 0));
    return KeyHandle(handle);
}

}  // namespace

struct Sealer::State {
    BCRYPT_ALG_HANDLE aes = nullptr;
    BCRYPT_ALG_HANDLE hmacSha256 = nullptr;

    SRWLOCK lock = SRWLOCK_INIT;
    std::map<std::wstring, KeyBytes, std::less<>> keys;  // guarded by lock

    State() {
        try {
            check("BCryptOpenAlgorithmProvider(AES)",
                  BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0));
            static const wchar_t gcm[] = BCRYPT_CHAIN_MODE_GCM;
            check("BCryptSetProperty(ChainingMode)",
                  BCryptSetProperty(aes, BCRYPT_CHAINING_MODE,
                                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(gcm)),
                                    sizeof gcm, 0));
            check("BCryptOpenAlgorithmProvider(HMAC-SHA256)",
                  BCryptOpenAlgorithmProvider(&hmacSha256, BCRYPT_SHA256_ALGORITHM, nullptr,
                                              BCRYPT_ALG_HANDLE_HMAC_FLAG));
        } catch (...) {
            if (aes) BCryptCloseAlgorithmProvider(aes, 0);
            throw;
        }
    }

    KeyBytes derive(std::wstring_view keyText) {
        std::vector<std::uint8_t> password = secretBytes(keyText);
        KeyBytes key{};
        // The empty key text passes a valid pointer with length zero rather
        // than rely on how each CNG version treats a null one.
        std::uint8_t none = 0;
        const NTSTATUS status = BCryptDeriveKeyPBKDF2(
            hmacSha256, password.empty() ? &none : password.data(),
            toUlong(password.size()),
            reinterpret_cast<PUCHAR>(const_cast<char*>(kSalt)), sizeof kSalt - 1, kIterations,
            key.data(), static_cast<ULONG>(key.size()), 0);
        wipe(password);
        check("BCryptDeriveKeyPBKDF2", status);
        return key;
    }

    // The derivation runs outside the lock: it takes milliseconds and must
    // not hold up threads that use keys already cached.
    KeyBytes keyFor(std::wstring_view keyText) {
        {
            comkit::SrwSharedGuard shared(lock);  // released on every way out, bad_alloc included
            if (const auto it = keys.find(keyText); it != keys.end()) return it->second;
        }

        const KeyBytes derived = derive(keyText);

        comkit::SrwGuard exclusive(lock);
        if (keys.size() >= kMaxCachedKeys && keys.find(keyText) == keys.end()) {
            for (auto& [text, bytes] : keys) SecureZeroMemory(bytes.data(), bytes.size());
            keys.clear();
        }
        keys.emplace(std::wstring(keyText), derived);  // keeps an entry another thread added meanwhile
        return derived;
    }
};

Sealer& Sealer::instance() {
    // Never destroyed: in a DLL the destructor would run inside DllMain on
    // unload, where calling into bcrypt is not safe. The process end frees it.
    static Sealer* const sealer = new Sealer();
    return *sealer;
}

Sealer::Sealer() : state_(new State()) {}

std::wstring Sealer::seal(std::wstring_view plain, std::wstring_view keyText) {
    if (plain.size() > (std::numeric_limits<ULONG>::max() - kTagSize) / 2)
        throw SealError(SealError::Kind::Platform, "The text is too long to be sealed.");

    KeyBytes keyBytes = state_->keyFor(keyText);
    const KeyHandle key = makeKey(state_->aes, keyBytes);
    SecureZeroMemory(keyBytes.data(), keyBytes.size());

    std::array<std::uint8_t, kNonceSize> nonce{};
    check("BCryptGenRandom",
          BCryptGenRandom(nullptr, nonce.data(), static_cast<ULONG>(nonce.size()),
                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    std::vector<std::uint8_t> cipherAndTag(plain.size() * 2 + kTagSize);

    // From here on nothing may throw before the plain bytes are wiped.
    std::vector<std::uint8_t> plainBytes = secretBytes(plain);
    const auto plainSize = static_cast<ULONG>(plainBytes.size());
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = nonce.data();
    info.cbNonce = static_cast<ULONG>(nonce.size());
    info.pbTag = cipherAndTag.data() + plainBytes.size();
    info.cbTag = static_cast<ULONG>(kTagSize);

    // A null output pointer would make CNG only report the size, and the tag
    // would never be computed; for the empty text point at the tag instead,
    // with a length of zero.
    std::uint8_t noInput = 0;
    ULONG written = 0;
    const NTSTATUS status =
        BCryptEncrypt(key.get(), plainBytes.empty() ? &noInput : plainBytes.data(), plainSize,
                      &info, nullptr, 0, cipherAndTag.data(), plainSize, &written, 0);
    wipe(plainBytes);
    check("BCryptEncrypt", status);
    if (written != plainSize) throwPlatform("BCryptEncrypt", kStatusUnsuccessful);

    return toWide(frame(nonce, cipherAndTag));
}

std::wstring Sealer::open(std::wstring_view sealed, std::wstring_view keyText) {
    if (sealed.empty()) return {};

    std::optional<Framed> framed = unframe(toU16(sealed));
    if (!framed) throwNotSealed();
    // Only whole UTF-16 code units can have been sealed.
    if (framed->ciphertext.size() % 2 != 0) throwDamaged();

    KeyBytes keyBytes = state_->keyFor(keyText);
    const KeyHandle key = makeKey(state_->aes, keyBytes);
    SecureZeroMemory(keyBytes.data(), keyBytes.size());

    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = framed->nonce.data();
    info.cbNonce = static_cast<ULONG>(framed->nonce.size());
    info.pbTag = framed->tag.data();
    info.cbTag = static_cast<ULONG>(framed->tag.size());

    const ULONG cipherSize = toUlong(framed->ciphertext.size());
    std::vector<std::uint8_t> plainBytes(framed->ciphertext.size());
    std::uint8_t noData = 0;
    ULONG written = 0;
    const NTSTATUS status = BCryptDecrypt(
        key.get(), cipherSize ? framed->ciphertext.data() : &noData, cipherSize, &info,
        nullptr, 0, cipherSize ? plainBytes.data() : &noData, cipherSize, &written, 0);
    if (status == kStatusAuthTagMismatch) {
        wipe(plainBytes);
        throwDamaged();
    }
    if (!BCRYPT_SUCCESS(status) || written != cipherSize) {
        wipe(plainBytes);
        throwPlatform("BCryptDecrypt", BCRYPT_SUCCESS(status) ? kStatusUnsuccessful : status);
    }

    std::optional<std::u16string> text = fromUtf16LeBytes(plainBytes);
    wipe(plainBytes);
    std::wstring result = toWide(*text);  // even size was checked above
    wipe(*text);
    return result;
}

}  // namespace korvex::crypto
