// The run-time, INI-file and cryptography components as cardkeep reaches
// them: created by ProgID, every member called by name.
#include "support/test_support.h"

#include <shlobj.h>

#include <random>

using comkit::byRef;
using comkit::Variant;
using outside::LateBound;
using namespace testsupport;

namespace {

// The INI component used as one cursor, as the wallet uses it.
struct Ini {
    LateBound o = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");

    explicit Ini(const std::wstring& path) { EXPECT_EQ(S_OK, o.assignText(L"Path", path)); }

    HRESULT set(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
        HRESULT hr = o.assignText(L"Section", section);
        if (SUCCEEDED(hr)) hr = o.assignText(L"Key", key);
        if (SUCCEEDED(hr)) hr = o.assignText(L"Value", value);
        return hr;
    }
    std::wstring get(const std::wstring& section, const std::wstring& key) {
        EXPECT_EQ(S_OK, o.assignText(L"Section", section));
        EXPECT_EQ(S_OK, o.assignText(L"Key", key));
        Variant v;
        EXPECT_EQ(S_OK, o.read(L"Value", v)) << narrow(errorDescription());
        EXPECT_EQ(VT_BSTR, v.vt());
        return text(v);
    }
    // The names at indices 1..upper bound; the count must agree with them.
    std::vector<std::wstring> names(const wchar_t* member, const std::wstring* section = nullptr) {
        if (section) {
            EXPECT_EQ(S_OK, o.assignText(L"Section", *section));
        }
        Variant list, count, result;
        EXPECT_EQ(S_OK, o.call(member, {byRef(list), byRef(count)}, result)) << narrow(errorDescription());
        std::vector<std::wstring> out;
        EXPECT_EQ(VT_I4, count.vt());
        EXPECT_EQ(VT_ARRAY | VT_VARIANT, list.vt());
        if (list.vt() != (VT_ARRAY | VT_VARIANT)) return out;
        LONG lower = 0, upper = 0;
        SafeArrayGetLBound(list.get()->parray, 1, &lower);
        SafeArrayGetUBound(list.get()->parray, 1, &upper);
        EXPECT_EQ(0, lower);
        EXPECT_EQ(count.get()->lVal, upper) << "the count and the upper bound disagree";
        for (LONG i = 1; i <= upper; ++i) {
            VARIANT item;
            VariantInit(&item);
            SafeArrayGetElement(list.get()->parray, &i, &item);
            EXPECT_EQ(VT_BSTR, item.vt);
            out.emplace_back(item.bstrVal, SysStringLen(item.bstrVal));
            VariantClear(&item);
        }
        return out;
    }
    std::vector<std::wstring> sections() { return names(L"EnumerateAllSections"); }
    std::vector<std::wstring> keys(const std::wstring& section) { return names(L"EnumerateCurrentSection", &section); }
};

const std::vector<std::wstring> kAwkward = {
    L"",
    L"=",
    L"a=b=c",
    L";not a comment",
    L"[not a section]",
    L"]",
    L"  leading and trailing blanks  ",
    L"\t tab",
    L"\"quoted\"",
    L"caf\u00e9 \u20ac \u0416 \u4e2d",
    L"pair \U0001F600 end",
    std::wstring(5000, L'x'),
};

class IniFileTest : public ::testing::Test {
protected:
    TempDir dir{L"ini"};
    std::wstring path = dir.file(L"wallet.cdw");
};

TEST_F(IniFileTest, ValuesReadBackExactlyThroughANewObject) {
    {
        Ini ini(path);
        for (size_t i = 0; i < kAwkward.size(); ++i)
            ASSERT_EQ(S_OK, ini.set(L"Pocket", L"card" + std::to_wstring(i), kAwkward[i])) << narrow(errorDescription());
    }
    Ini fresh(path);
    for (size_t i = 0; i < kAwkward.size(); ++i)
        EXPECT_EQ(kAwkward[i], fresh.get(L"Pocket", L"card" + std::to_wstring(i)));
}

TEST_F(IniFileTest, AwkwardNamesAreStoredAsGiven) {
    const std::vector<std::pair<std::wstring, std::wstring>> names = {
        {L" spaced pocket ", L" spaced card "}, {L"a=b", L"x]y"}, {L"[x", L"c;d"},
        {L"\u00c9t\u00e9", L"\u00fcber"}, {L"Pocket WALLET", L"card \U0001F600"}};
    {
        Ini ini(path);
        for (const auto& [section, key] : names) ASSERT_EQ(S_OK, ini.set(section, key, section + key));
    }
    Ini fresh(path);
    std::vector<std::wstring> expected;
    for (const auto& [section, key] : names) {
        EXPECT_EQ(section + key, fresh.get(section, key));
        EXPECT_EQ(std::vector<std::wstring>{key}, fresh.keys(section));
        expected.push_back(section);
    }
    EXPECT_EQ(expected, fresh.sections());
}

TEST_F(IniFileTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"Home", L"Door", L"1"));
    ASSERT_EQ(S_OK, ini.set(L"HOME", L"DOOR", L"2"));
    ASSERT_EQ(S_OK, ini.set(L"h\u00d6me", L"x", L"3"));
    ASSERT_EQ(S_OK, ini.set(L"H\u00f6ME", L"y", L"4"));
    EXPECT_EQ(L"2", ini.get(L"home", L"door"));
    EXPECT_EQ((std::vector<std::wstring>{L"Home", L"h\u00d6me"}), ini.sections());
    EXPECT_EQ(std::vector<std::wstring>{L"Door"}, ini.keys(L"hOmE"));
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"y"}), ini.keys(L"H\u00d6ME"));
}

