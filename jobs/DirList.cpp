#include "jobs/DirList.h"

namespace {

const QChar Quote = QLatin1Char('"');

// Blanks and control characters separate items (code 0 does not).
bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

bool needsQuotes(const QString &item)
{
    for (const QChar c : item) {
        if (c == Quote || isSeparator(c))
            return true;
    }
    return false;
}

} // namespace

QString JoinDirList(const QStringList &list)
{
    if (list.size() == 1 && list.front().isEmpty())
        return QStringLiteral("\"\"");

    QStringList parts;
    parts.reserve(list.size());
    for (const QString &item : list) {
        if (needsQuotes(item)) {
            QString doubled = item;
            doubled.replace(Quote, QStringLiteral("\"\""));
            parts.append(Quote + doubled + Quote);
        } else {
            parts.append(item);
        }
    }
    return parts.join(QLatin1Char(' '));
}

QStringList SplitDirList(const QString &text)
{
    QStringList list;
    const qsizetype size = text.size();
    qsizetype i = 0;
    auto skipSeparators = [&] {
        while (i < size && isSeparator(text[i]))
            ++i;
    };

    skipSeparators();
    while (i < size) {
        QString item;
        if (text[i] == Quote) {
            // Up to the next quote that is not doubled; a doubled one stands for
            // one quote. Without its closing quote the item runs to the end.
            for (++i; i < size; ++i) {
                if (text[i] != Quote) {
                    item += text[i];
                } else if (i + 1 < size && text[i + 1] == Quote) {
                    item += Quote;
                    ++i;
                } else {
                    ++i; // the closing quote
                    break;
                }
            }
        } else {
            while (i < size && !isSeparator(text[i]))
                item += text[i++];
        }
        list.append(item);
        skipSeparators();
    }
    return list;
}
