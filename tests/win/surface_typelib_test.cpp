// The type library embedded in cardkeep.dll: its attributes, the dual
// interface slot by slot and name by name, and the class.
#include "support/pe_image.h"
#include "surface.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

using comkit::Bstr;
using comkit::ComPtr;

namespace surface {
namespace {

const GUID kLibraryId = guidOf(CARDKEEP_LIBID_TEXT);
const GUID kStdOleId = guidOf(L"{00020430-0000-0000-C000-000000000046}");

constexpr int kFirstOwnSlot = 7;  // after IUnknown's three and IDispatch's four

bool isPropertyWrite(INVOKEKIND k) { return k == INVOKE_PROPERTYPUT || k == INVOKE_PROPERTYPUTREF; }
const char* kindText(INVOKEKIND k) {
    switch (k) {
    case INVOKE_FUNC: return "method";
    case INVOKE_PROPERTYGET: return "propget";
    case INVOKE_PROPERTYPUT: return "propput";
    case INVOKE_PROPERTYPUTREF: return "propputref";
    }
    return "?";
}

std::string label(const Member& m) {
    return narrow(m.name) + " " + kindText(m.kind) + " (slot " + std::to_string(m.slot) + ")";
}

std::string flagNames(unsigned flags, const std::vector<std::pair<unsigned, const char*>>& known) {
    std::string out;
    for (const auto& [bit, name] : known) {
        if (flags & bit) {
            out += out.empty() ? "" : "|";
            out += name;
            flags &= ~bit;
        }
    }
    if (flags) {
        out += out.empty() ? "" : "|";
        out += hex(flags);
    }
    return out.empty() ? "0" : out;
}

std::string typeFlagText(unsigned f) {
    return flagNames(f, {{TYPEFLAG_FAPPOBJECT, "FAPPOBJECT"},
                         {TYPEFLAG_FCANCREATE, "FCANCREATE"},
                         {TYPEFLAG_FLICENSED, "FLICENSED"},
                         {TYPEFLAG_FPREDECLID, "FPREDECLID"},
                         {TYPEFLAG_FHIDDEN, "FHIDDEN"},
                         {TYPEFLAG_FCONTROL, "FCONTROL"},
                         {TYPEFLAG_FDUAL, "FDUAL"},
                         {TYPEFLAG_FNONEXTENSIBLE, "FNONEXTENSIBLE"},
                         {TYPEFLAG_FOLEAUTOMATION, "FOLEAUTOMATION"},
                         {TYPEFLAG_FRESTRICTED, "FRESTRICTED"},
                         {TYPEFLAG_FAGGREGATABLE, "FAGGREGATABLE"},
                         {TYPEFLAG_FREPLACEABLE, "FREPLACEABLE"},
                         {TYPEFLAG_FDISPATCHABLE, "FDISPATCHABLE"},
                         {TYPEFLAG_FREVERSEBIND, "FREVERSEBIND"},
                         {TYPEFLAG_FPROXY, "FPROXY"}});
}

std::string paramFlagText(unsigned f) {
    return flagNames(f, {{PARAMFLAG_FIN, "FIN"},
                         {PARAMFLAG_FOUT, "FOUT"},
                         {PARAMFLAG_FLCID, "FLCID"},
                         {PARAMFLAG_FRETVAL, "FRETVAL"},
                         {PARAMFLAG_FOPT, "FOPT"},
                         {PARAMFLAG_FHASDEFAULT, "FHASDEFAULT"},
                         {PARAMFLAG_FHASCUSTDATA, "FHASCUSTDATA"}});
}

std::string typeText(const TYPEDESC& t) {
    if (t.vt == VT_PTR) return t.lptdesc ? typeText(*t.lptdesc) + "*" : "VT_PTR(null)";
    switch (t.vt) {
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "IDispatch*";
    case VT_VARIANT: return "VARIANT";
    case VT_I4: return "long";
    case VT_HRESULT: return "HRESULT";
    case VT_VOID: return "void";
    default: return "vt " + std::to_string(t.vt);
    }
}

std::string typeText(VARTYPE vt, bool byRef) {
    TYPEDESC inner{};
    inner.vt = vt;
    if (!byRef) return typeText(inner);
    TYPEDESC outer{};
    outer.vt = VT_PTR;
    outer.lptdesc = &inner;
    return typeText(outer);
}

// The member's parameters as the table declares them: type, and in or in
// and out.
void expectParameters(const Member& m, const FUNCDESC& f, const std::string& who) {
    for (size_t p = 0; p < m.params.size(); ++p) {
        const ELEMDESC& e = f.lprgelemdescParam[p];
        const std::string param = who + " parameter " + std::to_string(p + 1);
        EXPECT_EQ(typeText(m.params[p].vt, m.params[p].byRef), typeText(e.tdesc)) << param << ": type";
        const unsigned expectFlags = m.params[p].byRef ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN;
        EXPECT_EQ(paramFlagText(expectFlags), paramFlagText(e.paramdesc.wParamFlags)) << param << ": flags";
    }
}

std::wstring fromBstr(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

std::vector<std::wstring> namesOf(ITypeInfo* info, MEMBERID id) {
    BSTR raw[32] = {};
    UINT count = 0;
    std::vector<std::wstring> names;
    if (FAILED(info->GetNames(id, raw, 32, &count))) return names;
    for (UINT i = 0; i < count; ++i) {
        names.push_back(fromBstr(raw[i]));
        SysFreeString(raw[i]);
    }
    return names;
}

struct Documentation {
    HRESULT hr = E_FAIL;
    std::wstring name, doc, helpFile;
    DWORD helpContext = 0;
    bool hasDoc = false, hasHelpFile = false;
};

template <typename Source>
Documentation documentationOf(Source* source, MEMBERID id) {
    Documentation d;
    Bstr name, doc, helpFile;
    d.hr = source->GetDocumentation(id, name.put(), doc.put(), &d.helpContext, helpFile.put());
    d.name = std::wstring(name.view());
    d.doc = std::wstring(doc.view());
    d.helpFile = std::wstring(helpFile.view());
    d.hasDoc = doc.get() && doc.length();
    d.hasHelpFile = helpFile.get() && helpFile.length();
    return d;
}

class TypeLibrary : public BuiltFile {
protected:
    void SetUp() override {
        BuiltFile::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const HRESULT hr = LoadTypeLibEx(path_.c_str(), REGKIND_NONE, &lib_);
        if (FAILED(hr) && !GetParam().is64)
            GTEST_SKIP() << "LoadTypeLibEx refuses the 32-bit DLL in this 64-bit process (" << hex(hr) << ")";
        ASSERT_EQ(S_OK, hr) << "LoadTypeLibEx " << where();
        ASSERT_TRUE(lib_);
        ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(kInterfaceId, &dispatch_)) << "no type info for the interface IID";
        HREFTYPE vtableRef = 0;
        ASSERT_EQ(S_OK, dispatch_->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef))
            << "_clsWALLETA has no vtable half: not dual";
        ASSERT_EQ(S_OK, dispatch_->GetRefTypeInfo(vtableRef, &vtable_)) << "vtable half of _clsWALLETA";
    }

