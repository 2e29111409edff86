#include "analysis/JobOutcome.h"
#include "platform/Notices.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Processes.h"
#include "tests/helpers/RunnerRig.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <csignal>

Q_DECLARE_METATYPE(ProcessEnd)

// Whole jobs with firefly-standin as Firefly: queue to processed list,
// progress while it runs, Abort with helper processes, crashes, bursts.
namespace {

const QByteArray WaterInput = " $CONTRL SCFTYP=RHF RUNTYP=OPTIMIZE UNITS=ANGS $END\r\n"
                              " $BASIS  GBASIS=N31 NGAUSS=6 NDFUNC=1 $END\r\n"
                              " $DATA\r\nWater\r\nC1\r\n"
                              " O   8.0    0.0000000   0.0000000   0.1240000\r\n"
                              " H   1.0    0.0000000   0.7920000  -0.4960000\r\n"
                              " H   1.0    0.0000000  -0.7920000  -0.4960000\r\n"
                              " $END\r\n";

// What the pane must show for a whole output file: its last 100 lines.
QByteArray PaneOf(const QByteArray &output)
{
    QByteArrayList lines = output.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast(); // the file ends with a line break
    QByteArray pane;
    for (const QByteArray &line : lines.mid(std::max<qsizetype>(0, lines.size() - 100)))
        pane += (line.endsWith('\r') ? line.chopped(1) : line) + '\n';
    return pane;
}

// Paths with blanks, quotes and a dollar sign must reach Firefly untouched.
struct Rig : StandinRig
{
    Rig() : StandinRig(QStringLiteral("jobs 'a' \"b\" $HOME"), WaterInput) {}
};

// Presses Abort as soon as the geometry search has begun (its first log entry).
void abortWhenTheSearchBegins(Rig &rig, QTimer &watcher)
{
    QObject::connect(&watcher, &QTimer::timeout, [&rig, &watcher] {
        if (!rig.window.log.isEmpty()) {
            watcher.stop();
            rig.runner.AbortBtnClick();
        }
    });
    watcher.start(20);
}

} // namespace

class tst_StandinJobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void optimisationFromQueueToProcessedList();
    void abortEndsFireflyAndEveryHelper();
    void endedJobsAreListed_data();
    void endedJobsAreListed();
    void aBurstIsDrainedToTheLastLine();
    void abortWhileTheRestIsStillReadCounts();
    void everyOutcomeThroughTheRunner_data();
    void everyOutcomeThroughTheRunner();
    void lastGradientReachesTheChart();

private:
    QStringList m_notices;
};

void tst_StandinJobs::init()
{
    unsetStandinControls();
    m_notices.clear();
    Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
}

void tst_StandinJobs::optimisationFromQueueToProcessedList()
{
    Rig rig;
    const QString record = rig.dir.filePath(QStringLiteral("argv"));
    const QString pids = rig.dir.filePath(QStringLiteral("pids"));
    qputenv("FIREFLY_STANDIN_PACE", "0.3");
    qputenv("FIREFLY_STANDIN_RECORD", QFile::encodeName(record));
    qputenv("FIREFLY_STANDIN_PIDS", QFile::encodeName(pids));
    rig.queue(QStringLiteral("water.inp"));
    QList<bool> runningAtEntry;
    rig.window.onAppendLog = [&](const QByteArray &) {
        const QList<qint64> main = standinPids(pids, "main");
        runningAtEntry << (!main.isEmpty() && processRunning(main.first()));
    };

    rig.runner.RunBtnClick();

    const QString output = rig.job(QStringLiteral("water.out"));
    QCOMPARE(rig.window.done, QStringList{output});
    QVERIFY(m_notices.isEmpty());

    // The command line as recorded by Firefly itself.
    const FireflyInvocation invocation = BuildInvocation(rig.settings, rig.job("water.inp"), output);
    QCOMPARE(readFile(record), standinRecord(QDir(invocation.workingDirectory).canonicalPath(),
                                             QStringList{invocation.program} + invocation.arguments));

    // Progress: the search, its steps, the equilibrium; the first lines
    // arrived while Firefly was still at work.
    const QByteArrayList &log = rig.window.log;
    QVERIFY(log.size() >= 4);
    QCOMPARE(log.first(), QByteArray("*** BEGINNING GEOMETRY SEARCH ***"));
    QCOMPARE(log.last(), QByteArray("*** EQUILIBRIUM GEOMETRY LOCATED ***"));
    for (const QByteArray &step : log.mid(1, log.size() - 2))
        QVERIFY2(step.startsWith("STEP =") && step.contains("MAXIMUM GRADIENT ="), step.constData());
    QVERIFY(runningAtEntry.first());
    // The chart's series, read from the same batches: one point per step entry.
    const std::vector<ConvergencePoint> &points = rig.runner.Convergence().Points();
    QCOMPARE(qsizetype(points.size()), log.size() - 2);
    for (size_t k = 0; k < points.size(); ++k)
        QVERIFY(log.at(qsizetype(k) + 1).contains(QByteArray::number(points[k].energy, 'f', 7) + "    MAXIMUM GRADIENT ="
                                                  + QByteArray::number(points[k].maxGradient, 'f', 7).rightJustified(11)));

    // The pane: the last 100 lines of the file, the caret at the end.
    const QByteArray written = readFile(output);
    QVERIFY(written.count('\n') > 100);
    QCOMPARE(rig.window.memo, PaneOf(written));
    QCOMPARE(rig.window.selectionStart, rig.window.memo.size());
    QVERIFY(rig.window.memoHistory.size() > 3); // followed over several reads
}

