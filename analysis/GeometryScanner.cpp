#include "analysis/GeometryScanner.h"

#include "analysis/TextLines.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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
// So is one holding a Q ("EQUILIBRIUM GEOMETRY LOCATED"), rarer still (one in
// several kilobytes). memmem can skip at most a marker's length at a time,
// little for short markers; the long search-start marker it skips well.
class MarkerCursor
{
public:
    MarkerCursor(std::string_view text, std::string_view marker)
        : m_text(text), m_marker(marker), m_anchor(anchorOf(marker))
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
    static std::size_t anchorOf(std::string_view marker)
    {
        const std::size_t sign = marker.find_last_of("=:-()");
        return sign != NotFound ? sign : marker.find('Q');
    }

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

// The markers of a text in memory, found as the scan asks for them.
class TextMarkers
{
public:
    explicit TextMarkers(std::string_view text)
        : m_text(text)
        , m_searchStart(text, GeometryScanner::SearchStartMarker)
        , m_step(text, GeometryScanner::StepMarker)
        , m_gradient(text, GeometryScanner::GradientMarker)
        , m_end(text, GeometryScanner::EndMarker)
    {
    }

    std::size_t searchStart(std::size_t from) { return m_searchStart.findFrom(from); }
    std::size_t step(std::size_t from) { return m_step.findFrom(from); }
    std::size_t gradient(std::size_t from) { return m_gradient.findFrom(from); }
    std::size_t end(std::size_t from) { return m_end.findFrom(from); }
    // 32 bytes from a step marker's "=" sign; 61 from four bytes before a gradient marker.
    std::string_view stepCopy(std::size_t at) const { return clampedPiece(m_text, std::ptrdiff_t(at) + 8, 32); }
    std::string_view gradientCopy(std::size_t at) const { return clampedPiece(m_text, std::ptrdiff_t(at) - 4, 61); }

private:
    std::string_view m_text;
    MarkerCursor m_searchStart, m_step, m_gradient, m_end;
};

// Where the markers of a text stand, gathered from the text one view at a
// time, each with the bytes an entry copies next to it; then asked as the
// scan asks TextMarkers.
class MarkerPlaces
{
public:
    // A view of the text: it begins at `viewStart`; its bytes before
    // `pieceStart` were in the view before (at least 128 of them, where the
    // text has them), the rest are new. A marker is taken from the first
    // view that holds it and what its entry copies (the last view holds
    // what there is), so none is taken twice or cut short.
    void gather(std::string_view view, std::size_t viewStart, std::size_t pieceStart, bool last)
    {
        using GS = GeometryScanner;
        const std::size_t viewEnd = viewStart + view.size();
        const auto take = [&](std::size_t needEnd) { return needEnd > pieceStart && (last || needEnd <= viewEnd); };
        // A marker of `marker`'s text whose byte `offset` stands at `at`.
        const auto standsAt = [&](std::string_view marker, std::size_t at, std::size_t offset) {
            return at >= offset && at - offset + marker.size() <= view.size()
                   && view.compare(at - offset, marker.size(), marker) == 0;
        };
        // The search-start and end markers are long: searched for on their
        // own they are skipped over fastest. The step and gradient markers
        // both end in "=": one pass from sign to sign finds them both.
        const auto each = [&](std::string_view marker, std::vector<std::size_t> &places) {
            MarkerCursor cursor(view, marker);
            for (std::size_t at = cursor.findFrom(0); at != NotFound; at = cursor.findFrom(at + 1))
                if (take(viewStart + at + marker.size()))
                    places.push_back(viewStart + at);
        };
        each(GS::SearchStartMarker, m_searchStarts.places);
        each(GS::EndMarker, m_ends.places);
        const std::size_t stepSign = GS::StepMarker.size() - 1, gradientSign = GS::GradientMarker.size() - 1;
        for (std::size_t at = view.find('='); at != std::string_view::npos; at = view.find('=', at + 1)) {
            if (standsAt(GS::StepMarker, at, stepSign)) {
                const std::size_t local = at - stepSign, place = viewStart + local;
                if (take(place + 8 + 32))
                    keep(m_steps, place, clampedPiece(view, std::ptrdiff_t(local) + 8, 32));
            }
            // A gradient marker in the first four bytes of the text copies
            // from its first byte; elsewhere the view holds the four before it.
            if (standsAt(GS::GradientMarker, at, gradientSign)) {
                const std::size_t local = at - gradientSign, place = viewStart + local;
                if (take((place < 4 ? 0 : place - 4) + 61))
                    keep(m_gradients, place, clampedPiece(view, std::ptrdiff_t(local) - 4, 61));
            }
        }
    }

    // Room for the copies of a text of `bytes` bytes with markers as dense as
    // in the densest output (a step every 4 KiB), so that they are not moved
    // as they grow; untouched room costs no memory.
    void reserveFor(std::size_t bytes)
    {
        m_steps.copies.reserve(bytes / 128);
        m_gradients.copies.reserve(bytes / 64);
    }

    std::size_t searchStart(std::size_t from) { return next(m_searchStarts, from); }
    std::size_t step(std::size_t from) { return next(m_steps, from); }
    std::size_t gradient(std::size_t from) { return next(m_gradients, from); }
    std::size_t end(std::size_t from) { return next(m_ends, from); }
    std::string_view stepCopy(std::size_t) const { return copyAt(m_steps); }
    std::string_view gradientCopy(std::size_t) const { return copyAt(m_gradients); }

private:
    // One marker's places in order; the scan asks for ever later ones, so a
    // cursor walks them once. Copies lie one after the other in `copies`.
    struct Places
    {
        std::vector<std::size_t> places;
        std::vector<std::size_t> copyEnds;
        std::string copies;
        std::size_t cursor = 0;
    };

