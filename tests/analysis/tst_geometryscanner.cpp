#include "analysis/GeometryScanner.h"
#include "analysis/TextLines.h"
#include "platform/Errors.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/LiteralGeometryScanner.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

namespace {

QByteArrayList scanAll(GeometryScanner &scanner, const QByteArrayList &pieces)
{
    QByteArrayList entries;
    for (const QByteArray &piece : pieces)
        scanner.ScanGeometryProgress(std::string_view(piece.constData(), std::size_t(piece.size())),
                                     [&](const QByteArray &entry) { entries << entry; });
    return entries;
}

// Firefly-like lines around the markers.
const QByteArray Begin = " ---- PARAMETERS CONTROLLING GEOMETRY SEARCH ARE ----\r\n";
QByteArray stepLine(int n)
{
    return "1NSERCH=" + QByteArray::number(n) + "\r\n  NSERCH=  " + QByteArray::number(n)
           + "     ENERGY=    -379.7594672 HARTREE\r\n";
}
QByteArray gradientLine(const char *value)
{
    return "          MAXIMUM GRADIENT = " + QByteArray(value) + "    RMS GRADIENT = 0.0228973 AND MORE TEXT\r\n";
}
// The entry parts those lines give: "STEP " and 32 bytes from the step
// marker's "=", and 61 bytes from four bytes before the gradient marker.
QByteArray prefix(int n)
{
    return "STEP =  " + QByteArray::number(n) + "     ENERGY=    -379.7594672";
}
QByteArray copied(const char *value)
{
    return ("    MAXIMUM GRADIENT = " + QByteArray(value) + "    RMS GRADIENT = 0.0228973 AND MORE TEXT\r\n").left(61);
}
const QByteArray End = "\r\n      ***** EQUILIBRIUM GEOMETRY LOCATED *****\r\n";

// Pieces of random texts: the markers (four times as often as the rest),
// near misses and overlaps, line breaks of every kind, filler.
const char *randomPart(QRandomGenerator &random)
{
    static const char *const parts[] = {
        "PARAMETERS CONTROLLING GEOMETRY SEARCH ARE", "  NSERCH=", "MAXIMUM GRADIENT =",
        "EQUILIBRIUM GEOMETRY LOCATED",
        // near misses and overlaps
        "PARAMETERS CONTROLLING GEOMETRY SEARCH AR", " NSERCH=", "   NSERCH=", "  NSERCH =", "  nserch=",
        "MAXIMUM GRADIENT", "MAXIMUM GRADIENT=", "MAXIMUM MAXIMUM GRADIENT = ", "EQUILIBRIUM GEOMETRY",
        "EQUILIBRIUM GEOMETRY LOCATEDEQUILIBRIUM GEOMETRY LOCATED",
        // line breaks and filler
        "\r\n", "\r\n", "\n", "\r", " ", "   ", "0.0798433", "-379.7594672", "=", "STEP", "ab", "\\",
        "          ", "ENERGY=    -379.7305148    ", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"};
    const int count = int(sizeof parts / sizeof parts[0]);
    return parts[random.bounded(10) < 4 ? random.bounded(4) : random.bounded(count)];
}
const QByteArray Filler = " THE CURRENT STRUCTURE IS NOT YET CONVERGED, CONTINUING.\r\n";

} // namespace

class TestGeometryScanner : public QObject
{
    Q_OBJECT

private slots:
    void entries_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::addColumn<QByteArray>("prefixAfter");

        const QByteArray three = Begin + Filler + stepLine(0) + Filler + gradientLine("0.0798433") + stepLine(1)
                                 + gradientLine("0.0407812") + stepLine(2) + gradientLine("0.0001234") + End;
        QTest::newRow("begin, three steps, end")
            << QByteArrayList{three}
            << QByteArrayList{"*** BEGINNING GEOMETRY SEARCH ***",
                              prefix(0) + copied("0.0798433"),
                              prefix(1) + copied("0.0407812"),
                              prefix(2) + copied("0.0001234"),
                              "*** EQUILIBRIUM GEOMETRY LOCATED ***"}
            << prefix(2);

        QTest::newRow("no markers") << QByteArrayList{Filler + Filler, QByteArray()} << QByteArrayList{}
                                    << QByteArray();

        QTest::newRow("prefix carried into the next call")
            << QByteArrayList{Filler + stepLine(7), gradientLine("0.5")}
            << QByteArrayList{prefix(7) + copied("0.5")}
            << prefix(7);

