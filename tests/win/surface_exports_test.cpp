// The export table of cardkeep.dll, read from the file's bytes: the four
// entry points by name at fixed ordinals, and nothing else.
#include "support/pe_image.h"
#include "surface.h"

#include <map>
#include <set>
#include <vector>

namespace surface {
namespace {

struct Exports {
    WORD machine = 0;
    std::string dllName;
    DWORD base = 0;
    DWORD functionCount = 0;
    std::map<std::string, DWORD> named;  // name -> ordinal
    std::vector<DWORD> unnamed;          // ordinals with code but no name
};

// Returns what is wrong with the image, or nothing.
std::string readExports(const std::string& file, Exports& out) {
    testsupport::PeImage image;
    if (std::string problem = image.parse(file); !problem.empty()) return problem;
    out.machine = image.machine();
    const DWORD exportRva = image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress;
    if (!exportRva) return "no export directory";
    auto at = [&](size_t offset, size_t size) { return image.holds(offset, size); };
    auto u16 = [&](size_t o) { return image.u16(o); };
    auto u32 = [&](size_t o) { return image.u32(o); };
    auto fileOffset = [&](DWORD rva, size_t& offset) { return image.fileOffset(rva, offset); };
    auto cString = [&](DWORD rva, std::string& text) { return image.cString(rva, text); };

    size_t dir = 0;
    if (!fileOffset(exportRva, dir) || !at(dir, sizeof(IMAGE_EXPORT_DIRECTORY))) return "export directory outside the file";
    if (!cString(u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, Name)), out.dllName)) return "unreadable export table name";
    out.base = u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, Base));
    out.functionCount = u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfFunctions));
    const DWORD nameCount = u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfNames));
    size_t functions = 0, names = 0, ordinals = 0;
    if (!fileOffset(u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfFunctions)), functions) ||
        !at(functions, out.functionCount * 4ull))
        return "unreadable export address table";
    if (nameCount && (!fileOffset(u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNames)), names) ||
                      !fileOffset(u32(dir + offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNameOrdinals)), ordinals) ||
                      !at(names, nameCount * 4ull) || !at(ordinals, nameCount * 2ull)))
        return "unreadable export name tables";

    std::set<DWORD> namedIndices;
    for (DWORD i = 0; i < nameCount; ++i) {
        std::string name;
        if (!cString(u32(names + i * 4), name)) return "unreadable export name " + std::to_string(i);
        const WORD index = u16(ordinals + i * 2);
        if (index >= out.functionCount) return "export " + name + " points past the address table";
        if (!out.named.emplace(name, out.base + index).second) return "export " + name + " is named twice";
        namedIndices.insert(index);
    }
    for (DWORD i = 0; i < out.functionCount; ++i)
        if (u32(functions + i * 4) && !namedIndices.count(i)) out.unnamed.push_back(out.base + i);
    return {};
}

class ExportTable : public BuiltFile {};

TEST_P(ExportTable, FourNamedEntryPointsAtFixedOrdinals) {
    const std::string bytes = testsupport::readBytes(path_);
    ASSERT_FALSE(bytes.empty()) << "cannot read " << where();
    Exports e;
    const std::string problem = readExports(bytes, e);
    ASSERT_EQ("", problem) << where();

    EXPECT_EQ(hex(GetParam().is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386), hex(e.machine))
        << "machine of " << where();
    EXPECT_EQ("cardkeep.dll", e.dllName) << "export table name of " << where();
    EXPECT_EQ(1u, e.base) << "ordinal base of " << where();
    EXPECT_EQ(4u, e.functionCount) << "export address table size of " << where();
    const std::map<std::string, DWORD> expected = {
        {"DllCanUnloadNow", 1}, {"DllGetClassObject", 2}, {"DllRegisterServer", 3}, {"DllUnregisterServer", 4}};
    for (const auto& [name, ordinal] : expected) {
        const auto found = e.named.find(name);
        if (found == e.named.end()) {
            ADD_FAILURE() << name << " is not exported by name from " << where();
            continue;
        }
        EXPECT_EQ(ordinal, found->second) << "ordinal of " << name << " in " << where();
    }
    for (const auto& [name, ordinal] : e.named)
        EXPECT_TRUE(expected.count(name)) << "unexpected export " << name << " @" << ordinal << " in " << where();
    for (DWORD ordinal : e.unnamed) ADD_FAILURE() << "unnamed export @" << ordinal << " in " << where();
}

INSTANTIATE_TEST_SUITE_P(Builds, ExportTable, ::testing::Values(kWin64, kWin32), buildName);

}  // namespace
}  // namespace surface
