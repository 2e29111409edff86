#include "ui/ConvergenceChart.h"

#include "analysis/TableExport.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/Paths.h"
#include "platform/WholeFile.h"

#include <QAction>
#include <QBuffer>
#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// A gradient printed as 0 lies below the printed precision: the
// logarithmic axis shows it there.
constexpr double GradientFloor = 1e-8;
// Up to this many steps each is marked with a dot.
constexpr std::size_t MarkedSteps = 60;

// 1, 2 or 5 times a power of ten, at least `rough` and at least 1.
double niceInterval(double rough)
{
    if (rough <= 1)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10 * power;
}

QLineSeries *line(QChart *chart, const QString &name, const QColor &colour, Qt::PenStyle style = Qt::SolidLine)
{
    auto *series = new QLineSeries(chart);
    series->setName(name);
    QPen pen(colour, style == Qt::SolidLine ? 2 : 1, style);
    series->setPen(pen);
    chart->addSeries(series);
    return series;
}

} // namespace

ConvergenceChart::ConvergenceChart(QWidget *parent)
    : QChartView(parent)
{
    // The view's own chart: one set in its place would leave this one to us.
    QChart *chart = this->chart();
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    QFont small = font();
    small.setPixelSize(10);
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->legend()->setFont(small);
    setRenderHint(QPainter::Antialiasing);

    m_energy = line(chart, QStringLiteral("Energy"), QColor(0x1f, 0x4e, 0xb4));
    m_maxGradient = line(chart, QStringLiteral("Max gradient"), QColor(0xc8, 0x28, 0x28));
    m_rmsGradient = line(chart, QStringLiteral("RMS gradient"), QColor(0xe0, 0x8a, 0x00));
    m_optTolLine = line(chart, QStringLiteral("OPTTOL"), QColor(0x50, 0x50, 0x50), Qt::DashLine);

    m_stepAxis = new QValueAxis(chart);
    m_stepAxis->setTitleText(QStringLiteral("Step"));
    m_stepAxis->setLabelFormat(QStringLiteral("%d"));
    m_stepAxis->setTickType(QValueAxis::TicksDynamic);
    m_stepAxis->setTickAnchor(0);
    m_energyAxis = new QValueAxis(chart);
    m_energyAxis->setTitleText(QStringLiteral("Energy (hartree)"));
    m_gradientAxis = new QLogValueAxis(chart);
    m_gradientAxis->setTitleText(QStringLiteral("Gradient (hartree/bohr)"));
    m_gradientAxis->setBase(10);
    m_gradientAxis->setLabelFormat(QStringLiteral("%.0e"));
    for (QAbstractAxis *axis : std::initializer_list<QAbstractAxis *>{m_stepAxis, m_energyAxis, m_gradientAxis}) {
        axis->setLabelsFont(small);
        axis->setTitleFont(small);
    }
    chart->addAxis(m_stepAxis, Qt::AlignBottom);
    chart->addAxis(m_energyAxis, Qt::AlignLeft);
    chart->addAxis(m_gradientAxis, Qt::AlignRight);
    m_energyAxis->setLabelsColor(m_energy->pen().color());
    m_energyAxis->setTitleBrush(m_energy->pen().color());
    for (QLineSeries *series : {m_energy, m_maxGradient, m_rmsGradient, m_optTolLine}) {
        series->attachAxis(m_stepAxis);
        series->attachAxis(series == m_energy ? static_cast<QAbstractAxis *>(m_energyAxis) : m_gradientAxis);
    }

    const auto addMenuAction = [this](const char *name, const QString &text, void (ConvergenceChart::*slot)()) {
        auto *action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    };
    addMenuAction("SavePngAction", QStringLiteral("Save Chart as PNG..."), &ConvergenceChart::SavePngAs);
    addMenuAction("SaveSvgAction", QStringLiteral("Save Chart as SVG..."), &ConvergenceChart::SaveSvgAs);
    addMenuAction("SaveCsvAction", QStringLiteral("Save Numbers as CSV..."), &ConvergenceChart::SaveCsvAs);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    updateAxes();
}

ConvergenceChart::~ConvergenceChart() = default;

