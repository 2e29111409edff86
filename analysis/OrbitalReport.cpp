#include "analysis/OrbitalReport.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/TextLines.h"
#include "platform/Errors.h"

#include <QFile>

#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <string>

namespace {

using namespace FireflyMarkers;

using Lines = std::vector<std::string_view>;

bool isBlank(char c)
{
    return c == ' ';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whole line equal to the marker, letter case ignored, blanks counting.
bool matchesMarker(std::string_view line, std::string_view marker)
{
    if (line.size() != marker.size())
        return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (lowerAscii(line[i]) != lowerAscii(marker[i]))
            return false;
    }
    return true;
}

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QString quoted(std::string_view marker)
{
    return QLatin1Char('"') + QString::fromLatin1(marker.data(), static_cast<qsizetype>(marker.size())) + QLatin1Char('"');
}

[[noreturn]] void throwMissing(const QString &markers)
{
    throw EFileError(QStringLiteral("Marker line %1 not found").arg(markers));
}

// The loaded text, from which one line may have been deleted (the first
// "ENERGY COMPONENTS" line). Indices are those of the list as it stands;
// an index outside it raises the runtime's list error with that index.
class LoadedText
{
public:
    explicit LoadedText(const Lines &lines) : m_lines(lines) {}

    qint64 count() const
    {
        return static_cast<qint64>(m_lines.size()) - (m_deleted >= 0 ? 1 : 0);
    }

    std::string_view at(qint64 index) const
    {
        if (index < 0 || index >= count())
            throw EListError::indexOutOfBounds(index);
        return m_lines[static_cast<std::size_t>(toOriginal(index))];
    }

    // Index of the first line that matches the marker, or -1.
    qint64 indexOf(std::string_view marker) const
    {
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (static_cast<qint64>(i) != m_deleted && matchesMarker(m_lines[i], marker))
                return toCurrent(static_cast<qint64>(i));
        }
        return -1;
    }

    void remove(qint64 index)
    {
        at(index); // the list error for an index outside the text
        m_deleted = toOriginal(index);
    }

private:
    qint64 toOriginal(qint64 index) const { return (m_deleted >= 0 && index >= m_deleted) ? index + 1 : index; }
    qint64 toCurrent(qint64 index) const { return (m_deleted >= 0 && index > m_deleted) ? index - 1 : index; }

    const Lines &m_lines;
    qint64 m_deleted = -1;
};

// Characters start .. start + width - 1 of a line, counting from 1, clamped
// to the line; a start before the first character keeps its full width.
std::string_view field(std::string_view line, qint64 start, qint64 width)
{
    const qint64 from = start < 1 ? 0 : start - 1;
    if (width <= 0 || from >= static_cast<qint64>(line.size()))
        return std::string_view();
    return line.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(width));
}

// Reads "NAME = n" blocks ("AG  =  25      AU  =   5") and adds their
// counts to `sum`. False when the line is not made of such blocks.
bool addSymmetryBlocks(std::string_view line, qint64 &sum)
{
    std::size_t i = 0;
    const std::size_t n = line.size();
    int blocks = 0;
    for (;;) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n)
            return blocks > 0;
        const std::size_t nameStart = i;
        while (i < n && !isBlank(line[i]) && line[i] != '=')
            ++i;
        if (i == nameStart)
            return false;
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n || line[i] != '=')
            return false;
        ++i;
        while (i < n && isBlank(line[i]))
            ++i;
        qint64 value = 0;
        const std::size_t digitsStart = i;
        while (i < n && isDigit(line[i])) {
            value = value * 10 + (line[i] - '0');
            if (value > INT_MAX)
                return false;
            ++i;
        }
        if (i == digitsStart)
            return false;
        sum += value;
        ++blocks;
    }
}

// The basis-function count of a run with symmetry: the sum of the blocks
// listed on the lines from `first` up to the next blank line.
std::optional<int> sumSymmetryBlocks(const LoadedText &text, qint64 first)
{
    qint64 sum = 0;
    qint64 lines = 0;
    for (qint64 i = first; i < text.count(); ++i) {
        const std::string_view line = text.at(i);
        if (line.find_first_not_of(' ') == std::string_view::npos)
            break;
        if (!addSymmetryBlocks(line, sum) || sum > INT_MAX)
            return std::nullopt;
        ++lines;
    }
    if (lines == 0)
        return std::nullopt;
    return static_cast<int>(sum);
}

double toStoredDouble(long double product, std::string_view field)
{
    const double stored = static_cast<double>(product);
    if (!std::isfinite(stored))
        throw EConvertError::invalidFloat(bytes(field));
    return stored;
}

