// The classes this library serves: exactly one.
#include "module_state.h"
#include "wallet.h"

namespace {

const comkit::ClassRow kClasses[] = {
    {CLSID_clsWALLETA, cardkeep::Wallet::kProgId, L"cardkeep.clsWALLETA", &comkit::createObject<cardkeep::Wallet>},
};

const comkit::ServerTable kTable{LIBID_cardkeep, 9, 0, kClasses, &cardkeep::discardModuleState};

}  // namespace

const comkit::ServerTable& comkit::serverTable() { return kTable; }
