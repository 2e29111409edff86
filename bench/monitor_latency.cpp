// Measures what the job monitor costs the interface while Firefly runs:
//
//  1. Event latency during a job whose output grows fast: a 1 ms timer runs
//     while RunBtnClick follows the output; each tick's lateness (the gap to
//     the previous tick minus 1 ms) is recorded. Once with the monitor's own
//     wait (events handled while it waits) and once, in the same run, with
//     the classic wait (handle pending events, then sleep 100 ms).
//  2. CPU time the monitor itself uses per minute of a quiet job (Firefly
//     runs but writes nothing new): getrusage of this process, children not
//     counted.
//
// The pane and the log are real widgets (offscreen unless a display is set),
// so setting 100 lines of text on every poll is part of the cost.
//
//   monitor-latency [--firefly PATH] [--mib N] [--rate MiB/s] [--quiet-seconds S]

#include "analysis/GeometryScanner.h"
#include "jobs/JobRunner.h"
#include "platform/PowerOff.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

class WidgetWindow : public IJobWindow
{
public:
    WidgetWindow()
    {
        auto *layout = new QVBoxLayout(&m_top);
        layout->addWidget(&m_memo);
        layout->addWidget(&m_log);
        m_memo.setReadOnly(true);
        m_memo.setLineWrapMode(QPlainTextEdit::NoWrap);
        m_top.resize(760, 680);
        m_top.show();
    }

    QStringList jobs;

    void ClearLog() override { m_log.clear(); }
    void AppendLog(const QByteArray &entry) override
    {
        m_log.addItem(QString::fromLatin1(entry));
        m_log.scrollToBottom();
    }
    void SetMemoText(const QByteArray &text) override { m_memo.setPlainText(QString::fromLatin1(text)); }
    int MemoLineIndex(int line) const override
    {
        const QTextBlock block = m_memo.document()->findBlockByNumber(line);
        return block.isValid() ? block.position() : -1;
    }
    void SetMemoSelection(int start, int) override
    {
        if (start < 0)
            return;
        QTextCursor cursor = m_memo.textCursor();
        cursor.setPosition(start);
        m_memo.setTextCursor(cursor);
        m_memo.ensureCursorVisible();
    }
    void SetRunBtnEnabled(bool) override {}
    void SetAbortBtnEnabled(bool) override {}
    void SetExitBtnEnabled(bool) override {}
    void SetParseMenuItemTag(int) override {}
    int JobCount() const override { return int(jobs.size()); }
    QString JobText(int index) const override { return jobs.at(index); }
    bool JobChecked(int) const override { return true; }
    void DeleteJob(int index) override { jobs.removeAt(index); }
    void InsertJob(int index, const QString &path, bool) override { jobs.insert(index, path); }
    void ClearDone() override {}
    void AppendDone(const QString &) override {}
    void SetOutLabCaption(const QString &) override {}
    bool PowerOffChecked() const override { return false; }
    bool AskOutputFileName(const QString &, const QString &, QString &) override { return false; }

private:
    QWidget m_top;
    QPlainTextEdit m_memo{&m_top};
    QListWidget m_log{&m_top};
};

struct NoClipboard : IClipboard
{
    void SetText(const QString &) override {}
};

struct NoPowerOff : IPowerOff
{
    QString PowerOff() override { return {}; }
};

void SleepingWait(int ms)
{
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(ms));
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t at = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return sorted[at];
}

struct Rig
{
    QTemporaryDir dir;
    TJobSettings settings;
    WidgetWindow window;
    NoClipboard clipboard;
    NoPowerOff powerOff;
    GeometryScanner scanner;
    JobRunner runner{settings, window, clipboard, powerOff, scanner};

    Rig(const QString &firefly)
    {
        settings.EXEFile = firefly;
        settings.AutoDir = true;
        settings.DirList = dir.path();
        settings.CPUcores = QStringLiteral("1");
        QFile input(dir.filePath(QStringLiteral("job.inp")));
        if (input.open(QIODevice::WriteOnly))
            input.write(" $CONTRL RUNTYP=ENERGY $END\r\n $DATA\r\nwater\r\nC1\r\n"
                        "O 8.0 0.0 0.0 0.0\r\nH 1.0 0.0 0.76 0.59\r\nH 1.0 0.0 -0.76 0.59\r\n $END\r\n");
    }

