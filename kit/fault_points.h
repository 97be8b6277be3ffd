// Fault points: named places where a test build of a library behaves as if
// an allocation had failed, so the tests can prove that such a failure comes
// back to the caller as a status and never leaves a COM entry as a C++
// exception. Only the test builds of the libraries (CARDKEEP_FAULT_POINTS,
// built beside the product under bin/faults) have them; in the product a
// fault point is nothing at all.
//
// In a test build, a point fires when the process's environment variable
// CARDKEEP_FAULT names it: "<point>" throws std::bad_alloc, "<point>:other"
// throws an exception of another kind.
//
// The same builds have an I/O seam: a library's file writes make their
// platform calls through CK_IO(name, failed, call), each call named. While
// the environment variable CARDKEEP_IO_FAULT is set, every such call appends
// its name and a space to CARDKEEP_IO_CALLS (so a test learns how many calls
// a write makes and which one the n-th is), and the value chooses what
// happens to the n-th call counted there: "<n>:<error>" returns `failed`
// with the Win32 error <error> as the last error instead of making the call
// (n = 0: no call fails); "<n>:pause:<event>" sets the named event <event>
// before making the n-th call and waits until <event>.go is set, so that a
// test can act at exactly that moment. In the product CK_IO is the call.
//
// Wine is kinder than Windows in ways a store must not rely on, so the same
// builds impose two of Windows' documented rules that Wine does not apply:
// - CK_FILE_TIME(t): file times move in steps of the clock tick (15.6 ms by
//   default) or, on FAT, of 2 s. While CARDKEEP_FILE_TIME_TICK is set to a
//   number of 100-ns units, every file time the library reads is rounded
//   down to a multiple of it (156250 for the tick, 20000000 for FAT).
// - CK_CREATE_REFUSED(path, disposition, flags): CreateFileW with
//   CREATE_ALWAYS and neither FILE_ATTRIBUTE_HIDDEN nor
//   FILE_ATTRIBUTE_SYSTEM fails with access denied over an existing hidden
//   or system file. True (with that last error) when Windows would refuse.
// In the product both are nothing.
#pragma once

#ifdef CARDKEEP_FAULT_POINTS

#include "com_types.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace comkit {

inline void faultPoint(std::wstring_view point) {
    wchar_t armed[64];
    const DWORD n = GetEnvironmentVariableW(L"CARDKEEP_FAULT", armed, ARRAYSIZE(armed));
    if (n == 0 || n >= ARRAYSIZE(armed)) return;
    const std::wstring_view value(armed, n);
    if (value == point) throw std::bad_alloc();
    if (value.size() == point.size() + 6 && value.substr(0, point.size()) == point &&
        value.substr(point.size()) == L":other")
        throw std::runtime_error("fault point");
}

// True when the call named `name` is the one armed to fail (its error is
// then the last error); see the top of this file.
inline bool ioFault(const wchar_t* name) {
    wchar_t armed[128];
    const DWORD n = GetEnvironmentVariableW(L"CARDKEEP_IO_FAULT", armed, ARRAYSIZE(armed));
    if (n == 0 || n >= ARRAYSIZE(armed)) return false;
    std::wstring calls(32767, L'\0');
    calls.resize(GetEnvironmentVariableW(L"CARDKEEP_IO_CALLS", calls.data(), static_cast<DWORD>(calls.size())));
    calls.append(name).push_back(L' ');
    SetEnvironmentVariableW(L"CARDKEEP_IO_CALLS", calls.c_str());
    wchar_t* rest = nullptr;
    const unsigned long target = std::wcstoul(armed, &rest, 10);
    if (target != static_cast<unsigned long>(std::count(calls.begin(), calls.end(), L' ')) || *rest != L':')
        return false;
    ++rest;
    if (std::wcsncmp(rest, L"pause:", 6) == 0) {
        const std::wstring event(rest + 6);
        const UniqueHandle reached(OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()));
        const UniqueHandle go(OpenEventW(SYNCHRONIZE, FALSE, (event + L".go").c_str()));
        if (reached.valid()) SetEvent(reached.get());
        // Bounded: a test that died must not hang the writer.
        if (go.valid()) WaitForSingleObject(go.get(), 60000);
        return false;
    }
    SetLastError(std::wcstoul(rest, nullptr, 10));
    return true;
}

inline LONGLONG windowsFileTime(LONGLONG time) {
    wchar_t tick[32];
    const DWORD n = GetEnvironmentVariableW(L"CARDKEEP_FILE_TIME_TICK", tick, ARRAYSIZE(tick));
    if (n == 0 || n >= ARRAYSIZE(tick)) return time;
    const long long step = std::wcstoll(tick, nullptr, 10);
    return step > 0 ? time - time % step : time;
}

inline bool windowsRefusesCreate(const wchar_t* path, DWORD disposition, DWORD flags) {
    constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (disposition != CREATE_ALWAYS || (flags & kHiddenOrSystem)) return false;
    const DWORD existing = GetFileAttributesW(path);
    if (existing == INVALID_FILE_ATTRIBUTES || !(existing & kHiddenOrSystem)) return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

}  // namespace comkit

#define CK_FAULT_POINT(point) ::comkit::faultPoint(point)
#define CK_IO(name, failed, call) (::comkit::ioFault(name) ? (failed) : (call))
#define CK_FILE_TIME(time) ::comkit::windowsFileTime(time)
#define CK_CREATE_REFUSED(path, disposition, flags) ::comkit::windowsRefusesCreate(path, disposition, flags)
#else
#define CK_FAULT_POINT(point) static_cast<void>(0)
#define CK_IO(name, failed, call) (call)
#define CK_FILE_TIME(time) (time)
#define CK_CREATE_REFUSED(path, disposition, flags) false
#endif
