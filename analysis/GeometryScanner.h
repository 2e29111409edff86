#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>

// Finds the progress of a geometry optimisation in Firefly output by four
// fixed markers and hands one entry per event to a sink: the beginning of
// the search, each step with its maximum gradient, the located equilibrium.
//
// LogLine and StepPrefix live as long as the scanner (one per program run):
// a step prefix found in one piece of text is used by a gradient line that
// arrives in a later piece, also across jobs and Parse commands.
//
// Text is single-byte: positions and copies count bytes. A copy keeps the
// CR and LF bytes that fall inside it, so an entry may hold line breaks.
class GeometryScanner
{
public:
    using Sink = std::function<void(const QByteArray &entry)>;

    // The four markers, compared exactly (letter case counts).
    static constexpr std::string_view SearchStartMarker = "PARAMETERS CONTROLLING GEOMETRY SEARCH ARE";
    static constexpr std::string_view StepMarker = "  NSERCH=";
    static constexpr std::string_view GradientMarker = "MAXIMUM GRADIENT =";
    static constexpr std::string_view EndMarker = "EQUILIBRIUM GEOMETRY LOCATED";

    // The fixed entries for the beginning and the end of the search.
    static constexpr std::string_view BeginEntry = "*** BEGINNING GEOMETRY SEARCH ***";
    static constexpr std::string_view EndEntry = "*** EQUILIBRIUM GEOMETRY LOCATED ***";

    // Scans one piece of output and hands every new entry to the sink, in
    // order. Runs in time linear in the length of the text.
    void ScanGeometryProgress(std::string_view text, const Sink &sink);

    const QByteArray &LogLine() const { return m_logLine; }
    const QByteArray &StepPrefix() const { return m_stepPrefix; }

private:
    // The scan over anything that finds the markers and gives the bytes an
    // entry copies: the text itself, or what Parse gathered from a file.
    template<typename Markers>
    void scan(Markers &markers, const Sink &sink);
    friend void ParseOutputFile(GeometryScanner &, const QString &, const Sink &, qsizetype);

    QByteArray m_logLine;
    QByteArray m_stepPrefix;
};

// The Parse command: the whole file as lines (split at CR, LF or CR LF),
// each line followed by CR LF, scanned once with the given scanner, whose
// state is not reset first.
//
// The file is read once, in pieces of `pieceBytes` into one buffer, and the
// text is never held whole: what a scan can use of it is only where the four
// markers stand and the bytes an entry copies next to each (32 after a step
// marker's "=", 61 from 4 before a gradient marker), so those are gathered
// from each piece and scanned after the last. Memory grows with the markers,
// not with the file; a CR LF file is scanned as it is read, other line ends
// are made CR LF piece by piece.
// Throws EFileError naming the file when it cannot be opened or read.
void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink,
                     qsizetype pieceBytes = 256 * 1024);
