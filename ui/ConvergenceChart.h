#pragma once

#include "analysis/ConvergenceSeries.h"
#include "analysis/ThinnedLine.h"

#include <QChartView>
#include <QString>

#include <vector>

class QAction;
class QLineSeries;
class QLogValueAxis;
class QValueAxis;

// The course of a geometry search: the energy per step on a linear axis at
// the left (hartree), the maximum and the RMS gradient per step on a
// logarithmic axis at the right (hartree/bohr) with the threshold OPTTOL as
// a dashed line on it, the step on the x axis. Shown live in the main
// window while a job runs and, for any output, in a window of its own.
//
// Its context menu saves the chart as PNG or SVG and the numbers as CSV.
// A long search is drawn thinned (at most ThinnedLimit points per line, see
// ThinnedLine); the saved numbers are all of them.
class ConvergenceChart : public QChartView
{
    Q_OBJECT

public:
    static constexpr int ThinnedLimit = 1000;

    explicit ConvergenceChart(QWidget *parent = nullptr);
    ~ConvergenceChart() override;

    // At most this many points per line (ThinnedLimit unless set; a
    // benchmark sets more to see what thinning saves). Clears the chart.
    void SetPointLimit(int limit);

    // Shows the series. Called again with the same series as it grows, only
    // the steps not shown yet are added (and the gradients of the last step
    // when they have come since); any other series starts the chart anew.
    void ShowSeries(const ConvergenceSeries &series);
    void Clear();

    // The output whose search is shown: its name is the chart's title, its
    // folder where the save dialogs start.
    void SetOutputFile(const QString &path);
    // Compact (a panel below the output pane): no title, no axis titles;
    // the legend names the lines and the energy's unit.
    void SetCompact(bool compact);

    // The steps as shown (all of them, unthinned).
    const std::vector<ConvergencePoint> &Points() const { return m_points; }
    double OptTol() const { return m_optTol; }

    // The four lines: energy, maximum gradient, RMS gradient, OPTTOL.
    QLineSeries *EnergyLine() const { return m_energy; }
    QLineSeries *MaxGradientLine() const { return m_maxGradient; }
    QLineSeries *RmsGradientLine() const { return m_rmsGradient; }
    QLineSeries *OptTolLine() const { return m_optTolLine; }

    // Each throws EWriteError when the file cannot be written.
    void SavePng(const QString &path);
    void SaveSvg(const QString &path);
    void SaveCsv(const QString &path);
    // Ask for a file name first (nothing on Cancel); errors are reported.
    void SavePngAs();
    void SaveSvgAs();
    void SaveCsvAs();

private:
    void saveAs(const QString &title, const QString &filter, const QString &suffix,
                void (ConvergenceChart::*save)(const QString &));
    void updateAxes();

    QLineSeries *m_energy;
    QLineSeries *m_maxGradient;
    QLineSeries *m_rmsGradient;
    QLineSeries *m_optTolLine;
    QValueAxis *m_stepAxis;
    QValueAxis *m_energyAxis;
    QLogValueAxis *m_gradientAxis;

    const ConvergenceSeries *m_source = nullptr;
    std::vector<ConvergencePoint> m_points;
    std::size_t m_gradientsShown = 0; // steps whose gradients are on the chart (or will never come)
    double m_optTol = ConvergenceSeries::DefaultOptTol;
    bool m_optTolRead = false;
    ThinnedLine m_energyPoints{ThinnedLimit};
    ThinnedLine m_maxPoints{ThinnedLimit};
    ThinnedLine m_rmsPoints{ThinnedLimit};
    double m_energyLow = 0, m_energyHigh = 0;
    int m_firstStep = 0, m_lastStep = 0;
    double m_gradientLow = 0, m_gradientHigh = 0;
    QString m_outputFile;
    bool m_compact = false;
};