    // The interface a type info inherits from, with its library's identity.
    void expectBaseIsStdOleIDispatch(ITypeInfo* info, const char* half) {
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref)) << half << ": no base interface";
        ComPtr<ITypeInfo> base;
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &base)) << half << ": base interface unresolved";
        TypeAttr attr(base.Get());
        ASSERT_TRUE(attr);
        EXPECT_EQ(guidText(IID_IDispatch), guidText(attr->guid)) << half << ": base interface is not IDispatch";
        EXPECT_EQ(L"IDispatch", documentationOf(base.Get(), MEMBERID_NIL).name) << half << ": base interface name";
        ComPtr<ITypeLib> container;
        UINT index = 0;
        ASSERT_EQ(S_OK, base->GetContainingTypeLib(&container, &index)) << half << ": base has no library";
        TLIBATTR* la = nullptr;
        ASSERT_EQ(S_OK, container->GetLibAttr(&la));
        EXPECT_EQ(guidText(kStdOleId), guidText(la->guid)) << half << ": base interface does not come from stdole";
        EXPECT_EQ(2, la->wMajorVerNum) << half << ": imported stdole major version";
        EXPECT_EQ(0, la->wMinorVerNum) << half << ": imported stdole minor version";
        container->ReleaseTLibAttr(la);
    }

    ComPtr<ITypeLib> lib_;
    ComPtr<ITypeInfo> dispatch_;  // TKIND_DISPATCH: what late-bound callers see
    ComPtr<ITypeInfo> vtable_;    // TKIND_INTERFACE: what compiled callers call
};

