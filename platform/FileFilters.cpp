#include "platform/FileFilters.h"

namespace {

// "Firefly input files (*.inp)" -> "Firefly input files"
QString descriptionWithoutPatterns(QString description)
{
    description = description.trimmed();
    if (description.endsWith(QLatin1Char(')'))) {
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open >= 0)
            description.truncate(open);
    }
    return description.trimmed();
}

} // namespace

QStringList QtNameFilters(const QString &filter, bool matchEveryFile)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        if (matchEveryFile) {
            patterns << QStringLiteral("*");
        } else {
            const QStringList given = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            for (QString pattern : given) {
                pattern = pattern.trimmed();
                patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
            }
        }
        result << QStringLiteral("%1 (%2)").arg(descriptionWithoutPatterns(parts.at(i)),
                                                patterns.join(QLatin1Char(' ')));
    }
    return result;
}
