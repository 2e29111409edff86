#include "jobs/RunNotifications.h"

#include "platform/Errors.h"

#include <QElapsedTimer>

#include <algorithm>
#include <utility>

namespace {

// How the jobs of a run are counted, in the order the counts are given.
enum class Count { Normal, NotConverged, ScfFailed, Abnormal, Killed, NoOutput, Aborted, Unreadable };

constexpr Count CountOrder[] = {Count::Normal, Count::NotConverged, Count::ScfFailed, Count::Abnormal,
                                Count::Killed, Count::NoOutput,     Count::Aborted,   Count::Unreadable};

// "2 ended normally": the words after the number.
QString countWords(Count count)
{
    switch (count) {
    case Count::Normal: return QStringLiteral("ended normally");
    case Count::NotConverged: return QStringLiteral("did not converge");
    case Count::ScfFailed: return QStringLiteral("failed the SCF");
    case Count::Abnormal: return QStringLiteral("ended abnormally");
    case Count::Killed: return QStringLiteral("killed");
    case Count::NoOutput: return QStringLiteral("left no output");
    case Count::Aborted: return QStringLiteral("aborted");
    case Count::Unreadable: return QStringLiteral("unreadable");
    }
    return QString();
}

qint64 steadyNow()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace

RunNotifications::RunNotifications(const TNotifySettings &settings, Show show, Clock clock)
    : m_settings(settings), m_show(std::move(show)), m_clock(clock ? std::move(clock) : Clock(&steadyNow))
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { SendDue(); });
}

QString RunNotifications::QueueDoneSummary(int jobs)
{
    return jobs == 1 ? QStringLiteral("Queue done: 1 job") : QStringLiteral("Queue done: %1 jobs").arg(jobs);
}

namespace {

Count countOf(JobOutcome outcome, bool readable)
{
    if (!readable)
        return Count::Unreadable;
    switch (outcome) {
    case JobOutcome::Normal:
    case JobOutcome::Converged: return Count::Normal;
    case JobOutcome::NotConverged: return Count::NotConverged;
    case JobOutcome::ScfFailed: return Count::ScfFailed;
    case JobOutcome::Abnormal: return Count::Abnormal;
    case JobOutcome::Killed: return Count::Killed;
    case JobOutcome::NoOutput: return Count::NoOutput;
    case JobOutcome::Aborted: return Count::Aborted;
    }
    return Count::Unreadable;
}

} // namespace

// "2 ended normally, 1 ended abnormally"
QString RunNotifications::counts(const QList<Ended> &jobs)
{
    QStringList parts;
    for (Count count : CountOrder) {
        const auto n = std::count_if(jobs.begin(), jobs.end(),
                                     [count](const Ended &job) { return countOf(job.outcome, job.readable) == count; });
        if (n > 0)
            parts << QStringLiteral("%1 %2").arg(n).arg(countWords(count));
    }
    return parts.join(QStringLiteral(", "));
}

// "a.out, b.out, c.out, d.out, e.out and 2 more"
QString RunNotifications::names(const QList<Ended> &jobs)
{
    QStringList shown;
    for (qsizetype i = 0; i < jobs.size() && i < NamedOutputs; ++i)
        shown << jobs.at(i).name;
    QString text = shown.join(QStringLiteral(", "));
    if (jobs.size() > NamedOutputs)
        text += QStringLiteral(" and %1 more").arg(jobs.size() - NamedOutputs);
    return text;
}

RunNotifications::Notification RunNotifications::failures(const QList<Ended> &jobs)
{
    if (jobs.size() == 1) {
        const Ended &job = jobs.first();
        QString body = OutcomeText(job.outcome);
        if (!job.reason.isEmpty())
            body += QLatin1Char('\n') + QString::fromLatin1(job.reason);
        return {QStringLiteral("Job failed: ") + job.name, body};
    }
    return {QStringLiteral("%1 jobs failed").arg(jobs.size()), counts(jobs) + QLatin1Char('\n') + names(jobs)};
}

void RunNotifications::JobEnded(const QString &output, const ProcessEnd &end)
{
    Ended job;
    job.name = output.mid(output.lastIndexOf(QLatin1Char('/')) + 1);
    try {
        const OutcomeReport report = ClassifyJobOutcome(output, end);
        job.outcome = report.outcome;
        job.reason = report.reason;
    } catch (const NeloError &) {
        job.readable = false;
    }
    m_run << job;
    const bool toldAtOnce = job.readable
                            && (job.outcome == JobOutcome::Abnormal || job.outcome == JobOutcome::ScfFailed
                                || job.outcome == JobOutcome::Killed || job.outcome == JobOutcome::NoOutput);
    if (toldAtOnce) {
        m_failures << job;
        schedule();
    }
}

void RunNotifications::RunEnded()
{
    if (m_run.isEmpty())
        return; // nothing ran: nothing to tell
    QList<Ended> failed;
    std::copy_if(m_run.begin(), m_run.end(), std::back_inserter(failed), [](const Ended &job) {
        return !job.readable || (!OutcomeSucceeded(job.outcome) && job.outcome != JobOutcome::Aborted);
    });
    QString body = counts(m_run);
    if (!failed.isEmpty())
        body += QStringLiteral("\nFailed: ") + names(failed);
    m_held << Notification{QueueDoneSummary(int(m_run.size())), body};
    // Named there already.
    m_failures.clear();
    m_run.clear();
    schedule();
}

void RunNotifications::schedule()
{
    if (m_held.isEmpty() && m_failures.isEmpty()) {
        m_timer.stop();
        return;
    }
    const qint64 wait = m_lastSent < 0 ? 0 : m_lastSent + GapMs - m_clock();
    m_timer.start(int(std::clamp<qint64>(wait, 0, GapMs)));
}

void RunNotifications::SendDue()
{
    if (!m_settings.NotifyWhenJobsEnd) {
        m_held.clear();
        m_failures.clear();
    }
    if (m_held.isEmpty() && m_failures.isEmpty())
        return;
    if (m_lastSent >= 0 && m_clock() < m_lastSent + GapMs) {
        schedule();
        return;
    }
    // A run's end first: failures held now belong to a later run.
    const Notification next = !m_held.isEmpty() ? m_held.takeFirst() : failures(std::exchange(m_failures, {}));
    m_lastSent = m_clock();
    m_show(next.summary, next.body);
    schedule();
}
