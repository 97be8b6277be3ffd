// Several processes on one wallet: a writer killed at random moments, and
// eight writers with two readers all at once. The child processes are this
// test program again, started with a mode switch (see wmain).
#include "reliability.h"

#include "ui_robot.h"
#include "utf8.h"

#include <random>
#include <set>

using comkit::UniqueHandle;
using namespace testsupport;
using uirobot::BoxRobot;

namespace reliability {
namespace {

// The crash writer's cards: iteration i writes one of 4 x 13 cards, with a
// value that names the iteration, so any value on disk tells which write
// put it there. Lengths vary so that files of different sizes are replaced.
std::wstring crashPocket(long long i) { return L"Crash" + std::to_wstring(i % 4); }
std::wstring crashCard(long long i) { return L"c" + std::to_wstring(i % 13); }
std::wstring crashValue(long long i) {
    return L"#" + std::to_wstring(i) + L" " + std::wstring(static_cast<size_t>(20 + (i * 37) % 300), L'\u00e9') +
           L"\U0001F511";
}

std::wstring storeValue(const std::wstring& who, int i) {
    return who + L" card " + std::to_wstring(i) + L" " + std::wstring(static_cast<size_t>(i % 40), L'x');
}
std::wstring storePocket(int i) { return L"Shared" + std::to_wstring(i % 5); }

// The concurrency scenario's writers are named a, b, c, ...; each writes its
// own cards, so every card has one value ever written.
constexpr int kWriters = 8, kCardsPerWriter = 250, kReaders = 2;
std::wstring writerName(int k) { return std::wstring(1, static_cast<wchar_t>(L'a' + k)); }

// Cards written before the children start; nobody else may change them.
std::map<std::pair<std::wstring, std::wstring>, std::wstring> keptCards() {
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> cards;
    for (int i = 0; i < 10; ++i)
        cards[{L"Keep", L"k" + std::to_wstring(i)}] = L"kept value " + std::to_wstring(i) + L" \u20ac";
    return cards;
}

HRESULT attachOwnHost(Wallet& w) {
    HRESULT hr = w.create();
    if (FAILED(hr)) return hr;
    auto host = ledgerHost();
    return w.attach(host.Get());
}

void appendLine(HANDLE file, const std::wstring& line) {
    const std::string bytes = narrow(line) + "\n";
    DWORD put = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    FlushFileBuffers(file);
}

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        root = useRoot(dir.path() + L"\\Root");
        file = ledgerWallet(root);
        prepareWallet(file);
        Wallet w;
        ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
        for (const auto& [where, info] : kept) ASSERT_EQ(S_OK, w.set(where.first, where.second, info));
    }

    // The kept cards still read exactly; returns how many did not.
    int checkKept(Wallet& w) {
        int lost = 0;
        for (const auto& [where, info] : kept) {
            std::wstring got;
            EXPECT_EQ(S_OK, w.get(where.first, where.second, got));
            if (got != info) {
                ++lost;
                ADD_FAILURE() << "kept card " << narrow(where.second) << " reads \"" << narrow(got) << "\"";
            }
        }
        return lost;
    }

    TempDir dir{L"rel-proc"};
    std::wstring root, file;
    const std::map<std::pair<std::wstring, std::wstring>, std::wstring> kept = keptCards();
};

struct Report {
    std::wstring pocket, card, value;
};

// Whole lines of the writer's report; a line the kill cut short is not a report.
std::vector<Report> readReports(const std::wstring& path) {
    const std::string bytes = readBytes(path);
    std::vector<Report> out;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::wstring line = comkit::fromUtf8(bytes.substr(start, end - start));
        const size_t a = line.find(L'\t'), b = line.find(L'\t', a + 1);
        if (a == std::wstring::npos || b == std::wstring::npos) {
            ADD_FAILURE() << "malformed report line: " << bytes.substr(start, end - start);
            continue;
        }
        out.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return out;
}

long long iterationOf(const std::wstring& value) {
    if (value.size() < 2 || value[0] != L'#') return -1;
    return std::wcstoll(value.c_str() + 1, nullptr, 10);
}

