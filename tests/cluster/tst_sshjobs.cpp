// The queue on a real single-node Slurm reached through a real OpenSSH
// server on 127.0.0.1 (both started by CTest), with firefly-standin as
// Firefly, through the real runner and the real SSH backend. The cluster's
// working folder lies apart from the inputs, and the local Firefly settings
// name nothing that exists: every local output came through the mirror.

#include "cluster/ClusterState.h"
#include "cluster/SshCluster.h"
#include "jobs/RunJobsModel.h"
#include "platform/Notices.h"
#include "tests/helpers/RunnerRig.h"
#include "tests/helpers/SshLocal.h"

#include <QtTest>

#include <algorithm>

namespace {

struct SshRig : StandinRig
{
    TClusterSettings cluster;
    QString stateFile = dir.filePath(QStringLiteral("nelo.ssh.jobs"));
    QString control = dir.filePath(QStringLiteral("ctl"));
    std::unique_ptr<SshCluster> ssh;

    explicit SshRig(double pace = 0.3, const QString &root = QStringLiteral("cluster side"),
                    const QString &inputs = QStringLiteral("jobs"),
                    const QString &config = qEnvironmentVariable("NELO_SSH_CONFIG"))
        : StandinRig(inputs, readFile(QStringLiteral(NELO_EXAMPLES_DIR "/water-optimise.inp")))
    {
        settings.EXEFile = QStringLiteral("/nowhere/firefly");
        settings.DirList = QStringLiteral("/nowhere/scratch");
        settings.AddCmdLine = QStringLiteral("--standin-pace=%1").arg(pace);
        cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
        cluster.Destination = QStringLiteral("nelo-cluster");
        cluster.ClusterFirefly = QStringLiteral(NELO_FIREFLY_STANDIN);
        cluster.ClusterWorkFolder = dir.filePath(root);
        cluster.JobsAtOnce = 2;
        cluster.PollSeconds = 1;
        ssh = std::make_unique<SshCluster>(cluster, settings, stateFile, QString(), config, control);
        runner.SetBackendChooser([this] { return ssh.get(); });
    }

    // The file of that name in the job's folder on the cluster.
    QString onCluster(const QString &name) const
    {
        for (const QFileInfo &folder : QDir(cluster.ClusterWorkFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFile::exists(folder.filePath() + QLatin1Char('/') + name))
                return folder.filePath() + QLatin1Char('/') + name;
        }
        return {};
    }
    // Every listed output equals its cluster copy, byte for byte, and is a whole run.
    bool outputsHome(const QStringList &names) const
    {
        for (const QString &name : names) {
            const QByteArray local = readFile(job(name));
            if (local.isEmpty() || local != readFile(onCluster(name))
                || !local.contains(" EXECUTION OF FIREFLY TERMINATED NORMALLY")) {
                qWarning() << name << local.size() << "bytes here," << readFile(onCluster(name)).size() << "there";
                return false;
            }
        }
        return true;
    }
};

} // namespace

class TestSshJobs : public QObject
{
    Q_OBJECT

    QStringList m_notices;

private slots:
    void initTestCase()
    {
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
    }
    void init()
    {
        NELO_REQUIRE_SSH();
        unsetStandinControls();
        m_notices.clear();
    }

    // Three optimisations, two at a time: never more than two in squeue;
    // each output home, equal to the cluster's; each progress entry under
    // its own output's name; the PUNCH file and Slurm's log home beside it.
    void threeTwoAtOnce()
    {
        SshRig rig;
        for (const char *name : {"a.inp", "b.inp", "c.inp"})
            rig.queue(name);
        int most = 0;
        countMostListed(rig, most);
        rig.runner.RunBtnClick();

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(most, 2);
        QStringList done = rig.window.done;
        done.sort();
        QCOMPARE(done, QStringList({rig.job("a.out"), rig.job("b.out"), rig.job("c.out")}));
        QVERIFY(rig.outputsHome({"a.out", "b.out", "c.out"}));
        for (const char *name : {"a", "b", "c"}) {
            const QByteArray prefix = QByteArray(name) + ".out: ";
            QVERIFY(rig.window.log.contains(prefix + "*** EQUILIBRIUM GEOMETRY LOCATED ***"));
            const QString punch = QString::fromLatin1(name) + QStringLiteral(".dat");
            QVERIFY(!readFile(rig.job(punch)).isEmpty());
            QCOMPARE(readFile(rig.job(punch)), readFile(rig.onCluster(punch)));
            QVERIFY(QFile::exists(rig.job(QString::fromLatin1(name) + QStringLiteral(".slurm.log"))));
        }
        for (const QByteArray &entry : rig.window.log)
            QVERIFY2(entry.startsWith("a.out: ") || entry.startsWith("b.out: ") || entry.startsWith("c.out: "), entry);
        QVERIFY(!QFile::exists(rig.stateFile));
        QCOMPARE(rig.phaseCount(IFireflyRun::Phase::Ended), 3);
    }

