// Starts the built nelo on a real X display (the suite runs on its own Xvfb, tests/xvfb-test.sh)
// with settings that point at the Firefly stand-in, and looks for its window
// in the X server's window tree. The session tests drive it only with real
// input events (xdotool) and read what it shows from its state report
// (NELO_STATE_REPORT, ui/StateReport.h).

#include "analysis/ContinuationDeck.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/RealNelo.h"
#include "tests/helpers/Samples.h"
#include "tests/helpers/Standin.h"

#include "analysis/TableExport.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <functional>

namespace {

// Names of all windows on the display, as xwininfo lists them.
QString windowTree()
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!xwininfo.waitForFinished(10000))
        return {};
    return QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
}

// Whether the tree holds a window of that title at least as large as Nelo's
// main window may be (Qt's own 1 x 1 helper windows carry the title too).
bool hasMainWindow(const QString &tree)
{
    static const QRegularExpression line(QStringLiteral("\"Nelo - Korvane\": \\([^)]*\\)\\s+(\\d+)x(\\d+)"));
    for (auto it = line.globalMatch(tree); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(1).toInt() >= 754 && match.captured(2).toInt() >= 600)
            return true;
    }
    return false;
}

// The title of the first window in the tree whose title begins with the
// given text and that carries its window class, or nothing.
QString titleStartingWith(const QString &tree, const QString &start)
{
    const QRegularExpression line(QStringLiteral("\"(%1[^\"]*)\": \\(\"").arg(QRegularExpression::escape(start)));
    return line.match(tree).captured(1);
}

} // namespace

class TestRealWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    RealNelo m_nelo{m_dir.filePath("state.json")};

