// Creation and release of the thread's shared component objects.
#pragma once

#include "late_bound.h"

#include <windows.h>

#include <string>

namespace cardkeep {

// Creates the run-time, INI-file and cryptography components for a new
// wallet object. They fill the thread's slots only when no object of the
// thread holds components already; live objects keep theirs, and a failure
// changes nothing.
HRESULT CreateSharedObjects();

// For a wallet object that goes (one that CreateSharedObjects counted): the
// last one on the thread empties the four slots.
void ReleaseSharedObjects() noexcept;

// The thread's run-time component, failing clearly when there is none.
HRESULT requireRunTime(outside::LateBound*& runTime);

// The component in slot, or a failure naming `what` when the thread has
// none (after its last wallet object went).
HRESULT requireSlot(outside::LateBound& slot, const wchar_t* what, outside::LateBound*& out);

}  // namespace cardkeep
