// The suite's shared helpers: the wallet's calls, wallet files and their
// listing, and the tally behind the summary table.
#include "reliability.h"

#include "identity.h"

#include <cstdio>
#include <deque>
#include <mutex>

using comkit::Bstr;
using comkit::Variant;
using namespace testsupport;

namespace reliability {

HRESULT Wallet::create() {
    object.Reset();
    return CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                            reinterpret_cast<void**>(object.GetAddressOf()));
}

HRESULT Wallet::attach(IDispatch* host) { return object->putref_AppObject(host); }

HRESULT Wallet::set(const std::wstring& pocket, const std::wstring& card, const std::wstring& info, LONG* result) {
    Bstr p(pocket), c(card), i(info);
    BSTR a = p.get(), b = c.get(), d = i.get();
    LONG r = -7;
    const HRESULT hr = object->SetCard(&a, &b, &d, &r);
    if (result) *result = r;
    return hr;
}

HRESULT Wallet::get(const std::wstring& pocket, const std::wstring& card, std::wstring& info) {
    Bstr p(pocket), c(card), out;
    BSTR a = p.get(), b = c.get();
    const HRESULT hr = object->GetCard(&a, &b, out.put());
    info.assign(out.view());
    return hr;
}

void expectClearError(IUnknown* object, HRESULT hr, const std::wstring& mention, const std::wstring& alsoMention) {
    expectClearError(object, IID__clsWALLETA, L"cardkeep.clsWALLETA", hr, mention, alsoMention);
}

void expectClearError(IUnknown* object, REFIID iid, const std::wstring& source, HRESULT hr,
                      const std::wstring& mention, const std::wstring& alsoMention) {
    EXPECT_TRUE(FAILED(hr)) << "reported as success: 0x" << std::hex << hr;
    if (!FAILED(hr)) return;
    const comkit::ErrorText e = hostError(object, iid);
    EXPECT_EQ(source, e.source);
    EXPECT_FALSE(e.description.empty()) << "a failure without a description";
    for (const std::wstring* text : {&mention, &alsoMention}) {
        if (text->empty()) continue;
        EXPECT_NE(std::wstring::npos, e.description.find(*text))
            << "\"" << narrow(e.description) << "\" does not mention \"" << narrow(*text) << "\"";
    }
}

std::wstring useRoot(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    SetEnvironmentVariableW(L"QZENVSLOCALPRO", root.c_str());
    std::wstring lower = root;
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    return lower;
}

std::wstring walletFolder(const std::wstring& root, const std::wstring& product, const std::wstring& title, int major,
                          int minor) {
    return root + L"\\" + product + L"\\" + title + L"\\" + std::to_wstring(major) + L"." + std::to_wstring(minor);
}

std::wstring walletFile(const std::wstring& root, const std::wstring& product, const std::wstring& title, int major,
                        int minor) {
    return walletFolder(root, product, title, major, minor) + L"\\wallet.cdw";
}

void prepareWallet(const std::wstring& file) {
    const std::wstring folder = file.substr(0, file.rfind(L'\\'));
    for (size_t at = folder.find(L'\\', 3); ; at = folder.find(L'\\', at + 1)) {
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos) break;
    }
    outside::LateBound ini = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    ASSERT_EQ(S_OK, ini.assignText(L"Path", file));
    ASSERT_EQ(S_OK, ini.assignText(L"Section", L"WALLET"));
    ASSERT_EQ(S_OK, ini.assignText(L"Key", L"NOW"));
    ASSERT_EQ(S_OK, ini.assignText(L"Value", L"prepared")) << narrow(errorDescription());
    ASSERT_TRUE(fileExists(file));
}

namespace {

bool names(outside::LateBound& ini, const wchar_t* member, std::vector<std::wstring>& out) {
    Variant list, count, result;
    if (FAILED(ini.call(member, {comkit::byRef(list), comkit::byRef(count)}, result))) return false;
    if (list.vt() != (VT_ARRAY | VT_VARIANT)) return false;
    LONG upper = 0;
    SafeArrayGetUBound(list.get()->parray, 1, &upper);
    for (LONG i = 1; i <= upper; ++i) {
        VARIANT item;
        VariantInit(&item);
        SafeArrayGetElement(list.get()->parray, &i, &item);
        out.emplace_back(item.vt == VT_BSTR ? std::wstring(item.bstrVal, SysStringLen(item.bstrVal)) : L"<not text>");
        VariantClear(&item);
    }
    return true;
}

}  // namespace

