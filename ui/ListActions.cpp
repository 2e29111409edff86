#include "ui/ListActions.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

ListActions::ListActions(QAbstractItemView *list, std::function<void()> doubleClick, std::function<void()> deleteKey)
    : QObject(list), m_list(list), m_doubleClick(std::move(doubleClick)), m_deleteKey(std::move(deleteKey))
{
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

bool ListActions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // The press of the first click has already focused the entry under
        // it; the view still gets the event for its own use.
        m_doubleClick();
    } else if (watched == m_list && event->type() == QEvent::KeyPress
               && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Delete)) {
        m_deleteKey();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
