// Sealing and opening of stored values through the thread's cryptography
// component. Neither ever fails: whatever goes wrong gives the empty text,
// which is why callers that must not lose data check a non-empty text
// against an empty seal themselves.
#pragma once

#include "com_types.h"

namespace cardkeep::store {

// With WALLET_KEY and True, as every caller seals and opens. The text is
// the caller's own variable, passed on by reference: the component may
// replace its string (BstrRef says who then owns it).
comkit::Bstr seal(comkit::BstrRef text);
comkit::Bstr open(comkit::BstrRef text);

}  // namespace cardkeep::store
