#include "text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace korvex::ini;

namespace {

const Latin1Codec latin1;

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

// A code page codec that substitutes '?' for what it cannot map, as some
// system converters do unless told not to.
struct LossyCodec : AnsiCodec {
    std::u16string decode(std::string_view b) const override { return latin1.decode(b); }
    std::optional<std::string> encode(std::u16string_view t) const override
    {
        std::string out;
        for (char16_t c : t) out.push_back(c > 0xFF ? '?' : static_cast<char>(c));
        return out;
    }
};

}  // namespace

TEST(CodecDetect, BomsSelectTheirEncoding)
{
    Decoded d = decode("", latin1);
    EXPECT_EQ(d.text, u"");
    EXPECT_EQ(d.encoding, Encoding::Utf16Le);

    d = decode(bytes({0xFF, 0xFE, 'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8}), latin1);
    EXPECT_EQ(d.text, u"a\U0001F600\xD800");
    EXPECT_EQ(d.encoding, Encoding::Utf16Le);

    d = decode(bytes({0xFF, 0xFE, 'a', 0, 'b'}), latin1);  // odd trailing byte
    EXPECT_EQ(d.text, u"a\xFFFD");

    d = decode(bytes({0xFE, 0xFF, 0, 'a', 0x20, 0xAC}), latin1);
    EXPECT_EQ(d.text, u"a\u20AC");
    EXPECT_EQ(d.encoding, Encoding::Utf16Le);  // written back little-endian

    d = decode(bytes({0xEF, 0xBB, 0xBF, 'k', '=', 0xC3, 0xA9}), latin1);
    EXPECT_EQ(d.text, u"k=\u00E9");
    EXPECT_EQ(d.encoding, Encoding::Utf8Bom);
}

TEST(CodecDetect, DamageAfterUtf8BomBecomesReplacementCharacters)
{
    EXPECT_EQ(decode(bytes({0xEF, 0xBB, 0xBF, 'a', 0xFF, 'b'}), latin1).text, u"a\xFFFD" u"b");
    EXPECT_EQ(decode(bytes({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 'x'}), latin1).text, u"\xFFFDx");
    EXPECT_EQ(decode(bytes({0xEF, 0xBB, 0xBF, 0xE0, 0x80}), latin1).text, u"\xFFFD\xFFFD");
    EXPECT_EQ(decode(bytes({0xEF, 0xBB, 0xBF, 0xE2, 0x82}), latin1).text, u"\xFFFD");
}

TEST(CodecDetect, WellFormedUtf8IncludingItsBoundaries)
{
    const struct { std::string in; std::u16string out; } cases[] = {
        {"plain [ascii]=1\r\n", u"plain [ascii]=1\r\n"},
        {bytes({0xC2, 0x80}), u"\u0080"},
        {bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80}), u"\u07FF\u0800"},
        {bytes({0xED, 0x9F, 0xBF, 0xEE, 0x80, 0x80}), u"\uD7FF\uE000"},
        {bytes({0xF0, 0x90, 0x80, 0x80}), u"\U00010000"},
        {bytes({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF"},
    };
    for (const auto& c : cases) {
        const Decoded d = decode(c.in, latin1);
        EXPECT_EQ(d.text, c.out);
        EXPECT_EQ(d.encoding, Encoding::Utf8);
    }
}

TEST(CodecDetect, IllFormedUtf8FallsBackToAnsi)
{
    const std::string cases[] = {
        bytes({'c', 'a', 'f', 0xE9}),          // Latin-1 text
        bytes({0x80}),                         // lone continuation
        bytes({0xC0, 0xAF}),                   // overlong
        bytes({0xE0, 0x80, 0xAF}),             // overlong
        bytes({0xED, 0xA0, 0x80}),             // encoded surrogate
        bytes({0xF4, 0x90, 0x80, 0x80}),       // above U+10FFFF
        bytes({0xF5, 0x80, 0x80, 0x80}),
        bytes({'a', 0xE2, 0x82}),              // truncated
    };
    for (const auto& in : cases) {
        const Decoded d = decode(in, latin1);
        EXPECT_EQ(d.encoding, Encoding::Ansi) << in.size();
        EXPECT_EQ(d.text, latin1.decode(in));
        EXPECT_FALSE(isValidUtf8(in));
    }
}

TEST(CodecEncode, WritesEachFormWithItsBom)
{
    Encoding e = Encoding::Utf16Le;
    EXPECT_EQ(encode(u"a\u20AC", e, latin1), bytes({0xFF, 0xFE, 'a', 0, 0xAC, 0x20}));
    e = Encoding::Utf8Bom;
    EXPECT_EQ(encode(u"\u00E9", e, latin1), bytes({0xEF, 0xBB, 0xBF, 0xC3, 0xA9}));
    e = Encoding::Utf8;
    EXPECT_EQ(encode(u"\U0001F600", e, latin1), bytes({0xF0, 0x9F, 0x98, 0x80}));
    e = Encoding::Ansi;
    EXPECT_EQ(encode(u"caf\u00E9", e, latin1), bytes({'c', 'a', 'f', 0xE9}));
    EXPECT_EQ(e, Encoding::Ansi);
}

TEST(CodecEncode, UnrepresentableTextSwitchesToUtf16Le)
{
    const struct { std::u16string text; Encoding from; } cases[] = {
        {u"\u20AC", Encoding::Ansi},
        {u"\u00C3\u00A9", Encoding::Ansi},   // would read back as UTF-8 "é"
        {u"\u00FF\u00FEx", Encoding::Ansi},  // would read back as a UTF-16LE BOM
        {u"a\xD800", Encoding::Utf8},
        {u"\xDC00", Encoding::Utf8Bom},
        {u"\uFEFFx", Encoding::Utf8},         // would be taken for a BOM
    };
    for (const auto& c : cases) {
        Encoding e = c.from;
        const std::string out = encode(c.text, e, latin1);
        EXPECT_EQ(e, Encoding::Utf16Le);
        EXPECT_EQ(out.substr(0, 2), "\xFF\xFE");
        EXPECT_EQ(decode(out, latin1).text, c.text);
    }
    Encoding e = Encoding::Ansi;
    const LossyCodec lossy;
    encode(u"\u20AC", e, lossy);
    EXPECT_EQ(e, Encoding::Utf16Le);
}

TEST(CodecEncode, EveryFormReadsBackAsTheSameText)
{
    const std::u16string texts[] = {
        u"", u"[s]\r\nk=v", u"caf\u00E9", u"\xD800 lone \xDFFF", u"\U0001F600", u"\uFEFF", std::u16string(1, u'\0'),
    };
    for (const auto& text : texts)
        for (Encoding from : {Encoding::Utf16Le, Encoding::Utf8Bom, Encoding::Utf8, Encoding::Ansi}) {
            Encoding e = from;
            const std::string out = encode(text, e, latin1);
            EXPECT_EQ(decode(out, latin1).text, text);
            if (from == Encoding::Utf16Le || from == Encoding::Utf8Bom) EXPECT_EQ(decode(out, latin1).encoding, e);
        }
}

TEST(CodecLatin1, MapsEveryByteAndRefusesAboveFF)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::u16string text = latin1.decode(all);
    ASSERT_EQ(text.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], char16_t(b));
    EXPECT_EQ(latin1.encode(text), all);
    EXPECT_EQ(latin1.encode(u"a\u0100"), std::nullopt);
}
