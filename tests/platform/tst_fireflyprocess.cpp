#include "platform/FireflyProcess.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Processes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

qint64 ReadPid(const QString &file)
{
    qint64 pid = 0;
    const bool found = QTest::qWaitFor([&] {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            pid = f.readAll().trimmed().toLongLong();
        return pid > 0;
    }, 5000);
    return found ? pid : 0;
}

} // namespace

class tst_FireflyProcess : public QObject
{
    Q_OBJECT

private slots:
    void startFailureIsReported_data();
    void startFailureIsReported();
    void argumentsAndFolderReachTheProgramUntouched();
    void childIsIdleInItsOwnGroupWithNothingInherited();
    void killGroupEndsHelpersAlsoAfterTheLeaderEnded();
    void killGroupEndsARunningLeaderAndItsHelpers();
    void destructionEndsWhatIsLeft();
};

void tst_FireflyProcess::startFailureIsReported_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QStringLiteral("%1/no-such-firefly") << QStringLiteral("%1")
                                  << QStringLiteral("%1/no-such-firefly: No such file or directory");
    QTest::newRow("a folder") << QStringLiteral("%1/sub") << QStringLiteral("%1")
                              << QStringLiteral("%1/sub: Permission denied");
    QTest::newRow("not executable") << QStringLiteral("%1/plain.txt") << QStringLiteral("%1")
                                    << QStringLiteral("%1/plain.txt: Permission denied");
    QTest::newRow("missing working folder") << QStringLiteral("/bin/true") << QStringLiteral("%1/gone/")
                                            << QStringLiteral("%1/gone/: No such file or directory");
}

void tst_FireflyProcess::startFailureIsReported()
{
    QFETCH(QString, program);
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("plain.txt")), "#!/bin/sh\nexit 0\n"));

    const auto inDir = [&](const QString &text) {
        return text.contains(QLatin1String("%1")) ? text.arg(dir.path()) : text;
    };
    FireflyProcess process;
    QVERIFY(!process.Start(inDir(program), {}, inDir(folder)));
    QCOMPARE(process.StartFailure(), inDir(reason));
    QVERIFY(!process.IsRunning());
    QCOMPARE(process.ProcessId(), 0);
    process.KillGroup(); // nothing to end, and no signal to a stray group
}

void tst_FireflyProcess::argumentsAndFolderReachTheProgramUntouched()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("with blank $HOME \"q\"")) + QLatin1Char('/');
    QVERIFY(QDir().mkpath(folder));
    const QStringList arguments{QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("\"x\""),
                                QString(), QStringLiteral("*;|")};
    FireflyProcess process;
    QVERIFY(process.Start(QStringLiteral("/bin/sh"),
                          QStringList{QStringLiteral("-c"),
                                      QStringLiteral("pwd > args.txt; printf '[%s]\\n' \"$@\" >> args.txt"),
                                      QStringLiteral("sh")}
                              + arguments,
                          folder));
    QVERIFY(QTest::qWaitFor([&] { return !process.IsRunning(); }, 5000));
    QFile out(folder + QStringLiteral("args.txt"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(out.readAll()),
             QDir(folder).canonicalPath() + QStringLiteral("\n[a b]\n[$HOME]\n[\"x\"]\n[]\n[*;|]\n"));
}

void tst_FireflyProcess::childIsIdleInItsOwnGroupWithNothingInherited()
{
    // A descriptor of ours without close-on-exec must not reach the child.
    const int leaked = ::open("/dev/zero", O_RDONLY);
    QVERIFY(leaked >= 3);

    FireflyProcess process;
    QVERIFY(process.Start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, QStringLiteral("/")));
    ::close(leaked);
    const qint64 pid = process.ProcessId();
    QVERIFY(pid > 0);
    QVERIFY(process.IsRunning());

    const QList<QByteArray> fields = procStatFields(pid);
    QVERIFY(fields.size() > 39);
    QCOMPARE(fields.at(2).toLongLong(), pid); // process group = its own pid
    const bool idle = fields.at(38).toInt() == SCHED_IDLE;
    QVERIFY2(idle || fields.at(16).toInt() == 19, "neither SCHED_IDLE nor nice 19");

    // Until the child's dynamic loader has done its work, it holds the
    // libraries it opens, one after another; a descriptor of ours would
    // stay. So one look that finds only 0, 1 and 2 tells: each look is
    // compared as it was taken (a second look could meet the loader's next
    // library).
    QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QStringList standard{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
    QStringList seen; // the descriptors of the last look
    QVERIFY2(QTest::qWaitFor([&] {
                 seen = fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
                 return seen == standard;
             }),
             qPrintable(seen.join(QLatin1Char(' '))));
    for (const char *fd : {"0", "1", "2"})
        QCOMPARE(QFile::symLinkTarget(fds.filePath(QLatin1String(fd))), QStringLiteral("/dev/null"));

    process.KillGroup();
    QVERIFY(QTest::qWaitFor([&] { return !process.IsRunning(); }, 5000));
}

void tst_FireflyProcess::killGroupEndsHelpersAlsoAfterTheLeaderEnded()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("helper.pid"));
    FireflyProcess process;
    QVERIFY(process.Start(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"), QStringLiteral("sleep 300 & echo $! > \"$0\""), pidFile},
                          dir.path()));
    const qint64 helper = ReadPid(pidFile);
    QVERIFY(helper > 0);
    QVERIFY(QTest::qWaitFor([&] { return !process.IsRunning(); }, 5000));
    QVERIFY(!processEndsWithin(helper, 200)); // the leader is gone, its helper lives on
    QVERIFY(!process.EndedBySignal());
    QCOMPARE(process.ExitStatus(), 0);

    process.KillGroup();
    QVERIFY(processEndsWithin(helper));
}

void tst_FireflyProcess::killGroupEndsARunningLeaderAndItsHelpers()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("helper.pid"));
    FireflyProcess process;
    QVERIFY(process.Start(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"),
                           QStringLiteral("sleep 300 & sleep 300 & echo $! > \"$0\"; wait"), pidFile},
                          dir.path()));
    const qint64 helper = ReadPid(pidFile);
    QVERIFY(helper > 0);
    QVERIFY(process.IsRunning());

    process.KillGroup();
    QVERIFY(QTest::qWaitFor([&] { return !process.IsRunning(); }, 5000));
    QVERIFY(processEndsWithin(helper));
    QVERIFY(process.EndedBySignal());
    QCOMPARE(process.EndSignal(), SIGKILL);
}

void tst_FireflyProcess::destructionEndsWhatIsLeft()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("helper.pid"));
    qint64 leader = 0;
    {
        FireflyProcess process;
        QVERIFY(process.Start(QStringLiteral("/bin/sh"),
                              {QStringLiteral("-c"), QStringLiteral("sleep 300 & echo $! > \"$0\"; wait"),
                               pidFile},
                              dir.path()));
        leader = process.ProcessId();
        QVERIFY(ReadPid(pidFile) > 0);
    }
    QVERIFY(processEndsWithin(leader));
    QVERIFY(processEndsWithin(ReadPid(pidFile)));
}

QTEST_GUILESS_MAIN(tst_FireflyProcess)
#include "tst_fireflyprocess.moc"
