#pragma once

#include <QObject>

#include <functional>

class QAbstractItemView;

// What a list does besides Qt's item-view behaviour: a double-click anywhere
// in it, on an entry or on its empty part, runs `doubleClick` (the handlers
// act on the focused entry, or show their notice), and the Delete key runs
// `deleteKey`. Owned by the list.
class ListActions : public QObject
{
public:
    ListActions(QAbstractItemView *list, std::function<void()> doubleClick, std::function<void()> deleteKey);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QObject *m_list;
    QObject *m_viewport;
    std::function<void()> m_doubleClick;
    std::function<void()> m_deleteKey;
};
