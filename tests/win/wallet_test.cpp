// The wallet through its published interface, early bound (the header widl
// generates from the library's own IDL) and late bound (names, named
// arguments, script-style references), with a host object of the test's
// own and a robot answering the message boxes.
#include "cardkeep_h.h"
#include "ui_robot.h"
#include "support/fake_host.h"
#include "support/free_once_spy.h"
#include "support/stand_in_sealer.h"
#include "support/test_support.h"

#include <atomic>
#include <thread>

using comkit::Bstr;
using comkit::ComPtr;
using comkit::Variant;
using namespace testsupport;
using uirobot::BoxRobot;

namespace {

const std::wstring kNoWallet = L"Wallet file does not exists on this computer";

ComPtr<_clsWALLETA> newWallet() {
    ComPtr<_clsWALLETA> wallet;
    const HRESULT hr = CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                        reinterpret_cast<void**>(wallet.GetAddressOf()));
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
    return wallet;
}

std::wstring str(BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); }

std::wstring property(_clsWALLETA* w, HRESULT (STDMETHODCALLTYPE _clsWALLETA::*get)(BSTR*)) {
    Bstr value;
    EXPECT_EQ(S_OK, (w->*get)(value.put()));
    return std::wstring(value.view());
}

// The wallet's error object as a host sees it after a failed call.
comkit::ErrorText lastError(IUnknown* object) { return hostError(object, IID__clsWALLETA); }

class WalletTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"QZENVSLOCALPRO", rootSpelling().c_str());
        CreateDirectoryW(rootSpelling().c_str(), nullptr);
    }
    // The root as the environment spells it; the wallet lower-cases it.
    std::wstring rootSpelling() const { return dir.path() + L"\\Apps LOCAL"; }
    std::wstring root() const {
        std::wstring lower = rootSpelling();
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
        return lower;
    }
    std::wstring folder() const { return root() + L"\\Ledger\\LedgerPro\\3.10"; }
    std::wstring file() const { return folder() + L"\\wallet.cdw"; }

    HRESULT attach(_clsWALLETA* w, IDispatch* app) { return w->putref_AppObject(app); }

    HRESULT setCard(_clsWALLETA* w, const std::wstring& p, const std::wstring& c, const std::wstring& i, LONG* r = nullptr) {
        Bstr bp(p), bc(c), bi(i);
        BSTR a = bp.get(), b = bc.get(), d = bi.get();
        LONG result = -7;
        const HRESULT hr = w->SetCard(&a, &b, &d, &result);
        if (r) *r = result;
        EXPECT_EQ(bp.get(), a) << "the pocket parameter was assigned";
        EXPECT_EQ(bi.get(), d) << "the information parameter was assigned";
        return hr;
    }
    std::wstring getCard(_clsWALLETA* w, const std::wstring& p, const std::wstring& c, HRESULT* status = nullptr) {
        Bstr bp(p), bc(c), result;
        BSTR a = bp.get(), b = bc.get();
        const HRESULT hr = w->GetCard(&a, &b, result.put());
        if (status) *status = hr;
        else EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
        if (FAILED(hr)) EXPECT_EQ(nullptr, result.get()) << "a failed GetCard delivered a result";
        return std::wstring(result.view());
    }
    HRESULT changePassword(_clsWALLETA* w, const std::wstring& o, const std::wstring& n, const std::wstring& h,
                           VARTYPE* resultType = nullptr) {
        Bstr bo(o), bn(n), bh(h);
        BSTR a = bo.get(), b = bn.get(), c = bh.get();
        Variant result;
        const HRESULT hr = w->ChangePassword(&a, &b, &c, result.put());
        if (resultType) *resultType = result.vt();
        return hr;
    }
    // A value of the wallet file, read without the wallet.
    std::wstring rawValue(const std::wstring& section, const std::wstring& key) {
        outside::LateBound ini = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
        EXPECT_EQ(S_OK, ini.assignText(L"Path", file()));
        EXPECT_EQ(S_OK, ini.assignText(L"Section", section));
        EXPECT_EQ(S_OK, ini.assignText(L"Key", key));
        Variant v;
        EXPECT_EQ(S_OK, ini.read(L"Value", v));
        return text(v);
    }

    TempDir dir{L"wallet"};
    ComPtr<FakeHost> host = FakeHost::make(L"Ledger", L"LedgerPro", 3, 10);
};

