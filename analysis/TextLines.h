#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// A whole file as single-byte lines, split at CR, LF or CR LF.
// Throws EFileError with a clear message when the file cannot be read.
QByteArrayList LoadTextLines(const QString &fileName);
QByteArrayList SplitTextLines(const QByteArray &text);
