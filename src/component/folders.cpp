#include "folders.h"

#include "com_error.h"
#include "host_application.h"

namespace cardkeep {

bool FileSystem::FileExists(const std::wstring& path) const {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSystem::FolderExists(const std::wstring& path) const {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT FileSystem::CreateFolder(const std::wstring& path) const {
    if (CreateDirectoryW(path.c_str(), nullptr)) return S_OK;
    return comkit::failWin32(GetLastError(), L"The folder " + path + L" cannot be created");
}

HRESULT EnsureFolder(const std::wstring& path) {
    const FileSystem fileSystem;
    if (fileSystem.FolderExists(path)) return S_OK;
    return fileSystem.CreateFolder(path);
}

HRESULT EnsureApplicationFolders(const std::wstring& root, outside::LateBound& app) {
    for (int parts = 1; parts <= 3; ++parts) {
        std::wstring relative;
        CK_RETURN_IF_FAILED(applicationPath(app, parts, relative));
        CK_RETURN_IF_FAILED(EnsureFolder(root + L"\\" + relative));
    }
    return S_OK;
}

}  // namespace cardkeep
