// One INI file on disk, kept parsed in memory and checked against the file
// on every access. Every write is durable and atomic, and serialised with
// other processes writing the same file.
#pragma once

#include "com_types.h"
#include "ini_document.h"
#include "text_codec.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::ini {

using SecurityDescriptor = comkit::Owned<PSECURITY_DESCRIPTOR, comkit::PointerHandle<PSECURITY_DESCRIPTOR, LocalFree>>;
using MappedView = comkit::Owned<void*, comkit::PointerHandle<void*, UnmapViewOfFile>>;

class IniFile {
public:
    // Files larger than this are refused rather than read into memory.
    static constexpr ULONGLONG kMaxBytes = 64ull << 20;

    explicit IniFile(std::wstring fullPath);

    const std::wstring& path() const { return path_; }

    // A missing file, section or key reads as the empty text.
    HRESULT read(std::u16string_view section, std::u16string_view key, std::u16string& value);
    HRESULT write(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    HRESULT sections(std::vector<std::u16string>& names);
    HRESULT keys(std::u16string_view section, std::vector<std::u16string>& names);

private:
    // What tells one version of the file from another, asked of the path
    // alone: opening the file costs more than the rest of a lookup. Reads
    // compare size and last-write time; writes also compare the change
    // time and the count of our own writes (refreshForWrite).
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

    // From the path alone. seam: how the test builds name the platform
    // call (kit/fault_points.h).
    HRESULT quickStamp(Stamp& stamp, const wchar_t* seam = L"examine") const;
    HRESULT stampOf(HANDLE file, Stamp& stamp) const;
    HRESULT refresh();
    HRESULT refreshForWrite();
    std::optional<LONG> writeCount() const;
    // Counts a write about to land; the count after it.
    std::optional<LONG> countWrite();
    HRESULT load(bool forWrite);
    HRESULT save();
    HRESULT replaceWith(HANDLE file);
    BOOL renameTo(HANDLE file, bool replace) const;
    HRESULT lock();
    HRESULT failIo(DWORD error, const wchar_t* what) const;

    std::wstring path_;
    std::wstring ntPath_;  // the same as the system's own name (ntdll's calls)
    Document doc_;
    Encoding encoding_ = Encoding::Utf16Le;
    Stamp loaded_{};
    bool current_ = false;
    comkit::UniqueHandle mutex_;
    // How many writes every process of ours has made to the file: a count
    // beside the lock, in memory they share; knownWrites_ is the count this
    // document belongs to, none when not known.
    comkit::UniqueHandle writesMapping_;
    MappedView writes_;
    std::optional<LONG> knownWrites_;
    // The file's own permissions, when it has any, as read with the document
    // for a write (kept across each write).
    SecurityDescriptor own_;
    // The bytes of the last write, kept for the next one up to this size
    // (about 40,000 cards).
    static constexpr size_t kKeptBufferBytes = 8u << 20;
    std::string bytes_;
};

}  // namespace korvex::ini
