#include "platform/Paths.h"

#include <QtTest>

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void cuts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("withOut");
        QTest::newRow("plain") << "/w/water.inp" << "/w/" << "water.inp" << "water" << "/w/water.out";
        QTest::newRow("last dot counts") << "/w/a.b.inp" << "/w/" << "a.b.inp" << "a.b" << "/w/a.b.out";
        QTest::newRow("no extension") << "/w/water" << "/w/" << "water" << "water" << "/w/water.out";
        QTest::newRow("dot in the folder only") << "/w.d/water" << "/w.d/" << "water" << "water" << "/w.d/water.out";
        QTest::newRow("leading dot is an extension") << "/w/.inp" << "/w/" << ".inp" << "" << "/w/.out";
        QTest::newRow("trailing dot") << "/w/water." << "/w/" << "water." << "water" << "/w/water.out";
        QTest::newRow("no folder") << "water.inp" << "" << "water.inp" << "water" << "water.out";
        QTest::newRow("folder only") << "/w/" << "/w/" << "" << "" << "/w/.out";
        QTest::newRow("blanks and non-ASCII") << "/m y/ä b.inp" << "/m y/" << "ä b.inp" << "ä b" << "/m y/ä b.out";
    }
    void cuts()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, base);
        QFETCH(QString, withOut);
        QCOMPARE(Paths::FolderPart(path), folder);
        QCOMPARE(Paths::FileNamePart(path), name);
        QCOMPARE(Paths::BaseName(path), base);
        QCOMPARE(Paths::WithExtension(path, u".out"), withOut);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
