// A Windows image read from its bytes, without loading it: headers, data
// directories and RVA-to-file-offset mapping. Either bitness can be read by
// either build of a test (a 32-bit process under Wine cannot map a 64-bit
// image even as data).
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

class PeImage {
public:
    // Returns what is wrong with the image, or nothing.
    std::string parse(const std::string& bytes);

    WORD machine() const { return machine_; }
    // The data directory's RVA and size; 0 when the image has none.
    IMAGE_DATA_DIRECTORY directory(int index) const;
    // Where the byte at this RVA lies in the file.
    bool fileOffset(DWORD rva, size_t& offset) const;
    // Whether [offset, offset + size) lies inside the file.
    bool holds(size_t offset, size_t size) const { return offset <= bytes_->size() && size <= bytes_->size() - offset; }
    WORD u16(size_t offset) const;
    DWORD u32(size_t offset) const;
    // The NUL-terminated text at this RVA.
    bool cString(DWORD rva, std::string& text) const;
    // The bytes of resource type/name (first language); false when absent.
    bool resource(const std::wstring& type, WORD id, std::string& data) const;

private:
    const std::string* bytes_ = nullptr;
    WORD machine_ = 0;
    WORD sectionCount_ = 0;
    size_t sections_ = 0;
    size_t directories_ = 0;
    DWORD directoryCount_ = 0;
};

}  // namespace testsupport
