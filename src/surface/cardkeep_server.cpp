// The classes this library serves: exactly one.
#include "identity.h"
#include "module_state.h"
#include "wallet.h"

namespace {

const comkit::ClassRow kClasses[] = {
    {CLSID_clsWALLETA, cardkeep::Wallet::kProgId, L"cardkeep.clsWALLETA", &comkit::createObject<cardkeep::Wallet>},
};

const comkit::ServerTable kTable{LIBID_cardkeep, CARDKEEP_TYPELIB_VERSION_MAJOR, CARDKEEP_TYPELIB_VERSION_MINOR,
                                 kClasses, &cardkeep::discardModuleState};

}  // namespace

const comkit::ServerTable& comkit::serverTable() { return kTable; }
