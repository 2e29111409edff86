// Starts the built nelo on a real X display (the suite runs under xvfb-run)
// with settings that point at the Firefly stand-in, and looks for its window
// in the X server's window tree.

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

} // namespace

class TestRealWindow : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowAppears()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (run under xvfb-run)");
        if (QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
            QSKIP("xwininfo (x11-utils) is not installed");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString settings = dir.filePath(QStringLiteral("nelo.INI"));
        {
            QFile file(settings);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Settings]\nEXEFile=" NELO_FIREFLY_STANDIN "\nDirList=");
            file.write(QFile::encodeName(dir.path()));
            file.write("\nAutoDir=1\n");
        }
        QVERIFY(!hasMainWindow(windowTree()));

        QProcess nelo;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("NELO_SETTINGS_FILE"), settings);
        nelo.setProcessEnvironment(environment);
        nelo.setProcessChannelMode(QProcess::ForwardedChannels);
        nelo.start(QStringLiteral(NELO_BINARY), {});
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
};

QTEST_GUILESS_MAIN(TestRealWindow)
#include "tst_realwindow.moc"
