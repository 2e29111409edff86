#include "analysis/OrbitalReport.h"
#include "analysis/TableExport.h"
#include "analysis/TextLines.h"
#include "platform/Errors.h"
#include "tests/helpers/Files.h"

#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

// A small Firefly-like output, laid out as the report reads it: the
// dimension block, the occupied-orbital count, the orbital printout in groups
// of five (each group B + 4 lines) and the energy blocks.
struct Output
{
    int occupied = 5;                 // N
    QByteArrayList dimensions = {" A   =  25"};
    int basis = 25;                   // lines of coefficients per group
    QList<double> orbitals;           // hartree; missing ones are filled in
    QByteArray symmetryMarker = " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).";
    QByteArray orbitalMarker = "          MOLECULAR ORBITALS";
    std::optional<QByteArray> lineM3; // replaces the line 3 below the orbital marker
    bool versionWarning = false;      // the warning at M + 3 and four lines more
    QList<double> energyBlocks = {-1.5}; // total energy of each ENERGY COMPONENTS block
    double energyAboveOrbitals = -7.25;  // 3 lines above the orbital marker
    bool vibration = false;
    double energyAboveVibration = -9.5;
    QByteArrayList extraTop;          // lines at the very start
    int printed = 0;                  // orbitals printed; 0: enough for N + 1

    double orbital(int i) const { return i < orbitals.size() ? orbitals[i] : -1.0 - 0.125 * i; }

    QByteArrayList lines() const
    {
        QByteArrayList out = extraTop;
        out << " FIREFLY VERSION 8.0.1" << "";
        out << "     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE";
        out << dimensions;
        out << "" << " ..... DONE SETTING UP THE RUN ....." << "";
        out << symmetryMarker;
        out << QByteArray::number(occupied).rightJustified(6) + " ORBITALS ARE OCCUPIED (    1 CORE ORBITALS).";
        out << "     1=A        2=A" << "";
        out << "          TOTAL ENERGY      =" + QByteArray::number(energyAboveOrbitals, 'f', 10).rightJustified(20);
        out << "" << "          ------------------";
        out << orbitalMarker << "          ------------------" << "";
        if (versionWarning)
            out << " WARNING! YOU ARE USING OUTDATED VERSION OF THE PC GAMESS!" << "" << "" << "" << "";
        else if (lineM3)
            out << *lineM3;
        else
            out << "";
        const int count = printed > 0 ? printed : std::max(occupied + 5, 10);
        for (int first = 0; first < count; first += 5) {
            if (first > 0)
                out << "" << "                      " + QByteArray::number(first + 1);
            QByteArray energies(15, ' ');
            for (int i = first; i < first + 5; ++i)
                energies += QByteArray::number(orbital(i), 'f', 4).rightJustified(11);
            out << energies << "                     A          A          A          A          A";
            for (int b = 1; b <= basis; ++b)
                out << QByteArray::number(b).rightJustified(5) + "  O   1  S   0.701357  -0.701441   0.010108   0.010521   0.004902";
        }
        out << "" << " ...... END OF RHF CALCULATION ......";
        for (double energy : energyBlocks) {
            out << "" << "          -----------------" << "          ENERGY COMPONENTS" << "          -----------------"
                << "" << "         WAVEFUNCTION NORMALIZATION =       1.0000000000" << ""
                << "                ONE ELECTRON ENERGY =    -122.1573265820"
                << "                TWO ELECTRON ENERGY =      46.2546141411"
                << "           NUCLEAR REPULSION ENERGY =       9.1247572271"
                << "                                      ------------------"
                << "                       TOTAL ENERGY =" + QByteArray::number(energy, 'f', 10).rightJustified(19)
                << "";
        }
        if (vibration) {
            out << "" << " DATA TO BE PUNCHED:"
                << "          TOTAL ENERGY      =" + QByteArray::number(energyAboveVibration, 'f', 10).rightJustified(20)
                << "  $VIB   " << " IVIB=   0 IATOM=   0 ICOORD=   0 E=" << " $END";
        }
        return out;
    }
};

QByteArray report(const Output &output, const QString &fileName = "/data/runs/water.out")
{
    return ExtractOrbitalReport(output.lines(), fileName);
}

