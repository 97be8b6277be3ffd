#include "ini_file.h"

#include "com_error.h"
#include "fault_points.h"
#include "phase_clock.h"
#include "win_text.h"

#include <aclapi.h>
#include <winternl.h>

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

}  // namespace
}  // namespace korvex::ini

extern "C" NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES, PFILE_NETWORK_OPEN_INFORMATION);

namespace korvex::ini {
namespace {

// The system's own name for a path, which ntdll's calls take; empty when
// the path has none.
std::wstring ntPathOf(const std::wstring& path) {
    UNICODE_STRING name{};
    if (!RtlDosPathNameToNtPathName_U(path.c_str(), &name, nullptr, nullptr)) return {};
    std::wstring converted(name.Buffer, name.Length / sizeof(wchar_t));
    RtlFreeUnicodeString(&name);
    return converted;
}

// A file's size, times and attributes from its path alone. Asked of ntdll:
// opening the file costs more than all else a write does before it touches
// the disk, and the Win32 calls that need no handle leave out the change
// time, which a change of the file's permissions or attributes moves too.
BOOL pathAttributes(const std::wstring& ntPath, FILE_NETWORK_OPEN_INFORMATION& info) {
    if (ntPath.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    UNICODE_STRING name{};
    name.Buffer = const_cast<wchar_t*>(ntPath.data());
    name.Length = name.MaximumLength = static_cast<USHORT>(ntPath.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    const NTSTATUS status = NtQueryFullAttributesFile(&object, &info);
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return FALSE;
    }
    return TRUE;
}

// A file given permissions of its own (not inherited from its folder) keeps
// them across a write, as a replacement in place would; the new file gets
// inherited ones by itself. Best effort: the content matters more.
SecurityDescriptor ownPermissions(HANDLE file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (CK_IO(L"permissions", GetLastError(),
              GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor)) != ERROR_SUCCESS)
        return {};
    SecurityDescriptor owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (dacl && GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED))
        return owned;
    return {};
}

void keepPermissions(const SecurityDescriptor& own, HANDLE to) {
    if (!own) return;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (GetSecurityDescriptorDacl(own.get(), &present, &dacl, &defaulted) && present && dacl)
        CK_IO(L"set-permissions", GetLastError(),
              SetSecurityInfo(to, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr));
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
    return size == o.size && written == o.written;
}

IniFile::IniFile(std::wstring fullPath)
    : path_(std::move(fullPath)), ntPath_(ntPathOf(path_)), doc_(invariantFold) {}

HRESULT IniFile::failIo(DWORD error, const wchar_t* what) const {
    // The system's own text for a full disk does not say so plainly in
    // every language and version: say it here, and that nothing changed.
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return comkit::fail(HRESULT_FROM_WIN32(error), L"The file " + path_ + L" " + what +
                                                           L": the disk is full. The file was not changed.");
    return comkit::failWin32(error, L"The file " + path_ + L" " + what);
}

HRESULT IniFile::quickStamp(Stamp& stamp, [[maybe_unused]] const wchar_t* seam) const {
    stamp = {};
    FILE_NETWORK_OPEN_INFORMATION info{};
    if (!CK_IO(seam, FALSE, pathAttributes(ntPath_, info))) {
        const DWORD error = GetLastError();
        if (isMissing(error)) return S_OK;
        return failIo(error, L"cannot be examined");
    }
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_DIRECTORY), L"The path " + path_ + L" names a folder, not a file.");
    stamp.exists = true;
    stamp.size = static_cast<ULONGLONG>(info.EndOfFile.QuadPart);
    stamp.written = CK_FILE_TIME(info.LastWriteTime.QuadPart);
    stamp.changed = CK_FILE_TIME(info.ChangeTime.QuadPart);
    stamp.attributes = info.FileAttributes;
    return S_OK;
}

// GetFileInformationByHandle would give the same, but it also asks for the
// volume's serial number, which costs far more than everything else here.
HRESULT IniFile::stampOf(HANDLE file, Stamp& stamp) const {
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (!CK_IO(L"identity", FALSE, GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) ||
        !CK_IO(L"identity", FALSE, GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)))
        return failIo(GetLastError(), L"cannot be examined");
    if (standard.Directory)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_DIRECTORY), L"The path " + path_ + L" names a folder, not a file.");
    stamp.exists = true;
    stamp.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    stamp.written = CK_FILE_TIME(basic.LastWriteTime.QuadPart);
    stamp.changed = CK_FILE_TIME(basic.ChangeTime.QuadPart);
    stamp.attributes = basic.FileAttributes;
    return S_OK;
}

HRESULT IniFile::refresh() {
    if (current_) {
        Stamp now;
        CK_RETURN_IF_FAILED(quickStamp(now));
        if (now.sameVersion(loaded_)) return S_OK;
    }
    return load(false);
}

