#include "cluster/SshCluster.h"

#include "cluster/RemoteShell.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

namespace {

// The monitor asks every job's run in one turn; the connection's work is
// looked at once in that time.
constexpr qint64 PollMoreMs = 20;
// The followed job is brought up to date this often.
constexpr qint64 FollowMs = 500;
// At most this much of one file per command: a larger backlog comes over
// the next ones.
constexpr qint64 FollowLimit = 4 << 20;
// What one command brings home of all files together, at least MinPerFile
// of each.
constexpr qint64 HomeBudget = 32 << 20;
// A poll fetches at most this much of all outputs together, and at least
// MinPerFile of each.
constexpr qint64 PollBudget = 16 << 20;
constexpr qint64 MinPerFile = 64 << 10;
// The exit status with which staging says the job's folder exists already.
constexpr int FolderTaken = 17;
constexpr int FolderAttempts = 20;
const QByteArray BatchScriptName = ".nelo-exec.sh";

QString lastLine(const QString &message)
{
    return message.mid(message.lastIndexOf(QLatin1Char('\n')) + 1);
}

QString withoutSlash(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

bool pathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QByteArray batchScript()
{
    QFile script(QStringLiteral(":/slurm/nelo-exec.sh"));
    return script.open(QIODevice::ReadOnly) ? script.readAll() : QByteArray("#!/bin/sh\nexec \"$@\"\n");
}

} // namespace

// What Nelo holds of a job's cluster files.
struct SshCluster::Mirror
{
    QFile file;             // the local output, appended to
    bool fetching = false;  // a fetch of its output is under way
    enum class Step { Following, Rest, Files, Remove, Done } step = Step::Following;
    QList<RemoteAnswer::Entry> files; // still to come home
    QFile part;             // the file coming home, under a temporary name
};

SshCluster::SshCluster(const TClusterSettings &settings, const TJobSettings &jobSettings, QString stateFile,
                       QString askPass, QString configFile, QString controlFolder, QObject *parent)
    : SlurmCluster(settings, std::move(stateFile), {}, parent)
    , m_jobSettings(jobSettings)
    , m_askPass(std::move(askPass))
    , m_configFile(std::move(configFile))
    , m_controlFolder(std::move(controlFolder))
{
}

SshCluster::~SshCluster()
{
    for (const auto &mirror : std::as_const(m_mirrors)) {
        if (mirror->part.isOpen())
            mirror->part.remove();
    }
}

QString SshCluster::StateFileFor(const QString &clusterStateFile)
{
    return (clusterStateFile.endsWith(QLatin1String(".jobs")) ? clusterStateFile.chopped(5) : clusterStateFile)
           + QStringLiteral(".ssh.jobs");
}

QString SshCluster::HomeNameFor(const QString &localOutput, const QString &clusterOutputName,
                                const QByteArray &clusterName)
{
    const QString folder = Paths::FolderPart(localOutput);
    const QString stem = Paths::BaseName(localOutput);
    const QString clusterStem = Paths::BaseName(clusterOutputName);
    const QString name = QFile::decodeName(clusterName);
    // "water.dat" beside "water.out" comes home beside "water_2.out" as
    // "water_2.dat"; a file named otherwise keeps its name after the stem.
    const bool named = name.startsWith(clusterStem)
                       && (name.size() == clusterStem.size() || name.at(clusterStem.size()) == QLatin1Char('.'));
    const QString suffix = named ? name.mid(clusterStem.size()) : QLatin1Char('.') + name;
    QString candidate = folder + stem + suffix;
    for (int n = 1; pathTaken(candidate); ++n)
        candidate = folder + stem + QLatin1Char('_') + QString::number(n) + suffix;
    return candidate;
}

SshConnection &SshCluster::connection()
{
    // Jobs on the cluster keep the destination they were sent to.
    QString destination = settings().Destination;
    for (const auto &[id, job] : jobs()) {
        if (!job->record.destination.isEmpty()) {
            destination = job->record.destination;
            break;
        }
    }
    if (!m_connection || m_connection->Destination() != destination) {
        if (m_connection)
            m_oldCommands += m_connection->CommandCount();
        m_connection = std::make_unique<SshConnection>(destination, m_configFile, m_askPass, m_controlFolder);
    }
    return *m_connection;
}

SshCluster::Mirror &SshCluster::mirrorOf(const Job &job)
{
    std::shared_ptr<Mirror> &mirror = m_mirrors[job.record.jobId];
    if (!mirror)
        mirror = std::make_shared<Mirror>();
    return *mirror;
}

QString SshCluster::Problem() const
{
    if (m_connection && m_connection->CurrentState() != SshConnection::State::Up && !m_connection->Message().isEmpty()
        && !jobs().empty())
        return QStringLiteral("connection lost, retrying: ") + lastLine(m_connection->Message());
    return SlurmCluster::Problem();
}

void SshCluster::lost(const SshConnection::Result &result)
{
    QString message = lastLine(SshConnection::MessageOf(result.err));
    if (message.isEmpty())
        message = QStringLiteral("ssh ended with status %1").arg(result.exitCode);
    connection().Lost(message);
}

bool SshCluster::Submit(const std::shared_ptr<Job> &job, const FireflyInvocation &, QString *why)
{
    const auto refuse = [&](const QString &message) {
        m_problem = message;
        if (why)
            *why = message;
        return false;
    };
    const TClusterSettings &cluster = settings();
    const QString problem = ClusterSettingsProblem(cluster);
    if (!problem.isEmpty())
        return refuse(problem);
    const QString &input = job->record.input;
    if (!QFileInfo(input).isReadable())
        return refuse(QStringLiteral("Cannot read the input file %1").arg(input));
    QString message;
    if (!connection().ConnectNow(&message))
        return refuse(message);

    const QString root = withoutSlash(cluster.ClusterWorkFolder);
    const QString name = Paths::BaseName(input);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString outputName = Paths::FileNamePart(job->record.output);
    TJobSettings remote = m_jobSettings;
    remote.EXEFile = cluster.ClusterFirefly;
    remote.LibFile = cluster.ClusterLibrary;
    remote.AutoDir = true;
    remote.DirList = root == QLatin1String("/") ? QString() : root;
    for (int attempt = 1; attempt <= FolderAttempts; ++attempt) {
        const QString folder = (root == QLatin1String("/") ? QString() : root) + QLatin1Char('/') + name
                               + QLatin1Char('-') + stamp
                               + (attempt > 1 ? QLatin1Char('-') + QString::number(attempt) : QString());
        const QString clusterInput = folder + QLatin1Char('/') + Paths::FileNamePart(input);
        const QString clusterOutput = folder + QLatin1Char('/') + outputName;
        FireflyInvocation invocation = BuildInvocation(remote, clusterInput, clusterOutput);
        invocation.workingDirectory = folder;
        const QString script = folder + QLatin1Char('/') + QFile::decodeName(BatchScriptName);
        const QStringList sbatch =
            SbatchArguments(cluster, invocation.cores, name,
                            folder + QLatin1Char('/') + Paths::WithExtension(outputName, u".slurm.log"), script,
                            invocation);
        // Fixed words, and every name quoted: the folder is made (never one
        // that exists), the input copied into it from ssh's standard input,
        // Nelo's batch script written beside it, and the job submitted.
        const QByteArray line = "mkdir -p -- " + ShellQuote(root) + " && { [ ! -e " + ShellQuote(folder)
                                + " ] || exit " + QByteArray::number(FolderTaken) + "; } && mkdir -- "
                                + ShellQuote(folder) + " && cat > " + ShellQuote(clusterInput) + " && printf %s "
                                + ShellQuote(QByteArrayView(batchScript())) + " > " + ShellQuote(script) + " && "
                                + ShellWords(QStringList(QStringLiteral("sbatch")) << sbatch);
        RemoteScript request;
        request.Command(line);
        count(QStringLiteral("sbatch"));
        count(QStringLiteral("ssh"));
        const SshConnection::Result result = connection().Run(request, input);
        if (!result.whole || result.answer.commands.isEmpty()) {
            lost(result);
            return refuse(QStringLiteral("The connection to %1 was lost: %2")
                              .arg(connection().Destination(), connection().Message()));
        }
        const RemoteAnswer::Command &answer = result.answer.commands.first();
        if (answer.status == FolderTaken)
            continue;
        if (answer.status != 0) {
            const QString text = SshConnection::MessageOf(result.err);
            return refuse(text.isEmpty() ? QStringLiteral("sbatch ended with status %1").arg(answer.status) : text);
        }
        const QString id = ParseSbatchJobId(answer.output);
        if (id.isEmpty())
            return refuse(QStringLiteral("sbatch gave no job id: ") + SshConnection::MessageOf(answer.output));
        m_problem.clear();
        job->record.jobId = id;
        job->record.destination = connection().Destination();
        job->record.clusterFolder = folder;
        job->record.clusterOutput = clusterOutput;
        job->record.mirrored = 0;
        mirrorOf(*job);
        submitted(job);
        return true;
    }
    return refuse(QStringLiteral("Cannot make a folder of its own for the job in %1").arg(root));
}

std::unique_ptr<IFireflyRun> SshCluster::Adopt(const ClusterJobRecord &record)
{
    std::unique_ptr<IFireflyRun> run = SlurmCluster::Adopt(record);
    const auto job = jobs().find(record.jobId);
    if (job != jobs().end()) {
        // The local file holds what came home before: the mirror goes on
        // from its end, whatever the state file could still record.
        const QFileInfo output(record.output);
        job->second->record.mirrored = output.exists() ? output.size() : 0;
        mirrorOf(*job->second);
    }
    return run;
}

void SshCluster::startCommand(QProcess &process, Query kind, const QString &program, const QStringList &arguments)
{
    RemoteScript request;
    request.Command(ShellWords(QStringList(program) << arguments));
    if (kind == Query::Squeue) {
        // The new bytes of every output come with the states.
        QList<std::pair<QString, qint64>> fetches;
        for (const auto &[id, job] : jobs()) {
            Mirror &mirror = mirrorOf(*job);
            if (!job->over && !job->detached && !job->record.clusterOutput.isEmpty() && !mirror.fetching)
                fetches.append({id, job->record.mirrored});
        }
        const qint64 limit = std::max(MinPerFile, PollBudget / std::max<qsizetype>(1, fetches.size()));
        for (const auto &[id, offset] : fetches) {
            request.Fetch(jobs().at(id)->record.clusterOutput, offset, limit);
            mirrorOf(*jobs().at(id)).fetching = true;
        }
        m_fetches.insert(&process, fetches);
    }
    m_frames.insert(&process, request.Frame());
    count(QStringLiteral("ssh"));
    connection().StartIn(process, request);
}

std::optional<SlurmCluster::Reply> SshCluster::replyOf(QProcess &process, Query)
{
    const QByteArray frame = m_frames.take(&process);
    const QList<std::pair<QString, qint64>> fetches = m_fetches.take(&process);
    for (const auto &[id, offset] : fetches) {
        if (const auto mirror = m_mirrors.value(id))
            mirror->fetching = false;
    }
    SshConnection::Result result;
    const bool started = process.error() != QProcess::FailedToStart;
    result.err = started ? process.readAllStandardError() : process.errorString().toLocal8Bit();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.answer = ParseRemoteAnswer(started ? process.readAllStandardOutput() : QByteArray(), frame);
    result.whole = result.answer.whole && !result.answer.commands.isEmpty();
    if (!result.whole) {
        lost(result);
        return std::nullopt;
    }
    for (qsizetype i = 0; i < fetches.size() && i < result.answer.files.size(); ++i)
        take(fetches[i].first, fetches[i].second, result.answer.files[i]);
    const RemoteAnswer::Command &command = result.answer.commands.first();
    return Reply{command.status == 0, command.output, result.err};
}

bool SshCluster::take(const QString &jobId, qint64 offset, const RemoteAnswer::File &file)
{
    const auto found = jobs().find(jobId);
    if (found == jobs().end() || file.size < 0)
        return true; // let go of meanwhile, or Firefly has not begun its output
    Job &job = *found->second;
    if (offset != job.record.mirrored || job.detached)
        return true; // an answer to a question asked before the last one came in, or for nobody
    Mirror &mirror = mirrorOf(job);
    // Bytes are appended only where the local copy ends: a copy that grew
    // otherwise (another Nelo following the same job) is taken as it is.
    const QFileInfo local(job.record.output);
    if (local.exists() && local.size() != offset) {
        job.record.mirrored = local.size();
        return true;
    }
    if (!mirror.file.isOpen()) {
        mirror.file.setFileName(job.record.output);
        if (!mirror.file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_problem = QStringLiteral("Cannot write %1: %2").arg(job.record.output, mirror.file.errorString());
            return false;
        }
    }
    if (file.bytes.isEmpty())
        return true;
    if (mirror.file.write(file.bytes) != file.bytes.size() || !mirror.file.flush()) {
        // Whatever reached the file counts; the rest is asked for again.
        m_problem = QStringLiteral("Cannot write %1: %2").arg(job.record.output, mirror.file.errorString());
        mirror.file.close();
        const QFileInfo written(job.record.output);
        job.record.mirrored = written.exists() ? written.size() : 0;
        return false;
    }
    job.record.mirrored += file.bytes.size();
    saveSoon();
    return true;
}

void SshCluster::saveSoon()
{
    m_saveWanted = true;
}

void SshCluster::pollMore()
{
    // Asked for every job on every turn of the monitor: once a turn is enough.
    if (jobs().empty() || now() - m_lastMore < PollMoreMs)
        return;
    m_lastMore = now();
    SshConnection &link = connection();
    link.Tick();
    if (m_saveWanted && now() - m_lastSave >= qint64(settings().PollSeconds) * 1000) {
        m_saveWanted = false;
        m_lastSave = now();
        saveState();
    }
    if (link.CurrentState() != SshConnection::State::Up)
        return;
    startFollow();
    startHome();
}

bool SshCluster::reachable() const
{
    return m_connection && m_connection->CurrentState() == SshConnection::State::Up;
}

void SshCluster::setFollowed(Job &job, bool followed)
{
    SlurmCluster::setFollowed(job, followed);
    if (followed)
        m_lastFollow = -FollowMs; // at once
}

void SshCluster::startFollow()
{
    if (m_follow || now() - m_lastFollow < FollowMs)
        return;
    for (const auto &[id, job] : jobs()) {
        if (!job->followed || job->over || job->detached || job->record.clusterOutput.isEmpty())
            continue;
        Mirror &mirror = mirrorOf(*job);
        if (mirror.fetching)
            return;
        m_lastFollow = now();
        RemoteScript request;
        request.Fetch(job->record.clusterOutput, job->record.mirrored, FollowLimit);
        mirror.fetching = true;
        const QString jobId = id;
        const qint64 offset = job->record.mirrored;
        std::shared_ptr<Mirror> held = m_mirrors.value(jobId);
        count(QStringLiteral("ssh"));
        m_follow = connection().Start(request, [this, jobId, offset, held](const SshConnection::Result &result) {
            held->fetching = false;
            if (!result.whole || result.answer.files.isEmpty()) {
                lost(result);
                return;
            }
            take(jobId, offset, result.answer.files.first());
        });
        return;
    }
}

void SshCluster::ended(Job &job)
{
    Mirror &mirror = mirrorOf(job);
    if (job.record.clusterOutput.isEmpty()) {
        over(job);
        return;
    }
    // Over for Slurm; over for the runner once its files are home.
    mirror.step = Mirror::Step::Rest;
    job.phase = IFireflyRun::Phase::Completing;
    job.word = QByteArrayLiteral("files coming home");
    job.since = QDateTime::currentDateTimeUtc();
}

void SshCluster::over(Job &job)
{
    mirrorOf(job).step = Mirror::Step::Done;
    SlurmCluster::ended(job);
    saveState();
}

void SshCluster::startHome()
{
    if (m_home)
        return;
    // One command serves every job whose files are coming home: the number
    // of commands follows the time it takes, not the number of jobs.
    QStringList batch;
    for (const auto &[id, job] : jobs()) {
        const Mirror &mirror = mirrorOf(*job);
        if (job->over && !job->detached && !mirror.fetching
            && (mirror.step == Mirror::Step::Rest || mirror.step == Mirror::Step::Files
                || mirror.step == Mirror::Step::Remove))
            batch << id;
    }
    if (batch.isEmpty())
        return;
    const qint64 chunk = std::max(MinPerFile, HomeBudget / batch.size());
    RemoteScript request;
    for (const QString &id : std::as_const(batch)) {
        const Job &job = *jobs().at(id);
        const Mirror &mirror = mirrorOf(job);
        switch (mirror.step) {
        case Mirror::Step::Rest:
            request.Fetch(job.record.clusterOutput, job.record.mirrored, chunk);
            request.List(job.record.clusterFolder);
            break;
        case Mirror::Step::Files:
            request.Fetch(QFile::encodeName(job.record.clusterFolder) + '/' + mirror.files.first().name,
                          mirror.part.isOpen() ? mirror.part.size() : 0, chunk);
            break;
        case Mirror::Step::Remove:
            request.Command("rm -rf -- " + ShellQuote(job.record.clusterFolder));
            break;
        case Mirror::Step::Following:
        case Mirror::Step::Done:
            break;
        }
    }
    count(QStringLiteral("ssh"));
    m_home = connection().Start(request, [this, batch](const SshConnection::Result &result) {
        if (!result.whole) {
            lost(result);
            return;
        }
        // The answers come in the order of the requests.
        qsizetype file = 0, listing = 0;
        for (const QString &id : batch) {
            const auto found = jobs().find(id);
            if (found == jobs().end())
                return; // let go of meanwhile: the answers after it are not told apart
            switch (mirrorOf(*found->second).step) {
            case Mirror::Step::Rest:
                homeRest(*found->second, result.answer.files.value(file++), result.answer.listings.value(listing++));
                break;
            case Mirror::Step::Files:
                homeFile(*found->second, result.answer.files.value(file++));
                break;
            case Mirror::Step::Remove:
                over(*found->second);
                break;
            case Mirror::Step::Following:
            case Mirror::Step::Done:
                break;
            }
        }
    });
}

void SshCluster::homeNext(Job &job)
{
    Mirror &mirror = mirrorOf(job);
    if (!mirror.files.isEmpty())
        mirror.step = Mirror::Step::Files;
    else if (settings().RemoveClusterFolders && mirror.step != Mirror::Step::Remove)
        mirror.step = Mirror::Step::Remove;
    else
        over(job);
}

void SshCluster::homeRest(Job &job, const RemoteAnswer::File &file, const QList<RemoteAnswer::Entry> &listing)
{
    Mirror &mirror = mirrorOf(job);
    // An output that cannot be written here stays on the cluster (the
    // problem line says why); the other files still come home.
    if (take(job.record.jobId, job.record.mirrored, file) && file.size >= 0 && job.record.mirrored < file.size)
        return; // more of the output to come
    if (mirror.file.isOpen())
        mirror.file.close();
    const QByteArray input = QFile::encodeName(Paths::FileNamePart(job.record.input));
    const QByteArray output = QFile::encodeName(Paths::FileNamePart(job.record.clusterOutput));
    mirror.files.clear();
    for (const RemoteAnswer::Entry &entry : listing) {
        if (entry.name != input && entry.name != output && entry.name != BatchScriptName)
            mirror.files.append(entry);
    }
    homeNext(job);
}

void SshCluster::homeFile(Job &job, const RemoteAnswer::File &file)
{
    Mirror &mirror = mirrorOf(job);
    if (mirror.files.isEmpty())
        return;
    const QByteArray name = mirror.files.first().name;
    const QString home = HomeNameFor(job.record.output, Paths::FileNamePart(job.record.clusterOutput), name);
    const auto giveUp = [&](const QString &why) {
        // It stays on the cluster; the problem line says why.
        m_problem = QStringLiteral("Cannot write %1: %2").arg(home, why);
        mirror.part.remove();
        mirror.files.removeFirst();
        homeNext(job);
    };
    if (!mirror.part.isOpen()) {
        mirror.part.setFileName(Paths::FolderPart(home) + QLatin1Char('.')
                                + Paths::FileNamePart(job.record.output) + QStringLiteral(".nelo-part"));
        if (!mirror.part.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
            giveUp(mirror.part.errorString());
            return;
        }
    }
    if (file.size >= 0) {
        mirror.part.seek(mirror.part.size());
        if (mirror.part.write(file.bytes) != file.bytes.size() || !mirror.part.flush()) {
            giveUp(mirror.part.errorString());
            return;
        }
        if (mirror.part.size() < file.size)
            return; // more of it to come
    }
    mirror.part.close();
    if (file.size < 0) {
        mirror.part.remove(); // gone from the cluster meanwhile
    } else if (!mirror.part.rename(home)) {
        giveUp(mirror.part.errorString());
        return;
    } else if (name == QFile::encodeName(Paths::WithExtension(Paths::FileNamePart(job.record.clusterOutput), u".slurm.log"))) {
        job.record.log = home; // what the pane shows when Firefly wrote nothing
    }
    mirror.files.removeFirst();
    homeNext(job);
}

void SshCluster::Release(const Job &job)
{
    const QString id = job.record.jobId;
    SlurmCluster::Release(job);
    m_mirrors.remove(id);
}

SlurmCluster::Answer SshCluster::Ask(const TClusterSettings &settings, const QString &askPass,
                                     const QString &configFile, const QString &program,
                                     const QStringList &arguments)
{
    Answer answer;
    answer.message = SshDestinationProblem(settings.Destination);
    if (!answer.message.isEmpty())
        return answer;
    SshConnection link(settings.Destination, configFile, askPass);
    if (!link.ConnectNow(&answer.message))
        return answer;
    RemoteScript request;
    request.Command(ShellWords(QStringList(program) << arguments));
    const SshConnection::Result result = link.Run(request, {}, 60000);
    if (!result.whole || result.answer.commands.isEmpty()) {
        answer.message = SshConnection::MessageOf(result.err);
        if (answer.message.isEmpty())
            answer.message = QStringLiteral("ssh ended with status %1").arg(result.exitCode);
        return answer;
    }
    const RemoteAnswer::Command &command = result.answer.commands.first();
    answer.out = command.output;
    answer.ok = command.status == 0;
    if (!answer.ok) {
        answer.message = SshConnection::MessageOf(result.err).replace(QLatin1Char('\n'), QStringLiteral(" / "));
        if (answer.message.isEmpty())
            answer.message = QStringLiteral("%1 ended with status %2").arg(program).arg(command.status);
    }
    return answer;
}
