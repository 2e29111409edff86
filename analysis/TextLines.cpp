#include "analysis/TextLines.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFile>

namespace {

QString shownName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

} // namespace

QByteArray LoadFileBytes(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(shownName(fileName), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(shownName(fileName), file.errorString()));
    return bytes;
}

QByteArray NormaliseLineEnds(QByteArray text)
{
    const qsizetype size = text.size();
    if (size == 0)
        return text;

    // How many bytes the CR LF form adds: one per lone CR or LF, two for an
    // unterminated last line.
    const char *src = text.constData();
    qsizetype growth = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (src[i] == '\r') {
            if (i + 1 < size && src[i + 1] == '\n')
                ++i;
            else
                ++growth;
        } else if (src[i] == '\n') {
            ++growth;
        }
    }
    const bool unterminated = src[size - 1] != '\r' && src[size - 1] != '\n';
    if (unterminated)
        growth += 2;
    if (growth == 0)
        return text;

    // Widen from the back: the write position never falls behind the read
    // position, so no byte is overwritten before it has been read.
    text.resize(size + growth);
    char *d = text.data();
    qsizetype w = size + growth;
    if (unterminated) {
        d[--w] = '\n';
        d[--w] = '\r';
    }
    for (qsizetype r = size; r > 0;) {
        const char c = d[--r];
        if (c == '\n' || c == '\r') {
            if (c == '\n' && r > 0 && d[r - 1] == '\r')
                --r;
            d[--w] = '\n';
            d[--w] = '\r';
        } else {
            d[--w] = c;
        }
    }
    return text;
}

QByteArray LoadCrLfText(const QString &fileName)
{
    return NormaliseLineEnds(LoadFileBytes(fileName));
}

std::vector<std::string_view> SplitLineViews(std::string_view text)
{
    std::vector<std::string_view> lines;
    const std::size_t size = text.size();
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.push_back(text.substr(start));
    return lines;
}

QByteArrayList SplitTextLines(const QByteArray &text)
{
    QByteArrayList lines;
    for (std::string_view line : SplitLineViews(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))))
        lines.append(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
    return lines;
}

QByteArrayList LoadTextLines(const QString &fileName)
{
    return SplitTextLines(LoadFileBytes(fileName));
}
