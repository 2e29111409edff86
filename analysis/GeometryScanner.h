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
    QByteArray m_logLine;
    QByteArray m_stepPrefix;
};

// The Parse command: loads the whole file as lines (split at CR, LF or
// CR LF), each line followed by CR LF, and scans that text once with the
// given scanner, whose state is not reset first.
// Throws EFileError naming the file when it cannot be opened or read.
void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink);