// A writer is killed 100 times at random moments, mostly while it is inside
// SetCard, sometimes while it is still starting. After each kill the wallet
// must open, hold exactly the values whose SetCard had returned (the one
// write in flight may have landed or not, but whole), and nothing else.
TEST_F(Processes, AWriterKilledAtRandomLosesNoReturnedCard) {
    constexpr int kRounds = 100;
    std::mt19937 random(20261209);
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> expected;
    Tally& t = tally("crash: writer killed at random");
    BoxRobot robot;  // a missing wallet would warn; none may appear
    for (int round = 0; round < kRounds; ++round) {
        Counted run("crash: writer killed at random");
        const long long first = static_cast<long long>(round) * 1000000;
        const std::wstring reportPath = dir.file(L"report" + std::to_wstring(round) + L".txt");
        const std::wstring readyName = L"Local\\ckrel-ready-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(round);
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        UniqueHandle child = spawnSelf(L"--crash-writer \"" + reportPath + L"\" " + std::to_wstring(first) + L" " +
                                       readyName);
        ASSERT_TRUE(child.valid());
        if (round % 10 == 9) {
            // Killed while starting or initialising the wallet.
            Sleep(random() % 400);
        } else {
            HANDLE both[] = {ready.get(), child.get()};
            const DWORD which = WaitForMultipleObjects(2, both, FALSE, 60000);
            ASSERT_EQ(WAIT_OBJECT_0, which) << "the writer ended or hung before its first card";
            Sleep(random() % 60);
        }
        TerminateProcess(child.get(), 9);
        WaitForSingleObject(child.get(), INFINITE);

        const std::vector<Report> reports = readReports(reportPath);
        long long last = first - 1;
        for (const Report& r : reports) {
            const long long i = iterationOf(r.value);
            EXPECT_EQ(last + 1, i) << "reports out of order";
            EXPECT_EQ(crashValue(i), r.value);
            last = i;
            expected[{r.pocket, r.card}] = r.value;
        }
        const long long inFlight = last + 1;
        const std::pair<std::wstring, std::wstring> inFlightCard{crashPocket(inFlight), crashCard(inFlight)};

        if (!fileExists(file)) t.cardsLost += static_cast<long long>(kept.size() + expected.size());
        ASSERT_TRUE(fileExists(file)) << "round " << round << ": the wallet file is gone";
        Wallet w;
        ASSERT_EQ(S_OK, attachOwnHost(w)) << "round " << round << ": " << narrow(errorDescription());
        t.cardsLost += checkKept(w);
        for (auto& [where, value] : expected) {
            std::wstring got;
            EXPECT_EQ(S_OK, w.get(where.first, where.second, got));
            if (got == value) continue;
            if (where == inFlightCard && got == crashValue(inFlight)) {
                value = got;  // the unreported write landed whole
                continue;
            }
            ++t.cardsLost;
            ADD_FAILURE() << "round " << round << ": " << narrow(where.first) << "/" << narrow(where.second)
                          << " reads \"" << narrow(got.substr(0, 20)) << "\" instead of \"" << narrow(value.substr(0, 20))
                          << "\"";
        }
        // A first write of a card that was in flight may have landed too.
        if (!expected.count(inFlightCard)) {
            std::wstring got;
            EXPECT_EQ(S_OK, w.get(inFlightCard.first, inFlightCard.second, got));
            EXPECT_TRUE(got.empty() || got == crashValue(inFlight)) << "a broken value: " << narrow(got.substr(0, 20));
            if (!got.empty()) expected[inFlightCard] = got;
        }
        w.object.Reset();

        // Nothing else: every card on disk is a kept card or one the writer wrote.
        const Listing listing = listWallet(file);
        ASSERT_TRUE(listing.ok) << "round " << round << ": the wallet cannot be listed";
        for (const auto& [pocket, cards] : listing.cards) {
            for (const auto& card : cards) {
                if (pocket == L"WALLET") continue;
                EXPECT_TRUE(kept.count({pocket, card}) || expected.count({pocket, card}))
                    << "round " << round << ": an unknown card " << narrow(pocket) << "/" << narrow(card);
            }
        }
        EXPECT_EQ(kept.size() + expected.size(), [&] {
            size_t n = 0;
            for (const auto& [pocket, cards] : listing.cards) n += pocket == L"WALLET" ? 0 : cards.size();
            return n;
        }());
    }
    EXPECT_GE(expected.size(), 26u) << "the writers wrote too little for the rounds to mean anything";
    EXPECT_TRUE(robot.seen().empty()) << "a message box appeared";
}