        QTest::newRow("gradient before any step")
            << QByteArrayList{gradientLine("0.25")}
            << QByteArrayList{copied("0.25")}
            << QByteArray();

        QTest::newRow("two steps, one gradient: first step wins")
            << QByteArrayList{stepLine(3) + stepLine(4) + gradientLine("0.1")}
            << QByteArrayList{prefix(3) + copied("0.1")}
            << prefix(3);

        QTest::newRow("gradient before the first step is passed over")
            << QByteArrayList{gradientLine("0.9") + stepLine(5) + gradientLine("0.2")}
            << QByteArrayList{prefix(5) + copied("0.2")}
            << prefix(5);

        QTest::newRow("search start wins over earlier gradients")
            << QByteArrayList{stepLine(1) + gradientLine("0.3") + Begin + stepLine(2) + gradientLine("0.4")}
            << QByteArrayList{"*** BEGINNING GEOMETRY SEARCH ***",
                              prefix(2) + copied("0.4")}
            << prefix(2);

        QTest::newRow("gradient wins over an earlier end marker")
            << QByteArrayList{End + Filler + gradientLine("0.6")}
            << QByteArrayList{copied("0.6")}
            << QByteArray();

        QTest::newRow("gradient at the very start of the text")
            << QByteArrayList{"MAXIMUM GRADIENT = 0.1\r\n" + Filler}
            << QByteArrayList{"MAXIMUM GRADIENT = 0.1\r\n THE CURRENT STRUCTURE IS NOT YET CON"}
            << QByteArray();

        QTest::newRow("gradient two bytes into the text")
            << QByteArrayList{"x MAXIMUM GRADIENT = 7"} << QByteArrayList{"x MAXIMUM GRADIENT = 7"} << QByteArray();

        QTest::newRow("step prefix takes in the line break and the next line")
            << QByteArrayList{"  NSERCH=  12\r\nNEXT LINE OF OUTPUT TEXT HERE\r\nMAXIMUM GRADIENT = 1"}
            << QByteArrayList{"STEP =  12\r\nNEXT LINE OF OUTPUT TEXT RE\r\nMAXIMUM GRADIENT = 1"}
            << QByteArray("STEP =  12\r\nNEXT LINE OF OUTPUT TEXT ");

        QTest::newRow("step prefix at the end of the text is short")
            << QByteArrayList{"  NSERCH= 3"} << QByteArrayList{} << QByteArray("STEP = 3");

        QTest::newRow("markers compared exactly")
            << QByteArrayList{" NSERCH= 1 maximum gradient = 1 MAXIMUM GRADIENT= 1 Equilibrium geometry located"
                              " PARAMETERS CONTROLLING GEOMETRY SEARCH  ARE"}
            << QByteArrayList{} << QByteArray();

        QTest::newRow("end marker within 30 bytes of a hit is passed over")
            << QByteArrayList{"MAXIMUM GRADIENT = 1 EQUILIBRIUM GEOMETRY LOCATED"}
            << QByteArrayList{"MAXIMUM GRADIENT = 1 EQUILIBRIUM GEOMETRY LOCATED"} << QByteArray();

