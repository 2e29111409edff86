#include "jobs/OutputFollower.h"

#include <QTest>

namespace {

// "prefix1\r\nprefix2\r\n..." for lines first..last.
QByteArray Lines(int first, int last, const char *prefix = "line ")
{
    QByteArray text;
    for (int i = first; i <= last; ++i)
        text += prefix + QByteArray::number(i) + "\r\n";
    return text;
}

QByteArray PaneLines(int first, int last, const char *prefix = "line ")
{
    return Lines(first, last, prefix).replace("\r\n", "\n");
}

} // namespace

class tst_OutputFollower : public QObject
{
    Q_OBJECT

private slots:
    void readsAreSplitAtTheLastLineFeed_data();
    void readsAreSplitAtTheLastLineFeed();
    void paneKeepsTheLastHundredLines();
    void manyLinesInOneReadLeaveTheLastHundred();
    void anyWayOfCuttingTheOutputGivesTheSameLines();
    void lastLineWithoutLineBreakCountsOnceTheOutputEnds();
    void aLineWithoutLineFeedStaysBounded();
};

void tst_OutputFollower::readsAreSplitAtTheLastLineFeed_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("batch");     // of the last read that completed lines
    QTest::addColumn<QByteArray>("carried");
    QTest::addColumn<QByteArray>("pane");

    QTest::newRow("read ends exactly at a line feed")
        << QByteArrayList{"a\r\nb\r\n"} << QByteArray("a\r\nb") << QByteArray() << QByteArray("a\nb\n");
    QTest::newRow("incomplete line carried and joined")
        << QByteArrayList{"a\r\nhal", "f\r\nc"} << QByteArray("half") << QByteArray("c")
        << QByteArray("a\nhalf\n");
    QTest::newRow("reads without line feed wait for one")
        << QByteArrayList{"one", " long", " line", "\r\n"} << QByteArray("one long line") << QByteArray()
        << QByteArray("one long line\n");
    QTest::newRow("CR and LF in different reads")
        << QByteArrayList{"x\r", "\ny\r", "\n"} << QByteArray("y") << QByteArray() << QByteArray("x\ny\n");
    QTest::newRow("line feed alone at the start of a read")
        << QByteArrayList{"x\r\n", "\n"} << QByteArray("") << QByteArray() << QByteArray("x\n\n");
    QTest::newRow("empty lines at the end of a read stay")
        << QByteArrayList{"x\r\n\r\n\r\n"} << QByteArray("x\r\n\r\n") << QByteArray()
        << QByteArray("x\n\n\n");
    QTest::newRow("LF-only text keeps its last character")
        << QByteArrayList{"ab\ncd\n"} << QByteArray("ab\ncd") << QByteArray() << QByteArray("ab\ncd\n");
    QTest::newRow("lone CR ends a line in the pane")
        << QByteArrayList{"p\rq\r\n"} << QByteArray("p\rq") << QByteArray() << QByteArray("p\nq\n");
    QTest::newRow("zero bytes are text like any other")
        << QByteArrayList{QByteArray("a\0b\r\nc", 6)} << QByteArray("a\0b", 3) << QByteArray("c")
        << QByteArray("a\0b\n", 4);
}

void tst_OutputFollower::readsAreSplitAtTheLastLineFeed()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArray, batch);
    QFETCH(QByteArray, carried);
    QFETCH(QByteArray, pane);

    OutputFollower follower;
    for (const QByteArray &read : reads) {
        const bool completes = follower.Feed(read);
        QCOMPARE(completes, read.contains('\n'));
    }
    QCOMPARE(follower.Batch(), batch);
    QCOMPARE(follower.CarriedText(), carried);
    QCOMPARE(follower.PaneText(), pane);
}

void tst_OutputFollower::paneKeepsTheLastHundredLines()
{
    OutputFollower follower;
    for (int i = 1; i <= 99; ++i)
        QVERIFY(follower.Feed(Lines(i, i)));
    QCOMPARE(follower.TailLineCount(), 99);
    QCOMPARE(follower.PaneText(), PaneLines(1, 99));
    QVERIFY(follower.Feed(Lines(100, 101)));
    QCOMPARE(follower.TailLineCount(), 100);
    QCOMPARE(follower.PaneText(), PaneLines(2, 101));
    QCOMPARE(follower.Batch(), QByteArray("line 100\r\nline 101"));
}

