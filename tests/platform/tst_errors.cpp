#include "platform/Errors.h"
#include "platform/Notices.h"

#include <QtTest>

class TestErrors : public QObject
{
    Q_OBJECT

private slots:
    void runtimeTexts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("integer") << EConvertError::invalidInteger("  25  ").message()
                                 << "'  25  ' is not a valid integer value";
        QTest::newRow("float") << EConvertError::invalidFloat("-0.49x").message()
                               << "'-0.49x' is not a valid floating point value";
        QTest::newRow("percent in field") << EConvertError::invalidInteger("%1%2").message()
                                          << "'%1%2' is not a valid integer value";
        QTest::newRow("high byte is Latin-1") << EConvertError::invalidFloat("\xb5").message()
                                              << QString::fromLatin1("'\xb5' is not a valid floating point value");
        QTest::newRow("list") << EListError::indexOutOfBounds(-2).message() << "List index out of bounds (-2)";
        QTest::newRow("write") << EWriteError::unableToWrite("/ro dir/nelo.INI").message()
                               << "Unable to write to /ro dir/nelo.INI";
    }
    void runtimeTexts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void errorReportFullStop_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Unable to write to /x/nelo.INI" << "Unable to write to /x/nelo.INI.";
        QTest::newRow("quote sorts before dot") << "'a' is not a valid integer value" << "'a' is not a valid integer value.";
        QTest::newRow("closing parenthesis") << "List index out of bounds (7)" << "List index out of bounds (7)";
        QTest::newRow("exclamation") << "Unable to run Firefly!" << "Unable to run Firefly!";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("digit sorts after dot") << "code 7" << "code 7.";
        QTest::newRow("slash sorts after dot") << "/tmp/" << "/tmp/.";
        QTest::newRow("empty") << "" << "";
    }
    void errorReportFullStop()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(ErrorReportText(message), shown);
    }

    void presentersRecordAndRestore()
    {
        QStringList seen;
        auto oldNotice = Notices::SetNoticePresenter([&](const QString &t) { seen << "notice:" + t; });
        auto oldError = Notices::SetErrorPresenter([&](const QString &t) { seen << "error:" + t; });
        Notices::ShowNotice("You can drop only one file at a time!");
        Notices::ShowErrorReport("Unable to write to /x");
        Notices::SetNoticePresenter(oldNotice);
        Notices::SetErrorPresenter(oldError);
        QCOMPARE(seen, QStringList({"notice:You can drop only one file at a time!", "error:Unable to write to /x."}));
    }
};

QTEST_GUILESS_MAIN(TestErrors)
#include "tst_errors.moc"
