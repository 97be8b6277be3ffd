// Feeds arbitrary bytes to the two parsers that see text from outside
// (an INI file anyone can edit). Besides not crashing, whatever they accept
// must be the one canonical spelling of what they decoded, or a damaged text
// could be read as valid.
#include "sealed_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kc = korvex::crypto;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto decoded = kc::base64Decode(text)) check(kc::base64Encode(*decoded) == text);

    // Any bytes are also an encoding input: encode then decode must give them back.
    const std::span<const std::uint8_t> bytes(data, size);
    const auto back = kc::base64Decode(kc::base64Encode(bytes));
    check(back && std::equal(back->begin(), back->end(), bytes.begin(), bytes.end()));

    // The same bytes read as UTF-16LE units, and as "v1:" + ASCII so that the
    // fuzzer does not have to discover the prefix before reaching the decoder.
    if (const auto wide = kc::fromUtf16LeBytes(bytes.first(size & ~std::size_t{1}))) {
        for (const std::u16string& sealed :
             {*wide, std::u16string(kc::kSealedPrefix) + std::u16string(text.begin(), text.end())}) {
            if (const auto f = kc::unframe(sealed)) {
                std::vector<std::uint8_t> cipherAndTag = f->ciphertext;
                cipherAndTag.insert(cipherAndTag.end(), f->tag.begin(), f->tag.end());
                check(kc::frame(f->nonce, cipherAndTag) == sealed);
            }
        }
    }
    return 0;
}
