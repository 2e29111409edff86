// The convergence chart offscreen: its lines against the steps the progress
// scanner reports for a real optimisation, live growth in batches, long
// searches, and saving the chart and its numbers.

#include "analysis/TableExport.h"
#include "platform/Dialogs.h"
#include "platform/Notices.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Samples.h"
#include "tests/helpers/ScannerSteps.h"
#include "ui/ConvergenceChart.h"

#include <QtTest>

#include <QAction>
#include <QImage>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QRandomGenerator>
#include <QValueAxis>

namespace {

const QString Optimisation = sampleFile("dvb_gopt_a.out");

// Column `column` of the scanner's steps (1 energy, 2 largest, 3 RMS gradient) against step.
QList<QPointF> column(const QList<QList<double>> &steps, int column)
{
    QList<QPointF> points;
    for (const QList<double> &step : steps)
        points << QPointF(step[0], step[column]);
    return points;
}

QByteArray stepLines(int step, double energy, double gradient)
{
    return QStringLiteral("          NSERCH=%1     ENERGY=%2\r\n          MAXIMUM GRADIENT = %3    RMS GRADIENT = %4\r\n")
        .arg(step, 3).arg(energy, 16, 'f', 7).arg(gradient, 10, 'f', 7).arg(gradient / 3, 10, 'f', 7)
        .toLatin1();
}

} // namespace

class TestConvergenceChart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_errors;
    QStringList m_answer;

