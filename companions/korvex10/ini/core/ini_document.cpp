#include "ini_document.h"

#include <stdexcept>
#include <utility>

namespace korvex::ini {
namespace {

bool containsAny(std::u16string_view s, std::u16string_view units)
{
    for (const char16_t c : s)
        if (units.find(c) != std::u16string_view::npos) return true;
    return false;
}

// Geometric growth as push_back would do it; reserve(size() + 1) alone would
// reallocate on every call and make repeated additions quadratic. Reserving
// first means the later insert cannot throw after the tables were updated.
template <class T>
void reserveOneMore(std::vector<T>& v)
{
    if (v.size() == v.capacity()) v.reserve(v.size() < 4 ? 8 : v.size() * 2);
}

void requireValid(const std::optional<std::string>& error)
{
    if (error) throw std::invalid_argument(*error);
}

}  // namespace

char16_t asciiFold(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

std::optional<std::string> checkSectionName(std::u16string_view name)
{
    if (name.empty()) return "The section name is empty.";
    if (containsAny(name, u"]")) return "A section name cannot contain ']'.";
    if (containsAny(name, u"\r\n")) return "A section name cannot contain a line break.";
    if (containsAny(name, std::u16string_view(u"\0", 1))) return "A section name cannot contain a NUL character.";
    return std::nullopt;
}

std::optional<std::string> checkKeyName(std::u16string_view name)
{
    // A key written as "[..." or ";..." would read back as a header or a
    // comment, and one holding '=' would read back as a shorter key.
    if (name.empty()) return "The key name is empty.";
    if (name.front() == u'[') return "A key name cannot start with '['.";
    if (name.front() == u';') return "A key name cannot start with ';'.";
    if (containsAny(name, u"=")) return "A key name cannot contain '='.";
    if (containsAny(name, u"\r\n")) return "A key name cannot contain a line break.";
    if (containsAny(name, std::u16string_view(u"\0", 1))) return "A key name cannot contain a NUL character.";
    return std::nullopt;
}

std::optional<std::string> checkValue(std::u16string_view value)
{
    if (containsAny(value, u"\r\n")) return "A value cannot contain a line break.";
    return std::nullopt;
}

template <class Same>
std::uint32_t Document::NameTable::find(std::uint32_t hash, Same same) const
{
    if (count_ == 0) return kNone;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.value == kNone) return kNone;
        if (slot.hash == hash && same(slot.value)) return slot.value;
    }
}

template <class Same>
bool Document::NameTable::insertIfAbsent(std::uint32_t hash, std::uint32_t value, Same same)
{
    // At most half full, so every probe sequence meets an empty slot.
    if ((count_ + 1) * 2 > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.value == kNone) {
            slot = Slot{hash, value};
            ++count_;
            return true;
        }
        if (slot.hash == hash && same(slot.value)) return false;
    }
}

void Document::NameTable::grow()
{
    std::vector<Slot> bigger(slots_.empty() ? 8 : slots_.size() * 2);
    const std::size_t mask = bigger.size() - 1;
    for (const Slot& slot : slots_) {
        if (slot.value == kNone) continue;
        std::size_t i = slot.hash & mask;
        while (bigger[i].value != kNone) i = (i + 1) & mask;
        bigger[i] = slot;
    }
    slots_.swap(bigger);
}

Document::Document(FoldFn fold) : fold_(fold ? fold : asciiFold)
{
    blocks_.emplace_back();  // the lines before the first header
}

// FNV-1a over the folded code units, then a 64-bit finaliser so that the low
// bits the table indexes with depend on every unit.
std::uint32_t Document::hashName(std::u16string_view name) const
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const char16_t c : name) {
        h ^= fold_(c);
        h *= 0x100000001b3ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h);
}

bool Document::sameName(std::u16string_view a, std::u16string_view b) const
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && fold_(a[i]) != fold_(b[i])) return false;
    return true;
}

std::u16string_view Document::text(const Line& line) const
{
    if (line.owned) return owned_[line.at];
    return std::u16string_view(source_.data() + line.at, line.size);
}

