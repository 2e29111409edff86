#pragma once

#include "jobs/JobSettings.h"

#include <QString>

class IniFile;

// Where Firefly runs: on this computer (the default), on a Slurm cluster
// that shares the file system with it, so that input and output files have
// the same paths on both sides, or on a Slurm cluster reached over SSH,
// which shares nothing with this computer (inputs are copied there, outputs
// copied back). Kept in the "Cluster" section of the settings file, beside
// the "Settings" section, and, like it, written back only by Exit.
struct TClusterSettings
{
    enum class Where : quint8 { ThisComputer = 0, Slurm = 1, SlurmOverSsh = 2 };

    Where RunOn = Where::ThisComputer;
    QString Partition;     // empty: the cluster's default partition
    QString Account;       // empty: the user's default account
    QString TimeLimit;     // as sbatch takes it ("90", "4:00:00", "2-12"); empty: the partition's limit
    QString Memory;        // per node, as sbatch takes it ("4000M", "16G"); empty: the partition's default
    QString SbatchOptions; // further sbatch options: blank-separated, double quotes as in the directory list
    int JobsAtOnce = 10;   // ticked entries kept submitted or running at a time
    int PollSeconds = 5;   // Slurm is asked for the jobs' states at most this often
    // Over SSH: where ssh connects (as written for ssh: "alice@login.hpc.example"
    // or a Host of ~/.ssh/config), and the cluster's side of every path of the
    // Firefly command line.
    QString Destination;
    QString ClusterFirefly;    // Firefly's executable on the cluster
    QString ClusterWorkFolder; // the root of the jobs' folders, and Firefly's -t folder
    QString ClusterLibrary;    // the basis-set library on the cluster; empty for none
    bool RemoveClusterFolders = false; // a job's folder there goes once its files are home

    bool operator==(const TClusterSettings &other) const;
    bool operator!=(const TClusterSettings &other) const { return !(*this == other); }
};

// Reads the "Cluster" section; a missing key, or a number that does not
// read or is out of range, gives the field's default.
void LoadClusterSettings(TClusterSettings &settings, const IniFile &file);
void LoadClusterSettings(TClusterSettings &settings, const QString &fileName);

// Sets the section's keys in the document. A file without the section gets
// it only when a value differs from its default, so the settings file of a
// user who never looks at the cluster stays as it always was.
void StoreClusterSettings(const TClusterSettings &settings, IniFile &file);
// The section as SaveSettings writes it with the thirteen keys; the settings
// must outlive the call.
inline IniSections ClusterSection(const TClusterSettings &settings)
{
    return [&settings](IniFile &file) { StoreClusterSettings(settings, file); };
}

// Whether sbatch takes the text as a time limit: minutes, minutes:seconds,
// hours:minutes:seconds, days-hours, days-hours:minutes,
// days-hours:minutes:seconds, or UNLIMITED / INFINITE.
bool IsSlurmTimeLimit(const QString &text);
// Whether sbatch takes the text as a memory size: a whole number with an
// optional unit K, M, G or T.
bool IsSlurmMemory(const QString &text);

// Why ssh could not take the text as a destination (empty, an option, a
// blank or control character in it); empty text when it can.
QString SshDestinationProblem(const QString &destination);

// The first reason the settings cannot be used, in the words the settings
// dialog shows, or empty text when they can. Only what is set is checked:
// empty fields leave the choice to the cluster. Over SSH the destination,
// Firefly on the cluster and the working folder there (a full path) are
// needed.
QString ClusterSettingsProblem(const TClusterSettings &settings);
