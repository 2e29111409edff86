// How a job ended, from its output and its process; and the course of a
// geometry search for the chart.

#include "analysis/ConvergenceSeries.h"
#include "analysis/GeometryScanner.h"
#include "analysis/JobOutcome.h"
#include "analysis/TableExport.h"
#include "analysis/ThinnedLine.h"
#include "platform/Errors.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Samples.h"
#include "tests/helpers/ScannerSteps.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

Q_DECLARE_METATYPE(ProcessEnd)

namespace {

const QByteArray Normal = " EXECUTION OF FIREFLY TERMINATED NORMALLY 20:19:06  9-MAY-2014    ";
const QByteArray Abnormal = " EXECUTION OF FIREFLY TERMINATED -ABNORMALLY- 20:19:06  9-MAY-2014";
const QByteArray Located = "      ***** EQUILIBRIUM GEOMETRY LOCATED *****";
const QByteArray Step = "          NSERCH=  3     ENERGY=    -379.7592316";
const QByteArray ScfOk = "          DENSITY CONVERGED";
const QByteArray ScfBad = " SCF IS UNCONVERGED, TOO MANY ITERATIONS";

// The lines, each followed by CR LF.
QByteArray lines(const QByteArrayList &list)
{
    return list.join("\r\n") + "\r\n";
}

// At least `bytes` bytes of lines that say nothing about the end.
QByteArray filler(qsizetype bytes)
{
    const QByteArray line = " II,JST,KST,LST =  1  1  1  1 NREC =         1 INTLOC =    1\r\n";
    return line.repeated(bytes / line.size() + 1);
}

// Exactly `bytes` bytes of such lines, the last one ended.
QByteArray exactly(qsizetype bytes)
{
    return filler(bytes).left(bytes - 2) + "\r\n";
}

QList<QList<double>> pointsOf(const ConvergenceSeries &series)
{
    QList<QList<double>> points;
    for (const ConvergencePoint &p : series.Points())
        points << QList<double>{double(p.step), p.energy, p.maxGradient, p.rmsGradient};
    return points;
}

} // namespace

class TestOutcome : public QObject
{
    Q_OBJECT

private slots:
    // Every row is classified from memory and from a file, with the same result.
    void classification_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<ProcessEnd>("end");
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<QByteArray>("reason");
        const ProcessEnd unknown, exited0 = ProcessEnd::Exited(0);
        const QByteArray normalLine = Normal.trimmed();
        const QByteArray search = lines({"          PARAMETERS CONTROLLING GEOMETRY SEARCH ARE", Step}) + filler(3000);