// Under the lock. The document is the file's when no writer of ours has
// written since this object read or wrote it (the count beside the lock),
// and nobody else has changed the file either (its size, write time and
// change time, which permissions and attributes move too, are as they
// were). The count is what tells two of our writes of the same size apart:
// Windows moves file times in steps of its clock tick, up to 15.6 ms, and
// many writes fit in one. The file's own permissions come with the document.
HRESULT IniFile::refreshForWrite() {
    if (current_ && knownWrites_ && writeCount() == knownWrites_) {
        Stamp now;
        CK_RETURN_IF_FAILED(quickStamp(now));
        if (now.sameVersion(loaded_) && now.changed == loaded_.changed) {
            loaded_ = now;
            return S_OK;
        }
    }
    CK_RETURN_IF_FAILED(load(true));
    knownWrites_ = writeCount();
    return S_OK;
}

std::optional<LONG> IniFile::writeCount() const {
    if (!writes_) return std::nullopt;
    return InterlockedCompareExchange(static_cast<volatile LONG*>(writes_.get()), 0, 0);
}

std::optional<LONG> IniFile::countWrite() {
    if (!writes_) return std::nullopt;
    return InterlockedIncrement(static_cast<volatile LONG*>(writes_.get()));
}

HRESULT IniFile::load(bool forWrite) {
    current_ = false;
    knownWrites_.reset();
    own_.reset();
    const auto open = [&](DWORD access) {
        return comkit::UniqueHandle(CK_IO(L"open", INVALID_HANDLE_VALUE,
                                          CreateFileW(path_.c_str(), access,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
    };
    // A writer reads the permissions too; whoever may not, keeps none.
    comkit::UniqueHandle file = open(forWrite ? GENERIC_READ | READ_CONTROL : GENERIC_READ);
    const bool permissions = forWrite && file.valid();
    if (forWrite && !file.valid() && GetLastError() == ERROR_ACCESS_DENIED) file = open(GENERIC_READ);
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
    if (permissions) own_ = ownPermissions(file.get());
    Decoded decoded = decode(bytes, kAnsi);
    doc_ = Document::parse(std::move(decoded.text), invariantFold);
    encoding_ = decoded.encoding;
    loaded_ = stamp;
    current_ = true;
    return S_OK;
}

HRESULT IniFile::read(std::u16string_view section, std::u16string_view key, std::u16string& value) {
    CK_RETURN_IF_FAILED(refresh());
    const auto found = doc_.find(section, key);
    value = found ? std::u16string(*found) : std::u16string();
    return S_OK;
}

HRESULT IniFile::sections(std::vector<std::u16string>& names) {
    CK_RETURN_IF_FAILED(refresh());
    names = doc_.sections();
    return S_OK;
}

HRESULT IniFile::keys(std::u16string_view section, std::vector<std::u16string>& names) {
    CK_RETURN_IF_FAILED(refresh());
    names = doc_.keys(section);
    return S_OK;
}

HRESULT IniFile::lock() {
    if (!mutex_.valid()) {
        const std::wstring name = lockName(path_);
        mutex_.reset(CK_IO(L"lock", nullptr, CreateMutexW(nullptr, FALSE, name.c_str())));
        if (!mutex_.valid()) return failIo(GetLastError(), L"cannot be locked");
        // Without the count every write reads the file again first: slower,
        // never wrong.
        writesMapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                                                (name + L".writes").c_str()));
        if (writesMapping_.valid())
            writes_.reset(MapViewOfFile(writesMapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
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
    CK_PHASE("lock");

    // Another process may have written since we last looked: apply this
    // change to what is on disk now, so neither write is lost.
    CK_RETURN_IF_FAILED(refreshForWrite());
    CK_PHASE("identity");
    const auto old = doc_.find(section, key);
    if (old && *old == value) return S_OK;
    doc_.set(section, key, value);
    const HRESULT hr = save();
    // The document in memory no longer matches the disk: read it again next time.
    if (FAILED(hr)) current_ = false;
    // A large file's buffer is not kept: the object holds no more than the
    // document besides.
    if (bytes_.capacity() > kKeptBufferBytes) std::string().swap(bytes_);
    return hr;
}

HRESULT IniFile::save() {
    Encoding encoding = encoding_;
    if (encoding == Encoding::Utf16Le) {
        // Our own form (the platform's UTF-16 is little-endian), straight
        // from the document into the buffer kept from the last write: a
        // fresh buffer of a large file costs more, in memory the system
        // must hand over and clear, than the copying.
        bytes_.clear();
        bytes_.reserve(2 + 2 * doc_.size());
        bytes_ += "\xFF\xFE";
        doc_.pieces([&](std::u16string_view piece) {
            bytes_.append(reinterpret_cast<const char*>(piece.data()), 2 * piece.size());
        });
        CK_PHASE("serialise");
    } else {
        const std::u16string text = doc_.serialise();
        CK_PHASE("serialise");
        bytes_ = encode(text, encoding, kAnsi);
    }
    CK_PHASE("encode");

    // Written beside the file, so the replacement is a rename on one volume,
    // and renamed through the handle that wrote it, which saves opening it
    // again. Readers may open it (once it is in place, they will), nobody
    // may write it. Write-through, as a rename asked to write through opens
    // its file: the file system then has the rename on the disk before it
    // returns, not only in its journal's cache.
    const std::wstring temp = path_ + L".~tmp";
    constexpr DWORD kTempFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH;
    comkit::UniqueHandle file(
        CK_IO(L"create", INVALID_HANDLE_VALUE,
              CK_CREATE_REFUSED(temp.c_str(), CREATE_ALWAYS, kTempFlags)
                  ? INVALID_HANDLE_VALUE
                  : CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, kTempFlags, nullptr)));
    if (!file.valid()) return failIo(GetLastError(), L"cannot be written");
    const auto discard = [&](HRESULT hr) {
        file.reset();
        CK_IO(L"remove", FALSE, DeleteFileW(temp.c_str()));
        return hr;
    };
    size_t done = 0;
    while (done < bytes_.size()) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes_.size() - done, 1u << 24));
        if (!CK_IO(L"write", FALSE, WriteFile(file.get(), bytes_.data() + done, chunk, &put, nullptr)) || put == 0)
            return discard(failIo(GetLastError(), L"cannot be written"));
        done += put;
    }
    CK_PHASE("temp");
    if (!CK_IO(L"flush", FALSE, FlushFileBuffers(file.get())))
        return discard(failIo(GetLastError(), L"cannot be written to the disk"));
    CK_PHASE("flush");
    const HRESULT hr = replaceWith(file.get());
    if (FAILED(hr)) return discard(hr);
    file.reset();
    CK_PHASE("rename");
    encoding_ = encoding;
    // The write is done and durable: a file that cannot be examined now is
    // read again next time, and this write does not report a failure.
    Stamp now;
    const HRESULT stamped = quickStamp(now, L"new-examine");
    CK_PHASE("identity");
    if (FAILED(stamped) || !now.exists) {
        comkit::takeErrorInfo();
        current_ = false;
        return S_OK;
    }
    loaded_ = now;
    current_ = true;
    return S_OK;
}

