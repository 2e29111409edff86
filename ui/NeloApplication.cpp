#include "ui/NeloApplication.h"

#include "platform/ErrorReport.h"

NeloApplication::NeloApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool NeloApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