// Eight writers store 250 cards each while two readers read the writers'
// cards and the kept ones and list the pockets all the time: no call of a
// reader fails, every card it reads is either not written yet or exactly
// what its writer wrote (and, once seen, stays so), and afterwards all
// 2,000 cards are there exactly and the kept cards unchanged.
TEST_F(Processes, EightWritersAndTwoReadersAtOnceLoseNothing) {
    const std::string row = "concurrency: 8 writers x 250 + 2 readers";
    Counted run(row);
    Tally& t = tally(row);
    BoxRobot robot;
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    const std::wstring stopName = L"Local\\ckrel-reader-stop-" + tag;
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    UniqueHandle ready[kReaders], readers[kReaders];
    for (int r = 0; r < kReaders; ++r) {
        const std::wstring readyName = L"Local\\ckrel-reader-ready-" + tag + L"-" + std::to_wstring(r);
        ready[r].reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        readers[r] = spawnSelf(L"--reader " + readyName + L" " + stopName + L" \"" +
                               dir.file(L"reads" + std::to_wstring(r) + L".txt") + L"\" " + std::to_wstring(r));
        ASSERT_TRUE(readers[r].valid());
    }
    for (int r = 0; r < kReaders; ++r) {
        HANDLE first[] = {ready[r].get(), readers[r].get()};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, first, FALSE, 60000)) << "reader " << r << " did not start";
    }

    UniqueHandle writers[kWriters];
    HANDLE running[kWriters];
    for (int k = 0; k < kWriters; ++k) {
        writers[k] = spawnSelf(L"--store " + writerName(k) + L" " + std::to_wstring(kCardsPerWriter));
        ASSERT_TRUE(writers[k].valid());
        running[k] = writers[k].get();
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kWriters, running, TRUE, 600000)) << "the writers did not finish";
    SetEvent(stop.get());
    for (const UniqueHandle& reader : readers) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader.get(), 60000));
    auto expectClean = [](const UniqueHandle& child, const char* what, int c) {
        DWORD code = 99;
        GetExitCodeProcess(child.get(), &code);
        EXPECT_EQ(0u, code) << what << " " << c << " reported failures (the count of failed calls or bad reads)";
    };
    for (int k = 0; k < kWriters; ++k) expectClean(writers[k], "writer", k);
    for (int r = 0; r < kReaders; ++r) expectClean(readers[r], "reader", r);
    long long checked = 0;
    for (int r = 0; r < kReaders; ++r) {
        long long loops = 0, reads = 0;
        std::sscanf(readBytes(dir.file(L"reads" + std::to_wstring(r) + L".txt")).c_str(), "%lld %lld", &loops, &reads);
        EXPECT_GT(loops, 1) << "reader " << r << " did not read while the writers wrote";
        checked += reads;
    }
    std::printf("%lld reads checked by %d readers\n", checked, kReaders);

    Wallet w;
    ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
    t.cardsLost += checkKept(w);
    for (int k = 0; k < kWriters; ++k) {
        const std::wstring who = writerName(k);
        for (int i = 0; i < kCardsPerWriter; ++i) {
            std::wstring got;
            EXPECT_EQ(S_OK, w.get(storePocket(i), who + std::to_wstring(i), got));
            if (got != storeValue(who, i)) {
                ++t.cardsLost;
                ADD_FAILURE() << narrow(who) << i << " reads \"" << narrow(got) << "\"";
            }
        }
    }
    w.object.Reset();
    const Listing listing = listWallet(file);
    ASSERT_TRUE(listing.ok);
    size_t shared = 0;
    for (const auto& [pocket, cards] : listing.cards)
        if (pocket.rfind(L"Shared", 0) == 0) shared += cards.size();
    EXPECT_EQ(static_cast<size_t>(kWriters * kCardsPerWriter), shared) << "cards appeared or vanished";
    EXPECT_TRUE(robot.seen().empty()) << "a message box appeared";
}

