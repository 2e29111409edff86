#pragma once

#include "analysis/ProgressScanner.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>

// The geometry-search progress scanner (ProgressScanner, which says what it
// finds) with its entries and state as QByteArray, for the windows, the job
// runner and the tests.
class GeometryScanner
{
public:
    using Sink = std::function<void(const QByteArray &entry)>;

    // Scans one piece of output and hands every new entry to the sink, in
    // order. Runs in time linear in the length of the text.
    void ScanGeometryProgress(std::string_view text, const Sink &sink);

    QByteArray LogLine() const;
    QByteArray StepPrefix() const;
    ProgressScanner &Scanner() { return m_scanner; }

private:
    // The sink for the scanner's entries: each handed on in one reused buffer.
    ProgressScanner::Sink forward(const Sink &sink);
    friend void ParseOutputFile(GeometryScanner &, const QString &, const Sink &, qsizetype);

    ProgressScanner m_scanner;
    QByteArray m_entry;
};

// The Parse command (ProgressScanner::ScanFile): the whole file as lines,
// each followed by CR LF, scanned once with the given scanner, whose state
// is not reset first; read in pieces of `pieceBytes`.
// Throws EFileError naming the file when it cannot be opened or read.
void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink,
                     qsizetype pieceBytes = 256 * 1024);
