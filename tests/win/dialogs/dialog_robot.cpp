#include "dialog_robot.h"

#include <gtest/gtest.h>

#include <set>

namespace dialogtest {
namespace {

constexpr DWORD kPatienceMs = 10000;
constexpr wchar_t kProbeClass[] = L"CardkeepDialogTestProbe";
constexpr UINT kProbeMessage = WM_APP + 17;

struct ProbeState {
    HANDLE reached;
    volatile LONG handled;
};

LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbeMessage) {
        auto* state = reinterpret_cast<ProbeState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (state) {
            InterlockedExchange(&state->handled, static_cast<LONG>(wParam));
            SetEvent(state->reached);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool isMessageBox(HWND window) { return GetDlgItem(window, 0xFFFF) != nullptr; }

struct Search {
    std::wstring caption;
    bool wantBox;
    HWND found = nullptr;
};

BOOL CALLBACK findVisible(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (std::wstring(cls) != L"#32770") return TRUE;
    if (isMessageBox(window) != search->wantBox) return TRUE;
    if (DialogRobot::text(window) != search->caption) return TRUE;
    search->found = window;
    return FALSE;
}

HWND findDialog(const std::wstring& caption) {
    Search search{caption, false};
    EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findBox(const std::wstring& title) {
    Search search{title, true};
    EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Leftovers {
    std::vector<HWND> windows;
};

BOOL CALLBACK collectVisible(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && std::wstring(cls) == L"#32770")
        reinterpret_cast<Leftovers*>(param)->windows.push_back(window);
    return TRUE;
}

LPARAM keyData(WORD virtualKey, bool up) {
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM data = 1 | static_cast<LPARAM>(scan << 16);
    if (up) data |= static_cast<LPARAM>(0xC0000000u);
    return data;
}

}  // namespace

UiProbe::UiProbe() : thread_(GetCurrentThreadId()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = probeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kProbeClass;
    RegisterClassExW(&wc);  // already there from an earlier probe is fine
    reached_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    window_ = CreateWindowExW(0, kProbeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    auto* state = new ProbeState{reached_, 0};
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
}

UiProbe::~UiProbe() {
    auto* state = reinterpret_cast<ProbeState*>(GetWindowLongPtrW(window_, GWLP_USERDATA));
    DestroyWindow(window_);
    delete state;
    CloseHandle(reached_);
}

DialogRobot::DialogRobot(const UiProbe& probe, const std::atomic<bool>& uiDone) : probe_(probe), uiDone_(uiDone) {}

bool DialogRobot::wait(HWND (*find)(const std::wstring&), const std::wstring& name, HWND& found) {
    const DWORD start = GetTickCount();
    for (;;) {
        found = find(name);
        if (found) return true;
        if (uiDone_ || GetTickCount() - start > kPatienceMs) return false;
        Sleep(5);
    }
}

HWND DialogRobot::waitDialog(const std::wstring& caption) {
    HWND found = nullptr;
    wait(findDialog, caption, found);
    return found;
}

HWND DialogRobot::waitBox(const std::wstring& title) {
    HWND found = nullptr;
    wait(findBox, title, found);
    return found;
}

bool DialogRobot::waitGone(HWND window) {
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > kPatienceMs) return false;
        Sleep(5);
    }
    return true;
}

bool DialogRobot::sawDialogUntilDone(const std::wstring& caption) {
    const DWORD start = GetTickCount();
    bool seen = false;
    while (!uiDone_ && GetTickCount() - start < kPatienceMs) {
        if (findDialog(caption)) seen = true;
        Sleep(1);
    }
    return seen;
}

bool DialogRobot::post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PostMessageW(window, message, wParam, lParam)) return true;
    // A window that a key or click has just closed takes no more messages;
    // that is the expected end of its part, not a fault of the robot.
    if (IsWindow(window)) ADD_FAILURE() << "cannot post message " << message;
    return false;
}

bool DialogRobot::sync() {
    static volatile LONG sequence = 0;
    const LONG mine = InterlockedIncrement(&sequence);
    auto* state = reinterpret_cast<ProbeState*>(GetWindowLongPtrW(probe_.window(), GWLP_USERDATA));
    if (!PostMessageW(probe_.window(), kProbeMessage, static_cast<WPARAM>(mine), 0)) return false;
    const DWORD start = GetTickCount();
    while (state->handled < mine) {
        if (uiDone_ || GetTickCount() - start > kPatienceMs) return false;
        WaitForSingleObject(probe_.reached(), 20);
    }
    return true;
}

