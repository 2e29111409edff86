#pragma once

// Whether a process (by its id) still runs, read from /proc.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTest>

// The fields of /proc/<pid>/stat after the command name (which may hold
// blanks): field 0 is the state. Empty when there is no such process.
inline QList<QByteArray> procStatFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// Running: in the process table and not a zombie waiting for its parent.
inline bool processRunning(qint64 pid)
{
    const QList<QByteArray> fields = procStatFields(pid);
    return !fields.isEmpty() && fields.at(0) != "Z";
}

// Waits (handling events) until the process has ended; false if it still
// runs after `ms`.
inline bool processEndsWithin(qint64 pid, int ms = 5000)
{
    return QTest::qWaitFor([pid] { return !processRunning(pid); }, ms);
}
