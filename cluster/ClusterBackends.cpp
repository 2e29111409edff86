#include "cluster/ClusterBackends.h"

#include "cluster/ClusterState.h"
#include "cluster/SlurmCluster.h"

ClusterBackends::ClusterBackends(const TClusterSettings &settings, const QString &stateFile)
    : m_settings(settings)
    , m_slurm(std::make_unique<SlurmCluster>(settings, stateFile))
{
}

ClusterBackends::~ClusterBackends() = default;

IExecutionBackend *ClusterBackends::Chosen()
{
    return m_settings.RunOn == TClusterSettings::Where::Slurm ? m_slurm.get() : nullptr;
}

ClusterBackends::SavedJobs ClusterBackends::TakeSavedJobs()
{
    const ClusterStateLoad saved = m_slurm->SavedJobs();
    SavedJobs taken;
    taken.problem = saved.problem;
    if (saved.jobs.isEmpty())
        return taken;
    taken.backend = m_slurm.get();
    for (const ClusterJobRecord &record : saved.jobs)
        taken.jobs.push_back({record.input, record.output, m_slurm->Adopt(record)});
    return taken;
}
