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

#include <ostream>
#include <sstream>
#include <string>

namespace surface {

using testsupport::narrow;

inline GUID guidOf(const wchar_t* text) {
    GUID g{};
    CLSIDFromString(text, &g);
    return g;
}

inline const GUID kInterfaceId = guidOf(CARDKEEP_IID_WALLET_TEXT);
inline const GUID kClassId = guidOf(CARDKEEP_CLSID_WALLET_TEXT);

constexpr int kMemberCount = 17;

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

