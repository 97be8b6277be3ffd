#include "wallet_layout.h"

#include <cwctype>

namespace cardkeep::store {

bool isPocket(std::wstring_view sectionName) {
    constexpr std::wstring_view kReserved = L"wallet";
    const std::wstring_view head = sectionName.substr(0, kReserved.size());
    if (head.size() != kReserved.size()) return true;
    for (size_t i = 0; i < head.size(); ++i)
        if (static_cast<wchar_t>(std::towlower(head[i])) != kReserved[i]) return true;
    return false;
}

}  // namespace cardkeep::store
