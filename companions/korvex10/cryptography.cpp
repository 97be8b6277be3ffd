#include "cryptography.h"

#include "cng_sealer.h"

#include <new>
#include <string>

namespace korvex {

using comkit::Bstr;
using comkit::fail;

HRESULT Cryptography::run(bool seal, VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result) {
    if (!text || !key || !flag || !result) return E_POINTER;
    Bstr plain, keyText;
    CK_RETURN_IF_FAILED(comkit::toText(*text, plain));
    CK_RETURN_IF_FAILED(comkit::toText(*key, keyText));
    VARIANT truth;
    VariantInit(&truth);
    if (FAILED(VariantChangeType(&truth, flag, 0, VT_BOOL)))
        return fail(DISP_E_TYPEMISMATCH, L"The flag must be True or False.");
    if (truth.boolVal == VARIANT_FALSE)
        return fail(E_INVALIDARG, L"Only the sealed text form (flag True) is supported.");
    try {
        auto& sealer = crypto::Sealer::instance();
        const std::wstring out = seal ? sealer.seal(plain.view(), keyText.view())
                                      : sealer.open(plain.view(), keyText.view());
        *result = SysAllocStringLen(out.data(), static_cast<UINT>(out.size()));
        if (!*result && !out.empty()) return fail(E_OUTOFMEMORY, L"Out of memory.");
        return S_OK;
    } catch (const crypto::SealError& e) {
        const std::string what = e.what();
        const HRESULT hr = e.kind() == crypto::SealError::Kind::Platform
                               ? HRESULT_FROM_NT(static_cast<LONG>(e.status()))
                               : NTE_BAD_DATA;
        return fail(hr, std::wstring(what.begin(), what.end()));
    }
}

STDMETHODIMP Cryptography::Encrypt(VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result) {
    return call(kProgId, [&] {
        if (result) *result = nullptr;
        return run(true, text, key, flag, result);
    });
}

STDMETHODIMP Cryptography::Decrypt(VARIANT* text, VARIANT* key, VARIANT* flag, BSTR* result) {
    return call(kProgId, [&] {
        if (result) *result = nullptr;
        return run(false, text, key, flag, result);
    });
}

}  // namespace korvex
