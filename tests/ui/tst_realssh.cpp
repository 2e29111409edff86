// A day on a cluster reached over SSH with the real program: the built nelo
// on a real X display (tests/xvfb-test.sh), a real sshd and a real
// single-node Slurm (both started by CTest), driven only with real input
// events. ssh meets an unknown host key and a passphrase-protected key: its
// questions come in Nelo's askpass window and are answered with real key
// presses. Nelo is then killed while a job runs, and later ended with Exit
// while a job runs: each time the next start follows the job again and lists
// it when it ends, its output equal to the cluster's.

#include "cluster/ClusterState.h"
#include "cluster/SshCluster.h"
#include "tests/helpers/RealNelo.h"
#include "tests/helpers/SshLocal.h"

#include <QtTest>

namespace {

// The askpass window ssh started, once it is there: its X window id and the
// process that shows it, as "ID PID". The X server hands a new client the ids
// of one that has ended, so the next question's window may well have the id
// of the last; only its process tells the two apart.
QString askPassWindow(int ms = 30000)
{
    QString window;
    (void)QTest::qWaitFor([&] {
        const auto ask = [](const QStringList &arguments) {
            QProcess xdotool;
            xdotool.start("xdotool", arguments);
            xdotool.waitForFinished(5000);
            return QString::fromLatin1(xdotool.readAllStandardOutput()).section('\n', 0, 0).trimmed();
        };
        const QString id = ask({"search", "--onlyvisible", "--classname", "nelo-askpass"});
        const QString pid = id.isEmpty() ? QString() : ask({"getwindowpid", id});
        window = pid.isEmpty() ? QString() : id + ' ' + pid;
        return !window.isEmpty();
    }, ms);
    return window;
}

// Answers ssh's question with real key presses in the askpass window. A
// window that has just appeared may not take keys yet: then it is typed anew.
bool answer(const QString &text)
{
    const QString window = askPassWindow();
    const QString id = window.section(' ', 0, 0);
    for (int attempt = 0; attempt < 4 && !window.isEmpty(); ++attempt) {
        if (xdotool({"windowfocus", "--sync", id}) && xdotool({"key", "ctrl+a"})
            && xdotool({"type", "--delay", "20", text}) && xdotool({"key", "Return"})
            && QTest::qWaitFor([&] { return askPassWindow(200) != window; }, 3000))
            return true;
    }
    return false;
}

} // namespace

class TestRealSsh : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    RealNelo m_nelo{m_dir.filePath("state.json")};

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The output that came home equals the cluster's copy.
    bool home(const QString &name) const
    {
        QDirIterator cluster(path("cluster"), {name}, QDir::Files, QDirIterator::Subdirectories);
        const QByteArray local = readFile(path(name));
        return cluster.hasNext() && local == readFile(cluster.next())
               && local.contains(" EXECUTION OF FIREFLY TERMINATED NORMALLY");
    }

private slots:
    void init()
    {
        NELO_REQUIRE_X();
        NELO_REQUIRE_SSH();
    }
    void cleanup() { m_nelo.Kill(); }

    void questionsRestartsAndExit()
    {
        QVERIFY(m_dir.isValid());
        const QString config = sshConfigCopy(m_dir.path(), HostKeys::Unknown, true);
        qputenv("NELO_SSH_CONFIG", QFile::encodeName(config));
        const QString settings = path("nelo.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=/nowhere/firefly\nDirList=/nowhere\nAutoDir=1\n"
                                    "AddCmdLine=--standin-pace=3\n"
                                    "[Cluster]\nRunOn=2\nJobsAtOnce=2\nPollSeconds=1\nDestination=nelo-cluster\n"
                                    "ClusterFirefly=" NELO_FIREFLY_STANDIN "\nClusterWorkFolder="
                                        + QFile::encodeName(path("cluster")) + "\n"));
        for (const char *name : {"a.inp", "b.inp"})
            QVERIFY(QFile::copy(NELO_EXAMPLES_DIR "/water-optimise.inp", path(name)));

        // Run: ssh asks about the unknown host key, then for the passphrase.
        m_nelo.Start(settings);
        QVERIFY(m_nelo.ChoosePath("InputBtn", path("a.inp")));
        QVERIFY(m_nelo.Click("RunBtn"));
        QVERIFY(answer("yes"));
        QVERIFY(answer(QString::fromLatin1(readFile(sshDir() + "/passphrase").trimmed())));
        QVERIFY(readFile(path("known_hosts")).contains("[127.0.0.1]:"));

        // The job runs on; Nelo is killed while it does.
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.JobsIn("running") == 1 && !readFile(path("a.out")).isEmpty(); }, 60000));
        m_nelo.process.kill();
        QVERIFY(m_nelo.process.waitForFinished(5000));
        const QString stateFile = SshCluster::StateFileFor(ClusterStateFilePath(settings));
        QCOMPARE(LoadClusterState(stateFile).jobs.size(), 1);

        // The next start follows it again and lists it, its output whole.
        m_nelo.Start(settings);
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList(path("a.out")); }, 120000));
        QVERIFY(home("a.out"));
        QVERIFY(QFile::exists(path("a.dat")));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Enabled("RunBtn"); }));
        QVERIFY(!QFile::exists(stateFile));

        // Exit while a job runs asks first and leaves it running; the next
        // start lists it when it ends.
        QVERIFY(m_nelo.ChoosePath("InputBtn", path("b.inp")));
        QVERIFY(m_nelo.Click("RunBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.JobsIn("running") == 1; }, 60000));
        QVERIFY(m_nelo.Click("ExitBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Shown("QMessageBox"); }));
        QVERIFY(m_nelo.Key("Return"));
        QVERIFY(m_nelo.process.waitForFinished(15000));
        QCOMPARE(LoadClusterState(stateFile).jobs.size(), 1);
        m_nelo.Start(settings);
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList(path("b.out")); }, 120000));
        QVERIFY(home("b.out"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Enabled("RunBtn"); }));
        QVERIFY(m_nelo.Click("ExitBtn"));
        QVERIFY(m_nelo.process.waitForFinished(15000));
    }
};

QTEST_GUILESS_MAIN(TestRealSsh)
#include "tst_realssh.moc"
