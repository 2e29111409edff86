#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Firefly output as the HOMO-LUMO report reads it: lines by their place, and
// marker lines found by comparing whole lines, letter case ignored (ASCII),
// blanks counting. Its operations:
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
