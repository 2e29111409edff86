#include "platform/MessageBoxes.h"

#include <NeloVersion.h>

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(NELO_PRODUCT_NAME));
    QApplication::setApplicationDisplayName(QStringLiteral(NELO_APPLICATION_TITLE));
    QApplication::setApplicationVersion(QStringLiteral(NELO_VERSION));
    InstallMessageBoxPresenters();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral(NELO_APPLICATION_TITLE));
    window.showMaximized();
    return app.exec();
}
