#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

// A read-only account of what the running program shows, for the tests that
// drive the real program from outside with real input events. Switched on
// only by the environment variable NELO_STATE_REPORT=FILE: the file is then
// replaced every 50 ms by a JSON object with the focused control, the active
// and the visible windows, the place of every named visible control on the
// screen (with the text of a one-line edit and the state of a button), the
// entries of the lists, how each processed output's job ended (its outcome
// keyword), the rows of the tables and the last line each text pane shows.
// It reads widgets and changes nothing.
class StateReport : public QObject
{
public:
    // Starts the report when NELO_STATE_REPORT names a file; else nothing.
    static void StartIfAsked(QObject *parent);

private:
    StateReport(QString path, QObject *parent);
    void write();

    QString m_path;
    QTimer m_timer;
    qint64 m_count = 0;
};

// The last line of the pane that is shown in full; an empty last line (the
// one after a final line break) counts as the line before it.
QString LastVisibleLine(const QPlainTextEdit &pane);
