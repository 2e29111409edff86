#include "analysis/ReportText.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// Whether byte i ends a line break: an LF, or a CR without an LF after it.
bool endsBreak(std::string_view text, std::size_t i)
{
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
}

// How many line breaks end in the 64 bytes from `from`, which are followed
// by one more byte of the text: counted in one byte, which the compiler
// turns into vector code.
std::size_t breaksInBlock(const char *t, std::size_t from)
{
    unsigned char count = 0;
    for (std::size_t i = from; i < from + 64; ++i)
        count += (t[i] == '\n') | ((t[i] == '\r') & (t[i + 1] != '\n'));
    return count;
}

// How many line breaks end in [from, to).
std::size_t breaksIn(std::string_view text, std::size_t from, std::size_t to)
{
    std::size_t count = 0;
    for (; from + 64 <= to && from + 64 < text.size(); from += 64)
        count += breaksInBlock(text.data(), from);
    for (; from < to; ++from)
        count += endsBreak(text, from);
    return count;
}

// The start of the line `lines` lines below the one that begins at `start`
// (above it for a negative count), or nothing outside the text.
std::optional<std::size_t> walk(std::string_view text, std::size_t start, std::int64_t lines)
{
    const std::size_t size = text.size();
    const char *const t = text.data();
    for (; lines < 0; ++lines) {
        if (start == 0)
            return std::nullopt;
        std::size_t end = start - 1; // the line break above, back to its first byte
        if (t[end] == '\n' && end > 0 && t[end - 1] == '\r')
            --end;
        while (end > 0 && !isLineBreak(t[end - 1]))
            --end;
        start = end;
    }
    // Whole blocks of 64 bytes while they end fewer breaks than are left.
    while (lines > 0 && start + 64 < size) {
        const std::size_t breaks = breaksInBlock(t, start);
        if (std::int64_t(breaks) >= lines)
            break;
        lines -= std::int64_t(breaks);
        start += 64;
    }
    for (; lines > 0 && start < size; ++start) {
        if (endsBreak(text, start))
            --lines;
    }
    if (lines > 0 || start >= size) // a final line break adds no line
        return std::nullopt;
    return start;
}

// 16 bytes, compared all at once (GCC and Clang vector extensions: SSE2 on
// x86-64, NEON on ARM).
using Bytes16 = signed char __attribute__((vector_size(16)));
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "hits are read from the low byte of a word up");

Bytes16 bytesAt(const char *at)
{
    Bytes16 bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

} // namespace

bool MatchesMarker(std::string_view line, std::string_view marker)
{
    if (line.size() != marker.size())
        return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (lowerAscii(line[i]) != lowerAscii(marker[i]))
            return false;
    }
    return true;
}

std::optional<std::string_view> ListedLines::at(Line line) const
{
    if (line < 0 || line >= std::int64_t(m_lines.size()))
        return std::nullopt;
    return m_lines[std::size_t(line)];
}

std::optional<ListedLines::Line> ListedLines::findFrom(std::string_view marker, Line first) const
{
    for (std::size_t i = std::size_t(first); i < m_lines.size(); ++i) {
        if (MatchesMarker(m_lines[i], marker))
            return Line(i);
    }
    return std::nullopt;
}

OutputText::OutputText(std::string_view text, std::initializer_list<std::string_view> markers) : m_text(text)
{
    for (const std::string_view marker : markers) {
        m_markers.push_back({marker, marker.find_first_of("BGbg"), {}});
        assert(m_markers.back().anchor != std::string_view::npos);
    }
}

std::optional<OutputText::Line> OutputText::findAfter(std::string_view marker, Line line)
{
    const std::optional<std::size_t> start = startOf(line);
    return start ? findFrom(marker, *start + 1) : std::nullopt;
}

std::optional<std::string_view> OutputText::at(Line line)
{
    const std::optional<std::size_t> start = startOf(line);
    if (!start)
        return std::nullopt;
    std::size_t end = *start;
    while (end < m_text.size() && !isLineBreak(m_text[end]))
        ++end;
    return m_text.substr(*start, end - *start);
}