std::uint32_t Document::own(std::u16string line)
{
    owned_.push_back(std::move(line));
    return static_cast<std::uint32_t>(owned_.size() - 1);
}

std::uint32_t Document::findBlock(std::u16string_view section) const
{
    return sectionIndex_.find(hashName(section), [&](std::uint32_t b) { return sameName(nameOf(blocks_[b]), section); });
}

std::uint32_t Document::findEntry(const Block& block, std::u16string_view key) const
{
    return block.keys.find(hashName(key), [&](std::uint32_t l) { return sameName(keyOf(block.lines[l]), key); });
}

std::u16string_view Document::eolText(Eol eol)
{
    // Indexed by Eol.
    constexpr std::u16string_view texts[] = {u"", u"\n", u"\r\n", u"\r"};
    return texts[static_cast<std::uint8_t>(eol)];
}

Document Document::parse(std::u16string source, FoldFn fold)
{
    if (source.size() >= NameTable::kNone) throw std::length_error("INI text too large");
    Document doc(fold);
    doc.source_ = std::move(source);
    const std::u16string_view text = doc.source_;
    bool eolSeen = false;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t j = i;
        while (j < n && text[j] != u'\n' && text[j] != u'\r') ++j;
        Eol eol = Eol::None;
        std::size_t next = j;
        if (j < n) {
            if (text[j] == u'\n') {
                eol = Eol::Lf;
                next = j + 1;
            } else if (j + 1 < n && text[j + 1] == u'\n') {
                eol = Eol::CrLf;
                next = j + 2;
            } else {
                eol = Eol::Cr;
                next = j + 1;
            }
            if (!eolSeen) {
                doc.newline_ = eol;
                eolSeen = true;
            }
        }
        doc.addParsedLine(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j - i), eol);
        i = next;
    }
    return doc;
}

void Document::addParsedLine(std::uint32_t at, std::uint32_t size, Eol eol)
{
    const std::u16string_view s(source_.data() + at, size);
    Line line;
    line.at = at;
    line.size = size;
    line.eol = eol;
    if (!s.empty() && s.front() == u'[') {
        const std::size_t close = s.find(u']', 1);
        if (close != std::u16string_view::npos) {
            line.kind = Kind::Header;
            line.nameSize = static_cast<std::uint32_t>(close - 1);
            const auto index = static_cast<std::uint32_t>(blocks_.size());
            blocks_.emplace_back().lines.push_back(line);
            const std::u16string_view name = s.substr(1, close - 1);
            blocks_.back().live = sectionIndex_.insertIfAbsent(
                hashName(name), index, [&](std::uint32_t b) { return sameName(nameOf(blocks_[b]), name); });
            return;
        }
    } else if (!s.empty() && s.front() == u';') {
        line.kind = Kind::Comment;
    } else {
        const std::size_t eq = s.find(u'=');
        if (eq != std::u16string_view::npos && eq > 0) {
            Block& block = blocks_.back();
            const auto index = static_cast<std::uint32_t>(block.lines.size());
            line.kind = Kind::Entry;
            line.nameSize = static_cast<std::uint32_t>(eq);
            if (block.live) {
                const std::u16string_view key = s.substr(0, eq);
                line.primary = block.keys.insertIfAbsent(
                    hashName(key), index, [&](std::uint32_t l) { return sameName(keyOf(block.lines[l]), key); });
            }
            block.lastEntry = index;
            block.lines.push_back(line);
            return;
        }
    }
    blocks_.back().lines.push_back(line);
}

std::size_t Document::size() const
{
    std::size_t total = 0;
    pieces([&](std::u16string_view piece) { total += piece.size(); });
    return total;
}

std::u16string Document::serialise() const
{
    std::u16string out;
    out.reserve(size());
    pieces([&](std::u16string_view piece) { out += piece; });
    return out;
}

std::optional<std::u16string_view> Document::find(std::u16string_view section, std::u16string_view key) const
{
    const std::uint32_t b = findBlock(section);
    if (b == NameTable::kNone) return std::nullopt;
    const Block& block = blocks_[b];
    const std::uint32_t l = findEntry(block, key);
    if (l == NameTable::kNone) return std::nullopt;
    const Line& line = block.lines[l];
    return text(line).substr(line.nameSize + 1);
}

