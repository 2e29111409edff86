#include "platform/Viewers.h"

#include "platform/Notices.h"
#include "platform/Paths.h"

#include <QProcess>

QString MissingViewerNotice(ViewerKind kind)
{
    switch (kind) {
    case ViewerKind::TextEditor:
        return QStringLiteral("Enter a path for the Text Editor executable in the Settings.");
    case ViewerKind::MoleculeEditor:
        break;
    }
    return QStringLiteral("Enter a path for the Molecule Editor executable in the Settings.");
}

ViewerLaunch MakeViewerLaunch(const QString &program, const QString &file)
{
    // The working directory is the file's folder: everything up to and
    // including the last "/".
    return ViewerLaunch{program, QStringList{file}, Paths::FolderPart(file)};
}

void OpenInViewer(ViewerKind kind, const QString &program, const QString &file)
{
    if (program.isEmpty())
        Notices::ShowNotice(MissingViewerNotice(kind));
    if (file.isNull() || program.isEmpty())
        return;

    const ViewerLaunch launch = MakeViewerLaunch(program, file);
    // Detached: the editor outlives Nelo and is never waited for. Its own
    // output goes wherever Nelo's goes; a failed start is not reported.
    QProcess::startDetached(launch.program, launch.arguments, launch.workingDirectory);
}
