#include "cluster/SlurmCluster.h"

#include "platform/Errors.h"
#include "platform/Notices.h"
#include "platform/Paths.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>

namespace {

// A query that has not answered after this long is given up and tried again.
constexpr qint64 QueryTimeoutMs = 120000;
// After a cancellation Nelo looks again this soon, to see the jobs end.
constexpr qint64 CancelPollMs = 1000;
// What the pane shows of the job's log when Firefly wrote no output.
constexpr qint64 LogTailBytes = 4096;

QString oneLine(const QByteArray &text)
{
    return QString::fromLocal8Bit(text).trimmed().replace(QLatin1Char('\n'), QStringLiteral(" / "));
}

} // namespace

// A batch job on the cluster, as the runner sees it.
class SlurmRun : public IFireflyRun
{
public:
    SlurmRun(SlurmCluster &cluster, std::shared_ptr<SlurmCluster::Job> job) : m_cluster(&cluster), m_job(std::move(job))
    {
    }

    // The runner lets go of a run once its output is read to the end: then
    // the job leaves the state file. A run let go of before its end (Nelo
    // ends while it runs) stays there, to be followed again.
    ~SlurmRun() override
    {
        if (m_cluster && m_job->phase == Phase::Ended)
            m_cluster->Release(*m_job);
        else
            m_job->detached = true;
    }

    bool Start(const FireflyInvocation &invocation, QString *why) override
    {
        return m_cluster && m_cluster->Submit(m_job, invocation, why);
    }

    bool IsRunning() override
    {
        if (m_cluster)
            m_cluster->PollIfDue();
        // Firefly has begun its output (a stale one was removed before the
        // job was submitted): the job runs, whatever the last poll said.
        if (m_job->phase == Phase::Waiting && QFile::exists(m_job->record.output)) {
            m_job->phase = Phase::Running;
            m_job->since = QDateTime::currentDateTimeUtc();
        }
        return m_job->phase != Phase::Ended;
    }

    void Kill() override
    {
        if (m_cluster)
            m_cluster->Cancel(*m_job);
    }

    ProcessEnd End() const override
    {
        const SlurmFinal &final = m_job->final;
        ProcessEnd end;
        if (final.signal > 0)
            end = ProcessEnd::Signalled(final.signal);
        else if (final.exitCode >= 0)
            end = ProcessEnd::Exited(final.exitCode);
        end.scheduler = "Slurm";
        end.schedulerState = final.state;
        return end;
    }

    Status CurrentStatus() const override
    {
        return {m_job->phase, m_job->record.jobId, m_job->word, m_job->since};
    }

    void SetFollowed(bool followed) override
    {
        if (m_cluster)
            m_cluster->setFollowed(*m_job, followed);
    }

    QByteArray WhyNoOutput() const override
    {
        QFile log(m_job->record.log);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        log.seek(std::max<qint64>(0, log.size() - LogTailBytes));
        return log.readAll();
    }

private:
    QPointer<SlurmCluster> m_cluster;
    std::shared_ptr<SlurmCluster::Job> m_job;
};

