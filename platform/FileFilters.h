#pragma once

#include <QString>
#include <QStringList>

// File-dialog filters are written as the design names them:
// "Firefly input files (*.inp)|*.inp|All files (*.*)|*.*" (description and
// pattern pairs separated by "|"). Qt wants one "Description (patterns)"
// string per filter. "*.*" becomes "*", since Linux file names need no dot.
//
// With matchEveryFile (the pickers for executables) every filter matches
// every file: Linux programs carry no extension, so "*.exe" would hide them.
QStringList QtNameFilters(const QString &filter, bool matchEveryFile = false);
