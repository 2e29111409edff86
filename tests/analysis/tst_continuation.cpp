// A new input from an optimisation's last geometry: on the real output cut
// anywhere in its search, from the input file and from the echoed cards;
// the rewriting of atom cards in decks of every shape; the refusals.

#include "analysis/ContinuationDeck.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Samples.h"

#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(ContinuationDeck::Refusal)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

ContinuationDeck make(const QByteArray &output, const std::optional<QByteArray> &deck)
{
    return MakeContinuationDeck(view(output), deck ? std::optional<std::string_view>(view(*deck)) : std::nullopt);
}

// An output as Firefly writes one for the deck: its cards echoed (unless
// `echo` is false), the search (unless `search` is false) with one
// unique-atom block per geometry, each after its NSERCH line.
QByteArray outputFor(const QByteArray &deck, const QList<QByteArrayList> &blocks, bool search = true, bool echo = true)
{
    QByteArray out = " EXECUTION OF FIREFLY BEGUN\r\n\r\n            ECHO OF THE FIRST FEW INPUT CARDS -\r\n";
    QByteArrayList cards = deck.split('\n');
    if (cards.last().isEmpty())
        cards.removeLast();
    for (QByteArray card : cards)
        if (echo)
            out += " INPUT CARD>" + (card.endsWith('\r') ? card.chopped(1) : card).leftJustified(80) + "\r\n";
    if (search)
        out += "          PARAMETERS CONTROLLING GEOMETRY SEARCH ARE\r\n";
    for (qsizetype k = 0; k < blocks.size(); ++k) {
        out += " NSERCH=" + QByteArray::number(k).rightJustified(4) + "\r\n\r\n COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)\r\n"
               "   ATOM   CHARGE       X              Y              Z\r\n " + QByteArray(60, '-') + "\r\n";
        for (const QByteArray &atom : blocks[k])
            out += ' ' + atom + "\r\n";
        out += "\r\n COORDINATES OF ALL ATOMS ARE (ANGS)\r\n";
    }
    return out;
}

// The real output's unique-atom blocks: where each ends (after its blank
// line) and its coordinates as printed.
struct Block
{
    qsizetype end;
    QList<QByteArrayList> xyz;
};

QList<Block> blocksOf(const QByteArray &output)
{
    QList<Block> blocks;
    const QByteArray marker = "COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)";
    for (qsizetype at = output.indexOf(marker); at >= 0; at = output.indexOf(marker, at + 1)) {
        Block block;
        qsizetype line = output.indexOf('\n', at) + 1;
        line = output.indexOf('\n', line) + 1;
        line = output.indexOf('\n', line) + 1;
        for (;;) {
            const qsizetype next = output.indexOf('\n', line) + 1;
            const QByteArrayList fields = output.mid(line, next - line).simplified().split(' ');
            line = next;
            if (fields.size() < 5)
                break;
            block.xyz << fields.mid(fields.size() - 3);
        }
        block.end = line;
        blocks << block;
    }
    return blocks;
}

} // namespace

