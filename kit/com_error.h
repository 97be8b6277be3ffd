// One error path for every component of ours: a failing step records a
// readable description in the thread's error object (IErrorInfo) and
// returns its HRESULT; each published member stamps its own source on the
// way out, so a script host shows "source: description" for any failure.
#pragma once

#include "com_types.h"

#include <string>
#include <string_view>

namespace comkit {

// Records description for hr and returns hr.
HRESULT fail(HRESULT hr, std::wstring_view description);

// The system's text for hr, without its line break.
std::wstring describe(HRESULT hr);

// Records "what: <the system's text for error>" for a failed platform call.
HRESULT failWin32(DWORD error, std::wstring_view what);

// For a failure passed on from a call: keeps the description that the
// failing call recorded, or describes hr from the system's message table.
HRESULT passOn(HRESULT hr);

// The thread's error object as a caller reads it after a failed call, taken
// off the thread (a second call finds none); empty texts when there is none.
struct ErrorText {
    std::wstring source, description;
};
ErrorText takeErrorInfo();

// Where an entry point reports a failure: a published member puts its
// class and interface on the error object (and clears it on success); the
// exports, the class factory and the window procedures leave the recorded
// description as it is.
struct EntryPoint {
    const wchar_t* source = nullptr;
    const IID* iid = nullptr;
};

// Inside a catch block: records and returns the status of the exception
// being handled, E_OUTOFMEMORY for std::bad_alloc, E_UNEXPECTED for any
// other.
HRESULT exceptionStatus() noexcept;

// A published member's way out: a failure keeps its description and gains
// the member's source and interface; a success leaves no stale error behind.
HRESULT stamp(HRESULT hr, const EntryPoint& entry) noexcept;

// The one boundary of every entry point of ours: published members, class
// factories, exports, window and dialog procedures. A C++ exception that
// reached a caller through COM would end the host, so none gets past it.
template <class Body>
HRESULT boundary(const EntryPoint& entry, Body&& body) noexcept {
    HRESULT hr = E_UNEXPECTED;
    try {
        hr = body();
    } catch (...) {
        hr = exceptionStatus();
    }
    return entry.source ? stamp(hr, entry) : hr;
}

template <class Body>
HRESULT boundary(Body&& body) noexcept {
    return boundary(EntryPoint{}, body);
}

}  // namespace comkit

#define CK_RETURN_IF_FAILED(expr)                         \
    do {                                                  \
        const HRESULT ck_hr_ = (expr);                    \
        if (FAILED(ck_hr_)) return ::comkit::passOn(ck_hr_); \
    } while (0)
