// Folder provisioning: the chain of folders under the root that holds a
// host's wallet, made with the same behaviour as the platform's scripting
// file-system object (exists tests, one folder created at a time).
#pragma once

#include "late_bound.h"

#include <string>

namespace cardkeep {

class FileSystem {
public:
    bool FileExists(const std::wstring& path) const;
    bool FolderExists(const std::wstring& path) const;
    // Fails when the parent is missing or the name is taken by a file.
    HRESULT CreateFolder(const std::wstring& path) const;
};

// The folder exists afterwards, whoever made it.
HRESULT EnsureFolder(const std::wstring& path);

// root\ProductName, then \Title, then \Major.Minor; the root must exist.
HRESULT EnsureApplicationFolders(const std::wstring& root, outside::LateBound& app);

}  // namespace cardkeep
