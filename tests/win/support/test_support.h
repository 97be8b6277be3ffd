// Shared helpers of the Windows tests: COM on the test thread, folders of
// their own, raw file access, and calls by name.
#pragma once

#include "com_error.h"
#include "com_types.h"
#include "late_bound.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder under the prefix's temp folder, removed afterwards.
class TempDir : comkit::NoCopy {
public:
    explicit TempDir(const std::wstring& tag);
    ~TempDir();
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string readBytes(const std::wstring& path);
void writeBytes(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
void removeTree(const std::wstring& path);

// The description of the thread's current error object (empty if none),
// taken off the thread.
inline std::wstring errorDescription() { return comkit::takeErrorInfo().description; }

// The error object as a host reads it after a failed call on object: the
// object must say that it keeps error information for iid.
comkit::ErrorText hostError(IUnknown* object, REFIID iid);

// An object created by ProgID; fails the test when it cannot be created.
outside::LateBound createByName(const wchar_t* progId);

std::wstring text(const comkit::Variant& v);
// UTF-8, for test messages.
inline std::string narrow(const std::wstring& s) { return comkit::utf8(s); }

// An object made by the class factory of the test build of one of our
// libraries (bin\faults beside this program), which has its fault points
// compiled in; no registration is involved. The library stays loaded.
HRESULT createFromFaultBuild(const wchar_t* library, REFCLSID clsid, REFIID iid, void** object);

// Arms a fault point of the test builds while it lives: "<point>" fails as
// an allocation would, "<point>:other" with another exception.
class FaultPoint : comkit::NoCopy {
public:
    explicit FaultPoint(const wchar_t* point) { SetEnvironmentVariableW(L"CARDKEEP_FAULT", point); }
    ~FaultPoint() { SetEnvironmentVariableW(L"CARDKEEP_FAULT", nullptr); }
};

// The folder of this program (the build's bin folder).
std::wstring programFolder();

// Starts a process with the command line; returns its process handle, or
// none (and fails the test) when it cannot be started.
comkit::UniqueHandle startProcess(std::wstring command);

// Runs the tests on this thread in COM's single-threaded apartment;
// returns the exit code of the run.
int runTests(int argc, wchar_t** argv);

// Runs this test executable again as a child process with the given
// arguments; returns its process handle.
comkit::UniqueHandle spawnSelf(const std::wstring& arguments);

}  // namespace testsupport
