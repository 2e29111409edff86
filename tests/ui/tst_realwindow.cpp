// Starts the built nelo on a real X display (the suite runs under xvfb-run)
// with settings that point at the Firefly stand-in, and looks for its window
// in the X server's window tree.

#include <QtTest>

#include <QProcess>

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
        QVERIFY(!windowTree().contains(QStringLiteral("\"Nelo - Korvane\"")));

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
        QTRY_VERIFY_WITH_TIMEOUT(windowTree().contains(QStringLiteral("\"Nelo - Korvane\"")), 20000);
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
