#include "jobs/RunJobsModel.h"
#include "jobs/RunNotifications.h"
#include "platform/Notices.h"
#include "platform/Paths.h"
#include "tests/helpers/FakeBackend.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Processes.h"
#include "tests/helpers/RunnerRig.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

// Firefly here is a small shell script written by each test: it gets the
// argument list of a real start ($4 is the output path) and does what the
// case needs.
namespace {

QStringList g_notices;
std::function<void()> g_onNotice;

QByteArray Lines(int first, int last, const char *end)
{
    QByteArray text;
    for (int i = first; i <= last; ++i)
        text += "output line " + QByteArray::number(i) + end;
    return text;
}

struct Rig : RunnerRig
{
    Rig()
    {
        settings.AutoDir = true;
        settings.DirList = dir.path();
        g_notices.clear();
        g_onNotice = nullptr;
    }

    QString Path(const QString &name) const { return dir.filePath(name); }

    // Makes the script Firefly and returns its path.
    QString Firefly(const QByteArray &body, const QString &name = QStringLiteral("firefly"))
    {
        const QString path = Path(name);
        if (!writeExecutable(path, "#!/bin/sh\nout=\"$4\"\n" + body + "\n"))
            return {};
        settings.EXEFile = path;
        return path;
    }

    void Queue(const QString &name, bool checked = true) { window.jobs.append({Path(name), checked}); }
};

} // namespace

class tst_JobRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void outputNames_data();
    void outputNames();
    void firstTickedEntryAtAnyPosition();

    void oneJobFromQueueToProcessedList();
    void paneShowsStartThenFollowsTheEnd_data();
    void paneShowsStartThenFollowsTheEnd();
    void lastLineWithoutLineBreakIsShownAndScanned();
    void runJobFollowsOneJobToItsEnd();
    void progressAppearsWhileFireflyRuns();
    void startFailureSkipsToTheNextJob_data();
    void startFailureSkipsToTheNextJob();
    void outputNeverCreatedIsStillListed();
    void staleOutputIsNeverShown();
    void sameEntryTwice_data();
    void sameEntryTwice();
    void queueEditedDuringARunCountsFromTheNextJob();
    void abortEndsFireflyAndItsHelpersAndStopsTheQueue();
    void abortWhileTheSaveDialogIsOpenStartsNothing();
    void powerOffAfterTheRun_data();
    void powerOffAfterTheRun();
    void backendRuns_data();
    void backendRuns();
    void notificationsOfARun_data();
    void notificationsOfARun();
    void notificationsAreCoalesced();
};

void tst_JobRunner::initTestCase()
{
    Notices::SetNoticePresenter([](const QString &text) {
        g_notices << text;
        if (g_onNotice)
            g_onNotice();
    });
}

void tst_JobRunner::outputNames_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("policy");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("answer"); // "<cancel>" for Cancel
    QTest::addColumn<QString>("expected");
    const QString cancel = QStringLiteral("<cancel>");

    QTest::newRow("0 replaces the extension") << "x.inp" << 0 << QStringList{"x.out"} << cancel << "x.out";
    QTest::newRow("0 appends without one") << "x" << 0 << QStringList{} << cancel << "x.out";
    QTest::newRow("0 last dot only") << "x.tar.inp" << 0 << QStringList{} << cancel << "x.tar.out";
    QTest::newRow("0 dot in a folder") << "d.d/x" << 0 << QStringList{} << cancel << "d.d/x.out";
    QTest::newRow("1 first") << "x.inp" << 1 << QStringList{"x.out"} << cancel << "x_1.out";
    QTest::newRow("1 after x_1 and x_2") << "x.inp" << 1 << QStringList{"x_1.out", "x_2.out"} << cancel
                                          << "x_3.out";
    QTest::newRow("1 first gap") << "x.inp" << 1 << QStringList{"x_1.out", "x_3.out"} << cancel << "x_2.out";
    QTest::newRow("1 a folder counts as taken") << "x.inp" << 1 << QStringList{"x_1.out/"} << cancel
                                                << "x_2.out";
    QStringList many;
    for (int n = 1; n <= 300; ++n)
        many << QStringLiteral("x_%1.out").arg(n);
    QTest::newRow("1 past 255") << "x.inp" << 1 << many << cancel << "x_301.out";
    QTest::newRow("2 chosen") << "x.inp" << 2 << QStringList{} << "elsewhere/y.log" << "elsewhere/y.log";
    QTest::newRow("2 cancel") << "x.inp" << 2 << QStringList{} << cancel << "x.out";
    QTest::newRow("3 asks like 2") << "x.inp" << 3 << QStringList{} << "z.out" << "z.out";
    QTest::newRow("255 cancel") << "x.inp" << 255 << QStringList{} << cancel << "x.out";
}