TEST_P(TypeLibrary, LibraryAttributesAndDocumentation) {
    TLIBATTR* la = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&la));
    EXPECT_EQ(guidText(kLibraryId), guidText(la->guid)) << "library GUID";
    EXPECT_EQ(0u, la->lcid) << "library lcid";
    EXPECT_EQ(sysKind(), la->syskind) << "library syskind of " << where();
    EXPECT_EQ(CARDKEEP_TYPELIB_VERSION_MAJOR, la->wMajorVerNum) << "library major version";
    EXPECT_EQ(CARDKEEP_TYPELIB_VERSION_MINOR, la->wMinorVerNum) << "library minor version";
    // The loader adds FHASDISKIMAGE to any library it reads from a file; the
    // stored flags are checked in the raw header below.
    EXPECT_EQ(0, la->wLibFlags & ~LIBFLAG_FHASDISKIMAGE)
        << "library flags: " << hex(la->wLibFlags) << " (FRESTRICTED 1, FCONTROL 2, FHIDDEN 4)";
    lib_->ReleaseTLibAttr(la);

    const Documentation d = documentationOf(lib_.Get(), MEMBERID_NIL);
    ASSERT_EQ(S_OK, d.hr);
    EXPECT_EQ(L"cardkeep", d.name) << "library name";
    EXPECT_EQ(L"Orbenta Wallet Library", d.doc) << "library doc string";
    EXPECT_EQ(0u, d.helpContext) << "library help context";
    EXPECT_FALSE(d.hasHelpFile) << "library help file: " << narrow(d.helpFile);
}

TEST_P(TypeLibrary, StoredHeaderOfTheEmbeddedResource) {
    const std::string file = testsupport::readBytes(path_);
    testsupport::PeImage image;
    ASSERT_EQ("", image.parse(file)) << where();
    std::string resource;
    ASSERT_TRUE(image.resource(L"TYPELIB", 1, resource)) << "no TYPELIB resource 1 in " << where();
    const size_t size = resource.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(resource.data());
    ASSERT_GE(size, 0x20u) << "TYPELIB resource too short";
    DWORD words[8];
    std::memcpy(words, bytes, sizeof words);
    EXPECT_EQ(0, std::memcmp(bytes, "MSFT", 4)) << "TYPELIB resource is not an MSFT type library";
    EXPECT_EQ(static_cast<DWORD>(sysKind()), words[5] & 0xF) << "stored syskind of " << where();
    EXPECT_EQ(0u, words[3]) << "stored library lcid";
    EXPECT_EQ(0u, words[4]) << "stored second library lcid";
    EXPECT_EQ(0u, words[7]) << "stored library flags";
}

TEST_P(TypeLibrary, HoldsTheInterfaceThenTheClass) {
    ASSERT_EQ(2u, lib_->GetTypeInfoCount()) << "number of type infos";
    TYPEKIND kind{};
    ASSERT_EQ(S_OK, lib_->GetTypeInfoType(0, &kind));
    EXPECT_EQ(TKIND_DISPATCH, kind) << "type info 0 kind";
    EXPECT_EQ(L"_clsWALLETA", documentationOf(lib_.Get(), 0).name) << "type info 0 name";
    ASSERT_EQ(S_OK, lib_->GetTypeInfoType(1, &kind));
    EXPECT_EQ(TKIND_COCLASS, kind) << "type info 1 kind";
    EXPECT_EQ(L"clsWALLETA", documentationOf(lib_.Get(), 1).name) << "type info 1 name";

    ComPtr<ITypeInfo> byIndex, byGuid;
    ASSERT_EQ(S_OK, lib_->GetTypeInfo(1, &byIndex));
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(kClassId, &byGuid)) << "no type info for the class CLSID";
    TypeAttr a(byIndex.Get()), b(byGuid.Get());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(guidText(kClassId), guidText(a->guid)) << "type info 1 GUID";
    ASSERT_EQ(S_OK, lib_->GetTypeInfo(0, &byIndex));
    TypeAttr c(byIndex.Get());
    ASSERT_TRUE(c);
    EXPECT_EQ(guidText(kInterfaceId), guidText(c->guid)) << "type info 0 GUID";
}

