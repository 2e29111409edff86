#pragma once

#include "analysis/OrbitalReport.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QListWidget;

namespace Ui {
class THLDlg;
}

// The HOMO-LUMO report dialog: one line per output file in an editable memo,
// whose caption is the table's column header. Copy puts the whole memo on the
// clipboard and closes; OK only closes; Save as CSV writes the files' numbers
// (as read and as the table shows them) to a file and leaves the dialog open.
// The one instance lives as long as the program and keeps its text between
// showings.
class THLDlg : public QDialog
{
    Q_OBJECT

public:
    explicit THLDlg(QWidget *parent = nullptr);
    ~THLDlg() override;

    // Empties the memo and forgets the rows.
    void ClearMemo();
    // Appends one line; the memo keeps a line break after every line.
    void AppendLine(const QString &line);
    // Appends a file's line and keeps its numbers for Save as CSV.
    void AppendRow(const OrbitalReportRow &row);
    const QList<OrbitalReportRow> &Rows() const { return m_rows; }
    // The memo's whole text, every line followed by CR LF (with the user's edits).
    QString MemoText() const;

    // Shows the dialog modally and returns its result. Tests override it to
    // see that the dialog would be shown without running a modal loop.
    virtual int ShowModal();

public slots:
    void CopyBtnClick();
    // Asks for a file name and writes the rows as CSV (OrbitalReportCsv);
    // nothing on Cancel. Throws EWriteError when the file cannot be written.
    void SaveCsvBtnClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::THLDlg> ui;
    QList<OrbitalReportRow> m_rows;
};

// The HOMO-LUMO command over the selected output files, in list order: empties
// the memo, appends one report line per file and shows the dialog. The first
// file that does not yield a line ends the command with its error, led by the
// file's path (the lines already added stay in the memo; the dialog is not
// shown).
void EgMenuItemClick(THLDlg &dialog, const QStringList &selectedPaths);

// The texts of a list's selected entries, in list order (not in the order
// they were selected).
QStringList SelectedEntries(const QListWidget &list);
