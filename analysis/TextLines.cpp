#include "analysis/TextLines.h"

#include "analysis/GrowingBytes.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFile>


namespace {

// How many CRs without an LF after them and LFs without a CR before them
// the text holds. Output with CR LF ends has a line break every few dozen
// bytes, too often for a memchr per break to pay: this is one pass over
// byte pairs without branches, which the compiler turns into vector code.
qsizetype countLoneBreaks(const char *text, qsizetype size)
{
    if (size == 0)
        return 0;
    qsizetype lone = (text[0] == '\n' ? 1 : 0) + (text[size - 1] == '\r' ? 1 : 0);
    // Blocks short enough for a 32-bit count, which vectorises better.
    constexpr qsizetype Block = qsizetype(1) << 30;
    for (qsizetype from = 1; from < size; from += Block) {
        const qsizetype to = qMin(size, from + Block);
        std::uint32_t count = 0;
        for (qsizetype i = from; i < to; ++i) {
            const bool lf = text[i] == '\n';
            const bool crBefore = text[i - 1] == '\r';
            count += std::uint32_t(lf != crBefore);
        }
        lone += count;
    }
    return lone;
}

// One pass that only ORs the differences together, which the compiler turns
// into vector code of a few instructions per 16 bytes, so checking the CR LF
// text Firefly writes costs about a read of it.
bool hasLoneBreaks(const char *text, qsizetype size)
{
    if (size == 0)
        return false;
    if (text[0] == '\n' || text[size - 1] == '\r')
        return true;
    unsigned char differ = 0;
    for (qsizetype i = 1; i < size; ++i)
        differ |= (text[i] == '\n') ^ (text[i - 1] == '\r');
    return differ != 0;
}

// The text with each of its `lone` lone CRs and LFs made CR LF (and CR LF
// after an unterminated last line), written front to back into a new
// buffer. A buffer cannot grow in place once part of it has been advised
// into huge pages (the kernel will not move a split mapping), so widening
// needs a second one; to keep the two from holding the text twice, every
// stretch of the old text already read is handed back to the system, unless
// another copy of the text shares it. Parse of a file with LF ends then peaks
// near the size of its CR LF text, not twice that.
QByteArray widenLineEnds(QByteArray text, qsizetype lone, bool unterminated)
{
    const qsizetype size = text.size();
    QByteArray widened(size + lone + (unterminated ? 2 : 0), Qt::Uninitialized);
    AdviseHugePages(widened.data(), std::size_t(widened.size()));
    char *const own = text.isDetached() ? text.data() : nullptr;
    const char *const from = text.constData();
    char *w = widened.data();
    constexpr std::size_t Stretch = std::size_t(4) << 20;
    std::size_t start = 0, dropped = 0;
    const auto copyLine = [&](std::size_t end) {
        std::memcpy(w, from + start, end - start);
        w += end - start;
        *w++ = '\r';
        *w++ = '\n';
    };
    ForEachLineBreak(std::string_view(from, std::size_t(size)), [&](std::size_t at, std::size_t length) {
        copyLine(at);
        start = at + length;
        if (own && start - dropped >= Stretch) {
            DropPages(own + dropped, own + start);
            dropped = start;
        }
    });
    if (unterminated)
        copyLine(std::size_t(size));
    Q_ASSERT(w == widened.constData() + widened.size());
    return widened;
}

} // namespace

EFileError FileError(const char *what, const QFile &file)
{
    return EFileError(QStringLiteral("Cannot %1 file \"%2\". %3")
                          .arg(QLatin1String(what), QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

void LoadFileBytes(const QString &fileName, QByteArray &bytes)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FileError("open", file);

    // Read into directly, with room for the CR LF that an unterminated last
    // line gets (NormaliseLineEnds then needs no new buffer). It grows only
    // when the file grows while it is read or has no size.
    const qsizetype room = qsizetype(qMax<qint64>(file.size(), 0)) + 2;
    if (bytes.capacity() < room || !bytes.isDetached()) {
        bytes = QByteArray(room, Qt::Uninitialized);
        AdviseHugePages(bytes.data(), std::size_t(bytes.size()));
    }
    bytes.resize(room);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(used + qMax<qsizetype>(used / 2, 64 * 1024));
        const qint64 n = file.read(bytes.data() + used, bytes.size() - used);
        if (n < 0)
            throw FileError("read", file);
        if (n == 0)
            break;
        used += qsizetype(n);
    }
    bytes.resize(used); // keeps the buffer
}

QByteArray LoadFileBytes(const QString &fileName)
{
    QByteArray bytes;
    LoadFileBytes(fileName, bytes);
    return bytes;
}

QByteArray NormaliseLineEnds(QByteArray text)
{
    const qsizetype size = text.size();
    if (size == 0)
        return text;
    const qsizetype lone = hasLoneBreaks(text.constData(), size) ? countLoneBreaks(text.constData(), size) : 0;
    const char last = text.at(size - 1);
    const bool unterminated = last != '\r' && last != '\n';
    if (lone > 0)
        return widenLineEnds(std::move(text), lone, unterminated);
    if (unterminated)
        text.append("\r\n"); // LoadFileBytes leaves room for these two
    return text;
}

QByteArray LoadCrLfText(const QString &fileName)
{
    return NormaliseLineEnds(LoadFileBytes(fileName));
}

std::vector<std::string_view> SplitLineViews(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    ForEachLineBreak(text, [&](std::size_t at, std::size_t length) {
        lines.push_back(text.substr(start, at - start));
        start = at + length;
    });
    if (start < text.size())
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
