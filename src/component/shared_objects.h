// Creation and release of the thread's shared component objects, and the
// shared INI cursor as each wallet object and its dialogs use it.
#pragma once

#include "late_bound.h"

#include <windows.h>

#include <string>

namespace cardkeep {

struct ModuleState;

// Creates the run-time, INI-file and cryptography components for a new
// wallet object. They fill the thread's slots only when no object of the
// thread holds components already; live objects keep theirs, and a failure
// changes nothing.
HRESULT CreateSharedObjects();

// For a wallet object that goes (one that CreateSharedObjects counted): the
// last one on the thread empties the four slots.
void ReleaseSharedObjects() noexcept;

// The shared INI cursor pointed at walletPath, the calling object's own
// wallet file: Path is assigned only when the cursor points elsewhere.
// An object with no wallet yet (walletPath empty) gets the cursor only while
// no object has pointed it anywhere, as the component itself then refuses.
HRESULT RequireIniFile(const std::wstring& walletPath, outside::LateBound*& ini);
// The cursor as the dialogs use it: at the wallet of the object that shows
// them (DialogWallet).
HRESULT RequireIniFile(outside::LateBound*& ini);
HRESULT RequireRunTime(outside::LateBound*& runTime);

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
HRESULT SelectEntry(outside::LateBound& ini, std::wstring_view section, std::wstring_view key);
HRESULT ReadText(outside::LateBound& ini, comkit::Bstr& text);

}  // namespace cardkeep
