// How quickly the two dialogs come up and answer at scale, through the
// wallet's published EditPocket and EditWallet, on a wallet of P pockets
// with C cards spread evenly over them (C/P cards each).
//
//   dialog_bench --pockets P --cards C [--runs N] [--csv FILE] [--dir FOLDER]
//
// Rows, in microseconds, medians of N showings (one more showing before
// them is not counted):
//   editpocket_shown  from the EditPocket call until the dialog is shown
//                     and idle, its pockets listed
//   editwallet_shown  the same for EditWallet
//   choose_pocket     the first pocket chosen with the arrow key, until its
//                     C/P cards are listed
//   type_card         one keystroke in the card box that completes to the
//                     pocket's last card (the whole list searched), until
//                     the completion and the card's information are shown
//   type_card_miss    one keystroke in the card box that matches no card
//   type_pocket       one keystroke in the pocket box that completes to the
//                     last pocket, which lists its cards
//
// Shown and idle: the dialog is visible and its thread's queue holds
// nothing, paint included. The dialog's modal loop sends WM_ENTERIDLE to
// its owner each time it finds the queue empty; this program takes over
// the owner's window procedure as the dialog is created (a CBT hook of this
// thread, removed at once: under Wine every message sent on a thread with
// a hook that sees messages costs a round trip to the server, which would
// make every list entry look dear). Each input is posted at such a moment,
// as a key a user presses, and timed until the next one: nothing races the
// dialog, and nothing sleeps. A watchdog ends the program if a showing
// takes too long or a message box (an error the dialog reports) appears:
// figures of a dialog that does not do its job are worth nothing.
//
// CSV (--csv): pockets,cards,op,list,median_us,p95_us,n, where list is how
// many names the list concerned holds.
#include "bench_checks.h"
#include "bench_figures.h"
#include "bench_host.h"
#include "cardkeep_h.h"
#include "com_types.h"
#include "late_bound.h"
#include "platform_text.h"

#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

const char kBenchName[] = "dialog_bench";