class TestContinuation : public QObject
{
    Q_OBJECT

private slots:
    // The real optimisation cut inside its search, mid-block and mid-line
    // too: the atom cards carry the newest complete block's numbers as
    // printed, in the columns they had; every other byte is the deck's. The
    // echoed cards give the same deck as the file.
    void realOutputCut_data()
    {
        QTest::addColumn<int>("block");  // the block the cut is measured from
        QTest::addColumn<int>("offset"); // bytes from the end of that block
        QTest::addColumn<int>("newest"); // the block the deck must carry
        QTest::newRow("right after the first block") << 0 << 0 << 0;
        QTest::newRow("the first block's blank line without its LF") << 0 << -1 << -1;
        QTest::newRow("inside the last atom line") << 5 << -30 << 4;
        QTest::newRow("among the first atoms of a block") << 9 << -600 << 8;
        QTest::newRow("after the block, inside the step") << 12 << 3000 << 12;
        QTest::newRow("the block after the located geometry") << 24 << 0 << 24;
        QTest::newRow("the whole output") << 24 << 1 << 24;
    }
    void realOutputCut()
    {
        NELO_REQUIRE_SAMPLES();
        QFETCH(int, block);
        QFETCH(int, offset);
        QFETCH(int, newest);
        const QByteArray whole = readFile(sampleFile("dvb_gopt_a.out"));
        const QByteArray deck = readFile(sampleFile("dvb_gopt_a.inp"));
        const QList<Block> blocks = blocksOf(whole);
        QCOMPARE(blocks.size(), 25);
        const QByteArray output = whole.left(qMin(blocks[block].end + offset, whole.size()));

        const ContinuationDeck fromFile = make(output, deck), fromEcho = make(output, std::nullopt);
        if (newest < 0) {
            QCOMPARE(fromFile.refusal, ContinuationDeck::Refusal::NoGeometry);
            return;
        }
        QCOMPARE(fromFile.reason, QString());
        QCOMPARE(fromFile.atoms, 10);
        QVERIFY(!fromFile.fromEcho && fromEcho.fromEcho);
        QCOMPARE(fromEcho.deck, fromFile.deck);
        const QByteArrayList before = deck.split('\n'), after = fromFile.deck.split('\n');
        QCOMPARE(after.size(), before.size());
        int atom = 0;
        for (qsizetype i = 0; i < before.size(); ++i) {
            const QByteArrayList old = before[i].simplified().split(' ');
            if (i < 9 || old.size() != 5) {
                QCOMPARE(after[i], before[i]);
                continue;
            }
            const QByteArrayList fields = after[i].simplified().split(' ');
            QCOMPARE(fields.mid(0, 2), old.mid(0, 2));
            QCOMPARE(fields.mid(2), blocks[newest].xyz[atom++]);
            QVERIFY(after[i].startsWith(before[i].left(before[i].indexOf(old[1]) + old[1].size())));
            QCOMPARE(after[i].size(), before[i].size()); // the last column ends where it ended
        }
        QCOMPARE(atom, 10);
    }