void tst_JobRunner::outputNames()
{
    QFETCH(QString, input);
    QFETCH(int, policy);
    QFETCH(QStringList, present);
    QFETCH(QString, answer);
    QFETCH(QString, expected);

    Rig rig;
    QVERIFY(QDir(rig.dir.path()).mkpath(QStringLiteral("d.d")));
    for (const QString &name : present) {
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(rig.dir.path()).mkdir(name));
        else
            QVERIFY(writeFile(rig.Path(name), "old"));
    }
    if (answer != QLatin1String("<cancel>"))
        rig.window.saveAnswer = rig.Path(answer);

    QCOMPARE(rig.runner.MakeOutputName(rig.Path(input), policy), rig.Path(expected));
    const bool asks = policy >= 2;
    QCOMPARE(rig.window.saveRequests,
             asks ? QStringList{"Firefly output files (*.out)|*.out|All files (*.*)|*.*|out|"} : QStringList{});
}

void tst_JobRunner::firstTickedEntryAtAnyPosition()
{
    Rig rig;
    QVERIFY(!rig.runner.FindFirstChecked());
    for (int i = 0; i < 300; ++i)
        rig.Queue(QStringLiteral("j%1.inp").arg(i), false);
    QVERIFY(!rig.runner.FindFirstChecked());
    rig.window.jobs[290].checked = true;
    rig.window.jobs[299].checked = true;
    QVERIFY(rig.runner.FindFirstChecked());
    QCOMPARE(rig.runner.JobIndex, 290);
    rig.window.jobs[4].checked = true;
    QVERIFY(rig.runner.FindFirstChecked());
    QCOMPARE(rig.runner.JobIndex, 4);
}

void tst_JobRunner::oneJobFromQueueToProcessedList()
{
    Rig rig;
    QVERIFY(QDir().mkpath(rig.Path(QStringLiteral("in 'a' \"b\" $HOME"))));
    const QString exe = rig.Firefly("pwd > \"$0.cwd\"\nprintf '[%s]\\n' \"$@\" > \"$0.args\"\n"
                                    "printf ' FIREFLY\\r\\n done\\r\\n' > \"$out\"");
    rig.settings.CopyCmdLine = true;
    rig.window.memo = "text of an earlier job";
    rig.window.log = {"earlier entry"};
    rig.Queue(QStringLiteral("in 'a' \"b\" $HOME/water.inp"));
    rig.Queue(QStringLiteral("idle.inp"), false);
    const QString input = rig.window.jobs.first().path;
    const QString output = rig.Path(QStringLiteral("in 'a' \"b\" $HOME/water.out"));

    rig.runner.RunBtnClick();

    QCOMPARE(rig.window.done, QStringList{output});
    QCOMPARE(rig.window.jobs.size(), 1); // the unticked entry stays
    QCOMPARE(rig.window.outLab, QStringLiteral("Active Job: ") + output);
    QCOMPARE(rig.window.memo, QByteArray(" FIREFLY\n done\n"));
    QVERIFY(rig.window.log.isEmpty());
    QVERIFY(g_notices.isEmpty());
    QCOMPARE(rig.clipboard.texts.size(), 1);
    QVERIFY(rig.clipboard.texts.first().startsWith(exe));
    QCOMPARE(rig.powerOff.count, 0);

    // The program got its arguments untouched, in its own folder.
    QByteArray expected;
    for (const QString &argument : BuildInvocation(rig.settings, input, output).arguments)
        expected += '[' + argument.toLocal8Bit() + "]\n";
    QVERIFY(expected.startsWith("[-i]\n[" + input.toLocal8Bit() + "]\n[-o]\n[" + output.toLocal8Bit() + "]\n"));
    QCOMPARE(readFile(exe + QStringLiteral(".args")), expected);
    QCOMPARE(readFile(exe + QStringLiteral(".cwd")).trimmed(), QDir(rig.dir.path()).canonicalPath().toLocal8Bit());

    QCOMPARE(rig.window.Calls({"Run", "Abort", "Exit", "Tag", "ClearDone", "Take", "OutLab", "ClearLog", "Done"}),
             (QStringList{"Run off", "Abort on", "Exit off", "Tag 1", "ClearDone", "Take " + input,
                          "OutLab Active Job: " + output, "ClearLog", "Done " + output, "Run on", "Abort off",
                          "Exit on", "Tag 0"}));
    QVERIFY(!rig.runner.Aborted);
    QVERIFY(!rig.runner.IsRunning());
}

