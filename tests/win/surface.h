// Shared by the surface tests, which read the wallet's published surface
// back from the built cardkeep.dll: scripts and compiled clients bind to it
// by identifier, slot and name, so any drift breaks them without a build
// error. The files under test are the 32-bit and the 64-bit cardkeep.dll of
// the same sources, named by CK_WIN32_DLL and CK_WIN64_DLL; both are read as
// data whichever of them this program was built as, and only the entry
// points need the build that runs.
#pragma once

#include "support/test_support.h"
#include "identity.h"

#include <objbase.h>
#include <oleauto.h>

#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace surface {

using testsupport::narrow;

inline GUID guidOf(const wchar_t* text) {
    GUID g{};
    CLSIDFromString(text, &g);
    return g;
}

inline const GUID kInterfaceId = guidOf(CARDKEEP_IID_WALLET_TEXT);
inline const GUID kClassId = guidOf(CARDKEEP_CLSID_WALLET_TEXT);

struct Param {
    const wchar_t* name;  // as clients name it in named arguments
    VARTYPE vt;
    bool byRef;  // BSTR* [in, out]; otherwise [in] by value
};

struct Member {
    int slot;
    const wchar_t* name;
    INVOKEKIND kind;
    DISPID id;
    std::vector<Param> params;
    VARTYPE result;  // VT_VOID: nothing comes back
};

// The published members in slot order: the vtable's own slots, each with its
// dispatch id and the parameters clients pass. A new member is a new row.
inline const Member kMembers[] = {
    {7, L"AppObject", INVOKE_PROPERTYGET, 0x68030041, {}, VT_DISPATCH},
    {8, L"AppObject", INVOKE_PROPERTYPUTREF, 0x68030041, {{L"oNewValue", VT_DISPATCH, false}}, VT_VOID},
    {9, L"PAVString", INVOKE_PROPERTYGET, 0x68030040, {}, VT_BSTR},
    {10, L"PAVString", INVOKE_PROPERTYPUT, 0x68030040, {{nullptr, VT_BSTR, false}}, VT_VOID},
    {11, L"LocalProgramsPath", INVOKE_PROPERTYGET, 0x6803003F, {}, VT_BSTR},
    {12, L"LocalProgramsPath", INVOKE_PROPERTYPUT, 0x6803003F, {{nullptr, VT_BSTR, false}}, VT_VOID},
    {13, L"WalletPath", INVOKE_PROPERTYGET, 0x6803003E, {}, VT_BSTR},
    {14, L"WalletPath", INVOKE_PROPERTYPUT, 0x6803003E, {{nullptr, VT_BSTR, false}}, VT_VOID},
    {15, L"WalletFolder", INVOKE_PROPERTYGET, 0x6803003D, {}, VT_BSTR},
    {16, L"WalletFolder", INVOKE_PROPERTYPUT, 0x6803003D, {{nullptr, VT_BSTR, false}}, VT_VOID},
    {17, L"InitialiseWallet", INVOKE_FUNC, 0x60030042, {}, VT_VOID},
    {18, L"EditWallet", INVOKE_FUNC, 0x60030043, {}, VT_VOID},
    {19, L"EditPocket", INVOKE_FUNC, 0x60030044, {}, VT_VOID},
    {20, L"ChangePassword", INVOKE_FUNC, 0x60030047,
     {{L"sOldPassword", VT_BSTR, true}, {L"sNewPassword", VT_BSTR, true}, {L"sNewHint", VT_BSTR, true}},
     VT_VARIANT},
    {21, L"SetPocket", INVOKE_FUNC, 0x60030048, {{L"sPocketName", VT_BSTR, true}}, VT_I4},
    {22, L"SetCard", INVOKE_FUNC, 0x60030049,
     {{L"sPocketName", VT_BSTR, true}, {L"sCardName", VT_BSTR, true}, {L"sInformation", VT_BSTR, true}},
     VT_I4},
    {23, L"GetCard", INVOKE_FUNC, 0x6003004A, {{L"sPocketName", VT_BSTR, true}, {L"sCardName", VT_BSTR, true}},
     VT_BSTR},
};

// The vtable's own functions: the table's rows.
inline constexpr int kMemberCount = static_cast<int>(std::size(kMembers));

// Readable values for the failure messages.
inline std::string guidText(const GUID& g) {
    wchar_t buffer[64] = {};
    StringFromGUID2(g, buffer, 64);
    return narrow(buffer);
}

inline std::string hex(long long v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << v;
    return s.str();
}

// What ITypeInfo hands out, owned until it is handed back.
template <class Desc>
class TypeInfoPart : comkit::NoCopy {
public:
    ~TypeInfoPart() {
        if (desc_) release(desc_);
    }
    explicit operator bool() const { return desc_ != nullptr; }
    const Desc* operator->() const { return desc_; }
    const Desc& operator*() const { return *desc_; }

protected:
    explicit TypeInfoPart(ITypeInfo* info) : info_(info) {}
    // Keeps what a getter gave, nothing when it failed.
    void take(HRESULT hr) {
        if (FAILED(hr)) desc_ = nullptr;
    }

    ITypeInfo* info_;
    Desc* desc_ = nullptr;

private:
    void release(TYPEATTR* attr) { info_->ReleaseTypeAttr(attr); }
    void release(FUNCDESC* desc) { info_->ReleaseFuncDesc(desc); }
};

class TypeAttr : public TypeInfoPart<TYPEATTR> {
public:
    explicit TypeAttr(ITypeInfo* info) : TypeInfoPart(info) { take(info->GetTypeAttr(&desc_)); }
};

class FuncDesc : public TypeInfoPart<FUNCDESC> {
public:
    FuncDesc(ITypeInfo* info, UINT index) : TypeInfoPart(info) { take(info->GetFuncDesc(index, &desc_)); }
};

inline std::wstring dllPath(bool is64) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableW(is64 ? L"CK_WIN64_DLL" : L"CK_WIN32_DLL", value, MAX_PATH * 2);
    return n && n < MAX_PATH * 2 ? std::wstring(value, n) : std::wstring();
}

struct Build {
    const char* label;
    bool is64;
};

inline const Build kWin64{"win64", true};
inline const Build kWin32{"win32", false};

inline std::string buildName(const ::testing::TestParamInfo<Build>& info) { return info.param.label; }
inline void PrintTo(const Build& build, std::ostream* os) { *os << build.label; }

// A test of both builds' files, run once per build.
class BuiltFile : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override {
        path_ = dllPath(GetParam().is64);
        ASSERT_FALSE(path_.empty()) << GetParam().label << ": CK_WIN32_DLL or CK_WIN64_DLL is not set";
        ASSERT_TRUE(testsupport::fileExists(path_)) << "the " << GetParam().label << " build is missing: " << narrow(path_);
    }

    // Pointer size of the platform the file was built for.
    unsigned pointerSize() const { return GetParam().is64 ? 8 : 4; }
    SYSKIND sysKind() const { return GetParam().is64 ? SYS_WIN64 : SYS_WIN32; }
    std::string where() const { return std::string(GetParam().label) + " " + narrow(path_); }

    std::wstring path_;
};

}  // namespace surface

