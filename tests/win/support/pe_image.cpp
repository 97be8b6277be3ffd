#include "pe_image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace testsupport {

WORD PeImage::u16(size_t offset) const {
    WORD v = 0;
    if (holds(offset, 2)) std::memcpy(&v, bytes_->data() + offset, 2);
    return v;
}

DWORD PeImage::u32(size_t offset) const {
    DWORD v = 0;
    if (holds(offset, 4)) std::memcpy(&v, bytes_->data() + offset, 4);
    return v;
}

std::string PeImage::parse(const std::string& bytes) {
    bytes_ = &bytes;
    if (!holds(0, sizeof(IMAGE_DOS_HEADER)) || u16(0) != IMAGE_DOS_SIGNATURE) return "no MZ header";
    const size_t pe = u32(offsetof(IMAGE_DOS_HEADER, e_lfanew));
    if (!holds(pe, 4 + sizeof(IMAGE_FILE_HEADER)) || u32(pe) != IMAGE_NT_SIGNATURE) return "no PE signature";
    const size_t fileHeader = pe + 4;
    machine_ = u16(fileHeader + offsetof(IMAGE_FILE_HEADER, Machine));
    sectionCount_ = u16(fileHeader + offsetof(IMAGE_FILE_HEADER, NumberOfSections));
    const WORD optionalSize = u16(fileHeader + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader));
    const size_t optional = fileHeader + sizeof(IMAGE_FILE_HEADER);
    if (!holds(optional, optionalSize) || optionalSize < 2) return "truncated optional header";
    switch (u16(optional)) {
    case IMAGE_NT_OPTIONAL_HDR32_MAGIC: directories_ = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory); break;
    case IMAGE_NT_OPTIONAL_HDR64_MAGIC: directories_ = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory); break;
    default: return "unknown optional header magic " + std::to_string(u16(optional));
    }
    directoryCount_ = static_cast<DWORD>((optional + optionalSize - directories_) / sizeof(IMAGE_DATA_DIRECTORY));
    sections_ = optional + optionalSize;
    if (!holds(sections_, sectionCount_ * sizeof(IMAGE_SECTION_HEADER))) return "truncated section table";
    return {};
}

IMAGE_DATA_DIRECTORY PeImage::directory(int index) const {
    IMAGE_DATA_DIRECTORY d{};
    if (index < 0 || static_cast<DWORD>(index) >= directoryCount_) return d;
    const size_t at = directories_ + index * sizeof(IMAGE_DATA_DIRECTORY);
    d.VirtualAddress = u32(at + offsetof(IMAGE_DATA_DIRECTORY, VirtualAddress));
    d.Size = u32(at + offsetof(IMAGE_DATA_DIRECTORY, Size));
    return d;
}

bool PeImage::fileOffset(DWORD rva, size_t& offset) const {
    for (WORD s = 0; s < sectionCount_; ++s) {
        const size_t h = sections_ + s * sizeof(IMAGE_SECTION_HEADER);
        const DWORD va = u32(h + offsetof(IMAGE_SECTION_HEADER, VirtualAddress));
        const DWORD span = std::max(u32(h + offsetof(IMAGE_SECTION_HEADER, Misc.VirtualSize)),
                                    u32(h + offsetof(IMAGE_SECTION_HEADER, SizeOfRawData)));
        if (rva >= va && rva < va + span) {
            offset = u32(h + offsetof(IMAGE_SECTION_HEADER, PointerToRawData)) + (rva - va);
            return true;
        }
    }
    return false;
}

bool PeImage::cString(DWORD rva, std::string& text) const {
    size_t o = 0;
    if (!fileOffset(rva, o) || o >= bytes_->size()) return false;
    const size_t end = bytes_->find('\0', o);
    if (end == std::string::npos) return false;
    text = bytes_->substr(o, end - o);
    return true;
}

bool PeImage::resource(const std::wstring& type, WORD id, std::string& data) const {
    const IMAGE_DATA_DIRECTORY res = directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    size_t root = 0;
    if (!res.VirtualAddress || !fileOffset(res.VirtualAddress, root)) return false;
    // One level of the resource tree: the entry whose name or id matches,
    // as an offset from the tree's root. The high bit marks a subdirectory.
    auto entry = [&](size_t dir, const std::wstring* name, WORD number, DWORD& target) {
        if (!holds(dir, sizeof(IMAGE_RESOURCE_DIRECTORY))) return false;
        const WORD named = u16(dir + offsetof(IMAGE_RESOURCE_DIRECTORY, NumberOfNamedEntries));
        const WORD numbered = u16(dir + offsetof(IMAGE_RESOURCE_DIRECTORY, NumberOfIdEntries));
        for (unsigned i = 0; i < unsigned(named) + numbered; ++i) {
            const size_t e = dir + sizeof(IMAGE_RESOURCE_DIRECTORY) + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
            const DWORD key = u32(e), value = u32(e + 4);
            bool match = false;
            if (!name) {
                match = !(key & 0x80000000u) && (number == 0 || LOWORD(key) == number);
            } else if (key & 0x80000000u) {
                const size_t s = root + (key & 0x7FFFFFFFu);
                const WORD length = u16(s);
                if (length == name->size() && holds(s + 2, length * 2u))
                    match = std::memcmp(bytes_->data() + s + 2, name->data(), length * 2u) == 0;
            }
            if (match) {
                target = value;
                return true;
            }
        }
        return false;
    };
    DWORD byType = 0, byName = 0, byLanguage = 0;
    if (!entry(root, &type, 0, byType) || !(byType & 0x80000000u)) return false;
    if (!entry(root + (byType & 0x7FFFFFFFu), nullptr, id, byName) || !(byName & 0x80000000u)) return false;
    if (!entry(root + (byName & 0x7FFFFFFFu), nullptr, 0, byLanguage) || (byLanguage & 0x80000000u)) return false;
    const size_t leaf = root + byLanguage;
    size_t at = 0;
    const DWORD size = u32(leaf + offsetof(IMAGE_RESOURCE_DATA_ENTRY, Size));
    if (!fileOffset(u32(leaf + offsetof(IMAGE_RESOURCE_DATA_ENTRY, OffsetToData)), at) || !holds(at, size)) return false;
    data.assign(*bytes_, at, size);
    return true;
}

}  // namespace testsupport
