// One INI file on disk, kept parsed in memory and checked against the file
// on every access. Every write is durable and atomic, and serialised with
// other processes writing the same file.
#pragma once

#include "com_types.h"
#include "ini_document.h"
#include "text_codec.h"

#include <string>
#include <string_view>
#include <vector>

namespace korvex::ini {

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
    // What identifies one version of the file. Reads compare size and
    // last-write time, which the platform answers from the path alone;
    // writes also compare the file's identity (a replaced file is a new
    // file), which needs the file opened.
    struct Stamp {
        bool exists = false;
        ULONGLONG size = 0;
        FILETIME written{};
        LONGLONG fileId = 0;
        bool sameVersion(const Stamp& o) const;
        bool sameFile(const Stamp& o) const { return sameVersion(o) && fileId == o.fileId; }
    };

    HRESULT quickStamp(Stamp& stamp) const;
    // seam: how the test builds name the platform calls (kit/fault_points.h).
    HRESULT fullStamp(Stamp& stamp, const wchar_t* seam = L"") const;
    HRESULT stampOf(HANDLE file, Stamp& stamp, const wchar_t* seam = L"") const;
    HRESULT refresh(bool forWrite);
    HRESULT load();
    HRESULT save();
    HRESULT replaceWith(const std::wstring& temp);
    HRESULT lock();
    HRESULT failIo(DWORD error, const wchar_t* what) const;

    std::wstring path_;
    Document doc_;
    Encoding encoding_ = Encoding::Utf16Le;
    Stamp loaded_{};
    bool current_ = false;
    comkit::UniqueHandle mutex_;
};

}  // namespace korvex::ini
