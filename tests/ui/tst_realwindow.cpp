// Starts the built nelo on a real X display (the suite runs on its own Xvfb, tests/xvfb-test.sh)
// with settings that point at the Firefly stand-in, and looks for its window
// in the X server's window tree. The session tests drive it only with real
// input events (xdotool) and read what it shows from its state report
// (NELO_STATE_REPORT, ui/StateReport.h).

#include "tests/helpers/Files.h"

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

// Starts the built nelo on the X display, with that settings file (and that
// state report, when one is named).
void startNelo(QProcess &nelo, const QString &settingsFile, const QString &report = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("NELO_SETTINGS_FILE"), settingsFile);
    if (!report.isEmpty())
        environment.insert(QStringLiteral("NELO_STATE_REPORT"), report);
    nelo.setProcessEnvironment(environment);
    nelo.setProcessChannelMode(QProcess::ForwardedChannels);
    nelo.start(QStringLiteral(NELO_BINARY), {});
}

// Real input: keys, typed text and mouse clicks through the X server.
bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

} // namespace

class TestRealWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_nelo;
    QJsonObject m_state; // the last state report read

    QString reportPath() const { return m_dir.filePath("state.json"); }

    // Reads the report until `holds` is true for it; false after `ms`.
    bool waitFor(const std::function<bool()> &holds, int ms = 15000)
    {
        return QTest::qWaitFor([&] {
            m_state = QJsonDocument::fromJson(readFile(reportPath())).object();
            return holds();
        }, ms);
    }
    // Waits for reports written after the input sent so far has been handled.
    void settle()
    {
        const qint64 count = m_state["count"].toInteger();
        waitFor([&] { return m_state["count"].toInteger() > count + 3; });
    }
    QJsonObject control(const QString &name) const { return m_state["controls"][name].toObject(); }
    QString text(const QString &name) const { return control(name)["text"].toString(); }
    bool enabled(const QString &name) const { return control(name)["enabled"].toBool(); }
    QString focus() const { return m_state["focus"].toString(); }
    QString active() const { return m_state["active"].toString(); }
    QStringList list(const QString &name) const
    {
        QStringList entries;
        for (const QJsonValue &entry : m_state["lists"][name].toArray())
            entries << entry.toString();
        return entries;
    }
    bool shown(const QString &className) const
    {
        for (const QJsonValue &window : m_state["windows"].toArray()) {
            if (window["class"].toString() == className)
                return true;
        }
        return false;
    }

    // A click in the middle of a control, once it is shown and enabled.
    bool click(const QString &name)
    {
        if (!waitFor([&] { return enabled(name); }))
            return false;
        const QJsonObject place = control(name);
        const int x = place["x"].toInt() + place["w"].toInt() / 2;
        const int y = place["y"].toInt() + place["h"].toInt() / 2;
        return xdotool({"mousemove", "--sync", QString::number(x), QString::number(y), "click", "1"});
    }
    bool key(const QString &keys) { return xdotool({"key", keys}); }
    // Types a path into the file dialog that a click opened and presses
    // Enter: true when the dialog took it and closed.
    bool choosePath(const QString &button, const QString &path)
    {
        if (!click(button) || !waitFor([&] { return focus() == "fileNameEdit"; }))
            return false;
        // A busy machine can lose a typed key: then the field is typed anew.
        const auto typed = [&] { return text("fileNameEdit") == path; };
        for (int attempt = 0; attempt < 3 && !typed(); ++attempt) {
            key("ctrl+a");
            xdotool({"type", "--delay", "5", path});
            waitFor(typed, 5000);
        }
        return typed() && key("Return") && waitFor([&] { return !shown("QFileDialog"); }, 5000);
    }

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

    void cleanup()
    {
        m_nelo.kill();
        m_nelo.waitForFinished(5000);
        QFile::remove(reportPath());
    }

    void mainWindowAppears()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString settings = dir.filePath(QStringLiteral("nelo.INI"));
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=" NELO_FIREFLY_STANDIN "\nDirList="
                                        + QFile::encodeName(dir.path()) + "\nAutoDir=1\n"));
        QVERIFY(!hasMainWindow(windowTree()));

        QProcess nelo;
        startNelo(nelo, settings);
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
        QProcess nelo;
        startNelo(nelo, dir.filePath(QStringLiteral("nelo.INI")));
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
        startNelo(m_nelo, settings, reportPath());

        QVERIFY(waitFor([&] { return active() == "Settings"; }, 30000));
        QVERIFY(!shown("TForm1"));
        QVERIFY(click("CancelBtn"));
        QVERIFY(waitFor([&] { return shown("TForm1") && !shown("TSettingsDlg"); }));

        QVERIFY(click("Settings"));
        QVERIFY(waitFor([&] { return active() == "Settings"; }));
        QVERIFY(choosePath("EXEBtn", NELO_FIREFLY_STANDIN));
        QCOMPARE(text("EXEFile"), QStringLiteral(NELO_FIREFLY_STANDIN));
        QVERIFY(click("ACRadioButton"));
        QVERIFY(choosePath("DirBtn", work));
        QVERIFY(key("ctrl+Tab")); // page "Other"
        QVERIFY(choosePath("TxtBtn", NELO_ARGV_RECORDER));
        QVERIFY(choosePath("MolBtn", NELO_FIREFLY_STANDIN));
        QVERIFY(click("OKBtn"));
        QVERIFY(waitFor([&] { return !shown("TSettingsDlg"); }));

        QVERIFY(choosePath("InputBtn", input));
        QVERIFY(waitFor([&] { return list("JobListBox") == QStringList{input}; }));
        QVERIFY(click("RunBtn"));
        const QString output = m_dir.filePath("ammonium fails.out");
        QVERIFY(waitFor([&] { return list("DoneListBox") == QStringList{output} && enabled("RunBtn"); }, 30000));
        QCOMPARE(m_state["outcomes"].toObject()["DoneListBox"].toArray(), QJsonArray{"abnormal"});
        const QByteArray lastLine = readFile(output).trimmed().split('\n').last().trimmed();
        QVERIFY(lastLine.startsWith("EXECUTION OF FIREFLY TERMINATED"));
        QCOMPARE(m_state["panes"].toObject()["Memo1"].toString().trimmed(), QString::fromLatin1(lastLine));

        QVERIFY(click("ExitBtn"));
        QVERIFY(m_nelo.waitForFinished(15000));
        QCOMPARE(m_nelo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_nelo.exitCode(), 0);
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

    // Tab, pressed, walks the settings dialog's first page in its order, a
    // group of radio buttons being one stop on its selected button.
    void settingsTabOrderByKeys()
    {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("xdotool is not installed");
        const QString settings = m_dir.filePath("tabs.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=/opt/ff\nDirList=/tmp/a\nAutoDir=1\nOutputFormat=1\n"));
        startNelo(m_nelo, settings, reportPath());
        QVERIFY(click("Settings"));
        QVERIFY(waitFor([&] { return active() == "Settings"; }));
        QVERIFY(click("InstancesEdit"));
        const QStringList order{"InstancesEdit", "InstancesUpDown", "OFNumberedItem", "EXEFile", "EXEBtn",
                                "CmdOptEdit", "DirListBox", "ACRadioButton", "DirBtn", "AddBtn", "RemoveBtn",
                                "AutoDirEdit", "LibFile", "LibBtn", "RoptCheckBox", "FoptCheckBox", "PoptCheckBox"};
        QStringList visited;
        for (int i = 0; i < order.size(); ++i) {
            if (i > 0)
                QVERIFY(key("Tab"));
            settle();
            visited << focus();
        }
        QCOMPARE(visited, order);
    }
};

QTEST_GUILESS_MAIN(TestRealWindow)
#include "tst_realwindow.moc"
