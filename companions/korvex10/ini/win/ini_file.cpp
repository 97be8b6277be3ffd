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

// How long a write keeps trying while another program holds what it needs:
// another writer its lock, or a virus scanner, an indexer, a backup or sync
// tool the old file (open without delete sharing). The writes come from the
// host's user interface thread, and Windows shows a window as not
// responding after 5 s without messages, so the wait stays well under that;
// 3 s outlasts another writer's write of the largest file and the moment a
// scanner takes to read it. The waits double from 10 ms, so a brief hold
// costs a brief wait, up to 500 ms, so a release is noticed within half a
// second.
constexpr DWORD kBusyWindowMs = 3000;
constexpr DWORD kFirstPauseMs = 10, kLongestPauseMs = 500;

// Makes `attempt` until it succeeds or fails other than `busy`, for about
// `window` ms; the last error, or ERROR_SUCCESS.
template <class Attempt, class Busy>
DWORD retryWhileBusy(DWORD window, Attempt&& attempt, Busy&& busy) {
    for (DWORD waited = 0, pause = kFirstPauseMs;; waited += pause, pause = std::min(pause * 2, kLongestPauseMs)) {
        if (attempt()) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (!busy(error) || waited >= window) return error;
        Sleep(pause);
    }
}

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

// The platform calls of a write that its steps make more than once, each
// through the test builds' I/O seam, so the steps read as what they do.
HANDLE createFile([[maybe_unused]] const wchar_t* seam, const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags) {
    if (CK_CREATE_REFUSED(path.c_str(), disposition, flags)) return INVALID_HANDLE_VALUE;
    return CK_IO(seam, INVALID_HANDLE_VALUE,
                 CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

// Without an OVERLAPPED offset: on a handle opened for synchronous I/O,
// Wine answers a read or write at an offset through its server, some 50 us
// each, and one at the file pointer in about one.
BOOL writeOut([[maybe_unused]] const wchar_t* seam, HANDLE file, const void* data, DWORD size) {
    DWORD put = 0;
    if (!CK_IO(seam, FALSE, WriteFile(file, data, size, &put, nullptr))) return FALSE;
    if (put == size) return TRUE;
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

BOOL writeAll(HANDLE file, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        if (!writeOut(L"write", file, bytes.data() + done, chunk)) return FALSE;
        done += chunk;
    }
    return TRUE;
}

// Up to `size` bytes, fewer only where the file ends.
BOOL readUpTo(HANDLE file, char* into, size_t size, size_t& done) {
    for (done = 0; done < size;) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        if (!CK_IO(L"read", FALSE, ReadFile(file, into + done, ask, &got, nullptr))) return FALSE;
        if (got == 0) break;
        done += got;
    }
    return TRUE;
}

BOOL rewind(HANDLE file) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
}

// A temporary file that a writer killed before its rename left behind: it
// may carry the wallet's hidden or system attribute, over which Windows
// refuses to create a plain file, or be read-only.
void removeStale(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

// The new file of a write, beside the old one so that the replacement is a
// rename on one volume; removed unless it was renamed into place.
class NewFile : comkit::NoCopy {
public:
    explicit NewFile(const std::wstring& path) : path_(path) {}
    ~NewFile() {
        if (!handle.valid() || renamed) return;
        handle.reset();
        CK_IO(L"remove", FALSE, DeleteFileW(path_.c_str()));
    }
    // Readers may open it (once it is in place, they will), nobody may
    // write it. Written through, as a rename asked to write through opens
    // its file: the file system then has the rename on the disk before it
    // returns, not only in its journal's cache. A file the user encrypted
    // is replaced by one created encrypted.
    BOOL create(DWORD oldAttributes) {
        const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH |
                            (oldAttributes & FILE_ATTRIBUTE_ENCRYPTED);
        const auto attempt = [&] {
            handle.reset(createFile(L"create", path_, GENERIC_WRITE | DELETE | WRITE_DAC,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_ALWAYS, flags));
            return handle.valid();
        };
        if (attempt()) return TRUE;
        if (GetLastError() != ERROR_ACCESS_DENIED) return FALSE;
        removeStale(path_);
        return attempt();
    }

    comkit::UniqueHandle handle;
    bool renamed = false;

private:
    const std::wstring& path_;
};

}  // namespace

