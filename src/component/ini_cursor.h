// The thread's shared INI cursor as each wallet object and its dialogs use
// it: pointed at the caller's own wallet file, and one value at a time.
#pragma once

#include "late_bound.h"

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace cardkeep {

struct ModuleState;

// The shared INI cursor pointed at walletPath, the calling object's own
// wallet file: Path is assigned only when the cursor points elsewhere.
// An object with no wallet yet (walletPath empty) gets the cursor only while
// no object has pointed it anywhere, as the component itself then refuses.
HRESULT requireIniFile(const std::wstring& walletPath, outside::LateBound*& ini);
// The cursor as the dialogs use it: at the wallet of the object that shows
// them (DialogWallet).
HRESULT requireIniFile(outside::LateBound*& ini);
// While it lives, the thread's dialogs show one object's wallet: its name in
// the captions, its file through the cursor. A dialog shown from inside
// another's gets its own, and the outer one's comes back afterwards.
class DialogWallet {
public:
    DialogWallet(std::wstring walletPath, std::wstring walletName);
    ~DialogWallet();
    DialogWallet(const DialogWallet&) = delete;
    DialogWallet& operator=(const DialogWallet&) = delete;

private:
    ModuleState& state_;
    std::wstring path_;  // the outer one's, while this one is in place
    std::wstring name_;
};

// One value of the wallet file, through the shared INI cursor.
HRESULT selectEntry(outside::LateBound& ini, std::wstring_view section, std::wstring_view key);
HRESULT readText(outside::LateBound& ini, comkit::Bstr& text);

// Several values of one section, written in one write: all of them or, on a
// failure, none, and the description says so. An INI component without
// that write (IKorvexIniChanges) gets them one after another, through the
// cursor's Section and Key; otherwise the cursor does not move.
struct IniValue {
    std::wstring_view key;
    std::wstring_view value;
};
HRESULT writeValues(outside::LateBound& ini, std::wstring_view section, std::span<const IniValue> values);

}  // namespace cardkeep
