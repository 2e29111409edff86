#pragma once

#include "analysis/ConvergenceSeries.h"
#include "analysis/OrbitalReport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

// Tables for other programs (spreadsheets, scripts): CSV with a header row,
// fields quoted only where they hold a comma, a double quote or a line
// break, LF line ends, and numbers with "." as the decimal point whatever
// the locale, written in full (the shortest text that reads back as the
// same double).

QByteArray CsvField(QByteArrayView text);
// Empty for a value not known (NaN).
QByteArray CsvNumber(double value);

// step, energy (hartree), maximum and RMS gradient (hartree/bohr), a row per step.
QByteArray ConvergenceCsv(const std::vector<ConvergencePoint> &points);

// A row per file: its path, HOMO, LUMO and gap (eV) and total energy
// (kcal/mol) as read, then the same four as the HOMO-LUMO table shows them.
QByteArray OrbitalReportCsv(const QList<OrbitalReportRow> &rows);