void tst_JobRunner::paneShowsStartThenFollowsTheEnd_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<int>("firstShown");
    QTest::addColumn<bool>("followsEnd");
    QTest::newRow("40 lines") << 40 << QByteArray("\r\n") << 1 << false;
    QTest::newRow("99 lines") << 99 << QByteArray("\r\n") << 1 << false;
    QTest::newRow("100 lines") << 100 << QByteArray("\r\n") << 1 << true;
    QTest::newRow("150 lines in one read") << 150 << QByteArray("\r\n") << 51 << true;
    QTest::newRow("150 LF lines") << 150 << QByteArray("\n") << 51 << true;
}

void tst_JobRunner::paneShowsStartThenFollowsTheEnd()
{
    QFETCH(int, lines);
    QFETCH(QByteArray, end);
    QFETCH(int, firstShown);
    QFETCH(bool, followsEnd);

    Rig rig;
    // The whole output appears at once, so the first read holds every line.
    QVERIFY(writeFile(rig.Path(QStringLiteral("content")), Lines(1, lines, end)));
    rig.Firefly("cp content \"$out.tmp\"\nmv \"$out.tmp\" \"$out\"");
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();

    QCOMPARE(rig.window.memoHistory.size(), 2); // emptied at the start, then the one read
    QCOMPARE(rig.window.memo, Lines(firstShown, lines, "\n"));
    const QString select = rig.window.Calls({"Select"}).last();
    QCOMPARE(select, followsEnd ? QStringLiteral("Select %1 0").arg(rig.window.memo.size())
                                : QStringLiteral("Select -1 0"));
}

void tst_JobRunner::lastLineWithoutLineBreakIsShownAndScanned()
{
    Rig rig;
    rig.Firefly("printf 'first\\r\\n EQUILIBRIUM GEOMETRY LOCATED' > \"$out\"");
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();
    QCOMPARE(rig.window.memo, QByteArray("first\n EQUILIBRIUM GEOMETRY LOCATED\n"));
    QCOMPARE(rig.window.log, QByteArrayList{"*** EQUILIBRIUM GEOMETRY LOCATED ***"});
    QCOMPARE(rig.window.done.size(), 1);
}

// RunJob: the job named by InputFileName and OutputFileName, through the
// same monitor as a run, neither taken from the queue nor listed.
void tst_JobRunner::runJobFollowsOneJobToItsEnd()
{
    Rig rig;
    rig.Firefly("sleep 0.3\nprintf ' EQUILIBRIUM GEOMETRY LOCATED\\r\\n' > \"$out\"");
    rig.Queue(QStringLiteral("queued.inp"));
    rig.runner.InputFileName = rig.Path("x.inp");
    rig.runner.OutputFileName = rig.Path("x.out");
    QVERIFY(rig.runner.RunJob());
    QCOMPARE(rig.window.memo, QByteArray(" EQUILIBRIUM GEOMETRY LOCATED\n"));
    QCOMPARE(rig.window.log, QByteArrayList{"*** EQUILIBRIUM GEOMETRY LOCATED ***"});
    QCOMPARE(rig.runner.LastFinishedJob().output, rig.Path("x.out"));
    QVERIFY(rig.window.done.isEmpty() && rig.window.jobs.size() == 1 && !rig.runner.IsRunning());
}