namespace {

using comkit::Bstr;
using comkit::ComPtr;
using comkit::Variant;
using outside::LateBound;

constexpr const wchar_t* kProduct = L"Bench";
constexpr const wchar_t* kTitle = L"DialogBench";
constexpr const wchar_t* kWalletKey = L"kbTorVan";
constexpr const wchar_t* kWalletName = L"Bench wallet";
// Distinct sealed texts the cards take in turn: sealing 100,000 cards one
// by one would take longer than the benchmark.
constexpr int kTexts = 32;
// The dialogs' control ids (src/dialogs/pocket_dialog.h).
constexpr int kPocketBox = 201, kCardBox = 203, kInformation = 205;
// A showing that takes longer than this is stuck.
constexpr ULONGLONG kShowingPatienceMs = 120000;

std::wstring pocketName(long long pocket) {
    wchar_t name[32];
    swprintf(name, 32, L"Pocket%04lld", pocket);
    return name;
}
std::wstring cardName(long long card) {
    wchar_t name[32];
    swprintf(name, 32, L"card%06lld", card);
    return name;
}
std::wstring information(long long card) { return L"information of card " + std::to_wstring(card % kTexts); }

std::wstring seal(LateBound& crypto, const std::wstring& plain) {
    Bstr text(plain), key(kWalletKey);
    VARIANT_BOOL flag = VARIANT_TRUE;
    Variant result;
    check(crypto.call(L"Encrypt", {comkit::BstrRef(text).argument(), comkit::BstrRef(key).argument(), comkit::byRef(flag)},
                      result),
          "sealing a text");
    if (result.vt() != VT_BSTR) die("sealing a text (not text)", E_UNEXPECTED);
    return std::wstring(result.get()->bstrVal, SysStringLen(result.get()->bstrVal));
}

// The wallet file in the INI component's own form (UTF-16LE with a BOM,
// CRLF lines), written at once, its values really sealed.
std::wstring walletText(long long pockets, long long cards) {
    ComPtr<IDispatch> object;
    check(outside::create(L"KORVEX10.clsKorvexCryptographyC", object), "creating the cryptography component");
    LateBound crypto(std::move(object));
    std::vector<std::wstring> sealed;
    for (int i = 0; i < kTexts; ++i) sealed.push_back(seal(crypto, information(i)));
    std::wstring text;
    text.reserve(static_cast<size_t>(cards) * (sealed[0].size() + 16) + 1024);
    text += L'\xFEFF';
    text += L"[WALLET]\r\nNOW=2026-01-01 00:00:00\r\n";
    text += L"NAME=" + seal(crypto, kWalletName) + L"\r\n";
    text += L"DESCRIPTION=" + seal(crypto, L"the dialogs' benchmark") + L"\r\n";
    text += L"PASSWORD=" + seal(crypto, L"secret") + L"\r\n";
    text += L"HINT=" + seal(crypto, L"not telling") + L"\r\n";
    for (long long p = 0; p < pockets; ++p) {
        text += L"[" + pocketName(p) + L"]\r\n";
        for (long long k = p * cards / pockets; k < (p + 1) * cards / pockets; ++k)
            text += cardName(k) + L"=" + sealed[static_cast<size_t>(k % kTexts)] + L"\r\n";
    }
    return text;
}

std::wstring controlText(HWND dialog, int id) { return comkit::windowText(GetDlgItem(dialog, id)); }
LRESULT entryCount(HWND dialog, int id) { return SendMessageW(GetDlgItem(dialog, id), CB_GETCOUNT, 0, 0); }
std::string quoted(const std::wstring& text) {
    std::string out(1, '"');
    out += narrow(text);
    out += '"';
    return out;
}

// The virtual key that types a digit or a lower-case letter.
WORD keyFor(wchar_t c) { return static_cast<WORD>(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c); }

// One timed step of a showing: prepare puts the dialog in its starting
// state (not timed; the dialog settles before the input), act posts the
// input, check says what is wrong once it has been handled (empty: right).
struct Step {
    std::string op;
    long long list;
    std::function<void(HWND)> prepare;
    std::function<void(HWND)> act;
    std::function<std::string(HWND)> check;
};

// Posts a key as the keyboard would: down, then up. The dialog's loop
// translates the key-down into the character.
void postKey(HWND target, WORD key) {
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16)));
    PostMessageW(target, WM_KEYUP, key,
                 static_cast<LPARAM>(1 | (MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16) | 0xC0000000u));
}

HWND comboEdit(HWND dialog, int id) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(GetDlgItem(dialog, id), &info) ? info.hwndItem : nullptr;
}

// The focus moved as the keyboard moves it, and the box's text and caret
// set as if typed.
void focusWithText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
    SetWindowTextW(GetDlgItem(dialog, id), text.c_str());
    SendMessageW(comboEdit(dialog, id), EM_SETSEL, text.size(), text.size());
}

// Runs one showing: calls the member, and at each moment the dialog is
// shown and idle takes the next step.
class Showing {
public:
    Showing(const Clock& clock, std::vector<Step> steps) : clock_(clock), steps_(std::move(steps)) {}

    // The samples of this showing, by op; "shown" for the showing itself.
    std::map<std::string, double> run(_clsWALLETA* wallet, HRESULT (STDMETHODCALLTYPE _clsWALLETA::*member)(),
                                      const char* what) {
        current_ = this;
        deadline_ = GetTickCount64() + kShowingPatienceMs;
        cbtHook_ = SetWindowsHookExW(WH_CBT, &Showing::cbt, nullptr, GetCurrentThreadId());
        if (!cbtHook_) die("hooking the dialog's thread", HRESULT_FROM_WIN32(GetLastError()));
        start_ = clock_.now();
        const HRESULT hr = (wallet->*member)();
        deadline_ = 0;
        current_ = nullptr;
        if (cbtHook_) UnhookWindowsHookEx(cbtHook_);
        cbtHook_ = nullptr;
        check(hr, what);
        if (!error_.empty()) die(std::string(what) + ": " + error_, E_FAIL);
        if (stage_ != Stage::closing) die(std::string(what) + " returned before its steps were taken", E_FAIL);
        return samples_;
    }

