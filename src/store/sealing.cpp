#include "sealing.h"

#include "module_state.h"
#include "wallet_layout.h"

namespace cardkeep::store {
namespace {

comkit::Bstr run(const wchar_t* member, comkit::BstrRef sText, comkit::BstrRef sKey, VARIANT_BOOL& bFlag) {
    comkit::Bstr text;
    outside::LateBound& crypto = threadState().goCryptography;
    if (crypto) {
        comkit::Variant result;
        if (SUCCEEDED(crypto.call(member, {sText.argument(), sKey.argument(), comkit::byRef(bFlag)}, result)))
            comkit::toText(*result.get(), text);
    }
    // The failure is absorbed here and must not surface later as the error
    // of some unrelated call.
    SetErrorInfo(0, nullptr);
    return text;
}

comkit::Bstr withWalletKey(const wchar_t* member, comkit::BstrRef text) {
    comkit::Bstr key(WALLET_KEY);
    VARIANT_BOOL flag = VARIANT_TRUE;
    return run(member, text, comkit::BstrRef(key), flag);
}

}  // namespace

comkit::Bstr seal(comkit::BstrRef text) { return withWalletKey(L"Encrypt", text); }
comkit::Bstr open(comkit::BstrRef text) { return withWalletKey(L"Decrypt", text); }

}  // namespace cardkeep::store