private slots:
    // A skip here skips the test function about to run.
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (run under tests/xvfb-test.sh)");
        if (QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
            QSKIP("xwininfo (x11-utils) is not installed");
    }

    void cleanup() { m_nelo.Kill(); }

    void mainWindowAppears()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString settings = dir.filePath(QStringLiteral("nelo.INI"));
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=" NELO_FIREFLY_STANDIN "\nDirList="
                                        + QFile::encodeName(dir.path()) + "\nAutoDir=1\n"));
        QVERIFY(!hasMainWindow(windowTree()));

        m_nelo.Start(settings, false);
        QProcess &nelo = m_nelo.process;
        QVERIFY2(nelo.waitForStarted(10000), qPrintable(nelo.errorString()));

        // With Firefly and its folder set, no settings dialog comes first:
        // the main window shows at once.
        QTRY_VERIFY_WITH_TIMEOUT(hasMainWindow(windowTree()), 20000);
        QCOMPARE(nelo.state(), QProcess::Running);

        nelo.kill();
        nelo.waitForFinished(5000);
        // The settings file is written by Exit only.
        QFile file(settings);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("CPUcores"));
    }

    // Without Firefly set, the settings dialog opens by itself, captioned
    // exactly "Settings".
    void firstStartAsksForSettings()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        m_nelo.Start(dir.filePath(QStringLiteral("nelo.INI")), false);
        QProcess &nelo = m_nelo.process;
        QVERIFY2(nelo.waitForStarted(10000), qPrintable(nelo.errorString()));

        QString title;
        QTRY_VERIFY_WITH_TIMEOUT(!(title = titleStartingWith(windowTree(), QStringLiteral("Settings"))).isEmpty(),
                                 20000);
        nelo.kill();
        nelo.waitForFinished(5000);
        // Qt adds nothing to a dialog's caption.
        QCOMPARE(title, QStringLiteral("Settings"));
    }

    // A first session, by real input only: the settings dialog asks first and
    // is cancelled; the pickers take typed program paths as typed; a failing
    // job runs and the pane ends on its last line; Exit saves and ends Nelo.
    void sessionByRealInput()
    {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        const QString settings = m_dir.filePath("session.INI");
        const QString work = m_dir.filePath("work");
        const QString input = m_dir.filePath("ammonium fails.inp");
        QVERIFY(QDir().mkpath(work));
        QVERIFY(QFile::copy(NELO_EXAMPLES_DIR "/ammonium-fails.inp", input));
        m_nelo.Start(settings);

        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Active() == "Settings"; }, 30000));
        QVERIFY(!m_nelo.Shown("TForm1"));
        QVERIFY(m_nelo.Click("CancelBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Shown("TForm1") && !m_nelo.Shown("TSettingsDlg"); }));

        QVERIFY(m_nelo.Click("Settings"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Active() == "Settings"; }));
        QVERIFY(m_nelo.ChoosePath("EXEBtn", NELO_FIREFLY_STANDIN));
        QCOMPARE(m_nelo.Text("EXEFile"), QStringLiteral(NELO_FIREFLY_STANDIN));
        QVERIFY(m_nelo.Click("ACRadioButton"));
        QVERIFY(m_nelo.ChoosePath("DirBtn", work));
        QVERIFY(m_nelo.Key("ctrl+Tab")); // page "Other"
        QVERIFY(m_nelo.ChoosePath("TxtBtn", NELO_ARGV_RECORDER));
        QVERIFY(m_nelo.ChoosePath("MolBtn", NELO_FIREFLY_STANDIN));
        QVERIFY(m_nelo.Click("OKBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return !m_nelo.Shown("TSettingsDlg"); }));

        QVERIFY(m_nelo.ChoosePath("InputBtn", input));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("JobListBox") == QStringList{input}; }));
        QVERIFY(m_nelo.Click("RunBtn"));
        const QString output = m_dir.filePath("ammonium fails.out");
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList{output} && m_nelo.Enabled("RunBtn"); }, 30000));
        QCOMPARE(m_nelo.state["outcomes"].toObject()["DoneListBox"].toArray(), QJsonArray{"abnormal"});
        const QByteArray lastLine = readFile(output).trimmed().split('\n').last().trimmed();
        QVERIFY(lastLine.startsWith("EXECUTION OF FIREFLY TERMINATED"));
        QCOMPARE(m_nelo.state["panes"].toObject()["Memo1"].toString().trimmed(), QString::fromLatin1(lastLine));

        QVERIFY(m_nelo.Click("ExitBtn"));
        QVERIFY(m_nelo.process.waitForFinished(15000));
        QCOMPARE(m_nelo.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_nelo.process.exitCode(), 0);
        const QList<QByteArray> lines = readFile(settings).trimmed().split('\n');
        QStringList keys;
        for (const QByteArray &line : lines.mid(1))
            keys << QString::fromLatin1(line.left(line.indexOf('=')));
        QCOMPARE(keys, (QStringList{"EXEFile", "DirList", "CPUcores", "OutputFormat", "AddCmdLine", "AutoDir", "Ropt",
                                    "Fopt", "Popt", "CopyCmdLine", "LibFile", "TxtFile", "MolFile"}));
        for (const char *expected : {"EXEFile=" NELO_FIREFLY_STANDIN, "TxtFile=" NELO_ARGV_RECORDER,
                                     "MolFile=" NELO_FIREFLY_STANDIN, "AutoDir=1"})
            QVERIFY2(lines.contains(expected), expected);
        QVERIFY2(lines.contains("DirList=" + QFile::encodeName(work)), lines.join('|').constData());
    }

    // A finished output added by hand: how it ended on its entry, its
    // convergence chart from the popup menu saved as CSV, and the HOMO-LUMO
    // table saved as CSV, all through the real program. On a real
    // optimisation, and on one the stand-in writes (a clone alone has no
    // real outputs).
    void outputAnalysisByRealInput_data()
    {
        QTest::addColumn<QString>("source"); // a real output, or empty: the stand-in's
        QTest::addColumn<int>("stepCount");
        QTest::addColumn<QByteArray>("lastStep");
        QTest::newRow("real optimisation") << sampleFile("dvb_gopt_a.out") << 24 << QByteArray("23,-379.777955");
        QTest::newRow("stand-in optimisation") << QString() << 0 << QByteArray();
    }
    void outputAnalysisByRealInput()
    {
        QFETCH(QString, source);
        QFETCH(int, stepCount);
        QFETCH(QByteArray, lastStep);
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString settings = dir.filePath("analysis.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=/opt/ff\nDirList=/tmp/a\nAutoDir=1\n"));
        const QString output = dir.filePath("geometry search.out");
        if (source.isEmpty()) {
            const QByteArrayList summary = standinOutput(NELO_EXAMPLES_DIR "/water-optimise.inp", output);
            for (const QByteArray &line : summary) {
                const QByteArrayList words = line.split(' ');
                if (words.first() == "step" && words.size() > 2) {
                    ++stepCount;
                    lastStep = words.at(1) + ',' + CsvNumber(words.at(2).toDouble());
                }
            }
            QVERIFY(stepCount > 0);
        } else {
            NELO_REQUIRE_SAMPLES();
            QVERIFY(QFile::copy(source, output));
        }
        m_nelo.Start(settings, true, {"X"});

        QVERIFY(m_nelo.ChoosePath("OutputBtn", output));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList{output}; }));
        QCOMPARE(m_nelo.state["outcomes"].toObject()["DoneListBox"].toArray(), QJsonArray{"converged"});

        // The menu reads Parse, HOMO-LUMO, Convergence..., Continue from last geometry
        QVERIFY(m_nelo.PopupItemFromBottom("DoneListBox", 2));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Shown("TConvergenceForm"); }));
        const QString steps = dir.filePath("steps.csv");
        QVERIFY(m_nelo.ChoosePath("SaveCsvBtn", steps));
        QVERIFY(m_nelo.WaitFor([&] { return readFile(steps).count('\n') == stepCount + 1; }));
        QVERIFY2(readFile(steps).contains('\n' + lastStep), lastStep.constData());
        QVERIFY(m_nelo.Click("CloseBtn"));
        QVERIFY(m_nelo.WaitFor([&] { return !m_nelo.Shown("TConvergenceForm"); }));

        QVERIFY(m_nelo.PopupItemFromBottom("DoneListBox", 3));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Shown("THLDlg"); }));
        const QString table = dir.filePath("homo-lumo.csv");
        QVERIFY(m_nelo.ChoosePath("SaveCsvBtn", table));
        QVERIFY(m_nelo.WaitFor([&] { return readFile(table).count('\n') == 2; }));
        QVERIFY2(readFile(table).contains(QFile::encodeName(output)), readFile(table).constData());
    }

    // An optimisation out of steps, its output added by hand: "Continue from
    // last geometry" queues the new input ticked, and Run converges it. Then,
    // with "at most 2" set, a search of 12 steps at NSTEP=5 ends not
    // converged twice and its third run converges, each input carrying the
    // last geometry of the output before it.
    void continuationsByRealInput()
    {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        const QString work = m_dir.filePath("continued work");
        QVERIFY(QDir().mkpath(work));
        const QString settings = m_dir.filePath("continue.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=" NELO_FIREFLY_STANDIN "\nDirList=" + QFile::encodeName(work)
                                        + "\nAutoDir=1\nAddCmdLine=--standin-pace=0\n[Continue]\nMaxContinuations=2\n"));
        const QString hand = m_dir.filePath("by hand.inp"), handOutput = m_dir.filePath("by hand.out");
        QVERIFY(writeFile(hand, twelveStepSearch(8)));
        QCOMPARE(QProcess::execute(NELO_FIREFLY_STANDIN, {"-i", hand, "-o", handOutput, "--standin-pace=0", "-np", "1",
                                                           "-t", work + "/"}), 0);
        const QString chain = m_dir.filePath("chain.inp");
        QVERIFY(writeFile(chain, twelveStepSearch(5)));
        m_nelo.Start(settings);

        QVERIFY(m_nelo.ChoosePath("OutputBtn", handOutput));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == QStringList{handOutput}; }));
        QVERIFY(m_nelo.PopupItemFromBottom("DoneListBox", 1));
        const QString continued = m_dir.filePath("by hand-cont1.inp");
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("JobListBox") == QStringList{continued}; }));
        QCOMPARE(m_nelo.state["ticks"].toObject()["JobListBox"].toArray(), QJsonArray{true});
        QVERIFY(m_nelo.Click("RunBtn"));
        const auto doneAtRest = [&](const QStringList &names) {
            QStringList paths;
            for (const QString &name : names)
                paths << m_dir.filePath(name);
            return m_nelo.WaitFor([&] { return m_nelo.List("DoneListBox") == paths && m_nelo.Enabled("RunBtn"); }, 60000);
        };
        QVERIFY(doneAtRest({"by hand-cont1.out"}));
        QCOMPARE(m_nelo.state["outcomes"].toObject()["DoneListBox"].toArray(), QJsonArray{"converged"});

        QVERIFY(m_nelo.ChoosePath("InputBtn", chain));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.List("JobListBox") == QStringList{chain}; }));
        QVERIFY(m_nelo.Click("RunBtn"));
        QVERIFY(doneAtRest({"chain.out", "chain-cont1.out", "chain-cont2.out"}));
        QCOMPARE(m_nelo.state["outcomes"].toObject()["DoneListBox"].toArray(),
                 (QJsonArray{"not-converged", "not-converged", "converged"}));
        QByteArrayList last, third;
        const QByteArray before = readFile(m_dir.filePath("chain-cont1.out"));
        const auto geometry = LastUniqueGeometry({before.constData(), std::size_t(before.size())});
        QVERIFY(geometry);
        for (const PrintedAtom &atom : *geometry)
            last << atom.xyz[0] + ' ' + atom.xyz[1] + ' ' + atom.xyz[2];
        for (const QByteArray &line : readFile(m_dir.filePath("chain-cont2.inp")).split('\n'))
            if (line.startsWith(" O ") || line.startsWith(" H "))
                third << line.simplified().split(' ').mid(2).join(' ');
        QCOMPARE(third, last);
        QCOMPARE(third.size(), 3);
    }

    // Tab, pressed, walks the settings dialog's first page in its order, a
    // group of radio buttons being one stop on its selected button.
    void settingsTabOrderByKeys()
    {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        const QString settings = m_dir.filePath("tabs.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=/opt/ff\nDirList=/tmp/a\nAutoDir=1\nOutputFormat=1\n"));
        m_nelo.Start(settings);
        QVERIFY(m_nelo.Click("Settings"));
        QVERIFY(m_nelo.WaitFor([&] { return m_nelo.Active() == "Settings"; }));
        QVERIFY(m_nelo.Click("InstancesEdit"));
        const QStringList order{"InstancesEdit", "InstancesUpDown", "OFNumberedItem", "EXEFile", "EXEBtn",
                                "CmdOptEdit", "DirListBox", "ACRadioButton", "DirBtn", "AddBtn", "RemoveBtn",
                                "AutoDirEdit", "LibFile", "LibBtn", "RoptCheckBox", "FoptCheckBox", "PoptCheckBox"};
        QStringList visited;
        for (int i = 0; i < order.size(); ++i) {
            if (i > 0)
                QVERIFY(m_nelo.Key("Tab"));
            m_nelo.Settle();
            visited << m_nelo.Focus();
        }
        QCOMPARE(visited, order);
    }
};

QTEST_GUILESS_MAIN(TestRealWindow)
#include "tst_realwindow.moc"