void tst_JobRunner::progressAppearsWhileFireflyRuns()
{
    Rig rig;
    rig.Firefly("printf ' PARAMETERS CONTROLLING GEOMETRY SEARCH ARE\\r\\n' > \"$out\"\n"
                "sleep 1\nprintf ' EQUILIBRIUM GEOMETRY LOCATED\\r\\n' >> \"$out\"\ntouch \"$0.ended\"");
    const QString ended = rig.Path(QStringLiteral("firefly.ended"));
    QList<bool> endedAtEntry;
    rig.window.onAppendLog = [&](const QByteArray &) { endedAtEntry << QFile::exists(ended); };
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();
    QCOMPARE(rig.window.log,
             (QByteArrayList{"*** BEGINNING GEOMETRY SEARCH ***", "*** EQUILIBRIUM GEOMETRY LOCATED ***"}));
    QCOMPARE(endedAtEntry, (QList<bool>{false, true}));
}

void tst_JobRunner::startFailureSkipsToTheNextJob_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("reason"); // the path at fault and the system's message
    // Firefly runs in its own folder: a missing folder is met first.
    QTest::newRow("missing file") << "missing/firefly" << "missing/: No such file or directory";
    QTest::newRow("a folder") << "folder" << "folder: Permission denied";
    QTest::newRow("not executable") << "plain" << "plain: Permission denied";
}

void tst_JobRunner::startFailureSkipsToTheNextJob()
{
    QFETCH(QString, exe);
    QFETCH(QString, reason);
    Rig rig;
    const QString good = rig.Firefly("printf 'ran\\r\\n' > \"$out\"");
    QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(writeFile(rig.Path(QStringLiteral("plain")), "#!/bin/sh\nexit 0\n"));
    rig.settings.EXEFile = rig.Path(exe);
    QVERIFY(writeFile(rig.Path(QStringLiteral("a.out")), "result of an earlier run\r\n"));
    rig.window.memo = "earlier pane";
    rig.Queue(QStringLiteral("a.inp"));
    rig.Queue(QStringLiteral("b.inp"));
    // The user mends the settings when told; the next job then starts.
    g_onNotice = [&] { rig.settings.EXEFile = good; };

    rig.runner.RunBtnClick();

    QCOMPARE(g_notices, QStringList{"Unable to run Firefly!\n" + rig.Path(reason)});
    QCOMPARE(rig.window.done, QStringList{rig.Path("b.out")});
    QVERIFY(rig.window.jobs.isEmpty());
    QCOMPARE(rig.window.Calls({"OutLab"}), (QStringList{"OutLab Active Job: " + rig.Path("a.out"), "OutLab ",
                                                         "OutLab Active Job: " + rig.Path("b.out")}));
    QCOMPARE(rig.window.memoHistory.first(), QByteArray()); // untouched until job b started
    QCOMPARE(rig.window.memo, QByteArray("ran\n"));
    // A job that never started costs no earlier result, and leaves nothing beside it.
    QCOMPARE(readFile(rig.Path("a.out")), QByteArray("result of an earlier run\r\n"));
    QCOMPARE(QDir(rig.dir.path()).entryList({"a.out*"}, QDir::Files), QStringList{"a.out"});
}

void tst_JobRunner::outputNeverCreatedIsStillListed()
{
    Rig rig;
    rig.Firefly("exit 3");
    rig.window.memo = "earlier pane";
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();
    QCOMPARE(rig.window.done, QStringList{rig.Path("x.out")});
    QCOMPARE(rig.window.memo, QByteArray());
    QVERIFY(g_notices.isEmpty());
}

void tst_JobRunner::staleOutputIsNeverShown()
{
    Rig rig;
    rig.Firefly("sleep 0.3\nprintf 'new output\\r\\n' > \"$out\"");
    QVERIFY(writeFile(rig.Path(QStringLiteral("x.out")), "STALE OUTPUT\r\n"));
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();
    for (const QByteArray &text : std::as_const(rig.window.memoHistory))
        QVERIFY(!text.contains("STALE"));
    QCOMPARE(rig.window.memo, QByteArray("new output\n"));
    QCOMPARE(QDir(rig.dir.path()).entryList({"x.out*"}, QDir::Files), QStringList{"x.out"});
}