void tst_StandinJobs::abortEndsFireflyAndEveryHelper()
{
    Rig rig;
    const QString pids = rig.dir.filePath(QStringLiteral("pids"));
    qputenv("FIREFLY_STANDIN_PIDS", QFile::encodeName(pids));
    rig.settings.CPUcores = QStringLiteral("3");
    rig.queue(QStringLiteral("first.inp"));
    rig.queue(QStringLiteral("second.inp"));
    QTimer watcher;
    abortWhenTheSearchBegins(rig, watcher);

    rig.runner.RunBtnClick();

    QVERIFY(!watcher.isActive());
    const QList<qint64> helpers = standinPids(pids, "helper");
    QCOMPARE(helpers.size(), 2);
    for (const qint64 pid : standinPids(pids, "main") + helpers)
        QVERIFY2(QTest::qWaitFor([pid] { return !processRunning(pid); }, 5000), qPrintable(QString::number(pid)));
    // What Firefly wrote before it was ended is shown; the job is not listed,
    // the next one never started.
    const QByteArray written = readFile(rig.job(QStringLiteral("first.out")));
    QVERIFY(!written.contains("EQUILIBRIUM GEOMETRY LOCATED"));
    QCOMPARE(rig.window.memo, PaneOf(written));
    QVERIFY(rig.window.done.isEmpty());
    QCOMPARE(rig.window.jobs.size(), 1);
    QVERIFY(!QFile::exists(rig.job(QStringLiteral("second.out"))));
}

void tst_StandinJobs::endedJobsAreListed_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("lastShown");
    QTest::newRow("crashed midway") << QByteArray("FIREFLY_STANDIN_CRASH_AFTER") << QByteArray("150") << QByteArray();
    QTest::newRow("no output file") << QByteArray("FIREFLY_STANDIN_NO_OUTPUT") << QByteArray("1") << QByteArray();
    QTest::newRow("last line without line break")
        << QByteArray("FIREFLY_STANDIN_NO_FINAL_NEWLINE") << QByteArray("1") << QByteArray();
}

void tst_StandinJobs::endedJobsAreListed()
{
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, value);
    Rig rig;
    qputenv("FIREFLY_STANDIN_PACE", "0.05");
    qputenv(control.constData(), value);
    rig.queue(QStringLiteral("water.inp"));
    rig.runner.RunBtnClick();

    const QString output = rig.job(QStringLiteral("water.out"));
    QCOMPARE(rig.window.done, QStringList{output});
    const QByteArray written = readFile(output);
    QCOMPARE(rig.window.memo, written.isEmpty() ? QByteArray() : PaneOf(written));
    if (control.endsWith("NO_FINAL_NEWLINE")) {
        QVERIFY(!written.endsWith('\n'));
        QVERIFY(rig.window.memo.endsWith(written.mid(written.lastIndexOf('\n') + 1) + '\n'));
    }
}