    // Runs one job; returns the wall time in seconds.
    double Run()
    {
        window.jobs = {dir.filePath(QStringLiteral("job.inp"))};
        QElapsedTimer wall;
        wall.start();
        runner.RunBtnClick();
        return double(wall.nsecsElapsed()) / 1e9;
    }
};

void MeasureLatency(const QString &firefly, double mib, double rate, const char *name, JobRunner::Wait wait)
{
    Rig rig(firefly);
    rig.runner.SetWait(std::move(wait));
    qputenv("FIREFLY_STANDIN_PACE", "0");
    qputenv("FIREFLY_STANDIN_BURST", QByteArray::number(mib));
    qputenv("FIREFLY_STANDIN_BURST_RATE", QByteArray::number(rate));

    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, double(now - last) / 1e6 - 1.0));
        last = now;
    });
    tick.start(1);
    clock.start();
    const double seconds = rig.Run();
    tick.stop();

    const qint64 bytes = QFile(rig.dir.filePath(QStringLiteral("job.out"))).size();
    std::sort(lateness.begin(), lateness.end());
    std::printf("%-22s %7.1f MiB in %5.1f s  ticks %6zu  lateness p50 %6.2f ms  p99 %7.2f ms  max %7.2f ms\n", name,
                double(bytes) / 1048576.0, seconds, lateness.size(), Percentile(lateness, 0.5),
                Percentile(lateness, 0.99), lateness.empty() ? 0.0 : lateness.back());
}

void MeasureQuietCpu(int seconds, const char *name, JobRunner::Wait wait)
{
    QTemporaryDir scripts;
    const QString quiet = scripts.filePath(QStringLiteral("quiet-firefly"));
    QFile script(quiet);
    if (!script.open(QIODevice::WriteOnly))
        return;
    script.write("#!/bin/sh\nprintf ' quiet job\\r\\n' > \"$4\"\nsleep " + QByteArray::number(seconds) + "\n");
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    script.close();

    Rig rig(quiet);
    rig.runner.SetWait(std::move(wait));
    const double before = CpuSeconds();
    const double wall = rig.Run();
    const double used = CpuSeconds() - before;
    std::printf("%-22s quiet job %5.1f s  monitor CPU %7.1f ms  = %6.1f ms per minute\n", name, wall,
                used * 1000, used * 1000 * 60 / wall);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QString firefly;
#ifdef NELO_FIREFLY_STANDIN
    firefly = QStringLiteral(NELO_FIREFLY_STANDIN);
#endif
    double mib = 12, rate = 3;
    int quietSeconds = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--firefly"))
            firefly = args[i + 1];
        else if (args[i] == QLatin1String("--mib"))
            mib = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--rate"))
            rate = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--quiet-seconds"))
            quietSeconds = args[i + 1].toInt();
    }
    if (firefly.isEmpty()) {
        std::fprintf(stderr, "usage: monitor-latency --firefly PATH-OF-FIREFLY-STANDIN\n");
        return 2;
    }

    std::printf("Output burst of %.1f MiB at %.1f MiB/s; the monitor drains at most %lld bytes per %d ms\n", mib,
                rate, static_cast<long long>(JobRunner::ReadLimit), JobRunner::PollMs);
    MeasureLatency(firefly, mib, rate, "events while waiting", &JobRunner::WaitHandlingEvents);
    MeasureLatency(firefly, mib, rate, "process, then sleep", &SleepingWait);
    if (quietSeconds > 0) {
        MeasureQuietCpu(quietSeconds, "events while waiting", &JobRunner::WaitHandlingEvents);
        MeasureQuietCpu(quietSeconds, "process, then sleep", &SleepingWait);
    }
    return 0;
}
