#pragma once

#include <QString>
#include <QStringView>

// How Nelo cuts a path, everywhere it does: the folder part is everything up
// to and including the last "/" (empty when there is none), the file name
// part everything after it. A file name's extension is the part from its
// last dot on; a name without a dot has none, and a name whose only dot
// is its first character (".inp") is all extension.
namespace Paths {

QString FolderPart(const QString &path);
QString FileNamePart(const QString &path);
// The file name part without its extension ("water" for "/w/water.inp").
QString BaseName(const QString &path);
// The path with its file name's extension replaced by `extension` (".out"),
// appended when the name has none.
QString WithExtension(const QString &path, QStringView extension);

} // namespace Paths