void tst_StandinJobs::aBurstIsDrainedToTheLastLine()
{
    Rig rig;
    qputenv("FIREFLY_STANDIN_PACE", "0");
    qputenv("FIREFLY_STANDIN_BURST", "3");
    rig.queue(QStringLiteral("water.inp"));
    rig.runner.RunBtnClick();
    const QByteArray written = readFile(rig.job(QStringLiteral("water.out")));
    QVERIFY(written.size() > 3 * 1024 * 1024);
    QCOMPARE(rig.window.memo, PaneOf(written));
    // At most 200,000 bytes per read: the backlog took many polls, each
    // putting no more than 100 lines into the pane.
    QVERIFY(rig.window.memoHistory.size() > written.size() / JobRunner::ReadLimit);
    for (const QByteArray &pane : std::as_const(rig.window.memoHistory))
        QVERIFY(pane.count('\n') <= 100);
    QCOMPARE(rig.window.log.last(), QByteArray("*** EQUILIBRIUM GEOMETRY LOCATED ***"));
}

void tst_StandinJobs::abortWhileTheRestIsStillReadCounts()
{
    Rig rig;
    const QString pids = rig.dir.filePath(QStringLiteral("pids"));
    qputenv("FIREFLY_STANDIN_PACE", "0");
    qputenv("FIREFLY_STANDIN_BURST", "3");
    qputenv("FIREFLY_STANDIN_PIDS", QFile::encodeName(pids));
    rig.queue(QStringLiteral("first.inp"));
    rig.queue(QStringLiteral("second.inp"));
    bool ended = false;
    QTimer watcher; // Abort once Firefly has ended but its output is not yet all read
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QList<qint64> main = standinPids(pids, "main");
        if (!main.isEmpty() && !processRunning(main.first())) {
            watcher.stop();
            ended = !rig.window.memo.contains("EQUILIBRIUM GEOMETRY LOCATED");
            rig.runner.AbortBtnClick();
        }
    });
    watcher.start(20);
    rig.runner.RunBtnClick();
    QVERIFY(ended);
    // The monitor read on to the end, but the job is not listed and no other starts.
    QCOMPARE(rig.window.memo, PaneOf(readFile(rig.job(QStringLiteral("first.out")))));
    QVERIFY(rig.window.done.isEmpty());
    QCOMPARE(rig.window.jobs.size(), 1);
}

// Each way a job can end, produced by the stand-in through the runner: what
// the runner reports of the process, and the class read from it and the output.
void tst_StandinJobs::everyOutcomeThroughTheRunner_data()
{
    const auto example = [](const char *name) { return readFile(QStringLiteral(NELO_EXAMPLES_DIR "/") + name); };
    const QByteArray hf = " $DATA\r\nHF\r\nC1\r\n F 9.0 0 0 0\r\n H 1.0 0 0 0.95\r\n $END\r\n";
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArrayList>("controls"); // NAME=VALUE, or "abort"
    QTest::addColumn<ProcessEnd>("end");
    QTest::addColumn<QByteArray>("keyword");
    QTest::addColumn<QByteArray>("reason"); // its start
    const ProcessEnd exited0 = ProcessEnd::Exited(0);
    QTest::newRow("normal") << example("methane-energy.inp") << QByteArrayList() << exited0 << QByteArray("normal")
                            << QByteArray("EXECUTION OF FIREFLY TERMINATED NORMALLY ");
    QTest::newRow("converged") << WaterInput << QByteArrayList() << exited0 << QByteArray("converged")
                               << QByteArray("***** EQUILIBRIUM GEOMETRY LOCATED *****");
    QTest::newRow("too many steps") << " $CONTRL RUNTYP=OPTIMIZE $END\r\n $STATPT NSTEP=2 $END\r\n" + hf
                                    << QByteArrayList() << exited0 << QByteArray("not-converged")
                                    << QByteArray("***** FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN");
    QTest::newRow("SCF not converged") << " $CONTRL RUNTYP=ENERGY MAXIT=5 $END\r\n" + hf << QByteArrayList()
                                       << exited0 << QByteArray("scf-failed")
                                       << QByteArray("SCF IS UNCONVERGED, TOO MANY ITERATIONS");
    QTest::newRow("SCF not converged in a search")
        << " $CONTRL RUNTYP=OPTIMIZE MAXIT=8 $END\r\n" + hf << QByteArrayList() << exited0
        << QByteArray("scf-failed") << QByteArray("***** FAILURE TO LOCATE STATIONARY POINT, SCF HAS NOT CONVERGED");
    QTest::newRow("abnormal") << example("ammonium-fails.inp") << QByteArrayList() << ProcessEnd::Exited(1)
                              << QByteArray("abnormal") << QByteArray("*** ERROR! THE NUMBER OF ELECTRONS (11)");
    QTest::newRow("aborted") << WaterInput << QByteArrayList{"abort"} << ProcessEnd::AbortedByUser()
                             << QByteArray("aborted") << QByteArray();
    QTest::newRow("killed") << WaterInput << QByteArrayList{"FIREFLY_STANDIN_CRASH_AFTER=150"}
                            << ProcessEnd::Signalled(SIGKILL) << QByteArray("killed") << QByteArray("signal 9 (SIGKILL)");
    QTest::newRow("crashed") << WaterInput
                             << QByteArrayList{"FIREFLY_STANDIN_CRASH_AFTER=150", "FIREFLY_STANDIN_CRASH_SIGNAL=SEGV"}
                             << ProcessEnd::Signalled(SIGSEGV) << QByteArray("killed")
                             << QByteArray("signal 11 (SIGSEGV)");
    QTest::newRow("no output") << WaterInput << QByteArrayList{"FIREFLY_STANDIN_NO_OUTPUT=1"} << exited0
                               << QByteArray("no-output") << QByteArray("no output file");
}