// Another program (a scanner, say) holds the wallet file open for reading,
// without delete sharing, while a card is written: reading goes on; a write
// waits for it and succeeds if it lets go within the write's retry window,
// and otherwise fails saying so and changes nothing. The holder is a child
// process that lets go when told to; in the first case the write itself
// tells it, through the I/O seam's pause before the rename's first retry.
TEST_F(Processes, AWalletFileHeldByAnotherProgramIsWaitedForOrReported) {
    const FaultBuildCompanions faultBuild;
    Wallet w;
    ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
    std::vector<std::wstring> calls;
    {
        IoSeam counting(L"0:0");
        ASSERT_EQ(S_OK, w.set(L"Held", L"card", L"before")) << narrow(errorDescription());
        calls = IoSeam::calls();
    }
    const size_t rename = std::find(calls.begin(), calls.end(), L"rename") - calls.begin() + 1;
    std::wstring stored = L"before";
    ASSERT_LE(rename, calls.size()) << "the write did not go through the seam";
    for (const bool letsGo : {true, false}) {
        const std::string row = letsGo ? "file held by another program: let go"
                                       : "file held by another program: held on";
        Counted run(row);
        const std::wstring event =
            L"Local\\ckrel-hold-" + std::to_wstring(GetCurrentProcessId()) + (letsGo ? L"-a" : L"-b");
        UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        UniqueHandle released(CreateEventW(nullptr, TRUE, FALSE, (event + L".go").c_str()));
        UniqueHandle holding(CreateEventW(nullptr, TRUE, FALSE, (event + L".held").c_str()));
        UniqueHandle child = spawnSelf(L"--holder \"" + file + L"\" " + event);
        ASSERT_TRUE(child.valid());
        const HANDLE heldOrEnded[] = {holding.get(), child.get()};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, heldOrEnded, FALSE, INFINITE)) << "the holder ended early";

        std::wstring got;
        EXPECT_EQ(S_OK, w.get(L"Held", L"card", got)) << "reading while held: " << narrow(errorDescription());
        EXPECT_EQ(stored, got);
        const std::string before = readBytes(file);
        const std::wstring value = letsGo ? L"after waiting" : L"after the holder let go";
        if (letsGo) {
            IoSeam pauseAtRetry(std::to_wstring(rename + 1) + L":pause:" + event);
            EXPECT_EQ(S_OK, w.set(L"Held", L"card", value)) << narrow(errorDescription());
            calls = IoSeam::calls();
            EXPECT_GT(std::count(calls.begin(), calls.end(), L"rename"), 1) << "the write did not wait";
        } else {
            expectClearError(w.object.Get(), w.set(L"Held", L"card", value), L"in use by another program");
            EXPECT_EQ(before, readBytes(file)) << "the wallet file changed";
            SetEvent(release.get());
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), INFINITE));
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(child.get(), &code) && code == 0) << "the holder failed: " << code;
        EXPECT_FALSE(fileExists(file + L".~tmp")) << "a temporary file was left";
        if (!letsGo) {
            EXPECT_EQ(S_OK, w.set(L"Held", L"card", value)) << narrow(errorDescription());
        }
        EXPECT_EQ(S_OK, w.get(L"Held", L"card", got));
        EXPECT_EQ(value, got);
        stored = value;
        tally(row).cardsLost += checkKept(w) + (got == value ? 0 : 1);
    }
}

}  // namespace

// The crash writer: SetCard in a loop, reporting each card only after its
// SetCard returned, and signalling once the first report is on disk.
int crashWriterChild(int argc, wchar_t** argv) {
    if (argc < 3) return 90;
    UniqueHandle report(CreateFileW(argv[0], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!report.valid()) return 91;
    const long long first = std::wcstoll(argv[1], nullptr, 10);
    UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
    Wallet w;
    if (FAILED(attachOwnHost(w))) return 92;
    for (long long i = first;; ++i) {
        LONG result = 0;
        if (FAILED(w.set(crashPocket(i), crashCard(i), crashValue(i), &result)) || result != 1) return 93;
        appendLine(report.get(), crashPocket(i) + L"\t" + crashCard(i) + L"\t" + crashValue(i));
        if (i == first && ready.valid()) SetEvent(ready.get());
    }
}

// A writer of the concurrency scenario; the exit code counts failed writes.
int storeChild(int argc, wchar_t** argv) {
    if (argc < 2) return 90;
    const std::wstring who = argv[0];
    const int count = _wtoi(argv[1]);
    Wallet w;
    if (FAILED(attachOwnHost(w))) return 92;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        LONG result = 0;
        const HRESULT hr = w.set(storePocket(i), who + std::to_wstring(i), storeValue(who, i), &result);
        if (FAILED(hr) || result != 1) {
            std::fprintf(stderr, "SetCard %ls%d: 0x%08lx %ls\n", who.c_str(), i, static_cast<unsigned long>(hr),
                         errorDescription().c_str());
            ++failures;
        }
    }
    return std::min(failures, 89);
}

