#include "platform/SettingsLocation.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

bool writableFolder(const QString &path)
{
    return QFileInfo(path).isDir() && ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

QString ChooseSettingsFile(const QString &environmentChoice, const QString &besideExecutable,
                           const QString &userFile)
{
    if (!environmentChoice.isEmpty())
        return environmentChoice;
    const QFileInfo beside(besideExecutable);
    if (beside.exists() || writableFolder(beside.absolutePath()))
        return besideExecutable;
    return userFile;
}

QString UserSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/nelo/nelo.INI");
}
