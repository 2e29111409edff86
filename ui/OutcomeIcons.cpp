#include "ui/OutcomeIcons.h"

#include "platform/Errors.h"

#include <QHash>
#include <QListWidgetItem>
#include <QPainter>
#include <QPixmap>

namespace {

const QString Unreadable = QStringLiteral("unreadable");

struct Look
{
    QStringList themeNames; // tried in order
    QColor colour;          // of the drawn stand-in
    QChar mark;
};

Look lookOf(const QString &keyword)
{
    if (keyword == QLatin1String("normal") || keyword == QLatin1String("converged"))
        return {{"emblem-ok-symbolic", "dialog-ok", "emblem-default"}, QColor(0x2e, 0x9e, 0x3e), QChar(0x2713)};
    if (keyword == QLatin1String("not-converged") || keyword == QLatin1String("scf-failed"))
        return {{"dialog-warning", "dialog-warning-symbolic"}, QColor(0xe0, 0x9a, 0x00), QLatin1Char('!')};
    if (keyword == QLatin1String("aborted"))
        return {{"process-stop", "process-stop-symbolic"}, QColor(0x80, 0x80, 0x80), QChar(0x25a0)};
    if (keyword == Unreadable)
        return {{"dialog-question", "dialog-question-symbolic"}, QColor(0x80, 0x80, 0x80), QLatin1Char('?')};
    // abnormal, killed, no-output
    return {{"dialog-error", "dialog-error-symbolic"}, QColor(0xcc, 0x22, 0x22), QChar(0x2715)};
}

// A filled disc with a white mark.
QPixmap drawn(const Look &look, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.colour);
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(size * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString(look.mark));
    return pixmap;
}

} // namespace

QIcon OutcomeIcon(const QString &keyword)
{
    static QHash<QString, QIcon> icons;
    auto found = icons.constFind(keyword);
    if (found != icons.constEnd())
        return *found;
    const Look look = lookOf(keyword);
    QIcon icon;
    for (const QString &name : look.themeNames) {
        if (QIcon::hasThemeIcon(name)) {
            icon = QIcon::fromTheme(name);
            break;
        }
    }
    if (icon.isNull()) {
        for (int size : {12, 16, 32})
            icon.addPixmap(drawn(look, size));
    }
    icons.insert(keyword, icon);
    return icon;
}

void ShowOutcome(QListWidgetItem &item, const QString &outputFile, const ProcessEnd &end)
{
    QString keyword;
    QString tip;
    try {
        const OutcomeReport report = ClassifyJobOutcome(outputFile, end);
        const std::string_view word = OutcomeKeyword(report.outcome);
        keyword = QString::fromLatin1(word.data(), qsizetype(word.size()));
        tip = OutcomeText(report.outcome);
        if (!report.reason.isEmpty())
            tip += QLatin1Char('\n') + QString::fromLatin1(report.reason);
    } catch (const NeloError &error) {
        keyword = Unreadable;
        tip = QStringLiteral("The output cannot be read\n") + error.message();
    }
    item.setIcon(OutcomeIcon(keyword));
    item.setToolTip(tip);
    item.setData(OutcomeRole, keyword);
}