TEST_F(IniFileTest, EnumerationCountsAndIndices) {
    Ini ini(path);
    EXPECT_TRUE(ini.sections().empty());
    ASSERT_EQ(S_OK, ini.set(L"B", L"one", L"1"));
    ASSERT_EQ(S_OK, ini.set(L"B", L"two", L"2"));
    ASSERT_EQ(S_OK, ini.set(L"B", L"three", L"3"));
    ASSERT_EQ(S_OK, ini.set(L"A", L"k", L"v"));
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"A"}), ini.sections());
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two", L"three"}), ini.keys(L"B"));
    EXPECT_TRUE(ini.keys(L"missing").empty());
}

TEST_F(IniFileTest, CursorStaysWhereItWasPut) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"WALLET", L"NAME", L"n"));
    ASSERT_EQ(S_OK, ini.set(L"WALLET", L"DESCRIPTION", L"d"));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Section", L"WALLET"));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Key", L"NAME"));
    Variant v;
    ASSERT_EQ(S_OK, ini.o.read(L"Value", v));
    EXPECT_EQ(L"n", text(v));
    ASSERT_EQ(S_OK, ini.o.read(L"Value", v));
    EXPECT_EQ(L"n", text(v)) << "a read moved the cursor";
    ASSERT_EQ(S_OK, ini.o.assignText(L"Key", L"DESCRIPTION"));
    ASSERT_EQ(S_OK, ini.o.read(L"Value", v));
    EXPECT_EQ(L"d", text(v));
}

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsEmptyAndCreatesNothing) {
    Ini ini(path);
    EXPECT_EQ(L"", ini.get(L"WALLET", L"NAME"));
    EXPECT_FALSE(fileExists(path));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Section", L"Only a section"));
    EXPECT_FALSE(fileExists(path)) << "assigning a section wrote the file";
    ASSERT_EQ(S_OK, ini.set(L"P", L"c", L"v"));
    EXPECT_EQ(L"", ini.get(L"P", L"other"));
    EXPECT_EQ(L"", ini.get(L"Q", L"c"));
}

TEST_F(IniFileTest, WhatTheFileCannotHoldIsRefusedAndNothingIsWritten) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"P", L"c", L"v"));
    const std::string before = readBytes(path);
    const struct { std::wstring section, key, value; } bad[] = {
        {L"", L"k", L"v"},       {L"a]b", L"k", L"v"},   {L"a\rb", L"k", L"v"}, {L"a\nb", L"k", L"v"},
        {L"P", L"", L"v"},       {L"P", L"a=b", L"v"},   {L"P", L"a\nb", L"v"}, {L"P", L"a\rb", L"v"},
        {L"P", L"[k", L"v"},     {L"P", L";k", L"v"},    {L"P", L"k", L"a\nb"}, {L"P", L"k", L"a\rb"},
        {std::wstring(L"a\0b", 3), L"k", L"v"},         {L"P", std::wstring(L"a\0b", 3), L"v"},
    };
    for (const auto& b : bad) {
        SetErrorInfo(0, nullptr);
        EXPECT_TRUE(FAILED(ini.set(b.section, b.key, b.value))) << narrow(b.section + L"|" + b.key + L"|" + b.value);
        EXPECT_FALSE(errorDescription().empty());
    }
    EXPECT_EQ(before, readBytes(path));
    Ini fresh(path);
    EXPECT_EQ(L"v", fresh.get(L"P", L"c"));
}

