#pragma once

#include "analysis/GeometryScanner.h"
#include "cluster/ClusterSettings.h"
#include "jobs/Continuation.h"
#include "jobs/JobSettings.h"
#include "jobs/JobWindow.h"
#include "jobs/NotifySettings.h"

#include <QMainWindow>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class DesktopNotifications;
class IClipboard;
class IPowerOff;
class JobRunner;
class QAction;
class QDialog;
class QListWidget;
class QMenu;
class QSystemTrayIcon;
class ClusterBackends;
class RunNotifications;
class TSettingsDlg;
class THLDlg;

namespace Ui {
class TForm1;
}

// The main window: the input queue, the list of processed output files, the
// output pane and the progress log, and the buttons that drive everything.
// Closing it only hides it (a click on the tray icon, or "Show Nelo" in its
// menu, brings it back); Exit, the button or the tray menu's, ends Nelo.
//
// It owns the one settings record and the progress scanner, and implements
// the window operations the queue runner needs.
class TForm1 : public QMainWindow, public IJobWindow
{
    Q_OBJECT

public:
    // What the window takes from its surroundings. Nelo's main fills in the
    // real things; tests replace them.
    struct Environment
    {
        QStringList arguments;              // the program's command line, argv[0] first
        QString settingsFile;               // where LoadSettings and SaveSettings go
        IClipboard *clipboard = nullptr;    // none: the system clipboard
        IPowerOff *powerOff = nullptr;      // none: systemd-logind
        std::function<bool()> trayAvailable; // none: ask the desktop
        std::function<void()> quit;         // none: end the event loop
        QString notificationBus;            // none: the session bus; else its address (tests)
    };

    explicit TForm1(Environment environment, QWidget *parent = nullptr);
    ~TForm1() override;

    // Creates the settings dialog, loads the settings (and shows the dialog
    // when Firefly or its working directories are not set yet), makes the
    // queue multi-select and a drop target, and looks at the first argument.
    void FormCreate();

    // The report dialog and the about box are created after the window.
    void SetReportDialog(THLDlg *dialog) { HLDlg = dialog; }
    void SetAboutBox(QDialog *dialog) { AboutBox = dialog; }

    TJobSettings &JobSettings() { return m_settings; }
    TClusterSettings &ClusterSettings() { return m_cluster; }
    TContinueSettings &ContinueSettings() { return m_continue; }
    ClusterBackends &Backends() { return *m_backends; }
    TNotifySettings &NotifySettings() { return m_notify; }

    // Follows again the cluster jobs a previous Nelo left running (they are
    // kept beside the settings file), as a run of their own; called once
    // the window is up.
    void ResumeClusterJobs();
    JobRunner &Runner() { return *m_runner; }
    TSettingsDlg *SettingsDialog() const { return SettingsDlg; }

    // Handlers, named after their control and event.
    void InputBtnClick();
    void OutputBtnClick();
    void DeleteInBtnClick();
    void DeleteOutBtnClick();
    void RunBtnClick();
    void AbortBtnClick();
    void SettingsClick();
    void AboutBtnClick();
    void ExitBtnClick();
    void TrayIcon1DblClick();
    void PopupMenu1Popup();
    void ParseMenuItemClick();
    void EgMenuItemClick();
    // The convergence chart of the focused processed entry, in a window of its own.
    void ConvergenceMenuItemClick();
    // A new input from the focused processed entry's last geometry, beside
    // its input, added to the queue ticked; a refusal is a notice with the
    // reason.
    void ContinueMenuItemClick();
    void FormPaint();
    // The viewers: the focused entry of a list in the text or molecule editor.
    void JobListBoxDblClick();
    void ShowInpGeoBtnClick();
    void ViewBtnClick();
    void ShowOutGeoBtnClick();
    // Items dropped on the input queue: one local file is queued, ticked;
    // several items of any kind are refused with a notice.
    void JobListWndProc(const QList<QUrl> &dropped);

    // Adds a path at the end of the input queue, ticked.
    void AddJob(const QString &path);

    // IJobWindow
    void ClearLog() override;
    void AppendLog(const QByteArray &entry) override;
    void SetMemoText(const QByteArray &text) override;
    int MemoLineIndex(int line) const override;
    void SetMemoSelection(int start, int length) override;
    void SetRunBtnEnabled(bool enabled) override;
    void SetAbortBtnEnabled(bool enabled) override;
    void SetExitBtnEnabled(bool enabled) override;
    void SetParseMenuItemTag(int tag) override;
    int JobCount() const override;
    QString JobText(int index) const override;
    bool JobChecked(int index) const override;
    void DeleteJob(int index) override;
    void InsertJob(int index, const QString &path, bool checked) override;
    void ClearDone() override;
    void AppendDone(const QString &path) override;
    void SetOutLabCaption(const QString &caption) override;
    bool PowerOffChecked() const override;
    bool AskOutputFileName(const QString &filter, const QString &defaultSuffix, QString &fileName) override;
    void ShowJobsView(bool shown) override;
    // The chart below the pane: shown from the first step of the followed
    // job's search (where the window has room for it below the pane at its
    // designed height), kept after the job ends, hidden when another job is
    // followed until its first step.
    void ShowConvergence(const ConvergenceSeries &series, const QString &outputFile) override;

    QMenu *PopupMenu1 = nullptr;
    QSystemTrayIcon *TrayIcon1 = nullptr; // its menu: "Show Nelo" and "Exit"

protected:
    void closeEvent(QCloseEvent *event) override; // FormClose
    void showEvent(QShowEvent *event) override;     // FormPaint
    void resizeEvent(QResizeEvent *event) override; // FormPaint
    void changeEvent(QEvent *event) override;       // FormPaint
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectHandlers();
    void setUpNotifications();
    void setUpControls();
    void setUpJobsView();
    void showRunPanel();
    int runPanelRoom() const;
    void updateJobsSummary();
    static void deleteSelected(QListWidget *list);
    void keepMemoView();

    std::unique_ptr<Ui::TForm1> ui;
    Environment m_env;
    TJobSettings m_settings;
    TClusterSettings m_cluster; // the "Cluster" section of the same file
    TContinueSettings m_continue; // the "Continue" section
    std::unique_ptr<ClusterBackends> m_backends;
    TNotifySettings m_notify;   // its "Notifications" section
    GeometryScanner m_scanner;
    std::unique_ptr<IClipboard> m_ownClipboard;
    std::unique_ptr<IPowerOff> m_ownPowerOff;
    std::unique_ptr<JobRunner> m_runner;
    std::unique_ptr<DesktopNotifications> m_desktop;
    std::unique_ptr<RunNotifications> m_runNotifications;

    TSettingsDlg *SettingsDlg = nullptr;
    THLDlg *HLDlg = nullptr;
    QDialog *AboutBox = nullptr;
    QAction *ExitMenuItem = nullptr; // of the tray icon's menu: acts as ExitBtn

    // The output pane follows the output unless the user has scrolled up to
    // read; then it stays where the user put it (m_memoReadAt).
    bool m_memoFollows = true;
    int m_memoReadAt = 0;
    // The folders of the files last picked in Add Input File and Add Output File.
    QString m_inputFolder;
    QString m_outputFolder;
    // What the panel below the pane shows (1 the jobs, 2 the chart), and how
    // much showRunPanel made the window taller, to give it back.
    int m_runPanelParts = 0;
    int m_grownBy = 0;
    int m_grownTo = 0;
};

// The one main window of the running program.
extern TForm1 *Form1;