void ConvergenceChart::SetPointLimit(int limit)
{
    for (ThinnedLine *points : {&m_energyPoints, &m_maxPoints, &m_rmsPoints})
        *points = ThinnedLine(limit);
    Clear();
}

void ConvergenceChart::SetOutputFile(const QString &path)
{
    m_outputFile = path;
    const QString title = m_compact ? QString() : Paths::FileNamePart(path);
    if (chart()->title() != title) // a new title lays the chart out anew
        chart()->setTitle(title);
}

void ConvergenceChart::SetCompact(bool compact)
{
    m_compact = compact;
    for (QAbstractAxis *axis : std::initializer_list<QAbstractAxis *>{m_stepAxis, m_energyAxis, m_gradientAxis})
        axis->setTitleVisible(!compact);
    m_energy->setName(compact ? QStringLiteral("Energy (hartree)") : QStringLiteral("Energy"));
    SetOutputFile(m_outputFile);
}

void ConvergenceChart::Clear()
{
    m_source = nullptr;
    m_points.clear();
    m_gradientsShown = 0;
    m_optTol = ConvergenceSeries::DefaultOptTol;
    m_optTolRead = false;
    for (ThinnedLine *points : {&m_energyPoints, &m_maxPoints, &m_rmsPoints})
        points->Clear();
    for (QLineSeries *series : {m_energy, m_maxGradient, m_rmsGradient})
        series->clear();
    updateAxes();
}

void ConvergenceChart::ShowSeries(const ConvergenceSeries &series)
{
    const std::vector<ConvergencePoint> &points = series.Points();
    const std::size_t shown = m_points.size();
    // The same search, grown: its steps so far are the ones shown.
    const bool grown = &series == m_source && points.size() >= shown
                       && (shown == 0
                           || (points[shown - 1].step == m_points.back().step
                               && points[shown - 1].energy == m_points.back().energy));
    if (!grown)
        Clear();
    m_source = &series;
    m_optTol = series.OptTol();
    m_optTolRead = series.OptTolFromOutput();

    // The last step shown may have got its gradients since.
    if (!m_points.empty())
        m_points.back() = points[m_points.size() - 1];
    const std::size_t before = m_points.size();
    for (std::size_t i = before; i < points.size(); ++i) {
        const ConvergencePoint &point = points[i];
        m_points.push_back(point);
        m_energyPoints.Append(QPointF(point.step, point.energy));
        m_energyLow = i == 0 ? point.energy : std::min(m_energyLow, point.energy);
        m_energyHigh = i == 0 ? point.energy : std::max(m_energyHigh, point.energy);
        m_firstStep = i == 0 ? point.step : std::min(m_firstStep, point.step);
        m_lastStep = i == 0 ? point.step : std::max(m_lastStep, point.step);
    }
    const std::size_t gradientsBefore = m_gradientsShown;
    for (; m_gradientsShown < m_points.size(); ++m_gradientsShown) {
        const ConvergencePoint &point = m_points[m_gradientsShown];
        if (std::isnan(point.maxGradient) || std::isnan(point.rmsGradient)) {
            if (m_gradientsShown + 1 == m_points.size())
                break; // its gradient line may still come
            continue;  // a step without one
        }
        const double largest = std::max(point.maxGradient, GradientFloor);
        const double rms = std::max(point.rmsGradient, GradientFloor);
        const bool first = m_maxPoints.Count() == 0;
        m_gradientLow = first ? std::min(largest, rms) : std::min({m_gradientLow, largest, rms});
        m_gradientHigh = first ? std::max(largest, rms) : std::max({m_gradientHigh, largest, rms});
        m_maxPoints.Append(QPointF(point.step, largest));
        m_rmsPoints.Append(QPointF(point.step, rms));
    }
    // Qt Charts redraws a whole line for every point appended to it, so each
    // line is handed its (thinned) points once per update; the lists are
    // shared, not copied.
    if (m_points.size() != before)
        m_energy->replace(m_energyPoints.Shown());
    if (m_gradientsShown != gradientsBefore) {
        m_maxGradient->replace(m_maxPoints.Shown());
        m_rmsGradient->replace(m_rmsPoints.Shown());
    }
    updateAxes();
}

