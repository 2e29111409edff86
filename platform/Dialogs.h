#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Modal file and folder choosers. The program shows Qt's dialogs; tests
// install an answerer and reply without any dialog on screen.
namespace Dialogs {

enum class Kind { OpenFiles, OpenFile, SaveFile, Directory };

struct Request
{
    Kind kind = Kind::OpenFile;
    QString title;
    QString filter;            // "Description (*.ext)|*.ext|..." (see QtNameFilters)
    QString defaultSuffix;     // without the dot; appended to a typed name that has none
    QString initialFolder;     // empty: the dialog's default place
    bool matchEveryFile = false;
    bool allowNewFolder = true;   // Directory: offer the New Folder button
};

// Several existing files (OpenFiles), one existing file (OpenFile), a file
// to write with an overwrite prompt (SaveFile), or a folder with the New
// Folder button unless allowNewFolder is false (Directory). Empty on Cancel.
QStringList Ask(QWidget *parent, const Request &request);
QString AskOne(QWidget *parent, const Request &request);

using Answerer = std::function<QStringList(const Request &request)>;
// Replaces the real dialogs (tests); returns the previous answerer.
Answerer SetAnswerer(Answerer answerer);

} // namespace Dialogs
