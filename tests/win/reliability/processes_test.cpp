// Several processes on one wallet: a writer killed at random moments, and
// eight writers with two readers all at once. The child processes are this
// test program again, started with a mode switch (see wmain).
#include "reliability.h"

#include "ui_robot.h"
#include "utf8.h"

#include <optional>
#include <random>
#include <set>
#include <thread>

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

// The events by which a holder child (--holder) is driven: it sets .held
// once it holds, and lets go when release is set (it opens .go itself).
struct HolderEvents {
    explicit HolderEvents(std::wstring base) : name(std::move(base)) {}
    static UniqueHandle event(const std::wstring& name) {
        return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    }
    std::wstring name;
    UniqueHandle release = event(name), released = event(name + L".go"), holding = event(name + L".held");
};

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

// An environment variable of this process (and of the children it starts
// meanwhile) set while this lives.
class EnvironmentVariable : comkit::NoCopy {
public:
    EnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~EnvironmentVariable() { SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

// The card that the coarse-clock scenario writes and its readers read.
const std::wstring kClockPocket = L"Clock", kClockCard = L"PIN";

// How that scenario asks a reader in another apartment to read the card and
// learns what it read: <name>.go asks, <name>.done answers (it also says
// that the reader is ready), <name>.stop ends the reader; the text read is
// in the shared memory <name>.text.
struct ReadRequests {
    static constexpr DWORD kChars = 256;
    using View = comkit::Owned<void*, comkit::PointerHandle<void*, UnmapViewOfFile>>;
    UniqueHandle go, done, stop, memory;
    View view;

    bool create(const std::wstring& name) {
        go.reset(CreateEventW(nullptr, FALSE, FALSE, (name + L".go").c_str()));
        done.reset(CreateEventW(nullptr, FALSE, FALSE, (name + L".done").c_str()));
        stop.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L".stop").c_str()));
        memory.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kChars * sizeof(wchar_t),
                                        (name + L".text").c_str()));
        return mapped();
    }
    bool open(const std::wstring& name) {
        go.reset(OpenEventW(SYNCHRONIZE, FALSE, (name + L".go").c_str()));
        done.reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".done").c_str()));
        stop.reset(OpenEventW(SYNCHRONIZE, FALSE, (name + L".stop").c_str()));
        memory.reset(OpenFileMappingW(FILE_MAP_WRITE, FALSE, (name + L".text").c_str()));
        return mapped();
    }
    wchar_t* text() const { return static_cast<wchar_t*>(view.get()); }

private:
    bool mapped() {
        if (!go.valid() || !done.valid() || !stop.valid() || !memory.valid()) return false;
        view.reset(MapViewOfFile(memory.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kChars * sizeof(wchar_t)));
        return view.valid();
    }
};

// A reader of the coarse-clock scenario: reads the card through a wallet of
// its own, on KORVEX10's test build (which sees file times in the steps
// CARDKEEP_FILE_TIME_TICK sets), whenever asked, until told to stop. On a
// thread of the test or in a process of its own; 0 when it ran, otherwise
// what it could not do.
int answerClockReads(const std::wstring& name) {
    const FaultBuildCompanions faultBuild;
    if (!GetModuleHandleW(L"KORVEX10_faults.dll")) return 91;
    ReadRequests requests;
    if (!requests.open(name)) return 92;
    Wallet w;
    if (FAILED(attachOwnHost(w))) return 93;
    SetEvent(requests.done.get());
    for (;;) {
        const HANDLE asked[] = {requests.go.get(), requests.stop.get()};
        if (WaitForMultipleObjects(2, asked, FALSE, 120000) != WAIT_OBJECT_0) return 0;
        std::wstring got;
        if (FAILED(w.get(kClockPocket, kClockCard, got))) got = L"(GetCard failed: " + errorDescription() + L")";
        lstrcpynW(requests.text(), got.c_str(), ReadRequests::kChars);
        SetEvent(requests.done.get());
    }
}