TEST_F(WalletTest, BeforeInitialisationPropertiesAreEmpty) {
    auto w = newWallet();
    IDispatch* app = reinterpret_cast<IDispatch*>(1);
    ASSERT_EQ(S_OK, w->get_AppObject(&app));
    EXPECT_EQ(nullptr, app);
    EXPECT_EQ(L"", property(w.Get(), &_clsWALLETA::get_WalletPath));
    EXPECT_EQ(L"", property(w.Get(), &_clsWALLETA::get_PAVString));
}

TEST_F(WalletTest, FirstInitialisationMakesFoldersWarnsOnceAndStampsTheFile) {
    auto w = newWallet();
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get())) << narrow(errorDescription());
        const auto boxes = robot.seen();
        ASSERT_EQ(1u, boxes.size()) << "the missing-file warning must appear exactly once";
        EXPECT_EQ(L"Invalid Wallet", boxes[0].title);
        EXPECT_EQ(kNoWallet, boxes[0].text);
    }
    EXPECT_EQ(root(), property(w.Get(), &_clsWALLETA::get_LocalProgramsPath));
    EXPECT_EQ(L"Ledger\\LedgerPro\\3.10", property(w.Get(), &_clsWALLETA::get_PAVString));
    EXPECT_EQ(folder(), property(w.Get(), &_clsWALLETA::get_WalletFolder));
    EXPECT_EQ(file(), property(w.Get(), &_clsWALLETA::get_WalletPath));
    EXPECT_TRUE(fileExists(file()));
    const std::wstring stamp = rawValue(L"WALLET", L"NOW");
    EXPECT_EQ(19u, stamp.size()) << narrow(stamp);
    const auto reads = host->reads();
    ASSERT_GE(reads.size(), 4u);
    EXPECT_EQ((std::vector<std::wstring>{L"ProductName", L"Title", L"Major", L"Minor"}),
              std::vector<std::wstring>(reads.begin(), reads.begin() + 4));

    IDispatch* app = nullptr;
    ASSERT_EQ(S_OK, w->get_AppObject(&app));
    EXPECT_EQ(static_cast<IDispatch*>(host.Get()), app);
    app->Release();

    // Again: no warning, and the stamp is written afresh.
    outside::LateBound ini = createByName(L"KORVEX10.clsKorvexINIFileHandler1A");
    ASSERT_EQ(S_OK, ini.assignText(L"Path", file()));
    ASSERT_EQ(S_OK, ini.assignText(L"Section", L"WALLET"));
    ASSERT_EQ(S_OK, ini.assignText(L"Key", L"NOW"));
    ASSERT_EQ(S_OK, ini.assignText(L"Value", L"stale"));
    BoxRobot robot;
    ASSERT_EQ(S_OK, w->InitialiseWallet());
    EXPECT_TRUE(robot.seen().empty());
    EXPECT_NE(L"stale", rawValue(L"WALLET", L"NOW"));
}

TEST_F(WalletTest, AMissingRootFailsWithTheFirstPropertiesAlreadySet) {
    SetEnvironmentVariableW(L"QZENVSLOCALPRO", (dir.path() + L"\\Not There").c_str());
    auto w = newWallet();
    BoxRobot robot;
    const HRESULT hr = attach(w.Get(), host.Get());
    EXPECT_TRUE(FAILED(hr));
    const comkit::ErrorText e = lastError(w.Get());
    EXPECT_EQ(L"cardkeep.clsWALLETA", e.source);
    EXPECT_NE(std::wstring::npos, e.description.find(L"cannot be created")) << narrow(e.description);
    std::wstring lower = dir.path() + L"\\not there";
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    EXPECT_EQ(lower, property(w.Get(), &_clsWALLETA::get_LocalProgramsPath));
    EXPECT_EQ(L"Ledger\\LedgerPro\\3.10", property(w.Get(), &_clsWALLETA::get_PAVString));
    EXPECT_EQ(lower + L"\\Ledger\\LedgerPro\\3.10", property(w.Get(), &_clsWALLETA::get_WalletFolder));
    EXPECT_EQ(L"", property(w.Get(), &_clsWALLETA::get_WalletPath));
    IDispatch* app = nullptr;
    ASSERT_EQ(S_OK, w->get_AppObject(&app));
    EXPECT_EQ(static_cast<IDispatch*>(host.Get()), app);
    if (app) app->Release();
    EXPECT_TRUE(robot.seen().empty());
}

