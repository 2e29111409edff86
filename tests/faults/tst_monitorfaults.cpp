// The job monitor and the queue runner when Firefly or its output misbehaves
// or the queue is long, with
// firefly-standin as Firefly: killed by a signal, its output deleted or
// truncated while it is followed, NUL bytes and bytes above 127, a line of
// 50 MB without a line feed, a burst of 200 MB, an executable that cannot be
// started, and a queue of 10,000 entries edited while it runs. Each case checks what the user sees (pane, progress log,
// processed list, notices) and that nothing was lost.
//
// The monitor normally waits 100 ms between reads (at most 200,000 bytes
// each); these tests keep its event-handling wait but shorten it, so that
// tens of megabytes drain in seconds.

#include "jobs/OutputFollower.h"
#include "platform/Notices.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/RunnerRig.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include <csignal>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool UnderAsan = true;
#else
constexpr bool UnderAsan = false;
#endif
#else
constexpr bool UnderAsan = false;
#endif

const QByteArray WaterInput = " $CONTRL SCFTYP=RHF RUNTYP=OPTIMIZE UNITS=ANGS $END\r\n"
                              " $DATA\r\nWater\r\nC1\r\n"
                              " O   8.0    0.0000000   0.0000000   0.1240000\r\n"
                              " H   1.0    0.0000000   0.7920000  -0.4960000\r\n"
                              " H   1.0    0.0000000  -0.7920000  -0.4960000\r\n"
                              " $END\r\n";

// The last 100 lines of an output (CR LF, LF or CR ends), each cut to the
// pane's line limit and followed by LF: what the pane must show at the end.
QByteArray paneOf(const QByteArray &output)
{
    OutputFollower follower;
    follower.Feed(output);
    follower.Finish();
    return follower.PaneText();
}

// The last lines of a large file, read from its end.
QByteArray paneOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 tail = 4 * 1024 * 1024;
    file.seek(std::max<qint64>(0, file.size() - tail));
    QByteArray bytes = file.readAll();
    if (file.size() > tail)
        bytes = bytes.sliced(bytes.indexOf('\n') + 1); // from the first whole line
    return paneOf(bytes);
}

// Starts the peak-memory count (VmHWM) afresh from the present size.
void resetPeakResident()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