void tst_OutputFollower::manyLinesInOneReadLeaveTheLastHundred()
{
    OutputFollower follower;
    QVERIFY(follower.Feed(Lines(1, 150)));
    QCOMPARE(follower.PaneText(), PaneLines(51, 150));
    QCOMPARE(follower.Batch(), Lines(1, 150).chopped(2)); // the scanner still gets all 150

    // The same through a carried start and with bare LF ends.
    OutputFollower lf;
    QVERIFY(!lf.Feed("li"));
    QVERIFY(lf.Feed(PaneLines(1, 150).mid(2) + "tail"));
    QCOMPARE(lf.PaneText(), PaneLines(51, 150));
    QCOMPARE(lf.CarriedText(), QByteArray("tail"));
}

// Whatever the sizes of the reads, the pane, the scanned text and the end
// result are those of the whole output read at once.
void tst_OutputFollower::anyWayOfCuttingTheOutputGivesTheSameLines()
{
    QByteArray output;
    for (int i = 1; i <= 180; ++i)
        output += QByteArray(i % 7, 'x') + QByteArray::number(i) + (i % 11 ? "\r\n" : "\n");
    output += "unterminated";

    for (const int size : {1, 2, 3, 7, 64, 1000, int(output.size())}) {
        OutputFollower follower;
        QByteArray scanned;
        for (qsizetype at = 0; at < output.size(); at += size) {
            if (follower.Feed(QByteArrayView(output).sliced(at, std::min<qsizetype>(size, output.size() - at))))
                scanned += follower.Batch() + "\r\n";
        }
        QVERIFY(follower.Finish());
        scanned += follower.Batch();
        QCOMPARE(scanned.replace("\r\n", "\n"), QByteArray(output).replace("\r\n", "\n"));
        QByteArray pane;
        for (const QByteArray &line : output.split('\n').mid(81))
            pane += line.endsWith('\r') ? line.chopped(1) + '\n' : line + '\n';
        QCOMPARE(follower.PaneText(), pane);
    }
}

void tst_OutputFollower::lastLineWithoutLineBreakCountsOnceTheOutputEnds()
{
    OutputFollower follower;
    QVERIFY(follower.Feed("ok\r\n *** ERROR: no memory"));
    QCOMPARE(follower.PaneText(), QByteArray("ok\n"));
    QVERIFY(follower.Finish());
    QCOMPARE(follower.Batch(), QByteArray(" *** ERROR: no memory"));
    QCOMPARE(follower.PaneText(), QByteArray("ok\n *** ERROR: no memory\n"));
    QVERIFY(!follower.Finish()); // nothing left

    OutputFollower ended;
    QVERIFY(ended.Feed("done\r\n"));
    QVERIFY(!ended.Finish());
    QCOMPARE(ended.PaneText(), QByteArray("done\n"));
}

void tst_OutputFollower::aLineWithoutLineFeedStaysBounded()
{
    OutputFollower follower;
    QVERIFY(follower.Feed("before\r\n"));
    const QByteArray chunk(200000, 'y');
    for (int i = 0; i < 250; ++i) // 50 MB without a line feed
        QVERIFY(!follower.Feed(chunk));
    QCOMPARE(follower.CarriedText().size(), OutputFollower::LineLimit);

    QVERIFY(follower.Feed("yyyy\r\nafter\r\n"));
    QCOMPARE(follower.Batch().size(), OutputFollower::LineLimit + 6); // head, cut, + "\nafter"
    QVERIFY(follower.Batch().endsWith("y\nafter"));
    const QByteArray pane = follower.PaneText();
    QCOMPARE(pane, "before\n" + QByteArray(OutputFollower::PaneLineLimit, 'y') + "\nafter\n");
    QVERIFY(follower.CarriedText().isEmpty());
}

QTEST_GUILESS_MAIN(tst_OutputFollower)
#include "tst_outputfollower.moc"