void tst_JobRunner::sameEntryTwice_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<bool>("writes");
    QTest::addColumn<QStringList>("done");
    QTest::newRow("policy 0") << 0 << true << QStringList{"x.out", "x.out"};
    QTest::newRow("policy 1, output written") << 1 << true << QStringList{"x_1.out", "x_2.out"};
    QTest::newRow("policy 1, no output") << 1 << false << QStringList{"x_1.out", "x_1.out"};
}

void tst_JobRunner::sameEntryTwice()
{
    QFETCH(int, policy);
    QFETCH(bool, writes);
    QFETCH(QStringList, done);
    Rig rig;
    rig.settings.OutputFormat = quint8(policy);
    rig.Firefly(writes ? "echo run >> \"$0.runs\"\nprintf 'ok\\r\\n' > \"$out\"" : "echo run >> \"$0.runs\"");
    rig.Queue(QStringLiteral("x.inp"));
    rig.Queue(QStringLiteral("x.inp"));
    rig.runner.RunBtnClick();
    for (QString &name : done)
        name = rig.Path(name);
    QCOMPARE(rig.window.done, done);
    QCOMPARE(readFile(rig.Path("firefly.runs")), QByteArray("run\nrun\n"));
}

void tst_JobRunner::queueEditedDuringARunCountsFromTheNextJob()
{
    Rig rig;
    rig.Firefly("sleep 0.5\nprintf 'ok\\r\\n' > \"$out\"");
    rig.Queue(QStringLiteral("a.inp"));
    rig.Queue(QStringLiteral("b.inp"));
    rig.Queue(QStringLiteral("c.inp"));
    rig.Queue(QStringLiteral("d.inp"), false);
    bool edited = false;
    QTimer::singleShot(200, [&] {
        // During job a: untick b, remove c, tick d, add e.
        QCOMPARE(rig.window.outLab, "Active Job: " + rig.Path("a.out"));
        rig.window.jobs[0].checked = false;
        rig.window.jobs.removeAt(1);
        rig.window.jobs[1].checked = true;
        rig.Queue(QStringLiteral("e.inp"));
        edited = true;
    });
    rig.runner.RunBtnClick();
    QVERIFY(edited);
    QCOMPARE(rig.window.done, (QStringList{rig.Path("a.out"), rig.Path("d.out"), rig.Path("e.out")}));
    QCOMPARE(rig.window.jobs.size(), 1);
    QCOMPARE(rig.window.jobs.first().path, rig.Path("b.inp"));
}

void tst_JobRunner::abortEndsFireflyAndItsHelpersAndStopsTheQueue()
{
    Rig rig;
    rig.Firefly("sleep 300 &\necho $! > \"$0.helper\"\n"
                "printf 'line 1\\r\\nline 2\\r\\nline 3\\r\\n' > \"$out\"\nwait");
    rig.Queue(QStringLiteral("a.inp"));
    rig.Queue(QStringLiteral("b.inp"));
    // Abort once the pane shows what Firefly wrote.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (rig.window.memo.contains("line 3")) {
            watcher.stop();
            rig.runner.AbortBtnClick();
        }
    });
    watcher.start(20);
    rig.runner.RunBtnClick();

    QVERIFY(!watcher.isActive());
    QCOMPARE(rig.window.memo, QByteArray("line 1\nline 2\nline 3\n"));
    QVERIFY(rig.window.done.isEmpty());
    QCOMPARE(rig.window.jobs.size(), 1); // b never taken
    QVERIFY(!rig.runner.Aborted);
    QCOMPARE(rig.window.outLab, "Active Job: " + rig.Path("a.out"));
    const qint64 helper = readFile(rig.Path("firefly.helper")).trimmed().toLongLong();
    QVERIFY(helper > 0);
    QVERIFY(processEndsWithin(helper));
    QVERIFY(rig.window.runEnabled && !rig.window.abortEnabled && rig.window.exitEnabled);
}