// The field that holds the energy of 0-based orbital i, in hartree.
std::string_view orbitalField(const LoadedText &text, qint64 m, qint64 b, qint64 i)
{
    const qint64 group = i / 5;
    const qint64 place = i % 5;
    return field(text.at(m + 4 + group * (b + 4)), 16 + 11 * place, 11);
}

double electronvolts(std::string_view value)
{
    return toStoredDouble(OrbitalReport::ReadDecimalNumber(value) * OrbitalReport::HartreeToElectronvolt, value);
}

// Total energy in kcal/mol; deletes the first "ENERGY COMPONENTS" line.
double totalEnergy(LoadedText &text)
{
    std::string_view value;
    const qint64 e1 = text.indexOf(EnergyComponents);
    if (e1 >= 0) {
        text.remove(e1);
        const qint64 e2 = text.indexOf(EnergyComponents);
        value = field(text.at(e2 >= 0 ? e2 + 9 : (e1 - 1) + 9), 38, 19);
    } else {
        qint64 r = text.indexOf(MolecularOrbitals);
        if (r < 0) {
            const qint64 vib = text.indexOf(Vibration);
            if (vib < 0)
                throwMissing(quoted(EnergyComponents) + QStringLiteral(", ") + quoted(MolecularOrbitals)
                             + QStringLiteral(" or ") + quoted(Vibration));
            r = vib + 2;
        }
        value = field(text.at(r - 3), 30, 20);
    }
    return toStoredDouble(OrbitalReport::ReadDecimalNumber(value) * OrbitalReport::HartreeToKcalPerMol, value);
}

} // namespace

namespace OrbitalReport {

int ReadWholeNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t digitsStart = i;
    qint64 value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > qint64(INT_MAX) + 1)
            throw EConvertError::invalidInteger(bytes(text));
    }
    if (i == digitsStart || i != text.size())
        throw EConvertError::invalidInteger(bytes(text));
    if (negative)
        value = -value;
    if (value > INT_MAX)
        throw EConvertError::invalidInteger(bytes(text));
    return static_cast<int>(value);
}

long double ReadDecimalNumber(std::string_view text)
{
    const auto invalid = [&] { return EConvertError::invalidFloat(bytes(text)); };
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t numberStart = i;
    std::size_t mantissaDigits = 0;
    for (; i < n && isDigit(text[i]); ++i)
        ++mantissaDigits;
    if (i < n && text[i] == '.') {
        for (++i; i < n && isDigit(text[i]); ++i)
            ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        throw invalid();
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t exponentStart = i;
        while (i < n && isDigit(text[i]))
            ++i;
        if (i == exponentStart)
            throw invalid();
    }
    const std::size_t numberEnd = i;
    while (i < n && isBlank(text[i]))
        ++i;
    if (i != n)
        throw invalid();

    // from_chars reads no sign of its own and ignores the C locale.
    long double value = 0;
    const char *first = text.data() + numberStart;
    const char *last = text.data() + numberEnd;
    const std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
        throw invalid();
    return negative ? -value : value;
}

QByteArray FormatNumber(double value)
{
    if (!std::isfinite(value))
        return value != value ? QByteArray("NAN") : (value < 0 ? QByteArray("-INF") : QByteArray("INF"));
    if (value == 0)
        return QByteArray("0.00");

    // The value's 18 significant digits: d.ddddddddddddddddde±x.
    char buffer[64];
    const std::to_chars_result printed
        = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 17);
    std::string digits;
    digits += buffer[0];
    digits.append(buffer + 2, 17);
    // The number of digits before the decimal point: the printed exponent + 1.
    const char *e = buffer + 19; // 'e', then '+' or '-', then the exponent's digits
    int exponent = 0;
    std::from_chars(e + 2, printed.ptr, exponent);
    exponent = (e[1] == '-' ? -exponent : exponent) + 1;

    // Keep the integer digits and two decimals, at most ten digits, rounding
    // half away from zero.
    const int keep = std::min(10, exponent + 2);
    if (keep < 0)
        return QByteArray("0.00");
    const bool roundUp = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (roundUp) {
        int k = keep - 1;
        while (k >= 0 && digits[static_cast<std::size_t>(k)] == '9')
            digits[static_cast<std::size_t>(k--)] = '0';
        if (k >= 0) {
            ++digits[static_cast<std::size_t>(k)];
        } else {
            digits.insert(digits.begin(), '1');
            digits.resize(static_cast<std::size_t>(std::max(keep, 1)));
            ++exponent;
        }
    }
    if (digits.find_first_not_of('0') == std::string::npos)
        return QByteArray("0.00");

    QByteArray text;
    if (value < 0)
        text += '-';
    if (exponent > 10) {
        // General exponent form: mantissa without trailing zeros, "E", exponent.
        const std::size_t used = digits.find_last_not_of('0') + 1;
        text += digits[0];
        if (used > 1) {
            text += '.';
            text += QByteArray(digits.data() + 1, static_cast<qsizetype>(used - 1));
        }
        text += 'E';
        text += QByteArray::number(exponent - 1);
        return text;
    }
    const auto digitAt = [&](int k) { return (k >= 0 && k < static_cast<int>(digits.size())) ? digits[static_cast<std::size_t>(k)] : '0'; };
    if (exponent <= 0) {
        text += '0';
    } else {
        for (int k = 0; k < exponent; ++k)
            text += digitAt(k);
    }
    text += '.';
    text += digitAt(exponent);
    text += digitAt(exponent + 1);
    return text;
}

