#pragma once

#include "analysis/JobOutcome.h"

#include <QIcon>
#include <QString>

class QListWidgetItem;

// How the job of a processed-list entry ended, shown on the entry: a small
// icon, and a tooltip with the outcome and the reason line. The entry's text
// stays the path.

// The entry's data in this role: the outcome's keyword ("converged", ...),
// or "unreadable" for an output that could not be read.
constexpr int OutcomeRole = Qt::UserRole + 1;

// Classifies the output (`end`: how its process ended, where known) and
// shows the result on the item. Never throws: an output that cannot be read
// says so in its tooltip.
void ShowOutcome(QListWidgetItem &item, const QString &outputFile, const ProcessEnd &end = {});

// The icon for a keyword: the desktop's icon theme where it has one of the
// names, else one drawn here (so a bare desktop shows one too).
QIcon OutcomeIcon(const QString &keyword);
