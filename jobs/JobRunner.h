#pragma once

#include "analysis/ConvergenceSeries.h"
#include "analysis/JobOutcome.h"
#include "jobs/CommandLine.h"
#include "jobs/Continuation.h"
#include "jobs/FireflyRun.h"
#include "jobs/JobSettings.h"
#include "jobs/JobWindow.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class GeometryScanner;
class IPowerOff;
class RunJobsModel;

// Runs the ticked entries of the input queue: the Run and Abort buttons of
// the main window. Everything runs on the user-interface thread, and the
// monitor lets the interface handle its events while it waits between
// polls, so every handler stays usable during a run (a modal dialog opened
// meanwhile pauses the monitor until it closes; Firefly runs on and the
// monitor catches up).
//
// Where Firefly runs is the backend's business (this computer, or a
// cluster): the runner starts, polls and ends runs through IFireflyRun and
// follows their output files. On this computer one job runs at a time, in
// queue order, each after the previous one has ended. A backend that allows
// several jobs at once gets up to that many ticked entries started; each job
// then has its own progress-scanner state, its progress entries are shown
// with its output file's name, and its output is listed when it ends, in
// the order jobs end. The output pane follows one job: the one the user
// chose, else the oldest running one.
class JobRunner
{
public:
    // The monitor polls the runs and their output files this often.
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

    // Which backend a run uses, asked when Run is pressed; this computer
    // when there is no chooser or it answers none.
    using BackendChooser = std::function<IExecutionBackend *()>;
    void SetBackendChooser(BackendChooser chooser);

    // The Run button: returns when the queue is exhausted or aborted and
    // every job started has ended, then powers the machine off when
    // "Shutdown when done" is ticked.
    void RunBtnClick();
    // The Abort button: ends every running job (with everything it started)
    // and stops the queue; the run ends when they have ended.
    void AbortBtnClick();

    // Jobs that a previous Nelo left running on a cluster: they are followed
    // as a run of their own, and listed when they end.
    struct Adopted
    {
        QString input;
        QString output;
        std::unique_ptr<IFireflyRun> run;
    };
    void Resume(IExecutionBackend &backend, std::vector<Adopted> jobs);

    // Whether a run is in progress (RunBtnClick or Resume has not returned).
    bool IsRunning() const { return m_running; }
    // Jobs of the run that are not over yet.
    int ActiveJobCount() const { return int(m_active.size()); }
    // Whether the jobs of the current run go on when Nelo ends.
    bool JobsOutliveNelo() const;
    // Nelo ends while its cluster jobs run on: the run stops following them
    // without ending them (a later start follows them again).
    void Detach();

    // The output pane follows the job with that output file (while it is
    // not over); an empty path goes back to the oldest running one.
    void Follow(const QString &output);
    // The jobs of the current (or last) run.
    RunJobsModel &JobsModel() const { return *m_jobsModel; }

    // Runs one job (InputFileName -> OutputFileName) to its end; false when
    // Firefly could not be started ("Unable to run Firefly!" and, on a
    // second line, the reason have then been shown).
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
        // Continued by itself (SetContinueSettings): the new input, queued
        // ticked; or why a search that ran out of steps or time was not.
        QString continuedAs;
        QString notContinued;
    };
    using FinishedJobSink = std::function<void(const FinishedJob &job)>;
    // Called for every such job, before the runner lists its output.
    void SetFinishedJobSink(FinishedJobSink sink) { m_finishedJobSink = std::move(sink); }
    // Called when a run is over, every job it started having ended (not
    // when Nelo lets go of jobs that go on without it: Detach).
    void SetRunEndSink(std::function<void()> sink) { m_runEndSink = std::move(sink); }
    // The last such job (empty paths before the first).
    const FinishedJob &LastFinishedJob() const { return m_lastFinishedJob; }

    // How often a search that runs out of steps or time is continued by
    // itself (none: never); the settings must outlive the runner. The new
    // input goes into the queue, ticked, where the job's entry was, so the
    // run goes on with it.
    void SetContinueSettings(const TContinueSettings *settings) { m_continue = settings; }
    int MaxContinuations() const { return m_continue ? m_continue->MaxContinuations : 0; }
    // The continuations made in this session, by hand or by the run.
    ContinuationChains &Chains() { return m_chains; }

    // The geometry search of the job the pane follows (or of the last one),
    // read from the same batches as the progress log.
    const ConvergenceSeries &Convergence() const;

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
    struct Job;

    void run(IExecutionBackend &backend, bool takeFromQueue);
    void monitor(IExecutionBackend &backend, bool takeFromQueue, bool list);
    bool takeNext(IExecutionBackend &backend);
    bool startJob(IExecutionBackend &backend);
    qsizetype read(Job &job);
    void step(Job &job);
    void finish(Job &job, bool list);
    void continueByItself(const Job &job);
    void show(Job &job);
    void follow(Job *job);
    void followDefault();
    void updateRow(const Job &job, bool listed = false);
    bool outputInUse(const QString &output) const;

    TJobSettings &m_settings;
    IJobWindow &m_window;
    IClipboard &m_clipboard;
    IPowerOff &m_powerOff;
    GeometryScanner &m_scanner;
    Wait m_wait;
    BackendChooser m_chooseBackend;
    std::unique_ptr<LocalBackend> m_local;
    std::unique_ptr<RunJobsModel> m_jobsModel;
    QByteArray m_buffer;
    std::vector<std::unique_ptr<Job>> m_active; // started and not yet over, oldest first
    Job *m_followed = nullptr;
    QString m_chosen;          // the output the user chose to follow
    bool m_several = false;    // this run may have several jobs at once
    bool m_outlives = false;   // this run's jobs go on when Nelo ends
    bool m_detached = false;
    bool m_refused = false;    // the backend refused a start: no further job is taken
    bool m_running = false;
    qint64 m_lastTick = 0;
    FinishedJobSink m_finishedJobSink;
    const TContinueSettings *m_continue = nullptr;
    ContinuationChains m_chains;
    std::function<void()> m_runEndSink;
    FinishedJob m_lastFinishedJob;
    ConvergenceSeries m_lastConvergence;
};
