#include "box_robot.h"

#include "com_types.h"

#include <algorithm>

namespace testsupport {
namespace {

struct Search {
    DWORD process;
    std::vector<HWND> boxes;
};

BOOL CALLBACK collectBoxes(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (owner == search->process && std::wstring(cls) == L"#32770" && IsWindowVisible(window))
        search->boxes.push_back(window);
    return TRUE;
}

std::wstring windowText(HWND window) {
    if (!window) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

BoxRobot::BoxRobot(std::map<std::wstring, int> answers) : answers_(std::move(answers)), thread_([this] { run(); }) {}

BoxRobot::~BoxRobot() {
    InterlockedExchange(&stop_, 1);
    thread_.join();
}

std::vector<SeenBox> BoxRobot::seen() const {
    comkit::SrwGuard guard(const_cast<SRWLOCK&>(lock_));
    return seen_;
}

void BoxRobot::run() {
    std::vector<HWND> answered;
    while (!stop_) {
        Search search{GetCurrentProcessId(), {}};
        EnumWindows(collectBoxes, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.boxes) {
            if (std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
            // Only message boxes: they carry their text in the static
            // control 0xFFFF. Dialogs of the component under test do not.
            HWND label = GetDlgItem(box, 0xFFFF);
            if (!label) continue;
            answered.push_back(box);
            SeenBox seen{windowText(box), windowText(label)};
            const auto answer = answers_.find(seen.title);
            const int button = answer == answers_.end() ? IDOK : answer->second;
            {
                comkit::SrwGuard guard(lock_);
                seen_.push_back(seen);
            }
            HWND control = GetDlgItem(box, button);
            if (control) SendMessageW(control, BM_CLICK, 0, 0);
            else PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        Sleep(15);
    }
}

}  // namespace testsupport
