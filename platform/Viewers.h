#pragma once

#include <QString>
#include <QStringList>

// Opening a queued input or a finished output in the user's text editor or
// molecule editor. The editor gets the file as its one argument and the
// file's folder as working directory; Nelo neither waits for it nor looks at
// whether it started.
enum class ViewerKind { TextEditor, MoleculeEditor };

struct ViewerLaunch
{
    QString program;          // the editor's path exactly as set
    QStringList arguments;    // the file path, whole, blanks and all
    QString workingDirectory; // the folder part of the file, with its trailing "/"
};

// The notice shown when the editor's path is empty.
QString MissingViewerNotice(ViewerKind kind);

ViewerLaunch MakeViewerLaunch(const QString &program, const QString &file);

// The whole command behind the four viewer buttons. program: the configured
// editor (TxtFile or MolFile); file: the focused entry of the list, null when
// the list has no focused entry.
//
// An empty program path shows the notice and starts nothing: the file itself
// is never run as a program. No focused entry: nothing after the notice.
// A start that fails passes silently.
void OpenInViewer(ViewerKind kind, const QString &program, const QString &file);
