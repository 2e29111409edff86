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
//  3. Event latency while the convergence chart grows: the real main window
//     runs a job whose Firefly (the stand-in) replays a made-up optimisation
//     of N steps (10,000 by default) at about 2.6 MB/s, so the chart below
//     the pane gets some 45 new steps on every poll; the same 1 ms timer.
//     Three times in the same run: the chart as Nelo draws it (thinned), a
//     main window that draws no chart (the reference), and the chart drawing
//     every point.
//
// The pane and the log are real widgets (offscreen unless a display is set),
// so setting 100 lines of text on every poll is part of the cost. Offscreen,
// the screen is made 1280 x 1024, tall enough for the chart panel.
//
//   monitor-latency [--firefly PATH] [--mib N] [--rate MiB/s] [--quiet-seconds S] [--chart-steps N]

#include "EventLateness.h"
#include "SyntheticOutput.h"

#include "analysis/GeometryScanner.h"
#include "jobs/JobRunner.h"
#include "platform/PowerOff.h"
#include "ui/ConvergenceChart.h"
#include "ui/NeloForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineSeries>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
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
    double seconds = 0;
    const Lateness late = TimerLateness([&] { seconds = rig.Run(); });
    qunsetenv("FIREFLY_STANDIN_BURST");
    qunsetenv("FIREFLY_STANDIN_BURST_RATE");

    const qint64 bytes = QFile(rig.dir.filePath(QStringLiteral("job.out"))).size();
    std::printf("%-22s %7.1f MiB in %5.1f s  ticks %6zu  lateness p50 %6.2f ms  p99 %7.2f ms  max %7.2f ms\n", name,
                double(bytes) / 1048576.0, seconds, late.ticks, late.p50, late.p99, late.max);
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

// The main window without its chart: the reference.
class NoChartForm : public TForm1
{
public:
    using TForm1::TForm1;
    void ShowConvergence(const ConvergenceSeries &, const QString &) override {}
};

enum class Chart { Thinned, None, EveryPoint };

void MeasureChartRun(const QString &firefly, const QString &replay, Chart kind, const char *name)
{
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("nelo.INI")));
    if (!ini.open(QIODevice::WriteOnly))
        return;
    ini.write("[Settings]\nEXEFile=" + QFile::encodeName(firefly) + "\nDirList=" + QFile::encodeName(dir.path())
              + "\nAutoDir=1\n");
    ini.close();
    QFile input(dir.filePath(QStringLiteral("chart.inp")));
    if (input.open(QIODevice::WriteOnly))
        input.write(" $CONTRL RUNTYP=OPTIMIZE $END\r\n");
    input.close();

    NoClipboard clipboard;
    NoPowerOff powerOff;
    TForm1::Environment environment;
    environment.arguments = {QStringLiteral("nelo")};
    environment.settingsFile = ini.fileName();
    environment.clipboard = &clipboard;
    environment.powerOff = &powerOff;
    environment.trayAvailable = [] { return false; };
    environment.quit = [] {};
    std::unique_ptr<TForm1> form = kind == Chart::None ? std::make_unique<NoChartForm>(environment)
                                                       : std::make_unique<TForm1>(environment);
    form->FormCreate();
    auto *chart = form->findChild<ConvergenceChart *>(QStringLiteral("ChartPanel"));
    if (kind == Chart::EveryPoint)
        chart->SetPointLimit(INT_MAX);
    form->AddJob(input.fileName());
    form->show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();

    qputenv("FIREFLY_STANDIN_PACE", "1");
    qputenv("FIREFLY_STANDIN_REPLAY", QFile::encodeName(replay));
    qputenv("FIREFLY_STANDIN_REPLAY_CHUNK", "65536");
    qputenv("FIREFLY_STANDIN_REPLAY_INTERVAL", "25");
    QElapsedTimer wall;
    wall.start();
    const Lateness late = TimerLateness([&] { form->RunBtnClick(); });
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    qunsetenv("FIREFLY_STANDIN_REPLAY");
    std::printf("%-22s %6zu steps on the chart (%5lld points a line) in %5.1f s  ticks %6zu  lateness p50 %6.2f ms  "
                "p99 %7.2f ms  max %7.2f ms\n",
                name, chart->Points().size(), static_cast<long long>(chart->EnergyLine()->count()), seconds,
                late.ticks, late.p50, late.p99, late.max);
}

} // namespace

int main(int argc, char **argv)
{
    // Offscreen, a screen tall enough for the chart panel below the pane.
    QTemporaryDir screenDir;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        QFile config(screenDir.filePath(QStringLiteral("screen.json")));
        if (config.open(QIODevice::WriteOnly))
            config.write(R"({"screens": [{"name": "Offscreen", "x": 0, "y": 0, "width": 1280, "height": 1024,)"
                         R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        config.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }
    QApplication app(argc, argv);

    QString firefly;
#ifdef NELO_FIREFLY_STANDIN
    firefly = QStringLiteral(NELO_FIREFLY_STANDIN);
#endif
    double mib = 12, rate = 3;
    int quietSeconds = 20;
    int chartSteps = 10000;
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
        else if (args[i] == QLatin1String("--chart-steps"))
            chartSteps = args[i + 1].toInt();
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
    if (chartSteps > 0) {
        // A made-up optimisation of that many steps, replayed by the stand-in.
        QTemporaryDir dir;
        const qsizetype perStep = 1000000 / (SyntheticStepCount(1000000) - 1);
        qsizetype bytes = qsizetype(chartSteps - 1) * perStep;
        while (SyntheticStepCount(bytes) > chartSteps)
            bytes -= perStep / 4;
        while (SyntheticStepCount(bytes) < chartSteps)
            bytes += 64;
        const QString replay = dir.filePath(QStringLiteral("optimisation.out"));
        QFile out(replay);
        if (!out.open(QIODevice::WriteOnly) || out.write(SyntheticOptimisationOutput(bytes)) < 0)
            return 1;
        out.close();
        std::printf("Live chart: an optimisation of %d steps, %.1f MB, replayed at about 2.6 MB/s (the monitor drains "
                    "2 MB/s)\n",
                    SyntheticStepCount(bytes), double(out.size()) / 1e6);
        MeasureChartRun(firefly, replay, Chart::Thinned, "chart, thinned");
        MeasureChartRun(firefly, replay, Chart::None, "no chart");
        MeasureChartRun(firefly, replay, Chart::EveryPoint, "chart, every point");
    }
    return 0;
}
