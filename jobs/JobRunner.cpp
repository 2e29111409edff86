#include "jobs/JobRunner.h"

#include "analysis/GeometryScanner.h"
#include "jobs/OutputFollower.h"
#include "jobs/RunJobsModel.h"
#include "platform/Errors.h"
#include "platform/Notices.h"
#include "platform/Paths.h"
#include "platform/PowerOff.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

const QString JobRunner::OutputFileFilter =
    QStringLiteral("Firefly output files (*.out)|*.out|All files (*.*)|*.*");
const QString JobRunner::OutputFileSuffix = QStringLiteral("out");

namespace {

// OutLab's caption while a job is followed.
QString ActiveJobCaption(const QString &output)
{
    return QStringLiteral("Active Job: ") + output;
}

bool PathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// An output file of an earlier run with the same name must not be shown as
// this job's output, and it must be gone before Firefly starts, since a fast
// Firefly could have opened its new file at that path by the time the start
// is reported. It is moved aside before the start and deleted once Firefly
// runs; when Firefly cannot start, it is put back, so a failed start never
// costs an earlier result.
class StaleOutput
{
public:
    explicit StaleOutput(const QString &path) : m_path(path)
    {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return;
        if (info.isDir())
            return; // not ours to remove; Firefly will report it cannot write there
        QTemporaryFile reserve(path + QStringLiteral(".stale-XXXXXX"));
        reserve.setAutoRemove(false);
        if (reserve.open()) {
            m_aside = reserve.fileName();
            reserve.close();
            if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(m_aside).constData()) == 0)
                return;
            QFile::remove(m_aside);
            m_aside.clear();
        }
        QFile::remove(path); // no room beside it: delete it now
    }

    void Discard()
    {
        if (!m_aside.isEmpty())
            QFile::remove(m_aside);
        m_aside.clear();
    }

    void Restore()
    {
        if (!m_aside.isEmpty() && !PathTaken(m_path))
            std::rename(QFile::encodeName(m_aside).constData(), QFile::encodeName(m_path).constData());
        m_aside.clear();
    }

    ~StaleOutput() { Discard(); }

private:
    QString m_path;
    QString m_aside;
};

} // namespace


// A job of the run: its run, its output file and what has been read of it.
struct JobRunner::Job
{
    QString input;
    QString output;
    std::unique_ptr<IFireflyRun> run;
    enum class Phase { WaitingForFile, Following, Over } phase = Phase::WaitingForFile;
    bool running = true;      // the run's answer before the last wait
    QFile file;
    qsizetype count = 0;      // bytes of the last read, not yet shown
    OutputFollower follower;
    GeometryScanner scanner;  // its own, when several jobs run at once
    ConvergenceSeries convergence;
    bool shownOnce = false;   // the pane has shown it since it was followed
    int takenAt = 0;          // where its entry stood in the queue
};

JobRunner::JobRunner(TJobSettings &settings, IJobWindow &window, IClipboard &clipboard,
                     IPowerOff &powerOff, GeometryScanner &scanner)
    : m_settings(settings)
    , m_window(window)
    , m_clipboard(clipboard)
    , m_powerOff(powerOff)
    , m_scanner(scanner)
    , m_wait(&JobRunner::WaitHandlingEvents)
    , m_local(std::make_unique<LocalBackend>())
    , m_jobsModel(std::make_unique<RunJobsModel>())
    , m_buffer(ReadLimit, Qt::Uninitialized)
{
}

JobRunner::~JobRunner() = default;

void JobRunner::SetWait(Wait wait)
{
    m_wait = wait ? std::move(wait) : Wait(&JobRunner::WaitHandlingEvents);
}

void JobRunner::SetBackendChooser(BackendChooser chooser)
{
    m_chooseBackend = std::move(chooser);
}