void tst_JobRunner::abortWhileTheSaveDialogIsOpenStartsNothing()
{
    Rig rig;
    rig.settings.OutputFormat = 2;
    rig.Firefly("touch \"$0.started\"");
    rig.Queue(QStringLiteral("a.inp"));
    rig.Queue(QStringLiteral("b.inp"));
    rig.window.saveAnswer = rig.Path("chosen.out");
    rig.window.onAsk = [&] { rig.runner.AbortBtnClick(); };
    rig.runner.RunBtnClick();
    QVERIFY(!QFile::exists(rig.Path("firefly.started")));
    QVERIFY(rig.window.done.isEmpty());
    QCOMPARE(rig.window.jobs.size(), 1);
    QVERIFY(!rig.runner.Aborted);
}

void tst_JobRunner::powerOffAfterTheRun_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("run");
    for (const bool ticked : {true, false}) {
        for (const char *run : {"finished", "aborted", "nothing ticked", "start failed"})
            QTest::addRow("%s, %s", ticked ? "ticked" : "unticked", run) << ticked << QString::fromLatin1(run);
    }
    QTest::newRow("ticked, finished, power-off refused") << true << "refused";
}

void tst_JobRunner::powerOffAfterTheRun()
{
    QFETCH(bool, ticked);
    QFETCH(QString, run);
    Rig rig;
    rig.window.powerOffChecked = ticked;
    rig.Firefly(run == QLatin1String("aborted") ? "printf 'x\\r\\n' > \"$out\"\nsleep 30" : "printf 'x\\r\\n' > \"$out\"");
    if (run == QLatin1String("start failed"))
        rig.settings.EXEFile = rig.Path("missing");
    rig.Queue(QStringLiteral("a.inp"), run != QLatin1String("nothing ticked"));
    QTimer abort;
    if (run == QLatin1String("aborted")) {
        QObject::connect(&abort, &QTimer::timeout, [&] {
            if (!rig.window.memo.isEmpty())
                rig.runner.AbortBtnClick();
        });
        abort.start(20);
    }
    // The machine goes off only after the buttons are back at rest.
    bool atRestWhenCalled = false;
    rig.powerOff.onPowerOff = [&] { atRestWhenCalled = rig.window.runEnabled && !rig.window.abortEnabled; };
    // A refusal is told with logind's reason; the machine stays on, the results stay listed.
    if (run == QLatin1String("refused"))
        rig.powerOff.refusal = QStringLiteral("Operation inhibited by \"backup\"");
    rig.runner.RunBtnClick();
    QCOMPARE(rig.powerOff.count, ticked ? 1 : 0);
    QCOMPARE(atRestWhenCalled, ticked);
    QCOMPARE(rig.window.done.size(), run == QLatin1String("finished") || run == QLatin1String("refused") ? 1 : 0);
    QCOMPARE(g_notices.filter(QStringLiteral("power")),
             run == QLatin1String("refused")
                 ? QStringList{QStringLiteral("Unable to power off the machine!\nOperation inhibited by \"backup\"")}
                 : QStringList());
}

// The runner over a backend with several jobs at once, refusals, Abort,
// Detach and jobs followed again, driven turn by turn: between two polls
// the test ends the oldest running job, or acts at the given turn.
void tst_JobRunner::backendRuns_data()
{
    QTest::addColumn<bool>("resume");      // follow x.inp and y.inp, left by a previous Nelo
    QTest::addColumn<int>("atOnce");
    QTest::addColumn<bool>("refusalStops");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("action");   // at turn 3: "detach"; at turn 1: "abort"; else none
    QTest::addColumn<QStringList>("done");
    QTest::addColumn<QStringList>("queueLeft");
    QTest::addColumn<int>("mostAtOnce");
    QTest::addColumn<int>("stillRunning");
    const QStringList none;
    QTest::newRow("three jobs, two at once") << false << 2 << true << "" << "" << QStringList{"a", "b", "c"} << none
                                             << 2 << 0;
    QTest::newRow("one at once") << false << 1 << true << "" << "" << QStringList{"a", "b", "c"} << none << 1 << 0;
    QTest::newRow("a refusal stops the run") << false << 2 << true << "b.inp" << "" << QStringList{"a"}
                                             << QStringList{"b", "c"} << 1 << 0;
    QTest::newRow("a refusal here drops the job") << false << 1 << false << "b.inp" << "" << QStringList{"a", "c"}
                                                  << none << 1 << 0;
    QTest::newRow("detach leaves the jobs going") << false << 2 << true << "" << "detach" << QStringList{"a"} << none
                                                  << 2 << 1;
    QTest::newRow("abort ends every job") << false << 2 << true << "" << "abort" << none << QStringList{"c"} << 2
                                          << 0;
    QTest::newRow("resume follows the jobs again") << true << 2 << true << "" << "" << QStringList{"x", "y"}
                                                   << QStringList{"a", "b", "c"} << 0 << 0;
}

