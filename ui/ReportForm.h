#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QListWidget;

namespace Ui {
class THLDlg;
}

// The HOMO-LUMO report dialog: one line per output file in an editable memo,
// whose caption is the table's column header. Copy puts the whole memo on the
// clipboard and closes; OK only closes. The one instance lives as long as the
// program and keeps its text between showings.
class THLDlg : public QDialog
{
    Q_OBJECT

public:
    explicit THLDlg(QWidget *parent = nullptr);
    ~THLDlg() override;

    void ClearMemo();
    // Appends one line; the memo keeps a line break after every line.
    void AppendLine(const QString &line);
    // The memo's whole text, every line followed by CR LF (with the user's edits).
    QString MemoText() const;

    // Shows the dialog modally and returns its result. Tests override it to
    // see that the dialog would be shown without running a modal loop.
    virtual int ShowModal();

public slots:
    void CopyBtnClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::THLDlg> ui;
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
