// A day on the cluster with the real program: the built nelo on a real X
// display (tests/xvfb-test.sh) and a real single-node Slurm (started by
// CTest), driven only with real input events and read through its state
// report. Nelo is killed while its jobs run, and later ended with Exit while
// a job runs: each time the next start follows the jobs again and lists them
// when they end.

#include "cluster/ClusterState.h"
#include "tests/helpers/RealNelo.h"
#include "tests/helpers/SlurmLocal.h"

#include <QtTest>

class TestRealCluster : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    RealNelo m_nelo{m_dir.filePath("state.json")};

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        NELO_REQUIRE_X();
        NELO_REQUIRE_SLURM();
    }
    void cleanup() { m_nelo.Kill(); }

    void jobsAreFollowedAgainAfterARestart()
    {
        QVERIFY(m_dir.isValid());
        const QString settings = path("nelo.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=" NELO_FIREFLY_STANDIN "\nDirList=" + QFile::encodeName(path("work"))
                                        + "\nAutoDir=1\nAddCmdLine=--standin-pace=4\n"
                                          "[Cluster]\nRunOn=1\nJobsAtOnce=2\nPollSeconds=1\n"));
        for (const char *name : {"a.inp", "b.inp", "c.inp"})
            QVERIFY(QFile::copy(NELO_EXAMPLES_DIR "/water-optimise.inp", path(name)));

        // Two jobs of three on the cluster at once; Nelo is killed while they run.
        m_nelo.Start(settings);
        QVERIFY(m_nelo.ChoosePath("InputBtn", path("a.inp")));
        QVERIFY(m_nelo.ChoosePath("InputBtn", path("b.inp")));
        QVERIFY(m_nelo.Click("RunBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.JobsIn("running") == 2; }, 60000));
        QVERIFY(m_nelo.Enabled("ExitBtn")); // cluster jobs do not hold Nelo
        m_nelo.process.kill();
        QVERIFY(m_nelo.process.waitForFinished(5000));
        QCOMPARE(LoadClusterState(ClusterStateFilePath(settings)).jobs.size(), 2);

        // The next start follows them again and lists them when they end.
        m_nelo.Start(settings);
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Table("JobsView").size() == 2; }, 20000));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox").size() == 2 && m_nelo.Enabled("RunBtn"); },
                               120000));
        QStringList done = m_nelo.List("DoneListBox");
        done.sort();
        QCOMPARE(done, QStringList({path("a.out"), path("b.out")}));
        QVERIFY(readFile(path("a.out")).contains("EXECUTION OF FIREFLY TERMINATED NORMALLY"));
        QVERIFY(!QFile::exists(ClusterStateFilePath(settings)));

        // Exit while a job runs asks first, then ends Nelo and leaves the
        // job running; the next start lists it when it ends.
        QVERIFY(m_nelo.ChoosePath("InputBtn", path("c.inp")));
        QVERIFY(m_nelo.Click("RunBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.JobsIn("running") == 1; }, 60000));
        QVERIFY(m_nelo.Click("ExitBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Shown("QMessageBox"); }));
        QVERIFY(m_nelo.Key("Return"));
        QVERIFY(m_nelo.process.waitForFinished(15000));
        QCOMPARE(m_nelo.process.exitCode(), 0);
        QVERIFY(readFile(settings).contains("[Cluster]\nRunOn=1\n"));
        const QList<ClusterJobRecord> left = LoadClusterState(ClusterStateFilePath(settings)).jobs;
        QCOMPARE(left.size(), 1);
        QVERIFY(!jobsListed({left[0].jobId}).isEmpty());

        m_nelo.Start(settings);
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList(path("c.out")); }, 120000));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Enabled("RunBtn"); }));
        QVERIFY(m_nelo.Click("ExitBtn"));
        QVERIFY(m_nelo.process.waitForFinished(15000));
        QCOMPARE(m_nelo.process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRealCluster)
#include "tst_realcluster.moc"
