#include "ui_robot.h"

#include "com_types.h"
#include "platform_text.h"

#include <cwchar>

namespace uirobot {
namespace {

constexpr DWORD kPollMs = 5;
constexpr UINT kSendTimeoutMs = 5000;
constexpr wchar_t kProbeClass[] = L"CardkeepRobotQueueProbe";
constexpr UINT kProbeMessage = WM_APP + 17;

struct Search {
    const Match& match;
    std::vector<HWND> found;
    bool firstOnly;
};

bool matches(HWND window, const Match& match) {
    if (match.process) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != match.process) return false;
    }
    wchar_t cls[16] = {};
    if (!GetClassNameW(window, cls, 16) || wcscmp(cls, kDialogClass) != 0 || !IsWindowVisible(window)) return false;
    if (match.kind != Kind::any && isMessageBox(window) != (match.kind == Kind::messageBox)) return false;
    return !match.caption || comkit::windowText(window) == match.caption;
}

BOOL CALLBACK collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!matches(window, search->match)) return TRUE;
    search->found.push_back(window);
    return search->firstOnly ? FALSE : TRUE;
}

std::vector<HWND> enumerate(const Match& match, bool firstOnly) {
    Search search{match, {}, firstOnly};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

Match ownWindows(Kind kind, const wchar_t* caption) { return Match{caption, kind, GetCurrentProcessId()}; }

std::vector<HWND> findAll(const Match& match) { return enumerate(match, false); }

HWND find(const Match& match) {
    const std::vector<HWND> found = enumerate(match, true);
    return found.empty() ? nullptr : found.front();
}

bool isMessageBox(HWND window) { return GetDlgItem(window, kBoxTextId) != nullptr; }

bool shown(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

HWND waitFor(const Match& match, DWORD patienceMs, const std::atomic<bool>* giveUp) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = find(match)) return found;
        if ((giveUp && *giveUp) || GetTickCount() - start > patienceMs) return nullptr;
        Sleep(kPollMs);
    }
}

bool waitGone(HWND window, DWORD patienceMs) {
    const DWORD start = GetTickCount();
    while (shown(window)) {
        if (GetTickCount() - start > patienceMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

std::wstring boxText(HWND box) {
    HWND label = GetDlgItem(box, kBoxTextId);
    return label ? comkit::windowText(label) : std::wstring();
}

SeenBox readBox(HWND box) { return {comkit::windowText(box), boxText(box)}; }

std::pair<DWORD, DWORD> selection(HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

std::vector<std::wstring> entries(HWND combo) {
    std::vector<std::wstring> names;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring name(static_cast<size_t>(length) + 1, L'\0');
        const LRESULT got =
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name.data()));
        name.resize(got < 0 ? 0 : static_cast<size_t>(got));
        names.push_back(name);
    }
    return names;
}

HWND comboEdit(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) ? info.hwndItem : nullptr;
}

bool click(HWND button) { return button && PostMessageW(button, BM_CLICK, 0, 0); }

int chooseButton(HWND box, int wanted) {
    if (GetDlgItem(box, wanted)) return wanted;
    for (int id : {IDOK, IDCANCEL, IDNO, IDYES})
        if (GetDlgItem(box, id)) return id;
    return wanted;  // no known button at all: the command still ends a message box
}

void answer(HWND box, int id, DWORD closeWaitMs) {
    HWND button = GetDlgItem(box, id);
    if (button && IsWindowEnabled(button)) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        waitGone(box, closeWaitMs);
    }
    if (shown(box)) PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void dismiss(HWND window) {
    if (isMessageBox(window)) {
        HWND button = GetDlgItem(window, IDNO);
        if (!button) button = GetDlgItem(window, IDOK);
        if (click(button)) return;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
}

LPARAM keyData(WORD virtualKey, bool up) {
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM data = 1 | static_cast<LPARAM>(scan << 16);
    if (up) data |= static_cast<LPARAM>(0xC0000000u);
    return data;
}

std::vector<HWND> NewBoxes::poll() {
    for (auto it = seen_.begin(); it != seen_.end();) it = IsWindow(*it) ? std::next(it) : seen_.erase(it);
    std::vector<HWND> fresh;
    for (HWND box : findAll(Match{nullptr, Kind::messageBox, process_}))
        if (seen_.insert(box).second) fresh.push_back(box);
    return fresh;
}

QueueProbe::QueueProbe() : thread_(GetCurrentThreadId()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = probeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kProbeClass;
    RegisterClassExW(&wc);  // already there from an earlier probe is fine
    reached_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    window_ = CreateWindowExW(0, kProbeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

QueueProbe::~QueueProbe() {
    DestroyWindow(window_);
    CloseHandle(reached_);
}

LRESULT CALLBACK QueueProbe::probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbeMessage) {
        if (auto* probe = reinterpret_cast<QueueProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            InterlockedExchange(&probe->handled_, static_cast<LONG>(wParam));
            SetEvent(probe->reached_);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool QueueProbe::drain(DWORD patienceMs, const std::atomic<bool>* giveUp) {
    const LONG mine = InterlockedIncrement(&sent_);
    if (!PostMessageW(window_, kProbeMessage, static_cast<WPARAM>(mine), 0)) return false;
    const DWORD start = GetTickCount();
    while (handled_ < mine) {
        if ((giveUp && *giveUp) || GetTickCount() - start > patienceMs) return false;
        WaitForSingleObject(reached_, 20);
    }
    return true;
}

HWND QueueProbe::focused() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread_, &info)) return nullptr;
    return info.hwndFocus;
}

BoxRobot::BoxRobot(std::map<std::wstring, int> answers) : answers_(std::move(answers)), thread_([this] { run(); }) {}

BoxRobot::~BoxRobot() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxRobot::seen() const {
    comkit::SrwGuard guard(lock_);
    return seen_;
}

void BoxRobot::run() {
    NewBoxes boxes(GetCurrentProcessId());
    while (!stop_) {
        for (HWND box : boxes.poll()) {
            SeenBox seen = readBox(box);
            const auto configured = answers_.find(seen.title);
            const int button = configured == answers_.end() ? IDOK : configured->second;
            {
                comkit::SrwGuard guard(lock_);
                seen_.push_back(std::move(seen));
            }
            answer(box, button);
        }
        Sleep(15);
    }
}

}  // namespace uirobot
