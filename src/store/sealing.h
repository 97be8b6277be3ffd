// Sealing and opening of stored values through the thread's cryptography
// component. Neither ever fails: whatever goes wrong gives the empty text,
// which is why callers that must not lose data check a non-empty text
// against an empty seal themselves.
#pragma once

#include "com_types.h"

namespace cardkeep::store {

// The three arguments are the caller's own variables, passed on by reference.
comkit::Bstr EncryptValue(BSTR& sText, BSTR& sKey, VARIANT_BOOL& bFlag);
comkit::Bstr DecryptValue(BSTR& sText, BSTR& sKey, VARIANT_BOOL& bFlag);

// With WALLET_KEY and True, as every caller seals and opens.
comkit::Bstr seal(BSTR& text);
comkit::Bstr open(BSTR& text);

}  // namespace cardkeep::store