void ConvergenceChart::updateAxes()
{
    double first = 0, last = 1;
    if (!m_points.empty()) {
        first = m_firstStep;
        last = std::max(m_lastStep, m_firstStep + 1);
    }
    m_stepAxis->setRange(first, last);
    m_stepAxis->setTickInterval(niceInterval((last - first) / 6));

    double low = m_energyLow, high = m_energyHigh;
    if (m_points.empty()) {
        low = -1;
        high = 0;
    }
    const double span = high > low ? high - low : std::max(1e-6, std::abs(high) * 1e-9);
    m_energyAxis->setRange(low - span / 20, high + span / 20);
    m_energyAxis->applyNiceNumbers();
    const double tick = (m_energyAxis->max() - m_energyAxis->min()) / std::max(1, m_energyAxis->tickCount() - 1);
    const int decimals = std::clamp(int(std::ceil(-std::log10(tick) - 1e-9)), 0, 10);
    m_energyAxis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QLatin1Char('f'));

    const bool gradients = m_maxPoints.Count() > 0;
    const double gradientLow = gradients ? std::min(m_gradientLow, m_optTol) : m_optTol;
    const double gradientHigh = gradients ? std::max(m_gradientHigh, m_optTol) : m_optTol;
    const double bottom = std::pow(10.0, std::floor(std::log10(gradientLow)));
    const double top = std::pow(10.0, std::ceil(std::log10(gradientHigh)));
    m_gradientAxis->setRange(bottom, top > bottom ? top : bottom * 10);

    m_optTolLine->replace(QList<QPointF>{{first, m_optTol}, {last, m_optTol}});
    m_optTolLine->setName(QStringLiteral("OPTTOL %1%2")
                              .arg(QString::asprintf("%.1E", m_optTol),
                                   m_optTolRead ? QString() : QStringLiteral(" (default)")));
    const bool marked = m_points.size() <= MarkedSteps;
    for (QLineSeries *series : {m_energy, m_maxGradient, m_rmsGradient}) {
        if (series->pointsVisible() != marked)
            series->setPointsVisible(marked);
    }
}

// --- saving -------------------------------------------------------------------

void ConvergenceChart::SavePng(const QString &path)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    grab().save(&buffer, "PNG");
    SaveFileWhole(path, buffer.data());
}

void ConvergenceChart::SaveSvg(const QString &path)
{
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size());
    svg.setViewBox(rect());
    svg.setTitle(chart()->title().isEmpty() ? QStringLiteral("Geometry search") : chart()->title());
    QPainter painter(&svg);
    render(&painter);
    painter.end();
    SaveFileWhole(path, buffer.data());
}

void ConvergenceChart::SaveCsv(const QString &path)
{
    SaveFileWhole(path, ConvergenceCsv(m_points));
}

void ConvergenceChart::saveAs(const QString &title, const QString &filter, const QString &suffix,
                              void (ConvergenceChart::*save)(const QString &))
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::SaveFile;
    request.title = title;
    request.filter = filter;
    request.defaultSuffix = suffix;
    // Beside the output, named after it: a path with a file name selects it.
    if (!m_outputFile.isEmpty()) {
        request.initialFolder = Paths::WithExtension(m_outputFile, QString(QLatin1Char('.') + suffix));
    }
    const QString path = Dialogs::AskOne(window(), request);
    if (!path.isEmpty())
        RunReported([&] { (this->*save)(path); });
}

void ConvergenceChart::SavePngAs()
{
    saveAs(QStringLiteral("Save Chart as PNG"), QStringLiteral("PNG images (*.png)|*.png"), QStringLiteral("png"),
           &ConvergenceChart::SavePng);
}

void ConvergenceChart::SaveSvgAs()
{
    saveAs(QStringLiteral("Save Chart as SVG"), QStringLiteral("SVG images (*.svg)|*.svg"), QStringLiteral("svg"),
           &ConvergenceChart::SaveSvg);
}

void ConvergenceChart::SaveCsvAs()
{
    saveAs(QStringLiteral("Save Numbers as CSV"), QStringLiteral("CSV files (*.csv)|*.csv"), QStringLiteral("csv"),
           &ConvergenceChart::SaveCsv);
}
