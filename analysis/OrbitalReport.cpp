#include "analysis/OrbitalReport.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/ReportText.h"
#include "analysis/TextLines.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <QFile>

#include <climits>
#include <cmath>
#include <optional>

namespace {

using namespace FireflyMarkers;
using namespace OrbitalReport;

// Firefly's printout as the report reads it: lines counted from a marker
// line, and fields of a line, `width` characters from `column` (from 1).
struct Field
{
    qint64 column;
    qint64 width;
};

// "    35 ORBITALS ARE OCCUPIED", the line below the symmetry marker.
constexpr Field OccupiedCount{1, 6};
// " A   =  60", the line below the dimension marker (without symmetry).
constexpr Field BasisCount{7, 6};

// The orbital printout below MolecularOrbitals or Eigenvectors: groups of
// five orbitals, each group a line of their energies (hartree) and the
// basis functions' lines, B + 4 lines in all.
constexpr qint64 WarningBelowOrbitals = 3; // where the version warning may stand ...
constexpr qint64 WarningLines = 4;         // ... moving the printout down by this many lines
constexpr qint64 EnergiesBelowOrbitals = 4; // the first group's line of energies
constexpr qint64 OrbitalsPerGroup = 5;
constexpr qint64 GroupLinesBesideBasis = 4;
constexpr Field FirstOrbitalEnergy{16, 11}; // the next orbital of the group 11 columns on

// "                       TOTAL ENERGY =   -76.0107465159", below EnergyComponents.
constexpr qint64 TotalBelowComponents = 9;
constexpr Field ComponentsTotal{38, 19};
// Without EnergyComponents: "          TOTAL ENERGY      =    -76.0107465159",
// above MolecularOrbitals, else above Vibration.
constexpr qint64 TotalAboveOrbitals = 3;
constexpr qint64 TotalAboveVibration = 1;
constexpr Field PrintedTotal{30, 20};

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

// The line, or the runtime's list error with its index.
template<typename Text>
std::string_view lineAt(Text &text, typename Text::Line line)
{
    const std::optional<std::string_view> bytes = text.at(line);
    if (!bytes)
        throw EListError::indexOutOfBounds(text.number(line));
    return *bytes;
}

// The first line that matches `first`, else the first that matches `second`.
template<typename Text>
typename Text::Line findEither(Text &text, std::string_view first, std::string_view second)
{
    auto line = text.find(first);
    if (!line)
        line = text.find(second);
    if (!line)
        throwMissing(quoted(first) + QStringLiteral(" or ") + quoted(second));
    return *line;
}

// The characters of the field, clamped to the line; a column before the
// first keeps the field's full width.
std::string_view fieldOf(std::string_view line, Field field)
{
    const qint64 from = field.column < 1 ? 0 : field.column - 1;
    if (field.width <= 0 || from >= static_cast<qint64>(line.size()))
        return std::string_view();
    return line.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(field.width));
}

// Reads "NAME = n" blocks ("AG  =  25      AU  =   5") and adds their
// counts to `sum`. False when the line is not made of such blocks.
bool addSymmetryBlocks(std::string_view line, qint64 &sum)
{
    std::size_t i = 0;
    const std::size_t size = line.size();
    int blocks = 0;
    for (;;) {
        while (i < size && IsBlank(line[i]))
            ++i;
        if (i == size)
            return blocks > 0;
        const std::size_t nameStart = i;
        while (i < size && !IsBlank(line[i]) && line[i] != '=')
            ++i;
        if (i == nameStart)
            return false;
        while (i < size && IsBlank(line[i]))
            ++i;
        if (i == size || line[i] != '=')
            return false;
        ++i;
        while (i < size && IsBlank(line[i]))
            ++i;
        qint64 count = 0;
        const std::size_t digitsStart = i;
        while (i < size && IsDigit(line[i])) {
            count = count * 10 + (line[i] - '0');
            if (count > INT_MAX)
                return false;
            ++i;
        }
        if (i == digitsStart)
            return false;
        sum += count;
        ++blocks;
    }
}

// The basis-function count of a run with symmetry: the sum of the blocks
// listed on the lines from `first` up to the next blank line.
template<typename Text>
std::optional<int> sumSymmetryBlocks(Text &text, typename Text::Line first)
{
    qint64 sum = 0;
    qint64 lines = 0;
    for (std::optional<std::string_view> line; (line = text.at(first + lines)); ++lines) {
        if (line->find_first_not_of(' ') == std::string_view::npos)
            break;
        if (!addSymmetryBlocks(*line, sum) || sum > INT_MAX)
            return std::nullopt;
    }
    if (lines == 0)
        return std::nullopt;
    return static_cast<int>(sum);
}

// The count of basis functions, B, from the line below the dimension marker.
template<typename Text>
qint64 basisFunctions(Text &text)
{
    const auto dimensions = text.find(SymmetryDimensions);
    if (!dimensions)
        throwMissing(quoted(SymmetryDimensions));
    const std::string_view count = fieldOf(lineAt(text, *dimensions + 1), BasisCount);
    if (const std::optional<int> basis = WholeNumber(count))
        return *basis;
    // With symmetry the line lists several blocks, whose sum is the count.
    if (const std::optional<int> sum = sumSymmetryBlocks(text, *dimensions + 1))
        return *sum;
    return ReadWholeNumber(count); // its error
}

