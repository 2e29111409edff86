#include "ui/StateReport.h"

#include "ui/OutcomeIcons.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTableView>
#include <QScrollBar>
#include <QTextBlock>

#include <utility>

QString LastVisibleLine(const QPlainTextEdit &pane)
{
    const int height = pane.viewport()->height();
    QTextBlock block = pane.cursorForPosition(QPoint(1, height - 1)).block();
    if (block.isValid() && pane.cursorRect(QTextCursor(block)).bottom() >= height)
        block = block.previous(); // cut off at the bottom edge
    if (block.isValid() && block.text().isEmpty() && !block.next().isValid() && block.previous().isValid())
        block = block.previous();
    return block.text();
}

void StateReport::StartIfAsked(QObject *parent)
{
    const QString path = qEnvironmentVariable("NELO_STATE_REPORT");
    if (!path.isEmpty())
        new StateReport(path, parent);
}

StateReport::StateReport(QString path, QObject *parent)
    : QObject(parent), m_path(std::move(path))
{
    connect(&m_timer, &QTimer::timeout, this, &StateReport::write);
    m_timer.start(50);
}

void StateReport::write()
{
    QJsonObject report;
    report[QStringLiteral("count")] = ++m_count;
    const QWidget *focus = QApplication::focusWidget();
    report[QStringLiteral("focus")] = focus ? focus->objectName() : QString();
    const QWidget *active = QApplication::activeWindow();
    report[QStringLiteral("active")] = active ? active->windowTitle() : QString();
    QJsonArray windows;
    QJsonObject controls;
    QJsonObject lists;
    QJsonObject panes;
    QJsonObject tables;
    QJsonObject outcomes;
    QJsonObject ticks; // of the lists whose entries have tick boxes
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        windows.append(QJsonObject{{QStringLiteral("title"), window->windowTitle()},
                                   {QStringLiteral("class"), QLatin1String(window->metaObject()->className())},
                                   {QStringLiteral("minimized"), window->isMinimized()}});
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            const QString name = widget->objectName();
            if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || !widget->isVisible())
                continue;
            const QRect place(widget->mapToGlobal(QPoint(0, 0)), widget->size());
            QJsonObject control{{QStringLiteral("x"), place.x()}, {QStringLiteral("y"), place.y()},
                                {QStringLiteral("w"), place.width()}, {QStringLiteral("h"), place.height()},
                                {QStringLiteral("enabled"), widget->isEnabled()}};
            if (const auto *button = qobject_cast<QAbstractButton *>(widget))
                control[QStringLiteral("checked")] = button->isChecked();
            else if (const auto *edit = qobject_cast<QLineEdit *>(widget))
                control[QStringLiteral("text")] = edit->text();
            controls[name] = control;
            if (const auto *list = qobject_cast<QListWidget *>(widget)) {
                QJsonArray entries;
                QJsonArray endings;
                QJsonArray ticked;
                for (int row = 0; row < list->count(); ++row) {
                    entries.append(list->item(row)->text());
                    endings.append(list->item(row)->data(OutcomeRole).toString());
                    if (list->item(row)->flags() & Qt::ItemIsUserCheckable)
                        ticked.append(list->item(row)->checkState() == Qt::Checked);
                }
                lists[name] = entries;
                if (!ticked.isEmpty())
                    ticks[name] = ticked;
                if (name == QLatin1String("DoneListBox"))
                    outcomes[name] = endings;
            } else if (const auto *pane = qobject_cast<QPlainTextEdit *>(widget)) {
                panes[name] = LastVisibleLine(*pane);
            } else if (const auto *table = qobject_cast<QTableView *>(widget); table && table->model()) {
                // Rows as the view shows them (sorted), each a list of cells.
                const QAbstractItemModel &model = *table->model();
                QJsonArray rows;
                for (int row = 0; row < model.rowCount(); ++row) {
                    QJsonArray cells;
                    for (int column = 0; column < model.columnCount(); ++column)
                        cells.append(model.index(row, column).data().toString());
                    rows.append(cells);
                }
                tables[name] = rows;
            }
        }
    }
    report[QStringLiteral("windows")] = windows;
    report[QStringLiteral("controls")] = controls;
    report[QStringLiteral("lists")] = lists;
    report[QStringLiteral("panes")] = panes;
    report[QStringLiteral("tables")] = tables;
    report[QStringLiteral("outcomes")] = outcomes;
    report[QStringLiteral("ticks")] = ticks;

    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(report).toJson(QJsonDocument::Compact));
        file.commit();
    }
}
