#pragma once

// The steps of a geometry search as the progress scanner reports them.

#include "analysis/GeometryScanner.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Step, energy, largest and RMS gradient of each step entry Parse gives for the file.
inline QList<QList<double>> stepsOfTheScanner(const QString &file)
{
    GeometryScanner scanner;
    QList<QList<double>> steps;
    ParseOutputFile(scanner, file, [&](const QByteArray &entry) {
        if (!entry.startsWith("STEP ="))
            return;
        QList<double> values;
        for (const char *label : {"STEP =", "ENERGY=", "MAXIMUM GRADIENT =", "RMS GRADIENT ="})
            values << entry.mid(entry.indexOf(label) + qstrlen(label)).simplified().split(' ').first().toDouble();
        steps << values;
    });
    return steps;
}