    // The dialog being created: its owner's messages come here from now on.
    static LRESULT CALLBACK cbt(int code, WPARAM wParam, LPARAM lParam) {
        wchar_t name[16] = {};
        HWND window = reinterpret_cast<HWND>(wParam);
        if (code == HCBT_CREATEWND && GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0) {
            HWND owner = reinterpret_cast<const CBT_CREATEWNDW*>(lParam)->lpcs->hwndParent;
            if (owner && current_ && !current_->owner_) {
                current_->owner_ = owner;
                current_->ownerProc_ = reinterpret_cast<WNDPROC>(
                    SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Showing::ownerProc)));
            }
            UnhookWindowsHookEx(cbtHook_);
            cbtHook_ = nullptr;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        Showing* self = current_;
        if (!self || window != self->owner_) return DefWindowProcW(window, message, wParam, lParam);
        const WNDPROC original = self->ownerProc_;
        if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX) self->idle(reinterpret_cast<HWND>(lParam));
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
            self->owner_ = nullptr;
        }
        return CallWindowProcW(original, window, message, wParam, lParam);
    }

    static std::atomic<ULONGLONG> deadline_;

private:
    enum class Stage { showing, ready, prepared, timing, closing };

    void idle(HWND dialog) {
        if (!IsWindowVisible(dialog) || HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) return;
        const long long now = clock_.now();
        switch (stage_) {
        case Stage::closing:
            return;
        case Stage::showing:
            samples_["shown"] = clock_.micros(start_, now);
            stage_ = Stage::ready;
            break;
        case Stage::prepared:
            start_ = clock_.now();
            steps_[next_].act(dialog);
            stage_ = Stage::timing;
            return;
        case Stage::timing: {
            samples_[steps_[next_].op] = clock_.micros(start_, now);
            const std::string wrong = steps_[next_].check(dialog);
            if (!wrong.empty() && error_.empty()) error_ = steps_[next_].op + ": " + wrong;
            ++next_;
            stage_ = Stage::ready;
            break;
        }
        case Stage::ready:
            break;
        }
        if (next_ == steps_.size() || !error_.empty()) {
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            stage_ = Stage::closing;
            return;
        }
        // The dialog settles after the preparation: a message wakes its
        // loop, which then finds the queue empty again.
        steps_[next_].prepare(dialog);
        PostMessageW(dialog, WM_NULL, 0, 0);
        stage_ = Stage::prepared;
    }

    static Showing* current_;
    static HHOOK cbtHook_;
    HWND owner_ = nullptr;
    WNDPROC ownerProc_ = nullptr;
    const Clock& clock_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    Stage stage_ = Stage::showing;
    long long start_ = 0;
    std::map<std::string, double> samples_;
    std::string error_;
};
Showing* Showing::current_ = nullptr;
HHOOK Showing::cbtHook_ = nullptr;
std::atomic<ULONGLONG> Showing::deadline_{0};