// Two hosts running for the first time at once: a folder the other one makes
// between this one's check and its creation counts as made. The test
// build's I/O seam stops the wallet right before it creates its first
// folder, and the test makes that folder meanwhile.
TEST_F(WalletTest, AFolderAnotherHostMakesMeanwhileCountsAsMade) {
    ComPtr<_clsWALLETA> w;
    ASSERT_EQ(S_OK, createFromFaultBuild(L"cardkeep_faults.dll", CLSID_clsWALLETA, IID__clsWALLETA,
                                         reinterpret_cast<void**>(w.GetAddressOf())));
    const std::wstring event = L"cardkeep-test-folder-" + std::to_wstring(GetCurrentProcessId());
    const comkit::UniqueHandle reached(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    const comkit::UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, (event + L".go").c_str()));
    ASSERT_TRUE(reached.valid() && go.valid());
    std::atomic<bool> returned{false};
    std::thread otherHost([&] {
        WaitForSingleObject(reached.get(), 60000);
        if (returned) ADD_FAILURE() << "the wallet made no folder through the seam";
        else EXPECT_TRUE(CreateDirectoryW((root() + L"\\Ledger").c_str(), nullptr));
        SetEvent(go.get());
    });
    HRESULT hr = E_UNEXPECTED;
    {
        BoxRobot robot;  // the first run's notice
        SetEnvironmentVariableW(L"CARDKEEP_IO_FAULT", (L"1:pause:" + event).c_str());
        hr = attach(w.Get(), host.Get());
        SetEnvironmentVariableW(L"CARDKEEP_IO_FAULT", nullptr);
        SetEnvironmentVariableW(L"CARDKEEP_IO_CALLS", nullptr);
    }
    returned = true;
    SetEvent(reached.get());
    otherHost.join();
    EXPECT_EQ(S_OK, hr) << narrow(lastError(w.Get()).description);
    EXPECT_TRUE(fileExists(file()));
}

TEST_F(WalletTest, AHostWhoseVersionIsNotANumberIsRefusedClearly) {
    auto w = newWallet();
    Variant bad = Variant::text(L"three");
    host->set(L"Major", *bad.get());
    EXPECT_TRUE(FAILED(attach(w.Get(), host.Get())));
    EXPECT_NE(std::wstring::npos, lastError(w.Get()).description.find(L"Major"));
    auto missing = FakeHost::make(L"Ledger", L"LedgerPro", 3, 10);
    missing->set(L"Title", Variant().get()[0]);
    EXPECT_TRUE(FAILED(attach(w.Get(), missing.Get())));
    EXPECT_NE(std::wstring::npos, lastError(w.Get()).description.find(L"Title"));
    EXPECT_TRUE(FAILED(attach(w.Get(), nullptr)));
    EXPECT_NE(std::wstring::npos, lastError(w.Get()).description.find(L"AppObject"));
}

class InitialisedWallet : public WalletTest {
protected:
    void SetUp() override {
        WalletTest::SetUp();
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get())) << narrow(errorDescription());
    }
    ComPtr<_clsWALLETA> w = newWallet();
};

TEST_F(InitialisedWallet, CardsRoundTripSealedInTheFile) {
    const std::vector<std::pair<std::wstring, std::wstring>> cards = {
        {L"PIN", L"1234"},
        {L"eq", L"a=b=c"},
        {L"semi", L";not a comment"},
        {L"brackets", L"[not a section]"},
        {L"blanks", L"  both ends  "},
        {L"accents", L"caf\u00e9 \u20ac \u4e2d \U0001F600"},
        {L"empty", L""},
    };
    for (const auto& [card, info] : cards) {
        LONG r = 0;
        ASSERT_EQ(S_OK, setCard(w.Get(), L"Bank", card, info, &r)) << narrow(errorDescription());
        EXPECT_EQ(1, r);
    }
    for (const auto& [card, info] : cards) {
        EXPECT_EQ(info, getCard(w.Get(), L"Bank", card));
        const std::wstring stored = rawValue(L"Bank", card);
        EXPECT_EQ(0u, stored.find(L"v1:")) << "not sealed: " << narrow(stored);
        if (info.size() > 3) EXPECT_EQ(std::wstring::npos, stored.find(info));
    }
    ASSERT_EQ(S_OK, setCard(w.Get(), L"Bank", L"PIN", L"9999"));
    EXPECT_EQ(L"9999", getCard(w.Get(), L"Bank", L"PIN"));
    EXPECT_EQ(L"", getCard(w.Get(), L"Bank", L"no such card"));
    EXPECT_EQ(L"", getCard(w.Get(), L"No such pocket", L"PIN"));
}

