#pragma once

#include <QByteArrayView>
#include <QString>

class QFileDevice;

// Writes all of `bytes` to a file opened unbuffered, so that a short write (a
// full disk) is seen at once; false when any of it could not be written.
bool WriteAll(QFileDevice &file, QByteArrayView bytes);

// Replaces the file with the bytes in one step (a temporary file renamed
// into place), so it is never left half written and the old file stays as
// it was when anything fails. Throws EWriteError ("Unable to write to PATH")
// when it cannot.
void SaveFileWhole(const QString &path, QByteArrayView bytes);