Listing listWallet(const std::wstring& file) {
    Listing listing;
    outside::LateBound ini = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    if (FAILED(ini.assignText(L"Path", file))) return listing;
    std::vector<std::wstring> pockets;
    if (!names(ini, L"EnumerateAllSections", pockets)) return listing;
    for (const auto& pocket : pockets) {
        if (FAILED(ini.assignText(L"Section", pocket))) return listing;
        if (!names(ini, L"EnumerateCurrentSection", listing.cards[pocket])) return listing;
    }
    listing.ok = true;
    return listing;
}

namespace {

void serveFromFaultBuild(DWORD (&cookies)[2]) {
    const std::wstring path = programFolder() + L"\\faults\\KORVEX10_faults.dll";
    HMODULE module = LoadLibraryW(path.c_str());  // stays loaded: COM may hold its objects until the end
    ASSERT_NE(nullptr, module) << "cannot load " << narrow(path);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(nullptr, get);
    const wchar_t* classes[] = {KORVEX10_CLSID_INIFILE_TEXT, KORVEX10_CLSID_CRYPTOGRAPHY_TEXT};
    for (int i = 0; i < 2; ++i) {
        CLSID clsid{};
        ASSERT_EQ(S_OK, CLSIDFromString(classes[i], &clsid));
        ComPtr<IUnknown> factory;
        ASSERT_EQ(S_OK, get(clsid, IID_IUnknown, reinterpret_cast<void**>(factory.GetAddressOf())));
        ASSERT_EQ(S_OK, CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                              &cookies[i]));
    }
}

}  // namespace

FaultBuildCompanions::FaultBuildCompanions() { serveFromFaultBuild(cookies_); }

FaultBuildCompanions::~FaultBuildCompanions() {
    for (DWORD cookie : cookies_)
        if (cookie) CoRevokeClassObject(cookie);
}

IoSeam::IoSeam(const std::wstring& how) {
    SetEnvironmentVariableW(L"CARDKEEP_IO_CALLS", nullptr);
    SetEnvironmentVariableW(L"CARDKEEP_IO_FAULT", how.c_str());
}

IoSeam::~IoSeam() { SetEnvironmentVariableW(L"CARDKEEP_IO_FAULT", nullptr); }

std::vector<std::wstring> IoSeam::calls() {
    std::wstring all(32767, L'\0');
    all.resize(GetEnvironmentVariableW(L"CARDKEEP_IO_CALLS", all.data(), static_cast<DWORD>(all.size())));
    std::vector<std::wstring> names;
    for (size_t start = 0, end; (end = all.find(L' ', start)) != std::wstring::npos; start = end + 1)
        names.push_back(all.substr(start, end - start));
    return names;
}

namespace {

std::mutex g_tallyLock;
// A deque: the tests keep references to rows while others are added.
std::deque<std::pair<std::string, Tally>>& rows() {
    static std::deque<std::pair<std::string, Tally>> all;
    return all;
}

int failedParts() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return 0;
    int failed = 0;
    const ::testing::TestResult* result = info->result();
    for (int i = 0; i < result->total_part_count(); ++i)
        if (result->GetTestPartResult(i).failed()) ++failed;
    return failed;
}

}  // namespace

Tally& tally(const std::string& scenario) {
    std::lock_guard<std::mutex> guard(g_tallyLock);
    for (auto& [name, t] : rows())
        if (name == scenario) return t;
    rows().emplace_back(scenario, Tally{});
    return rows().back().second;
}

void printSummary() {
    std::lock_guard<std::mutex> guard(g_tallyLock);
    if (rows().empty()) return;
    std::printf("\n%-44s %6s %9s %11s\n", "Scenario", "Runs", "Failures", "Cards lost");
    for (const auto& [name, t] : rows())
        std::printf("%-44s %6d %9d %11lld\n", name.c_str(), t.runs, t.failures, t.cardsLost);
    std::fflush(stdout);
}

Counted::Counted(const std::string& scenario) : tally_(tally(scenario)), failedBefore_(failedParts()) {}

Counted::~Counted() {
    std::lock_guard<std::mutex> guard(g_tallyLock);
    ++tally_.runs;
    if (failedParts() > failedBefore_) ++tally_.failures;
}

}  // namespace reliability
