#pragma once

#include <QByteArray>

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
// Text is single-byte: positions and copies count bytes.
class GeometryScanner
{
public:
    using Sink = std::function<void(const QByteArray &entry)>;

    void ScanGeometryProgress(std::string_view text, const Sink &sink);

    const QByteArray &LogLine() const { return m_logLine; }
    const QByteArray &StepPrefix() const { return m_stepPrefix; }

private:
    QByteArray m_logLine;
    QByteArray m_stepPrefix;
};
