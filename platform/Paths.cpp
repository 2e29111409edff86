#include "platform/Paths.h"

namespace {

qsizetype nameStart(const QString &path)
{
    return path.lastIndexOf(QLatin1Char('/')) + 1;
}

// Where the file name's extension starts; the path's end when it has none.
qsizetype extensionStart(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= nameStart(path) ? dot : path.size();
}

} // namespace

namespace Paths {

QString FolderPart(const QString &path)
{
    return path.left(nameStart(path));
}

QString FileNamePart(const QString &path)
{
    return path.mid(nameStart(path));
}

QString BaseName(const QString &path)
{
    const qsizetype start = nameStart(path);
    return path.mid(start, extensionStart(path) - start);
}

QString WithExtension(const QString &path, QStringView extension)
{
    return path.left(extensionStart(path)).append(extension);
}

} // namespace Paths