qint64 peakResidentKiB()
{
    for (const QByteArray &line : readFile("/proc/self/status").split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The monitor's wait between reads is 2 ms, and each turn can act first.
struct Rig : StandinRig
{
    int turns = 0;
    std::function<void(int turn)> onTurn;

    Rig() : StandinRig(QStringLiteral("jobs"), WaterInput)
    {
        runner.SetWait([this](int) {
            ++turns;
            if (onTurn)
                onTurn(turns);
            JobRunner::WaitHandlingEvents(2);
        });
    }

    // The stand-in copies this file to its output, `chunk` bytes per write,
    // `intervalMs` apart.
    void replay(const QByteArray &content, int chunk, int intervalMs)
    {
        const QString file = dir.filePath("replay.txt");
        writeFile(file, content);
        replayFile(file, chunk, intervalMs);
    }
    void replayFile(const QString &file, int chunk, int intervalMs)
    {
        qputenv("FIREFLY_STANDIN_REPLAY", QFile::encodeName(file));
        qputenv("FIREFLY_STANDIN_REPLAY_CHUNK", QByteArray::number(chunk));
        qputenv("FIREFLY_STANDIN_REPLAY_INTERVAL", QByteArray::number(intervalMs));
    }
};

// Numbered lines, so that a lost or doubled line shows.
QByteArray numberedLines(int count, const QByteArray &tag = "line")
{
    QByteArray text;
    for (int i = 1; i <= count; ++i)
        text += tag + ' ' + QByteArray::number(i) + " of the output\r\n";
    return text;
}

} // namespace

class TestMonitorFaults : public QObject
{
    Q_OBJECT

private:
    QStringList m_notices;

private slots:
    void init()
    {
        unsetStandinControls();
        m_notices.clear();
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
    }

    // Firefly killed midway by a signal: the job ends, the lines written up
    // to then are in the pane, it is listed, and the queue goes on.
    void killedBySignal_data()
    {
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("SIGSEGV") << QByteArray("SEGV");
        QTest::newRow("SIGTERM") << QByteArray("TERM");
        QTest::newRow("SIGABRT") << QByteArray("ABRT");
        QTest::newRow("SIGKILL") << QByteArray("KILL");
    }
    void killedBySignal()
    {
        QFETCH(QByteArray, signal);
        Rig rig;
        qputenv("FIREFLY_STANDIN_PACE", "0.02");
        qputenv("FIREFLY_STANDIN_CRASH_AFTER", "120");
        qputenv("FIREFLY_STANDIN_CRASH_SIGNAL", signal);
        rig.queue("first.inp");
        rig.queue("second.inp");
        rig.runner.RunBtnClick();

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(rig.window.done, (QStringList{rig.job("first.out"), rig.job("second.out")}));
        QCOMPARE(rig.window.jobs.size(), 0);
        const QByteArray written = readFile(rig.job("second.out"));
        QVERIFY(written.count('\n') >= 120);
        QCOMPARE(rig.window.memo, paneOf(written));
        QVERIFY(rig.window.runEnabled && rig.window.exitEnabled && !rig.window.abortEnabled);
    }

    // The output file deleted or emptied while Firefly writes it: the monitor
    // reads on through its open handle, the job ends when Firefly ends, and
    // the pane ends with the last lines Firefly wrote.
    void outputTamperedWhileFollowed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("deleted") << "deleted";
        QTest::newRow("truncated to nothing") << "truncated";
    }
    void outputTamperedWhileFollowed()
    {
        QFETCH(QString, how);
        Rig rig;
        const QByteArray content = numberedLines(3000);
        rig.replay(content, 4096, 20);
        rig.queue("water.inp");
        const QString output = rig.job("water.out");
        bool done = false;
        rig.onTurn = [&](int) {
            if (done || QFileInfo(output).size() < 20000)
                return;
            done = true;
            if (how == "deleted")
                QVERIFY(QFile::remove(output));
            else
                QVERIFY(QFile(output).resize(0));
        };
        rig.runner.RunBtnClick();

        QVERIFY(done);
        QCOMPARE(m_notices, QStringList());
        QCOMPARE(rig.window.done, QStringList{output});
        QCOMPARE(rig.window.memo, paneOf(content));
        if (how == "truncated") {
            // Firefly wrote on at its own position: the file holds a hole of
            // NUL bytes, then the rest of the output.
            const QByteArray after = readFile(output);
            QCOMPARE(after.size(), content.size());
            QVERIFY(after.endsWith(content.right(1000)));
        }
    }

    // NUL bytes and bytes above 127 are output like any other: they reach
    // the pane as they are, and markers after them are still found.
    void nulAndHighBytes()
    {
        Rig rig;
        QByteArray content = numberedLines(40);
        content += QByteArray("before NUL\0after NUL, same line\r\n", 33);
        content += QByteArray(300, '\0') + "\r\n";
        content += "Latin-1 \xe9\xe8\xff\x80 and UTF-8 \xc3\xa9\r\n";
        content += QByteArray("\0\0          NSERCH=   1     ENERGY=     -76.0109998\r\n", 54);
        content += "\x81\xfe          MAXIMUM GRADIENT =  0.0123456    RMS GRADIENT =  0.0060000\r\n";
        content += numberedLines(30, "tail");
        rig.replay(content, 97, 5);
        rig.queue("water.inp");
        rig.runner.RunBtnClick();

        QCOMPARE(rig.window.done, QStringList{rig.job("water.out")});
        QCOMPARE(readFile(rig.job("water.out")), content);
        QCOMPARE(rig.window.memo, paneOf(content));
        QVERIFY(rig.window.memo.contains(QByteArray("before NUL\0after NUL, same line\n", 32)));
        QVERIFY(rig.window.memo.contains("\xe9\xe8\xff\x80"));
        QCOMPARE(rig.window.log.size(), 1);
        QVERIFY(rig.window.log.first().startsWith("STEP "));
        QVERIFY(rig.window.log.first().contains("MAXIMUM GRADIENT =  0.0123456"));
    }

    // A line of 50 MB without a line feed: memory stays bounded. The monitor
    // carries at most OutputFollower::LineLimit (256 KiB) of an unfinished
    // line and shows at most PaneLineLimit (8 KiB) of it; the pane never
    // holds more than 100 * (8 KiB + 1) bytes. The process's peak memory may
    // not grow by anything near the line's size.
    void fiftyMegabyteLine()
    {
        Rig rig;
        // Written in pieces: the test itself never holds the line.
        {
            QFile file(rig.dir.filePath("long.txt"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(numberedLines(10, "head"));
            const QByteArray megabyte(1024 * 1024, 'x');
            for (int i = 0; i < 50; ++i)
                file.write(megabyte);
            file.write("\r\n" + numberedLines(10, "tail"));
        }
        rig.replayFile(rig.dir.filePath("long.txt"), 1024 * 1024, 0);
        rig.queue("water.inp");

        resetPeakResident();
        const qint64 peakBefore = peakResidentKiB();
        rig.runner.RunBtnClick();
        const qint64 growthKiB = peakResidentKiB() - peakBefore;

        QCOMPARE(rig.window.done, QStringList{rig.job("water.out")});
        const QByteArray expected = numberedLines(10, "head").replace("\r\n", "\n")
                                    + QByteArray(OutputFollower::PaneLineLimit, 'x') + '\n'
                                    + numberedLines(10, "tail").replace("\r\n", "\n");
        QCOMPARE(rig.window.memo, expected);
        for (const QByteArray &pane : std::as_const(rig.window.memoHistory))
            QVERIFY(pane.size() <= 100 * (OutputFollower::PaneLineLimit + 1));
        if (!UnderAsan) // ASan keeps freed memory in quarantine
            QVERIFY2(growthKiB < 24 * 1024, qPrintable(QString::number(growthKiB) + " KiB"));
    }

    // A burst of 200 MB: drained to the end in reads of at most 200,000
    // bytes, one per turn, with the interface's events handled on every turn;
    // the pane ends with the file's last 100 lines.
    void burstOf200Megabytes()
    {
        Rig rig;
        qputenv("FIREFLY_STANDIN_PACE", "0");
        qputenv("FIREFLY_STANDIN_BURST", "200");
        rig.queue("water.inp");
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(5);
        rig.runner.RunBtnClick();
        timer.stop();

        const QString output = rig.job("water.out");
        const qint64 size = QFileInfo(output).size();
        QVERIFY(size > 200LL * 1024 * 1024);
        QCOMPARE(rig.window.done, QStringList{output});
        QCOMPARE(rig.window.memo, paneOfFile(output));
        QCOMPARE(rig.window.log.last(), QByteArray("*** EQUILIBRIUM GEOMETRY LOCATED ***"));
        QVERIFY(rig.turns > size / JobRunner::ReadLimit);
        QVERIFY2(ticks > rig.turns / 10, qPrintable(QString("%1 ticks in %2 turns").arg(ticks).arg(rig.turns)));
        QFile::remove(output);
    }

    // An executable that cannot be started: "Unable to run Firefly!" once
    // per job, the jobs leave the queue unlisted, the caption is emptied, the
    // pane keeps its text, unticked entries stay, and an output of an
    // earlier run with the same name survives.
    void executableCannotStart_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("a folder") << "folder";
        QTest::newRow("not executable") << "not executable";
        QTest::newRow("missing") << "missing";
    }
    void executableCannotStart()
    {
        QFETCH(QString, how);
        Rig rig;
        const QString exe = rig.dir.filePath("firefly");
        if (how == "folder")
            QVERIFY(QDir().mkdir(exe));
        else if (how == "not executable")
            QVERIFY(writeFile(exe, "#!/bin/sh\nexit 0\n"));
        rig.settings.EXEFile = exe;
        rig.queue("first.inp");
        rig.queue("kept.inp", false);
        rig.queue("second.inp");
        QVERIFY(writeFile(rig.job("first.out"), "an earlier result\r\n"));
        rig.window.memo = "earlier pane\n";

        rig.runner.RunBtnClick();

        QCOMPARE(m_notices.size(), 2);
        for (const QString &notice : m_notices)
            QVERIFY2(notice.startsWith("Unable to run Firefly!\n" + exe + ": "), qPrintable(notice));
        QCOMPARE(rig.window.done, QStringList());
        QCOMPARE(rig.window.jobs.size(), 1);
        QCOMPARE(rig.window.jobs.first().path, rig.job("kept.inp"));
        QCOMPARE(rig.window.outLab, QString());
        QCOMPARE(rig.window.memo, QByteArray("earlier pane\n"));
        QCOMPARE(readFile(rig.job("first.out")), QByteArray("an earlier result\r\n"));
        QCOMPARE(QDir(rig.jobs).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"first.inp", "first.out", "kept.inp", "second.inp"}));
        QVERIFY(rig.window.runEnabled && rig.window.exitEnabled && !rig.window.abortEnabled);
    }

    // A queue of 10,000 entries, a few of them ticked, far beyond position
    // 255. While the first job runs, the user removes the first hundred
    // entries, unticks one, and adds a ticked one at the end: the queue is
    // searched afresh before every job, so exactly the right entries run, in
    // order, and every other entry stays, in order.
    void longQueue()
    {
        Rig rig;
        qputenv("FIREFLY_STANDIN_PACE", "0");
        const int size = 10000;
        const QList<int> ticked = {255, 256, 5000, 7001, 9999};
        for (int i = 0; i < size; ++i) {
            const QString name = QString("job%1.inp").arg(i, 5, 10, QChar('0'));
            if (ticked.contains(i))
                rig.queue(name);
            else
                rig.window.jobs.append({rig.job(name), false});
        }
        bool edited = false;
        rig.onTurn = [&](int) {
            if (edited)
                return;
            edited = true;
            rig.window.jobs.remove(0, 100);
            for (FakeJobWindow::Job &job : rig.window.jobs) {
                if (job.path.endsWith("job05000.inp"))
                    job.checked = false;
            }
            rig.queue("added.inp");
        };
        rig.runner.RunBtnClick();

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(rig.window.done, (QStringList{rig.job("job00255.out"), rig.job("job00256.out"),
                                               rig.job("job07001.out"), rig.job("job09999.out"),
                                               rig.job("added.out")}));
        // Left: everything but the hundred removed and the jobs that ran.
        QStringList expected;
        for (int i = 100; i < size; ++i) {
            if (i != 255 && i != 256 && i != 7001 && i != 9999)
                expected << rig.job(QString("job%1.inp").arg(i, 5, 10, QChar('0')));
        }
        QStringList left;
        for (const FakeJobWindow::Job &job : std::as_const(rig.window.jobs)) {
            left << job.path;
            QVERIFY(!job.checked);
        }
        QCOMPARE(left, expected);
    }
};

QTEST_GUILESS_MAIN(TestMonitorFaults)
#include "tst_monitorfaults.moc"
