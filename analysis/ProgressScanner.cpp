#include "analysis/ProgressScanner.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/GrowingBytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t NotFound = std::string_view::npos;

// How far the scan moves on: past a step marker before it looks for the
// gradient and end markers, and past a marker that gave an entry.
constexpr std::size_t AfterStep = 10;
constexpr std::size_t AfterEntry = 30;

// The bytes an entry copies next to a marker: `count` bytes from `from`
// bytes after the marker's first byte (before it when negative), clamped to
// the text: a copy that would start before the text starts at its first byte
// and keeps its count, one that would run past the end stops there.
struct Copy
{
    std::ptrdiff_t from;
    std::size_t count;

    std::size_t start(std::size_t at) const { return std::size_t(std::max<std::ptrdiff_t>(std::ptrdiff_t(at) + from, 0)); }
    // How many bytes from the marker's first one the copy may take in.
    constexpr std::size_t reach() const { return std::size_t(std::max<std::ptrdiff_t>(from, 0)) + count; }
    std::string_view of(std::string_view text, std::size_t at) const
    {
        const std::size_t first = start(at);
        return first >= text.size() ? std::string_view() : text.substr(first, count);
    }
};
constexpr Copy StepCopy{8, 32};      // from the step marker's "=" sign
constexpr Copy GradientCopy{-4, 61}; // the four bytes before the gradient marker, it and 39 after

// Parse in pieces (MarkerPlaces): the bytes before a marker whose lone line
// breaks can change what the scan does with it, since it moves AfterEntry
// bytes on from a marker; the bytes from a marker's first one that are read
// for it (its copy, and one byte more to see what follows); and the bytes of
// the text before a piece kept with it, enough for both.
constexpr std::size_t LookBehind = AfterEntry + 1;
constexpr std::size_t Reach = 64;
constexpr std::size_t Kept = 128;
static_assert(Reach > StepCopy.reach() && Reach > GradientCopy.reach() && Kept > Reach + LookBehind);

// Searches one marker in the text. The scan's position only grows, and every
// occurrence a search finds is used at once (a hit, or the step marker that
// moves the position past it), so each search starts behind everything the
// previous search of the same marker read. A marker that is absent from some
// position on stays absent for every later position and is not searched
// again. Each byte is thus read at most once per marker, however many passes
// the scan takes.
//
// A marker is found by one of its bytes, its anchor: its last sign ("=", ":",
// "-", "(", ")"), else its Q, else its Y, the rarest of the markers' bytes in
// Firefly output (bench/README.md). memchr skips to each anchor byte and a
// compare settles it.
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
        if (sign != NotFound)
            return sign;
        const std::size_t q = marker.find('Q');
        return q != NotFound ? q : marker.find('Y');
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

// Sets `to` to prefix + piece. Its buffer is reused: an entry costs no
// allocation.
void assign(std::string &to, std::string_view prefix, std::string_view piece)
{
    to.assign(prefix);
    to.append(piece);
}

// The markers of a text in memory, found as the scan asks for them.
class TextMarkers
{
public:
    explicit TextMarkers(std::string_view text)
        : m_text(text)
        , m_searchStart(text, FireflyMarkers::SearchStart)
        , m_step(text, FireflyMarkers::Step)
        , m_gradient(text, FireflyMarkers::MaximumGradient)
        , m_end(text, FireflyMarkers::EquilibriumLocated)
    {
    }

    std::size_t searchStart(std::size_t from) { return m_searchStart.findFrom(from); }
    std::size_t step(std::size_t from) { return m_step.findFrom(from); }
    std::size_t gradient(std::size_t from) { return m_gradient.findFrom(from); }
    std::size_t end(std::size_t from) { return m_end.findFrom(from); }
    std::string_view stepCopy(std::size_t at) const { return StepCopy.of(m_text, at); }
    std::string_view gradientCopy(std::size_t at) const { return GradientCopy.of(m_text, at); }

private:
    std::string_view m_text;
    MarkerCursor m_searchStart, m_step, m_gradient, m_end;
};

// What Parse keeps of one marker: its places in the order of the text, each
// with the bytes its entry copies, as records one after the other: the place
// (8 bytes), the copy's length (1 byte), the copy. The scan asks for ever
// later places, so a cursor walks the records once.
class Places
{
public:
    static constexpr std::size_t Header = sizeof(std::uint64_t) + 1;

