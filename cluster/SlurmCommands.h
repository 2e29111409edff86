#pragma once

#include "cluster/ClusterSettings.h"
#include "jobs/CommandLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// What Nelo says to Slurm and reads back, as plain text operations: the
// argument lists of sbatch, squeue, sacct, scontrol and scancel, and the
// parsing of their answers. Nelo links no Slurm library; the commands are
// started with these argument lists, never through a shell.

// The job's state as Nelo shows it.
enum class SlurmState {
    Submitting, // sbatch has not answered yet
    Pending,
    Running,
    Completing,
    Ended,
};

// Slurm's word for a state ("PENDING", "RUNNING", "COMPLETING", "COMPLETED",
// "CANCELLED", "TIMEOUT", ...) as one of ours: every state that is not
// pending, running or completing (and not suspended or requeued) is an end.
SlurmState StateFromSlurm(QByteArrayView word);

// sbatch: --parsable, the job's name, the folder it starts in, one node and
// one task with the core count as its CPUs, the cluster settings that are
// set, the log file for the job's stdout and stderr, the user's further
// options, then the batch script, then Firefly's program and arguments. The
// batch script only execs its arguments, so no path passes a shell.
QStringList SbatchArguments(const TClusterSettings &cluster, const QString &cpuCores, const QString &jobName,
                            const QString &logFile, const QString &batchScript,
                            const FireflyInvocation &firefly);

// A file name for sbatch's --output that Slurm takes as it stands: Slurm
// reads "%j", "%x" and the like in these names as patterns.
QString SlurmLiteralFileName(const QString &path);

// The job id from what sbatch --parsable printed ("4711" or "4711;cluster"),
// empty when it printed none.
QString ParseSbatchJobId(const QByteArray &standardOutput);

// squeue's rows for the given jobs, in one call: id, state, the time the job
// entered its current state as far as squeue tells it (start time of a
// running job, submit time of a pending one). Jobs that ended a short while
// ago are listed with their final state; jobs the controller no longer knows
// are left out.
QStringList SqueueArguments(const QStringList &jobIds);

struct SqueueRow
{
    QString jobId;
    QByteArray state;  // Slurm's word
    QDateTime since;   // invalid when squeue gave none
};
QList<SqueueRow> ParseSqueue(const QByteArray &standardOutput);

// How an ended job ended, as Slurm reports it.
struct SlurmFinal
{
    QByteArray state;  // "COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "OUT_OF_MEMORY", "NODE_FAIL", ...
    int exitCode = -1; // the program's exit status, -1 when unknown
    int signal = 0;    // the signal that ended it, 0 for none
};

// Final states from accounting (sacct), when the cluster keeps it.
QStringList SacctArguments(const QStringList &jobIds);
QHash<QString, SlurmFinal> ParseSacct(const QByteArray &standardOutput);

// Final states from the controller's memory of recent jobs (scontrol),
// where there is no accounting.
QStringList ScontrolArguments(const QStringList &jobIds);
QHash<QString, SlurmFinal> ParseScontrol(const QByteArray &standardOutput);

QStringList ScancelArguments(const QStringList &jobIds);

// sinfo, for the settings dialog's test of the cluster: one row per node and
// partition (a node in two partitions has two rows), so that nodes shared by
// partitions are counted once.
QStringList SinfoArguments();

// What sinfo tells of the cluster.
struct SinfoAnswer
{
    QStringList partitions;   // in sinfo's order, each once, without the default's "*"
    QString defaultPartition; // the one sinfo marks with "*"; empty when none is
    int idleNodes = 0;        // distinct nodes that are idle and respond ("idle", not "idle*", "idle~", ...)
};
SinfoAnswer ParseSinfo(const QByteArray &standardOutput);

// "The cluster answers: 2 partitions, 3 nodes idle".
QString SinfoSummary(const SinfoAnswer &answer);

// "0:0" -> 0 and 0; "1:0" -> 1 and 0; "0:9" -> 0 and 9.
void ParseExitCode(QByteArrayView text, SlurmFinal &final);