TEST_F(IniFileTest, EveryUseBeforePathFails) {
    LateBound o = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    EXPECT_TRUE(FAILED(o.assignText(L"Section", L"S")));
    EXPECT_NE(std::wstring::npos, errorDescription().find(L"Path"));
    Variant v;
    EXPECT_TRUE(FAILED(o.read(L"Value", v)));
    EXPECT_TRUE(FAILED(o.assignText(L"Value", L"x")));
}

TEST_F(IniFileTest, ANewFileIsUtf16WithBomAndCrlf) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"P", L"c", L"v"));
    ASSERT_EQ(S_OK, ini.set(L"P", L"d", L"w"));
    const std::string bytes = readBytes(path);
    const std::wstring expected = L"\xFEFF[P]\r\nc=v\r\nd=w\r\n";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2), bytes);
}

TEST_F(IniFileTest, AFileInAnotherEncodingKeepsItAndEverythingUntouched) {
    const std::string original =
        "; a comment\n\n[First]\nk=caf\xc3\xa9\n; inside\n\njunk line\n[Second]\nz=1\n";
    writeBytes(path, original);
    Ini ini(path);
    EXPECT_EQ(L"caf\u00e9", ini.get(L"first", L"K"));
    ASSERT_EQ(S_OK, ini.set(L"First", L"new", L"\u00e9t\u00e9"));
    ASSERT_EQ(S_OK, ini.set(L"Second", L"z", L"2"));
    EXPECT_EQ("; a comment\n\n[First]\nk=caf\xc3\xa9\nnew=\xc3\xa9t\xc3\xa9\n; inside\n\njunk line\n[Second]\nz=2\n",
              readBytes(path));
}

TEST_F(IniFileTest, DatesAreStoredAsSortableLocalTimeText) {
    Ini ini(path);
    SYSTEMTIME t{2026, 3, 0, 7, 9, 5, 4, 0};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&t, &date));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Section", L"WALLET"));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Key", L"NOW"));
    ASSERT_EQ(S_OK, ini.o.assign(L"Value", *Variant::date(date).get()));
    EXPECT_EQ(L"2026-03-07 09:05:04", ini.get(L"WALLET", L"NOW"));
}

TEST_F(IniFileTest, ChangesByAnotherObjectAreSeen) {
    Ini first(path), second(path);
    ASSERT_EQ(S_OK, first.set(L"P", L"a", L"1"));
    EXPECT_EQ(L"1", second.get(L"P", L"a"));
    ASSERT_EQ(S_OK, second.set(L"P", L"b", L"2"));
    ASSERT_EQ(S_OK, first.set(L"P", L"c", L"3"));
    Ini third(path);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), third.keys(L"P")) << "a write lost another's";

    // The cursor moves on through more files than it keeps parsed, each
    // changed by another object meanwhile, and comes back to each: what it
    // kept is checked against the file, and each file reads as its own.
    const auto fileNumber = [&](int i) { return dir.file(L"wallet" + std::to_wstring(i) + L".cdw"); };
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(S_OK, first.o.assignText(L"Path", fileNumber(i)));
        ASSERT_EQ(S_OK, first.set(L"P", L"n", L"first " + std::to_wstring(i))) << narrow(errorDescription());
    }
    for (int i = 0; i < 20; ++i) ASSERT_EQ(S_OK, Ini(fileNumber(i)).set(L"P", L"n", L"other " + std::to_wstring(i)));
    for (int i = 19; i >= 0; --i) {
        ASSERT_EQ(S_OK, first.o.assignText(L"Path", fileNumber(i)));
        EXPECT_EQ(L"other " + std::to_wstring(i), first.get(L"P", L"n"));
    }
}

