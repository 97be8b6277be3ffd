// Shared helpers of the Windows tests: COM on the test thread, folders of
// their own, raw file access, and calls by name.
#pragma once

#include "com_types.h"
#include "late_bound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder under the prefix's temp folder, removed afterwards.
class TempDir {
public:
    explicit TempDir(const std::wstring& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string readBytes(const std::wstring& path);
void writeBytes(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
void removeTree(const std::wstring& path);

// The description of the thread's current error object (empty if none).
std::wstring errorDescription();

// An object created by ProgID; fails the test when it cannot be created.
outside::LateBound createByName(const wchar_t* progId);

std::wstring text(const comkit::Variant& v);
std::string narrow(const std::wstring& s);

// Runs this test executable again as a child process with the given
// arguments; returns its process handle.
comkit::UniqueHandle spawnSelf(const std::wstring& arguments);

}  // namespace testsupport
