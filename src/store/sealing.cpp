#include "sealing.h"

#include "module_state.h"
#include "wallet_layout.h"

namespace cardkeep::store {
namespace {

VARIANT reference(BSTR& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &text;
    return v;
}

comkit::Bstr run(const wchar_t* member, BSTR& sText, BSTR& sKey, VARIANT_BOOL& bFlag) {
    comkit::Bstr text;
    outside::LateBound& crypto = threadState().goCryptography;
    if (crypto) {
        VARIANT flag;
        VariantInit(&flag);
        flag.vt = VT_BYREF | VT_BOOL;
        flag.pboolVal = &bFlag;
        comkit::Variant result;
        if (SUCCEEDED(crypto.call(member, {reference(sText), reference(sKey), flag}, result)))
            comkit::toText(*result.get(), text);
    }
    // The failure is absorbed here and must not surface later as the error
    // of some unrelated call.
    SetErrorInfo(0, nullptr);
    return text;
}

comkit::Bstr withWalletKey(const wchar_t* member, BSTR& text) {
    comkit::Bstr key(WALLET_KEY);
    BSTR keyVariable = key.get();
    VARIANT_BOOL flag = VARIANT_TRUE;
    comkit::Bstr result = run(member, text, keyVariable, flag);
    // The component may have replaced the key variable's string.
    if (keyVariable != key.get()) {
        key.detach();
        *key.put() = keyVariable;
    }
    return result;
}

}  // namespace

comkit::Bstr EncryptValue(BSTR& sText, BSTR& sKey, VARIANT_BOOL& bFlag) { return run(L"Encrypt", sText, sKey, bFlag); }
comkit::Bstr DecryptValue(BSTR& sText, BSTR& sKey, VARIANT_BOOL& bFlag) { return run(L"Decrypt", sText, sKey, bFlag); }
comkit::Bstr seal(BSTR& text) { return withWalletKey(L"Encrypt", text); }
comkit::Bstr open(BSTR& text) { return withWalletKey(L"Decrypt", text); }

}  // namespace cardkeep::store
