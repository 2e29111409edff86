#include "platform/WholeFile.h"

#include "platform/Errors.h"

#include <QFileInfo>
#include <QSaveFile>

bool WriteAll(QFileDevice &file, QByteArrayView bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const qint64 chunk = file.write(bytes.data() + written, bytes.size() - written);
        if (chunk <= 0)
            return false;
        written += chunk;
    }
    return true;
}

void SaveFileWhole(const QString &path, QByteArrayView bytes)
{
    // Unbuffered: a buffered QSaveFile can drop the rest of a short write and
    // still commit a truncated file. One that is not committed removes its
    // temporary file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !WriteAll(file, bytes) || !file.commit())
        throw EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath());
}
