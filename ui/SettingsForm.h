#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QLineEdit;
struct TJobSettings;

namespace Ui {
class TSettingsDlg;
}

// The modal settings dialog. Every showing loads the controls from the one
// TJobSettings record; OK checks the input and, only when every check passes,
// copies the controls back into it. Cancel, Escape and the close box store
// nothing. The dialog never touches the settings file.
//
// Created once by the main window and kept: the directory control of the mode
// not in force and the page shown last keep their state between showings.
class TSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TSettingsDlg(TJobSettings &settings, QWidget *parent = nullptr);
    ~TSettingsDlg() override;

    // The texts the dialog shows.
    static const QString OutputFormatHint;
    static const QString AutoDirMissingText;
    static const QString TooFewDirectoriesText;
    static const QString ExecutableMissingText;
    static const QString LineBreakInFolderText;
    static const QString LineBreakInFileText;

public slots:
    void FormShow();
    void OKBtnClick();
    void EXEBtnClick();
    void LibBtnClick();
    void TxtBtnClick();
    void MolBtnClick();
    void DirBtnClick();
    void AddBtnClick();
    void RemoveBtnClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    int outputFormatIndex() const;
    void setOutputFormatIndex(int index);
    // One file picker: filter, default extension and target edit. Linux
    // programs carry no extension: the pickers of executables match every
    // file and give a typed name no default extension.
    void pickFile(const QString &filter, const QString &defaultSuffix, bool executable, QLineEdit *target);

    TJobSettings &m_settings;
    std::unique_ptr<Ui::TSettingsDlg> ui;
};

// The folder browser: the full path of the chosen folder, or empty text when
// nothing usable was chosen (cancelled, or a name that cannot be stored in the
// settings file; the user is told so). initialFolder may be empty.
QString BrowseForFolder(const QString &title, const QString &initialFolder, bool allowNewFolder);

// The folder part of a path: up to and including its last "/", or empty.
QString FolderPart(const QString &path);