void DialogRobot::focus(HWND dialog, HWND control) {
    post(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    sync();
}

HWND DialogRobot::focused() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(probe_.thread(), &info)) return nullptr;
    return info.hwndFocus;
}

void DialogRobot::type(const std::wstring& text) {
    for (wchar_t c : text) {
        HWND target = focused();
        ASSERT_NE(nullptr, target) << "nothing has the focus to type into";
        post(target, WM_CHAR, c, 1);
        sync();
    }
}

void DialogRobot::key(WORD virtualKey, WORD heldKey) {
    HWND target = focused();
    ASSERT_NE(nullptr, target) << "nothing has the focus to press a key in";
    // Sharing the dialog thread's input state lets the robot hold a key
    // down there, as a user holding Shift or Ctrl would.
    const bool hold = heldKey != 0 && AttachThreadInput(GetCurrentThreadId(), probe_.thread(), TRUE);
    BYTE state[256] = {};
    if (hold) {
        GetKeyboardState(state);
        state[heldKey] |= 0x80;
        SetKeyboardState(state);
        post(target, WM_KEYDOWN, heldKey, keyData(heldKey, false));
    }
    // The dialog's loop translates the key-down into a WM_CHAR that it posts
    // behind everything already queued, so the key-up and the second sync go
    // out only once the key-down has been handled: when key() returns, the
    // character has been handled too. A key that closed the window ends
    // there.
    post(target, WM_KEYDOWN, virtualKey, keyData(virtualKey, false));
    sync();
    if (IsWindow(target)) {
        post(target, WM_KEYUP, virtualKey, keyData(virtualKey, true));
        if (hold) post(target, WM_KEYUP, heldKey, keyData(heldKey, true));
        sync();
    }
    if (hold) {
        state[heldKey] &= static_cast<BYTE>(~0x80);
        SetKeyboardState(state);
        AttachThreadInput(GetCurrentThreadId(), probe_.thread(), FALSE);
    }
}

void DialogRobot::accessKey(HWND dialog, wchar_t letter) {
    HWND target = focused();
    if (!target) target = dialog;
    // Alt held: bit 29 of the key data.
    post(target, WM_SYSCHAR, letter, 1 | (1 << 29));
    sync();
}

void DialogRobot::press(HWND button) {
    ASSERT_NE(nullptr, button);
    post(button, BM_CLICK, 0, 0);
    sync();
}

void DialogRobot::answer(HWND box, int button) {
    ASSERT_NE(nullptr, box);
    HWND control = GetDlgItem(box, button);
    ASSERT_NE(nullptr, control) << "the box has no button " << button;
    post(control, BM_CLICK, 0, 0);
    EXPECT_TRUE(waitGone(box)) << "the box stayed after it was answered";
}

void DialogRobot::closeBox(HWND dialog) { post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::wstring DialogRobot::text(HWND window) {
    if (!window) return {};
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring value(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(window, WM_GETTEXT, value.size(), reinterpret_cast<LPARAM>(value.data()));
    value.resize(static_cast<size_t>(got));
    return value;
}

std::wstring DialogRobot::boxText(HWND box) { return text(GetDlgItem(box, 0xFFFF)); }

std::pair<DWORD, DWORD> DialogRobot::selection(HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

std::vector<std::wstring> DialogRobot::entries(HWND combo) {
    std::vector<std::wstring> names;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring name(static_cast<size_t>(length) + 1, L'\0');
        const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name.data()));
        name.resize(got < 0 ? 0 : static_cast<size_t>(got));
        names.push_back(name);
    }
    return names;
}

HWND DialogRobot::comboEdit(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) ? info.hwndItem : nullptr;
}

int DialogRobot::cleanUp() {
    std::set<HWND> closed;
    while (!uiDone_) {
        Leftovers left;
        EnumWindows(collectVisible, reinterpret_cast<LPARAM>(&left));
        for (HWND window : left.windows) {
            if (closed.count(window)) continue;
            closed.insert(window);
            if (isMessageBox(window)) {
                HWND button = GetDlgItem(window, IDNO);
                if (!button) button = GetDlgItem(window, IDOK);
                if (button) PostMessageW(button, BM_CLICK, 0, 0);
                else PostMessageW(window, WM_CLOSE, 0, 0);
            } else {
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
        }
        Sleep(20);
    }
    return static_cast<int>(closed.size());
}

}  // namespace dialogtest
