// The in-memory form of a wallet file: `[section]` headers and `key=value`
// lines, kept line by line so that whatever we do not change is written back
// exactly as it was read (comments, odd spacing, junk, duplicates, line ends).
//
// Line kinds, decided by the line as written and never by trimmed text:
//   header   first character '[' and a ']' somewhere after it; the name is the
//            text between the '[' and the first ']'
//   comment  first character ';'
//   entry    any other line with an '=' at position > 0; key before the first
//            '=', value after it
//   other    everything else, including '[' lines with no ']'
// Lines before the first header belong to no section and cannot be addressed.
// The first section of a name and the first entry of a key within it are the
// ones that count; later duplicates stay in the text untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::ini {

// Maps one UTF-16 code unit to its upper-case form; names compare equal when
// their folded code units are equal. Must be a pure function.
using FoldFn = char16_t (*)(char16_t);

char16_t asciiFold(char16_t c);

// Error message (English, for the user) or nullopt when acceptable.
std::optional<std::string> checkSectionName(std::u16string_view name);
std::optional<std::string> checkKeyName(std::u16string_view name);
std::optional<std::string> checkValue(std::u16string_view value);

class Document {
public:
    explicit Document(FoldFn fold = asciiFold);

    // Never fails on content; throws std::length_error only for texts of 2^32
    // code units or more. Takes the text by value: the document keeps it and
    // refers to it line by line, so a caller that moves its decoded buffer in
    // saves a copy of the whole file.
    static Document parse(std::u16string text, FoldFn fold = asciiFold);

    // Exactly the parsed text when nothing was set.
    std::u16string serialise() const;
    // The same text piece by piece, in order, for a caller that encodes it
    // without holding it whole twice; size() is its length in code units.
    template <class Piece>
    void pieces(Piece&& piece) const {
        for (const Block& block : blocks_)
            for (const Line& line : block.lines) {
                piece(text(line));
                piece(eolText(line.eol));
            }
    }
    std::size_t size() const;

    // The value of the first entry `key` in the first section `section`. The
    // view points into the document: it stays valid until the next set() and
    // not past a move or the destruction of the document.
    std::optional<std::u16string_view> find(std::u16string_view section, std::u16string_view key) const;

    // Replaces the value in place (name spelling untouched), or adds the key
    // after the section's last entry, or appends the section at the end.
    // Throws std::invalid_argument when a check*() function refuses an input.
    void set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // Unique names in file order, spelled as first written.
    std::vector<std::u16string> sections() const;
    std::vector<std::u16string> keys(std::u16string_view section) const;
    bool hasSection(std::u16string_view section) const;

private:
    enum class Eol : std::uint8_t { None, Lf, CrLf, Cr };
    enum class Kind : std::uint8_t { Header, Comment, Entry, Other };

    // A line is a span of source_ until set() rewrites it; then it is one of
    // owned_. Parsing so allocates nothing per line.
    struct Line {
        std::uint32_t at = 0;    // offset in source_, or index in owned_
        std::uint32_t size = 0;  // length of a source_ span
        std::uint32_t nameSize = 0;  // entry: key length; header: name length
        Kind kind = Kind::Other;
        Eol eol = Eol::None;
        bool owned = false;
        bool primary = false;  // the addressable entry of its key
    };

    // Open addressing over (hash, index) pairs; the names themselves stay in
    // the lines, so the table costs 16 bytes per name at most.
    class NameTable {
    public:
        static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
        template <class Same>
        std::uint32_t find(std::uint32_t hash, Same same) const;
        // Adds `value` unless an equal name is present; returns whether added.
        template <class Same>
        bool insertIfAbsent(std::uint32_t hash, std::uint32_t value, Same same);
        std::size_t size() const { return count_; }

    private:
        struct Slot {
            std::uint32_t hash = 0;
            std::uint32_t value = kNone;
        };
        void grow();
        std::vector<Slot> slots_;
        std::size_t count_ = 0;
    };

    // One block per header (block 0: the lines before the first header). Line
    // indices in `keys` stay valid on insertion because a new entry goes right
    // after `lastEntry`, and only non-entry lines ever follow that.
    struct Block {
        std::vector<Line> lines;  // lines[0] is the header, except in block 0
        NameTable keys;           // live blocks only
        std::uint32_t lastEntry = 0;  // 0 (the header) while there is none
        bool live = false;            // first block of its name
    };

    std::u16string_view text(const Line& line) const;
    static std::u16string_view eolText(Eol eol);
    std::u16string_view keyOf(const Line& line) const { return text(line).substr(0, line.nameSize); }
    std::u16string_view nameOf(const Block& block) const { return text(block.lines[0]).substr(1, block.lines[0].nameSize); }
    std::uint32_t hashName(std::u16string_view name) const;
    bool sameName(std::u16string_view a, std::u16string_view b) const;
    std::uint32_t findBlock(std::u16string_view section) const;
    std::uint32_t findEntry(const Block& block, std::u16string_view key) const;
    void addParsedLine(std::uint32_t at, std::uint32_t size, Eol eol);
    std::uint32_t own(std::u16string line);
    void terminateLastLine();

    FoldFn fold_;
    Eol newline_ = Eol::CrLf;  // for lines we add
    std::u16string source_;
    std::vector<std::u16string> owned_;
    std::vector<Block> blocks_;
    NameTable sectionIndex_;  // values: indices of live blocks
};

}  // namespace korvex::ini