// A message box of this process: an error the dialog reported.
BOOL CALLBACK findBox(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[16] = {};
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameW(window, name, 16) &&
        wcscmp(name, L"#32770") == 0 && GetDlgItem(window, 0xFFFF)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Ends the program when a showing is stuck or a message box appears, so
// that `make bench` never waits for ever.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              while (!stop_) {
                  Sleep(200);
                  HWND box = nullptr;
                  EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
                  if (box) {
                      fprintf(stderr, "%s: a message box appeared: %s: %s\n", kBenchName,
                              quoted(comkit::windowText(box)).c_str(),
                              quoted(comkit::windowText(GetDlgItem(box, 0xFFFF))).c_str());
                      fflush(stderr);
                      TerminateProcess(GetCurrentProcess(), 3);
                  }
                  const ULONGLONG deadline = Showing::deadline_;
                  if (deadline && GetTickCount64() > deadline) {
                      fprintf(stderr, "%s: a showing took more than %llu s; giving up\n", kBenchName,
                              kShowingPatienceMs / 1000);
                      fflush(stderr);
                      TerminateProcess(GetCurrentProcess(), 4);
                  }
              }
          }) {}
    ~Watchdog() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::vector<Step> pocketSteps(long long pockets, long long cards) {
    const long long perPocket = cards / pockets;
    const std::wstring lastCard = cardName(perPocket - 1), lastPocket = pocketName(pockets - 1);
    std::vector<Step> steps;
    // The pocket box has the focus and no entry chosen: the arrow key
    // chooses the first pocket.
    steps.push_back({"choose_pocket", perPocket,
                     [](HWND dialog) {
                         SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kPocketBox)), TRUE);
                     },
                     [](HWND dialog) { postKey(comboEdit(dialog, kPocketBox), VK_DOWN); },
                     [=](HWND dialog) -> std::string {
                         if (controlText(dialog, kPocketBox) != pocketName(0))
                             return "the pocket box shows " + quoted(controlText(dialog, kPocketBox));
                         if (entryCount(dialog, kCardBox) != perPocket)
                             return std::to_string(entryCount(dialog, kCardBox)) + " cards listed";
                         return {};
                     }});
    const std::wstring cardPrefix = lastCard.substr(0, lastCard.size() - 1);
    steps.push_back({"type_card", perPocket,
                     [=](HWND dialog) { focusWithText(dialog, kCardBox, cardPrefix); },
                     [=](HWND dialog) { postKey(comboEdit(dialog, kCardBox), keyFor(lastCard.back())); },
                     [=](HWND dialog) -> std::string {
                         if (controlText(dialog, kCardBox) != lastCard)
                             return "the card box shows " + quoted(controlText(dialog, kCardBox));
                         if (controlText(dialog, kInformation) != information(perPocket - 1))
                             return "the information shows " + quoted(controlText(dialog, kInformation));
                         return {};
                     }});
    steps.push_back({"type_card_miss", perPocket,
                     [=](HWND dialog) { focusWithText(dialog, kCardBox, cardPrefix); },
                     [=](HWND dialog) { postKey(comboEdit(dialog, kCardBox), 'X'); },
                     [=](HWND dialog) -> std::string {
                         if (controlText(dialog, kCardBox) != cardPrefix + L"x")
                             return "the card box shows " + quoted(controlText(dialog, kCardBox));
                         return {};
                     }});
    const std::wstring pocketPrefix = lastPocket.substr(0, lastPocket.size() - 1);
    steps.push_back({"type_pocket", pockets,
                     [=](HWND dialog) { focusWithText(dialog, kPocketBox, pocketPrefix); },
                     [=](HWND dialog) { postKey(comboEdit(dialog, kPocketBox), keyFor(lastPocket.back())); },
                     [=](HWND dialog) -> std::string {
                         if (controlText(dialog, kPocketBox) != lastPocket)
                             return "the pocket box shows " + quoted(controlText(dialog, kPocketBox));
                         if (entryCount(dialog, kCardBox) != cards - (pockets - 1) * cards / pockets)
                             return std::to_string(entryCount(dialog, kCardBox)) + " cards listed";
                         return {};
                     }});
    return steps;
}

