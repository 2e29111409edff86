#pragma once

#include <QString>
#include <QStringList>

// The delimited-text form of a list of working directories: one line, items
// separated by blanks, an item holding a blank, a control character or a
// double quote written between double quotes with its quotes doubled. The
// same text is appended to the Firefly command line, so its quoting doubles
// as command-line quoting.
QString JoinDirList(const QStringList &list);
QStringList SplitDirList(const QString &text);
