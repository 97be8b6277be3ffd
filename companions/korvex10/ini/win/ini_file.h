// One INI file on disk, kept parsed in memory and checked against the file
// on every access. Every write is durable and atomic, and serialised with
// every other writer of the same file, whatever path, session or machine it
// reaches the file from.
#pragma once

#include "com_types.h"
#include "ini_document.h"
#include "text_codec.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::ini {

using SecurityDescriptor = comkit::Owned<PSECURITY_DESCRIPTOR, comkit::PointerHandle<PSECURITY_DESCRIPTOR, LocalFree>>;
using MappedView = comkit::Owned<void*, comkit::PointerHandle<void*, UnmapViewOfFile>>;

// One key's new value, in a change of several keys of one section.
struct KeyChange {
    std::u16string_view key;
    std::u16string_view value;
};

class IniFile {
public:
    // Files larger than this are refused rather than read into memory, so no
    // write may make a file larger.
    static constexpr ULONGLONG kMaxBytes = 64ull << 20;

    // Beside the file, a lock file: a writer holds an exclusive lock on its
    // byte kLockByte for the whole of a write, and its first eight bytes
    // count the writes (odd while one is under way). A lock on the file
    // system holds for every spelling of the path, every session and every
    // machine that shares the folder, and a process that dies lets go.
    static constexpr const wchar_t* kLockSuffix = L".lock";
    static constexpr DWORD kLockByte = 16;

    explicit IniFile(std::wstring fullPath);

    const std::wstring& path() const { return path_; }

    // A missing file, section or key reads as the empty text.
    HRESULT read(std::u16string_view section, std::u16string_view key, std::u16string& value);
    HRESULT write(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // Several keys of one section in one write: all of them land, or none.
    HRESULT write(std::u16string_view section, std::span<const KeyChange> changes);
    HRESULT sections(std::vector<std::u16string>& names);

    // The bytes (as on disk) of the document held; 0 while none is.
    ULONGLONG heldBytes() const { return current_ ? loaded_.size : 0; }
    // For a file kept while another is used: lets go of what only its next
    // write would use again.
    void setAside() { std::string().swap(bytes_); }
    HRESULT keys(std::u16string_view section, std::vector<std::u16string>& names);

private:
    // What tells one version of the file from another, asked of the path
    // alone: opening the file costs more than the rest of a lookup. File
    // times move in steps of the clock (15.6 ms, or 2 s on FAT), so two
    // writes of one size can leave one stamp: the count of writes in the
    // lock file tells those apart.
    struct Stamp {
        bool exists = false;
        ULONGLONG size = 0;
        LONGLONG written = 0;
        // The last change of anything about the file: its content, its
        // permissions or attributes, a rename onto its path.
        LONGLONG changed = 0;
        DWORD attributes = 0;
        bool sameVersion(const Stamp& o) const;
    };
    using Count = std::optional<ULONGLONG>;

    // seam: how the test builds name the platform call (kit/fault_points.h).
    HRESULT quickStamp(Stamp& stamp, const wchar_t* seam = L"examine") const;
    HRESULT stampOf(HANDLE file, Stamp& stamp) const;
    HRESULT refresh(bool forWrite);
    HRESULT load(bool forWrite, Count count);

    // The lock file, opened with the object and again whenever it is not.
    bool openLockFile(bool forWrite);
    // The count of writes as the lock file holds it; none when there is no
    // lock file to read.
    Count writeCount(const wchar_t* seam);
    // The count of finished writes; none also while a write is under way,
    // or after a writer died in one.
    Count finishedWrites();
    BOOL storeCount(const wchar_t* seam, ULONGLONG count);
    // Held for the whole of a write; released in reverse order.
    struct WriterLock {
        comkit::MutexHold turn;
        comkit::FileRangeHold byte;
    };
    void openQueue();
    HRESULT lock(WriterLock& held);

    HRESULT checkChanges(std::u16string_view section, std::span<const KeyChange> changes) const;
    HRESULT serialise();
    BOOL writeDocument(HANDLE file);
    HRESULT save();
    HRESULT replaceWith(HANDLE file);
    BOOL renameTo(HANDLE file, bool replace) const;
    HRESULT failIo(DWORD error, const wchar_t* what) const;
    HRESULT failTooLarge() const;

    std::wstring path_;
    std::wstring ntPath_;  // the same as the system's own name (ntdll's calls)
    std::wstring tempPath_;
    std::wstring lockPath_;
    Document doc_;
    Encoding encoding_ = Encoding::Utf16Le;
    Stamp loaded_{};
    bool current_ = false;
    comkit::UniqueHandle lockFile_;
    bool lockWritable_ = false;
    bool remote_ = false;  // on another machine's share
    // The writers of this session queue here for their turn at the lock,
    // and count themselves while they wait.
    comkit::UniqueHandle queue_;
    // The handle keeps the memory's name, by which the session's other
    // writers find it (a view alone keeps the memory, not its name).
    comkit::UniqueHandle waitingMapping_;
    MappedView waiting_;
    // The count of writes this document belongs to; none when not known.
    Count knownWrites_;
    // The file's own permissions, when it has any, as read with the document
    // for a write (kept across each write).
    SecurityDescriptor own_;
    // What a write puts in the file: our own form passes through it a chunk
    // at a time, kept across writes; a file in another form is encoded into
    // it whole, and not kept when larger than a chunk.
    static constexpr size_t kChunkBytes = 1u << 20;
    std::string bytes_;
};

}  // namespace korvex::ini
