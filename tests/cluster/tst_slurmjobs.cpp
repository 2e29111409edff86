// The queue on a real single-node Slurm (started by CTest with
// scripts/slurm-local.sh), with firefly-standin as Firefly, through the real
// runner and the real cluster backend: several jobs at once, Abort, odd
// paths, a job cancelled from outside, following jobs again after a restart,
// and a controller that is down.

#include "cluster/ClusterState.h"
#include "jobs/RunJobsModel.h"
#include "cluster/SlurmCluster.h"
#include "platform/Notices.h"
#include "tests/helpers/Processes.h"
#include "tests/helpers/RunnerRig.h"
#include "tests/helpers/SlurmLocal.h"

#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

// The runner rig with the cluster as its backend, asking Slurm every second.
struct SlurmRig : StandinRig
{
    TClusterSettings cluster;
    QString stateFile = dir.filePath(QStringLiteral("nelo.jobs"));
    SlurmCluster slurm{cluster, stateFile};

    explicit SlurmRig(const QString &folder = QStringLiteral("jobs"), double pace = 0.3)
        : StandinRig(folder, readFile(QStringLiteral(NELO_EXAMPLES_DIR "/water-optimise.inp")))
    {
        cluster.RunOn = TClusterSettings::Where::Slurm;
        cluster.JobsAtOnce = 2;
        cluster.PollSeconds = 1;
        settings.AddCmdLine = QStringLiteral("--standin-pace=%1").arg(pace);
        runner.SetBackendChooser([this] { return &slurm; });
    }
};

// Stand-in processes whose command line names this folder.
QList<qint64> standinsIn(const QString &folder)
{
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray cmdline = readFile(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (cmdline.contains(QFile::encodeName(folder)) && processRunning(entry.toLongLong()))
            pids << entry.toLongLong();
    }
    return pids;
}

} // namespace

class TestSlurmJobs : public QObject
{
    Q_OBJECT

private:
    QStringList m_notices;

private slots:
    void initTestCase()
    {
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
    }
    void init()
    {
        NELO_REQUIRE_SLURM();
        unsetStandinControls();
        m_notices.clear();
    }

    // Three optimisations, two at a time: never more than two on the
    // cluster, each listed when it ends, each progress entry under its own
    // output's name, and nothing left in the file of jobs to follow again.
    void twoAtOnce()
    {
        SlurmRig rig;
        for (const char *name : {"a.inp", "b.inp", "c.inp"})
            rig.queue(name);
        int most = 0;
        countMostListed(rig, most);
        rig.runner.RunBtnClick();

        QCOMPARE(most, 2);
        QCOMPARE(m_notices, QStringList());
        QStringList done = rig.window.done;
        done.sort();
        QCOMPARE(done, QStringList({rig.job("a.out"), rig.job("b.out"), rig.job("c.out")}));
        for (const QString &output : done)
            QCOMPARE(ClassifyJobOutcome(output).outcome, JobOutcome::Converged);
        for (const char *name : {"a.out", "b.out", "c.out"}) {
            const QByteArray prefix = QByteArray(name) + ": ";
            QVERIFY(rig.window.log.contains(prefix + "*** BEGINNING GEOMETRY SEARCH ***"));
            QVERIFY(rig.window.log.contains(prefix + "*** EQUILIBRIUM GEOMETRY LOCATED ***"));
        }
        for (const QByteArray &entry : rig.window.log)
            QVERIFY2(entry.startsWith("a.out: ") || entry.startsWith("b.out: ") || entry.startsWith("c.out: "), entry);
        QVERIFY(!QFile::exists(rig.stateFile));
        QCOMPARE(rig.phaseCount(IFireflyRun::Phase::Ended), 3);
    }

    // Abort cancels every job of the run; the run ends once Slurm reports
    // them ended, and no Firefly (nor any of its helpers) is left.
    void abortCancelsEveryJob()
    {
        SlurmRig rig(QStringLiteral("jobs"), 30);
        rig.settings.CPUcores = QStringLiteral("2");
        rig.queue("a.inp");
        rig.queue("b.inp");
        rig.queue("c.inp");
        QElapsedTimer sinceAbort;
        rig.during([&] {
            if (rig.phaseCount(IFireflyRun::Phase::Running) < 2 || standinsIn(rig.jobs).size() < 4)
                return false;
            rig.runner.AbortBtnClick();
            sinceAbort.start();
            return true;
        });
        rig.runner.RunBtnClick();
        // The jobs would take minutes to end by themselves.
        QVERIFY2(sinceAbort.isValid() && sinceAbort.elapsed() < 30000, qPrintable(QString::number(sinceAbort.elapsed())));
        QVERIFY(jobsListed(rig.ids()).isEmpty());
        QCOMPARE(standinsIn(rig.jobs), QList<qint64>());
        QCOMPARE(rig.window.done, QStringList());
        QCOMPARE(rig.window.jobs.size(), 1); // the third was never taken
        QVERIFY(!rig.window.memo.isEmpty()); // what it wrote before is still shown
    }

