#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// One line of the HOMO-LUMO table for a finished Firefly output: the file's
// name padded to 15 characters, HOMO, LUMO and gap in eV, total energy in
// kcal/mol, separated by tabs.
//
// Throws EConvertError, EListError or EFileError when the output does not
// hold what the layout promises.
QByteArray ExtractOrbitalReport(const QByteArrayList &lines, const QString &fileName);

// Loads the file and extracts its line.
QByteArray ExtractOrbitalReport(const QString &fileName);
