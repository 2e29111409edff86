// Settings files that are not what they should be: a folder, a file that
// cannot be read, binary garbage, a file of many megabytes. Loading never
// fails (the defaults stand in for what cannot be read); saving either
// refuses with "Unable to write to <path>" and leaves everything as it was, or
// writes the thirteen keys and keeps every other byte of the file.

#include "jobs/IniFile.h"
#include "jobs/JobSettings.h"
#include "platform/Errors.h"
#include "tests/helpers/FileSizeLimit.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/SettingsChecks.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

QString saveMessage(const TJobSettings &settings, const QString &path)
{
    try {
        SaveSettings(settings, path);
    } catch (const EWriteError &error) {
        return ErrorReportText(error.message());
    }
    return QStringLiteral("saved");
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Garbage: random bytes with NULs, line breaks, and the section and key names
// scattered through it, so that parts of it look like settings.
QByteArray garbage(quint32 seed, qsizetype size)
{
    QRandomGenerator random(seed);
    static const QByteArray pieces[] = {"[Settings]", "EXEFile=", "CPUcores=", "\r\n", "\n", "\r", "=", "[", "]",
                                        QByteArray(1, '\0'), ";", "\xff\xfe", "OutputFormat=$"};
    QByteArray bytes(size, '\0');
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qsizetype at = 0; at < size; at += 1 + random.bounded(64)) {
        const QByteArray &piece = pieces[random.bounded(int(std::size(pieces)))];
        bytes.replace(at, std::min(piece.size(), size - at), piece.first(std::min(piece.size(), size - at)));
    }
    return bytes;
}

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT

