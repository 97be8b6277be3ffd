#include "module_state.h"

#include "folders.h"
#include "pocket_dialog.h"
#include "wallet_dialog.h"

#include <algorithm>
#include <vector>

namespace cardkeep {
namespace {

INIT_ONCE g_slotOnce = INIT_ONCE_STATIC_INIT;
DWORD g_slot = TLS_OUT_OF_INDEXES;

// Every thread's copy, so that unloading the library can free them all.
SRWLOCK g_allLock = SRWLOCK_INIT;
std::vector<ModuleState*>* g_all = nullptr;

BOOL CALLBACK allocateSlot(PINIT_ONCE, PVOID, PVOID*) {
    g_slot = TlsAlloc();
    return g_slot != TLS_OUT_OF_INDEXES;
}

void forget(ModuleState* state) {
    comkit::SrwGuard guard(g_allLock);
    if (!g_all) return;
    g_all->erase(std::remove(g_all->begin(), g_all->end(), state), g_all->end());
}

}  // namespace

ModuleState::ModuleState() = default;
ModuleState::~ModuleState() = default;

void ModuleState::abandonObjects() {
    for (outside::LateBound* slot : {&goRunTime, &goINIFile, &goCryptography}) slot->abandon();
    goFileSystem.reset();
    // A dialog still on screen belongs to a modal loop that ends with the
    // process: its windows must not be touched from here, so it is left.
    if (frmEditWalletA && frmEditWalletA->isShown()) static_cast<void>(frmEditWalletA.release());
    if (frmEditPocket && frmEditPocket->isShown()) static_cast<void>(frmEditPocket.release());
}

ModuleState& threadState() {
    if (!InitOnceExecuteOnce(&g_slotOnce, allocateSlot, nullptr, nullptr)) throw std::bad_alloc();
    auto* state = static_cast<ModuleState*>(TlsGetValue(g_slot));
    if (!state) {
        state = new ModuleState();
        TlsSetValue(g_slot, state);
        comkit::SrwGuard guard(g_allLock);
        if (!g_all) g_all = new std::vector<ModuleState*>();
        g_all->push_back(state);
    }
    return *state;
}

ModuleState* existingThreadState() noexcept {
    if (g_slot == TLS_OUT_OF_INDEXES) return nullptr;
    return static_cast<ModuleState*>(TlsGetValue(g_slot));
}

void discardModuleState(bool wholeProcess) {
    if (g_slot == TLS_OUT_OF_INDEXES) return;
    if (!wholeProcess) {
        auto* state = static_cast<ModuleState*>(TlsGetValue(g_slot));
        if (!state) return;
        TlsSetValue(g_slot, nullptr);
        forget(state);
        state->abandonObjects();
        delete state;
        return;
    }
    std::vector<ModuleState*>* all = nullptr;
    {
        comkit::SrwGuard guard(g_allLock);
        all = std::exchange(g_all, nullptr);
    }
    if (all) {
        for (ModuleState* state : *all) {
            state->abandonObjects();
            delete state;
        }
        delete all;
    }
    TlsFree(g_slot);
    g_slot = TLS_OUT_OF_INDEXES;
}

}  // namespace cardkeep