// The test's side of one such reader.
class ClockReader : comkit::NoCopy {
public:
    ClockReader(const std::wstring& name, bool ownProcess) : who_(ownProcess ? "the reader process" : "the reader thread") {
        if (!requests_.create(name)) return;
        if (ownProcess) {
            ended_ = spawnSelf(L"--clock-reader " + name);
            return;
        }
        ended_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_ = std::thread([this, name] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            code_ = answerClockReads(name);
            CoUninitialize();
            SetEvent(ended_.get());
        });
    }
    ~ClockReader() {
        if (requests_.stop.valid()) SetEvent(requests_.stop.get());
        if (thread_.joinable()) thread_.join();
        else if (ended_.valid()) WaitForSingleObject(ended_.get(), 60000);
    }
    const char* who() const { return who_; }
    // How it ended, if it did: its exit code.
    DWORD code() const {
        DWORD code = code_;
        if (!thread_.joinable() && ended_.valid()) GetExitCodeProcess(ended_.get(), &code);
        return code;
    }
    // Waits for an answer (its first says the reader is ready); none if the
    // reader ended.
    bool answered() {
        if (!ended_.valid()) return false;
        const HANDLE either[] = {requests_.done.get(), ended_.get()};
        return WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
    }
    std::optional<std::wstring> read() {
        SetEvent(requests_.go.get());
        if (!answered()) return std::nullopt;
        return std::wstring(requests_.text());
    }

private:
    const char* who_;
    ReadRequests requests_;
    UniqueHandle ended_;
    std::thread thread_;
    int code_ = 0;  // the thread's
};

// A file's last write time as the file system keeps it.
LONGLONG lastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<LONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// Returns early in a step of the clock, so that two writes soon after fall
// within it: a little after the step's start (file times come from a clock
// that may lag the precise one by a moment), and never late in it.
void startOfStep(LONGLONG step) {
    const LONGLONG early = std::min<LONGLONG>(step / 10, 200000), late = step - std::min<LONGLONG>(step * 3 / 4, 5000000);
    for (;;) {
        FILETIME now;
        GetSystemTimePreciseAsFileTime(&now);
        const LONGLONG into = (static_cast<LONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) % step;
        if (into >= early && into <= late) return;
        const LONGLONG wait = into < early ? early - into : step - into + early;
        Sleep(wait > 30000 ? static_cast<DWORD>(wait / 10000) - 2 : 0);
    }
}

