// Answers this process's message boxes from another thread, as a user
// would: finds the box, reads its title and text, presses a button.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct SeenBox {
    std::wstring title;
    std::wstring text;
};

class BoxRobot {
public:
    // answers: title -> button id (IDOK, IDYES, IDNO); others get IDOK.
    explicit BoxRobot(std::map<std::wstring, int> answers = {});
    ~BoxRobot();
    BoxRobot(const BoxRobot&) = delete;
    BoxRobot& operator=(const BoxRobot&) = delete;

    // The boxes answered so far, in order.
    std::vector<SeenBox> seen() const;

private:
    void run();

    std::map<std::wstring, int> answers_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<SeenBox> seen_;
    volatile LONG stop_ = 0;
    std::thread thread_;
};

}  // namespace testsupport
