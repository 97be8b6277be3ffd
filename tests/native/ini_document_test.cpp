#include "ini_document.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace korvex::ini;
using Names = std::vector<std::u16string>;

namespace {

std::u16string valueOr(const Document& d, std::u16string_view s, std::u16string_view k)
{
    const auto v = d.find(s, k);
    return v ? std::u16string(*v) : u"<absent>";
}

std::u16string u16(int n)
{
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

std::u16string afterSet(std::u16string_view text, std::u16string_view s, std::u16string_view k,
                        std::u16string_view v)
{
    Document d = Document::parse(std::u16string(text));
    d.set(s, k, v);
    return d.serialise();
}

}  // namespace

TEST(IniRoundTrip, UntouchedDocumentsSerialiseToTheirInput)
{
    const std::u16string docs[] = {
        u"",
        u"\n",
        u"\r\n\r\n",
        u"\r\r\n\n\r",
        u"no newline at end",
        u"[a]\r\nk=v\r\n; comment\r\n\r\njunk line\r\n[b]\nx=1\ry=2",
        u"pre=amble\n[s]\n[s]\nk=1\nK=2\n[S]\nk=3\n",
        u"[unclosed\n[a]trailing text]\n=nokey\n  = spaced \n;[x]=y\n\t\n",
        std::u16string(u"[s]\nk=a\0b\n", 10) + u"\xD800 lone\n\xD83D\xDE00=pair",
        u"[" + std::u16string(100000, u'x') + u"]\n" + std::u16string(100000, u'=') + u"\n",
    };
    for (const auto& text : docs) EXPECT_EQ(Document::parse(text).serialise(), text);
}

TEST(IniParse, LineKindsFollowTheFirstCharacterAndTheFirstEquals)
{
    const Document d = Document::parse(
        u"top=level\n"
        u"[unclosed=1\n"
        u"[s]ignored]\n"
        u";c=1\n"
        u"=v\n"
        u" ;k=a=b;c[d]\n"
        u" [k= x \n"
        u"empty=\n"
        u"[t]\n");
    EXPECT_EQ(d.sections(), (Names{u"s", u"t"}));
    EXPECT_EQ(d.keys(u"s"), (Names{u" ;k", u" [k", u"empty"}));
    EXPECT_EQ(valueOr(d, u"s", u" ;k"), u"a=b;c[d]");
    EXPECT_EQ(valueOr(d, u"s", u" [k"), u" x ");
    EXPECT_EQ(valueOr(d, u"s", u"empty"), u"");
    EXPECT_EQ(valueOr(d, u"s", u";c"), u"<absent>");
    EXPECT_EQ(valueOr(d, u"s", u"k"), u"<absent>");   // no trimming
    EXPECT_FALSE(d.hasSection(u"unclosed=1"));
    EXPECT_TRUE(d.keys(u"t").empty());
    EXPECT_TRUE(d.keys(u"missing").empty());
}

TEST(IniParse, NamesAndValuesAreExactThroughSetSerialiseParse)
{
    struct Case { std::u16string section, key, value; };
    const Case cases[] = {
        {u" padded ", u" key ", u"  both ends  "},
        {u"[s", u"k]", u"[v]"},
        {u"a=b", u"a;b", u"=;[]"},
        {u";s", u"\t", u""},
        {u"\xD800", u"\xDFFF", std::u16string(u"nul\0inside", 10)},
    };
    Document d;
    for (const auto& c : cases) d.set(c.section, c.key, c.value);
    const Document back = Document::parse(d.serialise());
    for (const auto& c : cases) {
        EXPECT_EQ(valueOr(d, c.section, c.key), c.value);
        EXPECT_EQ(valueOr(back, c.section, c.key), c.value);
        EXPECT_EQ(back.keys(c.section), (Names{c.key}));
    }
    EXPECT_EQ(back.sections(), d.sections());
    EXPECT_EQ(back.serialise(), d.serialise());
}

TEST(IniCase, MatchingIgnoresCaseAndKeepsTheFirstSpelling)
{
    Document d = Document::parse(u"[Sec]\nKey=1\n");
    EXPECT_EQ(valueOr(d, u"sEC", u"kEY"), u"1");
    d.set(u"SEC", u"KEY", u"2");
    d.set(u"sec", u"Other", u"3");
    d.set(u"sec", u"OTHER", u"4");
    d.set(u"New", u"a", u"5");
    d.set(u"NEW", u"A", u"6");
    EXPECT_EQ(d.serialise(), u"[Sec]\nKey=2\nOther=4\n[New]\na=6\n");
    EXPECT_EQ(d.sections(), (Names{u"Sec", u"New"}));
    EXPECT_TRUE(d.hasSection(u"nEw"));
}

TEST(IniCase, DefaultFoldIsAsciiOnlyAndAnInjectedFoldIsUsedEverywhere)
{
    const std::u16string text = u"[\u00E9t\u00E9]\n\u00E9=1\n";
    const Document ascii = Document::parse(text);
    EXPECT_FALSE(ascii.hasSection(u"\u00C9T\u00C9"));
    EXPECT_TRUE(ascii.hasSection(u"\u00E9T\u00E9"));

    const FoldFn latin1 = [](char16_t c) -> char16_t {
        return (c >= 0xE0 && c <= 0xFE && c != 0xF7) ? static_cast<char16_t>(c - 0x20) : asciiFold(c);
    };
    const Document parsed = Document::parse(text, latin1);
    EXPECT_EQ(valueOr(parsed, u"\u00C9T\u00C9", u"\u00C9"), u"1");

    Document built(latin1);
    built.set(u"\u00E9", u"k", u"1");
    built.set(u"\u00C9", u"K", u"2");
    EXPECT_EQ(built.sections(), (Names{u"\u00E9"}));
    EXPECT_EQ(valueOr(built, u"\u00E9", u"k"), u"2");
}

TEST(IniDuplicates, FirstSectionAndFirstEntryWinForEveryOperation)
{
    Document d = Document::parse(u"[s]\nk=1\nK=2\n[S]\nk=3\nj=4\n");
    EXPECT_EQ(valueOr(d, u"s", u"k"), u"1");
    EXPECT_EQ(valueOr(d, u"s", u"j"), u"<absent>");
    EXPECT_EQ(d.sections(), (Names{u"s"}));
    EXPECT_EQ(d.keys(u"S"), (Names{u"k"}));

    d.set(u"S", u"K", u"9");
    d.set(u"s", u"j", u"5");  // goes to the first section, after its last entry line
    EXPECT_EQ(d.serialise(), u"[s]\nk=9\nK=2\nj=5\n[S]\nk=3\nj=4\n");
    EXPECT_EQ(d.keys(u"s"), (Names{u"k", u"j"}));
    EXPECT_EQ(valueOr(d, u"s", u"j"), u"5");
}

TEST(IniInsert, NewKeyGoesAfterTheLastEntryOfItsSection)
{
    EXPECT_EQ(afterSet(u"[a]\nx=1\n; note\n\n[b]\ny=2\n", u"a", u"z", u"3"),
              u"[a]\nx=1\nz=3\n; note\n\n[b]\ny=2\n");
    EXPECT_EQ(afterSet(u"[a]\n; only a comment\n\n[b]\n", u"a", u"k", u"v"),
              u"[a]\nk=v\n; only a comment\n\n[b]\n");
    EXPECT_EQ(afterSet(u"[a]\nx=1\n;last line", u"a", u"y", u"2"), u"[a]\nx=1\ny=2\n;last line");
}

TEST(IniInsert, ManyInsertsKeepEarlierKeysAddressable)
{
    Document d = Document::parse(u"[a]\nfirst=0\n; tail\n\n[b]\nk=b\n");
    for (int i = 1; i <= 300; ++i) d.set(u"a", u"k" + u16(i), u"v");
    d.set(u"a", u"first", u"changed");
    const Names keys = d.keys(u"a");
    ASSERT_EQ(keys.size(), 301u);
    EXPECT_EQ(keys.front(), u"first");
    EXPECT_EQ(keys[1], u"k1");
    EXPECT_EQ(valueOr(d, u"a", u"first"), u"changed");
    EXPECT_EQ(valueOr(d, u"b", u"k"), u"b");
    const std::u16string out = d.serialise();
    EXPECT_EQ(out.substr(0, 20), u"[a]\nfirst=changed\nk1");
    EXPECT_NE(out.find(u"=v\n; tail\n\n[b]\nk=b\n"), std::u16string::npos);
    EXPECT_EQ(Document::parse(out).keys(u"A"), keys);
}

TEST(IniInsert, NewSectionIsAppendedWithTheDocumentsLineEnd)
{
    EXPECT_EQ(afterSet(u"[a]\nx=1\n", u"b", u"k", u"v"), u"[a]\nx=1\n[b]\nk=v\n");
    EXPECT_EQ(afterSet(u"[a]\rx=1\r\n", u"b", u"k", u"v"), u"[a]\rx=1\r\n[b]\rk=v\r");
    EXPECT_EQ(afterSet(u"", u"s", u"k", u"v"), u"[s]\r\nk=v\r\n");
    // A last line without terminator gets one before anything follows it.
    EXPECT_EQ(afterSet(u"; hello", u"s", u"k", u"v"), u"; hello\r\n[s]\r\nk=v\r\n");
    EXPECT_EQ(afterSet(u"[a]", u"a", u"k", u"v"), u"[a]\r\nk=v\r\n");
    EXPECT_EQ(afterSet(u"[a]\nx=1", u"a", u"y", u"2"), u"[a]\nx=1\ny=2\n");
    EXPECT_EQ(afterSet(u"[a]\nx=1", u"b", u"y", u"2"), u"[a]\nx=1\n[b]\ny=2\n");
}

TEST(IniEnumerate, SectionsAndKeysComeInFileOrderIncludingAdditions)
{
    Document d = Document::parse(u"k=pre\n[z]\nb=1\na=2\n[y]\n[x]\nc=3\n");
    d.set(u"w", u"k", u"v");
    d.set(u"z", u"0", u"v");
    d.set(u"y", u"m", u"v");
    EXPECT_EQ(d.sections(), (Names{u"z", u"y", u"x", u"w"}));
    EXPECT_EQ(d.keys(u"z"), (Names{u"b", u"a", u"0"}));
    EXPECT_EQ(d.keys(u"y"), (Names{u"m"}));
}

TEST(IniValidation, RefusalsAndAcceptances)
{
    const std::u16string nul(1, u'\0');
    const auto refused = [](const std::optional<std::string>& e) { return e && !e->empty(); };
    for (const auto& bad : Names{u"", u"a]b", u"]", u"a\rb", u"a\n", u"x" + nul})
        EXPECT_TRUE(refused(checkSectionName(bad))) << bad.size();
    for (const auto& ok : Names{u"a", u" [a", u"a=b", u";", u"\xD800"})
        EXPECT_FALSE(checkSectionName(ok));

    for (const auto& bad : Names{u"", u"a=b", u"=", u"[k", u";k", u"k\r", u"\nk", nul + u"k"})
        EXPECT_TRUE(refused(checkKeyName(bad))) << bad.size();
    for (const auto& ok : Names{u"k", u" [k", u" ;k", u"k]", u"k;"})
        EXPECT_FALSE(checkKeyName(ok));

    EXPECT_TRUE(refused(checkValue(u"a\rb")));
    EXPECT_TRUE(refused(checkValue(u"a\n")));
    EXPECT_FALSE(checkValue(u""));
    EXPECT_FALSE(checkValue(u"=;[]" + nul));
}

TEST(IniValidation, SetRefusesInvalidInputAndLeavesTheDocumentAlone)
{
    const std::u16string text = u"[s]\nk=v\n";
    Document d = Document::parse(text);
    EXPECT_THROW(d.set(u"s]", u"k", u"v"), std::invalid_argument);
    EXPECT_THROW(d.set(u"s", u"k=", u"v"), std::invalid_argument);
    EXPECT_THROW(d.set(u"s", u"k", u"v\n"), std::invalid_argument);
    EXPECT_THROW(d.set(u"new", u"", u"v"), std::invalid_argument);
    EXPECT_EQ(d.serialise(), text);
    EXPECT_FALSE(d.hasSection(u"new"));
}

TEST(IniScale, HundredThousandKeysParseAndResolve)
{
    std::u16string text = u"[big]\r\n";
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const std::u16string num = u16(i);
        text += u"key" + num + u"=" + std::u16string(num.rbegin(), num.rend()) + u"\r\n";
    }
    Document d = Document::parse(text);
    EXPECT_EQ(d.keys(u"big").size(), std::size_t(n));
    for (int i = 0; i < n; i += 997) {
        const std::u16string num = u16(i);
        EXPECT_EQ(valueOr(d, u"BIG", u"KEY" + num), std::u16string(num.rbegin(), num.rend()));
    }
    d.set(u"big", u"key5", u"x");
    d.set(u"big", u"added", u"y");
    EXPECT_EQ(valueOr(d, u"big", u"key5"), u"x");
    const std::u16string out = d.serialise();
    EXPECT_EQ(out.size(), text.size() + 9);
    const std::u16string tail = u"key99999=99999\r\nadded=y\r\n";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}
