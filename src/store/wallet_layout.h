// What the wallet file holds: its name, its sections and keys, and the one
// cipher key every value is sealed with.
#pragma once

#include <string_view>

namespace cardkeep::store {

inline constexpr wchar_t kWalletFileName[] = L"wallet.cdw";
inline constexpr wchar_t kRootVariable[] = L"QZENVSLOCALPRO";

// The wallet's own record.
inline constexpr wchar_t kWalletSection[] = L"WALLET";
inline constexpr wchar_t kKeyNow[] = L"NOW";  // the one plain value: a date/time
inline constexpr wchar_t kKeyName[] = L"NAME";
inline constexpr wchar_t kKeyDescription[] = L"DESCRIPTION";
inline constexpr wchar_t kKeyPassword[] = L"PASSWORD";
inline constexpr wchar_t kKeyHint[] = L"HINT";
inline constexpr wchar_t kKeyModified[] = L"MODIFIED";

inline constexpr wchar_t WALLET_KEY[] = L"kbTorVan";

// A section whose name begins with "wallet" in any letter case is the
// wallet's own (or looks like it) and is never listed as a pocket.
bool isPocket(std::wstring_view sectionName);

}  // namespace cardkeep::store