    // Decks of every shape: only the three numbers of each atom card change
    // (basis cards, tabs, comments, line ends stay); Bohr reads Angstrom.
    void rewrites_data()
    {
        QTest::addColumn<QByteArray>("deck");
        QTest::addColumn<int>("cut"); // bytes taken from the end of the output
        QTest::addColumn<QByteArray>("expected");
        const QByteArray contrl = " $CONTRL RUNTYP=OPTIMIZE $END\r\n";
        QTest::newRow("units in Bohr, lower case, keyword cards over two lines")
            << QByteArray(" $contrl runtyp=optimize\r\n   units=bohr $end\r\n $DATA\r\nw\r\nC1\r\nO 8.0 0.0 0.0 0.2\r\nH 1 0 0.7 -0.5\r\n $END\r\n")
            << 0
            << QByteArray(" $contrl runtyp=optimize\r\n   units=ANGS $end\r\n $DATA\r\nw\r\nC1\r\n"
                          "O 8.0 0.1000000000 -0.2000000000 0.3000000000\r\nH 1 1.0000000000 0.7000000000 -0.5000000000\r\n $END\r\n");
        QTest::newRow("columns, basis cards after each atom, the blank card of a group other than C1")
            << contrl + "\r\n $DATA\r\nt\r\nCNV 2\r\n\r\nO     8.0     -1.00000000   2.50000000  0.10000000\r\n   N31 6\r\n\r\n"
                        "H 1.0   0.0   0.8  -0.5\r\n   N31 6\r\n\r\n $END\r\n"
            << 0
            << contrl + "\r\n $DATA\r\nt\r\nCNV 2\r\n\r\nO     8.0    0.1000000000 -0.2000000000 0.3000000000\r\n   N31 6\r\n\r\n"
                        "H 1.0 1.0000000000 0.7000000000 -0.5000000000\r\n   N31 6\r\n\r\n $END\r\n";
        QTest::newRow("tabs, a comment after the numbers, Fortran exponents, LF line ends, no last line end")
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\n $DATA\nt\nC1\nO\t8.0\t0.5D0 -2.5E-1 .5 ! moved\nH 1.0 0 0 1\n $END")
            << 0
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\n $DATA\nt\nC1\nO\t8.0\t0.1000000000 -0.2000000000 0.3000000000 ! moved\n"
                          "H 1.0 1.0000000000 0.7000000000 -0.5000000000\n $END");
        QTest::newRow("the newest block cut short: the one before")
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\r\n $DATA\r\nt\r\nC1\r\nO 8 0 0 0\r\nH 1 0 0 1\r\n $END\r\n")
            << 45
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\r\n $DATA\r\nt\r\nC1\r\n"
                          "O 8 0.1000000000 -0.2000000000 0.3000000000\r\nH 1 1.0000000000 0.7000000000 -0.5000000000\r\n $END\r\n");
    }
    void rewrites()
    {
        QFETCH(QByteArray, deck);
        QFETCH(int, cut);
        QFETCH(QByteArray, expected);
        const QByteArrayList first{"O           8.0   0.1000000000  -0.2000000000   0.3000000000",
                                   "H           1.0   1.0000000000   0.7000000000  -0.5000000000"};
        const QByteArrayList second{"O           8.0   9.0000000000   9.0000000000   9.0000000000",
                                    "H           1.0   9.0000000000   9.0000000000   9.0000000000"};
        QByteArray output = cut > 0 ? outputFor(deck, {first, second}) : outputFor(deck, {first});
        output.chop(QByteArray(" COORDINATES OF ALL ATOMS ARE (ANGS)\r\n").size() + cut);
        const ContinuationDeck result = make(output, deck);
        QCOMPARE(result.reason, QString());
        QCOMPARE(result.deck, expected);
        if (deck.contains("\r\n") && !deck.contains('\t')) // as the echo ends its cards; it keeps no tab
            QCOMPARE(make(output, std::nullopt).deck, expected);
    }

    // Why a deck cannot be made, in words; and never a deck.
    void refusals_data()
    {
        using R = ContinuationDeck::Refusal;
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<std::optional<QByteArray>>("deck");
        QTest::addColumn<R>("refusal");
        QTest::addColumn<QString>("reason");
        const QByteArray deck = " $CONTRL RUNTYP=OPTIMIZE $END\n $DATA\nt\nC1\nO 8.0 0 0 0\nH 1.0 0 0 1\n $END\n";
        const QByteArrayList geometry{"O  8.0  0.1  0.2  0.3", "H  1.0  1.1  1.2  1.3"};
        const QString cartesian = QStringLiteral(": only Cartesian atoms can be given the last geometry.");
        QTest::newRow("a single point") << outputFor(deck, {}, false) << std::optional(deck) << R::NoSearch
                                        << "The output holds no geometry search: it is not an optimisation.";
        QTest::newRow("cut before the first block") << outputFor(deck, {}) << std::optional(deck) << R::NoGeometry
                                                    << "The output holds no complete geometry of its search yet.";
        QTest::newRow("a Z-matrix") << outputFor(deck, {geometry})
                                    << std::optional(QByteArray(deck).replace("$CONTRL", "$CONTRL COORD=ZMT"))
                                    << R::NotCartesian << "The input's coordinates are not Cartesian (COORD=ZMT)" + cartesian;
        QTest::newRow("a $ZMAT group") << outputFor(deck, {geometry})
                                       << std::optional(deck + " $ZMAT IZMAT(1)=1,1,2 $END\n") << R::NotCartesian
                                       << "The input's coordinates are not Cartesian (it has a $ZMAT group)" + cartesian;
        QTest::newRow("one atom more in the output") << outputFor(deck, {geometry + QByteArrayList{"H 1.0 2 2 2"}})
                                                     << std::optional(deck) << R::AtomCount
                                                     << "The $DATA group of the input holds 2 atoms, the last geometry "
                                                        "of the output 3: they cannot be matched atom for atom.";
        QTest::newRow("another element") << outputFor(deck, {{geometry[1], geometry[0]}}) << std::optional(deck)
                                         << R::AtomMismatch
                                         << "Atom 1 of the input (O, nuclear charge 8.0) is not atom 1 of the last "
                                            "geometry of the output (H, charge 1.0).";
        QTest::newRow("asterisks for a number") << outputFor(deck, {{geometry[0], "H  1.0  ********  1.2  1.3"}})
                                                << std::optional(deck) << R::Unreadable
                                                << "The last geometry of the output cannot be read: \" H  1.0  ********  1.2  1.3\".";
        QTest::newRow("no $DATA") << outputFor(deck, {geometry}) << std::optional(QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\n"))
                                  << R::NoData << "The input holds no $DATA group.";
        QTest::newRow("no $END") << outputFor(deck, {geometry}) << std::optional(deck.left(deck.lastIndexOf(" $END")))
                                 << R::NoData << "The $DATA group of the input has no $END.";
        QTest::newRow("no input and no echo") << outputFor(deck, {geometry}, true, false) << std::optional<QByteArray>()
                                              << R::NoDeck
                                              << "The input file is not there, and the output holds no echo of its input cards.";
    }
    void refusals()
    {
        QFETCH(QByteArray, output);
        QFETCH(std::optional<QByteArray>, deck);
        QFETCH(ContinuationDeck::Refusal, refusal);
        QFETCH(QString, reason);
        const ContinuationDeck result = make(output, deck);
        QCOMPARE(result.reason, reason);
        QCOMPARE(result.refusal, refusal);
        QCOMPARE(result.deck, QByteArray());
    }

    // An input file is the job's only while its cards begin with the echoed
    // ones: an input edited since is passed over for the echo.
    void inputFileOrEcho_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("fromEcho");
        const QByteArray deck = " $CONTRL RUNTYP=OPTIMIZE $END\r\n $DATA\r\nt\r\nC1\r\nO 8.0 0 0 0   \r\n $END\r\n";
        QTest::newRow("the job's input, blanks after a card") << deck << false;
        QTest::newRow("the job's input and more cards than echoed") << deck + " $VEC\r\n $END\r\n" << false;
        QTest::newRow("edited since") << QByteArray(deck).replace("OPTIMIZE", "ENERGY") << true;
        QTest::newRow("not there") << QByteArray() << true;
    }
    void inputFileOrEcho()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, fromEcho);
        QTemporaryDir dir;
        const QByteArray deck = " $CONTRL RUNTYP=OPTIMIZE $END\r\n $DATA\r\nt\r\nC1\r\nO 8.0 0 0 0\r\n $END\r\n";
        const QString output = dir.filePath("job.out"), input = dir.filePath("job.inp");
        QVERIFY(writeFile(output, outputFor(deck, {{"O 8.0 0.1 0.2 0.3"}})));
        QVERIFY(file.isEmpty() || writeFile(input, file));
        const ContinuationDeck result = ContinueFromOutput(output, input, true);
        QCOMPARE(result.reason, QString());
        QCOMPARE(result.fromEcho, fromEcho);
        QVERIFY(result.deck.contains("O 8.0 0.1 0.2 0.3"));
        // Given as it is, the file is taken whatever the echo says.
        if (!file.isEmpty())
            QVERIFY(!ContinueFromOutput(output, input, false).fromEcho);
    }
};

QTEST_GUILESS_MAIN(TestContinuation)
#include "tst_continuation.moc"
