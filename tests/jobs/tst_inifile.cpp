#include "jobs/IniFile.h"

#include <QtTest>

#include <optional>

// A missing key is written as "<missing>" in the tables.
static const QByteArray Missing = QByteArrayLiteral("<missing>");

class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void untouchedFileKeepsItsBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("LF") << QByteArray("[Settings]\nEXEFile=/opt/ff\n");
        QTest::newRow("CR LF") << QByteArray("[Settings]\r\nEXEFile=/opt/ff\r\n");
        QTest::newRow("lone CR") << QByteArray("[Settings]\rEXEFile=x\r");
        QTest::newRow("mixed, no final line end") << QByteArray("; top\r\n\n[A]\r\nk = v \t\n\n[B]\rx");
        QTest::newRow("odd lines") << QByteArray("garbage\n[unclosed\n  ;c=1\n#d=2\n=novalue\n\n\n");
        static const char withNul[] = "[S]\nk=\xe9\xff\0z\n";
        QTest::newRow("high bytes and NUL") << QByteArray(withNul, sizeof withNul - 1);
    }
    void untouchedFileKeepsItsBytes()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(IniFile::fromBytes(bytes).toBytes(), bytes);
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");

        const QByteArray plain("[Settings]\nEXEFile=/opt/ff/ff.exe\nCPUcores=\n");
        QTest::newRow("plain") << plain << QByteArray("Settings") << QByteArray("EXEFile") << QByteArray("/opt/ff/ff.exe");
        QTest::newRow("empty value is present") << plain << QByteArray("Settings") << QByteArray("CPUcores") << QByteArray();
        QTest::newRow("missing key") << plain << QByteArray("Settings") << QByteArray("DirList") << Missing;
        QTest::newRow("missing section") << plain << QByteArray("Other") << QByteArray("EXEFile") << Missing;
        QTest::newRow("section case") << plain << QByteArray("SETTINGS") << QByteArray("EXEFile") << QByteArray("/opt/ff/ff.exe");
        QTest::newRow("key case") << plain << QByteArray("Settings") << QByteArray("exefile") << QByteArray("/opt/ff/ff.exe");
        QTest::newRow("blanks and tabs trimmed")
            << QByteArray("  [ settings ]  \n\t cpuCores \t=  \t 4 2 \t \n") << QByteArray("Settings")
            << QByteArray("CPUcores") << QByteArray("4 2");
        QTest::newRow("CR LF not in value") << QByteArray("[Settings]\r\nCPUcores=4\r\n") << QByteArray("Settings")
                                            << QByteArray("CPUcores") << QByteArray("4");
        QTest::newRow("quotes kept") << QByteArray("[Settings]\nDirList=\"/a b\" c \"\"\n") << QByteArray("Settings")
                                     << QByteArray("DirList") << QByteArray("\"/a b\" c \"\"");
        QTest::newRow("first equals splits") << QByteArray("[S]\nAddCmdLine=-x=1 = 2\n") << QByteArray("S")
                                             << QByteArray("AddCmdLine") << QByteArray("-x=1 = 2");
        QTest::newRow("first duplicate wins") << QByteArray("[S]\nk=1\nK=2\n") << QByteArray("S") << QByteArray("k")
                                              << QByteArray("1");
        QTest::newRow("duplicate section seen")
            << QByteArray("[S]\na=1\n[T]\nk=t\n[s]\nk=2\n") << QByteArray("S") << QByteArray("k") << QByteArray("2");
        QTest::newRow("other section's key") << QByteArray("[T]\nk=1\n[S]\nj=2\n") << QByteArray("S") << QByteArray("k")
                                             << Missing;
        QTest::newRow("key before any section") << QByteArray("k=1\n[S]\n") << QByteArray("S") << QByteArray("k")
                                                << Missing;
        QTest::newRow("comment is no key") << QByteArray("[S]\n;k=1\n # k=2\n") << QByteArray("S") << QByteArray("k")
                                           << Missing;
        QTest::newRow("unclosed bracket is no section")
            << QByteArray("[S]\n[T\nk=1\n") << QByteArray("S") << QByteArray("k") << QByteArray("1");
        QTest::newRow("no final line end") << QByteArray("[S]\nk= v") << QByteArray("S") << QByteArray("k")
                                           << QByteArray("v");
        const QByteArray longValue(5000, 'd');
        QTest::newRow("long value") << QByteArray("[S]\nk=" + longValue + "\n") << QByteArray("S") << QByteArray("k")
                                    << longValue;
    }
    void reading()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        const std::optional<QByteArray> read = IniFile::fromBytes(file).value(section, key);
        QCOMPARE(read.value_or(Missing), value);
    }

    void writing_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("new file") << QByteArray() << QByteArray("EXEFile") << QByteArray("/x")
                                  << QByteArray("[Settings]\nEXEFile=/x\n");
        QTest::newRow("replaced in place, spelling and blanks kept")
            << QByteArray("[settings]\n  exefile = /old  \nCPUcores=1\n") << QByteArray("EXEFile")
            << QByteArray("/new") << QByteArray("[settings]\n  exefile = /new\nCPUcores=1\n");
        QTest::newRow("empty value") << QByteArray("[Settings]\nk=1\n") << QByteArray("k") << QByteArray()
                                     << QByteArray("[Settings]\nk=\n");
        QTest::newRow("appended after the section's last key")
            << QByteArray("; top\n[Settings]\na=1\n; about b\nb=2\n\n; next\n[Other]\nk=3\n") << QByteArray("k")
            << QByteArray("v") << QByteArray("; top\n[Settings]\na=1\n; about b\nb=2\nk=v\n\n; next\n[Other]\nk=3\n");
        QTest::newRow("section without keys")
            << QByteArray("[Settings]\n\n[Other]\n") << QByteArray("k") << QByteArray("v")
            << QByteArray("[Settings]\nk=v\n\n[Other]\n");
        QTest::newRow("section added at the end")
            << QByteArray("[Other]\nk=1") << QByteArray("k") << QByteArray("2")
            << QByteArray("[Other]\nk=1\n[Settings]\nk=2\n");
        QTest::newRow("line end of the file") << QByteArray("[Settings]\r\na=1") << QByteArray("k")
                                              << QByteArray("v") << QByteArray("[Settings]\r\na=1\r\nk=v\r\n");
        QTest::newRow("first duplicate replaced") << QByteArray("[Settings]\nk=1\nk=2\n") << QByteArray("K")
                                                  << QByteArray("3") << QByteArray("[Settings]\nk=3\nk=2\n");
        QTest::newRow("duplicate section: first gets new key")
            << QByteArray("[Settings]\na=1\n[Settings]\nb=2\n") << QByteArray("k") << QByteArray("v")
            << QByteArray("[Settings]\na=1\nk=v\n[Settings]\nb=2\n");
        QTest::newRow("leading blanks and quotes stored as given")
            << QByteArray() << QByteArray("k") << QByteArray(" \"a b\" ")
            << QByteArray("[Settings]\nk= \"a b\" \n");
    }
    void writing()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        IniFile file = IniFile::fromBytes(before);
        file.setValue("Settings", key, value);
        QCOMPARE(file.toBytes(), after);
        // What was written reads back, less blanks at the ends.
        QCOMPARE(IniFile::fromBytes(file.toBytes()).value("Settings", key), value.trimmed());
    }

    void refusesWhatCannotReadBack_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("LF in value") << QByteArray("Settings") << QByteArray("AddCmdLine") << QByteArray("-a\n-b")
                                     << "The setting AddCmdLine cannot be saved: its value holds a line break";
        QTest::newRow("CR in value") << QByteArray("Settings") << QByteArray("DirList") << QByteArray("/a\r")
                                     << "The setting DirList cannot be saved: its value holds a line break";
        QTest::newRow("equals in key") << QByteArray("Settings") << QByteArray("a=b") << QByteArray()
                                       << "'a=b' cannot be used as a key name in an INI file";
        QTest::newRow("comment key") << QByteArray("Settings") << QByteArray(";k") << QByteArray()
                                     << "';k' cannot be used as a key name in an INI file";
        QTest::newRow("section key") << QByteArray("Settings") << QByteArray("[k]") << QByteArray()
                                     << "'[k]' cannot be used as a key name in an INI file";
        QTest::newRow("empty key") << QByteArray("Settings") << QByteArray() << QByteArray()
                                   << "'' cannot be used as a key name in an INI file";
        QTest::newRow("bracket in section") << QByteArray("a]b") << QByteArray("k") << QByteArray()
                                            << "'a]b' cannot be used as a section name in an INI file";
    }
    void refusesWhatCannotReadBack()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, message);
        const QByteArray before("[Settings]\nAddCmdLine=-old\n");
        IniFile file = IniFile::fromBytes(before);
        try {
            file.setValue(section, key, value);
            QFAIL("no error raised");
        } catch (const EIniValueError &error) {
            QCOMPARE(error.message(), message);
        }
        QCOMPARE(file.toBytes(), before);
    }

    void loadAndSave()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("a b/nelo.INI");
        QVERIFY(QDir(dir.path()).mkdir("a b"));

        IniFile::LoadResult result;
        IniFile file = IniFile::load(path, &result);
        QCOMPARE(result, IniFile::LoadResult::Missing);
        file.setValue("Settings", "k", "v");
        file.save(path);
        IniFile reread = IniFile::load(path, &result);
        QCOMPARE(result, IniFile::LoadResult::Loaded);
        QCOMPARE(reread.toBytes(), QByteArray("[Settings]\nk=v\n"));
        // Only the file itself is left in the folder.
        QCOMPARE(QDir(dir.filePath("a b")).entryList(QDir::Files | QDir::Hidden), QStringList{"nelo.INI"});
    }

    void aFolderIsNoFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        IniFile::LoadResult result;
        IniFile::load(dir.path(), &result);
        QCOMPARE(result, IniFile::LoadResult::Unreadable);
        QVERIFY_THROWS_EXCEPTION(EWriteError, IniFile().save(dir.path()));
        QVERIFY(QFileInfo(dir.path()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
