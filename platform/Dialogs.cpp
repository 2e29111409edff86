#include "platform/Dialogs.h"

#include "platform/FileFilters.h"

#include <QFileDialog>

#include <utility>

namespace Dialogs {
namespace {

Answerer &answerer()
{
    static Answerer instance;
    return instance;
}

QStringList showRealDialog(QWidget *parent, const Request &request)
{
    if (request.kind == Kind::Directory) {
        // The folder browser: empty on cancel. A read-only browser offers no New Folder button.
        QFileDialog::Options options = QFileDialog::ShowDirsOnly;
        if (!request.allowNewFolder)
            options |= QFileDialog::ReadOnly;
        const QString folder = QFileDialog::getExistingDirectory(parent, request.title, request.initialFolder,
                                                                 options);
        return folder.isEmpty() ? QStringList() : QStringList(folder);
    }

    QFileDialog dialog(parent, request.title, request.initialFolder);
    dialog.setNameFilters(QtNameFilters(request.filter, request.matchEveryFile));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    switch (request.kind) {
    case Kind::OpenFiles:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        break;
    case Kind::OpenFile:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case Kind::SaveFile:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        break;
    case Kind::Directory:
        break;
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

} // namespace

QStringList Ask(QWidget *parent, const Request &request)
{
    if (answerer())
        return answerer()(request);
    return showRealDialog(parent, request);
}

QString AskOne(QWidget *parent, const Request &request)
{
    const QStringList chosen = Ask(parent, request);
    return chosen.isEmpty() ? QString() : chosen.first();
}

Answerer SetAnswerer(Answerer newAnswerer)
{
    return std::exchange(answerer(), std::move(newAnswerer));
}

} // namespace Dialogs