bool IniFile::Stamp::sameVersion(const Stamp& o) const {
    if (exists != o.exists) return false;
    if (!exists) return true;
    return size == o.size && written == o.written && changed == o.changed;
}

IniFile::IniFile(std::wstring fullPath)
    : path_(std::move(fullPath)),
      ntPath_(ntPathOf(path_)),
      tempPath_(path_ + L".~tmp"),
      lockPath_(path_ + kLockSuffix),
      doc_(invariantFold) {
    openLockFile(false);
}

HRESULT IniFile::failIo(DWORD error, const wchar_t* what) const {
    // The system's own text for a full disk does not say so plainly in
    // every language and version: say it here, and that nothing changed.
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return comkit::fail(HRESULT_FROM_WIN32(error), L"The file " + path_ + L" " + what +
                                                           L": the disk is full. The file was not changed.");
    return comkit::failWin32(error, L"The file " + path_ + L" " + what);
}

HRESULT IniFile::failTooLarge() const {
    return comkit::fail(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                        L"The file " + path_ + L" would be larger than 64 MiB, the most that is read, and was not changed.");
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

// Opened for reading and writing where the folder allows it, and for
// reading where it does not (a wallet on read-only media is still read);
// without delete sharing, so it cannot vanish while a writer relies on it.
bool IniFile::openLockFile(bool forWrite) {
    if (lockFile_.valid() && (lockWritable_ || !forWrite)) return true;
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    comkit::UniqueHandle file(createFile(L"lock", lockPath_, GENERIC_READ | GENERIC_WRITE, kShare, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    const bool writable = file.valid();
    if (!writable && !forWrite)
        file.reset(CreateFileW(lockPath_.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return false;
    // Only a file on another machine's share has a remote protocol.
    FILE_REMOTE_PROTOCOL_INFO protocol{};
    protocol.StructureVersion = 1;
    protocol.StructureSize = sizeof protocol;
    remote_ = GetFileInformationByHandleEx(file.get(), FileRemoteProtocolInfo, &protocol, sizeof protocol);
    lockFile_ = std::move(file);
    lockWritable_ = writable;
    return true;
}

IniFile::Count IniFile::writeCount([[maybe_unused]] const wchar_t* seam) {
    if (!openLockFile(false)) return std::nullopt;
    ULONGLONG count = 0;
    DWORD got = 0;
    if (!rewind(lockFile_.get()) || !CK_IO(seam, FALSE, ReadFile(lockFile_.get(), &count, sizeof count, &got, nullptr)))
        return std::nullopt;
    return got < sizeof count ? 0 : count;  // a new lock file: no writes yet
}

IniFile::Count IniFile::finishedWrites() {
    const Count count = writeCount(L"count-read");
    return count && !(*count & 1) ? count : std::nullopt;
}

BOOL IniFile::storeCount(const wchar_t* seam, ULONGLONG count) {
    return rewind(lockFile_.get()) && writeOut(seam, lockFile_.get(), &count, sizeof count);
}

// The document is the file's while the count of finished writes is the
// one it was read at and the file's stamp is as it was. Without a count
// (none kept beside the file, or a write under way), the stamp alone
// decides a read, as it must for any other program's change. A write is
// made under the lock, where no writer of ours is under way: a count of
// none then means one died midway, its rename done or not, and the file is
// read again; so it is on a share, where another machine's client may
// answer from its own cache: a card must not go into an old copy.
HRESULT IniFile::refresh(bool forWrite) {
    const Count count = finishedWrites();
    const bool countHolds = forWrite ? count && count == knownWrites_ && !remote_ : count == knownWrites_;
    if (current_ && countHolds) {
        Stamp now;
        CK_RETURN_IF_FAILED(quickStamp(now));
        if (now.sameVersion(loaded_)) {
            loaded_ = now;
            return S_OK;
        }
    }
    return load(forWrite, count);
}

// `count` was read before the file is opened: a write that finishes after
// it changes the count, and the next access reads the file again.
HRESULT IniFile::load(bool forWrite, Count count) {
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
        knownWrites_ = count;
        current_ = true;
        return S_OK;
    }
    Stamp stamp;
    CK_RETURN_IF_FAILED(stampOf(file.get(), stamp));
    CK_PHASE("open");
    if (stamp.size > kMaxBytes)
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                            L"The file " + path_ + L" is larger than 64 MiB and is not read.");

    // Our own form, UTF-16LE after its mark, is read straight into the
    // document's text: decoding it would be one more copy of the whole
    // file, which at 100,000 cards cost what reading it does. Whatever else
    // the file holds is read whole and decoded.
    char mark[2] = {};
    size_t marked = 0;
    if (!readUpTo(file.get(), mark, sizeof mark, marked)) return failIo(GetLastError(), L"cannot be read");
    Decoded decoded{{}, Encoding::Utf16Le};
    if (marked == 2 && mark[0] == '\xFF' && mark[1] == '\xFE' && stamp.size % 2 == 0) {
        decoded.text.resize(static_cast<size_t>(stamp.size - 2) / 2);
        size_t done = 0;
        if (!readUpTo(file.get(), reinterpret_cast<char*>(decoded.text.data()), 2 * decoded.text.size(), done))
            return failIo(GetLastError(), L"cannot be read");
        decoded.text.resize(done / 2);  // shorter than it said: what is there
        CK_PHASE("read");
    } else {
        std::string bytes(static_cast<size_t>(stamp.size), '\0');
        const size_t head = std::min(marked, bytes.size());
        memcpy(bytes.data(), mark, head);
        size_t done = 0;
        if (!readUpTo(file.get(), bytes.data() + head, bytes.size() - head, done))
            return failIo(GetLastError(), L"cannot be read");
        bytes.resize(head + done);
        CK_PHASE("read");
        decoded = decode(bytes, kAnsi);
    }
    if (permissions) own_ = ownPermissions(file.get());
    CK_PHASE("decode");
    doc_ = Document::parse(std::move(decoded.text), invariantFold);
    CK_PHASE("parse");
    encoding_ = decoded.encoding;
    loaded_ = stamp;
    knownWrites_ = count;
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

// The lock file's identity names the queue: the same file, whatever path
// reached it. Only the file's number within its volume: a second volume's
// file of the same number shares the queue, which costs turns, not safety.
// Beside the queue, in memory the session's writers share, the number of
// writers waiting in it.
void IniFile::openQueue() {
    BY_HANDLE_FILE_INFORMATION identity{};
    if (!GetFileInformationByHandle(lockFile_.get(), &identity)) return;
    wchar_t name[64];
    wsprintfW(name, L"Local\\KorvexIniWriters.%08lX%08lX", identity.nFileIndexHigh, identity.nFileIndexLow);
    comkit::UniqueHandle queue(CreateMutexW(nullptr, FALSE, name));
    lstrcatW(name, L".waiting");
    comkit::UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name));
    if (!queue.valid() || !mapping.valid()) return;
    MappedView waiting(MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    if (!waiting) return;
    queue_ = std::move(queue);
    waitingMapping_ = std::move(mapping);
    waiting_ = std::move(waiting);
}

// Writers of one session take turns in the queue, first come first served,
// and then take the lock file's byte, which they find free unless a writer
// of another session or machine has it: that wait is the one that needs
// back-off. While nobody waits in the queue a writer goes straight for the
// byte (one call instead of three). A writer that dies while waiting leaves
// the count of waiters high, which only sends every writer through the queue
// until the session's last writer of the file has gone. The whole wait stays
// within kBusyWindowMs.
HRESULT IniFile::lock(WriterLock& held) {
    if (!openLockFile(true)) return failIo(GetLastError(), L"cannot be locked");
    if (!queue_.valid()) openQueue();
    const auto take = [&] { return CK_IO(L"lock-wait", FALSE, held.byte.tryTake(lockFile_.get(), kLockByte)); };
    volatile LONG* waiting = static_cast<volatile LONG*>(waiting_.get());
    if (waiting && InterlockedCompareExchange(waiting, 0, 0) == 0) {
        if (take()) return S_OK;
        if (GetLastError() != ERROR_LOCK_VIOLATION) return failIo(GetLastError(), L"cannot be locked");
    }
    const auto busy = [&] {
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"The file " + path_ +
                                L" is being written by another program and was not changed; try again.");
    };
    const ULONGLONG started = GetTickCount64();
    if (waiting) {
        InterlockedIncrement(waiting);
        const DWORD waited = WaitForSingleObject(queue_.get(), kBusyWindowMs);
        // A writer that died in its turn left the file whole (the rename is
        // the write).
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) held.turn.own(queue_.get());
        if (waited == WAIT_TIMEOUT) {
            InterlockedDecrement(waiting);
            return busy();
        }
    }
    // Counted as waiting until the byte is taken, so that no writer passes
    // the one whose turn it is.
    const DWORD left = static_cast<DWORD>(kBusyWindowMs - std::min<ULONGLONG>(GetTickCount64() - started, kBusyWindowMs));
    const DWORD error = retryWhileBusy(left, take, [](DWORD e) { return e == ERROR_LOCK_VIOLATION; });
    if (waiting) InterlockedDecrement(waiting);
    if (error == ERROR_SUCCESS) return S_OK;
    if (error == ERROR_LOCK_VIOLATION) return busy();
    return failIo(error, L"cannot be locked");
}

HRESULT IniFile::checkChanges(std::u16string_view section, std::span<const KeyChange> changes) const {
    std::optional<std::string> problem = checkSectionName(section);
    ULONGLONG added = 0;
    for (const KeyChange& change : changes) {
        if (!problem) problem = checkKeyName(change.key);
        if (!problem) problem = checkValue(change.value);
        added += 2ull * (change.key.size() + change.value.size());
    }
    if (problem) return comkit::fail(E_INVALIDARG, std::wstring(problem->begin(), problem->end()));
    // Refused before it costs the memory of a file that could not be read.
    if (added > kMaxBytes) return failTooLarge();
    return S_OK;
}

HRESULT IniFile::write(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    const KeyChange change{key, value};
    return write(section, std::span<const KeyChange>(&change, 1));
}

HRESULT IniFile::write(std::u16string_view section, std::span<const KeyChange> changes) {
    CK_RETURN_IF_FAILED(checkChanges(section, changes));
    WriterLock held;
    CK_RETURN_IF_FAILED(lock(held));
    CK_PHASE("lock");

    // Another process may have written since we last looked: apply this
    // change to what is on disk now, so neither write is lost.
    CK_RETURN_IF_FAILED(refresh(true));
    CK_PHASE("identity");
    bool differs = false;
    for (const KeyChange& change : changes) {
        const auto old = doc_.find(section, change.key);
        if (old && *old == change.value) continue;
        doc_.set(section, change.key, change.value);
        differs = true;
    }
    if (!differs) return S_OK;
    const HRESULT hr = save();
    // The document in memory no longer matches the disk: read it again next time.
    if (FAILED(hr)) current_ = false;
    // A large file's bytes are not kept: the object holds no more than the
    // document besides.
    if (bytes_.capacity() > kChunkBytes) std::string().swap(bytes_);
    return hr;
}

// Refused when a reader would refuse the file. Our own form (UTF-16LE; the
// platform's is little-endian) is written straight from the document by
// writeDocument; any other is encoded here, into bytes_.
HRESULT IniFile::serialise() {
    if (encoding_ == Encoding::Utf16Le) {
        if (2 + 2ull * doc_.size() > kMaxBytes) return failTooLarge();
        CK_PHASE("serialise");
    } else {
        const std::u16string text = doc_.serialise();
        CK_PHASE("serialise");
        bytes_ = encode(text, encoding_, kAnsi);
        if (bytes_.size() > kMaxBytes) return failTooLarge();
    }
    CK_PHASE("encode");
    return S_OK;
}

// Our own form goes from the document to the file through a buffer of
// kChunkBytes kept across writes, so that no write needs fresh memory of
// the file's size: at 100,000 cards the system's handing over and clearing
// of that memory cost more than the copying and the writing together.
BOOL IniFile::writeDocument(HANDLE file) {
    if (encoding_ != Encoding::Utf16Le) return writeAll(file, bytes_);
    // The old file's size tells what the new one needs, without walking
    // the document a second time (serialise() measured it already).
    bytes_.reserve(static_cast<size_t>(std::min<ULONGLONG>(kChunkBytes, loaded_.size + 2)));
    bytes_.assign("\xFF\xFE");
    BOOL ok = TRUE;
    const auto writeBuffer = [&] {
        ok = ok && writeOut(L"write", file, bytes_.data(), static_cast<DWORD>(bytes_.size()));
        bytes_.clear();
    };
    doc_.pieces([&](std::u16string_view piece) {
        const char* data = reinterpret_cast<const char*>(piece.data());
        for (size_t left = 2 * piece.size(); ok && left > 0;) {
            const size_t n = std::min(left, kChunkBytes - bytes_.size());
            bytes_.append(data, n);
            data += n;
            left -= n;
            if (bytes_.size() == kChunkBytes) writeBuffer();
        }
    });
    if (ok && !bytes_.empty()) writeBuffer();
    return ok;
}

// Under the lock: the whole file, written beside the old one, flushed, and
// renamed over it; the count of writes is odd from just before the rename
// until it is known to be done.
HRESULT IniFile::save() {
    CK_RETURN_IF_FAILED(serialise());
    NewFile temp(tempPath_);
    if (!temp.create(loaded_.attributes)) return failIo(GetLastError(), L"cannot be written");
    if (!writeDocument(temp.handle.get())) return failIo(GetLastError(), L"cannot be written");
    CK_PHASE("temp");
    if (!CK_IO(L"flush", FALSE, FlushFileBuffers(temp.handle.get())))
        return failIo(GetLastError(), L"cannot be written to the disk");
    CK_PHASE("flush");

    // Odd from just before the rename until the write is over, renamed or
    // not: no other writer of ours then takes its document for the file's,
    // nor a reader once the rename may have happened. Above any count seen,
    // also one that a writer that died midway left odd.
    const Count seen = knownWrites_ ? knownWrites_ : writeCount(L"count-read");
    if (!seen) return failIo(GetLastError(), L"cannot be written");
    const ULONGLONG underWay = *seen + ((*seen & 1) ? 2 : 1);
    if (!storeCount(L"count-begin", underWay)) return failIo(GetLastError(), L"cannot be written");
    const HRESULT replaced = replaceWith(temp.handle.get());
    if (SUCCEEDED(replaced)) {
        temp.renamed = true;
        temp.handle.reset();
    }
    CK_PHASE("rename");
    const bool counted = storeCount(L"count-end", underWay + 1);
    if (FAILED(replaced)) return replaced;
    knownWrites_ = counted ? Count(underWay + 1) : std::nullopt;
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
    return CK_IO(L"rename", FALSE, SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())));
}

HRESULT IniFile::replaceWith(HANDLE file) {
    // As the file was when checked under the lock, a moment ago.
    DWORD attributes = loaded_.exists ? loaded_.attributes : INVALID_FILE_ATTRIBUTES;
    if (!loaded_.exists) {
        if (renameTo(file, false)) return S_OK;
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
    // Retried while a reader or a scanner holds the file open.
    const DWORD error = retryWhileBusy(kBusyWindowMs, [&] { return renameTo(file, true); }, isInUse);
    if (error == ERROR_SUCCESS) return S_OK;
    if (heldByAnotherProgram(path_, error))
        return comkit::fail(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                            L"The file " + path_ +
                                L" is in use by another program and was not changed; try again when that program has let go of it.");
    return failIo(error, L"cannot be replaced");
}

}  // namespace korvex::ini
