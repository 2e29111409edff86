// The Firefly stand-in is what the runner, main-window and demo rely on in
// place of Firefly: its command line, its progressively written CR LF
// transcript, the layout the analysis reads, and the test controls.

#include "analysis/ContinuationDeck.h"
#include "analysis/GeometryScanner.h"
#include "analysis/OrbitalReport.h"
#include "jobs/CommandLine.h"
#include "jobs/JobSettings.h"
#include "tests/helpers/Samples.h"
#include "tests/helpers/Standin.h"

#include <QHash>
#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <sys/types.h>

namespace {

const QString kStandin = QStringLiteral(NELO_FIREFLY_STANDIN);
const QString kExamples = QStringLiteral(NELO_EXAMPLES_DIR);
const QString kSamples = QStringLiteral(NELO_SAMPLES_DIR);

struct Result
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    bool outputExists = false;
    QByteArray output;
};

// Firefly's command line as Nelo passes it, plus extra words.
QStringList Contract(const QString &input, const QString &output, const QStringList &extra = {}, int cores = 1)
{
    return QStringList{"-i", input, "-o", output, "-b", ""} + extra
           + QStringList{"-np", QString::number(cores), "-t", QFileInfo(output).absolutePath() + "/"};
}

Result Run(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(kStandin, arguments);
    Result r;
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.exitCode = process.exitCode();
    r.exitStatus = process.exitStatus();
    const int o = arguments.indexOf("-o");
    if (o >= 0) {
        QFile file(arguments.at(o + 1));
        r.outputExists = file.exists();
        if (file.open(QIODevice::ReadOnly))
            r.output = file.readAll();
    }
    return r;
}

QByteArrayList Lines(const QByteArray &text)
{
    QByteArrayList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

QMap<QByteArray, QByteArray> Summary(const QString &path)
{
    QFile file(path);
    QMap<QByteArray, QByteArray> values;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : Lines(file.readAll())) {
            const int blank = line.indexOf(' ');
            if (line.startsWith("step "))
                values.insert("step" + line.mid(5, line.indexOf(' ', 5) - 5), line.mid(line.indexOf(' ', 5) + 1));
            else
                values.insert(line.left(blank), line.mid(blank + 1));
        }
    return values;
}

// Field at column `column` (from 1), `width` bytes, as the report reads it.
QByteArray Field(const QByteArray &line, int column, int width)
{
    return line.mid(column - 1, width);
}

