#include "platform/MessageBoxes.h"

#include "platform/Notices.h"

#include <NeloVersion.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

void showBox(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, QStringLiteral(NELO_APPLICATION_TITLE), text, QMessageBox::Ok);
    box.adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        box.move(frame.topLeft());
    }
    box.exec();
}

} // namespace

void InstallMessageBoxPresenters()
{
    Notices::SetNoticePresenter([](const QString &text) { showBox(QMessageBox::NoIcon, text); });
    Notices::SetErrorPresenter([](const QString &text) { showBox(QMessageBox::Critical, text); });
}
