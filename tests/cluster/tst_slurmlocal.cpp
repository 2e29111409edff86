#include "tests/helpers/Files.h"
#include "tests/helpers/Processes.h"
#include "tests/helpers/SlurmLocal.h"
#include "tests/helpers/Standin.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// Firefly on a real single-node Slurm, with firefly-standin as Firefly:
// Nelo's batch script hands Firefly its arguments untouched, in the folder
// --chdir names, and scancel ends Firefly together with its helpers.
class tst_SlurmLocal : public QObject
{
    Q_OBJECT

private slots:
    void init() { unsetStandinControls(); }
    void argumentsReachFireflyUntouched_data();
    void argumentsReachFireflyUntouched();
    void scancelEndsFireflyAndItsHelpers();
};

void tst_SlurmLocal::argumentsReachFireflyUntouched_data()
{
    // The working folder, which names the input, the output and the record.
    QTest::addColumn<QString>("folder");
    QTest::newRow("blank") << QStringLiteral("two words");
    QTest::newRow("double quotes") << QStringLiteral("say \"hi\"");
    QTest::newRow("single quote") << QStringLiteral("it's");
    QTest::newRow("command substitution") << QStringLiteral("$(touch pwned)");
    QTest::newRow("semicolon") << QStringLiteral("a;b");
    QTest::newRow("backslash") << QStringLiteral("back\\slash");
    QTest::newRow("non-ASCII letter") << QStringLiteral("mol\u00e9cule");
    QTest::newRow("all at once") << QStringLiteral(" '$(x)'; \"\\ \u00e9 ");
}

void tst_SlurmLocal::argumentsReachFireflyUntouched()
{
    NELO_REQUIRE_SLURM();
    QFETCH(QString, folder);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString work = scratch.filePath(folder);
    QVERIFY(QDir().mkpath(work));
    const QString input = work + QLatin1Char('/') + folder + QStringLiteral(".inp");
    QVERIFY(QFile::copy(QStringLiteral(NELO_EXAMPLES_DIR "/methane-energy.inp"), input));
    const QString record = work + QStringLiteral("/record ") + folder;
    const QString log = scratch.filePath(QStringLiteral("slurm.log"));
    // Firefly's command line as Nelo builds it, an empty library included.
    const QStringList argv{QStringLiteral(NELO_FIREFLY_STANDIN),
                           QStringLiteral("-i"), input,
                           QStringLiteral("-o"), work + QLatin1Char('/') + folder + QStringLiteral(".out"),
                           QStringLiteral("-b"), QString(),
                           QStringLiteral("-np"), QStringLiteral("1"),
                           QStringLiteral("-t"), work + QLatin1Char('/'),
                           QStringLiteral("--standin-pace=0"),
                           QStringLiteral("--standin-record=") + record};

    QByteArray error;
    const QString id = submitJob({QStringLiteral("--chdir=") + work, QStringLiteral("--output=") + log}, argv, &error);
    QVERIFY2(!id.isEmpty(), error.constData());
    QVERIFY(jobsEndWithin({id}));

    const QByteArray state = jobField(id, "JobState");
    QVERIFY2(state == "COMPLETED", (state + ": " + readFile(log)).constData());
    // The working folder is the one --chdir named, not sbatch's.
    QCOMPARE(readFile(record), standinRecord(QDir(work).canonicalPath(), argv));
}

void tst_SlurmLocal::scancelEndsFireflyAndItsHelpers()
{
    NELO_REQUIRE_SLURM();
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString input = scratch.filePath(QStringLiteral("water.inp"));
    QVERIFY(QFile::copy(QStringLiteral(NELO_EXAMPLES_DIR "/water-optimise.inp"), input));
    const QString pids = scratch.filePath(QStringLiteral("pids"));
    // Slow enough to be still at work when it is cancelled.
    const QStringList argv{QStringLiteral(NELO_FIREFLY_STANDIN),
                           QStringLiteral("-i"), input,
                           QStringLiteral("-o"), scratch.filePath(QStringLiteral("water.out")),
                           QStringLiteral("-b"), QString(),
                           QStringLiteral("-np"), QStringLiteral("3"),
                           QStringLiteral("-t"), scratch.path() + QLatin1Char('/'),
                           QStringLiteral("--standin-pace=50"),
                           QStringLiteral("--standin-pids=") + pids};

    QByteArray error;
    const QString id = submitJob({QStringLiteral("--chdir=") + scratch.path(), QStringLiteral("--output=/dev/null")},
                                 argv, &error);
    QVERIFY2(!id.isEmpty(), error.constData());
    QVERIFY(QTest::qWaitFor([&] { return standinPids(pids, "helper").size() == 2; }, 30000));
    const QList<qint64> processes = standinPids(pids, "main") + standinPids(pids, "helper");
    for (const qint64 pid : processes)
        QVERIFY(processRunning(pid));

    const SlurmCommand scancel = runSlurm(QStringLiteral("scancel"), {id});
    QVERIFY2(scancel.finished && scancel.exitCode == 0, scancel.err.constData());

    // Firefly and every helper end (killed helpers of a killed Firefly would
    // otherwise go on for 30 seconds).
    for (const qint64 pid : processes)
        QVERIFY2(processEndsWithin(pid, 15000), qPrintable(QString::number(pid)));
    QVERIFY(jobsEndWithin({id}));
    QCOMPARE(jobField(id, "JobState"), QByteArray("CANCELLED"));
}

QTEST_GUILESS_MAIN(tst_SlurmLocal)
#include "tst_slurmlocal.moc"