class Processes : public ::testing::Test {
protected:
    void SetUp() override {
        root = useRoot(given);
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

    void writeAtOnce(const std::string& row, const std::vector<std::wstring>& writerRoots, int readerCount);

    TempDir dir{L"rel-proc"};
    const std::wstring given = dir.path() + L"\\Root";  // the root as the environment spells it
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

// Writers store 250 cards each, one process each, with the wallet's root
// spelled for each as writerRoots says, while readers read the writers'
// cards and the kept ones and list the pockets all the time: no call of a
// reader fails, every card it reads is either not written yet or exactly
// what its writer wrote (and, once seen, stays so), and afterwards every
// writer's cards are there exactly and the kept cards unchanged.
void Processes::writeAtOnce(const std::string& row, const std::vector<std::wstring>& writerRoots, int readerCount) {
    Counted run(row);
    Tally& t = tally(row);
    BoxRobot robot;
    const int writerCount = static_cast<int>(writerRoots.size());
    static int scenario = 0;
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++scenario);
    const std::wstring stopName = L"Local\\ckrel-reader-stop-" + tag;
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    std::vector<UniqueHandle> ready(readerCount), readers(readerCount);
    for (int r = 0; r < readerCount; ++r) {
        const std::wstring readyName = L"Local\\ckrel-reader-ready-" + tag + L"-" + std::to_wstring(r);
        ready[r].reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        readers[r] = spawnSelf(L"--reader " + readyName + L" " + stopName + L" \"" +
                               dir.file(L"reads" + std::to_wstring(r) + L".txt") + L"\" " + std::to_wstring(r) + L" " +
                               std::to_wstring(writerCount));
        ASSERT_TRUE(readers[r].valid());
    }
    for (int r = 0; r < readerCount; ++r) {
        HANDLE first[] = {ready[r].get(), readers[r].get()};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, first, FALSE, 60000)) << "reader " << r << " did not start";
    }

    std::vector<UniqueHandle> writers(writerCount);
    std::vector<HANDLE> running;
    for (int k = 0; k < writerCount; ++k) {
        // A child takes the root from its environment, as a host's process does.
        SetEnvironmentVariableW(L"QZENVSLOCALPRO", writerRoots[k].c_str());
        writers[k] = spawnSelf(L"--store " + writerName(k) + L" " + std::to_wstring(kCardsPerWriter));
        SetEnvironmentVariableW(L"QZENVSLOCALPRO", given.c_str());
        ASSERT_TRUE(writers[k].valid());
        running.push_back(writers[k].get());
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(writerCount, running.data(), TRUE, 600000))
        << "the writers did not finish";
    SetEvent(stop.get());
    for (const UniqueHandle& reader : readers) ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader.get(), 60000));
    auto expectClean = [](const UniqueHandle& child, const char* what, int c) {
        DWORD code = 99;
        GetExitCodeProcess(child.get(), &code);
        EXPECT_EQ(0u, code) << what << " " << c << " reported failures (the count of failed calls or bad reads)";
    };
    for (int k = 0; k < writerCount; ++k) expectClean(writers[k], "writer", k);
    for (int r = 0; r < readerCount; ++r) expectClean(readers[r], "reader", r);
    long long checked = 0;
    for (int r = 0; r < readerCount; ++r) {
        long long loops = 0, reads = 0;
        std::sscanf(readBytes(dir.file(L"reads" + std::to_wstring(r) + L".txt")).c_str(), "%lld %lld", &loops, &reads);
        EXPECT_GT(loops, 1) << "reader " << r << " did not read while the writers wrote";
        checked += reads;
    }
    std::printf("%lld reads checked by %d readers\n", checked, readerCount);

    Wallet w;
    ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
    t.cardsLost += checkKept(w);
    for (int k = 0; k < writerCount; ++k) {
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
    EXPECT_EQ(static_cast<size_t>(writerCount * kCardsPerWriter), shared) << "cards appeared or vanished";
    EXPECT_TRUE(robot.seen().empty()) << "a message box appeared";
}

TEST_F(Processes, EightWritersAndTwoReadersAtOnceLoseNothing) {
    writeAtOnce("concurrency: 8 writers x 250 + 2 readers", std::vector<std::wstring>(kWriters, given), kReaders);
}

