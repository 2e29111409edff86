// The cluster's settings in the settings file, their checks, the file of
// submitted jobs that lets a later start follow them again, and what Nelo
// says to Slurm's commands and reads back (answers as Slurm 22.05 gives them).

#include "cluster/ClusterSettings.h"
#include "cluster/ClusterState.h"
#include "jobs/IniFile.h"
#include "jobs/JobSettings.h"
#include "cluster/SlurmCommands.h"
#include "platform/Errors.h"
#include "tests/helpers/FileSizeLimit.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/SettingsChecks.h"

#include <QtTest>

class TestClusterConfig : public QObject
{
    Q_OBJECT

private slots:
    void settingsRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        QVERIFY(writeFile(path, "[Settings]\nEXEFile=/ff\n[Other]\nk=v\n"));
        const TClusterSettings cluster = clusterInEveryField();
        TJobSettings settings;
        LoadSettings(settings, path);
        SaveSettings(settings, ClusterSection(cluster), path);
        TClusterSettings back;
        LoadClusterSettings(back, path);
        QVERIFY(back == cluster);
        const QByteArray bytes = readFile(path);
        QVERIFY(bytes.contains("[Other]\nk=v\n"));
        QVERIFY(bytes.contains("[Cluster]\nRunOn=1\n"));
    }

    // A user who never sets up a cluster keeps the file as it was; once the
    // section is there, it follows every change, back to the defaults too.
    void sectionOnlyWhenUsed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        const TClusterSettings defaults;
        SaveSettings(TJobSettings(), ClusterSection(defaults), path);
        QVERIFY(!readFile(path).contains("Cluster"));
        TClusterSettings slurm;
        slurm.RunOn = TClusterSettings::Where::Slurm;
        SaveSettings(TJobSettings(), ClusterSection(slurm), path);
        SaveSettings(TJobSettings(), ClusterSection(defaults), path);
        QVERIFY(readFile(path).contains("[Cluster]\nRunOn=0\n"));
    }

    void editedNumbersFallBack_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<int>("runOn");
        QTest::addColumn<int>("jobsAtOnce");
        QTest::addColumn<int>("pollSeconds");
        QTest::newRow("missing") << QByteArray() << 0 << 10 << 5;
        QTest::newRow("set") << QByteArray("RunOn=1\nJobsAtOnce=$20\nPollSeconds=60") << 1 << 32 << 60;
        QTest::newRow("over ssh") << QByteArray("RunOn=2") << 2 << 10 << 5;
        QTest::newRow("out of range") << QByteArray("RunOn=3\nJobsAtOnce=0\nPollSeconds=-5") << 0 << 10 << 5;
        QTest::newRow("no numbers") << QByteArray("RunOn=slurm\nJobsAtOnce=\nPollSeconds=5s") << 0 << 10 << 5;
    }
    void editedNumbersFallBack()
    {
        QFETCH(QByteArray, section);
        QFETCH(int, runOn);
        QFETCH(int, jobsAtOnce);
        QFETCH(int, pollSeconds);
        TClusterSettings cluster;
        cluster.Partition = "stale";
        LoadClusterSettings(cluster, IniFile::fromBytes("[Cluster]\n" + section + "\n"));
        QCOMPARE(int(cluster.RunOn), runOn);
        QCOMPARE(cluster.JobsAtOnce, jobsAtOnce);
        QCOMPARE(cluster.PollSeconds, pollSeconds);
        QCOMPARE(cluster.Partition, QString());
    }

    void checks_data()
    {
        QTest::addColumn<QString>("timeLimit");
        QTest::addColumn<QString>("memory");
        QTest::addColumn<int>("jobsAtOnce");
        QTest::addColumn<QString>("problemStart");
        for (const char *good : {"", "90", "90:30", "4:00:00", "2-12", "2-12:30", "2-12:30:00", "UNLIMITED", "infinite"})
            QTest::addRow("time %s", good) << good << "" << 1 << "";
        for (const char *bad : {"abc", "1h", "4:00:00:00", "-5", "2-", "1.5", " 90", "90\n"})
            QTest::addRow("time %s", bad) << bad << "" << 1 << "Slurm does not accept the time limit";
        for (const char *good : {"4000", "4000M", "16G", "1t", "0"})
            QTest::addRow("memory %s", good) << "" << good << 1 << "";
        for (const char *bad : {"16 G", "16GB", "1.5G", "lots", "16G\n"})
            QTest::addRow("memory %s", bad) << "" << bad << 1 << "Slurm does not accept the memory";
        QTest::newRow("no jobs at once") << "" << "" << 0 << "Jobs at once must be at least 1!";
        QTest::newRow("time before jobs") << "x" << "" << 0 << "Slurm does not accept the time limit \"x\"";
    }
    void checks()
    {
        QFETCH(QString, problemStart);
        QFETCH(QString, timeLimit);
        QFETCH(QString, memory);
        QFETCH(int, jobsAtOnce);
        TClusterSettings cluster;
        cluster.TimeLimit = timeLimit;
        cluster.Memory = memory;
        cluster.JobsAtOnce = jobsAtOnce;
        const QString problem = ClusterSettingsProblem(cluster);
        QVERIFY2(problemStart.isEmpty() ? problem.isEmpty() : problem.startsWith(problemStart), qPrintable(problem));
    }

    // Over SSH: a destination ssh takes as one, Firefly and a full working
    // folder on the cluster.
    void sshChecks_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("firefly");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("problemStart");
        QTest::newRow("all set") << "alice@login.hpc" << "/opt/ff" << "/scratch/a b" << "";
        QTest::newRow("an alias, Firefly on PATH") << "hpc" << "firefly" << "/" << "";
        QTest::newRow("no destination") << "" << "/opt/ff" << "/s" << "Enter the SSH destination";
        QTest::newRow("an option") << "-oProxyCommand=x" << "/opt/ff" << "/s" << "The SSH destination \"-oProxyCommand=x\" must not begin";
        QTest::newRow("a blank") << "alice@login hpc" << "/opt/ff" << "/s" << "The SSH destination \"alice@login hpc\" must not hold";
        QTest::newRow("a line feed") << "login\nhpc" << "/opt/ff" << "/s" << "The SSH destination";
        QTest::newRow("no Firefly") << "hpc" << "" << "/s" << "Enter the path of the Firefly executable";
        QTest::newRow("relative folder") << "hpc" << "/opt/ff" << "scratch" << "Enter the working folder on the cluster";
        QTest::newRow("no folder") << "hpc" << "/opt/ff" << "" << "Enter the working folder on the cluster";
    }
    void sshChecks()
    {
        QFETCH(QString, destination);
        QFETCH(QString, firefly);
        QFETCH(QString, folder);
        QFETCH(QString, problemStart);
        TClusterSettings cluster;
        cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
        cluster.Destination = destination;
        cluster.ClusterFirefly = firefly;
        cluster.ClusterWorkFolder = folder;
        const QString problem = ClusterSettingsProblem(cluster);
        QVERIFY2(problemStart.isEmpty() ? problem.isEmpty() : problem.startsWith(problemStart), qPrintable(problem));
        // Run elsewhere, the same fields keep nothing from running.
        cluster.RunOn = TClusterSettings::Where::Slurm;
        QCOMPARE(ClusterSettingsProblem(cluster), QString());
    }

    void stateFileRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = ClusterStateFilePath(dir.filePath("nelo.INI"));
        QCOMPARE(QFileInfo(path).fileName(), "nelo.jobs");
        QVERIFY(LoadClusterState(path).jobs.isEmpty());
        const QString odd = QString::fromUtf8("/scr atch/a \"q\" $(x); \xc3\xa9\n.out");
        const QList<ClusterJobRecord> jobs{
            {"17", odd + ".inp", odd, odd + ".slurm.log", QDateTime(QDate(2026, 12, 8), QTime(18, 0, 1, 5), Qt::UTC),
             "alice@hpc", odd + "-20261208-180001", odd + "-20261208-180001/x.out", 5000000000},
            {"18", "/b.inp", "/b.out", "/b.log", QDateTime(QDate(2026, 12, 8), QTime(18, 0), Qt::UTC)}};
        SaveClusterState(jobs, path);
        const ClusterStateLoad loaded = LoadClusterState(path);
        QVERIFY(loaded.problem.isEmpty());
        QVERIFY(loaded.jobs == jobs);

        // On a full disk the save fails and the file keeps the jobs it held.
        const QByteArray before = readFile(path);
        {
            const FileSizeLimit fullDisk(before.size() + 100);
            QVERIFY_THROWS_EXCEPTION(EWriteError, SaveClusterState(jobs + jobs + jobs, path));
        }
        QCOMPARE(readFile(path), before);
        SaveClusterState({}, path);
        QVERIFY(!QFile::exists(path));
    }

    // A file that cannot be read is kept aside and reported, never dropped.
    void unreadableStateFileIsKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.jobs");
        QVERIFY(writeFile(path, "{\"version\":1,\"jobs\":[{\"id\":\"17\""));
        const ClusterStateLoad loaded = LoadClusterState(path);
        QVERIFY(loaded.jobs.isEmpty());
        QVERIFY2(loaded.problem.contains("nelo.jobs.unreadable"), qPrintable(loaded.problem));
        QCOMPARE(readFile(path + ".unreadable"), "{\"version\":1,\"jobs\":[{\"id\":\"17\"");
    }
    void sbatchArguments()
    {
        TClusterSettings cluster;
        FireflyInvocation firefly{"/opt/ff/firefly", {"-i", "/in put.inp", "-o", "/in put.out", "-b", ""}, "/opt/ff/", "4"};
        const QStringList plain = SbatchArguments(cluster, "4", "water", "/w/water.slurm.log", "/x/nelo-exec.sh", firefly);
        QCOMPARE(plain, QStringList({"--parsable", "--job-name=water", "--chdir=/opt/ff/", "--nodes=1", "--ntasks=1",
                                     "--cpus-per-task=4", "--output=/w/water.slurm.log", "--no-requeue",
                                     "/x/nelo-exec.sh", "/opt/ff/firefly", "-i", "/in put.inp", "-o",
                                     "/in put.out", "-b", ""}));
        cluster.Partition = "short";
        cluster.Account = "chem";
        cluster.TimeLimit = "1:00:00";
        cluster.Memory = "2G";
        cluster.SbatchOptions = "--qos=low \"--comment=a \"\"b\"\"\"";
        const QStringList full = SbatchArguments(cluster, "1", "w", "/w%j\\x.log", "/s", firefly);
        QCOMPARE(full.mid(6, 8), QStringList({"--partition=short", "--account=chem", "--time=1:00:00", "--mem=2G",
                                              "--output=/\\w%j\\\\x.log", "--no-requeue", "--qos=low",
                                              "--comment=a \"b\""}));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sbatch") << QByteArray("sbatch") << QByteArray("4711\n") << "4711";
        QTest::newRow("sbatch federation") << QByteArray("sbatch") << QByteArray("4711;north\n") << "4711";
        QTest::newRow("sbatch nothing") << QByteArray("sbatch") << QByteArray("\n") << "";
        QTest::newRow("squeue") << QByteArray("squeue")
                                << QByteArray("11|RUNNING|2026-12-08T19:27:40|2026-12-08T19:27:30\n"
                                              "9|PENDING|N/A|2026-12-08T19:26:00\n7|COMPLETED|2026-12-08T19:20:00|N/A\n")
                                << "11 RUNNING 19:27:40; 9 PENDING 19:26:00; 7 COMPLETED 19:20:00";
        QTest::newRow("sacct") << QByteArray("sacct")
                               << QByteArray("7|COMPLETED|0:0\n8|CANCELLED by 0|0:15\n9|FAILED|3:0\n")
                               << "7 COMPLETED 0 0; 8 CANCELLED 0 15; 9 FAILED 3 0";
        QTest::newRow("scontrol") << QByteArray("scontrol")
                                  << QByteArray("JobId=12 JobName=a b UserId=root(0) JobState=TIMEOUT Reason=TimeLimit "
                                                "Dependency=(null) ExitCode=0:15 WorkDir=/tmp/a b\n"
                                                "JobId=13 JobName=x JobState=FAILED Reason=NonZeroExitCode ExitCode=127:0\n")
                                  << "12 TIMEOUT 0 15; 13 FAILED 127 0";
        // Partitions, the default one, the summary; a node in two partitions counts once.
        QTest::newRow("sinfo") << QByteArray("sinfo") << QByteArray("nelo-node|debug*|idle\n")
                               << "debug; debug; The cluster answers: 1 partition, 1 node idle";
        QTest::newRow("sinfo shared nodes") << QByteArray("sinfo")
                                            << QByteArray("n1|short*|idle\nn2|short*|alloc\nn3|short*|idle*\n"
                                                          "n1|long|idle\nn2|long|alloc\nn4|long|idle~\n"
                                                          "n5|gpu|mix\nn6|gpu|idle\n")
                                            << "short,long,gpu; short; The cluster answers: 3 partitions, 2 nodes idle";
        QTest::newRow("sinfo no default") << QByteArray("sinfo") << QByteArray("n1|a|down*\n\n")
                                          << "a; ; The cluster answers: 1 partition, 0 nodes idle";
    }
    void answers()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, output);
        QStringList parsed;
        if (command == "sbatch")
            parsed << ParseSbatchJobId(output);
        if (command == "sinfo") {
            const SinfoAnswer sinfo = ParseSinfo(output);
            parsed << sinfo.partitions.join(',') << sinfo.defaultPartition << SinfoSummary(sinfo);
        }
        for (const SqueueRow &row : ParseSqueue(command == "squeue" ? output : QByteArray()))
            parsed << row.jobId + ' ' + row.state + ' ' + row.since.time().toString();
        QHash<QString, SlurmFinal> finals = command == "sacct" ? ParseSacct(output)
                                            : command == "scontrol" ? ParseScontrol(output)
                                                                    : QHash<QString, SlurmFinal>();
        QStringList ids = finals.keys();
        std::sort(ids.begin(), ids.end());
        for (const QString &id : ids)
            parsed << QStringLiteral("%1 %2 %3 %4").arg(id, finals[id].state).arg(finals[id].exitCode).arg(finals[id].signal);
        QFETCH(QString, expected);
        QCOMPARE(parsed.join("; "), expected);
    }

    void states()
    {
        QCOMPARE(StateFromSlurm("PENDING"), SlurmState::Pending);
        QCOMPARE(StateFromSlurm("SUSPENDED"), SlurmState::Pending);
        QCOMPARE(StateFromSlurm("RUNNING"), SlurmState::Running);
        QCOMPARE(StateFromSlurm("COMPLETING"), SlurmState::Completing);
        for (const char *end : {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "OUT_OF_MEMORY", "NODE_FAIL", "BOOT_FAIL"})
            QCOMPARE(StateFromSlurm(end), SlurmState::Ended);
        // One job is asked for twice: squeue fails on a single unknown id.
        QVERIFY(SqueueArguments({"7"}).contains("--jobs=7,7"));
        QVERIFY(SqueueArguments({"7", "8"}).contains("--jobs=7,8"));
    }
};

QTEST_GUILESS_MAIN(TestClusterConfig)
#include "tst_clusterconfig.moc"
