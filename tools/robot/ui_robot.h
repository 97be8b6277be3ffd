// The one robot that drives windows the way a user would, for the message-box
// robot program (cardkeep-robot), the UI tests and the demo: finds a visible
// top-level dialog or message box by caption, reads what it shows, waits
// for a thread's queue to drain, builds key messages, presses buttons and
// answers message boxes. It never sleeps and hopes: every wait is for a
// window to appear or go, or for a message to be handled.
#pragma once

#include <windows.h>

#include "com_types.h"

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace uirobot {

// Dialogs and message boxes share this window class.
constexpr wchar_t kDialogClass[] = L"#32770";
// A message box keeps its text in the static control with this id; the
// component's own dialogs have none.
constexpr int kBoxTextId = 0xFFFF;

enum class Kind { any, messageBox, dialog };

// Which visible top-level windows of the dialog class are wanted.
struct Match {
    const wchar_t* caption = nullptr;  // exactly this caption; any when null
    Kind kind = Kind::any;
    DWORD process = 0;  // only this process's windows; any process when 0
};

// This process's windows of a kind, with an optional caption.
Match ownWindows(Kind kind, const wchar_t* caption = nullptr);

std::vector<HWND> findAll(const Match& match);
HWND find(const Match& match);
bool isMessageBox(HWND window);
bool shown(HWND window);

// Waits for a window that matches, polling; gives up after patienceMs, or
// at once when giveUp turns true. Null when none came.
HWND waitFor(const Match& match, DWORD patienceMs, const std::atomic<bool>* giveUp = nullptr);
// Waits until the window is hidden or destroyed; false if it stays.
bool waitGone(HWND window, DWORD patienceMs);

// What a message box shows.
struct SeenBox {
    std::wstring title;
    std::wstring text;
};
std::wstring boxText(HWND box);
SeenBox readBox(HWND box);

// Controls' state as a user sees it.
std::pair<DWORD, DWORD> selection(HWND edit);
std::vector<std::wstring> entries(HWND combo);
HWND comboEdit(HWND combo);

// Clicks a button by posting BM_CLICK: a click that opens a modal window
// must not hold up the robot that has to answer that window.
bool click(HWND button);
// The button of the box to press for the wanted one: the wanted one where
// the box has it, else the answer that gives least away (OK, Cancel, No,
// Yes), as a cautious user would.
int chooseButton(HWND box, int wanted);
// Presses the button of a message box and waits (up to closeWaitMs) for the
// box to go; a box that stays, or has no such button, gets the command
// itself, which ends a message box with that result.
void answer(HWND box, int button, DWORD closeWaitMs = 1000);
// Ends whatever a window is: a message box with No (else OK), any other
// window with WM_CLOSE.
void dismiss(HWND window);

// The key data of WM_KEYDOWN/WM_KEYUP for a virtual key.
LPARAM keyData(WORD virtualKey, bool up);
// The key data of WM_SYSCHAR for an access key: Alt held.
constexpr LPARAM kAltKeyData = 1 | (1 << 29);

// Message boxes that are new since the last poll; boxes that have gone are
// forgotten, so that a handle the system hands out again counts as new.
class NewBoxes {
public:
    explicit NewBoxes(DWORD process = 0) : process_(process) {}
    std::vector<HWND> poll();

private:
    DWORD process_;
    std::set<HWND> seen_;
};

// Lives on a thread that shows windows; drain() from another thread waits
// until everything posted to that thread so far has been handled there,
// by posting one more message to a message-only window of the probe's.
class QueueProbe : comkit::NoCopy {
public:
    QueueProbe();
    ~QueueProbe();
    DWORD thread() const { return thread_; }
    // False when the probe's message was not handled within patienceMs, or
    // giveUp turned true meanwhile.
    bool drain(DWORD patienceMs, const std::atomic<bool>* giveUp = nullptr);
    // The window that has the keyboard focus on the probe's thread.
    HWND focused() const;

private:
    static LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HANDLE reached_ = nullptr;
    DWORD thread_ = 0;
    volatile LONG sent_ = 0;
    volatile LONG handled_ = 0;
};

// Answers this process's message boxes from another thread while it lives,
// as a user would: reads each new box's title and text, then presses the
// button configured for its title (OK for any other).
class BoxRobot : comkit::NoCopy {
public:
    explicit BoxRobot(std::map<std::wstring, int> answers = {});
    ~BoxRobot();

    // The boxes answered so far, in order.
    std::vector<SeenBox> seen() const;

private:
    void run();

    std::map<std::wstring, int> answers_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<SeenBox> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace uirobot
