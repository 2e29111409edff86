#include "analysis/GeometryScanner.h"

#include "analysis/TextLines.h"

#include <QFile>

#include <cstring>

namespace {

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

ProgressScanner::Sink GeometryScanner::forward(const Sink &sink)
{
    // The buffer is reused unless the sink keeps a copy of the last entry.
    return [this, &sink](std::string_view entry) {
        m_entry.resize(qsizetype(entry.size()));
        if (!entry.empty())
            std::memcpy(m_entry.data(), entry.data(), entry.size());
        sink(m_entry);
    };
}

void GeometryScanner::ScanGeometryProgress(std::string_view text, const Sink &sink)
{
    m_scanner.ScanText(text, forward(sink));
}

QByteArray GeometryScanner::LogLine() const
{
    return bytes(m_scanner.LogLine());
}

QByteArray GeometryScanner::StepPrefix() const
{
    return bytes(m_scanner.StepPrefix());
}

void ParseOutputFile(GeometryScanner &scanner, const QString &fileName, const GeometryScanner::Sink &sink,
                     qsizetype pieceBytes)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FileError("open", file);
    const auto read = [&file](char *into, std::size_t bytes) {
        return std::ptrdiff_t(file.read(into, qint64(bytes)));
    };
    if (!scanner.m_scanner.ScanFile(read, std::size_t(qMax<qint64>(file.size(), 0)), scanner.forward(sink),
                                    std::size_t(qMax<qsizetype>(pieceBytes, 1))))
        throw FileError("read", file);
}
