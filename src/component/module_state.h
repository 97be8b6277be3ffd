// Module-level state, one copy per thread, shared by every wallet object and
// dialog on that thread. Kept in a TLS slot rather than C++ thread_local,
// which would pin the library in memory.
#pragma once

#include "late_bound.h"

#include <memory>
#include <string>

namespace cardkeep {

class FileSystem;
namespace dialogs {
class frmEditWalletA;
class frmEditPocket;
}  // namespace dialogs

struct ModuleState {
    ModuleState();
    ~ModuleState();

    // The shared object slots.
    outside::LateBound goRunTime;
    outside::LateBound goINIFile;
    std::unique_ptr<FileSystem> goFileSystem;
    outside::LateBound goCryptography;

    // The wallet objects alive on this thread: the shared components stay
    // while there is one.
    int walletObjects = 0;
    // The wallet file the INI cursor points at; empty before any.
    std::wstring cursorPath;

    // The opened name of the wallet whose dialog is shown, for the captions
    // (else the name last initialised on this thread), and that wallet's
    // file, the only one the dialogs read and write.
    std::wstring gsCurrentWalletName;
    std::wstring dialogWalletPath;

    // The thread's two dialogs, made on first use. Neither holds a window
    // while it is not shown.
    std::unique_ptr<dialogs::frmEditWalletA> frmEditWalletA;
    std::unique_ptr<dialogs::frmEditPocket> frmEditPocket;

    // Forgets the objects without releasing them: for the loader lock,
    // where no COM call may be made.
    void abandonObjects();
};

ModuleState& threadState();
// This thread's copy if it has one; makes none, so it never fails.
ModuleState* existingThreadState() noexcept;

// Frees this thread's copy (or every thread's, at unload).
void discardModuleState(bool wholeProcess);

}  // namespace cardkeep
