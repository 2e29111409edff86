#include "cluster/ClusterBackends.h"

#include "cluster/ClusterState.h"
#include "cluster/SlurmCluster.h"
#include "cluster/SshCluster.h"

#include <QCoreApplication>

QString ClusterBackends::AskPassProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/nelo-askpass");
}

SlurmCluster::Answer ClusterBackends::AskOverSsh(const TClusterSettings &settings, const QString &program,
                                                 const QStringList &arguments)
{
    return SshCluster::Ask(settings, AskPassProgram(), SshConfigFile(), program, arguments);
}

ClusterBackends::ClusterBackends(const TClusterSettings &settings, const TJobSettings &jobSettings,
                                 const QString &stateFile, const QString &askPass)
    : m_settings(settings)
    , m_slurm(std::make_unique<SlurmCluster>(settings, stateFile))
    , m_ssh(std::make_unique<SshCluster>(settings, jobSettings, SshCluster::StateFileFor(stateFile), askPass.isEmpty() ? AskPassProgram() : askPass,
                                         SshConfigFile()))
{
}

ClusterBackends::~ClusterBackends() = default;

QString ClusterBackends::SshConfigFile()
{
    return qEnvironmentVariable("NELO_SSH_CONFIG");
}

IExecutionBackend *ClusterBackends::Chosen()
{
    switch (m_settings.RunOn) {
    case TClusterSettings::Where::Slurm:
        return m_slurm.get();
    case TClusterSettings::Where::SlurmOverSsh:
        return m_ssh.get();
    case TClusterSettings::Where::ThisComputer:
        break;
    }
    return nullptr;
}

ClusterBackends::SavedJobs ClusterBackends::TakeSavedJobs()
{
    SavedJobs taken;
    for (SlurmCluster *cluster : {m_slurm.get(), static_cast<SlurmCluster *>(m_ssh.get())}) {
        const ClusterStateLoad saved = cluster->SavedJobs();
        if (taken.problem.isEmpty())
            taken.problem = saved.problem;
        if (saved.jobs.isEmpty() || taken.backend)
            continue;
        taken.backend = cluster;
        for (const ClusterJobRecord &record : saved.jobs)
            taken.jobs.push_back({record.input, record.output, cluster->Adopt(record)});
    }
    return taken;
}
