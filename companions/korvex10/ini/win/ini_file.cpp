#include "ini_file.h"

#include "com_error.h"
#include "fault_points.h"
#include "win_text.h"

#include <aclapi.h>

#include <algorithm>

namespace korvex::ini {
namespace {

const WindowsAnsiCodec kAnsi;

// How long a writer waits for another process to finish its write.
constexpr DWORD kLockTimeoutMs = 60000;

// How long a write keeps trying to put its new file in place while another
// program (a virus scanner, an indexer, a backup or sync tool) has the old
// one open without delete sharing. The writes come from the host's user
// interface thread, and Windows shows a window as not responding after 5 s
// without messages, so the wait stays well under that; 3 s outlasts the
// moment a scanner or indexer takes to read a file of this size. The waits
// double from 10 ms, so a brief hold costs a brief wait, up to 500 ms, so a
// release is noticed within half a second.
constexpr DWORD kReplaceWindowMs = 3000;
constexpr DWORD kFirstPauseMs = 10, kLongestPauseMs = 500;

// The file system's own number for the file (the inode), which a
// replacement changes. Asked of ntdll directly: the Win32 calls that give it
// also fetch volume information, which is slow.
LONGLONG fileIndex(HANDLE file) {
    struct IoStatus {
        union {
            LONG status;
            PVOID pointer;
        };
        ULONG_PTR information;
    };
    using Query = LONG(NTAPI*)(HANDLE, IoStatus*, PVOID, ULONG, int);
    static const Query query =
        reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    constexpr int kFileInternalInformation = 6;
    LARGE_INTEGER index{};
    IoStatus io{};
    if (!query || query(file, &io, &index, sizeof index, kFileInternalInformation) < 0) return 0;
    return index.QuadPart;
}

// A file given permissions of its own (not inherited from its folder) keeps
// them across a write, as a replacement in place would; the new file gets
// inherited ones by itself. Best effort: the content matters more.
void keepPermissions(const std::wstring& from, const std::wstring& to) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (CK_IO(L"permissions", GetLastError(),
              GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, &descriptor)) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (dacl && GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED))
        CK_IO(L"set-permissions", GetLastError(),
              SetNamedSecurityInfoW(const_cast<wchar_t*>(to.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    dacl, nullptr));
    LocalFree(descriptor);
}

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isInUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// A rename over a file that another program holds open without delete
// sharing fails as "access denied", as a refusal of the folder's
// permissions does: only opening the file for deletion tells them apart.
bool heldByAnotherProgram(const std::wstring& path, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const comkit::UniqueHandle probe(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
    return !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

// A stable name for the file's cross-process lock: the same for every
// spelling of the path that the file system takes for the same file.
std::wstring lockName(const std::wstring& path) {
    unsigned long long hash = 1469598103934665603ull;
    for (wchar_t c : path) {
        hash ^= static_cast<unsigned long long>(invariantFold(static_cast<char16_t>(c)));
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    wsprintfW(name, L"Local\\KorvexIniFile.%08lX%08lX", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    return name;
}

}  // namespace

bool IniFile::Stamp::sameVersion(const Stamp& o) const {
    if (exists != o.exists) return false;
    if (!exists) return true;
    return size == o.size && written.dwLowDateTime == o.written.dwLowDateTime &&
           written.dwHighDateTime == o.written.dwHighDateTime;
}

IniFile::IniFile(std::wstring fullPath) : path_(std::move(fullPath)), doc_(invariantFold) {}

HRESULT IniFile::failIo(DWORD error, const wchar_t* what) const {
    // The system's own text for a full disk does not say so plainly in
    // every language and version: say it here, and that nothing changed.
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return comkit::fail(HRESULT_FROM_WIN32(error), L"The file " + path_ + L" " + what +
                                                           L": the disk is full. The file was not changed.");
    return comkit::failWin32(error, L"The file " + path_ + L" " + what);
}

HRESULT IniFile::quickStamp(Stamp& stamp) const {
    stamp = {};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!CK_IO(L"examine", FALSE, GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data))) {
        const DWORD error = GetLastError();
        if (isMissing(error)) return S_OK;
        return failIo(error, L"cannot be examined");
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_DIRECTORY), L"The path " + path_ + L" names a folder, not a file.");
    stamp.exists = true;
    stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = data.ftLastWriteTime;
    return S_OK;
}

HRESULT IniFile::fullStamp(Stamp& stamp, [[maybe_unused]] const wchar_t* seam) const {
    stamp = {};
    comkit::UniqueHandle file(CK_IO((std::wstring(seam) + L"identity-open").c_str(), INVALID_HANDLE_VALUE,
                                    CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr)));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (isMissing(error)) return S_OK;
        return failIo(error, L"cannot be opened");
    }
    return stampOf(file.get(), stamp, seam);
}

