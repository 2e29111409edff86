#pragma once

#include "analysis/JobOutcome.h"
#include "jobs/CommandLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

// One run of Firefly, wherever it runs: all the job monitor and the queue
// runner need of it. On this computer it is a child process; on a cluster a
// batch job. The runner never knows which.
class IFireflyRun
{
public:
    enum class Phase {
        Starting,   // handed over, not yet confirmed (a batch job being submitted)
        Waiting,    // queued on the cluster
        Running,
        Completing, // ended, the cluster is still cleaning up after it
        Ended,
    };

    struct Status
    {
        Phase phase = Phase::Starting;
        QString id;         // the process id, or the cluster's job id
        QByteArray word;    // the cluster's own word for the state ("PENDING", "TIMEOUT"), or empty
        QDateTime since;    // when the run entered its phase, as far as known (UTC)
    };

    virtual ~IFireflyRun() = default;

    // Starts Firefly: the program with its arguments in the working folder.
    // False when it cannot be started; *why then says why, in the system's
    // or the cluster's own words.
    virtual bool Start(const FireflyInvocation &invocation, QString *why) = 0;
    // Whether Firefly has not yet ended. Asked on every turn of the monitor,
    // so it is cheap.
    virtual bool IsRunning() = 0;
    // Ends Firefly and everything it started. The run counts as running
    // until that is done.
    virtual void Kill() = 0;
    // How it ended, once IsRunning() is false.
    virtual ProcessEnd End() const = 0;
    virtual Status CurrentStatus() const = 0;
    // When Firefly wrote nothing to its output file: the end of what it, or
    // the cluster, wrote elsewhere about why (empty when nothing).
    virtual QByteArray WhyNoOutput() const { return {}; }
    // Whether the output pane follows this run now. A run whose output file
    // is a copy of one made elsewhere brings the followed one up to date
    // more often than the others.
    virtual void SetFollowed(bool) {}
};

// Where runs are started: this computer, or a cluster.
class IExecutionBackend
{
public:
    virtual ~IExecutionBackend() = default;

    // A new run for a job: its input and output files name it.
    virtual std::unique_ptr<IFireflyRun> NewRun(const QString &input, const QString &output) = 0;
    // How many jobs may be started or running at a time.
    virtual int JobsAtOnce() const = 0;
    // Whether runs go on after Nelo ends (Exit is then allowed during a run,
    // and a later start follows them again).
    virtual bool RunsOutliveNelo() const = 0;
    // What a refused start means. Here it concerns one job (its program
    // cannot start): the job is dropped and the next one taken. A cluster's
    // refusal (sbatch refused, the controller unreachable) concerns every
    // job: the entry goes back into the queue and no further job starts.
    virtual bool RefusalStopsRun() const { return RunsOutliveNelo(); }
    // What keeps the backend from its jobs now, for the line above the jobs
    // view: the scheduler's name and its own message; empty while all is
    // well. Asked on every turn of the monitor, so it is cheap.
    virtual QString Problem() const { return {}; }
};

// Runs on this computer: a child process each, one at a time.
class LocalBackend : public IExecutionBackend
{
public:
    std::unique_ptr<IFireflyRun> NewRun(const QString &input, const QString &output) override;
    int JobsAtOnce() const override { return 1; }
    bool RunsOutliveNelo() const override { return false; }
};
