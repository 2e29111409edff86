#include "ui/ReportForm.h"

#include "ui_ReportForm.h"

#include "analysis/OrbitalReport.h"
#include "analysis/TableExport.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/WholeFile.h"
#include "platform/Errors.h"
#include "ui/FormUtils.h"

#include <QClipboard>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QListWidget>
#include <QShowEvent>
#include <QTextCursor>

THLDlg::THLDlg(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::THLDlg>())
{
    ui->setupUi(this);
    FormUtils::ApplyFormFont(this);
    setFixedSize(size());
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    // Aqua, fixed pitch, tab stops every eight characters so the columns
    // line up under the caption.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(11);
    ui->DataMemo->setFont(fixed);
    ui->DataMemo->setTabStopDistance(8 * QFontMetricsF(fixed).horizontalAdvance(QLatin1Char('0')));
    QPalette palette = ui->DataMemo->palette();
    palette.setColor(QPalette::Base, QColor(0x00, 0xff, 0xff));
    palette.setColor(QPalette::Text, Qt::black);
    ui->DataMemo->setPalette(palette);

    connect(ui->OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CopyBtn, &QPushButton::clicked, this, [this] {
        CopyBtnClick();
        accept();
    });
    connect(ui->SaveCsvBtn, &QPushButton::clicked, this, [this] { RunReported([this] { SaveCsvBtnClick(); }); });
}

THLDlg::~THLDlg() = default;

void THLDlg::ClearMemo()
{
    ui->DataMemo->clear();
    m_rows.clear();
}

void THLDlg::AppendLine(const QString &line)
{
    QTextCursor cursor(ui->DataMemo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
}

void THLDlg::AppendRow(const OrbitalReportRow &row)
{
    // The numbers are ASCII; the name is in the file system's encoding.
    AppendLine(QFile::decodeName(row.line));
    m_rows.append(row);
}

QString THLDlg::MemoText() const
{
    QString text = ui->DataMemo->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

int THLDlg::ShowModal()
{
    return exec();
}

void THLDlg::CopyBtnClick()
{
    QGuiApplication::clipboard()->setText(MemoText());
}

void THLDlg::SaveCsvBtnClick()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::SaveFile;
    request.title = QStringLiteral("Save as CSV");
    request.filter = QStringLiteral("CSV files (*.csv)|*.csv");
    request.defaultSuffix = QStringLiteral("csv");
    const QString path = Dialogs::AskOne(this, request);
    if (!path.isEmpty())
        SaveFileWhole(path, OrbitalReportCsv(m_rows));
}

void THLDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        FormUtils::CentreOnScreen(this);
    QDialog::showEvent(event);
}

void EgMenuItemClick(THLDlg &dialog, const QStringList &selectedPaths)
{
    dialog.ClearMemo();
    // An error ends the command here: the lines already added stay, the
    // remaining files are not read and the dialog is not shown.
    for (const QString &path : selectedPaths) {
        try {
            dialog.AppendRow(ExtractOrbitalReportRow(path));
        } catch (NeloError &error) {
            // Name the file, as nelo-analyze does, unless the text names it already.
            if (!error.message().contains(path))
                error.Prepend(path + QStringLiteral(": "));
            throw;
        }
    }
    dialog.ShowModal();
}

QStringList SelectedEntries(const QListWidget &list)
{
    QStringList entries;
    const int count = list.count();
    for (int row = 0; row < count; ++row) {
        const QListWidgetItem *item = list.item(row);
        if (item->isSelected())
            entries << item->text();
    }
    return entries;
}
