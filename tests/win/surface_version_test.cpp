// The version block of cardkeep.dll: the fixed part, the one translation
// and the strings installers and users read.
#include "surface.h"

#include <winver.h>

#include <vector>

namespace surface {
namespace {

class VersionBlock : public BuiltFile {
protected:
    void SetUp() override {
        BuiltFile::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version block in " << where() << " (error " << GetLastError() << ")";
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, block_.data())) << "GetFileVersionInfoW " << where();
    }

    // The string, or nothing when the block has no such value.
    bool query(const std::wstring& name, std::wstring& value) {
        void* data = nullptr;
        UINT length = 0;
        const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
        if (!VerQueryValueW(block_.data(), key.c_str(), &data, &length)) return false;
        value = data ? std::wstring(static_cast<const wchar_t*>(data)) : std::wstring();
        return true;
    }

    std::vector<unsigned char> block_;
};

TEST_P(VersionBlock, FixedPart) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) << "no fixed part";
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(hex(VS_FFI_SIGNATURE), hex(fixed->dwSignature)) << "fixed part signature";
    constexpr WORD version[] = {CARDKEEP_VERSION_COMMAS};
    EXPECT_EQ(hex(MAKELONG(version[1], version[0])), hex(fixed->dwFileVersionMS)) << "file version major.minor";
    EXPECT_EQ(hex(MAKELONG(version[3], version[2])), hex(fixed->dwFileVersionLS)) << "file version build.revision";
    EXPECT_EQ(hex(MAKELONG(version[1], version[0])), hex(fixed->dwProductVersionMS)) << "product version major.minor";
    EXPECT_EQ(hex(MAKELONG(version[3], version[2])), hex(fixed->dwProductVersionLS)) << "product version build.revision";
    EXPECT_EQ(0u, fixed->dwFileFlags & fixed->dwFileFlagsMask) << "file flags (debug, prerelease, ...)";
    EXPECT_EQ(hex(VOS__WINDOWS32), hex(fixed->dwFileOS)) << "file OS";
    EXPECT_EQ(hex(VFT_DLL), hex(fixed->dwFileType)) << "file type";
    EXPECT_EQ(0u, fixed->dwFileSubtype) << "file subtype";
}

TEST_P(VersionBlock, OneTranslationUsEnglishUnicode) {
    WORD* pairs = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &length))
        << "no translation table";
    ASSERT_EQ(4u, length) << "translation table holds other than one language/code page pair";
    EXPECT_EQ(hex(0x0409), hex(pairs[0])) << "translation language";
    EXPECT_EQ(1200, pairs[1]) << "translation code page";
}

TEST_P(VersionBlock, Strings) {
    const std::vector<std::pair<std::wstring, std::wstring>> exact = {
        {L"FileVersion", L"" CARDKEEP_VERSION_STRING},
        {L"ProductVersion", L"" CARDKEEP_VERSION_STRING},
        {L"InternalName", L"cardkeep"},
        {L"OriginalFilename", L"cardkeep.dll"},
        {L"FileDescription", L"Orbenta Wallet Library"},
        {L"Comments", L"Orbenta Wallet Library"},
        {L"CompanyName", L"Orbenta"},
    };
    for (const auto& [name, expected] : exact) {
        std::wstring value;
        ASSERT_TRUE(query(name, value)) << "version string " << narrow(name) << " is missing";
        EXPECT_EQ(expected, value) << "version string " << narrow(name);
    }
    for (const wchar_t* name : {L"ProductName", L"LegalCopyright", L"LegalTrademarks"}) {
        std::wstring value;
        ASSERT_TRUE(query(name, value)) << "version string " << narrow(name) << " is missing";
        EXPECT_FALSE(value.empty()) << "version string " << narrow(name) << " is empty";
    }
    // Installers look for this key to decide to call DllRegisterServer.
    std::wstring selfRegister = L"unset";
    ASSERT_TRUE(query(L"OLESelfRegister", selfRegister)) << "version string OLESelfRegister is missing";
    EXPECT_EQ(L"", selfRegister) << "version string OLESelfRegister";
}

INSTANTIATE_TEST_SUITE_P(Builds, VersionBlock, ::testing::Values(kWin64, kWin32), buildName);

}  // namespace
}  // namespace surface
