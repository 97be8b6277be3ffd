// Creation and release of the thread's shared component objects.
#pragma once

#include "late_bound.h"

#include <windows.h>

namespace cardkeep {

// Creates the run-time, INI-file and cryptography components into the
// thread's slots; a failure leaves the slots filled before it as they are.
HRESULT CreateSharedObjects();

// Empties the four slots (for every object on the thread).
void ReleaseSharedObjects();

// The slots as operations need them: absent after another object on the
// thread was released, which is an error of the operation.
HRESULT RequireIniFile(outside::LateBound*& ini);
HRESULT RequireRunTime(outside::LateBound*& runTime);

// One value of the wallet file, through the shared INI cursor.
HRESULT SelectEntry(outside::LateBound& ini, std::wstring_view section, std::wstring_view key);
HRESULT ReadText(outside::LateBound& ini, comkit::Bstr& text);

}  // namespace cardkeep
