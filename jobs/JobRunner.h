#pragma once

#include "analysis/ConvergenceSeries.h"
#include "analysis/JobOutcome.h"
#include "jobs/CommandLine.h"
#include "jobs/JobSettings.h"
#include "jobs/JobWindow.h"

#include <QString>

#include <functional>
#include <memory>

class FireflyProcess;
class GeometryScanner;
class IPowerOff;
class OutputFollower;

// Runs the ticked entries of the input queue one after another: the Run and
// Abort buttons of the main window. One job at a time; everything runs on
// the user-interface thread, and the monitor lets the interface handle its
// events while it waits between polls, so every handler stays usable during
// a run (a modal dialog opened meanwhile pauses the monitor until it closes;
// Firefly runs on and the monitor catches up).
class JobRunner
{
public:
    // The monitor polls the process and the output file this often.
    static constexpr int PollMs = 100;
    // At most this many bytes per read; a larger backlog drains over the next polls.
    static constexpr qsizetype ReadLimit = 200000;
    // Filter and default suffix of the save dialog of naming policy 2.
    static const QString OutputFileFilter;
    static const QString OutputFileSuffix;

    JobRunner(TJobSettings &settings, IJobWindow &window, IClipboard &clipboard, IPowerOff &powerOff,
              GeometryScanner &scanner);
    ~JobRunner();
    JobRunner(const JobRunner &) = delete;
    JobRunner &operator=(const JobRunner &) = delete;

    // The Run button: returns when the queue is exhausted or aborted, then
    // powers the machine off when "Shutdown when done" is ticked.
    void RunBtnClick();
    // The Abort button: ends the running Firefly job (its whole process group)
    // and stops the queue after it.
    void AbortBtnClick();

    // Whether a queue run is in progress (RunBtnClick has not returned).
    bool IsRunning() const { return m_running; }

    // Runs one job (InputFileName -> OutputFileName); false when Firefly
    // could not be started ("Unable to run Firefly!" and, on a second line,
    // the path and the system's reason have then been shown).
    bool RunJob();
    // Sets JobIndex to the first ticked queue entry; false when none is ticked.
    bool FindFirstChecked();
    // The output path for a job by naming policy: 0 ".out", 1 "_N.out" with
    // the first free N, 2 (and anything above) asks the user, the ".out"
    // name on Cancel.
    QString MakeOutputName(const QString &InputFileName, int OutputFormat);
    // Powers the machine off; a refusal is shown as a notice with its reason.
    void ShutdownSystem();

    // A job whose Firefly ran, once its output has been read to the end: its
    // paths and how the process ended (Aborted when Abort was pressed during
    // the job), what ClassifyJobOutcome needs to tell how it ended.
    struct FinishedJob
    {
        QString input;
        QString output;
        ProcessEnd end;
    };
    using FinishedJobSink = std::function<void(const FinishedJob &job)>;
    // Called for every such job, before the runner lists its output.
    void SetFinishedJobSink(FinishedJobSink sink) { m_finishedJobSink = std::move(sink); }
    // The last such job (empty paths before the first).
    const FinishedJob &LastFinishedJob() const { return m_lastFinishedJob; }

    // The geometry search of the running job (or of the last one), read from
    // the same batches as the progress log; emptied when a job starts.
    const ConvergenceSeries &Convergence() const { return m_convergence; }

    // How the monitor waits between polls. The default handles the
    // interface's events while it waits (a nested event loop ended by a
    // timer); a benchmark can put a different wait in its place.
    using Wait = std::function<void(int ms)>;
    void SetWait(Wait wait);
    static void WaitHandlingEvents(int ms);

    QString InputFileName;
    QString OutputFileName;
    bool Aborted = false;
    int JobIndex = 0;

private:
    void ShowBatch(const OutputFollower &follower);

    TJobSettings &m_settings;
    IJobWindow &m_window;
    IClipboard &m_clipboard;
    IPowerOff &m_powerOff;
    GeometryScanner &m_scanner;
    Wait m_wait;
    std::unique_ptr<FireflyProcess> m_process; // the running job, for Abort
    FinishedJobSink m_finishedJobSink;
    FinishedJob m_lastFinishedJob;
    ConvergenceSeries m_convergence;
    bool m_running = false;
};