// Renames the open file to the path, over the file there if `replace`.
BOOL IniFile::renameTo(HANDLE file, bool replace) const {
    if (ntPath_.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    const DWORD length = static_cast<DWORD>(ntPath_.size() * sizeof(wchar_t));
    std::vector<BYTE> buffer(offsetof(FILE_RENAME_INFO, FileName) + length + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace;
    info->RootDirectory = nullptr;
    info->FileNameLength = length;
    memcpy(info->FileName, ntPath_.data(), length);
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()));
}

HRESULT IniFile::replaceWith(HANDLE file) {
    // Counted before any rename, so that no other writer of ours takes its
    // document for the file's once a rename may have happened.
    const std::optional<LONG> count = countWrite();
    // As the file was when checked under the lock, a moment ago.
    DWORD attributes = loaded_.exists ? loaded_.attributes : INVALID_FILE_ATTRIBUTES;
    if (!loaded_.exists) {
        if (CK_IO(L"rename", FALSE, renameTo(file, false))) {
            knownWrites_ = count;
            return S_OK;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return failIo(GetLastError(), L"cannot be created");
        // Another program made it meanwhile: look at it now.
        attributes = CK_IO(L"attributes", INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path_.c_str()));
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return comkit::fail(E_ACCESSDENIED, L"The file " + path_ + L" is read-only and is not changed.");
    // One rename over the old file, so that a reader, or a crash at any
    // moment, finds the old file or the new one and never none. ReplaceFileW
    // does not promise that: under Wine it moves the old file away and
    // deletes it before moving the new one in, and a writer killed between
    // the two left no wallet at all. The old file's attributes are kept.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    // A hidden or system file that came back plain would be a change the
    // user did not ask for: better no write than that one.
    // A new file is marked for archiving already: that alone needs no call.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept) & ~FILE_ATTRIBUTE_ARCHIVE) {
        FILE_BASIC_INFO basic{};  // times of zero stay as they are
        basic.FileAttributes = attributes & kKept;
        if (!CK_IO(L"set-attributes", FALSE, SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)))
            return failIo(GetLastError(), L"cannot be replaced with its attributes kept");
    }
    keepPermissions(own_, file);
    CK_PHASE("temp");
    // Retried while a reader or a scanner holds the file open (see
    // kReplaceWindowMs).
    DWORD error = ERROR_SUCCESS;
    for (DWORD waited = 0, pause = kFirstPauseMs;; waited += pause, pause = std::min(pause * 2, kLongestPauseMs)) {
        if (CK_IO(L"rename", FALSE, renameTo(file, true))) {
            knownWrites_ = count;
            return S_OK;
        }
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
