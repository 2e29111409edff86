#pragma once

#include <QApplication>

// The application object. An error raised while an event is handled ends
// that handler and is shown by the general error report (NeloError: its
// message; any other std::exception: its what()); the program goes on.
// The main window's handlers report their own errors before they reach the
// event dispatch; this catches whatever else gets there.
class NeloApplication : public QApplication
{
public:
    NeloApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