    static void keep(Places &to, std::size_t place, std::string_view copy)
    {
        to.places.push_back(place);
        to.copies.append(copy);
        to.copyEnds.push_back(to.copies.size());
    }

    static std::size_t next(Places &in, std::size_t from)
    {
        while (in.cursor < in.places.size() && in.places[in.cursor] < from)
            ++in.cursor;
        return in.cursor < in.places.size() ? in.places[in.cursor] : NotFound;
    }

    // The copy of the place the last `next` found.
    static std::string_view copyAt(const Places &in)
    {
        const std::size_t begin = in.cursor == 0 ? 0 : in.copyEnds[in.cursor - 1];
        return std::string_view(in.copies).substr(begin, in.copyEnds[in.cursor] - begin);
    }

    Places m_searchStarts, m_steps, m_gradients, m_ends;
};

// The text with each lone CR or LF made CR LF, into `into` after `room`
// bytes; returns its length.
std::size_t widenLineEnds(std::string_view text, std::vector<char> &into, std::size_t room)
{
    std::size_t lone = 0;
    ForEachLineBreak(text, [&](std::size_t, std::size_t length) { lone += length == 1 ? 1 : 0; });
    into.resize(room + text.size() + lone);
    char *w = into.data() + room;
    std::size_t start = 0;
    const auto copy = [&](std::size_t end) {
        std::memcpy(w, text.data() + start, end - start);
        w += end - start;
    };
    ForEachLineBreak(text, [&](std::size_t at, std::size_t length) {
        copy(at);
        *w++ = '\r';
        *w++ = '\n';
        start = at + length;
    });
    copy(text.size());
    return text.size() + lone;
}

} // namespace

template<typename Markers>
void GeometryScanner::scan(Markers &markers, const Sink &sink)
{
    // Positions are 0-based here; a marker "at A" in 1-based terms is at A - 1.
    std::size_t p = 0;
    for (;;) {
        std::size_t hit = markers.searchStart(p);
        if (hit != NotFound) {
            m_logLine = QByteArray(BeginEntry.data(), BeginEntry.size());
        } else {
            const std::size_t a = markers.step(p);
            if (a != NotFound) {
                // "STEP " and 32 bytes from the marker's "=" sign.
                assign(m_stepPrefix, "STEP ", markers.stepCopy(a));
                p = a + 10;
            }
            hit = markers.gradient(p);
            if (hit != NotFound) {
                // The four bytes before the marker, the marker and 39 after it.
                assign(m_logLine, std::string_view(m_stepPrefix.constData(), std::size_t(m_stepPrefix.size())),
                       markers.gradientCopy(hit));
            } else {
                hit = markers.end(p);
                if (hit == NotFound)
                    return;
                m_logLine = QByteArray(EndEntry.data(), EndEntry.size());
            }
        }
        sink(m_logLine);
        p = hit + 30;
    }
}

void GeometryScanner::ScanGeometryProgress(std::string_view text, const Sink &sink)
{
    TextMarkers markers(text);
    scan(markers, sink);
}

void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink,
                     qsizetype pieceBytes)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FileError("open", file);

    // Each view: the last Kept bytes of the CR LF text so far, then a piece.
    // A read lands behind room for them (and for a CR carried from the read
    // before), so a piece with CR LF ends is gathered where it was read.
    constexpr std::size_t Kept = 128;
    const std::size_t piece = std::size_t(qMax<qsizetype>(pieceBytes, 1));
    const std::unique_ptr<char[]> buffer(new char[Kept + 1 + piece]);
    std::vector<char> widened;
    std::string kept;
    MarkerPlaces places;
    places.reserveFor(std::size_t(qMax<qint64>(file.size(), 0)));
    std::size_t done = 0; // bytes of the CR LF text before the piece
    char lastByte = '\n';
    const auto gather = [&](char *text, std::size_t length, bool last) {
        std::memcpy(text - kept.size(), kept.data(), kept.size());
        const std::string_view view(text - kept.size(), kept.size() + length);
        places.gather(view, done - kept.size(), done, last);
        done += length;
        if (length > 0)
            lastByte = view.back();
        const std::size_t keep = std::min(Kept, view.size());
        kept.assign(view.data() + view.size() - keep, keep);
    };
    bool carriedCr = false; // a CR that ended the last read: an LF may follow it
    for (;;) {
        const qint64 n = file.read(buffer.get() + Kept + 1, qint64(piece));
        if (n < 0)
            throw FileError("read", file);
        if (n == 0)
            break;
        char *text = buffer.get() + Kept + 1;
        std::size_t length = std::size_t(n);
        if (carriedCr) {
            *--text = '\r';
            ++length;
        }
        carriedCr = text[length - 1] == '\r';
        if (carriedCr)
            --length;
        if (!HasLoneLineBreaks(std::string_view(text, length)))
            gather(text, length, false);
        else
            gather(widened.data() + Kept, widenLineEnds(std::string_view(text, length), widened, Kept), false);
    }
    // A CR read last ends its line, and an unterminated last line gets CR LF.
    char end[Kept + 2];
    end[Kept] = '\r';
    end[Kept + 1] = '\n';
    gather(end + Kept, carriedCr || (done > 0 && lastByte != '\n') ? 2 : 0, true);
    scanner.scan(places, sink);
}