int Find(const QByteArrayList &lines, const QByteArray &marker, int from = 0)
{
    for (int i = from; i < lines.size(); ++i)
        if (lines.at(i).compare(marker, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool Alive(qint64 pid)
{
    // A zombie has ended; only its parent has not collected it yet.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}

} // namespace

class TestFireflyStandin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(kStandin).isExecutable(), qPrintable(kStandin));
    }

    // Every run the report can read: the marker lines stand where the
    // report looks, and the numbers there are the ones the stand-in meant.
    void orbitalLayout_data()
    {
        QTest::addColumn<QString>("input");  // a path, or the input text itself
        QTest::addColumn<bool>("search");
        QTest::addColumn<int>("electrons");
        QTest::addColumn<int>("basis");
        QTest::newRow("water optimisation") << kExamples + "/water-optimise.inp" << true << 10 << 19;
        QTest::newRow("methane single point") << kExamples + "/methane-energy.inp" << false << 10 << 17;
        QTest::newRow("real input, symmetry CNH 2") << kSamples + "/dvb_gopt_a.inp" << true << 70 << 60;
        QTest::newRow("real input, UHF cation") << kSamples + "/dvb_un_sp.inp" << false << 69 << 60;
        QTest::newRow("real input, Z-matrix") << kSamples + "/water_mp2.inp" << false << 10 << 7;
        // Above 100 basis functions only the orbitals up to ten above the LUMO are printed.
        QTest::newRow("large basis, printout cut short")
            << QString(" $CONTRL RUNTYP=ENERGY $END\n $BASIS GBASIS=N31 NGAUSS=6 NDFUNC=1 $END\n $DATA\nbenzene\nC1\n"
            " C 6.0 1.3900 0.0000 0.0\n"
            " C 6.0 0.6950 1.2038 0.0\n"
            " C 6.0 -0.6950 1.2038 0.0\n"
            " C 6.0 -1.3900 0.0000 0.0\n"
            " C 6.0 -0.6950 -1.2038 0.0\n"
            " C 6.0 0.6950 -1.2038 0.0\n"
            " H 1.0 2.4700 0.0000 0.0\n"
            " H 1.0 1.2350 2.1391 0.0\n"
            " H 1.0 -1.2350 2.1391 0.0\n"
            " H 1.0 -2.4700 0.0000 0.0\n"
            " H 1.0 -1.2350 -2.1391 0.0\n"
            " H 1.0 1.2350 -2.1391 0.0\n $END\n") << false << 42 << 102;
    }
    void orbitalLayout()
    {
        QFETCH(QString, input);
        QFETCH(bool, search);
        QFETCH(int, electrons);
        QFETCH(int, basis);
        QTemporaryDir dir;
        if (input.startsWith(" $")) {
            QFile file(dir.filePath("job.inp"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(input.toLatin1());
            input = file.fileName();
        }
        if (input.startsWith(kSamples))
            NELO_REQUIRE_SAMPLES();
        const QString out = dir.filePath("job.out"), summaryFile = dir.filePath("summary");
        const Result r = Run(Contract(input, out, {"--standin-pace=0", "--standin-summary=" + summaryFile}));
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        const auto summary = Summary(summaryFile);
        QCOMPARE(summary.value("electrons").toInt(), electrons);
        QCOMPARE(summary.value("basis").toInt(), basis);
        QCOMPARE(summary.value("search").toInt(), int(search));

        const QByteArrayList lines = Lines(r.output);

        // The basis table (other programs read the basis from it): shells
        // numbered from 1 in order, as many as the total says, with their
        // functions adding up to the basis size.
        const int table = Find(lines, " SHELL TYPE PRIM    EXPONENT          CONTRACTION COEFFICIENTS");
        QVERIFY(table >= 0);
        const QHash<QByteArray, int> functionsOf = {{"S", 1}, {"P", 3}, {"L", 4}, {"D", 6}, {"F", 10}};
        int shells = 0, functions = 0, t = table + 1;
        for (; t < lines.size() && !lines.at(t).startsWith(" TOTAL NUMBER OF SHELLS "); ++t) {
            const QByteArrayList fields = lines.at(t).simplified().split(' ');
            if (fields.size() < 5 || fields.at(0).toInt() == shells)
                continue;  // a blank line, an atom's name, a shell's next primitive
            QCOMPARE(fields.at(0).toInt(), shells + 1);
            QVERIFY2(functionsOf.contains(fields.at(1)), lines.at(t).constData());
            ++shells;
            functions += functionsOf.value(fields.at(1));
        }
        QVERIFY(t < lines.size());
        QCOMPARE(lines.at(t).mid(lines.at(t).indexOf('=') + 1).trimmed().toInt(), shells);
        QCOMPARE(functions, basis);

        int s = Find(lines, " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).");
        const bool unrestricted = s < 0;
        if (unrestricted)
            s = Find(lines, " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).");
        QVERIFY(s >= 0);
        const int n = Field(lines.at(s + 1), 1, 6).toInt();
        QCOMPARE(n, summary.value("occupied").toInt());
        const int d = Find(lines, "     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE");
        QVERIFY(d >= 0);
        const QByteArray bField = Field(lines.at(d + 1), 7, 6);
        QVERIFY2(!bField.endsWith(' '), bField.constData());  // the report takes no trailing blank
        QCOMPARE(bField.trimmed().toInt(), basis);

        // One symmetry-label line per group of five orbitals, per spin set and printout.
        const int printed = basis > 100 ? qMin(basis, n + 10) : basis;
        const qsizetype groups = std::count_if(lines.begin(), lines.end(), [](const QByteArray &line) {
            return line.startsWith(QByteArray(15, ' ') + "      A    ");
        });
        QCOMPARE(groups, (printed + 4) / 5 * (unrestricted ? 2 : 1) * (search ? 2 : 1));

        // A search prints the first orbitals as EIGENVECTORS and the located
        // ones as MOLECULAR ORBITALS, then a second ENERGY COMPONENTS block;
        // the report must read the located values.
        QCOMPARE(Find(lines, "          MOLECULAR ORBITALS") >= 0, search);
        const auto eV = [&](const char *key) { return summary.value(key).toDouble() * 27.21138469L; };
        const auto signedField = [](double v) { return (v >= 0 ? "+" : "") + QByteArray::number(v, 'f', 2); };
        const QByteArray expected = "job            \t" + signedField(eV("homo_hartree")) + '\t'
                                    + signedField(eV("lumo_hartree")) + '\t'
                                    + signedField(eV("lumo_hartree") - eV("homo_hartree")) + '\t'
                                    + QByteArray::number(summary.value("total_energy_hartree").toDouble() * 627.5095L, 'f', 2);
        QCOMPARE(ExtractOrbitalReport(out), expected);
    }

    // The progress log of an optimisation: the search start, one entry per
    // step with the energy and gradients the stand-in meant, the end.
    void searchProgress()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("water.out"), summaryFile = dir.filePath("summary");
        const Result r = Run(Contract(kExamples + "/water-optimise.inp", out,
                                      {"--standin-pace=0", "--standin-summary=" + summaryFile}));
        QCOMPARE(r.exitCode, 0);
        const auto summary = Summary(summaryFile);
        QCOMPARE(summary.value("converged"), "1");

        QByteArrayList expected{"*** BEGINNING GEOMETRY SEARCH ***"};
        for (int k = 0; summary.contains("step" + QByteArray::number(k)); ++k) {
            const QList<QByteArray> v = summary.value("step" + QByteArray::number(k)).split(' ');
            expected << "STEP =" + QByteArray::number(k).rightJustified(3) + "     ENERGY=" + v.at(0).rightJustified(16)
                            + "    MAXIMUM GRADIENT =" + v.at(1).rightJustified(11) + "    RMS GRADIENT ="
                            + v.at(2).rightJustified(10);
        }
        expected << "*** EQUILIBRIUM GEOMETRY LOCATED ***";
        QVERIFY(expected.size() >= 6);

        GeometryScanner scanner;
        QByteArrayList entries;
        scanner.ScanGeometryProgress(std::string_view(r.output.constData(), size_t(r.output.size())),
                                     [&](const QByteArray &entry) { entries << entry; });
        QCOMPARE(entries, expected);

        // The search converges: energies fall, the last gradient is below OPTTOL.
        double previous = 0, gradient = 1;
        for (int k = 0; summary.contains("step" + QByteArray::number(k)); ++k) {
            const QList<QByteArray> v = summary.value("step" + QByteArray::number(k)).split(' ');
            QVERIFY(k == 0 || v.at(0).toDouble() < previous);
            previous = v.at(0).toDouble();
            gradient = v.at(1).toDouble();
        }
        QVERIFY(gradient < 1e-4);
    }

    // Too few steps allowed, too few SCF iterations: the search stops
    // without the end marker, in Firefly's words; the run ends normally.
    void searchOrScfStopsShort_data()
    {
        QTest::addColumn<QByteArray>("groups");
        QTest::addColumn<int>("gradients");
        QTest::addColumn<QByteArray>("failure");
        QTest::addColumn<QByteArray>("next");
        QTest::newRow("too few steps")
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE $END\n $STATPT NSTEP=2 $END\n") << 2
            << QByteArray("          ***** FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN *****")
            << QByteArray(" ......END OF GEOMETRY SEARCH......");
        QTest::newRow("SCF of a single point") << QByteArray(" $CONTRL RUNTYP=ENERGY MAXIT=10 $END\n") << 0
                                               << QByteArray(" SCF IS UNCONVERGED, TOO MANY ITERATIONS") << QByteArray();
        QTest::newRow("SCF of a search")
            << QByteArray(" $CONTRL RUNTYP=OPTIMIZE MAXIT=5 $END\n") << 0
            << QByteArray("          ***** FAILURE TO LOCATE STATIONARY POINT, SCF HAS NOT CONVERGED *****")
            << QByteArray(" ......END OF GEOMETRY SEARCH......");
    }
    void searchOrScfStopsShort()
    {
        QFETCH(QByteArray, groups);
        QFETCH(int, gradients);
        QFETCH(QByteArray, failure);
        QFETCH(QByteArray, next);
        QTemporaryDir dir;
        const QString input = dir.filePath("short.inp"), summaryFile = dir.filePath("summary");
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(groups + " $DATA\nHF\nC1\n F 9.0 0 0 0\n H 1.0 0 0 0.95\n $END\n");
        file.close();
        const Result r = Run(Contract(input, dir.filePath("short.out"), {"--standin-pace=0", "--standin-summary=" + summaryFile}));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.output.count("MAXIMUM GRADIENT ="), gradients);
        QVERIFY(!r.output.contains("EQUILIBRIUM GEOMETRY LOCATED"));
        const QByteArrayList lines = Lines(r.output);
        const qsizetype at = lines.indexOf(failure);
        QVERIFY(at > 0);
        QCOMPARE(lines.value(at + 1), next);
        QCOMPARE(r.output.contains("DENSITY CONVERGED"), gradients > 0);
        QCOMPARE(Summary(summaryFile).value("scf_converged"), QByteArray(gradients > 0 ? "1" : "0"));
        QVERIFY(lines.last().startsWith(" EXECUTION OF FIREFLY TERMINATED NORMALLY "));
    }

    // Every NSERCH, and the located geometry, print the $DATA atoms before
    // the whole molecule; a search started from a geometry it printed needs
    // only the steps it had left, and heads for the same place.
    void searchGoesOnFromTheGivenGeometry_data()
    {
        QTest::addColumn<QByteArray>("deck");
        QTest::addColumn<int>("from");  // the step whose geometry the second run starts from
        QTest::addColumn<int>("steps"); // the steps of the whole search
        QTest::addColumn<int>("atoms"); // unique ones
        const QByteArray c2v = " $CONTRL RUNTYP=OPTIMIZE $END\r\n $STATPT OPTTOL=1.0E-6 $END\r\n $DATA\r\nWater\r\nCNV 2\r\n\r\n"
                               " O 8.0 0.0 0.0 0.124\r\n H 1.0 0.0 0.792 -0.496\r\n $END\r\n";
        QTest::newRow("C1, from its start") << twelveStepSearch(40) << 0 << 12 << 3;
        QTest::newRow("C1, from step 4") << twelveStepSearch(40) << 4 << 12 << 3;
        QTest::newRow("C1, from step 8") << twelveStepSearch(40) << 8 << 12 << 3;
        QTest::newRow("CNV 2, two unique atoms of three, from step 3") << c2v << 3 << 15 << 2;
    }
    void searchGoesOnFromTheGivenGeometry()
    {
        QFETCH(QByteArray, deck);
        QFETCH(int, from);
        QFETCH(int, steps);
        QFETCH(int, atoms);
        QTemporaryDir dir;
        const auto run = [&](const QByteArray &input, const QString &name) {
            QFile file(dir.filePath(name + ".inp"));
            file.open(QIODevice::WriteOnly);
            file.write(input);
            file.close();
            return Run(Contract(file.fileName(), dir.filePath(name + ".out"), {"--standin-pace=0"})).output;
        };
        const QByteArray first = run(deck, "first");
        const QByteArray unique = " COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)";
        QCOMPARE(first.count(unique), steps + 1);
        const QByteArrayList lines = Lines(first);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].startsWith(" NSERCH="))
                QCOMPARE(lines.value(i + 2), unique);
            if (lines[i] == unique) // the molecule follows its unique atoms
                QCOMPARE(lines.value(i + 4 + atoms), QByteArray(" COORDINATES OF ALL ATOMS ARE (ANGS)"));
        }
        qsizetype cut = 0;
        for (int k = 0; k <= from; ++k)
            cut = first.indexOf(unique, cut) + 1;
        cut = first.indexOf(unique, cut);
        const ContinuationDeck next = MakeContinuationDeck({first.constData(), std::size_t(cut)}, std::string_view(deck.constData(), std::size_t(deck.size())));
        QCOMPARE(next.reason, QString());
        const QByteArray second = run(next.deck, "second");
        QCOMPARE(second.count(unique), steps - from + 1);
        QVERIFY(second.contains("EQUILIBRIUM GEOMETRY LOCATED"));
        const auto located = [&](const QByteArray &output) { return output.mid(output.lastIndexOf(unique), 400); };
        QCOMPARE(located(second), located(first));
    }

    void crlfAndDeterminism()
    {
        QTemporaryDir dir;
        const QString input = kExamples + "/water-optimise.inp";
        const Result a = Run(Contract(input, dir.filePath("a.out"), {"--standin-pace=0"}));
        const Result b = Run(Contract(input, dir.filePath("b.out"), {"--standin-pace=0"}));
        QVERIFY(a.output.endsWith("\r\n"));
        QCOMPARE(a.output.count('\n'), a.output.count("\r\n"));
        QCOMPARE(a.output.count('\r'), a.output.count("\r\n"));
        // Only clock readings differ between two runs of the same input.
        auto numbers = [](const QByteArray &text) {
            QByteArrayList kept;
            for (const QByteArray &line : Lines(text))
                if (!line.contains("TIME") && !line.contains("UTILIZATION") && !line.contains("FIREFLY BEGUN")
                    && !line.contains("TERMINATED NORMALLY"))
                    kept << line;
            return kept;
        };
        QCOMPARE(numbers(a.output), numbers(b.output));
        QVERIFY(numbers(a.output).size() > 300);
    }

    void faultyInput_data()
    {
        QTest::addColumn<QByteArray>("input");  // empty: the input file does not exist
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("example: charge forgotten") << QByteArray("@ammonium-fails.inp") << QByteArray("ELECTRONS (11)");
        QTest::newRow("no $DATA") << QByteArray(" $CONTRL RUNTYP=ENERGY $END\n") << QByteArray("NO $DATA GROUP");
        QTest::newRow("unknown atom")
            << QByteArray(" $DATA\nt\nC1\n XX 0.0 0 0 0\n $END\n") << QByteArray("UNKNOWN ATOM \"XX\"");
        QTest::newRow("unknown atom in Z-matrix")
            << QByteArray(" $CONTRL COORD=ZMT $END\n $DATA\nt\nC1\n Qq\n $END\n") << QByteArray("UNKNOWN ATOM \"Qq\"");
        QTest::newRow("no $END") << QByteArray(" $DATA\nt\nC1\n H 1.0 0 0 0\n") << QByteArray("NO $END");
        QTest::newRow("missing input file") << QByteArray() << QByteArray("UNABLE TO OPEN THE INPUT FILE");
    }
    void faultyInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, message);
        QTemporaryDir dir;
        QString path = dir.filePath("job.inp");
        if (input.startsWith('@')) {
            path = kExamples + '/' + QString::fromLatin1(input.mid(1));
        } else if (!input.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(input);
        }
        const Result r = Run(Contract(path, dir.filePath("job.out"), {"--standin-pace=0"}));
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.outputExists);
        QVERIFY2(r.output.contains(message), r.output.right(400).constData());
        // Firefly's last words come without a line break.
        QVERIFY(!r.output.endsWith('\n'));
        QVERIFY(Lines(r.output).last().startsWith(" EXECUTION OF FIREFLY TERMINATED -ABNORMALLY-"));
        QVERIFY(!r.output.contains("ENERGY COMPONENTS"));
    }

    // Written while it runs, in several pieces, and the process lives until done.
    void growsProgressively()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("water.out");
        QProcess process;
        process.start(kStandin, Contract(kExamples + "/water-optimise.inp", out, {"--standin-pace=0.3"}));
        QVERIFY(process.waitForStarted());
        QList<qint64> sizes;
        while (process.state() != QProcess::NotRunning) {
            const qint64 size = QFileInfo(out).size();
            if (sizes.isEmpty() || size != sizes.last())
                sizes << size;
            process.waitForFinished(50);
        }
        const qint64 final = QFile(out).size();
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(sizes.size() >= 8, qPrintable(QString::number(sizes.size())));
        QVERIFY(std::is_sorted(sizes.begin(), sizes.end()));
        QVERIFY(sizes.first() < final / 4);
    }

    void crashAfterLines_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QStringList>("more");
        QTest::newRow("kill after 5") << 5 << "KILL" << QStringList();
        QTest::newRow("segfault after 200") << 200 << "SEGV" << QStringList();
        QTest::newRow("within a burst") << 12000 << "9" << QStringList{"--standin-burst=2"};
        QTest::newRow("right after creating the file") << 0 << "KILL" << QStringList();
    }
    void crashAfterLines()
    {
        QFETCH(int, lines);
        QFETCH(QString, signal);
        QFETCH(QStringList, more);
        QTemporaryDir dir;
        const Result r = Run(Contract(kExamples + "/water-optimise.inp", dir.filePath("w.out"),
                                      QStringList{"--standin-pace=0", QString("--standin-crash-after=%1").arg(lines),
                                                  "--standin-crash-signal=" + signal}
                                          + more));
        QCOMPARE(r.exitStatus, QProcess::CrashExit);
        QCOMPARE(r.exitCode, signal == "SEGV" ? SIGSEGV : SIGKILL);
        QVERIFY(r.outputExists);
        QCOMPARE(r.output.count('\n'), lines);
        QVERIFY(lines == 0 || r.output.endsWith("\r\n"));
        QVERIFY(!QFileInfo::exists(dir.filePath("core")));
    }

    void controls_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("outputExists");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("no output") << QStringList{"--standin-no-output"} << QStringList() << 0 << false << QByteArray();
        QTest::newRow("no output, by environment")
            << QStringList() << QStringList{"FIREFLY_STANDIN_NO_OUTPUT=1"} << 0 << false << QByteArray();
        QTest::newRow("last line without break")
            << QStringList{"--standin-no-final-newline"} << QStringList() << 0 << true << QByteArray("-2026");
        QTest::newRow("exit status") << QStringList{"--standin-exit=7"} << QStringList() << 7 << true
                                     << QByteArray("\r\n");
        QTest::newRow("word wins over environment")
            << QStringList{"--standin-exit=3"} << QStringList{"FIREFLY_STANDIN_EXIT=9"} << 3 << true
            << QByteArray("\r\n");
        QTest::newRow("flag cleared by =0")
            << QStringList{"--standin-no-output=0"} << QStringList{"FIREFLY_STANDIN_NO_OUTPUT=1"} << 0 << true
            << QByteArray("\r\n");
        QTest::newRow("empty variable counts as unset")
            << QStringList() << QStringList{"FIREFLY_STANDIN_EXIT="} << 0 << true << QByteArray("\r\n");
        QTest::newRow("bad control value") << QStringList{"--standin-pace=fast"} << QStringList() << 64 << false
                                           << QByteArray();
        QTest::newRow("unknown control") << QStringList{"--standin-speed=1"} << QStringList() << 64 << false
                                         << QByteArray();
        QTest::newRow("unknown Firefly options are ignored")
            << QStringList{"-ex", "/opt/ff/", "-stdext"} << QStringList() << 0 << true << QByteArray("\r\n");
    }
    void controls()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, environment);
        QFETCH(int, exitCode);
        QFETCH(bool, outputExists);
        QFETCH(QByteArray, ending);
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FIREFLY_STANDIN_PACE", "0");
        for (const QString &e : environment)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        const Result r = Run(Contract(kExamples + "/methane-energy.inp", dir.filePath("m.out"), words), env);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.outputExists, outputExists);
        if (!ending.isEmpty())
            QVERIFY2(r.output.endsWith(ending), r.output.right(80).constData());
        if (ending == "-2026" || ending.isEmpty())
            QVERIFY(!r.output.endsWith('\n'));
    }

    void burst_data()
    {
        QTest::addColumn<double>("mib");
        QTest::addColumn<double>("rate");
        QTest::newRow("3 MiB at full speed") << 3.0 << 0.0;
        QTest::newRow("1 MiB at 8 MiB/s") << 1.0 << 8.0;
    }
    void burst()
    {
        QFETCH(double, mib);
        QFETCH(double, rate);
        QTemporaryDir dir;
        const QString out = dir.filePath("b.out");
        const QStringList extra{"--standin-pace=0", QString("--standin-burst=%1").arg(mib),
                                QString("--standin-burst-rate=%1").arg(rate)};
        const Result plain = Run(Contract(kExamples + "/methane-energy.inp", dir.filePath("plain.out"), {"--standin-pace=0"}));
        QElapsedTimer timer;
        timer.start();
        const Result r = Run(Contract(kExamples + "/methane-energy.inp", out, extra));
        const qint64 ms = timer.elapsed();
        QCOMPARE(r.exitCode, 0);
        const qint64 extraBytes = r.output.size() - plain.output.size();
        QVERIFY(extraBytes >= qint64(mib * 1024 * 1024));
        QVERIFY(extraBytes < qint64(mib * 1024 * 1024) + 200);
        QCOMPARE(r.output.count('\n'), r.output.count("\r\n"));
        QVERIFY(r.output.contains("ENERGY COMPONENTS"));
        if (rate > 0)
            QVERIFY(ms >= qint64(mib / rate * 1000 * 0.9));  // a lower bound: the rate is a limit
    }

    void replay_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("noFinalNewline");
        QTest::newRow("odd chunks") << 777 << false;
        QTest::newRow("single bytes, last line without break") << 1 << true;
    }
    void replay()
    {
        QFETCH(int, chunk);
        QFETCH(bool, noFinalNewline);
        QTemporaryDir dir;
        QByteArray source;
        for (int i = 0; i < 500; ++i)
            source += "line " + QByteArray::number(i) + " of a replayed transcript\r\n";
        QFile file(dir.filePath("source.out"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(source);
        file.close();
        QStringList extra{"--standin-replay=" + file.fileName(), QString("--standin-replay-chunk=%1").arg(chunk),
                          "--standin-replay-interval=0"};
        if (noFinalNewline)
            extra << "--standin-no-final-newline";
        const Result r = Run(Contract(dir.filePath("none.inp"), dir.filePath("r.out"), extra));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.output, noFinalNewline ? source.chopped(2) : source);
    }

    void recordsArgumentsAndFolder()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath("argv.txt");
        const QString odd = dir.filePath("a dir/with \"quotes\" and $HOME");
        QVERIFY(QDir().mkpath(odd));
        const QStringList arguments = Contract(odd + "/in put.inp", odd + "/out.out",
                                               {"-f", "-r", "", "--standin-record=" + record, "--standin-pace=0"}, 2)
                                      + QStringList{"line\nfeed", "back\\slash"};
        QProcess process;
        process.setWorkingDirectory(odd);
        process.start(kStandin, arguments);
        QVERIFY(process.waitForFinished(60000));
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArrayList expected{"cwd " + QFile::encodeName(odd), "arg " + QFile::encodeName(kStandin)};
        for (const QString &a : arguments)
            expected << "arg " + a.toUtf8().replace("\\", "\\\\").replace("\n", "\\n");
        QCOMPARE(Lines(file.readAll()), expected);
        QCOMPARE(process.exitCode(), 1);  // the input does not exist: Firefly fails, after recording
    }

    // Nelo's own invocation, controls passed through the free options with
    // blanks in their paths, both directory modes: the stand-in sees every
    // argument whole and writes the output named by -o.
    void neloInvocation_data()
    {
        QTest::addColumn<bool>("autoDir");
        QTest::newRow("auto-create mode") << true;
        QTest::newRow("list mode") << false;
    }
    void neloInvocation()
    {
        QFETCH(bool, autoDir);
        QTemporaryDir dir;
        const QString folder = dir.filePath("work dir");
        QVERIFY(QDir().mkpath(folder));
        TJobSettings settings;
        settings.EXEFile = kStandin;
        settings.CPUcores = "2";
        settings.AutoDir = autoDir;
        settings.DirList = autoDir ? folder : "\"" + folder + "/a\" \"" + folder + "/b\"";
        settings.AddCmdLine = "--standin-pace=0 \"--standin-record=" + folder + "/argv record\"";
        const QString output = folder + "/water out.out";
        const FireflyInvocation invocation = BuildInvocation(settings, kExamples + "/water-optimise.inp", output);
        QProcess process;
        process.setWorkingDirectory(invocation.workingDirectory);
        process.start(invocation.program, invocation.arguments);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QFile record(folder + "/argv record");
        QVERIFY(record.open(QIODevice::ReadOnly));
        QByteArrayList expected{"cwd " + QFile::encodeName(QDir(invocation.workingDirectory).canonicalPath()),
                                "arg " + QFile::encodeName(kStandin)};
        for (const QString &a : invocation.arguments)
            expected << "arg " + a.toUtf8();
        QCOMPARE(Lines(record.readAll()), expected);
        QFile out(output);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QVERIFY(out.readAll().contains("EQUILIBRIUM GEOMETRY LOCATED"));
    }

    // Firefly on N cores runs N processes in one group; helpers live while
    // the job runs and are gone after a normal end.
    void helperProcesses()
    {
        QTemporaryDir dir;
        const QString pids = dir.filePath("pids");
        QProcess process;
        process.start(kStandin, Contract(kExamples + "/methane-energy.inp", dir.filePath("m.out"),
                                         {"--standin-pids=" + pids, "--standin-pace=0.5"}, 3));
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(pids));
        QFile file(pids);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArrayList lines = Lines(file.readAll());
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), "main " + QByteArray::number(process.processId()));
        QList<qint64> helpers;
        for (const QByteArray &line : lines.mid(1)) {
            QVERIFY(line.startsWith("helper "));
            helpers << line.mid(7).toLongLong();
            QVERIFY(Alive(helpers.last()));
            QCOMPARE(getpgid(pid_t(helpers.last())), getpgid(pid_t(process.processId())));
        }
        QVERIFY(process.state() == QProcess::Running);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        for (qint64 pid : helpers)
            QVERIFY(!Alive(pid));
    }
};

QTEST_GUILESS_MAIN(TestFireflyStandin)
#include "tst_firefly_standin.moc"
