// Arbitrary bytes through the whole read/modify/write path of the INI core.
// Invariants: an untouched document serialises to its input; a serialised
// document reparses to the same view (sections, keys, values); whatever set()
// stores reads back, also after a reparse; encoding never loses text.
#include "ini_document.h"
#include "text_codec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace korvex::ini;

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_ini invariant broken: %s\n", what);
        std::abort();
    }
}

void requireSameView(const Document& a, const Document& b)
{
    const auto sections = a.sections();
    require(sections == b.sections(), "sections differ after reparse");
    for (const auto& s : sections) {
        const auto keys = a.keys(s);
        require(keys == b.keys(s), "keys differ after reparse");
        for (const auto& k : keys) {
            const auto va = a.find(s, k);
            const auto vb = b.find(s, k);
            require(va && vb && *va == *vb, "value differs after reparse");
        }
    }
}

std::u16string foldAll(std::u16string_view s)
{
    std::u16string out(s);
    for (auto& c : out) c = asciiFold(c);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Latin1Codec latin1;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Decoded decoded = decode(bytes, latin1);
    const std::u16string& text = decoded.text;

    Document first = Document::parse(text);
    const std::u16string once = first.serialise();
    require(once == text, "untouched document does not serialise to its input");
    Document second = Document::parse(once);
    requireSameView(first, second);
    require(second.serialise() == once, "second serialisation differs");

    for (Encoding from : {Encoding::Utf16Le, Encoding::Utf8Bom, Encoding::Utf8, Encoding::Ansi}) {
        Encoding e = from;
        require(decode(encode(text, e, latin1), latin1).text == text, "encoding lost text");
    }

    // Fields separated by '|' drive set(): section, key, value, repeated.
    std::vector<std::u16string_view> fields;
    std::u16string_view rest = text;
    for (std::size_t bar; (bar = rest.find(u'|')) != std::u16string_view::npos; rest.remove_prefix(bar + 1))
        fields.push_back(rest.substr(0, bar));
    fields.push_back(rest);

    std::map<std::pair<std::u16string, std::u16string>, std::u16string> expected;
    for (std::size_t i = 1; i + 2 < fields.size() && i < 64; i += 3) {
        const auto s = fields[i], k = fields[i + 1], v = fields[i + 2];
        if (checkSectionName(s) || checkKeyName(k) || checkValue(v)) continue;
        first.set(s, k, v);
        const auto got = first.find(s, k);
        require(got && *got == v, "set value does not read back");
        expected[{foldAll(s), foldAll(k)}] = std::u16string(v);
    }
    Document reparsed = Document::parse(first.serialise());
    requireSameView(first, reparsed);
    for (const auto& [name, value] : expected) {
        const auto got = reparsed.find(name.first, name.second);
        require(got && *got == value, "set value lost after reparse");
    }
    return 0;
}

#ifdef INI_FUZZ_STANDALONE
// Replays inputs without libFuzzer, e.g. a crash file under a g++ build.
#include <fstream>
#include <iterator>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    }
    return 0;
}
#endif