// GetFileInformationByHandle would give the same, but it also asks for the
// volume's serial number, which costs far more than everything else here.
HRESULT IniFile::stampOf(HANDLE file, Stamp& stamp, [[maybe_unused]] const wchar_t* seam) const {
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (!CK_IO((std::wstring(seam) + L"identity").c_str(), FALSE, GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) ||
        !CK_IO((std::wstring(seam) + L"identity").c_str(), FALSE, GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)))
        return failIo(GetLastError(), L"cannot be examined");
    if (standard.Directory)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_DIRECTORY), L"The path " + path_ + L" names a folder, not a file.");
    stamp.exists = true;
    stamp.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    stamp.written.dwLowDateTime = basic.LastWriteTime.LowPart;
    stamp.written.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.HighPart);
    stamp.fileId = fileIndex(file);
    return S_OK;
}

HRESULT IniFile::refresh(bool forWrite) {
    if (current_) {
        Stamp now;
        if (forWrite) {
            CK_RETURN_IF_FAILED(fullStamp(now));
            if (now.sameFile(loaded_)) return S_OK;
        } else {
            CK_RETURN_IF_FAILED(quickStamp(now));
            if (now.sameVersion(loaded_)) return S_OK;
        }
    }
    return load();
}

HRESULT IniFile::load() {
    current_ = false;
    comkit::UniqueHandle file(CK_IO(L"open", INVALID_HANDLE_VALUE,
                                    CreateFileW(path_.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (!isMissing(error)) return failIo(error, L"cannot be read");
        doc_ = Document(invariantFold);
        encoding_ = Encoding::Utf16Le;
        loaded_ = {};
        current_ = true;
        return S_OK;
    }
    Stamp stamp;
    CK_RETURN_IF_FAILED(stampOf(file.get(), stamp));
    if (stamp.size > kMaxBytes)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                            L"The file " + path_ + L" is larger than 64 MiB and is not read.");

    std::string bytes(static_cast<size_t>(stamp.size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!CK_IO(L"read", FALSE,
                   ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)))
            return failIo(GetLastError(), L"cannot be read");
        if (got == 0) break;  // shorter than it said: read what is there
        done += got;
    }
    bytes.resize(done);
    Decoded decoded = decode(bytes, kAnsi);
    doc_ = Document::parse(std::move(decoded.text), invariantFold);
    encoding_ = decoded.encoding;
    loaded_ = stamp;
    current_ = true;
    return S_OK;
}

HRESULT IniFile::read(std::u16string_view section, std::u16string_view key, std::u16string& value) {
    CK_RETURN_IF_FAILED(refresh(false));
    const auto found = doc_.find(section, key);
    value = found ? std::u16string(*found) : std::u16string();
    return S_OK;
}

HRESULT IniFile::sections(std::vector<std::u16string>& names) {
    CK_RETURN_IF_FAILED(refresh(false));
    names = doc_.sections();
    return S_OK;
}

HRESULT IniFile::keys(std::u16string_view section, std::vector<std::u16string>& names) {
    CK_RETURN_IF_FAILED(refresh(false));
    names = doc_.keys(section);
    return S_OK;
}

HRESULT IniFile::lock() {
    if (!mutex_.valid()) {
        mutex_.reset(CK_IO(L"lock", nullptr, CreateMutexW(nullptr, FALSE, lockName(path_).c_str())));
        if (!mutex_.valid()) return failIo(GetLastError(), L"cannot be locked");
    }
    switch (CK_IO(L"lock-wait", WAIT_FAILED, WaitForSingleObject(mutex_.get(), kLockTimeoutMs))) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // a writer died holding it; the file itself is whole
        return S_OK;
    case WAIT_TIMEOUT:
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT),
                            L"The file " + path_ + L" is being written by another program; try again.");
    default:
        return failIo(GetLastError(), L"cannot be locked");
    }
}

