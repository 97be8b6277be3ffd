// How a benchmark meets a failure: figures from a component that does not
// do its job are worth nothing, so the first failure ends the run with what
// the component said.
#pragma once

#include "com_error.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// The program's name in its messages; each benchmark defines it.
extern const char kBenchName[];

// ASCII for the console; anything else shows as '?'.
inline std::string narrow(std::wstring_view s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

[[noreturn]] inline void die(const std::string& what, HRESULT hr) {
    fprintf(stderr, "%s: %s failed (0x%08lX) %s\n", kBenchName, what.c_str(), static_cast<unsigned long>(hr),
            narrow(comkit::takeErrorInfo().description).c_str());
    exit(1);
}

inline void check(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) die(what, hr);
}
