#include "test_support.h"

#include <objbase.h>

namespace testsupport {

TempDir::TempDir(const std::wstring& tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    path_ = std::wstring(base) + L"cktest-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&counter));
    removeTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
}

std::string readBytes(const std::wstring& path) {
    comkit::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file.valid()) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    return bytes;
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
    comkit::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.valid()) << "cannot write " << narrow(path);
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

comkit::ErrorText hostError(IUnknown* object, REFIID iid) {
    comkit::ComPtr<ISupportErrorInfo> support;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.GetAddressOf())));
    if (!support) return {};
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(iid));
    return comkit::takeErrorInfo();
}

outside::LateBound createByName(const wchar_t* progId) {
    comkit::ComPtr<IDispatch> object;
    const HRESULT hr = outside::create(progId, object);
    EXPECT_EQ(S_OK, hr) << narrow(errorDescription());
    return outside::LateBound(object);
}

std::wstring text(const comkit::Variant& v) {
    comkit::Bstr converted;
    if (FAILED(comkit::toText(*v.get(), converted))) return L"<not text>";
    return std::wstring(converted.view());
}

std::wstring programFolder() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L"\\/"));
}

HRESULT createFromFaultBuild(const wchar_t* library, REFCLSID clsid, REFIID iid, void** object) {
    const std::wstring path = programFolder() + L"\\faults\\" + library;
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
        ADD_FAILURE() << "cannot load " << narrow(path);
        return E_FAIL;
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    comkit::ComPtr<IClassFactory> factory;
    HRESULT hr = get ? get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())) : E_FAIL;
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, iid, object);
    return hr;
}

comkit::UniqueHandle startProcess(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start " << narrow(command);
        return {};
    }
    CloseHandle(process.hThread);
    return comkit::UniqueHandle(process.hProcess);
}

int runTests(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}

comkit::UniqueHandle spawnSelf(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return startProcess(L"\"" + std::wstring(self) + L"\" " + arguments);
}

}  // namespace testsupport
