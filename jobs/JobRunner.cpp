#include "jobs/JobRunner.h"

#include "analysis/GeometryScanner.h"
#include "jobs/OutputFollower.h"
#include "platform/FireflyProcess.h"
#include "platform/Notices.h"
#include "platform/PowerOff.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <string_view>

const QString JobRunner::OutputFileFilter =
    QStringLiteral("Firefly output files (*.out)|*.out|All files (*.*)|*.*");
const QString JobRunner::OutputFileSuffix = QStringLiteral("out");

namespace {

bool PathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The input path with the extension of its file-name part replaced by ".out"
// (appended when it has none).
QString DefaultOutputName(const QString &input)
{
    const qsizetype nameStart = input.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = input.lastIndexOf(QLatin1Char('.'));
    return (dot >= nameStart ? input.left(dot) : input) + QStringLiteral(".out");
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

JobRunner::JobRunner(TJobSettings &settings, IJobWindow &window, IClipboard &clipboard,
                     IPowerOff &powerOff, GeometryScanner &scanner)
    : m_settings(settings)
    , m_window(window)
    , m_clipboard(clipboard)
    , m_powerOff(powerOff)
    , m_scanner(scanner)
    , m_wait(&JobRunner::WaitHandlingEvents)
{
}

JobRunner::~JobRunner() = default;

void JobRunner::SetWait(Wait wait)
{
    m_wait = wait ? std::move(wait) : Wait(&JobRunner::WaitHandlingEvents);
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
    m_running = true;
    m_window.SetRunBtnEnabled(false);
    m_window.SetAbortBtnEnabled(true);
    m_window.SetExitBtnEnabled(false);
    m_window.SetParseMenuItemTag(1);
    Aborted = false;
    m_window.ClearDone();
    {
        // Back at rest however the run ends, also when a handler fails.
        const auto atRest = qScopeGuard([this] {
            Aborted = false;
            m_window.SetRunBtnEnabled(true);
            m_window.SetAbortBtnEnabled(false);
            m_window.SetExitBtnEnabled(true);
            m_window.SetParseMenuItemTag(0);
            m_running = false;
        });
        // The queue is searched afresh before every job: entries added,
        // ticked, unticked or removed during a job count from the next one.
        while (FindFirstChecked() && !Aborted) {
            InputFileName = m_window.JobText(JobIndex);
            m_window.DeleteJob(JobIndex); // the job leaves the queue whatever its outcome
            OutputFileName = MakeOutputName(InputFileName, m_settings.OutputFormat);
            if (Aborted)
                break; // Abort pressed while the save dialog was open: nothing starts
            m_window.SetOutLabCaption(QStringLiteral("Active Job: ") + OutputFileName);
            if (!RunJob())
                m_window.SetOutLabCaption(QString());
            else if (!Aborted)
                m_window.AppendDone(OutputFileName);
        }
    }
    if (m_window.PowerOffChecked())
        ShutdownSystem();
}

void JobRunner::AbortBtnClick()
{
    if (m_process)
        m_process->KillGroup();
    Aborted = true;
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
    const QString name = DefaultOutputName(InputFileName);
    switch (OutputFormat) {
    case 0:
        return name;
    case 1: {
        const QString stem = name.chopped(4) + QLatin1Char('_');
        for (qint64 n = 1;; ++n) {
            const QString candidate = stem + QString::number(n) + QStringLiteral(".out");
            if (!PathTaken(candidate))
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
    m_window.ClearLog();
    m_convergence.Clear();
    BuildCommandLine(m_settings, InputFileName, OutputFileName, m_clipboard);
    const FireflyInvocation invocation = BuildInvocation(m_settings, InputFileName, OutputFileName);

    StaleOutput stale(OutputFileName);
    auto process = std::make_unique<FireflyProcess>();
    if (!process->Start(invocation.program, invocation.arguments, invocation.workingDirectory)) {
        stale.Restore();
        Notices::ShowNotice(QStringLiteral("Unable to run Firefly!\n") + process->StartFailure());
        return false;
    }
    stale.Discard();
    // Abort reaches the job until RunJob returns; then whatever the job left
    // running ends with it.
    m_process = std::move(process);
    const auto release = qScopeGuard([this] { m_process.reset(); });

    OutputFollower follower;
    m_window.SetMemoText(QByteArray());

    // Wait for Firefly to create its output file, or to end without one.
    QFile output(OutputFileName);
    bool running = false;
    do {
        running = m_process->IsRunning();
        m_wait(PollMs);
    } while (!output.open(QIODevice::ReadOnly | QIODevice::Unbuffered) && running);

    QByteArray buffer(ReadLimit, Qt::Uninitialized);
    const auto readMore = [&]() -> qsizetype {
        if (!output.isOpen())
            return 0;
        const qint64 count = output.read(buffer.data(), ReadLimit);
        return count > 0 ? qsizetype(count) : 0; // a failed read counts as no data
    };

    // Follow the file. Whether Firefly still runs is asked before each read,
    // so everything it wrote before it ended is still read.
    qsizetype count = readMore();
    while (running || count > 0) {
        m_wait(PollMs);
        if (count > 0 && follower.Feed(QByteArrayView(buffer.constData(), count)))
            ShowBatch(follower);
        running = m_process->IsRunning();
        count = readMore();
    }
    if (follower.Finish()) // a last line without line break
        ShowBatch(follower);

    ProcessEnd end = m_process->EndedBySignal() ? ProcessEnd::Signalled(m_process->EndSignal())
                                                : ProcessEnd::Exited(m_process->ExitStatus());
    if (Aborted)
        end = ProcessEnd::AbortedByUser();
    m_lastFinishedJob = {InputFileName, OutputFileName, end};
    if (m_finishedJobSink)
        m_finishedJobSink(m_lastFinishedJob);
    return true;
}

void JobRunner::ShowBatch(const OutputFollower &follower)
{
    m_window.SetMemoText(follower.PaneText());
    // Line 100 exists once the pane holds 100 lines (the empty line after the
    // last): the caret goes there and the pane shows the end. Before that the
    // answer is -1, the caret stays at the start and the pane shows the start.
    m_window.SetMemoSelection(m_window.MemoLineIndex(OutputFollower::TailLines), 0);
    const QByteArray &batch = follower.Batch();
    const std::string_view text(batch.constData(), size_t(batch.size()));
    m_scanner.ScanGeometryProgress(text, [this](const QByteArray &entry) { m_window.AppendLog(entry); });
    m_convergence.Feed(text);
}
