// Sealing and opening of stored values through the thread's cryptography
// component. Neither ever fails: whatever goes wrong gives the empty text,
// which is why callers that must not lose data check a non-empty text
// against an empty seal themselves.
#pragma once

#include "com_types.h"

namespace cardkeep::store {

// The text and the key are the caller's own variables, passed on by
// reference: the component may replace their strings (BstrRef says who
// then owns them).
comkit::Bstr EncryptValue(comkit::BstrRef sText, comkit::BstrRef sKey, VARIANT_BOOL& bFlag);
comkit::Bstr DecryptValue(comkit::BstrRef sText, comkit::BstrRef sKey, VARIANT_BOOL& bFlag);

// With WALLET_KEY and True, as every caller seals and opens.
comkit::Bstr seal(comkit::BstrRef text);
comkit::Bstr open(comkit::BstrRef text);

}  // namespace cardkeep::store
