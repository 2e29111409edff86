#include "analysis/TableExport.h"

#include <QFile>

#include <charconv>
#include <cmath>

QByteArray CsvField(QByteArrayView text)
{
    const bool plain = text.indexOf(',') < 0 && text.indexOf('"') < 0 && text.indexOf('\n') < 0 && text.indexOf('\r') < 0;
    if (plain)
        return text.toByteArray();
    return '"' + text.toByteArray().replace('"', "\"\"") + '"';
}

QByteArray CsvNumber(double value)
{
    if (std::isnan(value))
        return {};
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, qsizetype(result.ptr - text));
}

QByteArray ConvergenceCsv(const std::vector<ConvergencePoint> &points)
{
    QByteArray csv = "step,energy_hartree,max_gradient_hartree_per_bohr,rms_gradient_hartree_per_bohr\n";
    for (const ConvergencePoint &point : points) {
        csv += QByteArray::number(point.step) + ',' + CsvNumber(point.energy) + ',' + CsvNumber(point.maxGradient)
               + ',' + CsvNumber(point.rmsGradient) + '\n';
    }
    return csv;
}

QByteArray OrbitalReportCsv(const QList<OrbitalReportRow> &rows)
{
    QByteArray csv = "file,homo_ev,lumo_ev,gap_ev,total_kcal_mol,"
                     "homo_ev_table,lumo_ev_table,gap_ev_table,total_kcal_mol_table\n";
    for (const OrbitalReportRow &row : rows) {
        csv += CsvField(QFile::encodeName(row.fileName));
        for (double value : {row.homo, row.lumo, row.gap, row.total})
            csv += ',' + CsvNumber(value);
        // The table's own texts: the fields after the name.
        const QByteArrayList fields = row.line.split('\t');
        for (qsizetype i = 1; i < 5; ++i)
            csv += ',' + CsvField(fields.value(i));
        csv += '\n';
    }
    return csv;
}
