#include "jobs/OutputFollower.h"

#include <algorithm>

namespace {

void AppendBounded(QByteArray &text, QByteArrayView bytes, qsizetype limit)
{
    const qsizetype room = limit - text.size();
    if (room > 0)
        text.append(bytes.first(std::min(room, bytes.size())));
}

} // namespace

bool OutputFollower::Feed(QByteArrayView bytes)
{
    const qsizetype last = bytes.lastIndexOf('\n');
    if (last < 0) {
        AppendBounded(m_carried, bytes, LineLimit);
        return false;
    }
    const qsizetype first = bytes.indexOf('\n');

    // The carried line ends at the first line feed of this read.
    m_batch = std::move(m_carried);
    m_carried = QByteArray();
    AppendBounded(m_batch, bytes.first(first), LineLimit);
    m_batch.append(bytes.sliced(first, last - first));
    if (m_batch.endsWith('\r'))
        m_batch.chop(1);

    AppendBounded(m_carried, bytes.sliced(last + 1), LineLimit);
    AddToTail(m_batch);
    return true;
}

bool OutputFollower::Finish()
{
    if (m_carried.isEmpty())
        return false;
    m_batch = std::move(m_carried);
    m_carried = QByteArray();
    if (m_batch.endsWith('\r'))
        m_batch.chop(1);
    AddToTail(m_batch);
    return true;
}

QByteArray OutputFollower::PaneText() const
{
    QByteArray text;
    qsizetype size = 0;
    for (const QByteArray &line : m_tail)
        size += line.size() + 1;
    text.reserve(size);
    for (const QByteArray &line : m_tail) {
        text.append(line);
        text.append('\n');
    }
    return text;
}

// Adds the lines of a text that ends without a line break: CR LF, LF and a
// lone CR end a line; the piece after the last line end is a line too.
void OutputFollower::AddToTail(QByteArrayView text)
{
    // Only the last TailLines lines can stay: find where they begin.
    qsizetype begin = text.size();
    int lines = 0;
    while (begin > 0 && lines < TailLines) {
        const char c = text.at(begin - 1);
        if (c == '\n' || c == '\r') {
            ++lines;
            if (lines == TailLines)
                break;
            if (c == '\n' && begin >= 2 && text.at(begin - 2) == '\r')
                --begin;
        }
        --begin;
    }

    qsizetype start = begin;
    for (qsizetype i = begin; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != '\n' && text.at(i) != '\r')
            continue;
        m_tail.append(text.sliced(start, std::min(i - start, PaneLineLimit)).toByteArray());
        if (i + 1 < text.size() && text.at(i) == '\r' && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    while (m_tail.size() > TailLines)
        m_tail.removeFirst();
}
