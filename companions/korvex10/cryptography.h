#pragma once

#include "com_server.h"
#include "korvex10_h.h"

namespace korvex {

// Seals text into one line that an INI file stores unchanged, and opens it
// again; a damaged or foreign text is refused, never opened wrongly.
class Cryptography final : public comkit::AutomationObject<_clsKorvexCryptographyC> {
public:
    static constexpr const wchar_t* kProgId = L"KORVEX10.clsKorvexCryptographyC";

    STDMETHODIMP Encrypt(VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result) override;
    STDMETHODIMP Decrypt(VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result) override;

private:
    HRESULT run(bool seal, VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result);
};

}  // namespace korvex
