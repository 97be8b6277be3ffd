// Sealing of short secrets (card numbers, passwords) with AES-256-GCM from the
// platform's CNG, so that the INI files we write never hold them in clear.
//
// The header stays free of <windows.h> so that the COM layer above can
// include it without dragging the whole platform API into its own headers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvex::crypto {

// Every failure of seal/open. The message is meant for the user; kind()
// lets a caller map the failure to its own error codes without parsing it.
class SealError : public std::runtime_error {
public:
    enum class Kind {
        NotSealed,  // the text is not of the sealed form at all
        Damaged,    // right form, but it does not verify: altered, cut or another key
        Platform,   // CNG itself failed; status() holds its NTSTATUS
    };

    SealError(Kind kind, const std::string& message, std::uint32_t status = 0)
        : std::runtime_error(message), kind_(kind), status_(status) {}

    Kind kind() const noexcept { return kind_; }
    std::uint32_t status() const noexcept { return status_; }

private:
    Kind kind_;
    std::uint32_t status_;
};

class Sealer {
public:
    // The one instance of the process. Opening the algorithm providers is the
    // expensive part, so it happens once, on first use; if it fails, the
    // SealError is thrown here and a later call tries again.
    static Sealer& instance();

    // Seals the exact UTF-16 code units of plain (NULs, lone surrogates and
    // all). Every call draws a fresh nonce, so sealing one text twice gives
    // two different results. The empty text seals to a non-empty sealed text.
    //
    // keyText is the user's secret. Key texts that differ only by trailing
    // NUL characters are the same key: HMAC pads its key with zero bytes, so
    // the derivation cannot tell them apart. Knowing one means knowing the
    // other, so nothing is lost, but callers should not rely on the
    // difference.
    std::wstring seal(std::wstring_view plain, std::wstring_view keyText);

    // Gives back exactly what was sealed, or throws: a text that is not of the
    // sealed form, or that does not verify under keyText, never yields a
    // plain text. The empty text opens to the empty text, so an INI value
    // that was never set reads as empty rather than as an error.
    std::wstring open(std::wstring_view sealed, std::wstring_view keyText);

    Sealer(const Sealer&) = delete;
    Sealer& operator=(const Sealer&) = delete;

private:
    Sealer();
    ~Sealer() = delete;  // lives until the process ends; see instance()

    struct State;
    State* state_;
};

}  // namespace korvex::crypto
