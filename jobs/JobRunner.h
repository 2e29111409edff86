#pragma once

#include "jobs/CommandLine.h"
#include "jobs/JobSettings.h"
#include "jobs/JobWindow.h"

#include <QString>

class GeometryScanner;
class IPowerOff;

// Runs the ticked entries of the input queue one after another: the Run and
// Abort buttons of the main window. One job at a time; everything runs on
// the user-interface thread, and the monitor lets the interface handle its
// events every 100 ms, so every handler stays usable during a run.
class JobRunner
{
public:
    JobRunner(TJobSettings &settings, IJobWindow &window, IClipboard &clipboard, IPowerOff &powerOff,
              GeometryScanner &scanner);
    ~JobRunner();

    // The Run button: returns when the queue is exhausted or aborted.
    void RunBtnClick();
    // The Abort button: ends the running Firefly job (its whole process group).
    void AbortBtnClick();

    bool IsRunning() const;

    // Runs one job (InputFileName -> OutputFileName); false when Firefly could not be started.
    bool RunJob();
    bool FindFirstChecked();
    QString MakeOutputName(const QString &InputFileName, int OutputFormat);

    QString InputFileName;
    QString OutputFileName;
    bool Aborted = false;
    int JobIndex = 0;

private:
    TJobSettings &m_settings;
    IJobWindow &m_window;
    IClipboard &m_clipboard;
    IPowerOff &m_powerOff;
    GeometryScanner &m_scanner;
};