// One folder under two spellings: its own drive letter and a second one
// for the same folder, as a drive that SUBST or a mapped network share
// makes gives a user (here S: for the whole of C:, which
// tests/win/second_drive.sh gives the prefix). Writers through either
// spelling write one file, so they must take turns as one file's writers.
TEST_F(Processes, WritersThroughTwoSpellingsOfOneFolderLoseNothing) {
    ASSERT_EQ(0u, given.find(L"C:\\")) << "the test's folders are expected on C:";
    const std::wstring other = L"S" + given.substr(1);
    ASSERT_TRUE(fileExists(ledgerWallet(other))) << "S: does not reach the wallet in " << narrow(given)
                                                 << " (tests/win/second_drive.sh makes S:)";
    writeAtOnce("two spellings: 4 writers x 250 + reader", {given, given, other, other}, 1);
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
        const HolderEvents events(L"Local\\ckrel-hold-" + std::to_wstring(GetCurrentProcessId()) + (letsGo ? L"-a" : L"-b"));
        const std::wstring& event = events.name;
        const UniqueHandle &release = events.release, &holding = events.holding;
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

// Two writes of the same length within one step of the file system's
// clock (Windows' 15.6 ms tick, FAT's 2 s) leave the file with one size and
// one time; readers that saw the first, in another process and on another
// thread of this one, must still see the second. The readers and the writer
// use KORVEX10's test build with its file times in those steps. Each round
// writes two PINs and has each reader read after each write; the rounds
// start early in a step, so that at 15.6 ms most pairs fall within one, and
// go on past 20 (up to 100) while fewer than 5 did, as on a busy machine.
TEST_F(Processes, TwoWritesWithinOneClockStepAreBothSeenByReaders) {
    constexpr int kRounds = 20, kEnough = 5, kMostRounds = 100;
    const FaultBuildCompanions faultBuild;
    for (const LONGLONG step : {156250ll, 20000000ll}) {
        const std::string row = step == 156250 ? "coarse clock 15.6 ms" : "coarse clock 2 s";
        const EnvironmentVariable clock(L"CARDKEEP_FILE_TIME_TICK", std::to_wstring(step));
        const std::wstring name = L"Local\\ckrel-clock-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(step);
        ClockReader process(name + L"-p", true), thread(name + L"-t", false);
        ClockReader* readers[] = {&process, &thread};
        for (ClockReader* reader : readers)
            ASSERT_TRUE(reader->answered()) << reader->who() << " did not start (" << reader->code() << ")";
        Wallet w;
        ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
        int withinOneStep = 0;
        int round = 0;
        for (; round < kRounds || (withinOneStep < kEnough && round < kMostRounds); ++round) {
            Counted run(row);
            startOfStep(step);
            LONGLONG written[2] = {};
            std::string misread;
            for (int n = 0; n < 2; ++n) {
                // Four digits: every PIN of one size.
                const std::wstring pin = std::to_wstring((step == 156250 ? 1000 : 2000) + 2 * round + n);
                ASSERT_EQ(S_OK, w.set(kClockPocket, kClockCard, pin)) << narrow(errorDescription());
                written[n] = lastWriteTime(file);
                for (ClockReader* reader : readers) {
                    const std::optional<std::wstring> got = reader->read();
                    ASSERT_TRUE(got) << reader->who() << " ended (" << reader->code() << ")";
                    if (*got != pin)
                        misread += std::string(" ") + reader->who() + " read " + narrow(*got) + " after " + narrow(pin) + ";";
                }
            }
            const bool oneStep = written[0] / step == written[1] / step;
            withinOneStep += oneStep;
            EXPECT_EQ("", misread) << "round " << round << (oneStep ? ", both writes within one step" : "");
        }
        std::printf("%s: %d of %d pairs of writes within one step of the clock\n", row.c_str(), withinOneStep, round);
        EXPECT_GT(withinOneStep, 0) << "no two writes fell within one step: the rounds showed nothing";
    }
}

// A writer of a hidden wallet killed after writing its new file and before
// putting it in place leaves that file behind, hidden as the wallet is. The
// next write must not trip over it (Windows refuses to create a file over a
// hidden one unless asked for a hidden file, which KORVEX10's test build
// imposes): it succeeds, every card is there, no temporary file is left and
// the wallet is still hidden. The writer, on that build, is paused at its
// rename through the I/O seam and killed there.
TEST_F(Processes, AKilledWriterOfAHiddenWalletLeavesNothingInTheWay) {
    const std::string row = "killed writer of a hidden wallet";
    Counted run(row);
    const FaultBuildCompanions faultBuild;
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const std::wstring folder = file.substr(0, file.rfind(L'\\'));
    auto temporaryFiles = [&] {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((folder + L"\\*.~tmp").c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) return found;
        do found.push_back(folder + L"\\" + data.cFileName);
        while (FindNextFileW(search, &data));
        FindClose(search);
        return found;
    };
    const std::wstring event = L"Local\\ckrel-paused-" + std::to_wstring(GetCurrentProcessId());
    UniqueHandle paused(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, (event + L".go").c_str()));  // the writer waits for it
    UniqueHandle child = spawnSelf(L"--paused-writer " + event);
    ASSERT_TRUE(child.valid());
    const HANDLE pausedOrEnded[] = {paused.get(), child.get()};
    const DWORD which = WaitForMultipleObjects(2, pausedOrEnded, FALSE, 60000);
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    TerminateProcess(child.get(), 9);
    WaitForSingleObject(child.get(), INFINITE);
    ASSERT_EQ(WAIT_OBJECT_0, which) << "the writer did not reach its rename (exit code " << code << ")";
    const std::vector<std::wstring> left = temporaryFiles();
    ASSERT_EQ(1u, left.size()) << "the killed writer left no new file behind: the scenario did not happen";
    ASSERT_NE(0u, GetFileAttributesW(left[0].c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the file left is not hidden";

    Wallet w;
    ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
    std::map<std::wstring, std::wstring> stored = {{L"first", L"first value"}, {L"second", L"second value"}};
    const HRESULT after = w.set(L"Paused", L"after", L"after the kill");
    EXPECT_EQ(S_OK, after) << narrow(errorDescription());
    if (SUCCEEDED(after)) stored[L"after"] = L"after the kill";
    long long lost = checkKept(w);
    for (const auto& [card, value] : stored) {
        std::wstring got;
        EXPECT_EQ(S_OK, w.get(L"Paused", card, got));
        if (got == value) continue;
        ++lost;
        ADD_FAILURE() << narrow(card) << " reads \"" << narrow(got) << "\"";
    }
    std::wstring killed = L"x";
    EXPECT_EQ(S_OK, w.get(L"Paused", L"third", killed));
    EXPECT_EQ(L"", killed) << "the write killed before its rename landed";
    EXPECT_TRUE(temporaryFiles().empty()) << "a temporary file was left";
    EXPECT_NE(0u, GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the wallet is no longer hidden";
    tally(row).cardsLost += lost;
}

// Another writer (another process) holds the file's write lock, a byte of
// the lock file beside it: a write waits for it about 3 s and succeeds if it
// lets go meanwhile (here after 1 s); if it holds on (here 8 s), the write
// says that another program is writing the file and to try again, and
// changes nothing. The outcome is checked, not the time taken.
TEST_F(Processes, AnotherWriterIsWaitedForABoundedTimeOrReported) {
    Wallet w;
    ASSERT_EQ(S_OK, attachOwnHost(w)) << narrow(errorDescription());
    std::wstring stored;
    for (const bool letsGo : {true, false}) {
        const std::string row = letsGo ? "another writer: lets go within 1 s" : "another writer: holds on for 8 s";
        Counted run(row);
        const HolderEvents events(L"Local\\ckrel-writer-" + std::to_wstring(GetCurrentProcessId()) + (letsGo ? L"-a" : L"-b"));
        const std::wstring& event = events.name;
        const UniqueHandle &release = events.release, &holding = events.holding;
        UniqueHandle leaving(CreateEventW(nullptr, TRUE, FALSE, (event + L".leaving").c_str()));
        UniqueHandle child = spawnSelf(L"--holder \"" + file + L"\" " + event + L" writer " + (letsGo ? L"1000" : L"8000"));
        ASSERT_TRUE(child.valid());
        const HANDLE heldOrEnded[] = {holding.get(), child.get()};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, heldOrEnded, FALSE, 60000)) << "the holder ended early";

        const std::string before = readBytes(file);
        const std::wstring value = letsGo ? L"after the other writer" : L"while the other writer held on";
        const HRESULT hr = w.set(L"Locked", L"card", value);
        if (letsGo) {
            EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(leaving.get(), 0)) << "the write went ahead of the other writer";
            stored = value;
        } else {
            expectClearError(w.object.Get(), hr, L"is being written by another program", L"try again");
            EXPECT_TRUE(before == readBytes(file)) << "the wallet file changed";
            SetEvent(release.get());
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 60000));
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(child.get(), &code) && code == 0) << "the holder failed: " << code;
        std::wstring got;
        EXPECT_EQ(S_OK, w.get(L"Locked", L"card", got));
        EXPECT_EQ(stored, got);
        // Lost: the card reads neither the value stored before nor the one just written.
        tally(row).cardsLost += checkKept(w) + (got == stored || got == value ? 0 : 1);
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