void tst_JobRunner::backendRuns()
{
    QFETCH(bool, resume);
    QFETCH(int, atOnce);
    QFETCH(bool, refusalStops);
    QFETCH(QString, refused);
    QFETCH(QString, action);
    QFETCH(QStringList, done);
    QFETCH(QStringList, queueLeft);
    QFETCH(int, mostAtOnce);
    QFETCH(int, stillRunning);
    Rig rig;
    FakeBackend backend;
    backend.atOnce = atOnce;
    backend.refusalStops = refusalStops;
    backend.refused = QStringList{refused};
    backend.problem = QStringLiteral("Fake: the controller is down");
    for (const char *name : {"a.inp", "b.inp", "c.inp"})
        rig.Queue(QString::fromLatin1(name));
    int turn = 0;
    rig.runner.SetWait([&](int) {
        ++turn;
        if (action == QLatin1String("detach") && turn == 3)
            rig.runner.Detach();
        else if (action == QLatin1String("abort") && turn == 1)
            rig.runner.AbortBtnClick();
        else if (!backend.Running().empty())
            backend.Running().front()->ended = true;
    });
    rig.runner.SetBackendChooser([&] { return &backend; });
    if (resume) {
        std::vector<JobRunner::Adopted> jobs;
        for (const char *name : {"x", "y"})
            jobs.push_back({rig.Path(name) + ".inp", rig.Path(name) + ".out",
                            backend.Adopt(rig.Path(name) + ".inp", rig.Path(name) + ".out")});
        rig.runner.Resume(backend, std::move(jobs));
    } else {
        rig.runner.RunBtnClick();
    }

    QStringList listed;
    for (const QString &output : std::as_const(rig.window.done))
        listed << Paths::BaseName(output);
    QCOMPARE(listed, done);
    QStringList left;
    for (const FakeJobWindow::Job &job : std::as_const(rig.window.jobs)) {
        QVERIFY(job.checked);
        left << Paths::BaseName(job.path);
    }
    QCOMPARE(left, queueLeft);
    QCOMPARE(backend.mostAtOnce, mostAtOnce);
    QCOMPARE(int(backend.Running().size()), stillRunning);
    const auto killed = std::count_if(backend.runs.begin(), backend.runs.end(), [](const auto &run) { return run->killed; });
    QCOMPARE(int(killed), action == QLatin1String("abort") ? 2 : 0);
    QCOMPARE(g_notices, refused.isEmpty() ? QStringList() : QStringList{"Unable to run Firefly!\n" + backend.refusal});
    QVERIFY(rig.runner.JobsModel().Summary().endsWith(QStringLiteral(" \u2014 Fake: the controller is down")));
    QVERIFY(!rig.runner.IsRunning() && rig.window.runEnabled && !rig.window.abortEnabled);
}

// What the desktop is told of a run, wired as the main window wires it: a
// failed job at once (from the event loop, so not when the run ends with it),
// "Queue done" counting every job and naming the failed ones, not sooner than
// the gap after the one before; nothing while the setting is off.
void tst_JobRunner::notificationsOfARun_data()
{
    QTest::addColumn<QStringList>("inputs"); // a name with "fail" ends abnormally
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("toldAtOnce"); // summary, body, ...
    QTest::addColumn<QStringList>("toldLater");  // after the gap
    const QStringList failed{"Job failed: b-fail.out", "Ended abnormally\nEXECUTION OF FIREFLY TERMINATED -ABNORMALLY-"};
    const QStringList done{"Queue done: 3 jobs", "2 ended normally, 1 ended abnormally\nFailed: b-fail.out"};
    QTest::newRow("a failure during the run") << QStringList{"a.inp", "b-fail.inp", "c.inp"} << true << failed << done;
    QTest::newRow("the last job fails") << QStringList{"a.inp", "c.inp", "b-fail.inp"} << true << done << QStringList();
    QTest::newRow("switched off") << QStringList{"a.inp", "b-fail.inp", "c.inp"} << false << QStringList()
                                  << QStringList();
    QTest::newRow("nothing ran") << QStringList() << true << QStringList() << QStringList();
}