        QTest::newRow("single point") << lines({ScfOk}) + filler(2000) + lines({Normal}) << exited0 << QByteArray("normal")
                                      << normalLine;
        QTest::newRow("lines after the termination line")
            << lines({ScfOk, Normal, "ddikick.x: exited gracefully."}) << unknown << QByteArray("normal") << normalLine;
        QTest::newRow("termination line above the last 64 KiB")
            << lines({ScfOk, Normal}) + filler(70 * 1024) << unknown << QByteArray("killed")
            << QByteArray("no termination line");
        QTest::newRow("located 3 MiB above the end, LF ends")
            << QByteArray(lines({Step, Located}) + filler(3 << 20) + lines({Normal})).replace("\r\n", "\n") << exited0
            << QByteArray("converged") << Located.trimmed();
        QTest::newRow("a line of 2 MiB between located and the end")
            << lines({Step, Located, QByteArray(2 << 20, 'x'), Normal}) << exited0 << QByteArray("converged")
            << Located.trimmed();
        // The first read is the last 16 KiB: its start falls inside the located line.
        const qsizetype after = 16 * 1024 - 20 - (Normal.size() + 2);
        QTest::newRow("located line across the start of the first read")
            << lines({Step, Located}) + exactly(after) + lines({Normal}) << exited0
            << QByteArray("converged") << Located.trimmed();
        QTest::newRow("saddle point") << lines({Step, "      ***** SADDLE POINT LOCATED *****", Normal}) << unknown
                                      << QByteArray("converged") << QByteArray("***** SADDLE POINT LOCATED *****");
        QTest::newRow("too many steps")
            << lines({Step, "          ***** FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN *****", Normal})
            << exited0 << QByteArray("not-converged")
            << QByteArray("***** FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN *****");
        QTest::newRow("normal end inside the search") << search + lines({Normal}) << exited0
                                                      << QByteArray("not-converged") << Step.trimmed();
        QTest::newRow("output stops inside the search, exit 0")
            << search << exited0 << QByteArray("not-converged") << Step.trimmed();
        QTest::newRow("output stops inside the search, killed")
            << search << ProcessEnd::Signalled(SIGKILL) << QByteArray("killed") << QByteArray("signal 9 (SIGKILL)");
        QTest::newRow("output stops, exit 3") << lines({ScfOk}) + filler(300) << ProcessEnd::Exited(3)
                                              << QByteArray("killed") << QByteArray("exit status 3");
        QTest::newRow("output stops, process unknown")
            << lines({ScfOk}) + filler(300) << unknown << QByteArray("killed") << QByteArray("no termination line");
        QTest::newRow("SCF failed, normal end")
            << lines({ScfBad}) + filler(5000) + lines({Normal}) << exited0 << QByteArray("scf-failed") << ScfBad.trimmed();
        QTest::newRow("SCF failed, abnormal end") << lines({ScfBad, " *** ERROR IN GRADIENT", Abnormal}) << exited0
                                                  << QByteArray("scf-failed") << ScfBad.trimmed();
        QTest::newRow("abnormal end, last line without break")
            << lines({ScfOk, "", " *** ERROR! A", " *** ERROR! B"}) + Abnormal << ProcessEnd::Exited(1)
            << QByteArray("abnormal") << QByteArray("*** ERROR! A *** ERROR! B");
        QTest::newRow("abnormal end, three lines of error text at most")
            << lines({"x", "", "e1", "e2", "e3", "e4", "", Abnormal}) << unknown << QByteArray("abnormal")
            << QByteArray("e2 e3 e4");
        QTest::newRow("abnormal end without error text") << lines({Step, Located, Abnormal}) << unknown
                                                         << QByteArray("abnormal") << Abnormal.trimmed();
        QTest::newRow("normal end, then killed") << lines({ScfOk, Normal}) << ProcessEnd::Signalled(SIGKILL)
                                                 << QByteArray("normal") << normalLine;
        QTest::newRow("aborted") << lines({Step, " last words  "}) + "\r\n" << ProcessEnd::AbortedByUser()
                                 << QByteArray("aborted") << QByteArray("last words");
        QTest::newRow("aborted within a long line") << "x\r\n" + QByteArray(1000, 'y') << ProcessEnd::AbortedByUser()
                                                    << QByteArray("aborted") << QByteArray(256, 'y');
        QTest::newRow("aborted after the end") << lines({ScfOk, Normal}) << ProcessEnd::AbortedByUser()
                                               << QByteArray("aborted") << normalLine;
        QTest::newRow("empty") << QByteArray() << exited0 << QByteArray("no-output")
                               << QByteArray("the output file is empty");
        QTest::newRow("empty, crashed") << QByteArray() << ProcessEnd::Signalled(SIGSEGV) << QByteArray("killed")
                                        << QByteArray("signal 11 (SIGSEGV)");
    }
    void classification()
    {
        QFETCH(QByteArray, text);
        QFETCH(ProcessEnd, end);
        QFETCH(QByteArray, keyword);
        QFETCH(QByteArray, reason);
        const OutcomeReport report = ClassifyOutputText(std::string_view(text.constData(), size_t(text.size())), end);
        QCOMPARE(QByteArray(OutcomeKeyword(report.outcome).data()), keyword);
        QCOMPARE(report.reason, reason);

        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("job.out"), text));
        const OutcomeReport fromFile = ClassifyJobOutcome(dir.filePath("job.out"), end);
        QCOMPARE(fromFile.outcome, report.outcome);
        QCOMPARE(fromFile.reason, report.reason);
    }

    void missingOrUnreadableOutput()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath("gone.out");
        QCOMPARE(ClassifyJobOutcome(missing).reason, QByteArray("no output file"));
        QCOMPARE(ClassifyJobOutcome(missing, ProcessEnd::Exited(2)).outcome, JobOutcome::NoOutput);
        QCOMPARE(ClassifyJobOutcome(missing, ProcessEnd::Signalled(SIGKILL)).outcome, JobOutcome::Killed);
        QCOMPARE(ClassifyJobOutcome(missing, ProcessEnd::AbortedByUser()).outcome, JobOutcome::Aborted);
        QVERIFY_THROWS_EXCEPTION(EFileError, ClassifyJobOutcome(dir.path()));
    }

    // The series of the real optimisation holds what the progress log shows.
    void seriesOfARealOptimisation()
    {
        NELO_REQUIRE_SAMPLES();
        const QString file = sampleFile("dvb_gopt_a.out");
        const ConvergenceSeries series = ReadConvergenceSeries(file);
        const QList<QList<double>> points = pointsOf(series);
        QCOMPARE(points, stepsOfTheScanner(file));
        QCOMPARE(points.size(), 24);
        QCOMPARE(points.first(), (QList<double>{0, -379.7594672, 0.0798433, 0.0228973}));
        QCOMPARE(points.last().at(1), -379.7779552);
        QCOMPARE(series.OptTol(), 1.0e-4);
        QVERIFY(series.OptTolFromOutput());

        // The monitor's batches: whole lines, the last one without its line break.
        const QByteArray text = readFile(file);
        ConvergenceSeries live;
        QRandomGenerator random(5);
        for (qsizetype at = 0; at < text.size();) {
            const qsizetype lf = text.indexOf('\n', qMin(text.size() - 1, at + random.bounded(20000)));
            const qsizetype end = lf < 0 ? text.size() : lf + 1;
            live.Feed(std::string_view(text.constData() + at, size_t(end - at - (lf < 0 ? 0 : 2))));
            at = end;
        }
        QCOMPARE(pointsOf(live), points);
    }

    void seriesWithoutASearch()
    {
        ConvergenceSeries series;
        // A gradient without a step, a step line without an energy: nothing.
        series.Feed("          MAXIMUM GRADIENT =  0.5    RMS GRADIENT = 0.2\r\n NSERCH=   1\r\n"
                    "          OPTTOL = 3.000E-04          RMIN   = 1.500E-03\r\n NSERCH=  0  ENERGY= -1.5\r\n");
        QCOMPARE(series.Points().size(), size_t(1));
        QVERIFY(std::isnan(series.Points().front().maxGradient));
        QCOMPARE(series.OptTol(), 3.0e-4);
        series.Clear();
        QCOMPARE(series.OptTol(), ConvergenceSeries::DefaultOptTol);
        QVERIFY(!series.OptTolFromOutput() && series.Points().empty());

        // A file is read in pieces of 1 MiB: a step line across two of them.
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("big.out"),
                          exactly((1 << 20) - 20)
                              + lines({Step, "          MAXIMUM GRADIENT =  0.0736070    RMS GRADIENT = 0.0250202"})));
        QCOMPARE(pointsOf(ReadConvergenceSeries(dir.filePath("big.out"))),
                 (QList<QList<double>>{{3, -379.7592316, 0.0736070, 0.0250202}}));
    }

    // The numbers behind the chart, every step in full; a gradient still to come is an empty field.
    void seriesAsCsv()
    {
        ConvergenceSeries series;
        series.Feed(lines({"          NSERCH=  0     ENERGY=    -379.7594672",
                           "          MAXIMUM GRADIENT =  0.0000010    RMS GRADIENT = 0.0228973",
                           "          NSERCH= 12     ENERGY=     -76.1"})
                        .toStdString());
        QCOMPARE(ConvergenceCsv(series.Points()),
                 QByteArray("step,energy_hartree,max_gradient_hartree_per_bohr,rms_gradient_hartree_per_bohr\n"
                            "0,-379.7594672,1e-06,0.0228973\n"
                            "12,-76.1,,\n"));
    }

    // A chart line of any length draws at most its limit of points, and
    // still starts, ends and reaches its extremes where the points do.
    void thinnedLine_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("shape");
        QTest::newRow("fewer than the limit") << 10 << 100 << 0;
        QTest::newRow("exactly the limit") << 100 << 100 << 0;
        QTest::newRow("one more") << 101 << 100 << 0;
        QTest::newRow("10,000 falling, zigzag") << 10000 << 1000 << 0;
        // Point 2536 lies in the second of two runs of 32 that merge, inside their run of 64.
        QTest::newRow("10,000 with a spike early") << 10000 << 1000 << 1;
        QTest::newRow("5,000 all equal") << 5000 << 100 << 2;
    }
    void thinnedLine()
    {
        QFETCH(int, count);
        QFETCH(int, limit);
        QFETCH(int, shape);
        QList<QPointF> all;
        for (int i = 0; i < count; ++i) {
            const double y = shape == 2 ? 1.0 : shape == 1 && i == 2536 ? 50.0 : 1.0 / (i + 1) + (i % 7) * 1e-3;
            all << QPointF(i, y);
        }
        ThinnedLine line(limit);
        for (const QPointF &point : all)
            line.Append(point);
        const QList<QPointF> &shown = line.Shown();
        if (count <= limit)
            QCOMPARE(shown, all);
        QVERIFY(shown.size() <= limit && shown.size() >= std::min(count, limit / 8));
        QCOMPARE(shown.first(), all.first());
        QCOMPARE(shown.last(), all.last());
        const auto byY = [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); };
        QCOMPARE(*std::min_element(shown.begin(), shown.end(), byY), *std::min_element(all.begin(), all.end(), byY));
        QCOMPARE(*std::max_element(shown.begin(), shown.end(), byY), *std::max_element(all.begin(), all.end(), byY));
        for (qsizetype i = 0; i < shown.size(); ++i) // the points' own, in their order
            QVERIFY(shown[i] == all[qsizetype(shown[i].x())] && (i == 0 || shown[i].x() > shown[i - 1].x()));
    }
};

QTEST_GUILESS_MAIN(TestOutcome)
#include "tst_outcome.moc"