std::int64_t OutputText::number(Line line) const
{
    return std::int64_t(breaksIn(m_text, 0, line.start)) + line.below;
}

std::optional<OutputText::Line> OutputText::findFrom(std::string_view text, std::size_t from)
{
    const auto marker = std::find_if(m_markers.begin(), m_markers.end(), [&](const Marker &m) { return m.text == text; });
    assert(marker != m_markers.end()); // only those given are looked for
    // A recorded place at or after `from` is the first there: one recorded
    // later has its B or G further on, and so its start.
    for (std::size_t looked = 0;;) {
        const auto place = std::lower_bound(marker->starts.begin() + std::ptrdiff_t(looked), marker->starts.end(), from);
        if (place != marker->starts.end())
            return Line{*place, 0};
        if (m_scanned >= m_text.size())
            return std::nullopt;
        looked = marker->starts.size();
        scanOn();
    }
}

void OutputText::scanOn()
{
    const char *const t = m_text.data();
    const std::size_t size = m_text.size();
    const auto anchors = [](Bytes16 bytes) {
        const Bytes16 folded = bytes | 0x20;
        return (folded == 'b') | (folded == 'g'); // all ones where B, b, G or g
    };
    if (m_scanned + 64 > size) { // the last bytes, fewer than 64
        for (; m_scanned < size; ++m_scanned) {
            const char folded = char(t[m_scanned] | 0x20);
            if (folded == 'b' || folded == 'g')
                recordAt(m_scanned);
        }
        return;
    }
    // A block without a B or G costs a few vector instructions.
    for (; m_scanned + 64 <= size; m_scanned += 64) {
        const char *const block = t + m_scanned;
        const Bytes16 any = anchors(bytesAt(block)) | anchors(bytesAt(block + 16)) | anchors(bytesAt(block + 32))
                            | anchors(bytesAt(block + 48));
        std::uint64_t words[2];
        std::memcpy(words, &any, sizeof words);
        if ((words[0] | words[1]) != 0)
            break;
    }
    if (m_scanned + 64 > size)
        return;
    for (std::size_t part = 0; part < 4; ++part) {
        const Bytes16 hits = anchors(bytesAt(t + m_scanned + 16 * part));
        std::uint64_t words[2];
        std::memcpy(words, &hits, sizeof words);
        for (std::size_t word = 0; word < 2; ++word) {
            for (std::uint64_t bits = words[word]; bits != 0;) {
                const unsigned low = unsigned(__builtin_ctzll(bits)); // the lowest byte of all ones
                recordAt(m_scanned + 16 * part + 8 * word + low / 8);
                bits &= ~(std::uint64_t(0xff) << low);
            }
        }
    }
    m_scanned += 64;
}

void OutputText::recordAt(std::size_t anchorAt)
{
    const char *const t = m_text.data();
    const std::size_t size = m_text.size();
    const char folded = char(t[anchorAt] | 0x20);
    for (Marker &marker : m_markers) {
        const std::size_t length = marker.text.size();
        if (char(marker.text[marker.anchor] | 0x20) != folded || anchorAt < marker.anchor)
            continue;
        const std::size_t start = anchorAt - marker.anchor;
        if (start + length > size || (start > 0 && !isLineBreak(t[start - 1]))
            || (start + length < size && !isLineBreak(t[start + length])))
            continue;
        if (MatchesMarker(m_text.substr(start, length), marker.text))
            marker.starts.push_back(start);
    }
}

std::optional<std::size_t> OutputText::startOf(Line line)
{
    // The lines of the orbital printout are read one group further down each
    // time: walked on from the last one.
    std::optional<std::size_t> start;
    if (line.start == m_walked.start && line.below >= m_walked.below)
        start = walk(m_text, m_walkedStart, line.below - m_walked.below);
    else
        start = walk(m_text, line.start, line.below);
    if (start) {
        m_walked = line;
        m_walkedStart = *start;
    }
    return start;
}