    void reserve(std::size_t bytes) { m_records.reserve(bytes); }

    void add(std::size_t place, std::string_view copy)
    {
        char *const record = m_records.append(Header + copy.size());
        const std::uint64_t at = place;
        std::memcpy(record, &at, sizeof at);
        record[sizeof at] = char(static_cast<unsigned char>(copy.size()));
        if (!copy.empty())
            std::memcpy(record + Header, copy.data(), copy.size());
    }

    // The first place at or after `from`, or NotFound.
    std::size_t next(std::size_t from)
    {
        for (; m_cursor < m_records.size(); m_cursor += Header + copyLength()) {
            const std::size_t place = placeAtCursor();
            if (place >= from)
                return place;
        }
        return NotFound;
    }

    // The copy of the place the last `next` found.
    std::string_view copy() const { return std::string_view(m_records.data() + m_cursor + Header, copyLength()); }

private:
    std::size_t placeAtCursor() const
    {
        std::uint64_t place;
        std::memcpy(&place, m_records.data() + m_cursor, sizeof place);
        return std::size_t(place);
    }
    std::size_t copyLength() const
    {
        return static_cast<unsigned char>(m_records.data()[m_cursor + sizeof(std::uint64_t)]);
    }

    GrowingBytes m_records;
    std::size_t m_cursor = 0;
};

// The lone line breaks among the bytes [from, to) of a view: CRs without an
// LF after them and LFs without a CR before them. The view holds the byte
// before `from` unless the text begins there (an LF at its very start is
// lone), and the byte at `to` unless it ends there. [from, to) is shorter
// than 256 bytes: a loop over byte pairs that counts in one byte, which the
// compiler turns into vector code.
std::size_t loneBreaks(std::string_view view, std::size_t from, std::size_t to)
{
    if (from >= to)
        return 0;
    const char *const t = view.data();
    unsigned char inside = 0;
    for (std::size_t i = from + 1; i < to; ++i)
        inside += (t[i] == '\n') != (t[i - 1] == '\r');
    return inside + (t[from] == '\n' && (from == 0 || t[from - 1] != '\r') ? 1 : 0)
           + (t[to - 1] == '\r' && (to == view.size() || t[to] != '\n') ? 1 : 0);
}

// `count` bytes of the CR LF text of a view from `before` bytes before its
// byte `at` (fewer where the text begins sooner, and then as many more after
// it), or up to the end of the view: each lone CR or LF made CR LF. `at` is
// neither CR nor LF; the view holds the byte before the first one read
// unless the text begins there.
std::string_view crLfCopy(std::string_view view, std::size_t at, std::size_t before, std::size_t count,
                          std::string &into)
{
    into.clear();
    std::size_t i = at; // backwards: the bytes before `at`, the nearest first
    while (into.size() < before && i > 0) {
        const char c = view[--i];
        if (c == '\n' || c == '\r') { // a CR here has no LF after it: that was read first
            into += "\n\r";
            if (c == '\n' && i > 0 && view[i - 1] == '\r')
                --i;
        } else {
            into += c;
        }
    }
    into.resize(std::min(into.size(), before));
    std::reverse(into.begin(), into.end());
    for (std::size_t j = at; into.size() < count && j < view.size(); ++j) {
        const char c = view[j];
        if (c == '\n' || c == '\r') {
            into += "\r\n";
            if (c == '\r' && j + 1 < view.size() && view[j + 1] == '\n')
                ++j;
        } else {
            into += c;
        }
    }
    into.resize(std::min(into.size(), count));
    return into;
}