// No write makes a file that a reader would refuse: one that would pass the
// limit is refused whole, one that reaches it exactly is written and read.
TEST_F(IniFileTest, AFileOverTheLimitIsNeitherWrittenNorRead) {
    constexpr ULONGLONG kLimit = 64ull << 20;
    const auto fileSize = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    };
    {
        Ini ini(path);
        ASSERT_EQ(S_OK, ini.set(L"P", L"c", L"v"));
        const size_t atLimit = static_cast<size_t>((kLimit - fileSize()) / 2 + 1);
        const std::string before = readBytes(path);
        EXPECT_TRUE(FAILED(ini.set(L"P", L"c", std::wstring(atLimit + 1, L'x'))));
        EXPECT_NE(std::wstring::npos, errorDescription().find(L"64 MiB"));
        EXPECT_EQ(before, readBytes(path)) << "a refused write changed the file";
        ASSERT_EQ(S_OK, ini.set(L"P", L"c", std::wstring(atLimit, L'x'))) << narrow(errorDescription());
        EXPECT_EQ(kLimit, fileSize());
        Ini reader(path);
        EXPECT_EQ(atLimit, reader.get(L"P", L"c").size());
    }
    {
        comkit::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = (64ll << 20) + 1;
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.o.assignText(L"Section", L"P"));
    ASSERT_EQ(S_OK, ini.o.assignText(L"Key", L"c"));
    Variant v;
    EXPECT_TRUE(FAILED(ini.o.read(L"Value", v)));
    EXPECT_NE(std::wstring::npos, errorDescription().find(L"64 MiB"));
}

TEST_F(IniFileTest, AReadOnlyFileIsNotChanged) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"P", L"c", L"v"));
    const std::string before = readBytes(path);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(FAILED(ini.set(L"P", L"c", L"changed")));
    EXPECT_NE(std::wstring::npos, errorDescription().find(L"read-only"));
    EXPECT_EQ(before, readBytes(path));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A hidden file stays hidden across writes, also when it was hidden between
// two writes of the same object (its size and write time unchanged).
TEST_F(IniFileTest, AHiddenFileStaysHidden) {
    Ini ini(path);
    ASSERT_EQ(S_OK, ini.set(L"P", L"a", L"1"));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    for (const wchar_t* value : {L"2", L"3"}) {
        ASSERT_EQ(S_OK, ini.set(L"P", L"a", value)) << narrow(errorDescription());
        EXPECT_EQ(value, Ini(path).get(L"P", L"a"));
        EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the file came back plain";
    }
}

// Each write carries its own number, so a reader can tell a whole value
// from a torn one.
std::wstring hammerValue(int i) {
    return std::to_wstring(i) + L":" + std::wstring(2000 + i % 7, static_cast<wchar_t>(L'a' + i % 26));
}

// A writer killed at any moment leaves the file whole: every card it holds
// has exactly the value some finished or unfinished write gave it.
TEST_F(IniFileTest, AWriterKilledMidWriteLeavesAWholeFile) {
    std::mt19937 random(12345);
    {
        Ini ini(path);
        ASSERT_EQ(S_OK, ini.set(L"Kept", L"card", L"never rewritten"));
    }
    for (int round = 0; round < 8; ++round) {
        comkit::UniqueHandle child = spawnSelf(L"--hammer \"" + path + L"\"");
        ASSERT_TRUE(child.valid());
        Sleep(150 + random() % 250);
        TerminateProcess(child.get(), 9);
        WaitForSingleObject(child.get(), INFINITE);
        // The file is never missing, not even for a moment in the middle of
        // a replacement.
        ASSERT_TRUE(fileExists(path)) << "round " << round;
        Ini ini(path);
        EXPECT_EQ(L"never rewritten", ini.get(L"Kept", L"card")) << "round " << round;
        const auto keys = ini.keys(L"Hammer");
        for (const auto& key : keys) {
            const std::wstring value = ini.get(L"Hammer", key);
            const int i = std::stoi(value);
            EXPECT_EQ(hammerValue(i), value) << "round " << round << " key " << narrow(key);
            EXPECT_EQ(L"k" + std::to_wstring(i % 40), key);
        }
    }
}

