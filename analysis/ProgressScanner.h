#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Finds the progress of a geometry optimisation in Firefly output by four
// fixed markers (FireflyMarkers: SearchStart, Step, MaximumGradient,
// EquilibriumLocated; compared exactly, letter case counting) and hands one
// entry per event to a sink: the beginning of the search, each step with its
// maximum gradient, the located equilibrium.
// Plain bytes and no Qt, so that nelo-analyze's progress command starts
// without loading Qt; GeometryScanner gives it to the rest of Nelo.
//
// LogLine and StepPrefix live as long as the scanner (one per program run):
// a step prefix found in one piece of text is used by a gradient line that
// arrives in a later piece, also across jobs and Parse commands.
//
// Text is single-byte: positions and copies count bytes. A copy keeps the
// CR and LF bytes that fall inside it, so an entry may hold line breaks.
class ProgressScanner
{
public:
    using Sink = std::function<void(std::string_view entry)>;
    // Reads up to `bytes` more bytes of a file into `into`: how many it
    // read, 0 at the end of the file, less than 0 when the read failed.
    using Read = std::function<std::ptrdiff_t(char *into, std::size_t bytes)>;

    // The fixed entries for the beginning and the end of the search.
    static constexpr std::string_view BeginEntry = "*** BEGINNING GEOMETRY SEARCH ***";
    static constexpr std::string_view EndEntry = "*** EQUILIBRIUM GEOMETRY LOCATED ***";

    // Scans one piece of output and hands every new entry to the sink, in
    // order. Runs in time linear in the length of the text.
    void ScanText(std::string_view text, const Sink &sink);

    // The Parse command on a file read through `read` (`sizeHint`: its
    // size, if known): the whole file as lines (split at CR, LF or CR LF),
    // each line followed by CR LF, scanned once, the state not reset first.
    //
    // The file is read once, in pieces of `pieceBytes` into one buffer, and
    // the text is never held whole: what a scan can use of it is only where
    // the four markers stand and the bytes an entry copies next to each, so
    // those are gathered from each piece and scanned after the last. Memory
    // grows with the markers, not with the file.
    // Returns false when a read fails, before any entry, the state unchanged.
    bool ScanFile(const Read &read, std::size_t sizeHint, const Sink &sink, std::size_t pieceBytes = 256 * 1024);

    const std::string &LogLine() const { return m_logLine; }
    const std::string &StepPrefix() const { return m_stepPrefix; }
    // Goes on from the state another scanner was left in.
    void SetState(std::string_view logLine, std::string_view stepPrefix);

private:
    // The scan over anything that finds the markers and gives the bytes an
    // entry copies: the text itself, or what ScanFile gathered.
    template<typename Markers>
    void scan(Markers &markers, const Sink &sink);

    std::string m_logLine;
    std::string m_stepPrefix;
};