SlurmCluster::SlurmCluster(const TClusterSettings &settings, QString stateFile, QString batchScript, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_stateFile(std::move(stateFile))
    , m_batchScript(std::move(batchScript))
{
    m_clock.start();
}

SlurmCluster::~SlurmCluster()
{
    if (m_query)
        m_query->kill();
}

std::unique_ptr<IFireflyRun> SlurmCluster::NewRun(const QString &input, const QString &output)
{
    auto job = std::make_shared<Job>();
    job->record.input = input;
    job->record.output = output;
    job->record.log = LogFileFor(output);
    return std::make_unique<SlurmRun>(*this, std::move(job));
}

QString SlurmCluster::Problem() const
{
    return m_problem.isEmpty() ? QString() : QStringLiteral("Slurm: ") + m_problem;
}

int SlurmCluster::JobsAtOnce() const
{
    return std::max(1, m_settings.JobsAtOnce);
}

ClusterStateLoad SlurmCluster::SavedJobs() const
{
    return LoadClusterState(m_stateFile);
}

std::unique_ptr<IFireflyRun> SlurmCluster::Adopt(const ClusterJobRecord &record)
{
    auto job = std::make_shared<Job>();
    job->record = record;
    job->phase = IFireflyRun::Phase::Waiting;
    job->since = record.submitted;
    m_jobs[record.jobId] = job;
    m_nextPoll = 0; // ask at once how it is
    return std::make_unique<SlurmRun>(*this, std::move(job));
}

QString SlurmCluster::LogFileFor(const QString &output)
{
    return Paths::WithExtension(output, u".slurm.log");
}

QString SlurmCluster::BatchScriptFile()
{
    // sbatch reads the script when a job is submitted and keeps its own
    // copy: one file for the session, written from the copy built into
    // Nelo, serves every job.
    static QTemporaryFile file(QDir::tempPath() + QStringLiteral("/nelo-exec-XXXXXX.sh"));
    if (file.isOpen())
        return file.fileName();
    QFile script(QStringLiteral(":/slurm/nelo-exec.sh"));
    if (!script.open(QIODevice::ReadOnly) || !file.open())
        return {};
    const QByteArray bytes = script.readAll();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.close();
        return {};
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return file.fileName();
}

SlurmCluster::Answer SlurmCluster::Run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    process.start();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    // Nelo is ending (the loop returned at once): a job sbatch may already
    // have handed to the controller must not be lost with its answer.
    if (!timedOut && process.state() != QProcess::NotRunning)
        process.waitForFinished(timeoutMs);

    Answer answer;
    if (process.error() == QProcess::FailedToStart) {
        answer.message = QStringLiteral("Cannot start %1: %2").arg(program, process.errorString());
        return answer;
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        answer.message = QStringLiteral("%1 gave no answer within %2 seconds").arg(program).arg(timeoutMs / 1000);
        return answer;
    }
    answer.out = process.readAllStandardOutput();
    answer.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!answer.ok) {
        answer.message = oneLine(process.readAllStandardError());
        if (answer.message.isEmpty())
            answer.message = QStringLiteral("%1 ended with status %2").arg(program).arg(process.exitCode());
    }
    return answer;
}

bool SlurmCluster::Submit(const std::shared_ptr<Job> &job, const FireflyInvocation &invocation, QString *why)
{
    // A log left by an earlier job of the same name must not be taken for this one's.
    QFile::remove(job->record.log);
    const QString script = m_batchScript.isEmpty() ? BatchScriptFile() : m_batchScript;
    const QStringList arguments =
        SbatchArguments(m_settings, invocation.cores, Paths::BaseName(job->record.input),
                        job->record.log, script, invocation);
    count(QStringLiteral("sbatch"));
    const Answer answer = Run(QStringLiteral("sbatch"), arguments);
    const QString id = answer.ok ? ParseSbatchJobId(answer.out) : QString();
    if (id.isEmpty()) {
        const QString message = answer.ok ? QStringLiteral("sbatch gave no job id: ") + oneLine(answer.out)
                                          : answer.message;
        m_problem = message;
        if (why)
            *why = message;
        return false;
    }
    m_problem.clear();
    job->record.jobId = id;
    submitted(job);
    return true;
}

void SlurmCluster::submitted(const std::shared_ptr<Job> &job)
{
    job->record.submitted = QDateTime::currentDateTimeUtc();
    job->phase = IFireflyRun::Phase::Waiting;
    job->word = QByteArrayLiteral("PENDING");
    job->since = job->record.submitted;
    m_jobs[job->record.jobId] = job;
    // Written now, not only on Exit: Nelo may be killed while the job runs.
    saveState();
    if (m_nextPoll <= now())
        m_nextPoll = now() + qint64(m_settings.PollSeconds) * 1000;
}

void SlurmCluster::PollIfDue()
{
    pollMore();
    if (m_query) {
        if (now() - m_queryStarted > QueryTimeoutMs)
            m_query->kill(); // answered as a failure; asked again later
        return;
    }
    if (!reachable())
        return;
    if (!m_toCancel.isEmpty() && !m_cancelScheduled)
        flushCancels(); // held back while the cluster could not be reached
    if (now() < m_nextPoll)
        return;
    const bool finalsWanted = std::any_of(m_jobs.begin(), m_jobs.end(), [](const auto &entry) {
        return entry.second->needsFinal;
    });
    if (finalsWanted) {
        startFinalQuery();
        return;
    }
    QStringList ids;
    for (const auto &[id, job] : m_jobs) {
        if (!job->over)
            ids << id;
    }
    if (ids.isEmpty())
        return;
    m_nextPoll = now() + qint64(m_settings.PollSeconds) * 1000;
    startQuery(Query::Squeue, QStringLiteral("squeue"), SqueueArguments(ids));
}