void tst_JobRunner::notificationsOfARun()
{
    QFETCH(QStringList, inputs);
    QFETCH(bool, enabled);
    QFETCH(QStringList, toldAtOnce);
    QFETCH(QStringList, toldLater);
    Rig rig;
    rig.Firefly("case \"$2\" in *fail*) end=-ABNORMALLY- ;; *) end=NORMALLY ;; esac\n"
                "printf ' EXECUTION OF FIREFLY TERMINATED %s\\r\\n' \"$end\" > \"$out\"");
    for (const QString &input : inputs)
        rig.Queue(input);
    qint64 now = 0;
    QStringList told;
    TNotifySettings notify;
    notify.NotifyWhenJobsEnd = enabled;
    RunNotifications notifications(
        notify, [&](const QString &summary, const QString &body) { told << summary << body; }, [&] { return now; });
    rig.runner.SetFinishedJobSink([&](const JobRunner::FinishedJob &job) { notifications.JobEnded(job.output, job.end); });
    rig.runner.SetRunEndSink([&] { notifications.RunEnded(); });
    rig.runner.RunBtnClick();
    QTest::qWait(10);
    QCOMPARE(told, toldAtOnce);
    now = RunNotifications::GapMs - 1;
    notifications.SendDue();
    QCOMPARE(told, toldAtOnce);
    now = RunNotifications::GapMs;
    notifications.SendDue();
    QCOMPARE(told, toldAtOnce + toldLater);
}

// Failures held within the gap go out together; each is told once; "Queue
// done" names at most five failed outputs, never an aborted one.
void tst_JobRunner::notificationsAreCoalesced()
{
    Rig rig;
    QVERIFY(writeFile(rig.Path("bad.out"), " EXECUTION OF FIREFLY TERMINATED -ABNORMALLY-\r\n"));
    qint64 now = 0;
    QStringList told;
    const TNotifySettings notify;
    RunNotifications notifications(
        notify, [&](const QString &summary, const QString &body) { told << summary + " | " + body; },
        [&] { return now; });
    notifications.JobEnded(rig.Path("bad.out"), ProcessEnd::Exited(1));
    notifications.SendDue();
    now = 1000;
    notifications.JobEnded(rig.Path("k.out"), ProcessEnd::Signalled(SIGKILL)); // no file: killed
    notifications.JobEnded(rig.Path("none.out"), ProcessEnd::Exited(0));       // no file: no output
    notifications.SendDue();
    QCOMPARE(told.size(), 1);
    now = RunNotifications::GapMs;
    notifications.SendDue();
    for (int i = 1; i <= 4; ++i)
        notifications.JobEnded(rig.Path(QStringLiteral("k%1.out").arg(i)), ProcessEnd::Signalled(SIGKILL));
    notifications.JobEnded(rig.Path("gone.out"), ProcessEnd::AbortedByUser());
    notifications.RunEnded();
    now += RunNotifications::GapMs - 1;
    notifications.SendDue();
    QCOMPARE(told.size(), 2);
    now += 1;
    notifications.SendDue();
    notifications.SendDue();
    QCOMPARE(told, (QStringList{
                       "Job failed: bad.out | Ended abnormally\nEXECUTION OF FIREFLY TERMINATED -ABNORMALLY-",
                       "2 jobs failed | 1 killed, 1 left no output\nk.out, none.out",
                       "Queue done: 8 jobs | 1 ended abnormally, 5 killed, 1 left no output, 1 aborted\n"
                       "Failed: bad.out, k.out, none.out, k1.out, k2.out and 2 more"}));
}

QTEST_GUILESS_MAIN(tst_JobRunner)
#include "tst_jobrunner.moc"
