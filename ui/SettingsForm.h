#pragma once

#include "cluster/ClusterSettings.h"
#include "jobs/Continuation.h"
#include "jobs/NotifySettings.h"

#include <QDialog>
#include <QString>

#include <memory>

class QLineEdit;
struct TJobSettings;

namespace Ui {
class TSettingsDlg;
}

// The modal settings dialog. Every showing loads the controls from the one
// TJobSettings record, the cluster settings and the notifications setting; OK
// checks the input and, only when every check passes, copies the controls
// back into them. Cancel, Escape
// and the close box store nothing. The dialog never touches the settings file.
//
// Created once by the main window and kept: the directory control of the mode
// not in force and the page shown last keep their state between showings.
class TSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    // Without a cluster record the dialog edits one of its own.
    explicit TSettingsDlg(TJobSettings &settings, QWidget *parent = nullptr);
    TSettingsDlg(TJobSettings &settings, TClusterSettings &cluster, QWidget *parent = nullptr);
    ~TSettingsDlg() override;
    // The record of how often optimisations are continued by themselves;
    // without one the dialog edits one of its own. Must outlive the dialog.
    void SetContinueSettings(TContinueSettings *settings) { m_continue = settings ? settings : &m_ownContinue; }
    // The same for whether Nelo tells the desktop when jobs end.
    void SetNotifySettings(TNotifySettings *settings) { m_notify = settings ? settings : &m_ownNotify; }

    // The texts the dialog shows.
    static const QString OutputFormatHint;
    static const QString AutoDirMissingText;
    static const QString TooFewDirectoriesText;
    static const QString ExecutableMissingText;
    static const QString LineBreakInFolderText;
    static const QString LineBreakInFileText;
    static const QString AskingClusterText;
    static const QString NoSinfoText;
    static const QString NoAnswerText; // followed by Slurm's own message

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
    // Asks the cluster with sinfo whether it answers, shows the answer and
    // fills the list of partitions; also done when the "Cluster" page is
    // first shown.
    void TestBtnClick();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    int outputFormatIndex() const;
    void setOutputFormatIndex(int index);
    // One file picker: filter, default extension and target edit. Linux
    // programs carry no extension: the pickers of executables match every
    // file and give a typed name no default extension.
    void pickFile(const QString &filter, const QString &defaultSuffix, bool executable, QLineEdit *target);

    void loadClusterPage();
    TClusterSettings clusterFromPage() const;

    TJobSettings &m_settings;
    TClusterSettings m_ownCluster; // edited when the caller gives no record
    TClusterSettings *m_cluster;
    TContinueSettings m_ownContinue;
    TContinueSettings *m_continue = &m_ownContinue;
    TNotifySettings m_ownNotify;
    TNotifySettings *m_notify = &m_ownNotify;
    QString m_pickedFolder;      // of the file last picked (the dialog lives as long as Nelo)
    bool m_clusterAsked = false; // sinfo was asked once, when the page was first shown or by Test
    bool m_asking = false;       // sinfo runs now
    std::unique_ptr<Ui::TSettingsDlg> ui;
};

// The folder browser: the full path of the chosen folder, or empty text when
// nothing usable was chosen (cancelled, or a name that cannot be stored in the
// settings file; the user is told so). initialFolder may be empty.
QString BrowseForFolder(const QString &title, const QString &initialFolder, bool allowNewFolder);

