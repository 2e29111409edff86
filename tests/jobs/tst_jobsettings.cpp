#include "jobs/DirList.h"
#include "jobs/IniFile.h"
#include "jobs/JobSettings.h"
#include "jobs/NotifySettings.h"
#include "tests/helpers/FileSizeLimit.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/SettingsChecks.h"

#include <QtTest>

#include <unistd.h>

namespace {

TJobSettings loadFrom(const QByteArray &fileBytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nelo.INI");
    if (!writeFile(path, fileBytes))
        qFatal("cannot write %s", qPrintable(path));
    TJobSettings settings;
    settings.EXEFile = "stale"; // LoadSettings must set every field
    settings.CPUcores = "stale";
    settings.AutoDir = true;
    settings.Ropt = false;
    settings.OutputFormat = 9;
    LoadSettings(settings, path);
    return settings;
}

} // namespace

class TestJobSettings : public QObject
{
    Q_OBJECT

private slots:
    void defaultsWithoutFile()
    {
        QTemporaryDir dir;
        TJobSettings settings = settingsInEveryField();
        LoadSettings(settings, dir.filePath("nelo.INI"));
        compareSettings(settings, TJobSettings());
        QVERIFY(settings.EXEFile.isEmpty() && settings.DirList.isEmpty() && !settings.AutoDir);
        QCOMPARE(settings.CPUcores, "1");
        QCOMPARE(settings.OutputFormat, 0);
        QVERIFY(settings.Ropt && settings.Fopt && settings.Popt && !settings.CopyCmdLine);
        QVERIFY(!QFile::exists(dir.filePath("nelo.INI")));
    }

    void defaultsWithoutSection()
    {
        compareSettings(loadFrom("[Other]\nEXEFile=/x\nCPUcores=8\n"), TJobSettings());
    }

