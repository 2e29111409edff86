#include "jobs/DirList.h"

#include <QRandomGenerator>
#include <QtTest>

class TestDirList : public QObject
{
    Q_OBJECT

private slots:
    void join_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty list") << QStringList() << "";
        QTest::newRow("one empty item") << QStringList{""} << "\"\"";
        QTest::newRow("plain then blank") << QStringList{"/a/b", "/c d/"} << "/a/b \"/c d/\"";
        QTest::newRow("one quote doubled") << QStringList{"/x\"y"} << "\"/x\"\"y\"";
        QTest::newRow("tab is quoted") << QStringList{"a\tb"} << "\"a\tb\"";
        QTest::newRow("control char quoted") << QStringList{QString("a") + QChar(1)} << QString("\"a") + QChar(1) + "\"";
        QTest::newRow("backslash, dollar, star plain") << QStringList{"C:\\w", "$HOME", "*"} << "C:\\w $HOME *";
        QTest::newRow("empty items inside stay empty") << QStringList{"a", "", "b"} << "a  b";
    }
    void join()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, text);
        QCOMPARE(JoinDirList(list), text);
    }

    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("list");
        QTest::newRow("empty") << "" << QStringList();
        QTest::newRow("only blanks and controls") << " \t\r\n " << QStringList();
        QTest::newRow("two quotes") << "\"\"" << QStringList{""};
        QTest::newRow("blanks around and between") << "   /a/b    /c/d   " << QStringList{"/a/b", "/c/d"};
        QTest::newRow("plain then quoted") << "/a/b \"/c d/\"" << QStringList{"/a/b", "/c d/"};
        QTest::newRow("doubled quote") << "\"/x\"\"y\"" << QStringList{"/x\"y"};
        QTest::newRow("quote inside plain item") << "a\"b c" << QStringList{"a\"b", "c"};
        QTest::newRow("text after closing quote") << "\"a b\"c" << QStringList{"a b", "c"};
        QTest::newRow("quoted then quoted") << "\"a\"\"\"\"b\"" << QStringList{"a\"\"b"};
        QTest::newRow("empty quoted among others") << "a \"\" b" << QStringList{"a", "", "b"};
        QTest::newRow("line breaks separate") << "a\r\nb" << QStringList{"a", "b"};
        QTest::newRow("NUL is no separator") << QString("a") + QChar(0) + "b" << QStringList{QString("a") + QChar(0) + "b"};
        QTest::newRow("unterminated quote runs to the end") << "/a \"/b c d" << QStringList{"/a", "/b c d"};
        QTest::newRow("unterminated after doubled quote") << "\"x\"\" y" << QStringList{"x\" y"};
        QTest::newRow("lone quote") << "\"" << QStringList{""};
        QTest::newRow("non-ASCII") << QString::fromUtf8("/d\xc3\xa9j\xc3\xa0 \"/\xe2\x82\xac x\"")
                                   << QStringList{QString::fromUtf8("/d\xc3\xa9j\xc3\xa0"), QString::fromUtf8("/\xe2\x82\xac x")};
    }
    void split()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, list);
        QCOMPARE(SplitDirList(text), list);
    }

    // Lists of non-empty items come back whole, whatever characters they hold.
    void splitUndoesJoin()
    {
        const QString pool = QString("  \"\"\"\t\r\n") + QChar(1) + QChar(31) + QChar(0) + QChar(127)
                           + QString::fromUtf8("ab/\\.$*;()'\xc3\xa9\xe2\x82\xac");
        QRandomGenerator random(20260512);
        for (int round = 0; round < 20000; ++round) {
            QStringList list;
            const int count = random.bounded(6);
            for (int i = 0; i < count; ++i) {
                QString item;
                const int length = 1 + random.bounded(8);
                for (int j = 0; j < length; ++j)
                    item += pool[random.bounded(int(pool.size()))];
                list.append(item);
            }
            const QString text = JoinDirList(list);
            const QStringList back = SplitDirList(text);
            if (back != list)
                QFAIL(qPrintable(QString("round %1: [%2] -> %3 -> [%4]")
                                     .arg(round)
                                     .arg(list.join("|"), text, back.join("|"))));
        }
    }
};

QTEST_GUILESS_MAIN(TestDirList)
#include "tst_dirlist.moc"