// The lines as one text, ended by each of `ends` in turn, the last one too
// when asked: the form a file is read in.
QByteArray joined(const QByteArrayList &lines, const QByteArrayList &ends, bool lastEnded)
{
    QByteArray text;
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += lines[i] + (i + 1 < lines.size() || lastEnded ? ends[i % ends.size()] : QByteArray());
    return text;
}

// The line or the error of every text form of the lines (CR LF, LF, CR and
// all three mixed; the last line ended or not), which must agree.
QByteArray fromTexts(const QByteArrayList &lines, const QString &fileName)
{
    QByteArrayList outcomes;
    for (const QByteArrayList &ends : {QByteArrayList{"\r\n"}, {"\n"}, {"\r"}, {"\r\n", "\n", "\r"}}) {
        for (const bool lastEnded : {false, true}) {
            const QByteArray text = joined(lines, ends, lastEnded);
            try {
                outcomes << ExtractOrbitalReportRowFromText({text.constData(), std::size_t(text.size())}, fileName).line;
            } catch (const NeloError &error) {
                outcomes << error.message().toUtf8();
            }
        }
    }
    const QByteArray first = outcomes.first();
    return outcomes.count(first) == outcomes.size() ? first : "forms disagree: " + outcomes.join(" | ");
}

QString errorOf(const Output &output)
{
    try {
        report(output);
    } catch (const NeloError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

class TestOrbitalReport : public QObject
{
    Q_OBJECT

private slots:
    void wholeNumbers_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("value"); // INT_MIN: not a whole number
        QTest::newRow("right-aligned") << QByteArray("    35") << 35;
        QTest::newRow("signs") << QByteArray("  -3") << -3;
        QTest::newRow("plus") << QByteArray("+7") << 7;
        QTest::newRow("trailing blank") << QByteArray("  25  ") << INT_MIN;
        QTest::newRow("empty") << QByteArray() << INT_MIN;
        QTest::newRow("blanks only") << QByteArray("   ") << INT_MIN;
        QTest::newRow("two numbers") << QByteArray("3 4") << INT_MIN;
        QTest::newRow("hex") << QByteArray("$1F") << INT_MIN;
        QTest::newRow("C hex") << QByteArray("0x10") << INT_MIN;
        QTest::newRow("blank after sign") << QByteArray("- 5") << INT_MIN;
        QTest::newRow("decimal point") << QByteArray("5.0") << INT_MIN;
        QTest::newRow("largest") << QByteArray("2147483647") << INT_MAX;
        QTest::newRow("too large") << QByteArray("2147483648") << INT_MIN;
    }
    void wholeNumbers()
    {
        QFETCH(QByteArray, field);
        QFETCH(int, value);
        if (value != INT_MIN) {
            QCOMPARE(OrbitalReport::ReadWholeNumber(field.toStdString()), value);
            return;
        }
        try {
            OrbitalReport::ReadWholeNumber(field.toStdString());
            QFAIL("read as a whole number");
        } catch (const EConvertError &error) {
            QCOMPARE(error.message(), "'" + QString::fromLatin1(field) + "' is not a valid integer value");
        }
    }

    void decimalNumbers_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("blanks both ends") << QByteArray("    -0.4929 ") << true << -0.4929;
        QTest::newRow("exponent") << QByteArray("1.5E-2") << true << 0.015;
        QTest::newRow("small e, plus") << QByteArray(" +2e+3") << true << 2000.0;
        QTest::newRow("no integer digits") << QByteArray(".5") << true << 0.5;
        QTest::newRow("no fraction digits") << QByteArray("5.") << true << 5.0;
        QTest::newRow("empty") << QByteArray("") << false << 0.0;
        QTest::newRow("blanks") << QByteArray("           ") << false << 0.0;
        QTest::newRow("comma") << QByteArray("1,5") << false << 0.0;
        QTest::newRow("point only") << QByteArray(" . ") << false << 0.0;
        QTest::newRow("exponent without digits") << QByteArray("1e") << false << 0.0;
        QTest::newRow("exponent only") << QByteArray("e5") << false << 0.0;
        QTest::newRow("two signs") << QByteArray("--1") << false << 0.0;
        QTest::newRow("two points") << QByteArray("1.2.3") << false << 0.0;
        QTest::newRow("two numbers") << QByteArray("-0.49 0.21") << false << 0.0;
        QTest::newRow("inf") << QByteArray("inf") << false << 0.0;
        QTest::newRow("nan") << QByteArray("nan") << false << 0.0;
        QTest::newRow("hex float") << QByteArray("0x1p3") << false << 0.0;
        QTest::newRow("Fortran overflow") << QByteArray("***********") << false << 0.0;
        QTest::newRow("D exponent") << QByteArray("1.0D+00") << false << 0.0;
        QTest::newRow("beyond extended range") << QByteArray("1e5000") << false << 0.0;
    }
    void decimalNumbers()
    {
        QFETCH(QByteArray, field);
        QFETCH(bool, valid);
        QFETCH(double, value);
        if (valid) {
            QCOMPARE(double(OrbitalReport::ReadDecimalNumber(field.toStdString())), value);
            return;
        }
        try {
            OrbitalReport::ReadDecimalNumber(field.toStdString());
            QFAIL("read as a decimal number");
        } catch (const EConvertError &error) {
            QCOMPARE(error.message(), "'" + QString::fromLatin1(field) + "' is not a valid floating point value");
        }
    }

    void readsInExtendedPrecision()
    {
        // The value read keeps its 64-bit mantissa until the product is stored.
        QCOMPARE(OrbitalReport::ReadDecimalNumber("0.1"), 0.1L);
        QVERIFY(OrbitalReport::ReadDecimalNumber("0.1") != static_cast<long double>(0.1));
    }

    void formatting_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("signedText");
        const auto kcal = [](long double hartree) { return double(hartree * OrbitalReport::HartreeToKcalPerMol); };
        // Half away from zero on the decimal value, where printf("%.2f") rounds the binary one to .12.
        QTest::newRow("-750 hartree") << kcal(-750) << QByteArray("-470632.13") << QByteArray("-470632.13");
        // Ten significant digits at most.
        QTest::newRow("-1000000.1234 hartree") << kcal(-1000000.1234L) << QByteArray("-627509577.40") << QByteArray("-627509577.40");
        // The extended-precision product lies below .805; a double product would not.
        QTest::newRow("-190 hartree") << kcal(-190) << QByteArray("-119226.80") << QByteArray("-119226.80");
        QTest::newRow("zero") << 0.0 << QByteArray("0.00") << QByteArray("+0.00");
        QTest::newRow("negative rounds to zero") << -0.001 << QByteArray("0.00") << QByteArray("0.00");
        QTest::newRow("just below half a cent") << -0.0049 << QByteArray("0.00") << QByteArray("0.00");
        QTest::newRow("half a cent rounds up") << 0.005 << QByteArray("0.01") << QByteArray("+0.01");
        QTest::newRow("tie away from zero") << 0.125 << QByteArray("0.13") << QByteArray("+0.13");
        QTest::newRow("below the tie in binary") << 1.005 << QByteArray("1.00") << QByteArray("+1.00");
        QTest::newRow("carry into a new digit") << 99.995000001 << QByteArray("100.00") << QByteArray("+100.00");
        QTest::newRow("ten integer digits") << 1234567890.126 << QByteArray("1234567890.00") << QByteArray("+1234567890.00");
        QTest::newRow("eleven integer digits") << -12345678901.23 << QByteArray("-1.23456789E10") << QByteArray("-1.23456789E10");
        QTest::newRow("rounds up to eleven digits") << 9999999999.996 << QByteArray("1E10") << QByteArray("+1E10");
        QTest::newRow("plain") << -13.4126 << QByteArray("-13.41") << QByteArray("-13.41");
        QTest::newRow("below one") << 0.0707 << QByteArray("0.07") << QByteArray("+0.07");
    }
    void formatting()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, signedText);
        QCOMPARE(OrbitalReport::FormatNumber(value), text);
        QCOMPARE(OrbitalReport::FormatSignedNumber(value), signedText);
    }

    void nameField_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("padded to 15") << "/home/chem/runs/water.out" << QByteArray("water          ");
        QTest::newRow("14 characters get one blank") << "/x/abcdefghijklmn.out" << QByteArray("abcdefghijklmn ");
        QTest::newRow("15 characters") << "/x/abcdefghijklmno.out" << QByteArray("abcdefghijklmno");
        QTest::newRow("longer is kept whole") << "/x/abcdefghijklmnopq.out" << QByteArray("abcdefghijklmnopq");
        QTest::newRow("last dot only") << "/x/a.b.out" << QByteArray("a.b            ");
        QTest::newRow("dot in the folder") << "/x.d/name" << QByteArray("name           ");
        QTest::newRow("no folder") << "benzene.log" << QByteArray("benzene        ");
        QTest::newRow("blank in the name") << "/x/my run.out" << QByteArray("my run         ");
    }
    void nameField()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, name);
        QCOMPARE(OrbitalReport::NameField(path), name);
    }

    void reportLine_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("expected");

        Output water;
        water.orbitals = {-20.5, -1.3, -0.7, -0.55, -0.4929, 0.2107, 0.3};
        QTest::newRow("water: N = 5, B = 25") << water.lines()
                                              << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output ten;
        ten.occupied = 10;
        ten.basis = 7;
        ten.dimensions = {" A   =   7"};
        ten.orbitals = {-9, -8, -7, -6, -5, -4, -3, -2, -1, -0.5, 0.25, 0.75};
        QTest::newRow("N = 10: next groups")
            << ten.lines() << QByteArray("water          \t-13.61\t+6.80\t+20.41\t-941.26");

        Output warned = water;
        warned.versionWarning = true;
        QTest::newRow("version warning at M + 3") << warned.lines()
                                                  << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output lowerWarning = water;
        lowerWarning.lineM3 = " warning! you are using outdated version of the pc gamess!";
        QTest::newRow("warning in other letter case does not count")
            << lowerWarning.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");
        Output blankWarning = water;
        blankWarning.lineM3 = " WARNING! YOU ARE USING OUTDATED VERSION OF THE PC GAMESS! ";
        QTest::newRow("warning with a trailing blank does not count")
            << blankWarning.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");
        Output warningElsewhere = water;
        warningElsewhere.extraTop = {" WARNING! YOU ARE USING OUTDATED VERSION OF THE PC GAMESS!"};
        QTest::newRow("warning elsewhere does not count")
            << warningElsewhere.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output lower = water;
        lower.orbitalMarker = "          molecular Orbitals";
        lower.symmetryMarker = " symmetries for initial guess orbitals follow.   both set(s).";
        QTest::newRow("markers in lower case") << lower.lines()
                                               << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output alpha = water;
        alpha.symmetryMarker = " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).";
        QTest::newRow("ALPHA variant") << alpha.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        // BOTH wins over an earlier ALPHA line whose count would be wrong.
        Output both = water;
        both.extraTop = {" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).", "     2 ORBITALS"};
        QTest::newRow("BOTH before ALPHA") << both.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output eigen = water;
        eigen.orbitalMarker = "          EIGENVECTORS";
        eigen.energyBlocks = {-1.5, -2.0};
        QTest::newRow("EIGENVECTORS variant")
            << eigen.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-1255.02");

        Output sym = water;
        sym.dimensions = {" AG  =  10      AU  =   5      BU  =   7      BG  =   3"};
        QTest::newRow("symmetry blocks are summed") << sym.lines()
                                                    << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");
        Output symTwoLines = water;
        symTwoLines.dimensions = {" AG  =   6      B1G =   4      B2G =   2      B3G =   3",
                                  " AU  =   1      B1U =   3      B2U =   4      B3U =   2"};
        QTest::newRow("symmetry blocks on two lines") << symTwoLines.lines()
                                                      << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26");

        Output three = water;
        three.energyBlocks = {-1.0, -2.0, -3.0};
        QTest::newRow("three energy blocks: the second") << three.lines()
                                                          << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-1255.02");
        Output one = water;
        one.energyBlocks = {-0.5};
        QTest::newRow("one energy block") << one.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-313.75");
        Output none = water;
        none.energyBlocks = {};
        QTest::newRow("no energy block: 3 lines above MOLECULAR ORBITALS")
            << none.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-4549.44");
        Output vib = none;
        vib.orbitalMarker = "          EIGENVECTORS";
        vib.vibration = true;
        QTest::newRow("no energy block, no MOLECULAR ORBITALS: above $VIB")
            << vib.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-5961.34");

        // The product is taken in extended precision: a double one gives -119226.81.
        Output extended = water;
        extended.energyBlocks = {-190};
        QTest::newRow("-190 hartree") << extended.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-119226.80");
        Output tie = water;
        tie.energyBlocks = {-750};
        QTest::newRow("-750 hartree") << tie.lines() << QByteArray("water          \t-13.41\t+5.73\t+19.15\t-470632.13");

        Output gapZero = water;
        gapZero.orbitals = {-3, -2, -1, -0.5, -0.25, -0.25};
        QTest::newRow("gap of zero") << gapZero.lines() << QByteArray("water          \t-6.80\t-6.80\t+0.00\t-941.26");
        Output tiny = water;
        tiny.orbitals = {-3, -2, -1, -0.5, -0.0000367, 1.0};
        QTest::newRow("HOMO that rounds to zero")
            << [&] {
                   QByteArrayList lines = tiny.lines();
                   // Four decimals cannot hold it: write the field by hand.
                   for (QByteArray &line : lines) {
                       if (line.contains("    -0.0000"))
                           line.replace(59, 11, " -0.0000367");
                   }
                   return lines;
               }()
            << QByteArray("water          \t0.00\t+27.21\t+27.21\t-941.26");
    }
    void reportLine()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, expected);
        try {
            QCOMPARE(ExtractOrbitalReport(lines, "/data/runs/water.out"), expected);
        } catch (const NeloError &error) {
            QFAIL(qPrintable(error.message()));
        }
        QCOMPARE(fromTexts(lines, "/data/runs/water.out"), expected);
    }

    void errors_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QString>("message");

        Output water;
        water.orbitals = {-20.5, -1.3, -0.7, -0.55, -0.4929, 0.2107};

        Output symGarbage = water;
        symGarbage.dimensions = {" AG  =  25      AU  =   five"};
        QTest::newRow("blocks that do not read keep the integer error")
            << symGarbage.lines() << "'  25  ' is not a valid integer value";

        const QString noSymmetryMarker = "Marker line \" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).\" or "
                                         "\" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).\" not found";
        Output noSymmetry = water;
        noSymmetry.symmetryMarker = " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S). ";
        QTest::newRow("marker with a trailing blank does not match") << noSymmetry.lines() << noSymmetryMarker;
        Output leadingBlank = water;
        leadingBlank.symmetryMarker = "  SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).";
        QTest::newRow("marker with a blank more in front does not match") << leadingBlank.lines() << noSymmetryMarker;

        QByteArrayList noDimension = water.lines();
        noDimension.removeAll("     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE");
        QTest::newRow("no dimension marker")
            << noDimension << "Marker line \"     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE\" not found";

        Output noOrbitals = water;
        noOrbitals.orbitalMarker = "          MOLECULAR ORBITAL";
        QTest::newRow("no orbital marker")
            << noOrbitals.lines() << "Marker line \"          MOLECULAR ORBITALS\" or \"          EIGENVECTORS\" not found";

        Output noEnergy = water;
        noEnergy.orbitalMarker = "          EIGENVECTORS";
        noEnergy.energyBlocks = {};
        QTest::newRow("no source of the total energy")
            << noEnergy.lines()
            << "Marker line \"          ENERGY COMPONENTS\", \"          MOLECULAR ORBITALS\" or \"  $VIB   \" not found";

        QByteArrayList badCountLines = water.lines();
        badCountLines[badCountLines.indexOf(water.symmetryMarker) + 1] = "  3x   ORBITALS ARE OCCUPIED";
        QTest::newRow("occupied count not a number") << badCountLines << "'  3x  ' is not a valid integer value";

        QByteArrayList badEnergy = water.lines();
        for (QByteArray &line : badEnergy) {
            if (line.contains("    -0.4929"))
                line.replace(59, 11, "   -0.49x29");
        }
        QTest::newRow("orbital energy not a number") << badEnergy << "'   -0.49x29' is not a valid floating point value";

        // Each energy fits a double in eV, their difference does not.
        QByteArrayList overflow = water.lines();
        for (QByteArray &line : overflow)
            line.replace("    -0.4929", "  -6.5E+306").replace("     0.2107", "   6.5E+306");
        QTest::newRow("gap that overflows") << overflow << "'   6.5E+306' is not a valid floating point value";


        QByteArrayList cut = water.lines();
        const qsizetype energyAt = cut.lastIndexOf("          ENERGY COMPONENTS");
        cut = cut.mid(0, energyAt + 5);
        QTest::newRow("total energy line beyond the text") << cut << QString("List index out of bounds (%1)").arg(energyAt + 8);
    }
    void errors()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QString, message);
        try {
            ExtractOrbitalReport(lines, "/x/water.out");
            QFAIL("no error");
        } catch (const NeloError &error) {
            QCOMPARE(error.message(), message);
        }
        QCOMPARE(QString::fromUtf8(fromTexts(lines, "/x/water.out")), message);
    }

    void listIndexNamesTheIndex()
    {
        Output water;
        water.occupied = 50; // HOMO in group 9: line M + 4 + 9 * 29, not printed
        water.printed = 10;
        const QByteArrayList lines = water.lines();
        const qsizetype m = lines.indexOf("          MOLECULAR ORBITALS");
        QCOMPARE(errorOf(water), QString("List index out of bounds (%1)").arg(m + 4 + 9 * 29));
        QCOMPARE(QString::fromUtf8(fromTexts(lines, "/x/water.out")), errorOf(water));
    }

    // The numbers behind a line are the products as stored, not rounded;
    // the CSV holds them in full, and the table's texts beside them.
    void reportAsCsv()
    {
        using namespace OrbitalReport;
        Output water;
        water.orbitals = {-20.5, -1.3, -0.7, -0.55, -0.4929, 0.2107};
        const QByteArrayList lines = water.lines();
        std::vector<std::string_view> views;
        for (const QByteArray &line : lines)
            views.emplace_back(line.constData(), size_t(line.size()));
        const OrbitalReportRow row = ExtractOrbitalReportRow(views, "/data/a, \"b\".out");
        QCOMPARE(row.line, report(water, "/data/a, \"b\".out"));
        QCOMPARE(row.homo, double(-0.4929L * HartreeToElectronvolt));
        QCOMPARE(row.lumo, double(0.2107L * HartreeToElectronvolt));
        QCOMPARE(row.gap, double(static_cast<long double>(row.lumo) - row.homo));
        QCOMPARE(row.total, double(-1.5L * HartreeToKcalPerMol));

        const QByteArrayList csv = OrbitalReportCsv({row, {"/x/plain.out", -0.5, 1e-7, 0.25, -941.125, "plain\t-0.50\t+0.00\t+0.25\t-941.13"}}).split('\n');
        QCOMPARE(csv.size(), 4);
        QCOMPARE(csv[0], QByteArray("file,homo_ev,lumo_ev,gap_ev,total_kcal_mol,homo_ev_table,lumo_ev_table,gap_ev_table,"
                                    "total_kcal_mol_table"));
        QVERIFY2(csv[1].startsWith("\"/data/a, \"\"b\"\".out\",") && csv[1].endsWith(",-13.41,+5.73,+19.15,-941.26"),
                 csv[1].constData());
        const QByteArrayList fields = csv[1].mid(csv[1].indexOf(".out\",") + 6).split(',');
        QCOMPARE(fields.size(), 8);
        for (int i = 0; i < 4; ++i) // every digit: the text reads back as the same double, exactly
            QVERIFY2(fields[i].toDouble() == (QList<double>{row.homo, row.lumo, row.gap, row.total})[i], fields[i]);
        QCOMPARE(csv[2], QByteArray("/x/plain.out,-0.5,1e-07,0.25,-941.125,-0.50,+0.00,+0.25,-941.13"));
        QCOMPARE(csv[3], QByteArray());
    }

    void fileOverloadReadsTheFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Output water;
        water.orbitals = {-20.5, -1.3, -0.7, -0.55, -0.4929, 0.2107};
        const QString path = dir.filePath("water.out");
        QVERIFY(writeFile(path, water.lines().join("\r\n")));
        QCOMPARE(ExtractOrbitalReport(path), QByteArray("water          \t-13.41\t+5.73\t+19.15\t-941.26"));

        try {
            ExtractOrbitalReport(dir.filePath("missing.out"));
            QFAIL("no error");
        } catch (const EFileError &error) {
            QVERIFY2(error.message().contains(dir.filePath("missing.out")), qPrintable(error.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TestOrbitalReport)
#include "tst_orbitalreport.moc"
