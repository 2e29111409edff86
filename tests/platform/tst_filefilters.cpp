#include "platform/FileFilters.h"

#include <QtTest>

class TestFileFilters : public QObject
{
    Q_OBJECT

private slots:
    void qtNameFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("matchEveryFile");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("input files") << "Firefly input files (*.inp)|*.inp|All files (*.*)|*.*" << false
                                     << QStringList{"Firefly input files (*.inp)", "All files (*)"};
        QTest::newRow("output files") << "Firefly output files (*.out)|*.out|All files (*.*)|*.*" << false
                                      << QStringList{"Firefly output files (*.out)", "All files (*)"};
        QTest::newRow("blanks around the bar") << "External basis set library file (*.lib) | *.lib" << false
                                               << QStringList{"External basis set library file (*.lib)"};
        QTest::newRow("executable matches every file") << "Firefly executable (*.exe)|*.exe" << true
                                                       << QStringList{"Firefly executable (*)"};
        QTest::newRow("several patterns") << "Outputs|*.out;*.log" << false << QStringList{"Outputs (*.out *.log)"};
        QTest::newRow("odd part ignored") << "Lonely description" << false << QStringList{};
    }
    void qtNameFilters()
    {
        QFETCH(QString, filter);
        QFETCH(bool, matchEveryFile);
        QFETCH(QStringList, expected);
        QCOMPARE(QtNameFilters(filter, matchEveryFile), expected);
    }
};

QTEST_GUILESS_MAIN(TestFileFilters)
#include "tst_filefilters.moc"