    void outputFormat_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("2") << QByteArray("2") << 2;
        QTest::newRow("258 keeps low byte") << QByteArray("258") << 2;
        QTest::newRow("-1") << QByteArray("-1") << 255;
        QTest::newRow("+1") << QByteArray("+1") << 1;
        QTest::newRow("$FF") << QByteArray("$FF") << 255;
        QTest::newRow("$ff lower case") << QByteArray("$ff") << 255;
        QTest::newRow("0x10") << QByteArray("0x10") << 16;
        QTest::newRow("0X101") << QByteArray("0X101") << 1;
        QTest::newRow("-$1") << QByteArray("-$1") << 255;
        QTest::newRow("$FFFFFFFF is -1") << QByteArray("$FFFFFFFF") << 255;
        QTest::newRow("$100000001 too large") << QByteArray("$100000001") << 0;
        QTest::newRow("2147483647") << QByteArray("2147483647") << 255;
        QTest::newRow("-2147483648") << QByteArray("-2147483648") << 0;
        QTest::newRow("2147483649 too large") << QByteArray("2147483649") << 0;
        QTest::newRow("2^32+1 too large") << QByteArray("4294967297") << 0;
        QTest::newRow("leading zeros") << QByteArray("000000000000000000001") << 1;
        QTest::newRow("leading blanks kept in file") << QByteArray("\t  1") << 1;
        QTest::newRow("empty") << QByteArray("") << 0;
        QTest::newRow("sign alone") << QByteArray("-") << 0;
        QTest::newRow("$ alone") << QByteArray("$") << 0;
        QTest::newRow("0x alone") << QByteArray("0x") << 0;
        QTest::newRow("trailing letter") << QByteArray("1a") << 0;
        QTest::newRow("inner blank") << QByteArray("1 2") << 0;
        QTest::newRow("hex without prefix") << QByteArray("FF") << 0;
        QTest::newRow("decimal point") << QByteArray("1.0") << 0;
        QTest::newRow("sign after blank") << QByteArray("- 1") << 0;
    }
    void outputFormat()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        const TJobSettings settings = loadFrom("[Settings]\nOutputFormat=" + text + "\n");
        QCOMPARE(int(settings.OutputFormat), expected);
    }

    void booleans_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("AutoDir 2") << QByteArray("AutoDir") << QByteArray("2") << true;
        QTest::newRow("AutoDir -1") << QByteArray("AutoDir") << QByteArray("-1") << true;
        QTest::newRow("AutoDir $100") << QByteArray("AutoDir") << QByteArray("$100") << true;
        QTest::newRow("AutoDir true") << QByteArray("AutoDir") << QByteArray("true") << false;
        QTest::newRow("AutoDir yes") << QByteArray("AutoDir") << QByteArray("yes") << false;
        QTest::newRow("Ropt true") << QByteArray("Ropt") << QByteArray("true") << true;
        QTest::newRow("Ropt yes") << QByteArray("Ropt") << QByteArray("yes") << true;
        QTest::newRow("Ropt 0") << QByteArray("Ropt") << QByteArray("0") << false;
        QTest::newRow("Fopt 0x0") << QByteArray("Fopt") << QByteArray("0x0") << false;
        QTest::newRow("Popt empty") << QByteArray("Popt") << QByteArray("") << true;
        QTest::newRow("Popt too large") << QByteArray("Popt") << QByteArray("99999999999") << true;
        QTest::newRow("CopyCmdLine 1") << QByteArray("CopyCmdLine") << QByteArray("1") << true;
        QTest::newRow("CopyCmdLine 256") << QByteArray("CopyCmdLine") << QByteArray("256") << true;
        QTest::newRow("CopyCmdLine on") << QByteArray("CopyCmdLine") << QByteArray("on") << false;
        QTest::newRow("key case") << QByteArray("copycmdline") << QByteArray("1") << true;
    }
    void booleans()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, text);
        QFETCH(bool, expected);
        const TJobSettings s = loadFrom("[settings]\n" + key + "=" + text + "\n");
        const QByteArray lower = key.toLower();
        const bool actual = lower == "autodir" ? s.AutoDir
                          : lower == "ropt"    ? s.Ropt
                          : lower == "fopt"    ? s.Fopt
                          : lower == "popt"    ? s.Popt
                                               : s.CopyCmdLine;
        QCOMPARE(actual, expected);
    }

    void emptyTextIsNotTheDefault()
    {
        QCOMPARE(loadFrom("[Settings]\nCPUcores=\n").CPUcores, QString(""));
        QCOMPARE(loadFrom("[Settings]\nCPUcores=   \n").CPUcores, QString(""));
        QCOMPARE(loadFrom("[Settings]\nEXEFile=/x\n").CPUcores, QString("1"));
    }

    void freshFileInTableOrder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        SaveSettings(TJobSettings(), path);
        QCOMPARE(readFile(path), QByteArray("[Settings]\nEXEFile=\nDirList=\nCPUcores=1\nOutputFormat=0\n"
                                           "AddCmdLine=\nAutoDir=0\nRopt=1\nFopt=1\nPopt=1\nCopyCmdLine=0\n"
                                           "LibFile=\nTxtFile=\nMolFile=\n"));
    }

    void saveKeepsTheRestOfTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        QVERIFY(writeFile(path, "; Nelo settings\r\n"
                               "[Window]\r\nLeft=10\r\n\r\n"
                               "[SETTINGS]\r\n"
                               "exefile = /old/ff.exe\r\n"
                               "; the cores\r\n"
                               "CPUcores=2\r\n"
                               "Extra=kept\r\n"
                               "Ropt=yes\r\n"
                               "\r\n"
                               "[Tail]\r\nk=v"));
        TJobSettings s;
        s.EXEFile = "/new/ff.exe";
        s.CPUcores = "4";
        s.Ropt = false;
        s.OutputFormat = 2;
        SaveSettings(s, path);
        QCOMPARE(readFile(path), QByteArray("; Nelo settings\r\n"
                                           "[Window]\r\nLeft=10\r\n\r\n"
                                           "[SETTINGS]\r\n"
                                           "exefile = /new/ff.exe\r\n"
                                           "; the cores\r\n"
                                           "CPUcores=4\r\n"
                                           "Extra=kept\r\n"
                                           "Ropt=0\r\n"
                                           "DirList=\r\nOutputFormat=2\r\nAddCmdLine=\r\nAutoDir=0\r\n"
                                           "Fopt=1\r\nPopt=1\r\nCopyCmdLine=0\r\nLibFile=\r\nTxtFile=\r\nMolFile=\r\n"
                                           "\r\n"
                                           "[Tail]\r\nk=v"));
    }

    void saveAndLoadGiveBackEveryField()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        const TJobSettings saved = settingsInEveryField();
        SaveSettings(saved, path);
        TJobSettings loaded;
        LoadSettings(loaded, path);
        compareSettings(loaded, saved);
    }

    // "Notify when jobs end" has a section of its own, written only once it
    // differs from the default and kept from then on; an unreadable value
    // reads as the default.
    void notificationsSection()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        TNotifySettings notify;
        SaveSettings(TJobSettings(), NotifySection(notify), path);
        QVERIFY(!readFile(path).contains("Notifications"));
        notify.NotifyWhenJobsEnd = false;
        SaveSettings(TJobSettings(), NotifySection(notify), path);
        TNotifySettings back;
        LoadNotifySettings(back, IniFile::load(path));
        QVERIFY(!back.NotifyWhenJobsEnd);
        notify.NotifyWhenJobsEnd = true;
        SaveSettings(TJobSettings(), NotifySection(notify), path);
        QVERIFY(readFile(path).endsWith("[Notifications]\nNotifyWhenJobsEnd=1\n"));
        LoadNotifySettings(back, IniFile::fromBytes("[Notifications]\nNotifyWhenJobsEnd=off\n"));
        QVERIFY(back.NotifyWhenJobsEnd);
    }

    void dirListThroughTheFile_data()
    {
        QTest::addColumn<QString>("dirList");
        QTest::newRow("first and last quoted") << JoinDirList({"/scratch a/", "/b/", "/c d/"});
        QTest::newRow("quotes and control char") << JoinDirList({"/q\"q/", "\"", "/tab\there/"});
        QTest::newRow("one empty item") << JoinDirList({""});
        QTest::newRow("empty items inside") << JoinDirList({"/a", "", "", "/b c"});
        QTest::newRow("longer than 2047") << JoinDirList(QStringList(300, "/scratch/work dir/"));
    }
    void dirListThroughTheFile()
    {
        QFETCH(QString, dirList);
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        TJobSettings saved;
        saved.DirList = dirList;
        SaveSettings(saved, path);
        TJobSettings loaded;
        LoadSettings(loaded, path);
        QCOMPARE(loaded.DirList, dirList);
        QCOMPARE(SplitDirList(loaded.DirList), SplitDirList(dirList));
    }

    void lineBreakIsRefusedBeforeWriting_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("existing file") << true;
        QTest::newRow("no file") << false;
    }
    void lineBreakIsRefusedBeforeWriting()
    {
        QFETCH(bool, fileExists);
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        const QByteArray before("[Settings]\nEXEFile=/old\n");
        if (fileExists)
            QVERIFY(writeFile(path, before));
        TJobSettings s;
        s.EXEFile = "/new";
        s.MolFile = "/usr/bin/viewer\n--flag";
        try {
            SaveSettings(s, path);
            QFAIL("no error raised");
        } catch (const NeloError &error) {
            QCOMPARE(error.message(), "The setting MolFile cannot be saved: its value holds a line break");
        }
        if (fileExists)
            QCOMPARE(readFile(path), before);
        else
            QVERIFY(!QFile::exists(path));
    }

    // Each way of failing leaves the old file as it was and names the full path.
    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("read-only folder and file") << "read-only folder";
        QTest::newRow("disk full") << "file size limit";
        QTest::newRow("folder is a file") << "parent is a file";
        QTest::newRow("file is a folder") << "path is a folder";
    }
    void failedWriteKeepsOldFile()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("app dir"));
        const QString folder = dir.filePath("app dir");
        QString path = folder + "/nelo.INI";
        const QByteArray before("[Settings]\nEXEFile=/old\n[Other]\nk=v\n");
        QVERIFY(writeFile(path, before));

        QString target = path;
        if (how == "parent is a file")
            target = path + "/nelo.INI";
        else if (how == "path is a folder")
            target = folder;

        TJobSettings s;
        s.DirList = QString(10000, 'x');
        auto save = [&] {
            try {
                SaveSettings(s, target);
            } catch (const EWriteError &error) {
                return error.message();
            }
            return QString("saved");
        };

        QString message;
        if (how == "read-only folder") {
            const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner)); // else it is written in place
            // The superuser writes into read-only folders.
            if (QFile probe(folder + "/probe"); probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QFile::setPermissions(folder, writable);
                QSKIP("permissions do not stop this user; the other rows cover the failure");
            }
            message = save();
            QFile::setPermissions(folder, writable);
        } else if (how == "file size limit") {
            const FileSizeLimit limit(4096);
            message = save();
        } else {
            message = save();
        }

        QCOMPARE(message, "Unable to write to " + target);
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"nelo.INI"});
    }

    void settingsFilePath_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("settings");
        QTest::newRow("no extension") << "/usr/bin/nelo" << "/usr/bin/nelo.INI";
        QTest::newRow("extension replaced") << "/opt/Nelo.exe" << "/opt/Nelo.INI";
        QTest::newRow("last dot only") << "/opt/nelo.1.2.bin" << "/opt/nelo.1.2.INI";
        QTest::newRow("dot in folder") << "/opt/nelo.d/nelo" << "/opt/nelo.d/nelo.INI";
        QTest::newRow("trailing dot") << "/opt/nelo." << "/opt/nelo.INI";
        QTest::newRow("blanks") << "/home/a b/my nelo" << "/home/a b/my nelo.INI";
    }
    void settingsFilePath()
    {
        QFETCH(QString, executable);
        QFETCH(QString, settings);
        QCOMPARE(SettingsFilePathFor(executable), settings);
    }

    void settingsFileBesideTheRunningProgram()
    {
        QCOMPARE(SettingsFilePath(), QCoreApplication::applicationFilePath() + ".INI");
    }
};

QTEST_GUILESS_MAIN(TestJobSettings)
#include "tst_jobsettings.moc"