TEST_F(InitialisedWallet, APocketNamedLikeTheWalletStillKeepsCards) {
    ASSERT_EQ(S_OK, setCard(w.Get(), L"Wallets", L"card", L"kept"));
    EXPECT_EQ(L"kept", getCard(w.Get(), L"Wallets", L"card"));
}

TEST_F(InitialisedWallet, SetPocketReturnsOneAndWritesNothing) {
    const std::string before = readBytes(file());
    Bstr pocket(L"Fresh pocket");
    BSTR p = pocket.get();
    LONG r = 0;
    ASSERT_EQ(S_OK, w->SetPocket(&p, &r));
    EXPECT_EQ(1, r);
    EXPECT_EQ(before, readBytes(file()));
}

TEST_F(InitialisedWallet, ChangePasswordComparesExactlyAndStoresSealed) {
    const std::string before = readBytes(file());
    {
        BoxRobot robot;
        VARTYPE type = VT_NULL;
        ASSERT_EQ(S_OK, changePassword(w.Get(), L"Secret", L"secret", L"hint", &type));
        EXPECT_EQ(VT_EMPTY, type);
        ASSERT_EQ(S_OK, changePassword(w.Get(), L"Secret", L"Secret ", L"hint"));
        const auto boxes = robot.seen();
        ASSERT_EQ(2u, boxes.size());
        EXPECT_EQ(L"Invalid Password", boxes[0].title);
        EXPECT_EQ(L"OldPassword and NewPassword does not match.", boxes[0].text);
    }
    EXPECT_EQ(before, readBytes(file())) << "a mismatch wrote to the wallet";

    BoxRobot robot;
    VARTYPE type = VT_NULL;
    ASSERT_EQ(S_OK, changePassword(w.Get(), L"Secret", L"Secret", L"my hint", &type));
    EXPECT_EQ(VT_EMPTY, type);
    EXPECT_TRUE(robot.seen().empty());
    EXPECT_EQ(0u, rawValue(L"WALLET", L"PASSWORD").find(L"v1:"));
    EXPECT_EQ(0u, rawValue(L"WALLET", L"HINT").find(L"v1:"));
    ASSERT_EQ(S_OK, changePassword(w.Get(), L"", L"", L""));
    EXPECT_EQ(0u, rawValue(L"WALLET", L"PASSWORD").find(L"v1:")) << "the empty password is stored sealed too";
}

TEST_F(InitialisedWallet, WritingWalletPathDoesNotMoveTheWallet) {
    Bstr elsewhere(dir.path() + L"\\elsewhere.cdw");
    ASSERT_EQ(S_OK, w->put_WalletPath(elsewhere.get()));
    EXPECT_EQ(std::wstring(elsewhere.view()), property(w.Get(), &_clsWALLETA::get_WalletPath));
    ASSERT_EQ(S_OK, setCard(w.Get(), L"P", L"c", L"stays"));
    EXPECT_FALSE(fileExists(std::wstring(elsewhere.view())));
    EXPECT_EQ(0u, rawValue(L"P", L"c").find(L"v1:"));
}

// A class factory whose component cannot be made.
class Unavailable final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) return *object = this, S_OK;
        return *object = nullptr, E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override { return *object = nullptr, E_OUTOFMEMORY; }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

HRESULT companionCanUnload() {
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"KORVEX10.dll"), "DllCanUnloadNow")));
    return canUnload ? canUnload() : E_FAIL;
}

