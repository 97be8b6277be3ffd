#include "folders.h"

#include "com_error.h"
#include "fault_points.h"
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
    if (CK_IO(L"create-folder", FALSE, CreateDirectoryW(path.c_str(), nullptr))) return S_OK;
    return comkit::failWin32(GetLastError(), L"The folder " + path + L" cannot be created");
}

HRESULT EnsureFolder(const std::wstring& path) {
    const FileSystem fileSystem;
    if (fileSystem.FolderExists(path)) return S_OK;
    const HRESULT hr = fileSystem.CreateFolder(path);
    // Another host running for the first time may have made the folder since
    // it was looked for: it is there, as wanted. A file of that name is not,
    // and stays refused.
    if (hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) && fileSystem.FolderExists(path)) {
        SetErrorInfo(0, nullptr);
        return S_OK;
    }
    return hr;
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