bool Document::hasSection(std::u16string_view section) const
{
    return findBlock(section) != NameTable::kNone;
}

std::vector<std::u16string> Document::sections() const
{
    std::vector<std::u16string> out;
    out.reserve(sectionIndex_.size());
    for (const Block& block : blocks_)
        if (block.live) out.emplace_back(nameOf(block));
    return out;
}

std::vector<std::u16string> Document::keys(std::u16string_view section) const
{
    std::vector<std::u16string> out;
    const std::uint32_t b = findBlock(section);
    if (b == NameTable::kNone) return out;
    const Block& block = blocks_[b];
    out.reserve(block.keys.size());
    for (const Line& line : block.lines)
        if (line.primary) out.emplace_back(keyOf(line));
    return out;
}

// Only the document's last line can lack a terminator; anything placed after
// it must not be glued onto it.
void Document::terminateLastLine()
{
    std::vector<Line>& lines = blocks_.back().lines;
    if (!lines.empty() && lines.back().eol == Eol::None) lines.back().eol = newline_;
}

void Document::set(std::u16string_view section, std::u16string_view key, std::u16string_view value)
{
    requireValid(checkSectionName(section));
    requireValid(checkKeyName(key));
    requireValid(checkValue(value));

    // Every step that can throw comes before the first visible change; at
    // worst an unreferenced string is left in owned_.
    std::u16string entryText;
    entryText.reserve(key.size() + 1 + value.size());
    entryText.append(key).append(1, u'=').append(value);
    Line entry;
    entry.kind = Kind::Entry;
    entry.nameSize = static_cast<std::uint32_t>(key.size());
    entry.eol = newline_;
    entry.owned = true;
    entry.primary = true;
    const auto never = [](std::uint32_t) { return false; };  // known to be absent

    const std::uint32_t b = findBlock(section);
    if (b == NameTable::kNone) {
        Line header;
        header.kind = Kind::Header;
        header.nameSize = static_cast<std::uint32_t>(section.size());
        header.eol = newline_;
        header.owned = true;
        std::u16string headerText;
        headerText.reserve(section.size() + 2);
        headerText.append(1, u'[').append(section).append(1, u']');

        Block block;
        block.live = true;
        block.lines.reserve(2);
        header.at = own(std::move(headerText));
        entry.at = own(std::move(entryText));
        block.lines.push_back(header);
        block.lines.push_back(entry);
        block.lastEntry = 1;
        block.keys.insertIfAbsent(hashName(key), 1, never);
        reserveOneMore(blocks_);
        sectionIndex_.insertIfAbsent(hashName(section), static_cast<std::uint32_t>(blocks_.size()), never);
        terminateLastLine();
        blocks_.push_back(std::move(block));
        return;
    }

    Block& block = blocks_[b];
    const std::uint32_t existing = findEntry(block, key);
    if (existing != NameTable::kNone) {
        Line& line = block.lines[existing];
        if (line.owned) {
            // Reuse the buffer: a value set over and over costs no allocation.
            std::u16string& s = owned_[line.at];
            s.resize(line.nameSize + 1);
            s.append(value);
        } else {
            std::u16string s;
            s.reserve(line.nameSize + 1 + value.size());
            s.append(keyOf(line)).append(1, u'=').append(value);
            line.at = own(std::move(s));
            line.owned = true;
        }
        return;
    }
    // Right after the last entry, so the comments and blank lines that close
    // the section keep closing it; only those non-entry lines shift, which
    // leaves every index in `block.keys` valid.
    const std::uint32_t pos = block.lastEntry + 1;
    reserveOneMore(block.lines);
    entry.at = own(std::move(entryText));
    block.keys.insertIfAbsent(hashName(key), pos, never);
    Line& before = block.lines[pos - 1];
    if (before.eol == Eol::None) before.eol = newline_;
    block.lines.insert(block.lines.begin() + pos, entry);
    block.lastEntry = pos;
}

}  // namespace korvex::ini