    // The input's path reaches Firefly byte for byte through sbatch and the
    // batch script: no shell parses it on either side.
    void oddPathsReachFirefly()
    {
        const QString folder = QStringLiteral(" a \"q\" 'x' $(touch pwned); b\\c \u00e9");
        SlurmRig rig(folder, 0);
        rig.queue(folder + QStringLiteral(".inp"));
        const QString record = rig.dir.filePath(QStringLiteral("record"));
        qputenv("FIREFLY_STANDIN_RECORD", QFile::encodeName(record)); // sbatch hands the job our environment
        rig.runner.RunBtnClick();
        unsetStandinControls();

        const QString input = rig.job(folder + QStringLiteral(".inp"));
        const QString output = rig.job(folder + QStringLiteral(".out"));
        QCOMPARE(rig.window.done, QStringList(output));
        const FireflyInvocation invocation = BuildInvocation(rig.settings, input, output);
        QCOMPARE(readFile(record), standinRecord(QDir(invocation.workingDirectory).canonicalPath(),
                                                 QStringList(invocation.program) << invocation.arguments));
        QVERIFY(!QFile::exists(rig.dir.filePath(QStringLiteral("jobs/pwned"))));
    }

    // A job cancelled outside Nelo ends as cancelled: its output so far is
    // read and listed, and how it ended is told.
    void cancelledFromOutside()
    {
        SlurmRig rig(QStringLiteral("jobs"), 30);
        rig.queue("a.inp");
        rig.during([&] {
            if (rig.phaseCount(IFireflyRun::Phase::Running) < 1 || !QFile::exists(rig.job("a.out")))
                return false;
            return runSlurm(QStringLiteral("scancel"), rig.ids()).exitCode == 0;
        });
        rig.runner.RunBtnClick();
        QCOMPARE(rig.window.done, QStringList(rig.job("a.out")));
        QCOMPARE(rig.runner.LastFinishedJob().end.schedulerState, QByteArray("CANCELLED"));
        QCOMPARE(RunJobsModel::StateText(rig.runner.JobsModel().Rows().at(0).status), "ended (CANCELLED)");
        const OutcomeReport outcome = ClassifyJobOutcome(rig.job("a.out"), rig.runner.LastFinishedJob().end);
        QCOMPARE(outcome.outcome, JobOutcome::Killed);
        QVERIFY2(outcome.reason.contains("CANCELLED"), outcome.reason);
    }

    // Nelo ends during a run (Exit lets its cluster jobs go on): the next
    // start follows the job again and lists it when it ends.
    void followedAgainAfterARestart()
    {
        SlurmRig first(QStringLiteral("jobs"), 3);
        first.queue("a.inp");
        first.during([&] {
            if (first.phaseCount(IFireflyRun::Phase::Running) < 1)
                return false;
            first.runner.Detach();
            return true;
        });
        first.runner.RunBtnClick();
        QCOMPARE(first.window.done, QStringList());
        const ClusterStateLoad saved = LoadClusterState(first.stateFile);
        QCOMPARE(saved.jobs.size(), 1);
        QVERIFY(!jobsListed(first.ids()).isEmpty()); // still on the cluster

        TClusterSettings cluster = first.cluster;
        FakeJobWindow window;
        GeometryScanner scanner;
        JobRunner runner(first.settings, window, first.clipboard, first.powerOff, scanner);
        SlurmCluster slurm(cluster, first.stateFile);
        std::vector<JobRunner::Adopted> adopted;
        adopted.push_back({saved.jobs[0].input, saved.jobs[0].output, slurm.Adopt(saved.jobs[0])});
        // A job Slurm no longer knows is listed as ended, its state unknown.
        ClusterJobRecord forgotten{"999999", first.job("z.inp"), first.job("z.out"), first.job("z.slurm.log"), {}};
        QVERIFY(writeFile(forgotten.output, " EXECUTION OF FIREFLY TERMINATED NORMALLY\r\n"));
        adopted.push_back({forgotten.input, forgotten.output, slurm.Adopt(forgotten)});
        runner.Resume(slurm, std::move(adopted));
        QCOMPARE(window.done, QStringList({first.job("z.out"), first.job("a.out")}));
        QCOMPARE(RunJobsModel::StateText(runner.JobsModel().Rows().at(1).status), "ended (UNKNOWN)");
        QCOMPARE(ClassifyJobOutcome(first.job("a.out")).outcome, JobOutcome::Converged);
        QVERIFY(!QFile::exists(first.stateFile));
    }

