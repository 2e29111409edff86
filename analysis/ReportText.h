#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

// Firefly output as the HOMO-LUMO report reads it: lines by their place, and
// marker lines found by comparing whole lines, letter case ignored (ASCII),
// blanks counting. Two forms with the same operations, so that one locator
// reads both:
//
//   Line                      a line; `line + n` is the line n below it, `line - n` above
//   find(marker)              the first line that matches, from the first line on
//   findAfter(marker, line)   the first one below `line`
//   at(line)                  the line's bytes; nothing when it lies outside the text
//   number(line)              its 0-based index, which may lie outside the text
//
// Plain C++, no Qt.

// Whole line equal to the marker, letter case ignored, blanks counting.
bool MatchesMarker(std::string_view line, std::string_view marker);

// A list of lines, as given.
class ListedLines
{
public:
    using Line = std::int64_t;

    explicit ListedLines(const std::vector<std::string_view> &lines) : m_lines(lines) {}

    std::optional<Line> find(std::string_view marker) const { return findFrom(marker, 0); }
    std::optional<Line> findAfter(std::string_view marker, Line line) const { return findFrom(marker, line + 1); }
    std::optional<std::string_view> at(Line line) const;
    std::int64_t number(Line line) const { return line; }

private:
    std::optional<Line> findFrom(std::string_view marker, Line first) const;

    const std::vector<std::string_view> &m_lines;
};

// A whole text in memory, split as SplitLineViews splits it (at CR, LF or
// CR LF; a final line break adds no empty line), without splitting it: the
// report reads a few lines near a few markers of an output of many
// thousands, so only the markers are searched for, and lines are counted
// only between a marker and a line read near it.
//
// The markers it is asked for are given first. One pass over the text, as
// far as the questions asked so far need, finds them all: it stops only at
// bytes that are B or G in either case, one of which stands in every marker
// line the report looks for (rare in Firefly output: bench/README.md), and
// takes 64 bytes at a time to find those.
class OutputText
{
public:
    struct Line
    {
        std::size_t start = 0; // where a line begins (one that was found)
        std::int64_t below = 0; // the line this many lines below it
        Line operator+(std::int64_t lines) const { return {start, below + lines}; }
        Line operator-(std::int64_t lines) const { return {start, below - lines}; }
    };

    // Each marker holds a B or G (or b, g) and is neither empty nor holds a line break.
    OutputText(std::string_view text, std::initializer_list<std::string_view> markers);

    std::optional<Line> find(std::string_view marker) { return findFrom(marker, 0); }
    std::optional<Line> findAfter(std::string_view marker, Line line);
    std::optional<std::string_view> at(Line line);
    std::int64_t number(Line line) const;

private:
    struct Marker
    {
        std::string_view text;
        std::size_t anchor;               // the place of its first B or G
        std::vector<std::size_t> starts;  // where it stands, in order, for the text scanned so far
    };

    std::optional<Line> findFrom(std::string_view marker, std::size_t from);
    // Scans on to the end of the next block of 64 bytes that holds a B or G,
    // or to the end, and records the markers found.
    void scanOn();
    void recordAt(std::size_t anchorAt);
    // Where the line begins, or nothing outside the text.
    std::optional<std::size_t> startOf(Line line);

    std::string_view m_text;
    std::vector<Marker> m_markers;
    std::size_t m_scanned = 0; // every marker whose B or G lies before this is recorded
    Line m_walked;             // the last line startOf found, and where it begins
    std::size_t m_walkedStart = 0;
};