// A reader of the concurrency scenarios: until told to stop, reads every
// kept card and one card of each of the <writers> writers (reader 0 walks
// the cards forwards, reader 1 backwards), and lists the pockets. A writer's card is either not
// written yet (the empty text) or exact, and once seen never goes away; a
// failed call or any other value counts. Writes "<loops> <card reads>".
int readerChild(int argc, wchar_t** argv) {
    if (argc < 5) return 90;
    UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[0]));
    UniqueHandle stop(OpenEventW(SYNCHRONIZE, FALSE, argv[1]));
    if (!ready.valid() || !stop.valid()) return 91;
    const bool backwards = _wtoi(argv[3]) % 2 == 1;
    const int writers = _wtoi(argv[4]);
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
        for (int k = 0; k < writers; ++k) {
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
// read) or, given "writer <ms>", takes the file's write lock as another
// writer does (the byte at 16 of the lock file beside it); says so through
// <event>.held, lets go when <event> is set (a writer also after <ms>,
// saying so through <event>.leaving just before), and says so through
// <event>.go.
int holderChild(int argc, wchar_t** argv) {
    if (argc < 2) return 90;
    const std::wstring event = argv[1];
    const bool writer = argc >= 4 && std::wstring(argv[2]) == L"writer";
    UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, event.c_str()));
    UniqueHandle released(OpenEventW(EVENT_MODIFY_STATE, FALSE, (event + L".go").c_str()));
    UniqueHandle holding(OpenEventW(EVENT_MODIFY_STATE, FALSE, (event + L".held").c_str()));
    UniqueHandle leaving(OpenEventW(EVENT_MODIFY_STATE, FALSE, (event + L".leaving").c_str()));
    if (!release.valid() || !released.valid() || !holding.valid()) return 91;
    UniqueHandle file;
    if (writer) {
        file.reset(CreateFileW((std::wstring(argv[0]) + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr));
        OVERLAPPED at{};
        at.Offset = 16;
        if (!file.valid() || !LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) return 92;
    } else {
        file.reset(CreateFileW(argv[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.valid()) return 92;
    }
    SetEvent(holding.get());
    WaitForSingleObject(release.get(), writer ? static_cast<DWORD>(_wtoi(argv[3])) : INFINITE);
    if (leaving.valid()) SetEvent(leaving.get());
    file.reset();  // and with the handle its lock
    SetEvent(released.get());
    return 0;
}

int clockReaderChild(int argc, wchar_t** argv) { return argc < 1 ? 90 : answerClockReads(argv[0]); }

// The killed writer of a hidden wallet, on KORVEX10's test build: two cards,
// the second counting the calls its write makes, then a third that pauses
// before its rename, saying so through <event>, until it is killed.
int pausedWriterChild(int argc, wchar_t** argv) {
    if (argc < 1) return 90;
    const FaultBuildCompanions faultBuild;
    if (!GetModuleHandleW(L"KORVEX10_faults.dll")) return 91;
    Wallet w;
    if (FAILED(attachOwnHost(w))) return 92;
    if (FAILED(w.set(L"Paused", L"first", L"first value"))) return 93;
    std::vector<std::wstring> calls;
    {
        const IoSeam counting(L"0:0");
        if (FAILED(w.set(L"Paused", L"second", L"second value"))) return 94;
        calls = IoSeam::calls();
    }
    const size_t rename = std::find(calls.begin(), calls.end(), L"rename") - calls.begin() + 1;
    if (rename > calls.size()) return 95;
    const IoSeam pause(std::to_wstring(rename) + L":pause:" + argv[0]);
    w.set(L"Paused", L"third", L"third value");
    return 96;  // it was to be killed before this
}

}  // namespace reliability
