// Shared pieces of the reliability suite: the wallet driven early bound
// from a test or a child process, wallet files prepared without the
// missing-wallet warning, and the tally behind the closing summary table.
#pragma once

#include "cardkeep_h.h"
#include "support/fake_host.h"
#include "support/test_support.h"

#include <map>
#include <string>
#include <vector>

namespace reliability {

using comkit::ComPtr;

// One wallet object and the calls the suite makes on it.
struct Wallet {
    ComPtr<_clsWALLETA> object;

    // Creates the object; an empty object means creation failed (hr says why).
    HRESULT create();
    HRESULT attach(IDispatch* host);
    HRESULT set(const std::wstring& pocket, const std::wstring& card, const std::wstring& info, LONG* result = nullptr);
    HRESULT get(const std::wstring& pocket, const std::wstring& card, std::wstring& info);
};

// A failed call with a description a user can act on, from the wallet,
// that mentions each text given.
void expectClearError(IUnknown* object, HRESULT hr, const std::wstring& mention = {},
                      const std::wstring& alsoMention = {});
// The same from another class and interface.
void expectClearError(IUnknown* object, REFIID iid, const std::wstring& source, HRESULT hr,
                      const std::wstring& mention, const std::wstring& alsoMention = {});

// The wallet root given to the component through its environment variable,
// already in the lower case the wallet uses for it.
std::wstring useRoot(const std::wstring& root);
std::wstring walletFolder(const std::wstring& root, const std::wstring& product, const std::wstring& title, int major,
                          int minor);
std::wstring walletFile(const std::wstring& root, const std::wstring& product, const std::wstring& title, int major,
                        int minor);
// Makes the folders and a wallet file with a stamp only, as a host's earlier
// run leaves it, so that initialisation shows no message box.
void prepareWallet(const std::wstring& file);

// The host most scenarios open their wallet for, and that wallet's file.
inline const std::wstring kProduct = L"Ledger", kTitle = L"LedgerPro";
constexpr int kMajor = 3, kMinor = 10;
inline ComPtr<testsupport::FakeHost> ledgerHost() { return testsupport::FakeHost::make(kProduct, kTitle, kMajor, kMinor); }
inline std::wstring ledgerWallet(const std::wstring& root) { return walletFile(root, kProduct, kTitle, kMajor, kMinor); }

// All pockets and their cards as the INI component lists them.
struct Listing {
    bool ok = false;
    std::map<std::wstring, std::vector<std::wstring>> cards;
};
Listing listWallet(const std::wstring& file);

// KORVEX10's two classes served in this process from its test build
// (bin\faults\KORVEX10_faults.dll) while this lives, so that wallets created
// meanwhile reach the INI file through its I/O seam. The class objects are
// registered with COM for this process only: no registry is changed (Wine 8
// would not look at a per-user registration, and the machine-wide one is
// shared with the tests running beside this one), and nothing is left behind
// if the test dies.
class FaultBuildCompanions : comkit::NoCopy {
public:
    FaultBuildCompanions();
    ~FaultBuildCompanions();

private:
    DWORD cookies_[2] = {};
};

// The I/O seam of that build (kit/fault_points.h), armed while this lives:
// "<n>:<error>" fails the n-th call, "<n>:pause:<event>" pauses before it,
// "0:0" only counts. calls() names the seam's calls since it was armed.
class IoSeam : comkit::NoCopy {
public:
    explicit IoSeam(const std::wstring& how);
    ~IoSeam();
    static std::vector<std::wstring> calls();
};

// Rows of the summary printed when the suite ends.
struct Tally {
    int runs = 0;
    int failures = 0;
    long long cardsLost = 0;
};
Tally& tally(const std::string& scenario);

// Prints the rows of the scenarios this process ran.
void printSummary();

// Counts one run of a scenario, and a failure if any check inside failed.
class Counted : comkit::NoCopy {
public:
    explicit Counted(const std::string& scenario);
    ~Counted();

private:
    Tally& tally_;
    int failedBefore_;
};

// Child-process entry points (arguments after the mode switch).
int crashWriterChild(int argc, wchar_t** argv);
int storeChild(int argc, wchar_t** argv);
int readerChild(int argc, wchar_t** argv);
int holderChild(int argc, wchar_t** argv);
int clockReaderChild(int argc, wchar_t** argv);
int pausedWriterChild(int argc, wchar_t** argv);

}  // namespace reliability
