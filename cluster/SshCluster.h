#pragma once

#include "cluster/SlurmCluster.h"
#include "cluster/SshConnection.h"
#include "jobs/JobSettings.h"

#include <QFile>
#include <QHash>
#include <QPointer>

#include <memory>

// Nelo's jobs on a Slurm cluster reached over SSH, which shares no file
// system with this computer. Slurm's commands run on the login node through
// one SshConnection (see there); what the shared-file-system backend does
// with their answers stays the same.
//
// Each job gets a folder of its own under the cluster working folder,
// NAME-YYYYMMDD-HHMMSS (NAME the input's name without its extension), made
// unique; the input is copied there and Firefly runs there, its output and
// (with -p) its other files there, with the cluster's paths of Firefly, of
// the working folder (-t, in auto-create mode) and of the basis library.
//
// The local output file (named as for a local run) mirrors the cluster's:
// its new bytes are appended in order, never rewritten, so the monitor
// follows it as it follows a local one. The job the pane follows is brought
// up to date every half second, the others with the states of all jobs
// (one ssh command per poll period, however many jobs run). When Slurm
// reports a job ended, the rest of its output and the other files of its
// folder (PUNCH, IRC data, Slurm's log ...) come home beside the local
// output, named after it and never over an existing file; only then is the
// job over for the runner. The folder is removed afterwards when the user
// asked for it.
//
// A lost connection is never a job's end: the jobs keep their states, the
// problem line says "connection lost, retrying" with ssh's message, and
// once the connection is back every mirror goes on from where it stopped.
class SshCluster : public SlurmCluster
{
    Q_OBJECT

public:
    // `askPass`: the program that asks ssh's questions (empty: ssh asks
    // nothing). `configFile`: an ssh configuration file instead of the
    // user's (tests), `controlFolder` the folder of the master sockets
    // (empty: SshConnection's default).
    SshCluster(const TClusterSettings &settings, const TJobSettings &jobSettings, QString stateFile,
               QString askPass, QString configFile = {}, QString controlFolder = {}, QObject *parent = nullptr);
    ~SshCluster() override;

    std::unique_ptr<IFireflyRun> Adopt(const ClusterJobRecord &record) override;
    QString Problem() const override;
    // ssh commands started so far (the master connections not counted).
    int SshCommandCount() const { return m_connection ? m_connection->CommandCount() + m_oldCommands : m_oldCommands; }

    // The settings dialog's test: connects and runs `program` with
    // `arguments` there; its output, or ssh's (or the command's) message.
    static Answer Ask(const TClusterSettings &settings, const QString &askPass, const QString &configFile,
                      const QString &program, const QStringList &arguments);

    // The file of jobs to follow again that belongs to a settings file's
    // ClusterStateFilePath ("nelo.jobs" -> "nelo.ssh.jobs").
    static QString StateFileFor(const QString &clusterStateFile);
    // The local name of a file of a job's cluster folder: after the local
    // output (its name up to the extension), never one that exists.
    static QString HomeNameFor(const QString &localOutput, const QString &clusterOutputName,
                               const QByteArray &clusterName);

protected:
    bool Submit(const std::shared_ptr<Job> &job, const FireflyInvocation &invocation, QString *why) override;
    void startCommand(QProcess &process, Query kind, const QString &program, const QStringList &arguments) override;
    std::optional<Reply> replyOf(QProcess &process, Query kind) override;
    void ended(Job &job) override;
    void pollMore() override;
    bool reachable() const override;
    void Release(const Job &job) override;
    void setFollowed(Job &job, bool followed) override;

private:
    struct Mirror;

    SshConnection &connection();
    Mirror &mirrorOf(const Job &job);
    void lost(const SshConnection::Result &result);
    // Appends what came of a job's output; false when the local file cannot be written.
    bool take(const QString &jobId, qint64 offset, const RemoteAnswer::File &file);
    void startFollow();
    void startHome();
    void homeRest(Job &job, const RemoteAnswer::File &file, const QList<RemoteAnswer::Entry> &listing);
    void homeFile(Job &job, const RemoteAnswer::File &file);
    void homeNext(Job &job);
    void over(Job &job);
    void saveSoon();

    const TJobSettings &m_jobSettings;
    QString m_askPass;
    QString m_configFile;
    QString m_controlFolder;
    std::unique_ptr<SshConnection> m_connection;
    int m_oldCommands = 0; // of connections to earlier destinations
    QHash<QString, std::shared_ptr<Mirror>> m_mirrors; // by job id
    QHash<QProcess *, QList<std::pair<QString, qint64>>> m_fetches; // a poll's fetches: job id, offset
    QHash<QProcess *, QByteArray> m_frames;
    QPointer<QProcess> m_follow;
    qint64 m_lastFollow = -1000000;
    QPointer<QProcess> m_home;
    qint64 m_lastSave = 0;
    qint64 m_lastMore = -1000;
    bool m_saveWanted = false;
};