TEST_F(IniFileTest, TwoProcessesWritingAtOnceLoseNothing) {
    comkit::UniqueHandle a = spawnSelf(L"--writer \"" + path + L"\" a 500");
    comkit::UniqueHandle b = spawnSelf(L"--writer \"" + path + L"\" b 500");
    ASSERT_TRUE(a.valid() && b.valid());
    HANDLE both[] = {a.get(), b.get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, both, TRUE, 300000));
    for (HANDLE h : both) {
        DWORD code = 1;
        GetExitCodeProcess(h, &code);
        EXPECT_EQ(0u, code);
    }
    Ini ini(path);
    const auto keys = ini.keys(L"Shared");
    EXPECT_EQ(1000u, keys.size());
    for (const wchar_t* who : {L"a", L"b"})
        for (int i = 0; i < 500; i += 37) EXPECT_EQ(std::wstring(who) + std::to_wstring(i), ini.get(L"Shared", who + std::to_wstring(i)));
}

// No C++ exception leaves a member: in the test build an allocation that
// fails while Value is read comes back as E_OUTOFMEMORY with a description,
// and the cursor goes on working.
TEST_F(IniFileTest, AnAllocationFailureInAMemberComesBackAsAStatus) {
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"KORVEX10.clsKorvexINIFileHandler1A", &clsid));
    comkit::ComPtr<IDispatch> object;
    ASSERT_EQ(S_OK, createFromFaultBuild(L"KORVEX10_faults.dll", clsid, IID_IDispatch,
                                         reinterpret_cast<void**>(object.GetAddressOf())));
    LateBound ini(object);
    ASSERT_EQ(S_OK, ini.assignText(L"Path", path));
    ASSERT_EQ(S_OK, ini.assignText(L"Section", L"S"));
    ASSERT_EQ(S_OK, ini.assignText(L"Key", L"k"));
    ASSERT_EQ(S_OK, ini.assignText(L"Value", L"kept"));
    Variant value;
    {
        FaultPoint fault(L"Value");
        EXPECT_EQ(E_OUTOFMEMORY, ini.read(L"Value", value));
        EXPECT_EQ(L"Out of memory.", errorDescription());
    }
    ASSERT_EQ(S_OK, ini.read(L"Value", value));
    EXPECT_EQ(L"kept", text(value));
}

TEST(RunTime, EnvironGetReadsTheVariableOrFallsBackToLocalAppData) {
    LateBound rt = createByName(L"KORVEX11.clsKorvex11RunTimeA");
    SetEnvironmentVariableW(L"CK_TEST_ROOT", L"D:\\Apps\\Local");
    Variant result;
    ASSERT_EQ(S_OK, rt.call(L"EnvironGet", {*Variant::i2(2).get(), *Variant::text(L"CK_TEST_ROOT").get()}, result));
    EXPECT_EQ(L"D:\\Apps\\Local", text(result));

    PWSTR local = nullptr;
    ASSERT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local));
    const std::wstring expected = local;
    CoTaskMemFree(local);
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        SetEnvironmentVariableW(L"CK_TEST_ROOT", value);
        ASSERT_EQ(S_OK, rt.call(L"EnvironGet", {*Variant::i2(2).get(), *Variant::text(L"CK_TEST_ROOT").get()}, result));
        EXPECT_EQ(expected, text(result));
    }
    EXPECT_TRUE(FAILED(rt.call(L"EnvironGet", {*Variant::i2(1).get(), *Variant::text(L"PATH").get()}, result)));
    EXPECT_NE(std::wstring::npos, errorDescription().find(L"mode 2"));
}

struct Crypto {
    LateBound o = createByName(L"KORVEX10.clsKorvexCryptographyC");
    // Arguments by reference, as the wallet passes them.
    HRESULT run(const wchar_t* member, const std::wstring& input, std::wstring& output,
                const std::wstring& key = L"kbTorVan", bool flag = true) {
        comkit::Bstr text(input), keyText(key);
        VARIANT_BOOL truth = flag ? VARIANT_TRUE : VARIANT_FALSE;
        Variant result;
        const HRESULT hr =
            o.call(member, {comkit::BstrRef(text).argument(), comkit::BstrRef(keyText).argument(), byRef(truth)}, result);
        output = SUCCEEDED(hr) ? text_of(result) : L"";
        return hr;
    }
    static std::wstring text_of(const Variant& v) { return v.vt() == VT_BSTR ? std::wstring(v.get()->bstrVal, SysStringLen(v.get()->bstrVal)) : L"<?>"; }
};

