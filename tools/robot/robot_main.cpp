// cardkeep-robot: answers message boxes the way a patient user would, so
// that a script or a demo that shows one does not wait forever.
//
//   cardkeep-robot --log FILE [--answer "TITLE=BUTTON"]... [--timeout SECONDS] [--max N]
//
// Every newly seen box is logged as one UTF-8 line `title|text|button` and
// then answered. The line is on disk before the button is pressed: a script
// that continues after the box closed can already read what it said.
// The log file exists (empty, or as it was) once the robot is watching: a
// caller waits for it before it shows anything or asks the robot to stop.
// The robot ends after N boxes, after the timeout (600 s unless given), or
// once a file named FILE.stop is written; it exits 0 after a normal run
// (2 for a wrong command line, 3 when the log cannot be written).
#include "ui_robot.h"
#include "utf8.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

namespace {

struct Button {
    const wchar_t* name;
    int id;
};

constexpr Button kButtons[] = {{L"OK", IDOK}, {L"Yes", IDYES}, {L"No", IDNO}, {L"Cancel", IDCANCEL}};

constexpr DWORD kPollMs = 20;

const wchar_t* buttonName(int id) {
    for (const Button& b : kButtons)
        if (b.id == id) return b.name;
    return L"?";
}

bool buttonId(const std::wstring& name, int& id) {
    for (const Button& b : kButtons) {
        if (_wcsicmp(b.name, name.c_str()) == 0) {
            id = b.id;
            return true;
        }
    }
    return false;
}

struct Options {
    std::wstring log;
    std::map<std::wstring, int> answers;  // title -> button id; the last entry for a title wins
    double timeoutSeconds = 600;
    long long max = -1;  // no limit
};

int usage(const wchar_t* problem) {
    fwprintf(stderr, L"cardkeep-robot: %ls\n", problem);
    fwprintf(stderr, L"usage: cardkeep-robot --log FILE [--answer \"TITLE=OK|Yes|No|Cancel\"]... "
                     L"[--timeout SECONDS] [--max N]\n");
    return 2;
}

// Returns 0 when the options are usable, else the exit code to end with.
int parse(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (i + 1 >= argc) return usage((L"missing value after " + arg).c_str());
        const std::wstring value = argv[++i];
        if (arg == L"--log") {
            options.log = value;
        } else if (arg == L"--answer") {
            // Split at the last '=': a title may hold one, a button name never does.
            const size_t eq = value.rfind(L'=');
            int id = 0;
            if (eq == std::wstring::npos || eq == 0 || !buttonId(value.substr(eq + 1), id))
                return usage((L"not TITLE=OK|Yes|No|Cancel: " + value).c_str());
            options.answers[value.substr(0, eq)] = id;
        } else if (arg == L"--timeout") {
            wchar_t* end = nullptr;
            options.timeoutSeconds = wcstod(value.c_str(), &end);
            if (!end || *end || options.timeoutSeconds <= 0) return usage((L"bad --timeout " + value).c_str());
        } else if (arg == L"--max") {
            wchar_t* end = nullptr;
            options.max = wcstoll(value.c_str(), &end, 10);
            if (!end || *end || options.max < 1) return usage((L"bad --max " + value).c_str());
        } else {
            return usage((L"unknown option " + arg).c_str());
        }
    }
    if (options.log.empty()) return usage(L"--log is required");
    return 0;
}

// One box per log line: line breaks in the message become a visible "\n".
std::wstring oneLine(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L"\\n";
        } else if (text[i] == L'\n') {
            out += L"\\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

// Opened, written, flushed and closed for every line, so that the line is
// complete on disk whatever happens next.
bool appendLine(const std::wstring& path, const std::wstring& line) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = comkit::utf8(line) + "\r\n";
    DWORD put = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                    put == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    return ok;
}

// The log exists from the start, empty until the first box: a reader can
// tell "no box yet" from "no robot".
bool createLog(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// A stop file older than this robot was left by an earlier run and does not
// concern it; callers touch theirs only after the robot started.
bool stopRequested(const std::wstring& stopFile, ULONGLONG startedAt) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(stopFile.c_str(), GetFileExInfoStandard, &data)) return false;
    const ULONGLONG written = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
    return written >= startedAt;
}

ULONGLONG processStart() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (const int bad = parse(argc, argv, options)) return bad;
    const std::wstring stopFile = options.log + L".stop";
    const ULONGLONG startedAt = processStart();
    if (!createLog(options.log)) {
        fwprintf(stderr, L"cardkeep-robot: cannot write the log %ls (error %lu)\n", options.log.c_str(), GetLastError());
        return 3;
    }

    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(options.timeoutSeconds * 1000.0);
    uirobot::NewBoxes boxes;
    long long answered = 0;
    while (options.max < 0 || answered < options.max) {
        if (stopRequested(stopFile, startedAt)) break;
        if (GetTickCount64() >= deadline) break;

        for (HWND box : boxes.poll()) {
            const uirobot::SeenBox seen = uirobot::readBox(box);
            const auto configured = options.answers.find(seen.title);
            const int id = uirobot::chooseButton(box, configured != options.answers.end() ? configured->second : IDOK);
            if (!appendLine(options.log, oneLine(seen.title) + L"|" + oneLine(seen.text) + L"|" + buttonName(id))) {
                const DWORD error = GetLastError();
                // Still answered: a box left open would block its program forever.
                uirobot::answer(box, id);
                fwprintf(stderr, L"cardkeep-robot: cannot write the log %ls (error %lu)\n", options.log.c_str(), error);
                return 3;
            }
            uirobot::answer(box, id);
            ++answered;
            if (options.max >= 0 && answered >= options.max) break;
        }
        Sleep(kPollMs);
    }
    return 0;
}