TEST_P(TypeLibrary, InterfaceAttributes) {
    TypeAttr disp(dispatch_.Get());
    ASSERT_TRUE(disp);
    EXPECT_EQ(guidText(kInterfaceId), guidText(disp->guid)) << "_clsWALLETA IID";
    EXPECT_EQ(TKIND_DISPATCH, disp->typekind) << "_clsWALLETA typekind";
    EXPECT_EQ(1, disp->wMajorVerNum) << "_clsWALLETA major version";
    EXPECT_EQ(5, disp->wMinorVerNum) << "_clsWALLETA minor version";
    EXPECT_EQ(0, disp->cVars) << "_clsWALLETA properties stored as variables";
    EXPECT_EQ(1, disp->cImplTypes) << "_clsWALLETA base interfaces";
    EXPECT_EQ(L"_clsWALLETA", documentationOf(dispatch_.Get(), MEMBERID_NIL).name) << "_clsWALLETA name";
    // The dispatch view of a dual interface never reports FOLEAUTOMATION (the
    // vtable view carries it, checked below); the rest must be exactly what
    // the interface declares, plus FDISPATCHABLE for deriving from IDispatch.
    const unsigned declared = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(typeFlagText(declared), typeFlagText(disp->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION))
        << "_clsWALLETA dispatch view type flags";

    TypeAttr vt(vtable_.Get());
    ASSERT_TRUE(vt);
    EXPECT_EQ(guidText(kInterfaceId), guidText(vt->guid)) << "_clsWALLETA vtable view IID";
    EXPECT_EQ(TKIND_INTERFACE, vt->typekind) << "_clsWALLETA vtable view typekind";
    EXPECT_EQ(1, vt->wMajorVerNum) << "_clsWALLETA vtable view major version";
    EXPECT_EQ(5, vt->wMinorVerNum) << "_clsWALLETA vtable view minor version";
    EXPECT_EQ(kMemberCount, vt->cFuncs) << "_clsWALLETA vtable view cFuncs";
    EXPECT_EQ(0, vt->cVars) << "_clsWALLETA vtable view cVars";
    EXPECT_EQ(typeFlagText(declared | TYPEFLAG_FOLEAUTOMATION), typeFlagText(vt->wTypeFlags))
        << "_clsWALLETA vtable view type flags";
    // Function offsets come back in this process's pointer size (checked per
    // member); the table size stays in the size of the library's platform.
    EXPECT_EQ((kFirstOwnSlot + kMemberCount) * pointerSize(), vt->cbSizeVft)
        << "_clsWALLETA vtable size in " << where();

    expectBaseIsStdOleIDispatch(dispatch_.Get(), "_clsWALLETA dispatch view");
    expectBaseIsStdOleIDispatch(vtable_.Get(), "_clsWALLETA vtable view");
}

