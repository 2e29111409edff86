#pragma once

#include "cluster/ClusterSettings.h"
#include "cluster/ClusterState.h"
#include "jobs/FireflyRun.h"
#include "cluster/SlurmCommands.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

class QProcess;

// Nelo's jobs on a Slurm cluster that shares the file system with this
// machine, so that input and output files have the same paths on both
// sides. Slurm is spoken to only through its commands (sbatch, squeue,
// sacct, scontrol, scancel), each started with an argument list, never
// through a shell; no Slurm library is linked.
//
// A job is submitted with sbatch: Nelo's fixed batch script only execs its
// arguments, and Firefly's program and arguments follow it as separate
// arguments, so no path passes a shell on either side. Slurm's own stdout
// and stderr of the job go to a log file beside the output file.
//
// The controller serves the whole cluster, and its admins forbid hammering
// it: the states of all of Nelo's jobs come from one squeue call at most
// every poll period (5 s by default), and when jobs have ended, one more call
// asks for their final states and exit codes (sacct where the cluster keeps
// accounting, scontrol where it does not). The number of calls does not grow
// with the number of jobs. These calls run in the background; their answers
// arrive while the monitor waits between its turns.
//
// A job stays in the state file from its submission until its output has
// been read to the end, so that a later start (also after Nelo was killed)
// can follow it again.
class SlurmCluster : public QObject, public IExecutionBackend
{
    Q_OBJECT

public:
    // Settings are read when they are used, so changes made between jobs
    // apply from the next job on. No batch script given: Nelo's own.
    SlurmCluster(const TClusterSettings &settings, QString stateFile, QString batchScript = {},
                 QObject *parent = nullptr);
    ~SlurmCluster() override;

    std::unique_ptr<IFireflyRun> NewRun(const QString &input, const QString &output) override;
    int JobsAtOnce() const override;
    bool RunsOutliveNelo() const override { return true; }

    // The jobs a previous Nelo left on the cluster, and a run that follows
    // one of them again.
    ClusterStateLoad SavedJobs() const;
    virtual std::unique_ptr<IFireflyRun> Adopt(const ClusterJobRecord &record);

    // What went wrong with the last call to Slurm ("Slurm: squeue: Unable
    // to contact slurm controller (connect failure)"), empty once a call works.
    QString Problem() const override;
    // How many times each command was started.
    const QHash<QString, int> &CommandCounts() const { return m_commandCounts; }

    // Slurm's own stdout and stderr of a job go here.
    static QString LogFileFor(const QString &output);
    // Nelo's batch script, which only execs its arguments, as a file that
    // sbatch can read (empty text when none can be written).
    static QString BatchScriptFile();

    // A Slurm command run to its end, handling events meanwhile (sbatch,
    // and sinfo for the settings dialog's test).
    struct Answer
    {
        bool ok = false;     // started, ended by itself with status 0
        QByteArray out;
        QString message;     // when not ok: Slurm's own message (or why it did not start)
    };
    static Answer Run(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

    // A job on the cluster, from its submission until the runner lets go of it.
    struct Job
    {
        ClusterJobRecord record;
        IFireflyRun::Phase phase = IFireflyRun::Phase::Starting;
        QByteArray word;
        QDateTime since;
        bool needsFinal = false; // Slurm says it ended (or knows it no more): its exit is asked for next
        bool over = false;       // its final state is known: Slurm is asked nothing more about it
        SlurmFinal final;        // state empty until known
        bool cancelled = false;
        qint64 cancelSent = -1;  // when the last scancel for it went out
        bool followed = false;   // the output pane follows it
        bool detached = false;   // the runner let go of it before its end (Nelo ends): it stays on the cluster
    };

protected:
    friend class SlurmRun;
    enum class Query { None, Squeue, Sacct, Scontrol, Scancel };

    // What a Slurm command answered.
    struct Reply
    {
        bool ok = false; // it ran and ended with status 0
        QByteArray out;
        QByteArray err;  // its standard error, or why it did not start
    };

    // Hands the job to Slurm; false with Slurm's (or the system's) message.
    virtual bool Submit(const std::shared_ptr<Job> &job, const FireflyInvocation &invocation, QString *why);
    // Starts a Slurm command in `process`; here, as it stands.
    virtual void startCommand(QProcess &process, Query kind, const QString &program, const QStringList &arguments);
    // What the finished command answered; none when it never reached the
    // cluster (the poll then asks again later).
    virtual std::optional<Reply> replyOf(QProcess &process, Query kind);
    // Slurm has told how the job ended: here it is over at once.
    virtual void ended(Job &job);
    // Asked on every turn of the monitor, before the poll: cheap.
    virtual void pollMore() {}
    // Whether Slurm's commands can be started now (a connection to the
    // cluster may be down): the poll and cancellations wait meanwhile.
    virtual bool reachable() const { return true; }
    virtual void Release(const Job &job);
    virtual void setFollowed(Job &job, bool followed) { job.followed = followed; }
    const TClusterSettings &settings() const { return m_settings; }
    const std::map<QString, std::shared_ptr<Job>> &jobs() const { return m_jobs; }
    void addJob(const std::shared_ptr<Job> &job) { m_jobs[job->record.jobId] = job; }
    void saveState();
    void count(const QString &program);
    qint64 now() const { return m_clock.elapsed(); }
    // The poll after a submission comes one poll period later.
    void submitted(const std::shared_ptr<Job> &job);
    QString m_problem;

private:
    void PollIfDue();
    void Cancel(Job &job);

    void startQuery(Query kind, const QString &program, const QStringList &arguments);
    void queryFinished();
    void takeSqueue(const QByteArray &out);
    void takeFinals(const QHash<QString, SlurmFinal> &finals, bool answered);
    void startFinalQuery();
    void flushCancels();

    const TClusterSettings &m_settings;
    QString m_stateFile;
    QString m_batchScript;
    std::map<QString, std::shared_ptr<Job>> m_jobs; // by job id: submitted and not yet released
    QElapsedTimer m_clock;
    qint64 m_nextPoll = 0;
    QProcess *m_query = nullptr;
    Query m_queryKind = Query::None;
    QString m_queryProgram;
    qint64 m_queryStarted = 0;
    bool m_accounting = true; // until sacct says the cluster keeps none
    QStringList m_toCancel;
    bool m_cancelScheduled = false;
    bool m_stateProblemShown = false;
    QHash<QString, int> m_commandCounts;
};