// The field that holds the energy of the orbital with 0-based index
// `orbital`, in hartree.
template<typename Text>
std::string_view orbitalEnergyField(Text &text, typename Text::Line firstEnergies, qint64 basis, qint64 orbital)
{
    const qint64 group = orbital / OrbitalsPerGroup;
    const qint64 place = orbital % OrbitalsPerGroup;
    const std::string_view energies = lineAt(text, firstEnergies + group * (basis + GroupLinesBesideBasis));
    return fieldOf(energies, {FirstOrbitalEnergy.column + FirstOrbitalEnergy.width * place, FirstOrbitalEnergy.width});
}

double toStoredDouble(long double product, std::string_view field)
{
    const double stored = static_cast<double>(product);
    if (!std::isfinite(stored))
        throw EConvertError::invalidFloat(bytes(field));
    return stored;
}

double electronvolts(std::string_view hartree)
{
    return toStoredDouble(ReadDecimalNumber(hartree) * HartreeToElectronvolt, hartree);
}

// The total energy in kcal/mol: 9 lines below the second EnergyComponents
// line, or below the only one, else printed above the orbitals.
template<typename Text>
double totalEnergy(Text &text)
{
    std::string_view hartree;
    if (const auto first = text.find(EnergyComponents)) {
        const auto second = text.findAfter(EnergyComponents, *first);
        const auto total = (second ? *second : *first) + TotalBelowComponents;
        const std::optional<std::string_view> line = text.at(total);
        // The second marker line is found by deleting the first and searching
        // again; a line outside the text is named as counted without it.
        if (!line)
            throw EListError::indexOutOfBounds(text.number(total) - 1);
        hartree = fieldOf(*line, ComponentsTotal);
    } else {
        std::optional<typename Text::Line> total;
        if (const auto orbitals = text.find(MolecularOrbitals))
            total = *orbitals - TotalAboveOrbitals;
        else if (const auto vibration = text.find(Vibration))
            total = *vibration - TotalAboveVibration;
        else
            throwMissing(quoted(EnergyComponents) + QStringLiteral(", ") + quoted(MolecularOrbitals)
                         + QStringLiteral(" or ") + quoted(Vibration));
        hartree = fieldOf(lineAt(text, *total), PrintedTotal);
    }
    return toStoredDouble(ReadDecimalNumber(hartree) * HartreeToKcalPerMol, hartree);
}

// The report's values from the text, in the order the printout is read, so
// that the first field that does not read is the one the error names.
template<typename Text>
OrbitalReportRow locateValues(Text &text, const QString &fileName)
{
    const auto symmetry = findEither(text, SymmetryBothSets, SymmetryAlphaSet);
    const qint64 occupied = ReadWholeNumber(fieldOf(lineAt(text, symmetry + 1), OccupiedCount));
    const qint64 basis = basisFunctions(text);
    const qint64 homoIndex = occupied - 1; // the LUMO follows it

    const auto orbitals = findEither(text, MolecularOrbitals, Eigenvectors);
    auto firstEnergies = orbitals + EnergiesBelowOrbitals;
    if (lineAt(text, orbitals + WarningBelowOrbitals) == VersionWarning)
        firstEnergies = firstEnergies + WarningLines;

    const double homo = electronvolts(orbitalEnergyField(text, firstEnergies, basis, homoIndex));
    const std::string_view lumoField = orbitalEnergyField(text, firstEnergies, basis, homoIndex + 1);
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

// The output files read last, in one buffer for all: a table of many outputs
// then asks the system for new memory only when a file is larger than all
// before. Kept for the next one only up to this size.
constexpr qsizetype KeptBufferBytes = 16 * 1024 * 1024;

} // namespace

namespace OrbitalReport {

QByteArray NameField(const QString &fileName)
{
    QString name = Paths::BaseName(fileName);
    if (name.size() < 15)
        name = name.leftJustified(15, QLatin1Char(' '));
    return QFile::encodeName(name);
}

} // namespace OrbitalReport

OrbitalReportRow ExtractOrbitalReportRow(const std::vector<std::string_view> &lines, const QString &fileName)
{
    ListedLines text(lines);
    return locateValues(text, fileName);
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

OrbitalReportRow ExtractOrbitalReportRowFromText(std::string_view text, const QString &fileName)
{
    OutputText output(text, {SymmetryBothSets, SymmetryAlphaSet, SymmetryDimensions, MolecularOrbitals, Eigenvectors,
                             EnergyComponents, Vibration});
    return locateValues(output, fileName);
}

OrbitalReportRow ExtractOrbitalReportRow(const QString &fileName)
{
    thread_local QByteArray buffer;
    LoadFileBytes(fileName, buffer);
    struct Release
    {
        ~Release()
        {
            if (buffer.capacity() > KeptBufferBytes)
                buffer = QByteArray();
        }
    } release;
    return ExtractOrbitalReportRowFromText(std::string_view(buffer.constData(), std::size_t(buffer.size())), fileName);
}

QByteArray ExtractOrbitalReport(const QString &fileName)
{
    return ExtractOrbitalReportRow(fileName).line;
}