TEST(Cryptography, SealedTextsOpenToExactlyWhatWasSealed) {
    Crypto crypto;
    std::vector<std::wstring> texts = kAwkward;
    texts.push_back(std::wstring(L"nul\0inside", 10));
    texts.push_back(std::wstring(1, static_cast<wchar_t>(0xD800)) + L"lone" + std::wstring(1, static_cast<wchar_t>(0xDC00)));
    texts.push_back(std::wstring(1 << 20, L'\u00e9'));
    for (const auto& plain : texts) {
        std::wstring sealed, opened;
        ASSERT_EQ(S_OK, crypto.run(L"Encrypt", plain, sealed)) << narrow(errorDescription());
        EXPECT_EQ(std::wstring::npos, sealed.find_first_of(L"\r\n;[]")) << "not one storable line";
        ASSERT_EQ(S_OK, crypto.run(L"Decrypt", sealed, opened)) << narrow(errorDescription());
        EXPECT_EQ(plain, opened);
    }
}

TEST(Cryptography, EverySealingIsFreshAndTheEmptyTextOpensEmpty) {
    Crypto crypto;
    std::wstring one, two, opened;
    ASSERT_EQ(S_OK, crypto.run(L"Encrypt", L"same", one));
    ASSERT_EQ(S_OK, crypto.run(L"Encrypt", L"same", two));
    EXPECT_NE(one, two);
    ASSERT_EQ(S_OK, crypto.run(L"Decrypt", L"", opened));
    EXPECT_EQ(L"", opened);
}

// Given by value to its [in, out] parameters, the caller's strings stay the
// caller's: the dispatch replaces what it was handed, never frees them.
TEST(Cryptography, ArgumentsGivenByValueStayTheCallers) {
    Crypto crypto;
    const Variant plain = Variant::text(L"Holiday"), key = Variant::text(L"kbTorVan");
    VARIANT flag;
    VariantInit(&flag);
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    for (int i = 0; i < 3; ++i) {
        Variant sealed;
        ASSERT_EQ(S_OK, crypto.o.call(L"Encrypt", {*plain.get(), *key.get(), flag}, sealed)) << narrow(errorDescription());
        EXPECT_EQ(L"Holiday", text(plain));
        EXPECT_EQ(L"kbTorVan", text(key));
    }
}

TEST(Cryptography, DamagedOrForeignTextsAreRefused) {
    Crypto crypto;
    std::wstring sealed, opened;
    ASSERT_EQ(S_OK, crypto.run(L"Encrypt", L"secret card", sealed));
    std::vector<std::wstring> bad = {L"plain text", L"v1:", L"v1:!!!!", sealed.substr(0, sealed.size() - 4),
                                     sealed + L"AAAA"};
    for (size_t i = 3; i < sealed.size(); i += 5) {
        std::wstring changed = sealed;
        changed[i] = changed[i] == L'A' ? L'B' : L'A';
        bad.push_back(changed);
    }
    for (const auto& text : bad) {
        EXPECT_TRUE(FAILED(crypto.run(L"Decrypt", text, opened))) << narrow(text);
        EXPECT_FALSE(errorDescription().empty());
    }
    EXPECT_TRUE(FAILED(crypto.run(L"Decrypt", sealed, opened, L"another key")));
    EXPECT_TRUE(FAILED(crypto.run(L"Encrypt", L"x", opened, L"kbTorVan", false)));
    EXPECT_NE(std::wstring::npos, errorDescription().find(L"True"));
}

// Child processes of the tests above.
int hammer(const std::wstring& path) {
    Ini ini(path);
    for (int i = 0;; ++i)
        if (FAILED(ini.set(L"Hammer", L"k" + std::to_wstring(i % 40), hammerValue(i)))) return 1;
}

int writer(const std::wstring& path, const std::wstring& who, int count) {
    Ini ini(path);
    for (int i = 0; i < count; ++i)
        if (FAILED(ini.set(L"Shared", who + std::to_wstring(i), who + std::to_wstring(i)))) return 1;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (argc >= 3 && std::wstring(argv[1]) == L"--hammer") return hammer(argv[2]);
    if (argc >= 5 && std::wstring(argv[1]) == L"--writer") return writer(argv[2], argv[3], std::stoi(argv[4]));
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