    // A job ended by the cluster's time limit goes on from its last geometry
    // by itself when the settings allow it: the new input is queued and
    // submitted after it. Slurm looks at time limits every half minute
    // (KillWait is 5 s here), so the one-minute limit ends it after 60 to
    // 95 seconds; the stand-in's search would take three minutes.
    void timeLimitEndsAJobThatIsContinued()
    {
        SlurmRig rig(QStringLiteral("jobs"), 30);
        rig.cluster.TimeLimit = QStringLiteral("1");
        rig.input = twelveStepSearch(40);
        TContinueSettings continuing{1};
        rig.runner.SetContinueSettings(&continuing);
        QList<JobRunner::FinishedJob> finished;
        rig.runner.SetFinishedJobSink([&](const JobRunner::FinishedJob &job) { finished << job; });
        rig.queue("a.inp");
        QElapsedTimer run;
        run.start();
        rig.during([&] {
            const auto &rows = rig.runner.JobsModel().Rows();
            if (rows.size() < 2 || rows.at(1).status.id.isEmpty())
                return false;
            rig.runner.AbortBtnClick(); // the continuation is on the cluster: enough
            return true;
        });
        rig.runner.RunBtnClick();
        qInfo("the run took %lld s", run.elapsed() / 1000);

        QCOMPARE(finished.size(), 2);
        QCOMPARE(finished[0].end.schedulerState, QByteArray("TIMEOUT"));
        QCOMPARE(finished[0].continuedAs, rig.job("a-cont1.inp"));
        QCOMPARE(rig.window.done, QStringList(rig.job("a.out")));
        QCOMPARE(finished[1].input, rig.job("a-cont1.inp"));
        QCOMPARE(finished[1].end.kind, ProcessEnd::Kind::Aborted);
        const QByteArray deck = readFile(rig.job("a-cont1.inp"));
        QVERIFY(deck.startsWith(twelveStepSearch(40).left(deck.indexOf(" $DATA"))));
        QVERIFY(!deck.contains("0.7920000"));
    }

    // With the controller down, sbatch's own message is shown, the entry
    // stays in the queue and the run stops.
    void controllerDown()
    {
        const QString conf = qEnvironmentVariable("SLURM_CONF");
        const QString folder = QFileInfo(conf).absolutePath();
        const qint64 controller = readFile(folder + QStringLiteral("/run/slurmctld.started")).trimmed().toLongLong();
        QVERIFY(controller > 0 && processRunning(controller));
        ::kill(pid_t(controller), SIGTERM);
        QVERIFY(processEndsWithin(controller, 15000));
        const auto restart = qScopeGuard([&] {
            QProcess start;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("NELO_SLURM_DIR"), folder);
            start.setProcessEnvironment(environment);
            start.start(QStringLiteral("bash"), {QStringLiteral(NELO_SLURM_SCRIPT), QStringLiteral("start")});
            start.waitForFinished(120000);
        });

        SlurmRig rig;
        rig.queue("a.inp");
        rig.queue("b.inp");
        rig.runner.RunBtnClick();
        QCOMPARE(m_notices.size(), 1);
        QVERIFY2(m_notices[0].startsWith("Unable to run Firefly!\n") && m_notices[0].contains("Unable to contact slurm controller"),
                 qPrintable(m_notices[0]));
        QCOMPARE(rig.window.jobs.size(), 2);
        QCOMPARE(rig.window.jobs[0].path, rig.job("a.inp"));
        QVERIFY(rig.window.jobs[0].checked);
        QCOMPARE(rig.window.done, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSlurmJobs)
#include "tst_slurmjobs.moc"
