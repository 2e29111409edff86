// Inputs the fuzz targets (fuzz/) found faults with, each kept as a data file
// under tests/data/fuzz/TARGET (also seeds for the next fuzz runs) and
// checked here by the property that failed.

#include "jobs/IniFile.h"

#include <QFile>
#include <QtTest>

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    // A key that starts with "[", given a value that holds "]", was written
    // as "[key=...]...": a section line. The key was lost, and the keys after
    // it moved into a new section. Such a key is now refused before anything
    // is written.
    void keyOpeningASection_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QFile found(NELO_TEST_DATA_DIR "/fuzz/inifile/key-opening-a-section.bin");
        QVERIFY(found.open(QIODevice::ReadOnly));
        // The fuzzer's input: a file full of NULs; the key and value it set.
        QTest::newRow("found by the fuzzer")
            << found.readAll().left(16) << QByteArray("[\x01`a", 4) << QByteArray("-= [A]0k=v");
        QTest::newRow("plain") << QByteArray("[S]\nk=1\n") << QByteArray("[x") << QByteArray("a]b");
        QTest::newRow("without a bracket in the value") << QByteArray("[S]\nk=1\n") << QByteArray("[x")
                                                        << QByteArray("ab");
    }
    void keyOpeningASection()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        IniFile ini = IniFile::fromBytes(file);
        ini.setValue("S", "k", "1");
        const QByteArray before = ini.toBytes();
        QVERIFY_THROWS_EXCEPTION(EIniValueError, ini.setValue("S", key, value));
        QCOMPARE(ini.toBytes(), before);
        ini.setValue("S", "after", "2");
        const IniFile reread = IniFile::fromBytes(ini.toBytes());
        QCOMPARE(reread.value("S", "k"), QByteArray("1"));
        QCOMPARE(reread.value("S", "after"), QByteArray("2"));
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