QByteArray FormatSignedNumber(double value)
{
    return value >= 0 ? '+' + FormatNumber(value) : FormatNumber(value);
}

QByteArray NameField(const QString &fileName)
{
    QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() < 15)
        name = name.leftJustified(15, QLatin1Char(' '));
    return QFile::encodeName(name);
}

} // namespace OrbitalReport

OrbitalReportRow ExtractOrbitalReportRow(const std::vector<std::string_view> &lines, const QString &fileName)
{
    using namespace OrbitalReport;
    LoadedText text(lines);

    // Occupied orbitals, under the symmetry marker.
    qint64 s = text.indexOf(SymmetryBothSets);
    if (s < 0)
        s = text.indexOf(SymmetryAlphaSet);
    if (s < 0)
        throwMissing(quoted(SymmetryBothSets) + QStringLiteral(" or ") + quoted(SymmetryAlphaSet));
    const qint64 n = ReadWholeNumber(field(text.at(s + 1), 1, 6));

    // Basis functions, under the dimension marker: " A   =  60" without
    // symmetry. With symmetry the line lists several blocks whose sum is
    // the count, and the fixed field holds no whole number.
    const qint64 d = text.indexOf(SymmetryDimensions);
    if (d < 0)
        throwMissing(quoted(SymmetryDimensions));
    qint64 b = 0;
    const std::string_view basisField = field(text.at(d + 1), 7, 6);
    try {
        b = ReadWholeNumber(basisField);
    } catch (const EConvertError &) {
        const std::optional<int> sum = sumSymmetryBlocks(text, d + 1);
        if (!sum)
            throw;
        b = *sum;
    }

    const qint64 h = n - 1;

    qint64 m = text.indexOf(MolecularOrbitals);
    if (m < 0)
        m = text.indexOf(Eigenvectors);
    if (m < 0)
        throwMissing(quoted(MolecularOrbitals) + QStringLiteral(" or ") + quoted(Eigenvectors));
    if (text.at(m + 3) == VersionWarning)
        m += 4;

    const double homo = electronvolts(orbitalField(text, m, b, h));
    const std::string_view lumoField = orbitalField(text, m, b, h + 1);
    const double lumo = electronvolts(lumoField);
    // A gap beyond the range of a double overflows like any other value.
    const double gap = toStoredDouble(static_cast<long double>(lumo) - static_cast<long double>(homo), lumoField);
    const double total = totalEnergy(text);

    QByteArray line = NameField(fileName);
    line += '\t';
    line += FormatSignedNumber(homo);
    line += '\t';
    line += FormatSignedNumber(lumo);
    line += '\t';
    line += FormatSignedNumber(gap);
    line += '\t';
    line += FormatNumber(total);
    return {fileName, homo, lumo, gap, total, line};
}

QByteArray ExtractOrbitalReport(const std::vector<std::string_view> &lines, const QString &fileName)
{
    return ExtractOrbitalReportRow(lines, fileName).line;
}

QByteArray ExtractOrbitalReport(const QByteArrayList &lines, const QString &fileName)
{
    std::vector<std::string_view> views;
    views.reserve(static_cast<std::size_t>(lines.size()));
    for (const QByteArray &line : lines)
        views.emplace_back(line.constData(), static_cast<std::size_t>(line.size()));
    return ExtractOrbitalReport(views, fileName);
}

OrbitalReportRow ExtractOrbitalReportRow(const QString &fileName)
{
    const QByteArray text = LoadFileBytes(fileName);
    return ExtractOrbitalReportRow(
        SplitLineViews(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))), fileName);
}

QByteArray ExtractOrbitalReport(const QString &fileName)
{
    return ExtractOrbitalReportRow(fileName).line;
}