// The objects of one thread share its components, but each keeps to its own
// wallet; the components stay while any of the objects lives.
TEST_F(InitialisedWallet, ObjectsOnOneThreadEachKeepToTheirOwnWallet) {
    auto second = newWallet();
    auto otherHost = FakeHost::make(L"Ledger", L"Other", 1, 0);
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(second.Get(), otherHost.Get()));
    }
    ASSERT_EQ(S_OK, setCard(w.Get(), L"P", L"c", L"first's"));
    ASSERT_EQ(S_OK, setCard(second.Get(), L"P", L"c", L"second's"));
    EXPECT_EQ(L"first's", getCard(w.Get(), L"P", L"c"));
    EXPECT_EQ(L"second's", getCard(second.Get(), L"P", L"c"));
    ASSERT_EQ(S_OK, setCard(w.Get(), L"Q", L"d", L"first's only"));
    EXPECT_EQ(L"", getCard(second.Get(), L"Q", L"d")) << "a card of the first wallet was read by the second";

    {
        // A creation that fails leaves the live objects as they were.
        Unavailable unavailable;
        SealerScope missing(&unavailable);
        ComPtr<_clsWALLETA> third;
        EXPECT_EQ(E_OUTOFMEMORY, CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                                  reinterpret_cast<void**>(third.GetAddressOf())));
        EXPECT_EQ(nullptr, third.Get());
    }
    EXPECT_EQ(L"first's", getCard(w.Get(), L"P", L"c"));
    EXPECT_EQ(L"second's", getCard(second.Get(), L"P", L"c"));

    second.Reset();
    EXPECT_EQ(L"first's", getCard(w.Get(), L"P", L"c")) << "releasing the second object harmed the first";
    ASSERT_EQ(S_OK, setCard(w.Get(), L"P", L"c", L"still first's"));
    EXPECT_EQ(S_FALSE, companionCanUnload()) << "the components went before the last object";
    w.Reset();
    EXPECT_EQ(S_OK, companionCanUnload()) << "the last object did not release the components";
}

TEST_F(InitialisedWallet, ObjectsOnTwoThreadsAreIndependent) {
    ASSERT_EQ(S_OK, setCard(w.Get(), L"P", L"c", L"main"));
    std::wstring otherRead;
    HRESULT otherStatus = E_FAIL;
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            auto theirs = newWallet();
            auto otherHost = FakeHost::make(L"Other", L"Product", 1, 0);
            BoxRobot robot;
            otherStatus = theirs->putref_AppObject(otherHost.Get());
            if (SUCCEEDED(otherStatus)) otherStatus = setCard(theirs.Get(), L"P", L"c", L"other");
            if (SUCCEEDED(otherStatus)) otherRead = getCard(theirs.Get(), L"P", L"c");
        }
        CoUninitialize();
    });
    other.join();
    EXPECT_EQ(S_OK, otherStatus);
    EXPECT_EQ(L"other", otherRead);
    EXPECT_TRUE(fileExists(root() + L"\\Other\\Product\\1.0\\wallet.cdw"));
    EXPECT_EQ(L"main", getCard(w.Get(), L"P", L"c")) << "the other thread's release emptied this thread's slots";
}

// Late binding: names, named arguments in any order, script references.
TEST_F(InitialisedWallet, LateBoundCallsBindByNameAndOrder) {
    ComPtr<IDispatch> d;
    ASSERT_EQ(S_OK, w.As(&d));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"SetCard"), const_cast<LPOLESTR>(L"sInformation"),
                        const_cast<LPOLESTR>(L"sPocketName"), const_cast<LPOLESTR>(L"sCardName")};
    DISPID ids[4] = {};
    ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 4, 0, ids));
    EXPECT_EQ(0x60030049, ids[0]);

    // sInformation, sPocketName, sCardName: named, shuffled.
    Bstr info(L"named"), pocket(L"Named pocket"), card(L"named card");
    VARIANT args[3];
    args[0].vt = args[1].vt = args[2].vt = VT_BSTR;
    args[0].bstrVal = info.get();
    args[1].bstrVal = pocket.get();
    args[2].bstrVal = card.get();
    DISPPARAMS params{args, &ids[1], 3, 3};
    Variant result;
    EXCEPINFO excep{};
    ASSERT_EQ(S_OK, d->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &params, result.put(), &excep, nullptr));
    EXPECT_EQ(VT_I4, result.vt());
    EXPECT_EQ(1, result.get()->lVal);
    EXPECT_EQ(L"named", getCard(w.Get(), L"Named pocket", L"named card"));

    // A script passes its variables as references to variants.
    Variant scriptPocket = Variant::text(L"Named pocket"), scriptCard = Variant::text(L"named card");
    VARIANT refs[2] = {comkit::byRef(scriptCard), comkit::byRef(scriptPocket)};
    DISPPARAMS positional{refs, nullptr, 2, 0};
    LPOLESTR getName[] = {const_cast<LPOLESTR>(L"GetCard")};
    DISPID getId = 0;
    ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, getName, 1, 0, &getId));
    ASSERT_EQ(S_OK, d->Invoke(getId, IID_NULL, 0, DISPATCH_METHOD, &positional, result.put(), &excep, nullptr));
    EXPECT_EQ(L"named", text(result));
    EXPECT_EQ(L"Named pocket", text(scriptPocket)) << "the script's variable was changed";

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"DeleteCard")};
    DISPID none = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, d->GetIDsOfNames(IID_NULL, unknown, 1, 0, &none));

    // A failing member reaches a late-bound caller as an exception with the
    // description and source.
    Bstr badPocket(L"bad]");
    args[1].bstrVal = badPocket.get();
    VariantClear(result.put());
    ASSERT_EQ(DISP_E_EXCEPTION, d->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &params, result.put(), &excep, nullptr));
    EXPECT_NE(nullptr, excep.bstrDescription);
    EXPECT_EQ(L"cardkeep.clsWALLETA", str(excep.bstrSource));
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
}

