#pragma once

#include "analysis/NumberText.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <string_view>
#include <vector>

// One line of the HOMO-LUMO table for a finished Firefly output: the file's
// name padded to 15 characters, HOMO, LUMO and gap in eV, total energy in
// kcal/mol, separated by tabs (none at the end).
//
// The numbers are plain ASCII. The name field holds the file name in the file
// system's encoding (QFile::encodeName), so show the line with
// QFile::decodeName; for ASCII names that is the same as Latin-1.
//
// Throws EConvertError or EListError (the runtime's texts) when the output
// does not hold what its printed layout promises, and EFileError when the
// file cannot be read or a marker line is missing altogether.
QByteArray ExtractOrbitalReport(const QByteArrayList &lines, const QString &fileName);
QByteArray ExtractOrbitalReport(const std::vector<std::string_view> &lines, const QString &fileName);

// Loads the file and extracts its line.
QByteArray ExtractOrbitalReport(const QString &fileName);

// The line with the numbers behind it, as stored before the line rounds them.
struct OrbitalReportRow
{
    QString fileName;
    double homo = 0;  // eV
    double lumo = 0;  // eV
    double gap = 0;   // eV
    double total = 0; // kcal/mol
    QByteArray line;  // exactly what ExtractOrbitalReport returns
};
OrbitalReportRow ExtractOrbitalReportRow(const std::vector<std::string_view> &lines, const QString &fileName);
// From the output's whole text (its lines split as SplitLineViews splits them).
OrbitalReportRow ExtractOrbitalReportRowFromText(std::string_view text, const QString &fileName);
OrbitalReportRow ExtractOrbitalReportRow(const QString &fileName);

// The pieces of the report, for the dialog and the tests (its numbers as
// text: NumberText.h).
namespace OrbitalReport {

// Conversion factors, in extended precision; products are stored as double.
constexpr long double HartreeToElectronvolt = 27.21138469L;
constexpr long double HartreeToKcalPerMol = 627.5095L;

// The file name after the last "/" without its extension, padded with
// blanks to 15 characters.
QByteArray NameField(const QString &fileName);

} // namespace OrbitalReport
