#include "analysis/ReportText.h"

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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
