// What the wallet reads of the host's application object: the names and
// version that place its wallet under the root.
#pragma once

#include "late_bound.h"

#include <string>

namespace cardkeep {

// The host's part of the wallet path, ProductName\Title\Major.Minor, or its
// first `parts` components, read afresh from the host's object.
HRESULT applicationPath(outside::LateBound& app, int parts, std::wstring& path);

}  // namespace cardkeep