TEST_P(TypeLibrary, VtableViewMatchesTheTableSlotBySlot) {
    for (int i = 0; i < kMemberCount; ++i) {
        const Member& m = kMembers[i];
        const std::string who = label(m);
        FuncDesc f(vtable_.Get(), i);
        ASSERT_TRUE(f) << who << ": no function at index " << i;

        EXPECT_EQ(hex(m.id), hex(f->memid)) << who << ": DISPID";
        EXPECT_EQ(kindText(m.kind), kindText(f->invkind)) << who << ": invoke kind";
        EXPECT_EQ(static_cast<long>(m.slot * sizeof(void*)), f->oVft) << who << ": vtable offset";
        EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind) << who << ": funckind";
        EXPECT_EQ(CC_STDCALL, f->callconv) << who << ": calling convention";
        EXPECT_EQ("HRESULT", typeText(f->elemdescFunc.tdesc)) << who << ": return type";
        EXPECT_EQ(0, f->cParamsOpt) << who << ": optional parameters";
        EXPECT_EQ(0, f->wFuncFlags) << who << ": function flags";

        const bool hasRetval = m.result != VT_VOID;
        ASSERT_EQ(static_cast<short>(m.params.size() + (hasRetval ? 1 : 0)), f->cParams) << who << ": parameter count";
        expectParameters(m, *f, who);
        if (hasRetval) {
            const ELEMDESC& e = f->lprgelemdescParam[m.params.size()];
            EXPECT_EQ(typeText(m.result, true), typeText(e.tdesc)) << who << ": retval type";
            EXPECT_EQ(paramFlagText(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL), paramFlagText(e.paramdesc.wParamFlags))
                << who << ": retval flags";
        }

        const std::vector<std::wstring> names = namesOf(vtable_.Get(), f->memid);
        ASSERT_FALSE(names.empty()) << who << ": GetNames gives nothing";
        EXPECT_EQ(m.name, names[0]) << who << ": member name";
        EXPECT_LE(names.size(), static_cast<size_t>(f->cParams) + 1) << who << ": more names than parameters";
        if (!isPropertyWrite(m.kind)) {
            for (size_t p = 0; p < m.params.size(); ++p) {
                ASSERT_LT(p + 1, names.size()) << who << ": parameter " << p + 1 << " has no name";
                EXPECT_EQ(m.params[p].name, names[p + 1]) << who << ": name of parameter " << p + 1;
            }
        }

        const Documentation d = documentationOf(vtable_.Get(), f->memid);
        EXPECT_EQ(S_OK, d.hr) << who << ": GetDocumentation";
        EXPECT_FALSE(d.hasDoc) << who << ": help string " << narrow(d.doc);
        EXPECT_EQ(0u, d.helpContext) << who << ": help context";
    }
}

// What a late-bound caller (a script) sees: no HRESULT, the retval as the
// result, and the parameters clients pass.
TEST_P(TypeLibrary, DispatchViewMatchesTheTable) {
    TypeAttr attr(dispatch_.Get());
    ASSERT_TRUE(attr);
    // The dispatch view of a dual interface lists IUnknown's and IDispatch's
    // seven members first, restricted, so its index equals the vtable slot.
    ASSERT_EQ(kFirstOwnSlot + kMemberCount, attr->cFuncs) << "_clsWALLETA dispatch view cFuncs";
    EXPECT_EQ(static_cast<WORD>(kFirstOwnSlot * sizeof(void*)), attr->cbSizeVft) << "_clsWALLETA dispatch view cbSizeVft";
    for (int i = 0; i < kFirstOwnSlot; ++i) {
        FuncDesc f(dispatch_.Get(), i);
        ASSERT_TRUE(f);
        EXPECT_TRUE(f->wFuncFlags & FUNCFLAG_FRESTRICTED)
            << "inherited member " << narrow(namesOf(dispatch_.Get(), f->memid).at(0)) << " is not restricted";
    }
    for (const Member& m : kMembers) {
        const std::string who = label(m) + " [dispatch]";
        FuncDesc f(dispatch_.Get(), m.slot);
        ASSERT_TRUE(f) << who << ": no function at index " << m.slot;
        EXPECT_EQ(hex(m.id), hex(f->memid)) << who << ": DISPID";
        EXPECT_EQ(kindText(m.kind), kindText(f->invkind)) << who << ": invoke kind";
        EXPECT_EQ(FUNC_DISPATCH, f->funckind) << who << ": funckind";
        EXPECT_EQ(CC_STDCALL, f->callconv) << who << ": calling convention";
        EXPECT_EQ(typeText(m.result, false), typeText(f->elemdescFunc.tdesc)) << who << ": result type";
        EXPECT_EQ(0, f->cParamsOpt) << who << ": optional parameters";
        EXPECT_EQ(0, f->wFuncFlags) << who << ": function flags";
        ASSERT_EQ(static_cast<short>(m.params.size()), f->cParams) << who << ": parameter count";
        expectParameters(m, *f, who);
        for (size_t p = 0; p < m.params.size(); ++p)
            EXPECT_FALSE(f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT)
                << who << " parameter " << p + 1 << ": has a default value";
        const std::vector<std::wstring> names = namesOf(dispatch_.Get(), f->memid);
        ASSERT_FALSE(names.empty()) << who << ": GetNames gives nothing";
        EXPECT_EQ(m.name, names[0]) << who << ": member name";
        if (!isPropertyWrite(m.kind)) {
            std::vector<std::wstring> expected{m.name};
            for (const Param& p : m.params) expected.push_back(p.name);
            EXPECT_EQ(expected, names) << who << ": names of member and parameters";
        }
    }
}

