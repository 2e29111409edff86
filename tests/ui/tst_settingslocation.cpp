// Which settings file Nelo uses: the environment's choice, else the file
// beside the executable, else (a folder nobody may write) the user's own.

#include "platform/SettingsLocation.h"
#include "tests/helpers/Files.h"

#include <QtTest>

class TestSettingsLocation : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("beside");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("environment wins") << "/tmp/x/other.INI" << "<dir>/nelo.INI" << "/tmp/x/other.INI";
        QTest::newRow("beside, folder writable") << "" << "<dir>/nelo.INI" << "<dir>/nelo.INI";
        QTest::newRow("beside, file exists") << "" << "<dir>/existing/nelo.INI" << "<dir>/existing/nelo.INI";
        // Below a plain file no folder can ever be written, not even by root.
        QTest::newRow("folder not writable") << "" << "<dir>/plain/nelo.INI" << "<user>";
    }
    void choose()
    {
        QFETCH(QString, environment);
        QFETCH(QString, beside);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath(QStringLiteral("plain")), QByteArray()));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("existing")));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("existing/nelo.INI")), QByteArray()));
        const QString user = QStringLiteral("/home/u/.config/nelo/nelo.INI");
        beside.replace(QLatin1String("<dir>"), dir.path());
        chosen.replace(QLatin1String("<dir>"), dir.path()).replace(QLatin1String("<user>"), user);
        QCOMPARE(ChooseSettingsFile(environment, beside, user), chosen);
    }

    void userFileIsInTheConfigFolder()
    {
        QVERIFY(UserSettingsFile().endsWith(QLatin1String("/nelo/nelo.INI")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