HRESULT IniFile::write(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    for (const auto& problem : {checkSectionName(section), checkKeyName(key), checkValue(value)}) {
        if (problem) {
            const std::wstring text(problem->begin(), problem->end());
            return comkit::fail(E_INVALIDARG, text);
        }
    }
    CK_RETURN_IF_FAILED(lock());
    const comkit::MutexOwnership owned(mutex_.get());

    // Another process may have written since we last looked: apply this
    // change to what is on disk now, so neither write is lost.
    CK_RETURN_IF_FAILED(refresh(true));
    const auto old = doc_.find(section, key);
    if (old && *old == value) return S_OK;
    doc_.set(section, key, value);
    const HRESULT hr = save();
    // The document in memory no longer matches the disk: read it again next time.
    if (FAILED(hr)) current_ = false;
    return hr;
}

HRESULT IniFile::save() {
    Encoding encoding = encoding_;
    const std::string bytes = encode(doc_.serialise(), encoding, kAnsi);

    // Written beside the file, so the replacement is a rename on one volume.
    const std::wstring temp = path_ + L".~tmp";
    {
        comkit::UniqueHandle file(CK_IO(L"create", INVALID_HANDLE_VALUE,
                                        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!file.valid()) return failIo(GetLastError(), L"cannot be written");
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD put = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
            if (!CK_IO(L"write", FALSE, WriteFile(file.get(), bytes.data() + done, chunk, &put, nullptr)) || put == 0) {
                const DWORD error = GetLastError();
                file.reset();
                CK_IO(L"remove", FALSE, DeleteFileW(temp.c_str()));
                return failIo(error, L"cannot be written");
            }
            done += put;
        }
        if (!CK_IO(L"flush", FALSE, FlushFileBuffers(file.get()))) {
            const DWORD error = GetLastError();
            file.reset();
            CK_IO(L"remove", FALSE, DeleteFileW(temp.c_str()));
            return failIo(error, L"cannot be written to the disk");
        }
    }
    const HRESULT hr = replaceWith(temp);
    if (FAILED(hr)) {
        CK_IO(L"remove", FALSE, DeleteFileW(temp.c_str()));
        return hr;
    }
    encoding_ = encoding;
    // The write is done and durable: a file that cannot be examined now is
    // read again next time, and this write does not report a failure.
    Stamp now;
    if (FAILED(fullStamp(now, L"new-"))) {
        comkit::takeErrorInfo();
        current_ = false;
        return S_OK;
    }
    loaded_ = now;
    current_ = true;
    return S_OK;
}

HRESULT IniFile::replaceWith(const std::wstring& temp) {
    const DWORD attributes = CK_IO(L"attributes", INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path_.c_str()));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!isMissing(GetLastError())) return failIo(GetLastError(), L"cannot be examined");
        if (CK_IO(L"rename", FALSE, MoveFileExW(temp.c_str(), path_.c_str(), MOVEFILE_WRITE_THROUGH))) return S_OK;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return failIo(GetLastError(), L"cannot be created");
    } else if (attributes & FILE_ATTRIBUTE_READONLY) {
        return comkit::fail(E_ACCESSDENIED, L"The file " + path_ + L" is read-only and is not changed.");
    }
    // One rename over the old file, so that a reader, or a crash at any
    // moment, finds the old file or the new one and never none. ReplaceFileW
    // does not promise that: under Wine it moves the old file away and
    // deletes it before moving the new one in, and a writer killed between
    // the two left no wallet at all. The old file's attributes are kept.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    // A hidden or system file that came back plain would be a change the
    // user did not ask for: better no write than that one.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept) &&
        !CK_IO(L"set-attributes", FALSE, SetFileAttributesW(temp.c_str(), attributes & kKept)))
        return failIo(GetLastError(), L"cannot be replaced with its attributes kept");
    keepPermissions(path_, temp);
    // Retried while a reader or a scanner holds the file open (see
    // kReplaceWindowMs).
    DWORD error = ERROR_SUCCESS;
    for (DWORD waited = 0, pause = kFirstPauseMs;; waited += pause, pause = std::min(pause * 2, kLongestPauseMs)) {
        if (CK_IO(L"rename", FALSE,
                  MoveFileExW(temp.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)))
            return S_OK;
        error = GetLastError();
        if (!isInUse(error) || waited >= kReplaceWindowMs) break;
        Sleep(pause);
    }
    if (heldByAnotherProgram(path_, error))
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                            L"The file " + path_ +
                                L" is in use by another program and was not changed; try again when that program has let go of it.");
    return failIo(error, L"cannot be replaced");
}

}  // namespace korvex::ini