TEST_P(TypeLibrary, IdentifiersAreUniqueAndNeverTheDefaultMember) {
    std::map<MEMBERID, std::wstring> nameOfId;
    std::map<std::wstring, MEMBERID> idOfName;
    std::map<MEMBERID, std::set<int>> kindsOfId;
    for (int i = 0; i < kMemberCount; ++i) {
        FuncDesc f(vtable_.Get(), i);
        ASSERT_TRUE(f);
        const std::vector<std::wstring> names = namesOf(vtable_.Get(), f->memid);
        ASSERT_FALSE(names.empty());
        const std::wstring& name = names[0];
        const std::string who = narrow(name) + " " + kindText(f->invkind);
        EXPECT_NE(DISPID_VALUE, f->memid) << who << " is the default member (DISPID 0)";

        auto [byId, newId] = nameOfId.emplace(f->memid, name);
        EXPECT_EQ(byId->second, name) << who << " shares DISPID " << hex(f->memid) << " with " << narrow(byId->second);
        auto [byName, newName] = idOfName.emplace(name, f->memid);
        EXPECT_EQ(hex(byName->second), hex(f->memid)) << who << ": one name under two DISPIDs";
        const bool firstOfKind = kindsOfId[f->memid].insert(f->invkind).second;
        EXPECT_TRUE(firstOfKind) << who << " appears twice with the same invoke kind";
        if (!newId) {
            EXPECT_NE(INVOKE_FUNC, f->invkind) << who << ": a method shares its DISPID";
        }
    }
    for (const auto& [id, kinds] : kindsOfId) {
        if (kinds.size() > 1) {
            EXPECT_TRUE(kinds.count(INVOKE_PROPERTYGET) && !kinds.count(INVOKE_FUNC))
                << narrow(nameOfId[id]) << ": DISPID " << hex(id) << " is shared by something other than a get/put pair";
        }
    }
}

TEST_P(TypeLibrary, NamesResolveToDispidsAndParameterPositions) {
    for (const Member& m : kMembers) {
        // Scripts spell names in any case.
        std::wstring lower = m.name;
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
        for (const std::wstring& spelling : {std::wstring(m.name), lower}) {
            std::wstring copy = spelling;
            LPOLESTR names[] = {copy.data()};
            MEMBERID id = 0;
            EXPECT_EQ(S_OK, dispatch_->GetIDsOfNames(names, 1, &id)) << "GetIDsOfNames " << narrow(spelling);
            EXPECT_EQ(hex(m.id), hex(id)) << "GetIDsOfNames " << narrow(spelling);
        }
        if (isPropertyWrite(m.kind) || m.params.empty()) continue;
        // Every parameter by name, in reverse order, as named arguments may come.
        std::vector<std::wstring> text{m.name};
        for (auto p = m.params.rbegin(); p != m.params.rend(); ++p) text.push_back(p->name);
        std::vector<LPOLESTR> names;
        for (auto& t : text) names.push_back(t.data());
        std::vector<MEMBERID> ids(names.size(), 12345);
        ASSERT_EQ(S_OK, dispatch_->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()))
            << label(m) << ": GetIDsOfNames with its parameter names";
        EXPECT_EQ(hex(m.id), hex(ids[0])) << label(m) << ": DISPID by name with parameters";
        for (size_t k = 1; k < ids.size(); ++k)
            EXPECT_EQ(static_cast<MEMBERID>(m.params.size() - k), ids[k])
                << label(m) << ": position of parameter " << narrow(text[k]);
    }

    std::wstring setCard = L"SetCard", info = L"sInformation", pocket = L"sPocketName";
    LPOLESTR mixed[] = {setCard.data(), info.data(), pocket.data()};
    MEMBERID ids[3] = {};
    ASSERT_EQ(S_OK, dispatch_->GetIDsOfNames(mixed, 3, ids)) << "SetCard(sInformation, sPocketName)";
    EXPECT_EQ(hex(0x60030049), hex(ids[0])) << "SetCard DISPID";
    EXPECT_EQ(2, ids[1]) << "SetCard: position of sInformation";
    EXPECT_EQ(0, ids[2]) << "SetCard: position of sPocketName";
}

