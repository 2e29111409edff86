#include "jobs/CommandLine.h"
#include "jobs/DirList.h"
#include "tests/helpers/ArgvRecord.h"

#include <QProcess>
#include <QtTest>

namespace {

class RecordingClipboard : public IClipboard
{
public:
    void SetText(const QString &text) override { texts.append(text); }
    QStringList texts;
};

TJobSettings baseSettings()
{
    TJobSettings s;
    s.EXEFile = "/opt/fire fly/ff.exe";
    s.CPUcores = "4";
    s.DirList = "/w1 \"/w 2\"";
    return s;
}

const QString In = "/jobs/water 1.inp";
const QString Out = "/jobs/water 1.out";

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private:
    // Each row: settings, the exact text, and the argument list of the same content.
    void addColumns()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("lib");
        QTest::addColumn<QString>("switches"); // letters f, r, p that are set
        QTest::addColumn<QString>("add");
        QTest::addColumn<QString>("cores");
        QTest::addColumn<bool>("autoDir");
        QTest::addColumn<QString>("dirList");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("arguments");
    }
    void addRows()
    {
        const QString exe = "/opt/fire fly/ff.exe";
        const QStringList io{"-i", In, "-o", Out, "-b"};
        QTest::newRow("defaults, list mode")
            << exe << "" << "frp" << "" << "4" << false << "/w1 \"/w 2\""
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\" -f -r -p  -np 4 /w1 \"/w 2\""
            << io + QStringList{"", "-f", "-r", "-p", "-np", "4", "/w1", "/w 2"};
        QTest::newRow("auto mode, library, extra options, no switches")
            << exe << "/lib/my basis.lib" << "" << "-ex \"a b\" -v" << "16" << true << "/scratch/ff"
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"/lib/my basis.lib\" -ex \"a b\" -v -np 16 -t \"/scratch/ff/\""
            << io + QStringList{"/lib/my basis.lib", "-ex", "a b", "-v", "-np", "16", "-t", "/scratch/ff/"};
        QTest::newRow("only -r")
            << exe << "" << "r" << "" << "1" << true << "/s"
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\" -r  -np 1 -t \"/s/\""
            << io + QStringList{"", "-r", "-np", "1", "-t", "/s/"};
        QTest::newRow("auto folder ending in a separator")
            << exe << "" << "p" << "" << "2" << true << "D:\\scratch\\"
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\" -p  -np 2 -t \"D:\\scratch\\/\""
            << io + QStringList{"", "-p", "-np", "2", "-t", "D:\\scratch\\/"};
        QTest::newRow("empty list leaves a trailing blank")
            << exe << "" << "f" << "" << "8" << false << ""
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\" -f  -np 8 "
            << io + QStringList{"", "-f", "-np", "8"};
        QTest::newRow("empty core count passed as it is")
            << exe << "" << "" << "" << "" << false << "/w"
            << "/opt/fire fly/ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\"  -np  /w"
            << io + QStringList{"", "-np", "", "/w"};
        QTest::newRow("no folder in the executable")
            << "ff.exe" << "" << "" << "  -x  " << "3" << false << "\"\""
            << "ff.exe -i \"/jobs/water 1.inp\" -o \"/jobs/water 1.out\" -b \"\"   -x   -np 3 \"\""
            << io + QStringList{"", "-x", "-np", "3", ""};
    }
    static TJobSettings settingsFromRow()
    {
        QFETCH(QString, exe);
        QFETCH(QString, lib);
        QFETCH(QString, switches);
        QFETCH(QString, add);
        QFETCH(QString, cores);
        QFETCH(bool, autoDir);
        QFETCH(QString, dirList);
        TJobSettings s;
        s.EXEFile = exe;
        s.LibFile = lib;
        s.Fopt = switches.contains('f');
        s.Ropt = switches.contains('r');
        s.Popt = switches.contains('p');
        s.AddCmdLine = add;
        s.CPUcores = cores;
        s.AutoDir = autoDir;
        s.DirList = dirList;
        return s;
    }

private slots:
    void text_data()
    {
        addColumns();
        addRows();
    }
    void text()
    {
        QFETCH(QString, text);
        QCOMPARE(BuildCommandLine(settingsFromRow(), In, Out), text);
    }

    void invocation_data()
    {
        addColumns();
        addRows();
    }
    void invocation()
    {
        QFETCH(QString, exe);
        QFETCH(QStringList, arguments);
        const FireflyInvocation invocation = BuildInvocation(settingsFromRow(), In, Out);
        QCOMPARE(invocation.program, exe);
        QCOMPARE(invocation.arguments, arguments);
        QCOMPARE(invocation.workingDirectory, exe == "ff.exe" ? QString() : QString("/opt/fire fly/"));
    }

    void clipboardOnlyWhenAsked()
    {
        TJobSettings s = baseSettings();
        RecordingClipboard clipboard;
        const QString quiet = BuildCommandLine(s, In, Out, clipboard);
        QVERIFY(clipboard.texts.isEmpty());
        s.CopyCmdLine = true;
        const QString copied = BuildCommandLine(s, In, Out, clipboard);
        QCOMPARE(copied, quiet);
        QCOMPARE(clipboard.texts, QStringList{BuildCommandLine(s, In, Out)});
    }

    // The program gets every path byte for byte: nothing passes through a shell.
    void noShell()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.filePath("fire fly $(touch x) \"q\"; *");
        QVERIFY(QDir().mkpath(folder));
        const QString exe = folder + "/ff $HOME.exe";
        QVERIFY(QFile::copy(NELO_ARGV_RECORDER, exe));
        QVERIFY(QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        TJobSettings s;
        s.EXEFile = exe;
        s.LibFile = dir.filePath("lib `id`.lib");
        s.AddCmdLine = "-opt \"$(echo hi) \"\"x\"\"\" ; * 'a b'";
        s.CPUcores = "2";
        const QStringList dirs{dir.filePath("w 1;"), dir.filePath("w\"2\" $PATH"), dir.filePath("w*")};
        s.DirList = JoinDirList(dirs);
        const QString input = dir.filePath("in $(touch pwned) \"q\"; rm *.inp");
        const QString output = dir.filePath("out & | > x.out");

        const FireflyInvocation invocation = BuildInvocation(s, input, output);
        const QString recordPath = dir.filePath("record");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NELO_ARGV_RECORD", recordPath);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(invocation.workingDirectory);
        process.start(invocation.program, invocation.arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);

        const ArgvRecord record = ArgvRecord::read(recordPath);
        QVERIFY(record.valid);
        QCOMPARE(record.workingDirectory, QFile::encodeName(folder));
        const QStringList expected = QStringList{"-i", input, "-o", output, "-b", s.LibFile, "-f", "-r", "-p",
                                                 "-opt", "$(echo hi) \"x\"", ";", "*", "'a", "b'", "-np", "2"}
                                   + dirs;
        QList<QByteArray> expectedBytes{QFile::encodeName(exe)};
        for (const QString &argument : expected)
            expectedBytes.append(QFile::encodeName(argument));
        QCOMPARE(record.args, expectedBytes);
        QVERIFY(!QFile::exists(dir.filePath("pwned")) && !QFile::exists(folder + "/x"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
