#include "analysis/GeometryScanner.h"

#include "analysis/TextLines.h"

#include <cstring>

namespace {

constexpr std::size_t NotFound = std::string_view::npos;

// Searches one marker in the text. The scan's position only grows, and every
// occurrence a search finds is used at once (a hit, or the step marker that
// moves the position past it), so each search starts behind everything the
// previous search of the same marker read. A marker that is absent from some
// position on stays absent for every later position and is not searched
// again. Each byte is thus read at most once per marker, however many passes
// the scan takes (the search-start marker, sought first in every pass, would
// otherwise cost a pass over the rest of the text each time).
//
// A marker holding a sign ("NSERCH=", "MAXIMUM GRADIENT =") is found by that
// byte: signs are rare in Firefly output (about one in 500 bytes), so memchr
// skips to the few candidates at vector speed and a compare settles each.
// memmem can skip at most a marker's length at a time, little for these
// short markers; the two long markers of letters and blanks it skips well.
class MarkerCursor
{
public:
    MarkerCursor(std::string_view text, std::string_view marker)
        : m_text(text), m_marker(marker), m_anchor(marker.find_last_of("=:-()"))
    {
    }

    // First occurrence that begins at `from` or later (0-based), or NotFound.
    // `from` never decreases from one call to the next.
    std::size_t findFrom(std::size_t from)
    {
        const std::size_t hit = m_exhausted ? NotFound : find(from);
        if (hit == NotFound)
            m_exhausted = true;
        return hit;
    }

private:
    std::size_t find(std::size_t from) const
    {
        const std::size_t size = m_text.size();
        if (from >= size || size - from < m_marker.size())
            return NotFound;
        const char *const text = m_text.data();
        if (m_anchor == NotFound) {
            const void *hit = memmem(text + from, size - from, m_marker.data(), m_marker.size());
            return hit ? std::size_t(static_cast<const char *>(hit) - text) : NotFound;
        }
        // Every occurrence from `from` on has its sign at `from + m_anchor`
        // or later and no later than the last place a whole marker fits.
        const std::size_t last = size - m_marker.size() + m_anchor;
        for (std::size_t at = from + m_anchor; at <= last;) {
            const void *sign = std::memchr(text + at, m_marker[m_anchor], last + 1 - at);
            if (!sign)
                return NotFound;
            at = std::size_t(static_cast<const char *>(sign) - text);
            const std::size_t start = at - m_anchor;
            if (std::memcmp(text + start, m_marker.data(), m_marker.size()) == 0)
                return start;
            ++at;
        }
        return NotFound;
    }

    std::string_view m_text;
    std::string_view m_marker;
    std::size_t m_anchor; // the sign's place in the marker, or NotFound
    bool m_exhausted = false;
};

// `count` bytes of the text from `start` (0-based), clamped to the text: a
// start before the first byte starts at the first byte and keeps its full
// count; a copy that would run past the end stops there.
std::string_view clampedPiece(std::string_view text, std::ptrdiff_t start, std::size_t count)
{
    const std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
    return from >= text.size() ? std::string_view() : text.substr(from, count);
}

// Sets `to` to prefix + piece in its own buffer, which is reused when no
// copy of the old text is held elsewhere: an entry costs no allocation then.
void assign(QByteArray &to, std::string_view prefix, std::string_view piece)
{
    to.resize(qsizetype(prefix.size() + piece.size()));
    char *const data = to.data();
    if (!prefix.empty()) // an empty view may have no bytes at all to point to
        std::memcpy(data, prefix.data(), prefix.size());
    if (!piece.empty())
        std::memcpy(data + prefix.size(), piece.data(), piece.size());
}

} // namespace

void GeometryScanner::ScanGeometryProgress(std::string_view text, const Sink &sink)
{
    // Positions are 0-based here; a marker "at A" in 1-based terms is at A - 1.
    MarkerCursor searchStart(text, SearchStartMarker);
    MarkerCursor step(text, StepMarker);
    MarkerCursor gradient(text, GradientMarker);
    MarkerCursor end(text, EndMarker);

    std::size_t p = 0;
    for (;;) {
        std::size_t hit = searchStart.findFrom(p);
        if (hit != NotFound) {
            m_logLine = QByteArray(BeginEntry.data(), BeginEntry.size());
        } else {
            const std::size_t a = step.findFrom(p);
            if (a != NotFound) {
                // "STEP " and 32 bytes from the marker's "=" sign.
                assign(m_stepPrefix, "STEP ", clampedPiece(text, static_cast<std::ptrdiff_t>(a) + 8, 32));
                p = a + 10;
            }
            hit = gradient.findFrom(p);
            if (hit != NotFound) {
                // The four bytes before the marker, the marker and 39 after it.
                assign(m_logLine, std::string_view(m_stepPrefix.constData(), std::size_t(m_stepPrefix.size())),
                       clampedPiece(text, static_cast<std::ptrdiff_t>(hit) - 4, 61));
            } else {
                hit = end.findFrom(p);
                if (hit == NotFound)
                    return;
                m_logLine = QByteArray(EndEntry.data(), EndEntry.size());
            }
        }
        sink(m_logLine);
        p = hit + 30;
    }
}

void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink)
{
    const QByteArray text = LoadCrLfText(fileName);
    scanner.ScanGeometryProgress(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), sink);
}
