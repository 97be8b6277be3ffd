#include "cryptography.h"
#include "identity.h"
#include "ini_handler.h"

namespace {

const comkit::ClassRow kClasses[] = {
    {CLSID_clsKorvexINIFileHandler1A, korvex::IniFileHandler::kProgId, L"Korvex INI-File Handler",
     &comkit::createObject<korvex::IniFileHandler>},
    {CLSID_clsKorvexCryptographyC, korvex::Cryptography::kProgId, L"Korvex Cryptography",
     &comkit::createObject<korvex::Cryptography>},
};

const comkit::ServerTable kTable{LIBID_KORVEX10, KORVEX10_TYPELIB_VERSION_MAJOR, KORVEX10_TYPELIB_VERSION_MINOR,
                                 kClasses, nullptr};

}  // namespace

const comkit::ServerTable& comkit::serverTable() { return kTable; }