private slots:
    void initTestCase()
    {
        Notices::SetErrorPresenter([this](const QString &text) { m_errors << text; });
        Dialogs::SetAnswerer([this](const Dialogs::Request &) { return m_answer; });
    }

    // The chart of a whole output, and the same output arriving in the
    // monitor's batches (whole lines, the last one without its line break,
    // the chart updated after each): both show what the scanner reports.
    void realOptimisation_data()
    {
        QTest::addColumn<bool>("live");
        QTest::newRow("whole file") << false;
        QTest::newRow("live, in batches") << true;
    }
    void realOptimisation()
    {
        QFETCH(bool, live);
        NELO_REQUIRE_SAMPLES();
        const QList<QList<double>> steps = stepsOfTheScanner(Optimisation);
        QCOMPARE(steps.size(), 24);
        ConvergenceChart chart;
        ConvergenceSeries series;
        int updates = 0;
        connect(chart.EnergyLine(), &QXYSeries::pointsReplaced, this, [&] { ++updates; });
        connect(chart.EnergyLine(), &QXYSeries::pointAdded, this, [&] { QFAIL("a point added on its own"); });
        if (live) {
            const QByteArray text = readFile(Optimisation);
            QRandomGenerator random(7);
            for (qsizetype at = 0; at < text.size();) {
                const qsizetype lf = text.indexOf('\n', qMin(text.size() - 1, at + random.bounded(6000)));
                const qsizetype end = lf < 0 ? text.size() : lf + 1;
                series.Feed(std::string_view(text.constData() + at, size_t(end - at - (lf < 0 ? 0 : 2))));
                chart.ShowSeries(series);
                at = end;
            }
            QVERIFY(updates >= 24 / 2 && updates <= 24); // once per batch with steps
        } else {
            series = ReadConvergenceSeries(Optimisation);
            chart.ShowSeries(series);
            QCOMPARE(updates, 1);
        }
        QCOMPARE(chart.EnergyLine()->points(), column(steps, 1));
        QCOMPARE(chart.MaxGradientLine()->points(), column(steps, 2));
        QCOMPARE(chart.RmsGradientLine()->points(), column(steps, 3));
        QCOMPARE(chart.EnergyLine()->points().first().y(), -379.7594672);
        QCOMPARE(chart.EnergyLine()->points().last().y(), -379.7779552);
        QCOMPARE(chart.OptTolLine()->points(), (QList<QPointF>{{0, 1e-4}, {23, 1e-4}}));
        QVERIFY(chart.OptTolLine()->name().startsWith(QLatin1String("OPTTOL 1.0E-04")));
        // Every point lies within the axes.
        const auto *x = qobject_cast<QValueAxis *>(chart.EnergyLine()->attachedAxes().value(0));
        const auto *energy = qobject_cast<QValueAxis *>(chart.EnergyLine()->attachedAxes().value(1));
        const auto *gradient = qobject_cast<QLogValueAxis *>(chart.MaxGradientLine()->attachedAxes().value(1));
        QVERIFY(x && energy && gradient);
        QCOMPARE(x->min(), 0.0);
        QCOMPARE(x->max(), 23.0);
        QVERIFY(energy->min() <= -379.7779552 && energy->max() >= -379.7305148);
        QVERIFY(gradient->min() <= 1e-4 && gradient->max() >= 0.1823566);
    }

    // The gradients of the last step come in a batch of their own; another
    // search starts the chart anew; an empty one clears it.
    void gradientsLateAndAnotherSearch()
    {
        ConvergenceChart chart;
        ConvergenceSeries first;
        const QByteArray step0 = stepLines(0, -76.01, 0.05);
        first.Feed(step0.left(step0.indexOf('\n') + 1).toStdString());
        chart.ShowSeries(first);
        QCOMPARE(chart.EnergyLine()->count(), 1);
        QCOMPARE(chart.MaxGradientLine()->count(), 0);
        first.Feed(step0.mid(step0.indexOf('\n') + 1).toStdString());
        chart.ShowSeries(first);
        QCOMPARE(chart.MaxGradientLine()->points(), QList<QPointF>{QPointF(0, 0.05)});

        ConvergenceSeries second;
        second.Feed((stepLines(4, -40.5, 0.2) + stepLines(5, -40.6, 0.0)).toStdString());
        chart.ShowSeries(second);
        QCOMPARE(chart.EnergyLine()->points(), (QList<QPointF>{{4, -40.5}, {5, -40.6}}));
        // A gradient printed as zero stays on the logarithmic axis.
        QVERIFY(chart.MaxGradientLine()->points().last().y() > 0);
        QCOMPARE(chart.Points().size(), size_t(2));
        chart.ShowSeries(ConvergenceSeries());
        QCOMPARE(chart.EnergyLine()->count(), 0);
    }

    // 10,000 steps, 50 at a time: the chart keeps every number, draws at
    // most its limit of points per line, and ends at the last step.
    void longSearchIsThinned()
    {
        ConvergenceChart chart;
        ConvergenceSeries series;
        for (int batch = 0; batch < 200; ++batch) {
            QByteArray text;
            for (int step = batch * 50; step < batch * 50 + 50; ++step)
                text += stepLines(step, -379.7 - 1e-6 * step, 0.08 / (1 + step % 50));
            series.Feed(text.toStdString());
            chart.ShowSeries(series);
        }
        QCOMPARE(chart.Points().size(), size_t(10000));
        for (QLineSeries *line : {chart.EnergyLine(), chart.MaxGradientLine(), chart.RmsGradientLine()}) {
            QVERIFY(line->count() <= ConvergenceChart::ThinnedLimit);
            QCOMPARE(line->points().last().x(), 9999.0);
        }
        QCOMPARE(chart.EnergyLine()->points().last().y(), -379.7 - 1e-6 * 9999);
    }

    // PNG and SVG of the chart, CSV of its numbers; through the context
    // menu's save dialog too; a file that cannot be written is reported.
    void saving()
    {
        NELO_REQUIRE_SAMPLES();
        ConvergenceChart chart;
        chart.resize(640, 400);
        const ConvergenceSeries series = ReadConvergenceSeries(Optimisation);
        chart.ShowSeries(series);
        chart.SavePng(m_dir.filePath("chart.png"));
        QCOMPARE(QImage(m_dir.filePath("chart.png")).size(), QSize(640, 400));
        chart.SaveSvg(m_dir.filePath("chart.svg"));
        const QByteArray svg = readFile(m_dir.filePath("chart.svg"));
        QVERIFY(svg.contains("<svg") && svg.contains("</svg>") && svg.contains("<path"));

        auto *saveCsv = chart.findChild<QAction *>(QStringLiteral("SaveCsvAction"));
        QVERIFY(saveCsv && chart.actions().contains(saveCsv) && chart.contextMenuPolicy() == Qt::ActionsContextMenu);
        m_answer = QStringList{m_dir.filePath("steps.csv")};
        saveCsv->trigger();
        QCOMPARE(readFile(m_dir.filePath("steps.csv")), ConvergenceCsv(series.Points()));
        QCOMPARE(readFile(m_dir.filePath("steps.csv")).count('\n'), 25);
        m_answer = QStringList{m_dir.filePath("no folder/steps.csv")};
        saveCsv->trigger();
        QCOMPARE(m_errors, QStringList{"Unable to write to " + m_dir.filePath("no folder/steps.csv") + "."});
    }
};

QTEST_MAIN(TestConvergenceChart)
#include "tst_convergencechart.moc"