TEST_P(TypeLibrary, UnknownNamesAreRefused) {
    std::wstring unknown = L"OpenWallet";
    LPOLESTR one[] = {unknown.data()};
    MEMBERID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch_->GetIDsOfNames(one, 1, &id)) << "unknown member name";

    // A parameter of another member does not belong to SetPocket.
    std::wstring setPocket = L"SetPocket", cardName = L"sCardName";
    LPOLESTR borrowed[] = {setPocket.data(), cardName.data()};
    MEMBERID ids[2] = {0, 0};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch_->GetIDsOfNames(borrowed, 2, ids)) << "SetPocket with sCardName";
    EXPECT_EQ(hex(0x60030048), hex(ids[0])) << "SetPocket DISPID alongside an unknown parameter";
    EXPECT_EQ(DISPID_UNKNOWN, ids[1]) << "the unknown parameter's position";
}

TEST_P(TypeLibrary, CoclassAttributes) {
    ComPtr<ITypeInfo> cls;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(kClassId, &cls));
    TypeAttr attr(cls.Get());
    ASSERT_TRUE(attr);
    EXPECT_EQ(guidText(kClassId), guidText(attr->guid)) << "clsWALLETA CLSID";
    EXPECT_EQ(TKIND_COCLASS, attr->typekind) << "clsWALLETA typekind";
    EXPECT_EQ(L"clsWALLETA", documentationOf(cls.Get(), MEMBERID_NIL).name) << "clsWALLETA name";
    EXPECT_EQ(typeFlagText(TYPEFLAG_FCANCREATE), typeFlagText(attr->wTypeFlags)) << "clsWALLETA type flags";
    EXPECT_EQ(1, attr->wMajorVerNum) << "clsWALLETA major version";
    EXPECT_EQ(5, attr->wMinorVerNum) << "clsWALLETA minor version";
    ASSERT_EQ(1, attr->cImplTypes) << "clsWALLETA implemented interfaces";

    INT implFlags = 0;
    ASSERT_EQ(S_OK, cls->GetImplTypeFlags(0, &implFlags));
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT) << "clsWALLETA: _clsWALLETA is not the default interface";
    EXPECT_FALSE(implFlags & IMPLTYPEFLAG_FSOURCE) << "clsWALLETA: _clsWALLETA is marked as a source";
    EXPECT_FALSE(implFlags & IMPLTYPEFLAG_FRESTRICTED) << "clsWALLETA: _clsWALLETA is restricted";

    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, cls->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(S_OK, cls->GetRefTypeInfo(ref, &implemented));
    TypeAttr impl(implemented.Get());
    ASSERT_TRUE(impl);
    EXPECT_EQ(guidText(kInterfaceId), guidText(impl->guid)) << "clsWALLETA implements another interface";
    EXPECT_EQ(L"_clsWALLETA", documentationOf(implemented.Get(), MEMBERID_NIL).name) << "clsWALLETA interface name";
}

INSTANTIATE_TEST_SUITE_P(Builds, TypeLibrary, ::testing::Values(kWin64, kWin32), buildName);

}  // namespace
}  // namespace surface