void JobRunner::WaitHandlingEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    // While the application quits, nested loops return at once; keep the
    // poll cadence instead of spinning.
    if (loop.exec() != 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void JobRunner::RunBtnClick()
{
    if (m_running)
        return;
    IExecutionBackend *backend = m_chooseBackend ? m_chooseBackend() : nullptr;
    run(backend ? *backend : *m_local, true);
    if (!m_detached && m_window.PowerOffChecked())
        ShutdownSystem();
}

void JobRunner::Resume(IExecutionBackend &backend, std::vector<Adopted> jobs)
{
    if (m_running || jobs.empty())
        return;
    for (Adopted &adopted : jobs) {
        auto job = std::make_unique<Job>();
        job->input = adopted.input;
        job->output = adopted.output;
        job->run = std::move(adopted.run);
        m_active.push_back(std::move(job));
    }
    run(backend, false);
}

void JobRunner::run(IExecutionBackend &backend, bool takeFromQueue)
{
    m_running = true;
    m_detached = false;
    // Jobs followed again after a restart each keep their own state too.
    m_several = backend.JobsAtOnce() > 1 || m_active.size() > 1;
    m_outlives = backend.RunsOutliveNelo();
    m_window.SetRunBtnEnabled(false);
    m_window.SetAbortBtnEnabled(true);
    // Jobs that go on without Nelo do not keep it from ending.
    m_window.SetExitBtnEnabled(m_outlives);
    m_window.SetParseMenuItemTag(1);
    Aborted = false;
    m_refused = false;
    m_window.ClearDone();
    m_chosen.clear();
    m_jobsModel->Clear();
    m_window.ShowJobsView(m_several || m_outlives);
    if (m_several)
        m_window.ClearLog();
    for (const auto &job : m_active) {
        job->running = job->run->IsRunning();
        updateRow(*job);
    }
    followDefault();

    // Back at rest however the run ends, also when a handler fails.
    const auto atRest = qScopeGuard([this] {
        Aborted = false;
        m_window.SetRunBtnEnabled(true);
        m_window.SetAbortBtnEnabled(false);
        m_window.SetExitBtnEnabled(true);
        m_window.SetParseMenuItemTag(0);
        m_followed = nullptr;
        // Detached, the jobs stay on the cluster: their runs are let go of
        // without ending them.
        m_active.clear();
        m_running = false;
    });
    monitor(backend, takeFromQueue, true);
    if (!m_detached && m_runEndSink)
        m_runEndSink();
}

// The job monitor: every PollMs, each job's run is asked whether it still
// goes and its output file is read on, until every job of the run is over
// (or the run is detached). While `takeFromQueue`, ticked entries are
// started whenever the backend has room; `list` puts each output on the
// processed list when its job is over.
void JobRunner::monitor(IExecutionBackend &backend, bool takeFromQueue, bool list)
{
    for (;;) {
        // The queue is searched afresh before every job: entries added,
        // ticked, unticked or removed meanwhile count from the next one.
        while (takeFromQueue && !Aborted && !m_detached && !m_refused
               && int(m_active.size()) < backend.JobsAtOnce() && takeNext(backend)) {
        }
        if (m_active.empty() || m_detached)
            break;
        m_wait(PollMs);
        if (m_detached)
            break;
        for (std::size_t i = 0; i < m_active.size(); ++i)
            step(*m_active[i]);
        // Jobs that are over leave the run in the order they ended.
        for (auto it = m_active.begin(); it != m_active.end();) {
            if ((*it)->phase != Job::Phase::Over) {
                ++it;
                continue;
            }
            std::unique_ptr<Job> job = std::move(*it);
            it = m_active.erase(it);
            finish(*job, list);
        }
        m_jobsModel->SetProblem(backend.Problem());
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        if (second != m_lastTick) {
            m_lastTick = second;
            m_jobsModel->Tick(QDateTime::currentDateTimeUtc());
        }
    }
}

// Takes the first ticked entry and starts its job; false when there is none
// to start now.
bool JobRunner::takeNext(IExecutionBackend &backend)
{
    if (!FindFirstChecked())
        return false;
    // Two jobs must never write one output file: an entry whose output a
    // running job writes waits until that job is over.
    if (m_several && m_settings.OutputFormat == 0
        && outputInUse(MakeOutputName(m_window.JobText(JobIndex), 0)))
        return false;
    InputFileName = m_window.JobText(JobIndex);
    const int taken = JobIndex;
    m_window.DeleteJob(JobIndex); // the job leaves the queue whatever its outcome
    OutputFileName = MakeOutputName(InputFileName, m_settings.OutputFormat);
    if (Aborted)
        return false; // Abort pressed while the save dialog was open: nothing starts
    if (!m_several)
        m_window.SetOutLabCaption(ActiveJobCaption(OutputFileName));
    if (startJob(backend)) {
        m_active.back()->takenAt = taken;
        return true;
    }
    if (!m_several)
        m_window.SetOutLabCaption(QString());
    if (backend.RefusalStopsRun()) {
        // Nothing is lost: the entry is back where it was, and the run
        // follows the jobs it has until they end.
        m_window.InsertJob(std::min(taken, m_window.JobCount()), InputFileName, true);
        m_refused = true;
        return false;
    }
    return true;
}

bool JobRunner::outputInUse(const QString &output) const
{
    return std::any_of(m_active.begin(), m_active.end(), [&](const auto &job) { return job->output == output; });
}

bool JobRunner::startJob(IExecutionBackend &backend)
{
    if (!m_several)
        m_window.ClearLog();
    BuildCommandLine(m_settings, InputFileName, OutputFileName, m_clipboard);
    const FireflyInvocation invocation = BuildInvocation(m_settings, InputFileName, OutputFileName);

    auto job = std::make_unique<Job>();
    job->input = InputFileName;
    job->output = OutputFileName;
    job->run = backend.NewRun(InputFileName, OutputFileName);
    StaleOutput stale(OutputFileName);
    QString why;
    if (!job->run->Start(invocation, &why)) {
        stale.Restore();
        Notices::ShowNotice(QStringLiteral("Unable to run Firefly!\n") + why);
        return false;
    }
    stale.Discard();
    // Abort pressed while the job was being handed over: it ends at once.
    if (Aborted)
        job->run->Kill();
    job->running = job->run->IsRunning();
    m_active.push_back(std::move(job));
    Job &started = *m_active.back();
    updateRow(started);
    if (!m_several || !m_followed)
        follow(&started);
    else
        followDefault();
    return true;
}

// Reads what the job's Firefly has added, at most ReadLimit bytes, and hands
// it to the job's follower at once (the read buffer serves every job). The
// count is negative when the bytes completed no line: they are carried.
qsizetype JobRunner::read(Job &job)
{
    if (!job.file.isOpen())
        return 0;
    const qint64 count = job.file.read(m_buffer.data(), ReadLimit);
    if (count <= 0)
        return 0; // a failed read counts as no data
    return job.follower.Feed(QByteArrayView(m_buffer.constData(), count)) ? qsizetype(count) : -qsizetype(count);
}

void JobRunner::step(Job &job)
{
    // Whether the run still goes is asked before each read, so everything it
    // wrote before it ended is still read. A read's lines are shown on the
    // turn after it, as the file is followed.
    switch (job.phase) {
    case Job::Phase::WaitingForFile:
        job.file.setFileName(job.output);
        if (!job.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            if (job.running) {
                job.running = job.run->IsRunning();
                updateRow(job);
                return;
            }
            // Ended without an output file: what it or the cluster wrote
            // elsewhere tells why.
            const QByteArray why = job.run->WhyNoOutput();
            if (!why.isEmpty() && job.follower.Feed(why + (why.endsWith('\n') ? "" : "\n")) && &job == m_followed)
                show(job);
            job.phase = Job::Phase::Over;
            return;
        }
        job.phase = Job::Phase::Following;
        job.count = read(job);
        if (!job.running && job.count == 0)
            job.phase = Job::Phase::Over;
        return;
    case Job::Phase::Following: {
        if (job.count > 0)
            show(job);
        job.running = job.run->IsRunning();
        job.count = read(job);
        if (!job.running && job.count == 0)
            job.phase = Job::Phase::Over;
        updateRow(job);
        return;
    }
    case Job::Phase::Over:
        return;
    }
}

// The lines completed by the job's last read: to the pane when it is
// followed, to the progress log, to the convergence series.
void JobRunner::show(Job &job)
{
    const QByteArray &batch = job.follower.Batch();
    const std::string_view text(batch.constData(), size_t(batch.size()));
    if (&job == m_followed) {
        m_window.SetMemoText(job.follower.PaneText());
        // Line 100 exists once the pane holds 100 lines (the empty line after
        // the last): the caret goes there and the pane shows the end. Before
        // that the answer is -1, the caret stays at the start and the pane
        // shows the start.
        m_window.SetMemoSelection(m_window.MemoLineIndex(OutputFollower::TailLines), 0);
    }
    if (m_several) {
        const QByteArray name = QFile::encodeName(Paths::FileNamePart(job.output));
        job.scanner.ScanGeometryProgress(text, [&](const QByteArray &entry) { m_window.AppendLog(name + ": " + entry); });
    } else {
        m_scanner.ScanGeometryProgress(text, [this](const QByteArray &entry) { m_window.AppendLog(entry); });
    }
    // A new step, or the gradients of the last one (their line can come in
    // a later batch than the step's energy; the last step has no other).
    const auto known = [&points = job.convergence.Points()] {
        return 2 * points.size() - (!points.empty() && std::isnan(points.back().maxGradient) ? 1 : 0);
    };
    const std::size_t before = known();
    job.convergence.Feed(text);
    if (&job == m_followed && known() != before)
        m_window.ShowConvergence(job.convergence, job.output);
}

void JobRunner::finish(Job &job, bool list)
{
    if (job.follower.Finish()) // a last line without line break
        show(job);
    ProcessEnd end = job.run->End();
    if (Aborted)
        end = ProcessEnd::AbortedByUser();
    updateRow(job, true);
    // Whatever the job left running ends with it (its helpers); a cluster
    // job leaves the list of jobs to follow again.
    job.run.reset();
    m_lastFinishedJob = {job.input, job.output, end, {}, {}};
    if (list && !Aborted && MaxContinuations() > 0)
        continueByItself(job);
    if (&job == m_followed) {
        m_lastConvergence = job.convergence;
        m_followed = nullptr;
    }
    if (m_finishedJobSink)
        m_finishedJobSink(m_lastFinishedJob);
    if (list && !Aborted)
        m_window.AppendDone(job.output);
    if (m_several && !m_followed)
        followDefault();
}

// A search that ran out of steps or time goes on from its last geometry,
// until the chain has had its continuations: the new input takes the
// finished job's place in the queue, ticked.
void JobRunner::continueByItself(const Job &job)
{
    FinishedJob &finished = m_lastFinishedJob;
    OutcomeReport report;
    try {
        report = ClassifyJobOutcome(job.output, finished.end);
    } catch (const NeloError &) {
        return; // the output cannot be read: nothing to go on from
    }
    if (!ContinuesByItself(report, finished.end))
        return;
    if (m_chains.Of(job.input).number >= MaxContinuations()) {
        finished.notContinued = QStringLiteral("the settings allow no more continuations (at most %1)").arg(MaxContinuations());
        return;
    }
    const Continued continued = ContinueOutput(job.output, job.input, m_chains);
    if (continued.input.isEmpty()) {
        if (continued.isOptimisation)
            finished.notContinued = continued.refusal;
        return;
    }
    finished.continuedAs = continued.input;
    m_window.InsertJob(std::min(job.takenAt, m_window.JobCount()), continued.input, true);
}

void JobRunner::Follow(const QString &output)
{
    m_chosen = output;
    followDefault();
}

void JobRunner::followDefault()
{
    const auto find = [this](auto predicate) -> Job * {
        for (const auto &job : m_active) {
            if (predicate(*job))
                return job.get();
        }
        return nullptr;
    };
    Job *job = m_chosen.isEmpty() ? nullptr : find([this](const Job &j) { return j.output == m_chosen; });
    if (!job)
        job = find([](const Job &j) { return j.run->CurrentStatus().phase == IFireflyRun::Phase::Running; });
    if (!job)
        job = find([](const Job &) { return true; });
    if (job != m_followed)
        follow(job);
}

void JobRunner::follow(Job *job)
{
    if (m_followed && m_followed != job && m_followed->run)
        m_followed->run->SetFollowed(false);
    m_followed = job;
    if (!job)
        return;
    job->run->SetFollowed(true);
    if (m_several)
        m_window.SetOutLabCaption(ActiveJobCaption(job->output));
    m_jobsModel->SetFollowed(job->output);
    const QByteArray pane = job->follower.PaneText();
    m_window.SetMemoText(pane);
    if (!pane.isEmpty())
        m_window.SetMemoSelection(m_window.MemoLineIndex(OutputFollower::TailLines), 0);
    m_window.ShowConvergence(job->convergence, job->output);
}

void JobRunner::updateRow(const Job &job, bool listed)
{
    RunJobsModel::Row row;
    row.input = job.input;
    row.output = job.output;
    row.status = job.run->CurrentStatus();
    const auto &points = job.convergence.Points();
    row.steps = int(points.size());
    if (!points.empty() && points.back().maxGradient == points.back().maxGradient)
        row.maxGradient = points.back().maxGradient;
    row.listed = false;
    m_jobsModel->Update(row);
    if (listed) {
        row.listed = true;
        m_jobsModel->Update(row);
    }
}

const ConvergenceSeries &JobRunner::Convergence() const
{
    return m_followed ? m_followed->convergence : m_lastConvergence;
}

void JobRunner::AbortBtnClick()
{
    for (const auto &job : m_active)
        job->run->Kill();
    Aborted = true;
}

bool JobRunner::JobsOutliveNelo() const
{
    return m_running && m_outlives;
}

void JobRunner::Detach()
{
    if (m_running && m_outlives)
        m_detached = true;
}

bool JobRunner::FindFirstChecked()
{
    const int count = m_window.JobCount();
    for (int index = 0; index < count; ++index) {
        if (m_window.JobChecked(index)) {
            JobIndex = index;
            return true;
        }
    }
    return false;
}

QString JobRunner::MakeOutputName(const QString &InputFileName, int OutputFormat)
{
    const QString name = Paths::WithExtension(InputFileName, u".out");
    switch (OutputFormat) {
    case 0:
        return name;
    case 1: {
        // A name a job of this run writes is taken too, though its file may
        // not be there yet (a job waiting on a cluster).
        const QString stem = name.chopped(4) + QLatin1Char('_');
        for (qint64 n = 1;; ++n) {
            const QString candidate = stem + QString::number(n) + QStringLiteral(".out");
            if (!PathTaken(candidate) && !outputInUse(candidate))
                return candidate;
        }
    }
    default: { // 2, and what only an edited settings file can hold
        QString chosen;
        if (m_window.AskOutputFileName(OutputFileFilter, OutputFileSuffix, chosen) && !chosen.isEmpty())
            return chosen;
        return name;
    }
    }
}

void JobRunner::ShutdownSystem()
{
    // A refusal leaves the machine on and the run's results as they are;
    // the user who asked for the power-off is told why.
    const QString refusal = m_powerOff.PowerOff();
    if (!refusal.isEmpty())
        Notices::ShowNotice(QStringLiteral("Unable to power off the machine!\n") + refusal);
}

bool JobRunner::RunJob()
{
    if (m_running)
        return false;
    m_several = false;
    if (!startJob(*m_local))
        return false;
    m_running = true;
    const auto idle = qScopeGuard([this] {
        m_active.clear();
        m_followed = nullptr;
        m_running = false;
    });
    monitor(*m_local, false, false);
    return true;
}
