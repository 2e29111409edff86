#pragma once

// Reaching a window's controls by their object names, and reading list boxes.

#include <QListWidget>
#include <QObject>
#include <QStringList>
#include <QtGlobal>

// The child of `window` with that object name; a missing control ends the
// test program at once, naming the control.
template <class T>
T *findControl(const QObject *window, const char *name)
{
    T *control = window->findChild<T *>(QLatin1String(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

// The entries' texts, top to bottom.
inline QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}