    // Paths that a shell would take apart, on both sides, through a login
    // that prints a line before every command: Firefly's argv on the cluster
    // is exactly what Nelo meant, nothing ran, and the output came home whole.
    void hostilePathsThroughAChattyLogin()
    {
        const QString odd = QStringLiteral(" a \"q\" 'x' $(touch pwned); b\\c `touch pwned` \u00e9");
        SshRig rig(0, QStringLiteral("cluster") + odd, QStringLiteral("in") + odd);
        rig.cluster.Destination = QStringLiteral("nelo-chatty");
        const QString record = rig.dir.filePath(QStringLiteral("record"));
        rig.settings.AddCmdLine += QStringLiteral(" --standin-record=") + record;
        rig.queue(odd + QStringLiteral(".inp"));
        rig.runner.RunBtnClick();

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(rig.window.done, QStringList(rig.job(odd + QStringLiteral(".out"))));
        QVERIFY(rig.outputsHome({odd + QStringLiteral(".out")}));
        // The job ran in a folder of its own, named after the input and the time.
        const QByteArray text = readFile(record);
        const QString folder = QFile::decodeName(text.mid(4, text.indexOf('\n') - 4).replace("\\\\", "\\"));
        const QString root = rig.cluster.ClusterWorkFolder;
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                                        QRegularExpression::escape(root + QLatin1Char('/') + odd)
                                        + QStringLiteral("-\\d{8}-\\d{6}")))
                     .match(folder)
                     .hasMatch(),
                 qPrintable(folder));
        const QStringList argv{QStringLiteral(NELO_FIREFLY_STANDIN),
                               "-i", folder + QLatin1Char('/') + odd + QStringLiteral(".inp"),
                               "-o", folder + QLatin1Char('/') + odd + QStringLiteral(".out"),
                               "-b", "", "-f", "-r", "-p",
                               "--standin-pace=0", "--standin-record=" + record,
                               "-np", "1", "-t", root + QLatin1Char('/')};
        QCOMPARE(text, standinRecord(folder, argv));
        QDirIterator all(rig.dir.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
        while (all.hasNext())
            QVERIFY2(all.next().section(QLatin1Char('/'), -1) != QLatin1String("pwned"), qPrintable(all.filePath()));
    }

    // A line Firefly writes on the cluster is in the pane within 1.5 s,
    // though the cluster is asked for the jobs' states only every 5 s. The
    // stand-in writes 50 lines of its own, one every 200 ms.
    void thePaneFollowsWithinASecondAndAHalf()
    {
        SshRig rig(1);
        rig.cluster.PollSeconds = 5;
        QByteArray lines;
        for (int i = 0; i < 50; ++i)
            lines += QByteArray("Nelo follows line ") + QByteArray::number(1000 + i) + "\r\n";
        const QString replay = rig.dir.filePath(QStringLiteral("lines"));
        QVERIFY(writeFile(replay, lines));
        rig.settings.AddCmdLine += QStringLiteral(" --standin-replay=%1 --standin-replay-chunk=%2 "
                                                  "--standin-replay-interval=200")
                                       .arg(replay)
                                       .arg(lines.size() / 50);
        rig.queue("a.inp");
        QHash<QByteArray, qint64> seen; // a line on the cluster: when it was first there
        QList<qint64> delays;
        QElapsedTimer clock;
        clock.start();
        rig.during([&] {
            const QString output = rig.onCluster("a.out");
            for (const QByteArray &line : output.isEmpty() ? QByteArrayList() : readFile(output).split('\n')) {
                if (line.endsWith('\r') && !seen.contains(line.chopped(1)))
                    seen.insert(line.chopped(1), clock.elapsed());
            }
            for (auto it = seen.begin(); it != seen.end(); ++it) {
                if (it.value() >= 0 && rig.window.memo.contains(it.key())) {
                    delays << clock.elapsed() - it.value();
                    it.value() = -1; // measured
                }
            }
            return false;
        });
        rig.runner.RunBtnClick();
        std::sort(delays.begin(), delays.end());
        QVERIFY2(delays.size() == 50, qPrintable(QString::number(delays.size())));
        qInfo("the pane showed a line %lld ms (median), %lld ms (most) after it was on the cluster",
              delays[delays.size() / 2], delays.last());
        QVERIFY2(delays.last() <= 1500, qPrintable(QStringLiteral("%1 ms").arg(delays.last())));
    }

    // sshd stopped for 15 s in the middle of a run, its connections cut:
    // the jobs view says so, the jobs run on, and once the server is back
    // every output comes home whole, nothing lost or doubled.
    void aLostConnectionIsNoJobsEnd()
    {
        SshRig rig(3);
        rig.queue("a.inp");
        rig.queue("b.inp");
        QElapsedTimer down;
        bool said = false;
        bool stayedRunning = true;
        bool restarted = false;
        rig.during([&] {
            if (!down.isValid()) {
                if (rig.phaseCount(IFireflyRun::Phase::Running) < 2 || readFile(rig.job("a.out")).isEmpty())
                    return false;
                if (!sshLocal(QStringLiteral("stop")))
                    return true;
                down.start();
            }
            said = said || rig.runner.JobsModel().Summary().contains(QLatin1String("connection lost, retrying: "));
            // Nothing can be known of the jobs meanwhile: they run on.
            stayedRunning = stayedRunning && rig.phaseCount(IFireflyRun::Phase::Running) == 2;
            if (down.elapsed() < 15000)
                return false;
            restarted = sshLocal(QStringLiteral("start"));
            return true;
        });
        rig.runner.RunBtnClick();
        QVERIFY(restarted);
        QVERIFY(said);
        QVERIFY(stayedRunning);
        for (const RunJobsModel::Row &row : rig.runner.JobsModel().Rows())
            QCOMPARE(RunJobsModel::StateText(row.status), QStringLiteral("ended (COMPLETED)"));
        QCOMPARE(m_notices, QStringList());
        QStringList done = rig.window.done;
        done.sort();
        QCOMPARE(done, QStringList({rig.job("a.out"), rig.job("b.out")}));
        QVERIFY(rig.outputsHome({"a.out", "b.out"}));
        QVERIFY(!rig.runner.JobsModel().Summary().contains(QLatin1String("connection lost")));
    }

    // Nelo ends during a run: the state file tells where the job is and how
    // far its mirror got; the next start follows it and brings it home.
    void followedAgainAfterARestart()
    {
        SshRig first(3);
        first.queue("a.inp");
        first.during([&] {
            if (first.phaseCount(IFireflyRun::Phase::Running) < 1 || readFile(first.job("a.out")).isEmpty())
                return false;
            first.runner.Detach();
            return true;
        });
        first.runner.RunBtnClick();
        QCOMPARE(first.window.done, QStringList());
        const ClusterStateLoad saved = LoadClusterState(first.stateFile);
        QCOMPARE(saved.jobs.size(), 1);
        const ClusterJobRecord &record = saved.jobs.first();
        QCOMPARE(record.destination, QStringLiteral("nelo-cluster"));
        QCOMPARE(record.clusterOutput, first.onCluster("a.out"));
        QCOMPARE(record.clusterFolder, QFileInfo(record.clusterOutput).path());
        QVERIFY(!jobsListed({record.jobId}).isEmpty());

        FakeJobWindow window;
        GeometryScanner scanner;
        JobRunner runner(first.settings, window, first.clipboard, first.powerOff, scanner);
        SshCluster ssh(first.cluster, first.settings, first.stateFile, QString(),
                       qEnvironmentVariable("NELO_SSH_CONFIG"), first.control);
        std::vector<JobRunner::Adopted> adopted;
        adopted.push_back({record.input, record.output, ssh.Adopt(record)});
        runner.Resume(ssh, std::move(adopted));
        QCOMPARE(window.done, QStringList(first.job("a.out")));
        QVERIFY(first.outputsHome({"a.out"}));
        QVERIFY(QFile::exists(first.job("a.dat")));
        QVERIFY(!QFile::exists(first.stateFile));
    }

    // A host key other than the one known: ssh's own message, the entry
    // back in the queue, nothing submitted.
    void aChangedHostKeyStopsTheRun()
    {
        QTemporaryDir keys;
        SshRig rig(0, QStringLiteral("cluster side"), QStringLiteral("jobs"),
                   sshConfigCopy(keys.path(), HostKeys::Wrong));
        rig.queue("a.inp");
        rig.runner.RunBtnClick();
        QCOMPARE(m_notices.size(), 1);
        QVERIFY2(m_notices[0].contains("REMOTE HOST IDENTIFICATION HAS CHANGED")
                     && m_notices[0].contains("Host key verification failed."),
                 qPrintable(m_notices[0]));
        QCOMPARE(rig.window.jobs.size(), 1);
        QCOMPARE(rig.window.done, QStringList());
        QVERIFY(!QFile::exists(rig.cluster.ClusterWorkFolder));
    }
};

QTEST_GUILESS_MAIN(TestSshJobs)
#include "tst_sshjobs.moc"
