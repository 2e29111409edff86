#include "analysis/ConvergenceSeries.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/TextLines.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double NotYet = std::numeric_limits<double>::quiet_NaN();

// Whether the label (which ends in "=") ends at the "=" sign at `equals`.
bool labelAt(std::string_view text, std::size_t equals, std::string_view label)
{
    const std::size_t end = equals + 1;
    return end >= label.size() && text.substr(end - label.size(), label.size()) == label;
}

// The rest of the line that holds position `at`.
std::string_view restOfLine(std::string_view text, std::size_t at)
{
    const std::size_t end = text.find_first_of("\r\n", at);
    return text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

// A number after blanks at the start of `text`.
template<typename Number>
bool readNumber(std::string_view text, Number &value)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return false;
    return std::from_chars(text.data() + first, text.data() + text.size(), value).ec == std::errc();
}

// The number after `label` (which ends in "=") further along the line.
bool readLabelled(std::string_view line, std::string_view label, double &value)
{
    const std::size_t at = line.find(label);
    return at != std::string_view::npos && readNumber(line.substr(at + label.size()), value);
}

} // namespace

void ConvergenceSeries::Feed(std::string_view text)
{
    const char *const data = text.data();
    for (std::size_t at = 0; at < text.size();) {
        const void *sign = std::memchr(data + at, '=', text.size() - at);
        if (!sign)
            return;
        const std::size_t equals = std::size_t(static_cast<const char *>(sign) - data);
        const std::string_view line = restOfLine(text, equals + 1);
        at = equals + 1;
        if (labelAt(text, equals, FireflyMarkers::StepLabel)) {
            ConvergencePoint point{0, 0, NotYet, NotYet};
            if (readNumber(line, point.step) && readLabelled(line, FireflyMarkers::StepEnergyLabel, point.energy)) {
                m_points.push_back(point);
                at += line.size();
            }
        } else if (labelAt(text, equals, FireflyMarkers::MaximumGradient)) {
            double largest = 0, rms = 0;
            if (!m_points.empty() && std::isnan(m_points.back().maxGradient) && readNumber(line, largest)
                && readLabelled(line, FireflyMarkers::RmsGradientLabel, rms)) {
                m_points.back().maxGradient = largest;
                m_points.back().rmsGradient = rms;
                at += line.size();
            }
        } else if (labelAt(text, equals, FireflyMarkers::OptTolLabel)) {
            double tolerance = 0;
            if (readNumber(line, tolerance) && tolerance > 0) {
                m_optTol = tolerance;
                m_optTolRead = true;
            }
        }
    }
}

void ConvergenceSeries::Clear()
{
    *this = ConvergenceSeries();
}

ConvergenceSeries ReadConvergenceSeries(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FileError("open", file);
    ConvergenceSeries series;
    // Pieces of whole lines: what follows the last line break of a read is
    // carried to the next one.
    constexpr qsizetype Piece = 1024 * 1024;
    QByteArray buffer(Piece, Qt::Uninitialized);
    qsizetype carried = 0;
    for (;;) {
        if (carried == buffer.size()) { // a line of a megabyte holds none of the lines looked for
            series.Feed(std::string_view(buffer.constData(), std::size_t(carried)));
            carried = 0;
        }
        const qint64 n = file.read(buffer.data() + carried, buffer.size() - carried);
        if (n < 0)
            throw FileError("read", file);
        const qsizetype filled = carried + qsizetype(n);
        std::string_view text(buffer.constData(), std::size_t(filled));
        if (n == 0) {
            series.Feed(text);
            return series;
        }
        const std::size_t end = text.find_last_of("\r\n");
        const std::size_t whole = end == std::string_view::npos ? 0 : end + 1;
        series.Feed(text.substr(0, whole));
        carried = filled - qsizetype(whole);
        std::memmove(buffer.data(), buffer.constData() + whole, std::size_t(carried));
    }
}
