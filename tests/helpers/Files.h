#pragma once

// Whole-file reads and writes for test set-up and checks.

#include <QByteArray>
#include <QFile>
#include <QString>

// The file's bytes; empty when it cannot be opened (a missing file reads as
// empty).
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file anew; false unless every byte was written. Call it as
// QVERIFY(writeFile(...)).
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Writes a program (a script) that only its owner may read, write and run.
inline bool writeExecutable(const QString &path, const QByteArray &body)
{
    return writeFile(path, body)
           && QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
