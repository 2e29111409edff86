#pragma once

// Reads back what nelo-argv-recorder wrote (see argv_recorder.cpp): its
// working directory and its argv, byte for byte.
//
// Every test gets the recorder's path as the compile definition
// NELO_ARGV_RECORDER; start it with NELO_ARGV_RECORD=<file> in its environment.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

struct ArgvRecord
{
    bool valid = false;      // the file was there and held a whole record
    QByteArray workingDirectory;
    QList<QByteArray> args;  // args[0] is argv[0]

    static ArgvRecord read(const QString &path)
    {
        ArgvRecord record;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return record;
        const QByteArray bytes = file.readAll();
        if (bytes.isEmpty() || !bytes.endsWith('\0'))
            return record;
        QList<QByteArray> fields = bytes.first(bytes.size() - 1).split('\0');
        record.workingDirectory = fields.takeFirst();
        record.args = fields;
        record.valid = true;
        return record;
    }

    // For programs started detached: waits until the record appears.
    static ArgvRecord waitFor(const QString &path, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!QFile::exists(path) && !deadline.hasExpired())
            QThread::msleep(10);
        return read(path);
    }

    // The arguments after argv[0] as text (the file system's encoding).
    QStringList arguments() const
    {
        QStringList list;
        for (qsizetype i = 1; i < args.size(); ++i)
            list.append(QFile::decodeName(args[i]));
        return list;
    }
};