// A reader of the concurrency scenario: until told to stop, reads every
// kept card and one card of each writer (reader 0 walks the cards forwards,
// reader 1 backwards), and lists the pockets. A writer's card is either not
// written yet (the empty text) or exact, and once seen never goes away; a
// failed call or any other value counts. Writes "<loops> <card reads>".
int readerChild(int argc, wchar_t** argv) {
    if (argc < 4) return 90;
    UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[0]));
    UniqueHandle stop(OpenEventW(SYNCHRONIZE, FALSE, argv[1]));
    if (!ready.valid() || !stop.valid()) return 91;
    const bool backwards = _wtoi(argv[3]) % 2 == 1;
    Wallet w;
    if (FAILED(attachOwnHost(w))) return 92;
    const auto kept = keptCards();
    const std::wstring file = ledgerWallet(useRoot([] {
        wchar_t value[MAX_PATH] = {};
        GetEnvironmentVariableW(L"QZENVSLOCALPRO", value, MAX_PATH);
        return std::wstring(value);
    }()));
    outside::LateBound ini;
    {
        comkit::ComPtr<IDispatch> object;
        if (FAILED(outside::create(L"KORVEX10.clsKorvexINIFileHandler1A", object))) return 93;
        ini = outside::LateBound(object);
    }
    if (FAILED(ini.assignText(L"Path", file))) return 94;
    std::set<std::wstring> seen;
    int failures = 0;
    long long loops = 0, reads = 0;
    auto bad = [&](const char* what, const std::wstring& detail) {
        std::fprintf(stderr, "reader: %s %ls (%ls)\n", what, detail.c_str(), errorDescription().c_str());
        ++failures;
    };
    for (int i = 0; WaitForSingleObject(stop.get(), 0) == WAIT_TIMEOUT; ++i) {
        for (const auto& [where, info] : kept) {
            std::wstring got;
            ++reads;
            if (FAILED(w.get(where.first, where.second, got))) bad("GetCard failed", where.second);
            else if (got != info) bad("kept card changed", got);
        }
        const int n = backwards ? kCardsPerWriter - 1 - i % kCardsPerWriter : i % kCardsPerWriter;
        for (int k = 0; k < kWriters; ++k) {
            const std::wstring who = writerName(k), card = who + std::to_wstring(n);
            std::wstring got;
            ++reads;
            if (FAILED(w.get(storePocket(n), card, got))) bad("GetCard failed", card);
            else if (got.empty() && seen.count(card)) bad("a card went away", card);
            else if (!got.empty() && got != storeValue(who, n)) bad("a value never written", got);
            else if (!got.empty()) seen.insert(card);
        }
        comkit::Variant list, count, result;
        if (FAILED(ini.call(L"EnumerateAllSections", {comkit::byRef(list), comkit::byRef(count)}, result))) bad("EnumerateAllSections failed", L"");
        else if (list.vt() != (VT_ARRAY | VT_VARIANT) || count.vt() != VT_I4 || count.get()->lVal < 2)
            bad("the pockets are missing", L"");
        ++loops;
        if (loops == 1) SetEvent(ready.get());
        if (failures > 50) break;
    }
    UniqueHandle out(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::string text = std::to_string(loops) + " " + std::to_string(reads);
    DWORD put = 0;
    WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    return std::min(failures, 89);
}

// The holder: opens the file as a scanner does (reading, others may only
// read), says so through <event>.held, lets go when <event> is set, and
// says so through <event>.go.
int holderChild(int argc, wchar_t** argv) {
    if (argc < 2) return 90;
    const std::wstring event = argv[1];
    UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, event.c_str()));
    UniqueHandle released(OpenEventW(EVENT_MODIFY_STATE, FALSE, (event + L".go").c_str()));
    UniqueHandle holding(OpenEventW(EVENT_MODIFY_STATE, FALSE, (event + L".held").c_str()));
    if (!release.valid() || !released.valid() || !holding.valid()) return 91;
    UniqueHandle file(CreateFileW(argv[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return 92;
    SetEvent(holding.get());
    WaitForSingleObject(release.get(), INFINITE);
    file.reset();
    SetEvent(released.get());
    return 0;
}

}  // namespace reliability
