#include "ui/ConvergenceForm.h"

#include "ui_ConvergenceForm.h"

#include "platform/Paths.h"
#include "ui/ConvergenceChart.h"

TConvergenceForm::TConvergenceForm(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::TConvergenceForm>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->SavePngBtn, &QPushButton::clicked, ui->Chart, &ConvergenceChart::SavePngAs);
    connect(ui->SaveSvgBtn, &QPushButton::clicked, ui->Chart, &ConvergenceChart::SaveSvgAs);
    connect(ui->SaveCsvBtn, &QPushButton::clicked, ui->Chart, &ConvergenceChart::SaveCsvAs);
    connect(ui->CloseBtn, &QPushButton::clicked, this, &QWidget::close);
}

TConvergenceForm::~TConvergenceForm() = default;

ConvergenceChart *TConvergenceForm::Chart() const
{
    return ui->Chart;
}

void TConvergenceForm::Load(const QString &outputFile)
{
    ConvergenceSeries series = ReadConvergenceSeries(outputFile);
    m_outputFile = outputFile;
    m_series = std::move(series);
    const QString name = Paths::FileNamePart(outputFile);
    setWindowTitle(QStringLiteral("Convergence - ") + name);
    ui->Chart->SetOutputFile(outputFile);
    ui->Chart->ShowSeries(m_series);
    const std::size_t steps = m_series.Points().size();
    ui->StepsLab->setText(steps == 0   ? QStringLiteral("No geometry search in this output.")
                          : steps == 1 ? QStringLiteral("1 step")
                                       : QStringLiteral("%1 steps").arg(steps));
}

TConvergenceForm *ShowConvergenceWindow(QWidget *owner, const QString &outputFile)
{
    TConvergenceForm *form = nullptr;
    for (TConvergenceForm *open : owner->findChildren<TConvergenceForm *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (open->OutputFile() == outputFile)
            form = open;
    }
    if (form) {
        form->Load(outputFile);
    } else {
        auto fresh = std::make_unique<TConvergenceForm>(owner);
        fresh->Load(outputFile);
        form = fresh.release();
    }
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}
