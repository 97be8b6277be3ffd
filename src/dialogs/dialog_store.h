// The dialogs' reads and writes of the wallet file: values opened on the way
// in and sealed on the way out, through the thread's one INI cursor.
#pragma once

#include "com_types.h"
#include "late_bound.h"

#include <string>
#include <string_view>
#include <vector>

namespace cardkeep::dialogs {

// Reads Value at the cursor's section and key and opens it; a value that
// cannot be opened reads as the empty text.
HRESULT readOpened(outside::LateBound& ini, std::wstring& plain);

// Seals a value for writing. A non-empty value whose seal comes back empty
// fails: writing it would replace stored data with nothing.
HRESULT sealForWriting(std::wstring_view plain, comkit::Bstr& sealed);

// A by-reference call on the INI component that fills a list of names and
// a count; names gets those at indices 1 through the list's upper bound,
// and nothing when the count is 0, whatever the list holds.
HRESULT enumerateNames(outside::LateBound& ini, const wchar_t* member, std::vector<std::wstring>& names);

}  // namespace cardkeep::dialogs
