#pragma once

#include "cluster/ClusterSettings.h"
#include "jobs/JobRunner.h"

#include <QString>

#include <memory>
#include <vector>

class SlurmCluster;

// The places besides this computer where Nelo runs jobs, and which one the
// settings choose. The main window holds one and knows none of them by
// name: Run asks it for the backend, the next start for the jobs a
// previous Nelo left running.
class ClusterBackends
{
public:
    // The jobs on a cluster are kept in the state file (see ClusterState)
    // from their submission until they are listed.
    ClusterBackends(const TClusterSettings &settings, const QString &stateFile);
    ~ClusterBackends();
    ClusterBackends(const ClusterBackends &) = delete;
    ClusterBackends &operator=(const ClusterBackends &) = delete;

    // The backend the settings choose now; none for this computer.
    IExecutionBackend *Chosen();

    // The jobs a previous Nelo left on a cluster, ready to be followed again
    // (JobRunner::Resume), and the backend they run on; `problem` says why
    // the state file could not be read (it has then been kept aside).
    struct SavedJobs
    {
        IExecutionBackend *backend = nullptr;
        std::vector<JobRunner::Adopted> jobs;
        QString problem;
    };
    SavedJobs TakeSavedJobs();

    // The shared-file-system Slurm backend, for measuring its calls.
    SlurmCluster &Slurm() { return *m_slurm; }

private:
    const TClusterSettings &m_settings;
    std::unique_ptr<SlurmCluster> m_slurm;
};
