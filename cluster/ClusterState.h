#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// The jobs of a run that are on the cluster, kept in a small file beside the
// settings file ("nelo.INI" -> "nelo.jobs"). Cluster jobs outlive Nelo: the
// file is written whenever a job is submitted or ends, so that the next start
// can follow them again also after Nelo was killed, not only after Exit.
struct ClusterJobRecord
{
    QString jobId;       // as sbatch gave it
    QString input;       // the queue entry the job came from
    QString output;      // Firefly's output file (-o)
    QString log;         // Slurm's own stdout and stderr of the job
    QDateTime submitted; // UTC
    // A cluster reached over SSH: where, the job's folder there, Firefly's
    // output there, and how many of its bytes the local output holds.
    QString destination = {};
    QString clusterFolder = {};
    QString clusterOutput = {};
    qint64 mirrored = 0;

    bool operator==(const ClusterJobRecord &other) const;
};

// The state file that belongs to a settings file.
QString ClusterStateFilePath(const QString &settingsFile);

struct ClusterStateLoad
{
    QList<ClusterJobRecord> jobs;
    // Empty, or why the file could not be read. A file that cannot be read
    // is moved aside (its name + ".unreadable"), never silently dropped.
    QString problem;
};

// A missing file holds no jobs.
ClusterStateLoad LoadClusterState(const QString &path);

// Replaces the file at once (a temporary file renamed over it); no jobs
// removes it. Throws EWriteError ("Unable to write to <path>") on failure,
// leaving the old file as it was.
void SaveClusterState(const QList<ClusterJobRecord> &jobs, const QString &path);
