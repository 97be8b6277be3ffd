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
#pragma once

#ifdef CARDKEEP_FAULT_POINTS

#include <windows.h>

#include <new>
#include <stdexcept>
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

}  // namespace comkit

#define CK_FAULT_POINT(point) ::comkit::faultPoint(point)
#else
#define CK_FAULT_POINT(point) static_cast<void>(0)
#endif
