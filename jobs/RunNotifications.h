#pragma once

#include "analysis/JobOutcome.h"
#include "jobs/NotifySettings.h"

#include <QList>
#include <QString>
#include <QTimer>

#include <functional>

// What Nelo tells the desktop when jobs end, for a chemist who has hidden
// the window: at the end of a run one notification "Queue done: 3 jobs" that
// counts how the jobs ended ("2 ended normally, 1 ended abnormally") and
// names the outputs that failed; during a run, a job that ends abnormally,
// fails its SCF, is killed or leaves no output gets a notification of its
// own ("Job failed: NAME.out").
//
// Never more than one notification in GapMs: what comes sooner is held, and
// failures held together go out as one ("3 jobs failed"). Each failed job is
// told at most once during the run; failures still held when the run ends
// are told by its "Queue done" alone. Notifications go out from the event
// loop (a timer), so the failure of a run's last job is never told twice.
// Nothing goes out while NotifyWhenJobsEnd is off.
class RunNotifications
{
public:
    static constexpr int GapMs = 5000;
    // Outputs named in one notification; the rest are counted ("and 3 more").
    static constexpr int NamedOutputs = 5;

    using Show = std::function<void(const QString &summary, const QString &body)>;
    // A steady clock in milliseconds (tests set the time themselves).
    using Clock = std::function<qint64()>;

    RunNotifications(const TNotifySettings &settings, Show show, Clock clock = {});

    // A job of the run ended: its output file and how its process ended.
    // Its output is read here to tell how it ended.
    void JobEnded(const QString &output, const ProcessEnd &end);
    // The run is over (every job it started has ended).
    void RunEnded();
    // Sends what is held once its time has come; the timer calls it.
    void SendDue();

    static QString QueueDoneSummary(int jobs);

private:
    struct Ended
    {
        QString name; // of the output file
        JobOutcome outcome = JobOutcome::NoOutput;
        bool readable = true;
        QByteArray reason;
    };
    struct Notification
    {
        QString summary;
        QString body;
    };

    static QString counts(const QList<Ended> &jobs);
    static QString names(const QList<Ended> &jobs);
    static Notification failures(const QList<Ended> &jobs);
    void schedule();

    const TNotifySettings &m_settings;
    Show m_show;
    Clock m_clock;
    QTimer m_timer;
    QList<Ended> m_run;            // the jobs of the run so far
    QList<Ended> m_failures;       // failed jobs not told yet
    QList<Notification> m_held;    // queue-done notifications not sent yet
    qint64 m_lastSent = -1;
};