        QTest::newRow("step marker then end marker, no gradient")
            << QByteArrayList{stepLine(9) + End}
            << QByteArrayList{"*** EQUILIBRIUM GEOMETRY LOCATED ***"}
            << prefix(9);
    }
    void entries()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArrayList, expected);
        QFETCH(QByteArray, prefixAfter);
        GeometryScanner scanner;
        QCOMPARE(scanAll(scanner, pieces), expected);
        QCOMPARE(scanner.StepPrefix(), prefixAfter);
        QCOMPARE(scanner.LogLine(), expected.isEmpty() ? QByteArray() : expected.last());
    }

    void stateSurvivesTextsWithoutMarkers()
    {
        GeometryScanner scanner;
        scanAll(scanner, {stepLine(4) + gradientLine("0.2")});
        const QByteArray logLine = scanner.LogLine();
        const QByteArray prefix = scanner.StepPrefix();
        QCOMPARE(scanAll(scanner, {Filler, QByteArray()}), QByteArrayList{});
        QCOMPARE(scanner.LogLine(), logLine);
        QCOMPARE(scanner.StepPrefix(), prefix);
    }

    // The scanner against the literal rules, on random texts made of the
    // markers, near misses, line breaks and filler, fed in random pieces as
    // the live monitor feeds them; entries and state must agree after every
    // piece.
    void agreesWithLiteralRules()
    {
        QRandomGenerator random(20261208);
        int entries = 0;
        for (int round = 0; round < 6000; ++round) {
            // A few texts carry one state, as jobs follow each other.
            GeometryScanner scanner;
            LiteralScanner literal;
            const int texts = 1 + random.bounded(3);
            for (int t = 0; t < texts; ++t) {
                std::string text;
                const int count = random.bounded(60);
                for (int i = 0; i < count; ++i) {
                    text += randomPart(random);
                }
                std::size_t at = 0;
                while (at < text.size() || (at == 0 && text.empty())) {
                    const std::size_t length = random.bounded(4) == 0 ? text.size() - at
                                                                      : std::size_t(random.bounded(int(text.size() - at) + 1));
                    const std::string piece = text.substr(at, length);
                    at += length;
                    const QByteArrayList expected = literal.scan(piece);
                    QByteArrayList actual;
                    scanner.ScanGeometryProgress(piece, [&](const QByteArray &e) { actual << e; });
                    entries += int(actual.size());
                    if (actual != expected || scanner.LogLine() != literal.logLine
                        || scanner.StepPrefix() != literal.stepPrefix) {
                        qWarning() << "round" << round << "piece" << QByteArray::fromStdString(piece);
                        QCOMPARE(actual, expected);
                        QCOMPARE(scanner.LogLine(), literal.logLine);
                        QCOMPARE(scanner.StepPrefix(), literal.stepPrefix);
                    }
                    if (text.empty())
                        break;
                }
            }
        }
        QVERIFY2(entries > 20000, "the random texts must give many entries to compare");
    }

    // Parse reads the file in pieces and keeps only where the markers stand:
    // the same entries and state as one scan of the whole CR LF text, after
    // the same earlier scans, with pieces of any size.
    void parseInPiecesAgreesWithTheWholeText()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.out");
        QRandomGenerator random(1208);
        int entries = 0;
        for (int round = 0; round < 700; ++round) {
            QByteArray text, before;
            for (int i = random.bounded(80); i > 0; --i)
                text += randomPart(random);
            for (int i = random.bounded(4); i > 0; --i)
                before += randomPart(random);
            QVERIFY(writeFile(path, text));
            GeometryScanner whole, inPieces;
            const QByteArray crLf = NormaliseLineEnds(text);
            QByteArrayList expected, actual;
            scanAll(whole, {before});
            scanAll(inPieces, {before});
            whole.ScanGeometryProgress(std::string_view(crLf.constData(), std::size_t(crLf.size())),
                                       [&](const QByteArray &e) { expected << e; });
            const qsizetype piece = 1 + random.bounded(round % 8 == 0 ? 8 : 300);
            ParseOutputFile(inPieces, path, [&](const QByteArray &e) { actual << e; }, piece);
            entries += int(actual.size());
            if (actual != expected || inPieces.StepPrefix() != whole.StepPrefix() || inPieces.LogLine() != whole.LogLine()) {
                qWarning() << "round" << round << "piece" << piece << "text" << text;
                QCOMPARE(actual, expected);
                QCOMPARE(inPieces.StepPrefix(), whole.StepPrefix());
                QCOMPARE(inPieces.LogLine(), whole.LogLine());
            }
        }
        QVERIFY2(entries > 3000, "the random texts must give many entries to compare");
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("CR LF kept") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("last line ended") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb\r\n");
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\n") << QByteArray("a\r\n\r\n");
        QTest::newRow("empty lines") << QByteArray("\n\n\r\n") << QByteArray("\r\n\r\n\r\n");
        QTest::newRow("break at the very end only") << QByteArray("\r") << QByteArray("\r\n");
    }
    void lineEnds()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, text);
        QCOMPARE(NormaliseLineEnds(file), text);
        // The same as joining the split lines with CR LF after each.
        QByteArray joined;
        for (const QByteArray &line : SplitTextLines(file))
            joined += line + "\r\n";
        QCOMPARE(joined, text);
    }

    // Splitting and the CR LF form against a byte-by-byte reading of the rule.
    void lineEndsAgreeWithTheRule()
    {
        static const char alphabet[] = {'a', '\r', '\n', ' ', 'b'};
        QRandomGenerator random(7);
        for (int round = 0; round < 3000; ++round) {
            QByteArray file;
            // Mostly short texts, some long enough for the vector code.
            const int length = round % 4 == 0 ? random.bounded(300) : random.bounded(24);
            for (int i = 0; i < length; ++i)
                file += alphabet[random.bounded(5)];
            QByteArrayList lines;
            QByteArray current;
            bool open = false;
            for (int i = 0; i < file.size(); ++i) {
                if (file[i] == '\r' || file[i] == '\n') {
                    lines << current;
                    current.clear();
                    open = false;
                    if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                        ++i;
                } else {
                    current += file[i];
                    open = true;
                }
            }
            if (open)
                lines << current;
            QCOMPARE(SplitTextLines(file), lines);
            QCOMPARE(NormaliseLineEnds(file), lines.isEmpty() ? QByteArray() : lines.join("\r\n") + "\r\n");
        }
    }

    // Megabytes of mixed line ends are widened in stretches, the read part of
    // the old buffer handed back on the way; a text that another copy shares
    // must come through untouched.
    void lineEndsOfLargeTexts()
    {
        static const char *const ends[] = {"\n", "\r\n", "\r"};
        QRandomGenerator random(11);
        QByteArray text, expected;
        while (text.size() < 9 * 1024 * 1024) {
            const QByteArray line(random.bounded(1, 200), char('a' + random.bounded(26)));
            text += line + ends[random.bounded(3)];
            expected += line + "\r\n";
        }
        text += "last";
        expected += "last\r\n";
        const QByteArray original(text.constData(), text.size());

        QCOMPARE(NormaliseLineEnds(text), expected);  // shares `text`
        QCOMPARE(text, original);
        QCOMPARE(NormaliseLineEnds(std::move(text)), expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath("mixed.out"), original));
        QCOMPARE(LoadCrLfText(dir.filePath("mixed.out")), expected);
    }

    // Parse scans the file with CR LF ends: what an entry copies, and how far
    // apart markers close to each other stand, count a lone CR or LF as two.
    void parseScansTheFileWithCrLfEnds_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArrayList>("expected");
        // The prefix reaches over the line break.
        QTest::newRow("LF ends") << QByteArray("  NSERCH=  1 SHORT\nMAXIMUM GRADIENT = 0.5\n")
                                 << QByteArrayList{"STEP =  1 SHORT\r\nMAXIMUM GRADIENT = 0RT\r\nMAXIMUM GRADIENT = 0.5\r\n"};
        // An end marker 29 bytes after a gradient marker is passed over, one 30 bytes after it is not.
        const QByteArray gradient = "MAXIMUM GRADIENT = 1";
        const QByteArray end = "abcdefghEQUILIBRIUM GEOMETRY LOCATED";
        QTest::newRow("end 29 bytes on") << gradient + "\r\n" + end.mid(1) << QByteArrayList{gradient + "\r\n" + end.mid(1) + "\r\n"};
        // A gradient marker in the first four bytes copies from the first one:
        // 61 bytes, the lone CR in their last bytes made CR LF.
        QTest::newRow("gradient at the start, a lone CR at the end of its copy")
            << gradient + QByteArray(38, 'x') + "\rAB\r\n" << QByteArrayList{gradient + QByteArray(38, 'x') + "\r\nA"};
        for (const char *lone : {"\n", "\r"})
            QTest::addRow("end 30 bytes on over a lone %s", lone[0] == '\n' ? "LF" : "CR")
                << gradient + lone + end
                << QByteArrayList{gradient + "\r\n" + end + "\r\n", "*** EQUILIBRIUM GEOMETRY LOCATED ***"};
        // The same with the lone break right behind the gradient marker, 11 bytes before the end marker.
        const QByteArray marker = "MAXIMUM GRADIENT =", tenBytes = "abcdefghij", located = end.mid(8);
        QTest::newRow("end 30 bytes on over a lone LF far before it")
            << marker + "\n" + tenBytes + located
            << QByteArrayList{marker + "\r\n" + tenBytes + located + "\r\n", "*** EQUILIBRIUM GEOMETRY LOCATED ***"};
    }
    void parseScansTheFileWithCrLfEnds()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("lf ends $x.out");
        QVERIFY(writeFile(path, file));
        GeometryScanner scanner;
        QByteArrayList entries;
        ParseOutputFile(scanner, path, [&](const QByteArray &e) { entries << e; });
        QCOMPARE(entries, expected);
    }

    void parseOfAMissingFileNamesIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("gone.out");
        GeometryScanner scanner;
        bool called = false;
        try {
            ParseOutputFile(scanner, path, [&](const QByteArray &) { called = true; });
            QFAIL("no error");
        } catch (const EFileError &error) {
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        }
        QVERIFY(!called);
        QVERIFY_THROWS_EXCEPTION(EFileError, LoadCrLfText(dir.path()));
    }
};

QTEST_GUILESS_MAIN(TestGeometryScanner)
#include "tst_geometryscanner.moc"