void SlurmCluster::startFinalQuery()
{
    QStringList ids;
    for (const auto &[id, job] : m_jobs) {
        if (job->needsFinal)
            ids << id;
    }
    if (m_accounting)
        startQuery(Query::Sacct, QStringLiteral("sacct"), SacctArguments(ids));
    else
        startQuery(Query::Scontrol, QStringLiteral("scontrol"), ScontrolArguments(ids));
}

void SlurmCluster::startQuery(Query kind, const QString &program, const QStringList &arguments)
{
    m_query = new QProcess(this);
    m_queryKind = kind;
    m_queryProgram = program;
    m_queryStarted = now();
    m_query->setStandardInputFile(QProcess::nullDevice());
    connect(m_query, &QProcess::finished, this, &SlurmCluster::queryFinished);
    connect(m_query, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            queryFinished();
    });
    count(program);
    startCommand(*m_query, kind, program, arguments);
}

void SlurmCluster::startCommand(QProcess &process, Query, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
}

std::optional<SlurmCluster::Reply> SlurmCluster::replyOf(QProcess &process, Query)
{
    Reply reply;
    const bool started = process.error() != QProcess::FailedToStart;
    reply.ok = started && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    reply.out = started ? process.readAllStandardOutput() : QByteArray();
    reply.err = started ? process.readAllStandardError() : process.errorString().toLocal8Bit();
    return reply;
}

void SlurmCluster::queryFinished()
{
    QProcess *query = std::exchange(m_query, nullptr);
    if (!query)
        return;
    query->deleteLater();
    const Query kind = std::exchange(m_queryKind, Query::None);
    const QString program = m_queryProgram;
    const std::optional<Reply> reply = replyOf(*query, kind);
    if (!reply) {
        // It never reached the cluster: asked again after the poll period.
        m_nextPoll = now() + qint64(m_settings.PollSeconds) * 1000;
        return;
    }
    const bool ok = reply->ok;
    const QByteArray &out = reply->out;
    const QByteArray &err = reply->err;

    if (!ok) {
        if (kind == Query::Sacct && err.contains("accounting storage is disabled")) {
            // No accounting on this cluster: the controller's memory of
            // recent jobs tells their ends instead.
            m_accounting = false;
            startFinalQuery();
            return;
        }
        // A job the controller no longer knows has no final state to tell.
        if (kind == Query::Scontrol && err.contains("Invalid job id")) {
            takeFinals({}, true);
            return;
        }
        m_problem = program + QStringLiteral(": ") + oneLine(err);
        // Asked again after the poll period, not at once.
        m_nextPoll = now() + qint64(m_settings.PollSeconds) * 1000;
        return;
    }
    m_problem.clear();
    switch (kind) {
    case Query::Squeue:
        takeSqueue(out);
        break;
    case Query::Sacct:
        takeFinals(ParseSacct(out), false);
        break;
    case Query::Scontrol:
        takeFinals(ParseScontrol(out), true);
        break;
    case Query::Scancel:
    case Query::None:
        break;
    }
}

void SlurmCluster::takeSqueue(const QByteArray &out)
{
    QHash<QString, SqueueRow> rows;
    for (const SqueueRow &row : ParseSqueue(out))
        rows.insert(row.jobId, row);
    bool endsSeen = false;
    for (const auto &[id, job] : m_jobs) {
        if (job->over)
            continue;
        const auto row = rows.constFind(id);
        if (row == rows.constEnd()) {
            // Not even among the recently ended jobs: the controller forgot it.
            job->needsFinal = true;
            endsSeen = true;
            continue;
        }
        const SlurmState state = StateFromSlurm(row->state);
        IFireflyRun::Phase phase = job->phase;
        switch (state) {
        case SlurmState::Submitting:
        case SlurmState::Pending:
            phase = IFireflyRun::Phase::Waiting;
            break;
        case SlurmState::Running:
            phase = IFireflyRun::Phase::Running;
            break;
        case SlurmState::Completing:
            phase = IFireflyRun::Phase::Completing;
            break;
        case SlurmState::Ended:
            job->needsFinal = true;
            endsSeen = true;
            break;
        }
        if (phase != job->phase) {
            job->phase = phase;
            job->since = row->since.isValid() && phase != IFireflyRun::Phase::Completing
                             ? row->since.toUTC()
                             : QDateTime::currentDateTimeUtc();
        }
        job->word = row->state;
        // A cancellation the controller did not take (it was unreachable) is sent again.
        if (job->cancelled && (state == SlurmState::Pending || state == SlurmState::Running)
            && now() - job->cancelSent > qint64(m_settings.PollSeconds) * 1000)
            Cancel(*job);
    }
    if (endsSeen)
        startFinalQuery();
}

