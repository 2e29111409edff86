// Starts the built nelo on a real X display (the suite runs on its own Xvfb, tests/xvfb-test.sh)
// with settings that point at the Firefly stand-in, and looks for its window
// in the X server's window tree.

#include "tests/helpers/Files.h"

#include <QtTest>

#include <QProcess>
#include <QRegularExpression>

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

// Starts the built nelo on the X display, with that settings file.
void startNelo(QProcess &nelo, const QString &settingsFile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("NELO_SETTINGS_FILE"), settingsFile);
    nelo.setProcessEnvironment(environment);
    nelo.setProcessChannelMode(QProcess::ForwardedChannels);
    nelo.start(QStringLiteral(NELO_BINARY), {});
}

} // namespace

class TestRealWindow : public QObject
{
    Q_OBJECT

private slots:
    // A skip here skips the test function about to run.
    void init()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (run under tests/xvfb-test.sh)");
        if (QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
            QSKIP("xwininfo (x11-utils) is not installed");
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
};

QTEST_GUILESS_MAIN(TestRealWindow)
#include "tst_realwindow.moc"