private slots:
    // The settings path names a folder (with something in it): the defaults
    // are used; Exit's save refuses with the path and the folder is untouched.
    void settingsFileIsAFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        QVERIFY(QDir().mkdir(path));
        QVERIFY(writeFile(path + "/keep.txt", "keep"));

        TJobSettings loaded = settingsInEveryField();
        LoadSettings(loaded, path);
        compareSettings(loaded, TJobSettings());

        QCOMPARE(saveMessage(settingsInEveryField(), path), "Unable to write to " + path + ".");
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(entries(path), QStringList{"keep.txt"});
        QCOMPARE(readFile(path + "/keep.txt"), QByteArray("keep"));
        QCOMPARE(entries(dir.path()), QStringList{"nelo.INI"});
    }

    // A settings file that cannot be read: the defaults are used, and the
    // save refuses rather than write over sections it could not read.
    // Permissions do not stop the superuser, so a second way makes every read
    // fail whoever runs the tests: the settings path is a link to
    // /proc/self/mem, which opens but answers the first read with an I/O error.
    void settingsFileUnreadable_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("no read permission") << "permission";
        QTest::newRow("read fails (I/O error)") << "io error";
    }
    void settingsFileUnreadable()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        const QByteArray before("[Settings]\r\nEXEFile=/opt/ff\r\n[Mine]\r\nkeep=1\r\n");
        if (how == "permission") {
            QVERIFY(writeFile(path, before));
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
            if (QFile probe(path); probe.open(QIODevice::ReadOnly))
                QSKIP("permissions do not stop this user from reading; the I/O error row covers it");
        } else {
            QVERIFY(QFile::link("/proc/self/mem", path));
        }

        TJobSettings loaded = settingsInEveryField();
        LoadSettings(loaded, path);
        compareSettings(loaded, TJobSettings());

        QCOMPARE(saveMessage(settingsInEveryField(), path), "Unable to write to " + path + ".");
        if (how == "permission") {
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
            QCOMPARE(readFile(path), before);
        } else {
            QCOMPARE(QFileInfo(path).symLinkTarget(), QString("/proc/self/mem"));
        }
        QCOMPARE(entries(dir.path()), QStringList{"nelo.INI"});
    }

    // A folder that takes no new file, with a settings file that can be
    // written (an administrator's install folder with the user's nelo.INI):
    // Exit's save writes the file in place, keeps the other sections and
    // leaves nothing beside it. Folder permissions do not stop the superuser;
    // a name so long that no temporary name fits beside it stops everyone.
    void folderTakingNoNewFileIsWrittenInPlace_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("read-only folder") << "nelo.INI";
        QTest::newRow("no room for a temporary name") << QString(251, 'n') + ".INI";
    }
    void folderTakingNoNewFileIsWrittenInPlace()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("app");
        const QString path = folder + '/' + name;
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(writeFile(path, "[Settings]\r\nEXEFile=/old\r\n[Mine]\r\nkeep=1\r\n"));
        const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        const auto restore = qScopeGuard([&] { QFile::setPermissions(folder, writable); });
        if (name == "nelo.INI" && ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
            QSKIP("permissions do not stop this user; the long name covers the superuser");

        const TJobSettings saved = settingsInEveryField();
        QCOMPARE(saveMessage(saved, path), QString("saved"));
        TJobSettings again;
        LoadSettings(again, path);
        compareSettings(again, saved);
        QVERIFY(readFile(path).contains("[Mine]\r\nkeep=1\r\n"));
        QCOMPARE(entries(folder), QStringList{name});
    }

    // Written in place on a full disk: a file that would grow past the room
    // left keeps its old bytes and size; one that grows within the room or
    // shrinks is written and cut to its new size.
    void inPlaceOnAFullDisk_data()
    {
        QTest::addColumn<int>("oldSize");
        QTest::addColumn<int>("newSize");
        QTest::addColumn<bool>("written");
        QTest::newRow("grows past the room left") << 1000 << 9000 << false;
        QTest::newRow("grows within the room") << 1000 << 3000 << true;
        QTest::newRow("shrinks") << 4000 << 100 << true;
    }
    void inPlaceOnAFullDisk()
    {
        QFETCH(int, oldSize);
        QFETCH(int, newSize);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        const QByteArray before = QByteArray(oldSize - 1, 'o') + '\n';
        const QByteArray after = QByteArray(newSize - 1, 'n') + '\n';
        QVERIFY(writeFile(path, before));
        QString message = "saved";
        try {
            const FileSizeLimit full(4096);
            IniFile::fromBytes(after).saveInPlace(path);
        } catch (const EWriteError &error) {
            message = error.message();
        }
        QCOMPARE(message, written ? QString("saved") : "Unable to write to " + path);
        QCOMPARE(readFile(path), written ? after : before);
        QCOMPARE(entries(dir.path()), QStringList{"nelo.INI"});
    }

    // Binary garbage and files of many megabytes load without a fault; saving
    // writes the thirteen keys and keeps every byte that is not one of them,
    // and the next start reads back exactly what was saved.
    void oddFileSavesAndLoadsBack_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("binary garbage") << "garbage";
        QTest::newRow("garbage with NULs only") << "NULs";
        QTest::newRow("10 MB of garbage") << "10 MB garbage";
        QTest::newRow("10 MB of keys before the section") << "10 MB keys";
        QTest::newRow("10 MB value") << "10 MB value";
    }
    void oddFileSavesAndLoadsBack()
    {
        QFETCH(QString, kind);
        const qsizetype tenMegabytes = 10 * 1024 * 1024;
        QByteArray content;
        if (kind == "garbage") {
            content = garbage(7, 4096);
        } else if (kind == "NULs") {
            content = QByteArray(2048, '\0');
        } else if (kind == "10 MB garbage") {
            content = garbage(11, tenMegabytes);
        } else if (kind == "10 MB keys") {
            content.reserve(tenMegabytes + 100);
            for (int i = 0; content.size() < tenMegabytes; ++i)
                content += "Key" + QByteArray::number(i) + "=value " + QByteArray::number(i) + "\r\n";
            content += "[Settings]\r\nCPUcores=2\r\n";
        } else {
            content = "[Settings]\r\nAddCmdLine=" + QByteArray(tenMegabytes, 'x') + "\r\n";
        }

        QTemporaryDir dir;
        const QString path = dir.filePath("nelo.INI");
        QVERIFY(writeFile(path, content));

        TJobSettings loaded;
        LoadSettings(loaded, path); // whatever it finds; it must not fail
        QCOMPARE(readFile(path), content);

        const TJobSettings saved = settingsInEveryField();
        QCOMPARE(saveMessage(saved, path), QString("saved"));
        TJobSettings again;
        LoadSettings(again, path);
        compareSettings(again, saved);

        // Every line of the old file that held none of our keys is still
        // there, in its place.
        const QByteArray after = readFile(path);
        qsizetype from = 0;
        static const QByteArrayList keys = {"exefile",    "dirlist", "cpucores", "outputformat", "addcmdline",
                                            "autodir",    "ropt",    "fopt",     "popt",         "copycmdline",
                                            "libfile",    "txtfile", "molfile"};
        int checked = 0;
        for (const QByteArray &line : content.split('\n')) {
            const QByteArray name = line.left(line.indexOf('=')).trimmed().toLower();
            if (line.size() < 8 || keys.contains(name) || line.contains('\r') || checked > 2000)
                continue;
            const qsizetype at = after.indexOf(line, from);
            QVERIFY2(at >= 0, line.left(80).toPercentEncoding().constData());
            from = at + line.size();
            ++checked;
        }
        QCOMPARE(entries(dir.path()), QStringList{"nelo.INI"});
    }
};

QTEST_GUILESS_MAIN(TestSettingsFaults)
#include "tst_settingsfaults.moc"
