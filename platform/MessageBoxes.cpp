#include "platform/MessageBoxes.h"

#include "platform/Notices.h"

#include <NeloVersion.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

int showBox(QMessageBox::Icon icon, const QString &text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok)
{
    QMessageBox box(icon, QStringLiteral(NELO_APPLICATION_TITLE), text, buttons);
    box.adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        box.move(frame.topLeft());
    }
    return box.exec();
}

} // namespace

void InstallMessageBoxPresenters()
{
    Notices::SetNoticePresenter([](const QString &text) { showBox(QMessageBox::NoIcon, text); });
    Notices::SetErrorPresenter([](const QString &text) { showBox(QMessageBox::Critical, text); });
    Notices::SetConfirmPresenter([](const QString &text) {
        return showBox(QMessageBox::Question, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    });
}