// Where the markers of a text stand, gathered from the text one view at a
// time, each with the bytes an entry copies next to it; then asked as the
// scan asks TextMarkers.
//
// The scan runs on the text with CR LF line ends. Firefly writes them, so
// the text is gathered as it is read, and what other line ends would change
// is worked out only next to the markers. A lone CR or LF becomes CR LF, one
// byte more, which the scan can tell only inside the bytes an entry copies
// (those are made CR LF on their own) and between two markers less than
// AfterEntry bytes apart, since it moves AfterStep or AfterEntry bytes on
// from a marker. So a marker's place is its position plus the lone breaks
// counted so far, which take in all those in the LookBehind bytes before
// every marker: where two markers stand less than LookBehind bytes apart,
// their places lie as far apart as in the CR LF text; where they stand
// further apart, they lie at least LookBehind bytes apart there too. The
// text itself is never made CR LF as a whole.
class MarkerPlaces
{
public:
    // A view of the text, which begins at `viewStart`: its bytes before
    // `pieceStart` were in the view before (Kept of them, where the text has
    // them), the rest are new; the last view ends the text with a line
    // break. A marker is taken from the first view that holds Reach bytes
    // from its first one, or from the last view, so that none is taken
    // twice, each has the LookBehind bytes before it and the byte before
    // those, and all are taken in order.
    void gather(std::string_view view, std::size_t viewStart, std::size_t pieceStart, bool last)
    {
        m_hits.clear();
        const auto take = [&](std::size_t at, Marker marker) {
            if (viewStart + at + Reach > pieceStart && (last || at + Reach <= view.size()))
                m_hits.push_back({at, marker});
        };
        // Two passes over the view find the four markers: the step and
        // gradient markers both end in "=", and the search-start and end
        // markers both hold GEOMETRY, whose Y is the rarest of their letters
        // in Firefly output (bench/README.md). memchr skips from one such
        // byte to the next; the bytes before it settle most of them.
        const auto pass = [&](char anchor, std::pair<std::string_view, Marker> first,
                              std::pair<std::string_view, Marker> second) {
            const std::size_t firstAt = first.first.find(anchor), secondAt = second.first.find(anchor);
            const auto standsAt = [&](std::string_view marker, std::size_t anchorAt, std::size_t at) {
                return at >= anchorAt && view[at - 1] == marker[anchorAt - 1] && view[at - anchorAt] == marker[0]
                       && view.compare(at - anchorAt, marker.size(), marker) == 0;
            };
            for (std::size_t at = view.find(anchor); at != NotFound; at = view.find(anchor, at + 1)) {
                if (standsAt(first.first, firstAt, at))
                    take(at - firstAt, first.second);
                else if (standsAt(second.first, secondAt, at))
                    take(at - secondAt, second.second);
            }
        };
        pass('=', {FireflyMarkers::Step, Marker::Step}, {FireflyMarkers::MaximumGradient, Marker::Gradient});
        pass('Y', {FireflyMarkers::SearchStart, Marker::SearchStart}, {FireflyMarkers::EquilibriumLocated, Marker::End});
        std::sort(m_hits.begin(), m_hits.end(), [](const Hit &a, const Hit &b) { return a.at < b.at; });
        for (const Hit &hit : m_hits)
            keep(view, viewStart, hit);
    }

    // Room for the records of a text of `bytes` bytes with a step and a
    // gradient every 2 KiB, more than in the densest real output.
    void reserveFor(std::size_t bytes)
    {
        m_steps.reserve(bytes / 2048 * (Places::Header + StepCopy.count));
        m_gradients.reserve(bytes / 2048 * (Places::Header + GradientCopy.count));
    }

    std::size_t searchStart(std::size_t from) { return m_searchStarts.next(from); }
    std::size_t step(std::size_t from) { return m_steps.next(from); }
    std::size_t gradient(std::size_t from) { return m_gradients.next(from); }
    std::size_t end(std::size_t from) { return m_ends.next(from); }
    std::string_view stepCopy(std::size_t) const { return m_steps.copy(); }
    std::string_view gradientCopy(std::size_t) const { return m_gradients.copy(); }

private:
    enum class Marker { SearchStart, Step, Gradient, End };
    struct Hit
    {
        std::size_t at; // in the view
        Marker marker;
    };
    // The copy next to the marker at `at` in the CR LF text: the bytes of the
    // view where the marker's neighbourhood holds no lone line break. A copy
    // that starts behind the marker's first byte starts inside the marker.
    std::string_view copyNear(std::string_view view, std::size_t at, Copy copy, bool crLf)
    {
        if (crLf)
            return copy.of(view, at);
        if (copy.from >= 0)
            return crLfCopy(view, at + std::size_t(copy.from), 0, copy.count, m_copy);
        return crLfCopy(view, at, std::size_t(-copy.from), copy.count, m_copy);
    }

