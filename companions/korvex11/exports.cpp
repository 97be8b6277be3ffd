#include "identity.h"
#include "runtime_class.h"

namespace {

const comkit::ClassRow kClasses[] = {
    {CLSID_clsKorvex11RunTimeA, korvex::RunTime::kProgId, L"Korvex Run-Time", &comkit::createObject<korvex::RunTime>},
};

const comkit::ServerTable kTable{LIBID_KORVEX11, KORVEX11_TYPELIB_VERSION_MAJOR, KORVEX11_TYPELIB_VERSION_MINOR,
                                 kClasses, nullptr};

}  // namespace

const comkit::ServerTable& comkit::serverTable() { return kTable; }
