#pragma once

#include "cluster/ClusterSettings.h"
#include "cluster/SlurmCluster.h"
#include "jobs/JobRunner.h"

#include <QString>

#include <memory>
#include <vector>

class SshCluster;

// The places besides this computer where Nelo runs jobs, and which one the
// settings choose. The main window holds one and knows none of them by
// name: Run asks it for the backend, the next start for the jobs a
// previous Nelo left running.
class ClusterBackends
{
public:
    // The jobs on a cluster are kept in the state file (see ClusterState)
    // from their submission until they are listed; those on a cluster
    // reached over SSH in a file of their own beside it
    // (SshCluster::StateFileFor). `askPass` is the program that asks ssh's
    // questions (empty: nelo-askpass beside the running program). The environment variable NELO_SSH_CONFIG may name an ssh
    // configuration file to use instead of ~/.ssh/config.
    ClusterBackends(const TClusterSettings &settings, const TJobSettings &jobSettings, const QString &stateFile,
                    const QString &askPass = {});
    ~ClusterBackends();
    ClusterBackends(const ClusterBackends &) = delete;
    ClusterBackends &operator=(const ClusterBackends &) = delete;

    // The backend the settings choose now; none for this computer.
    IExecutionBackend *Chosen();

    // The jobs a previous Nelo left on a cluster, ready to be followed again
    // (JobRunner::Resume), and the backend they run on; `problem` says why
    // the state file could not be read (it has then been kept aside). Jobs
    // on the shared-file-system cluster come first; those over SSH wait for
    // the next start when both are left.
    struct SavedJobs
    {
        IExecutionBackend *backend = nullptr;
        std::vector<JobRunner::Adopted> jobs;
        QString problem;
    };
    SavedJobs TakeSavedJobs();

    // The shared-file-system Slurm backend, for measuring its calls.
    SlurmCluster &Slurm() { return *m_slurm; }
    SshCluster &Ssh() { return *m_ssh; }
    // The ssh configuration file NELO_SSH_CONFIG names (empty: ssh's own).
    static QString SshConfigFile();
    // Nelo's window for ssh's questions: nelo-askpass beside the running program.
    static QString AskPassProgram();
    // The settings dialog's test over SSH: connects as the settings say and
    // runs the command there (SshCluster::Ask).
    static SlurmCluster::Answer AskOverSsh(const TClusterSettings &settings, const QString &program,
                                           const QStringList &arguments);

private:
    const TClusterSettings &m_settings;
    std::unique_ptr<SlurmCluster> m_slurm;
    std::unique_ptr<SshCluster> m_ssh;
};