    void keep(std::string_view view, std::size_t viewStart, const Hit &hit)
    {
        const std::size_t at = hit.at;
        const std::size_t lookFrom = at < LookBehind ? 0 : at - LookBehind; // the text begins there, if nearer
        const Copy *const copy = hit.marker == Marker::Step ? &StepCopy
                                 : hit.marker == Marker::Gradient ? &GradientCopy
                                                                  : nullptr;
        const std::size_t copyEnd = copy ? std::min(view.size(), copy->start(at) + copy->count) : at;
        const bool crLf = loneBreaks(view, lookFrom, copyEnd) == 0;
        if (!crLf) {
            const std::size_t counted = m_countedTo > viewStart ? m_countedTo - viewStart : 0;
            m_lone += loneBreaks(view, std::max(counted, lookFrom), at);
        }
        m_countedTo = viewStart + at;
        const std::size_t place = viewStart + at + m_lone;
        switch (hit.marker) {
        case Marker::SearchStart:
            m_searchStarts.add(place, {});
            break;
        case Marker::End:
            m_ends.add(place, {});
            break;
        case Marker::Step:
            m_steps.add(place, copyNear(view, at, StepCopy, crLf));
            break;
        case Marker::Gradient:
            m_gradients.add(place, copyNear(view, at, GradientCopy, crLf));
            break;
        }
    }

    std::vector<Hit> m_hits; // of one view
    std::size_t m_lone = 0; // lone line breaks counted before m_countedTo
    std::size_t m_countedTo = 0;
    std::string m_copy;
    Places m_searchStarts, m_steps, m_gradients, m_ends;
};

} // namespace

template<typename Markers>
void ProgressScanner::scan(Markers &markers, const Sink &sink)
{
    // Positions are 0-based here; a marker "at A" in 1-based terms is at A - 1.
    std::size_t p = 0;
    for (;;) {
        std::size_t hit = markers.searchStart(p);
        if (hit != NotFound) {
            m_logLine = BeginEntry;
        } else {
            const std::size_t a = markers.step(p);
            if (a != NotFound) {
                assign(m_stepPrefix, "STEP ", markers.stepCopy(a));
                p = a + AfterStep;
            }
            hit = markers.gradient(p);
            if (hit != NotFound) {
                assign(m_logLine, m_stepPrefix, markers.gradientCopy(hit));
            } else {
                hit = markers.end(p);
                if (hit == NotFound)
                    return;
                m_logLine = EndEntry;
            }
        }
        sink(m_logLine);
        p = hit + AfterEntry;
    }
}

void ProgressScanner::ScanText(std::string_view text, const Sink &sink)
{
    TextMarkers markers(text);
    scan(markers, sink);
}

bool ProgressScanner::ScanFile(const Read &read, std::size_t sizeHint, const Sink &sink, std::size_t pieceBytes)
{
    // Each view: the last Kept bytes of the text so far, then a piece. A
    // read lands behind room for them, so a piece is gathered where it was
    // read. A piece is no larger than the file (unless that is small, or
    // grows); a buffer for large pieces is one huge page where the system
    // has them.
    const std::size_t piece = std::max<std::size_t>(std::min(pieceBytes, std::max<std::size_t>(sizeHint, 64 * 1024)), 1);
    GrowingBytes room;
    char *const buffer = room.append(Kept + piece);
    std::string kept;
    MarkerPlaces places;
    places.reserveFor(sizeHint);
    std::size_t done = 0; // bytes of the text before the piece
    const auto gather = [&](char *text, std::size_t length, bool last) {
        std::memcpy(text - kept.size(), kept.data(), kept.size());
        const std::string_view view(text - kept.size(), kept.size() + length);
        places.gather(view, done - kept.size(), done, last);
        done += length;
        const std::size_t keep = std::min(Kept, view.size());
        kept.assign(view.data() + view.size() - keep, keep);
    };
    for (;;) {
        const std::ptrdiff_t n = read(buffer + Kept, piece);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        gather(buffer + Kept, std::size_t(n), false);
    }
    // The last line ends with CR LF: an unterminated one gets it, a CR the LF.
    char end[Kept + 2];
    const char last = kept.empty() ? '\n' : kept.back();
    const std::string_view ending = last == '\n' ? "" : last == '\r' ? "\n" : "\r\n";
    std::memcpy(end + Kept, ending.data(), ending.size());
    gather(end + Kept, ending.size(), true);
    scan(places, sink);
    return true;
}

void ProgressScanner::SetState(std::string_view logLine, std::string_view stepPrefix)
{
    m_logLine = logLine;
    m_stepPrefix = stepPrefix;
}