struct Row {
    std::string op;
    long long list;
    std::vector<double> samples;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring csvPath, workDir;
    long long pockets = 100, cards = 10000;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--csv" && i + 1 < argc) csvPath = argv[++i];
        else if (arg == L"--pockets" && i + 1 < argc) pockets = wcstoll(argv[++i], nullptr, 10);
        else if (arg == L"--cards" && i + 1 < argc) cards = wcstoll(argv[++i], nullptr, 10);
        else if (arg == L"--runs" && i + 1 < argc) runs = static_cast<int>(wcstol(argv[++i], nullptr, 10));
        else if (arg == L"--dir" && i + 1 < argc) workDir = argv[++i];
        else {
            fprintf(stderr, "usage: dialog_bench --pockets P --cards C [--runs N] [--csv FILE] [--dir FOLDER]\n");
            return 2;
        }
    }
    if (pockets < 1 || cards < pockets || runs < 1) {
        fprintf(stderr, "dialog_bench: needs 1 <= pockets <= cards and runs >= 1\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;

    if (workDir.empty()) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        workDir = temp;
    }
    while (!workDir.empty() && (workDir.back() == L'\\' || workDir.back() == L'/')) workDir.pop_back();
    const std::wstring root = workDir + L"\\dialog-bench-" + std::to_wstring(GetCurrentProcessId());
    std::wstring folder = root;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& part : {std::wstring(kProduct), std::wstring(kTitle), std::wstring(L"1.0")}) {
        folder += L"\\" + part;
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring walletPath = folder + L"\\wallet.cdw";
    // The file exists before the wallet looks, so no first-run box.
    if (!writeUtf16File(walletPath, walletText(pockets, cards)))
        die("writing the wallet file", HRESULT_FROM_WIN32(GetLastError()));
    SetEnvironmentVariableW(L"QZENVSLOCALPRO", root.c_str());

    std::vector<Row> rows;
    {
        ComPtr<BenchHost> host;
        host.Attach(new BenchHost(kProduct, kTitle, 1, 0));
        ComPtr<_clsWALLETA> wallet;
        check(CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                               reinterpret_cast<void**>(wallet.GetAddressOf())),
              "creating cardkeep.clsWALLETA");
        check(wallet->putref_AppObject(host.Get()), "assigning AppObject");

        const Watchdog watchdog;
        const Clock clock;
        std::map<std::string, Row> byOp;
        const auto add = [&](const std::string& op, long long list, double us) {
            Row& row = byOp[op];
            row.op = op;
            row.list = list;
            row.samples.push_back(us);
        };
        const std::vector<Step> steps = pocketSteps(pockets, cards);
        for (int run = 0; run <= runs; ++run) {
            const auto samples = Showing(clock, steps).run(wallet.Get(), &_clsWALLETA::EditPocket, "EditPocket");
            if (run == 0) continue;  // the first showing makes the dialog
            add("editpocket_shown", pockets, samples.at("shown"));
            for (const Step& step : steps) add(step.op, step.list, samples.at(step.op));
        }
        for (int run = 0; run <= runs; ++run) {
            const auto samples = Showing(clock, {}).run(wallet.Get(), &_clsWALLETA::EditWallet, "EditWallet");
            if (run > 0) add("editwallet_shown", 0, samples.at("shown"));
        }
        for (const char* op : {"editpocket_shown", "editwallet_shown", "choose_pocket", "type_card", "type_card_miss",
                               "type_pocket"})
            rows.push_back(byOp.at(op));
    }

    printf("%8s %8s  %-17s %8s %12s %12s %4s\n", "pockets", "cards", "op", "list", "median_us", "p95_us", "n");
    std::vector<std::string> lines;
    for (Row& row : rows) {
        const Figure f = summarise(cards, row.op, row.samples);
        printf("%8lld %8lld  %-17s %8lld %12.0f %12.0f %4zu\n", pockets, cards, f.op.c_str(), row.list, f.median, f.p95, f.n);
        char line[160];
        snprintf(line, sizeof line, "%lld,%lld,%s,%lld,%.0f,%.0f,%zu", pockets, cards, f.op.c_str(), row.list, f.median,
                 f.p95, f.n);
        lines.push_back(line);
    }
    fflush(stdout);
    CoUninitialize();
    DeleteFileW(walletPath.c_str());
    DeleteFileW((walletPath + L".lock").c_str());
    for (std::wstring path = folder; path.size() >= root.size(); path = path.substr(0, path.rfind(L'\\')))
        RemoveDirectoryW(path.c_str());

    if (!csvPath.empty()) {
        FILE* csv = _wfopen(csvPath.c_str(), L"w");
        if (!csv) {
            fprintf(stderr, "dialog_bench: cannot write %s\n", narrow(csvPath).c_str());
            return 1;
        }
        fprintf(csv, "pockets,cards,op,list,median_us,p95_us,n\n");
        for (const std::string& line : lines) fprintf(csv, "%s\n", line.c_str());
        fclose(csv);
    }
    return 0;
}
