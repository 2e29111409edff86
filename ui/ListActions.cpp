#include "ui/ListActions.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

ListActions::ListActions(QAbstractItemView *list, std::function<void()> doubleClick, std::function<void()> deleteKey)
    : QObject(list)
    , m_list(list)
    , m_viewport(list->viewport())
    , m_doubleClick(std::move(doubleClick))
    , m_deleteKey(std::move(deleteKey))
{
    list->installEventFilter(this);
    m_viewport->installEventFilter(this);
}

bool ListActions::eventFilter(QObject *watched, QEvent *event)
{
    // Only the pointers are compared: the list may be half destroyed when its
    // viewport sends its last events.
    if (event->type() == QEvent::MouseButtonDblClick && watched == m_viewport
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // The press of the first click has already focused the entry under
        // it; the view still gets the event for its own use.
        m_doubleClick();
    } else if (event->type() == QEvent::KeyPress && watched == m_list
               && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Delete)) {
        m_deleteKey();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