void SlurmCluster::takeFinals(const QHash<QString, SlurmFinal> &finals, bool answered)
{
    bool askController = false;
    for (const auto &[id, job] : m_jobs) {
        if (!job->needsFinal)
            continue;
        const auto final = finals.constFind(id);
        if (final != finals.constEnd()) {
            job->final = *final;
        } else if (answered) {
            // Neither accounting nor the controller knows the job any more:
            // it ended, how is unknown. It is reported so, never dropped.
            job->final = SlurmFinal{QByteArrayLiteral("UNKNOWN"), -1, 0};
        } else {
            askController = true; // accounting has not got it (yet)
            continue;
        }
        job->needsFinal = false;
        job->over = true;
        ended(*job);
    }
    if (askController)
        startQuery(Query::Scontrol, QStringLiteral("scontrol"), [this] {
            QStringList ids;
            for (const auto &[id, job] : m_jobs) {
                if (job->needsFinal)
                    ids << id;
            }
            return ScontrolArguments(ids);
        }());
}

void SlurmCluster::ended(Job &job)
{
    job.phase = IFireflyRun::Phase::Ended;
    job.word = job.final.state;
    job.since = QDateTime::currentDateTimeUtc();
}

void SlurmCluster::Cancel(Job &job)
{
    job.cancelled = true;
    if (job.record.jobId.isEmpty() || job.over)
        return;
    if (!m_toCancel.contains(job.record.jobId))
        m_toCancel << job.record.jobId;
    job.cancelSent = now();
    m_nextPoll = std::min(m_nextPoll, now() + CancelPollMs);
    // All the jobs an Abort cancels go in one scancel.
    if (!m_cancelScheduled) {
        m_cancelScheduled = true;
        QTimer::singleShot(0, this, &SlurmCluster::flushCancels);
    }
}

void SlurmCluster::flushCancels()
{
    m_cancelScheduled = false;
    if (m_toCancel.isEmpty() || !reachable())
        return;
    auto *scancel = new QProcess(this);
    scancel->setStandardInputFile(QProcess::nullDevice());
    connect(scancel, &QProcess::finished, scancel, [this, scancel] {
        replyOf(*scancel, Query::Scancel);
        scancel->deleteLater();
    });
    connect(scancel, &QProcess::errorOccurred, scancel, [this, scancel](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_problem = QStringLiteral("Cannot start scancel: ") + scancel->errorString();
            scancel->deleteLater();
        }
    });
    count(QStringLiteral("scancel"));
    startCommand(*scancel, Query::Scancel, QStringLiteral("scancel"), ScancelArguments(std::exchange(m_toCancel, {})));
}

void SlurmCluster::Release(const Job &job)
{
    if (m_jobs.erase(job.record.jobId) > 0)
        saveState();
}

void SlurmCluster::saveState()
{
    QList<ClusterJobRecord> records;
    for (const auto &[id, job] : m_jobs)
        records << job->record;
    try {
        SaveClusterState(records, m_stateFile);
        m_stateProblemShown = false;
    } catch (const NeloError &error) {
        // The jobs are still followed; only a later start could not find them.
        if (!std::exchange(m_stateProblemShown, true))
            Notices::ShowNotice(error.message()
                                + QStringLiteral("\nNelo follows its cluster jobs, but cannot follow them again "
                                                 "after a restart."));
    }
}

void SlurmCluster::count(const QString &program)
{
    ++m_commandCounts[program];
}
