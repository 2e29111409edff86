#pragma once

#include "analysis/ConvergenceSeries.h"

#include <QString>
#include <QWidget>

#include <memory>

class ConvergenceChart;

namespace Ui {
class TConvergenceForm;
}

// A window of its own with the convergence chart of one output file, with
// buttons that save the chart (PNG, SVG) and its numbers (CSV). Not modal:
// several can stay open beside the main window, one per file.
class TConvergenceForm : public QWidget
{
    Q_OBJECT

public:
    explicit TConvergenceForm(QWidget *parent = nullptr);
    ~TConvergenceForm() override;

    // Reads the output's search and shows it. Throws EFileError when the
    // file cannot be read.
    void Load(const QString &outputFile);
    QString OutputFile() const { return m_outputFile; }
    ConvergenceChart *Chart() const;

private:
    std::unique_ptr<Ui::TConvergenceForm> ui;
    QString m_outputFile;
    ConvergenceSeries m_series;
};

// The popup item "Convergence...": the window of that output, opened anew
// or, when it is open already, read again and brought to the front.
// Throws EFileError when the file cannot be read (no window then opens).
TConvergenceForm *ShowConvergenceWindow(QWidget *owner, const QString &outputFile);
