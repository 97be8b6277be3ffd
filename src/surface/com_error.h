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

// The published member's boundary: keeps its object alive for the call and,
// when the call fails, puts the member's class and interface on the error.
class CallScope {
public:
    CallScope(IUnknown* self, const wchar_t* source, REFIID iid)
        : self_(self), source_(source), iid_(iid) {}
    HRESULT done(HRESULT hr) const;

private:
    ComPtr<IUnknown> self_;
    const wchar_t* source_;
    const IID& iid_;
};

}  // namespace comkit

#define CK_RETURN_IF_FAILED(expr)                         \
    do {                                                  \
        const HRESULT ck_hr_ = (expr);                    \
        if (FAILED(ck_hr_)) return ::comkit::passOn(ck_hr_); \
    } while (0)