// With a cryptography component whose sealing fails quietly, the wallet
// must not write the empty text over a card or a password.
TEST_F(WalletTest, AValueThatCannotBeSealedIsNotWritten) {
    auto w = newWallet();
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get()));
    }
    ASSERT_EQ(S_OK, setCard(w.Get(), L"Bank", L"PIN", L"1234"));
    ASSERT_EQ(S_OK, changePassword(w.Get(), L"pw", L"pw", L"hint"));
    w.Reset();
    {
        static EmptySealer empty;  // the wallet keeps it past this block
        SealerScope broken(&empty);
        w = newWallet();  // its cryptography component is the broken one
    }
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get()));
    }
    const std::string before = readBytes(file());
    EXPECT_TRUE(FAILED(setCard(w.Get(), L"Bank", L"PIN", L"5678")));
    EXPECT_EQ(L"The value could not be sealed.", lastError(w.Get()).description);
    EXPECT_TRUE(FAILED(changePassword(w.Get(), L"new", L"new", L"new hint")));
    EXPECT_EQ(before, readBytes(file())) << "a failed sealing wrote to the wallet";
    EXPECT_EQ(S_OK, setCard(w.Get(), L"Bank", L"empty", L"")) << "sealing the empty text is normal";
}

// Names that would lead the wallet out of its place in the folder chain are
// refused, naming the member, before anything is made; names that stay in
// their place keep working.
std::vector<std::wstring> listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        names.push_back(folder + L"\\" + name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            for (std::wstring& inner : listing(folder + L"\\" + name)) names.push_back(std::move(inner));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TEST_F(WalletTest, HostNamesThatWouldLeaveTheirPlaceAreRefusedAndNothingIsMade) {
    // Deep enough that every way out still lands inside the test's folder.
    const std::wstring deepRoot = dir.path() + L"\\a\\b\\root";
    for (const std::wstring& f : {dir.path() + L"\\a", dir.path() + L"\\a\\b", deepRoot}) CreateDirectoryW(f.c_str(), nullptr);
    SetEnvironmentVariableW(L"QZENVSLOCALPRO", deepRoot.c_str());
    struct Case {
        const wchar_t* product;
        const wchar_t* title;
        const wchar_t* member;
    };
    const Case refused[] = {
        {L"Prod", L"..\\..\\..\\escape", L"Title"}, {L"..", L"One", L"ProductName"}, {L".", L"One", L"ProductName"},
        {L"Prod", L"..", L"Title"},                 {L"Prod", L".", L"Title"},         {L"a\\b", L"One", L"ProductName"},
        {L"../up", L"One", L"ProductName"},         {L"Prod", L"a/b", L"Title"},       {L"C:", L"One", L"ProductName"},
        {L"Prod", L"x:y", L"Title"},
    };
    const std::vector<std::wstring> before = listing(dir.path());
    for (const Case& c : refused) {
        SCOPED_TRACE(narrow(std::wstring(c.product) + L" / " + c.title));
        auto w = newWallet();
        auto bad = FakeHost::make(c.product, c.title, 1, 0);
        BoxRobot robot;
        EXPECT_TRUE(FAILED(attach(w.Get(), bad.Get())));
        const comkit::ErrorText e = lastError(w.Get());
        EXPECT_EQ(L"cardkeep.clsWALLETA", e.source);
        EXPECT_NE(std::wstring::npos, e.description.find(c.member)) << narrow(e.description);
        EXPECT_EQ(L"", property(w.Get(), &_clsWALLETA::get_WalletPath));
        EXPECT_TRUE(robot.seen().empty()) << "the refused wallet was looked for";
        EXPECT_EQ(before, listing(dir.path())) << "a folder was made";
    }
    EXPECT_FALSE(fileExists(dir.path() + L"\\a\\escape"));

    auto w = newWallet();
    auto dotted = FakeHost::make(L"My.App", L".hidden ..x", 1, 0);
    BoxRobot robot;
    ASSERT_EQ(S_OK, attach(w.Get(), dotted.Get())) << narrow(errorDescription());
    EXPECT_TRUE(fileExists(deepRoot + L"\\My.App\\.hidden ..x\\1.0\\wallet.cdw"));
}

// No C++ exception leaves a member: in the test build an allocation that
// fails inside GetCard comes back as E_OUTOFMEMORY, any other exception as
// E_UNEXPECTED, each described, and the object goes on working.
TEST_F(WalletTest, AnExceptionInAMemberComesBackAsAStatus) {
    ComPtr<_clsWALLETA> w;
    ASSERT_EQ(S_OK, createFromFaultBuild(L"cardkeep_faults.dll", CLSID_clsWALLETA, IID__clsWALLETA,
                                         reinterpret_cast<void**>(w.GetAddressOf())));
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get())) << narrow(errorDescription());
    }
    ASSERT_EQ(S_OK, setCard(w.Get(), L"P", L"c", L"kept"));
    const std::pair<const wchar_t*, HRESULT> faults[] = {{L"GetCard", E_OUTOFMEMORY}, {L"GetCard:other", E_UNEXPECTED}};
    for (const auto& [point, status] : faults) {
        SCOPED_TRACE(narrow(point));
        FaultPoint fault(point);
        HRESULT hr = S_OK;
        EXPECT_EQ(L"", getCard(w.Get(), L"P", L"c", &hr));
        EXPECT_EQ(status, hr);
        const comkit::ErrorText e = lastError(w.Get());
        EXPECT_EQ(L"cardkeep.clsWALLETA", e.source);
        EXPECT_FALSE(e.description.empty());
        if (status == E_OUTOFMEMORY) {
            EXPECT_EQ(L"Out of memory.", e.description);
        }
    }
    EXPECT_EQ(L"kept", getCard(w.Get(), L"P", L"c"));
}