void tst_StandinJobs::everyOutcomeThroughTheRunner()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArrayList, controls);
    QFETCH(ProcessEnd, end);
    QFETCH(QByteArray, keyword);
    QFETCH(QByteArray, reason);
    Rig rig;
    rig.input = input;
    const bool abort = controls.contains("abort");
    qputenv("FIREFLY_STANDIN_PACE", abort ? "0.3" : "0.05");
    for (const QByteArray &control : controls)
        if (control.contains('='))
            qputenv(control.left(control.indexOf('=')).constData(), control.mid(control.indexOf('=') + 1));
    QTimer watcher;
    if (abort)
        abortWhenTheSearchBegins(rig, watcher);
    QList<JobRunner::FinishedJob> finished;
    rig.runner.SetFinishedJobSink([&](const JobRunner::FinishedJob &job) { finished << job; });
    rig.queue(QStringLiteral("job.inp"));
    rig.runner.RunBtnClick();

    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().output, rig.job(QStringLiteral("job.out")));
    QCOMPARE(finished.first().end, end);
    const OutcomeReport report = ClassifyJobOutcome(finished.first().output, finished.first().end);
    QCOMPARE(QByteArray(OutcomeKeyword(report.outcome).data()), keyword);
    QVERIFY2(report.reason.startsWith(reason), report.reason.constData());
}

// A step's gradient line can come in a later read than its energy: the
// chart is shown again when it does (the last step has no later step).
void tst_StandinJobs::lastGradientReachesTheChart()
{
    Rig rig;
    const QByteArray filler = " II,JST,KST,LST =  1  1  1  1 NREC =         1 INTLOC =    1\r\n";
    const auto padded = [&](QByteArray text) { return text + filler.repeated(10).left(600 - text.size() - 2) + "\r\n"; };
    const QByteArray replay = padded("          NSERCH=  0     ENERGY=    -76.0495434\r\n")
                              + padded("          MAXIMUM GRADIENT =  0.0000512    RMS GRADIENT = 0.0000333\r\n");
    QVERIFY(writeFile(rig.dir.filePath(QStringLiteral("replay.out")), replay));
    qputenv("FIREFLY_STANDIN_REPLAY", QFile::encodeName(rig.dir.filePath(QStringLiteral("replay.out"))));
    qputenv("FIREFLY_STANDIN_REPLAY_CHUNK", "600");
    qputenv("FIREFLY_STANDIN_REPLAY_INTERVAL", "400");
    rig.queue(QStringLiteral("job.inp"));
    rig.runner.RunBtnClick();
    // When the pane follows the job (no steps yet), at the step, at its gradients.
    QCOMPARE(rig.window.charts.size(), 3);
    QVERIFY(rig.window.charts[0].empty() && rig.window.charts[1].size() == 1 && rig.window.charts[2].size() == 1);
    QVERIFY(std::isnan(rig.window.charts[1].back().maxGradient));
    QCOMPARE(rig.window.charts[2].back().maxGradient, 0.0000512);
}

QTEST_GUILESS_MAIN(tst_StandinJobs)
#include "tst_standinjobs.moc"
