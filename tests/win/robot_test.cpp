// The message-box robot, run as the script tests run it: a separate process
// that must find this process's message boxes, log them and press the
// button it was told to press.
#include "support/test_support.h"
#include "ui_robot.h"

#include <string>
#include <thread>

using testsupport::readBytes;
using testsupport::TempDir;

namespace {

// The robot as a child process, watching once constructed; asked to stop
// and waited for when it goes out of scope.
class Robot : comkit::NoCopy {
public:
    Robot(const TempDir& folder, const std::wstring& arguments)
        : log_(folder.file(L"robot.log")),
          process_(testsupport::startProcess(L"\"" + testsupport::programFolder() + L"\\cardkeep-robot.exe\" --log \"" +
                                             log_ + L"\" --timeout 120 " + arguments)) {
        // The log appears when the robot starts watching; a stop file
        // written before that would count as left over from another run.
        if (started())
            for (int i = 0; i < 3000 && !testsupport::fileExists(log_); ++i)
                if (WaitForSingleObject(process_.get(), 10) == WAIT_OBJECT_0) break;
    }
    ~Robot() {
        if (!started()) return;
        stop();
        if (WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 99);
    }

    bool started() const { return process_.valid(); }
    const std::wstring& log() const { return log_; }
    void stop() const {
        comkit::UniqueHandle(CreateFileW((log_ + L".stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    // The exit code once the robot ended by itself, or -1 while it still runs.
    long exitCodeWithin(DWORD ms) const {
        if (WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return static_cast<long>(code);
    }

private:
    std::wstring log_;
    comkit::UniqueHandle process_;
};

// If the robot never answers, the box would block the test until CTest's
// timeout; this closes it with Cancel instead, which no check accepts.
class HangGuard {
public:
    explicit HangGuard(const wchar_t* title) : title_(title), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this] {
            if (WaitForSingleObject(done_.get(), 60000) == WAIT_OBJECT_0) return;
            if (HWND box = uirobot::find(uirobot::Match{title_.c_str(), uirobot::Kind::messageBox}))
                PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        });
    }
    ~HangGuard() {
        SetEvent(done_.get());
        thread_.join();
    }

private:
    std::wstring title_;
    comkit::UniqueHandle done_;
    std::thread thread_;
};

int showBox(const wchar_t* text, const wchar_t* title, UINT style) {
    const HangGuard guard(title);
    return MessageBoxW(nullptr, text, title, style);
}

// Without a display a message box returns at once and nobody ever answered:
// that must not pass as an answer.
void expectAnswered(int result, int expected) {
    ASSERT_NE(-1, result) << "the message box was never shown (no display? run the test under Xvfb)";
    ASSERT_NE(0, result) << "MessageBoxW failed, error " << GetLastError();
    ASSERT_NE(IDCANCEL, result) << "the robot did not answer the box";
    EXPECT_EQ(expected, result);
}

TEST(Robot, PressesTheConfiguredButtonAndLogsTheBoxBeforehand) {
    const TempDir folder(L"robot-answer");
    const Robot robot(folder, L"--answer \"Robot check=No\" --max 2");
    ASSERT_TRUE(robot.started());

    expectAnswered(showBox(L"Some text", L"Robot check", MB_YESNO | MB_ICONQUESTION), IDNO);
    if (HasFatalFailure()) return;
    // Read as soon as the box returned: the line was written before the press.
    EXPECT_EQ("Robot check|Some text|No\r\n", readBytes(robot.log()));

    // A title with no answer of its own gets OK.
    expectAnswered(showBox(L"Second text", L"Robot notice", MB_OK | MB_ICONEXCLAMATION), IDOK);
    if (HasFatalFailure()) return;
    EXPECT_EQ("Robot check|Some text|No\r\nRobot notice|Second text|OK\r\n", readBytes(robot.log()));

    EXPECT_EQ(0, robot.exitCodeWithin(30000)) << "the robot should end by itself after --max boxes";
}

TEST(Robot, LogsUtf8OnOneLineAndFallsBackToAButtonTheBoxHas) {
    const TempDir folder(L"robot-text");
    const Robot robot(folder, L"--answer \"Caf\u00e9 check=Yes\" --answer \"Sure check=Yes\" --max 2");
    ASSERT_TRUE(robot.started());

    // Yes is wanted but the box only has OK and Cancel: the robot takes OK.
    expectAnswered(showBox(L"First line\nSecond line \u20ac", L"Caf\u00e9 check", MB_OKCANCEL), IDOK);
    if (HasFatalFailure()) return;
    // Where Yes is there, Yes it is, and not the cautious No.
    expectAnswered(showBox(L"Really?", L"Sure check", MB_YESNO), IDYES);
    if (HasFatalFailure()) return;
    EXPECT_EQ("Caf\xc3\xa9 check|First line\\nSecond line \xe2\x82\xac|OK\r\n"
              "Sure check|Really?|Yes\r\n",
              readBytes(robot.log()));
    EXPECT_EQ(0, robot.exitCodeWithin(30000));
}

TEST(Robot, StopsWhenTheStopFileAppearsAndRefusesABadCommandLine) {
    const TempDir folder(L"robot-stop");
    {
        const Robot robot(folder, L"");
        ASSERT_TRUE(robot.started());
        robot.stop();
        // Well before its --timeout of 120 s.
        EXPECT_EQ(0, robot.exitCodeWithin(30000)) << "the robot did not stop at the stop file";
        // The log is there from the start, empty while no box was seen.
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(robot.log().c_str()));
        EXPECT_EQ("", readBytes(robot.log()));
    }
    const TempDir badFolder(L"robot-bad");
    const Robot bad(badFolder, L"--answer \"Robot check=Maybe\"");
    ASSERT_TRUE(bad.started());
    EXPECT_EQ(2, bad.exitCodeWithin(30000));
}

}  // namespace