// A cryptography component may free and replace the strings it gets by
// reference: every member that seals or opens frees each string once.
TEST_F(WalletTest, StringsTheCryptographyComponentReplacesAreFreedOnce) {
    FreeOnceSpy& spy = FreeOnceSpy::begin();
    ReplacingSealer sealer;
    ComPtr<_clsWALLETA> w;
    {
        SealerScope replacing(&sealer);
        w = newWallet();
    }
    {
        BoxRobot robot;
        ASSERT_EQ(S_OK, attach(w.Get(), host.Get())) << narrow(errorDescription());
    }
    // The host's own variables, which the component may replace.
    Variant pocket = Variant::text(L"P"), card = Variant::text(L"c"), info = Variant::text(L"secret");
    LONG result = 0;
    ASSERT_EQ(S_OK, w->SetCard(&pocket.get()->bstrVal, &card.get()->bstrVal, &info.get()->bstrVal, &result));
    EXPECT_EQ(L"secret", text(info));
    EXPECT_EQ(L"secret", getCard(w.Get(), L"P", L"c"));
    Variant oldPassword = Variant::text(L"pw"), newPassword = Variant::text(L"pw"), hint = Variant::text(L"hint");
    Variant empty;
    ASSERT_EQ(S_OK, w->ChangePassword(&oldPassword.get()->bstrVal, &newPassword.get()->bstrVal,
                                      &hint.get()->bstrVal, empty.put()));
    ASSERT_EQ(S_OK, w->InitialiseWallet());
    w.Reset();
    EXPECT_LE(12, sealer.replaced()) << "the stand-in was not used for every member";
    EXPECT_LT(0, spy.watchedFrees());
    EXPECT_EQ(0, spy.freedTwice()) << "a string was freed twice";
}

}  // namespace
