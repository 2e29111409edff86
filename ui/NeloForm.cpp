#include "ui/NeloForm.h"
#include "ui_NeloForm.h"

#include "cluster/ClusterBackends.h"
#include "cluster/ClusterState.h"
#include "jobs/IniFile.h"
#include "jobs/JobRunner.h"
#include "jobs/RunNotifications.h"
#include "jobs/RunJobsModel.h"
#include "platform/DesktopNotifications.h"
#include "platform/Dialogs.h"
#include "platform/LogindPowerOff.h"
#include "platform/ErrorReport.h"
#include "platform/Notices.h"
#include "platform/Paths.h"
#include "platform/SystemClipboard.h"
#include "platform/Viewers.h"
#include "ui/ConvergenceChart.h"
#include "ui/ConvergenceForm.h"
#include "ui/ListActions.h"
#include "ui/OutcomeIcons.h"
#include "ui/ReportForm.h"
#include "ui/SettingsForm.h"

#include <NeloVersion.h>

#include <QAbstractButton>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QUrl>

#include <algorithm>
#include <utility>

TForm1 *Form1 = nullptr;

namespace {

const QString InputFilter = QStringLiteral("Firefly input files (*.inp)|*.inp|All files (*.*)|*.*");
const char TagProperty[] = "Tag";
// A processed entry's input, where the runner ran its job.
constexpr int InputRole = Qt::UserRole + 2;
// The output pane's height in the window's design: panels added below it
// never make it smaller.
constexpr int PaneDesignHeight = 255;

QFont fixedFont(int pixelSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    return font;
}

void setColours(QWidget *widget, const QColor &base, const QColor &text)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::Text, text);
    }
    widget->setPalette(palette);
}

// The items of a drag the queue takes: one local file, or several items of
// any kind (which it refuses with a notice); nothing otherwise.
QList<QUrl> droppableItems(const QMimeData *mime)
{
    const QList<QUrl> urls = mime && mime->hasUrls() ? mime->urls() : QList<QUrl>();
    if (urls.size() == 1 && !urls.first().isLocalFile())
        return {};
    return urls;
}

void addTip(QListWidgetItem &item, const QString &line)
{
    item.setToolTip(item.toolTip().isEmpty() ? line : item.toolTip() + QLatin1Char('\n') + line);
}

// Where a file dialog of the window opens: in the folder of the file last
// picked in it, and at first in the folder Nelo was started in (the demo
// starts it in its folder of inputs).
QString pickedFolder(const QString &lastPicked)
{
    return lastPicked.isEmpty() ? QDir::currentPath() : lastPicked;
}

// The focused entry of a list: null when there is none.
QString focusedEntry(const QListWidget *list)
{
    const QListWidgetItem *item = list->currentRow() >= 0 ? list->item(list->currentRow()) : nullptr;
    return item ? item->text() : QString();
}

} // namespace

TForm1::TForm1(Environment environment, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()), m_env(std::move(environment))
{
    if (m_env.settingsFile.isEmpty())
        m_env.settingsFile = SettingsFilePath();
    if (!m_env.clipboard) {
        m_ownClipboard = std::make_unique<SystemClipboard>();
        m_env.clipboard = m_ownClipboard.get();
    }
    if (!m_env.powerOff) {
        m_ownPowerOff = std::make_unique<LogindPowerOff>();
        m_env.powerOff = m_ownPowerOff.get();
    }
    if (!m_env.trayAvailable)
        m_env.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // Not quit(): Qt 6 first asks every window to close, and a window that
    // refuses and stays on screen (this one, minimised where the desktop has
    // no notification area) cancels the quit.
    if (!m_env.quit)
        m_env.quit = [] { QCoreApplication::exit(0); };

    ui->setupUi(this);
    setUpControls();
    m_runner = std::make_unique<JobRunner>(m_settings, *this, *m_env.clipboard, *m_env.powerOff, m_scanner);
    m_backends = std::make_unique<ClusterBackends>(m_cluster, m_settings, ClusterStateFilePath(m_env.settingsFile));
    m_runner->SetBackendChooser([this] { return m_backends->Chosen(); });
    m_runner->SetContinueSettings(&m_continue);
    setUpJobsView();
    setUpNotifications();
    connectHandlers();
}

TForm1::~TForm1() = default;

void TForm1::setUpControls()
{
    QFont windowFont = font();
    windowFont.setPixelSize(11);
    setFont(windowFont);

    const QColor aqua(0x00, 0xff, 0xff);
    setColours(ui->JobListBox, aqua, Qt::black);
    setColours(ui->DoneListBox, aqua, Qt::black);

    ui->Memo1->setFont(fixedFont(12));
    setColours(ui->Memo1, Qt::black, Qt::yellow);

    ui->LogListBox->setFont(fixedFont(11));
    setColours(ui->LogListBox, palette().color(QPalette::Disabled, QPalette::WindowText),
               palette().color(QPalette::Active, QPalette::WindowText));

    ui->ParseMenuItem->setProperty(TagProperty, 0);
    ui->EgMenuItem->setProperty(TagProperty, 0);
    ui->ConvergenceMenuItem->setProperty(TagProperty, 0);
    ui->ContinueMenuItem->setProperty(TagProperty, 0);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(ui->ParseMenuItem);
    PopupMenu1->addAction(ui->EgMenuItem);
    PopupMenu1->addAction(ui->ConvergenceMenuItem);
    PopupMenu1->addAction(ui->ContinueMenuItem);
    // The outcome icons fit the entries' height.
    ui->DoneListBox->setIconSize(QSize(12, 12));
    ui->ChartPanel->SetCompact(true);

    TrayIcon1 = new QSystemTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    const QIcon appIcon = QApplication::windowIcon();
    TrayIcon1->setIcon(appIcon.isNull() ? QIcon(QStringLiteral(":/icons/nelo.png")) : appIcon);
    TrayIcon1->setToolTip(QStringLiteral(NELO_APPLICATION_TITLE));
    // StatusNotifier hosts (KDE Plasma, GNOME's AppIndicator extension)
    // report no double-click, and GNOME shows only the icon's menu: the menu
    // offers the way back and Exit.
    auto *trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("TrayMenu"));
    trayMenu->addAction(QStringLiteral("Show Nelo"))->setObjectName(QStringLiteral("ShowMenuItem"));
    ExitMenuItem = trayMenu->addAction(QStringLiteral("Exit"));
    ExitMenuItem->setObjectName(QStringLiteral("ExitMenuItem"));
    TrayIcon1->setContextMenu(trayMenu);
    if (m_env.trayAvailable())
        TrayIcon1->show();

    ui->JobListBox->setFocus();
}

// When jobs end, the desktop says so: a notification, else the tray icon's
// balloon. A click on either brings the window back.
void TForm1::setUpNotifications()
{
    m_desktop = std::make_unique<DesktopNotifications>(QStringLiteral(NELO_PRODUCT_NAME), QStringLiteral("nelo"),
                                                       m_env.notificationBus);
    const QImage icon = TrayIcon1->icon().pixmap(48, 48).toImage().convertToFormat(QImage::Format_RGBA8888);
    m_desktop->SetImage({icon.width(), icon.height(), int(icon.bytesPerLine()),
                         QByteArray(reinterpret_cast<const char *>(icon.constBits()), icon.sizeInBytes())});
    m_desktop->SetFallback([this](const QString &summary, const QString &body) {
        if (TrayIcon1->isVisible() && QSystemTrayIcon::supportsMessages())
            TrayIcon1->showMessage(summary, body, TrayIcon1->icon());
    });
    connect(m_desktop.get(), &DesktopNotifications::Activated, this, &TForm1::TrayIcon1DblClick);
    connect(TrayIcon1, &QSystemTrayIcon::messageClicked, this, &TForm1::TrayIcon1DblClick);
    m_runNotifications = std::make_unique<RunNotifications>(
        m_notify, [this](const QString &summary, const QString &body) { m_desktop->Notify(summary, body); });
    m_runner->SetFinishedJobSink([this](const JobRunner::FinishedJob &job) {
        m_runNotifications->JobEnded(job.output, job.end);
    });
    m_runner->SetRunEndSink([this] { m_runNotifications->RunEnded(); });
}

void TForm1::connectHandlers()
{
    // Every handler runs under the general error report: an error ends the
    // handler, the user sees its text, and Nelo goes on.
    auto reported = [this](void (TForm1::*handler)()) {
        return [this, handler] { RunReported([this, handler] { (this->*handler)(); }); };
    };
    auto bind = [this, reported](auto *sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, reported(handler));
    };
    bind(ui->InputBtn, &QAbstractButton::clicked, &TForm1::InputBtnClick);
    bind(ui->DeleteInBtn, &QAbstractButton::clicked, &TForm1::DeleteInBtnClick);
    bind(ui->EditBtn, &QAbstractButton::clicked, &TForm1::JobListBoxDblClick);
    bind(ui->ShowInpGeoBtn, &QAbstractButton::clicked, &TForm1::ShowInpGeoBtnClick);
    bind(ui->OutputBtn, &QAbstractButton::clicked, &TForm1::OutputBtnClick);
    bind(ui->DeleteOutBtn, &QAbstractButton::clicked, &TForm1::DeleteOutBtnClick);
    bind(ui->ViewBtn, &QAbstractButton::clicked, &TForm1::ViewBtnClick);
    bind(ui->ShowOutGeoBtn, &QAbstractButton::clicked, &TForm1::ShowOutGeoBtnClick);
    bind(ui->RunBtn, &QAbstractButton::clicked, &TForm1::RunBtnClick);
    bind(ui->AbortBtn, &QAbstractButton::clicked, &TForm1::AbortBtnClick);
    bind(ui->Settings, &QAbstractButton::clicked, &TForm1::SettingsClick);
    bind(ui->AboutBtn, &QAbstractButton::clicked, &TForm1::AboutBtnClick);
    bind(ui->ExitBtn, &QAbstractButton::clicked, &TForm1::ExitBtnClick);
    // A double-click anywhere in a list, and its Delete key.
    new ListActions(ui->JobListBox, reported(&TForm1::JobListBoxDblClick), reported(&TForm1::DeleteInBtnClick));
    new ListActions(ui->DoneListBox, reported(&TForm1::ViewBtnClick), reported(&TForm1::DeleteOutBtnClick));
    bind(ui->ParseMenuItem, &QAction::triggered, &TForm1::ParseMenuItemClick);
    bind(ui->EgMenuItem, &QAction::triggered, &TForm1::EgMenuItemClick);
    bind(ui->ConvergenceMenuItem, &QAction::triggered, &TForm1::ConvergenceMenuItemClick);
    bind(ui->ContinueMenuItem, &QAction::triggered, &TForm1::ContinueMenuItemClick);
    bind(PopupMenu1, &QMenu::aboutToShow, &TForm1::PopupMenu1Popup);
    connect(ui->DoneListBox, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(ui->DoneListBox->viewport()->mapToGlobal(pos)); });
    bind(TrayIcon1->contextMenu()->actions().at(0), &QAction::triggered, &TForm1::TrayIcon1DblClick);
    bind(ExitMenuItem, &QAction::triggered, &TForm1::ExitBtnClick);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            TrayIcon1DblClick();
    });
}

void TForm1::FormCreate()
{
    SettingsDlg = new TSettingsDlg(m_settings, m_cluster, this);
    SettingsDlg->setObjectName(QStringLiteral("SettingsDlg"));
    SettingsDlg->SetContinueSettings(&m_continue);
    SettingsDlg->SetNotifySettings(&m_notify);
    LoadSettings(m_settings, m_env.settingsFile);
    LoadClusterSettings(m_cluster, m_env.settingsFile);
    LoadContinueSettings(m_continue, m_env.settingsFile);
    LoadNotifySettings(m_notify, IniFile::load(m_env.settingsFile));
    // Without Firefly or its working directories nothing can run: ask first,
    // before the main window is ever shown. Nelo goes on whatever the answer.
    if (m_settings.EXEFile.isEmpty() || m_settings.DirList.isEmpty())
        SettingsDlg->exec();

    ui->JobListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);

    // Only the first argument counts, and only in exactly this spelling.
    ui->EgMenuItem->setVisible(m_env.arguments.size() > 1 && m_env.arguments.at(1) == QLatin1String("X"));

    ui->JobListBox->setAcceptDrops(true);
    ui->JobListBox->viewport()->setAcceptDrops(true);
    ui->JobListBox->viewport()->installEventFilter(this);
}

// --- the queue and the processed list ----------------------------------------

void TForm1::AddJob(const QString &path)
{
    InsertJob(ui->JobListBox->count(), path, true);
}

void TForm1::JobListWndProc(const QList<QUrl> &dropped)
{
    if (dropped.size() > 1) {
        // Once the drop is over, so the program the items came from is not
        // kept waiting until the box is closed.
        QMetaObject::invokeMethod(
            this, [] { Notices::ShowNotice(QStringLiteral("You can drop only one file at a time!")); },
            Qt::QueuedConnection);
        return;
    }
    // Any kind of path, a folder too, is taken as it is.
    if (dropped.size() == 1 && dropped.first().isLocalFile())
        AddJob(dropped.first().toLocalFile());
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->JobListBox->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (droppableItems(drag->mimeData()).isEmpty()) {
                drag->ignore();
            } else {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            }
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QList<QUrl> items = droppableItems(drop->mimeData());
            if (items.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            RunReported([&] { JobListWndProc(items); });
            return true;
        }
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::InputBtnClick()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::OpenFiles;
    request.title = QStringLiteral("Add Input File");
    request.filter = InputFilter;
    request.defaultSuffix = QStringLiteral("inp");
    request.initialFolder = pickedFolder(m_inputFolder);
    const QStringList chosen = Dialogs::Ask(this, request);
    if (!chosen.isEmpty())
        m_inputFolder = Paths::FolderPart(chosen.first());
    for (const QString &path : chosen)
        AddJob(path);
}

void TForm1::OutputBtnClick()
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::OpenFiles;
    request.title = QStringLiteral("Add Output File");
    request.filter = JobRunner::OutputFileFilter; // the same filter as the save dialog of a run
    request.defaultSuffix = JobRunner::OutputFileSuffix;
    request.initialFolder = pickedFolder(m_outputFolder);
    const QStringList chosen = Dialogs::Ask(this, request);
    if (!chosen.isEmpty())
        m_outputFolder = Paths::FolderPart(chosen.first());
    const int first = ui->DoneListBox->count();
    ui->DoneListBox->addItems(chosen);
    for (int row = first; row < ui->DoneListBox->count(); ++row)
        ShowOutcome(*ui->DoneListBox->item(row), ui->DoneListBox->item(row)->text());
}

void TForm1::deleteSelected(QListWidget *list)
{
    // The selected rows in one pass over the selection: asking each item
    // whether it is selected costs a walk over all selected ranges, and
    // removing rows while they are selected costs as much again per row
    // (seconds for 10,000 entries). With the selection emptied first, each
    // removal only moves the rows behind it.
    QList<int> rows;
    for (const QModelIndex &index : list->selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    list->clearSelection();
    for (qsizetype i = rows.size() - 1; i >= 0; --i)
        delete list->takeItem(rows[i]);
}

void TForm1::DeleteInBtnClick()
{
    deleteSelected(ui->JobListBox);
}

void TForm1::DeleteOutBtnClick()
{
    deleteSelected(ui->DoneListBox);
}

// --- run, abort, settings, about, exit ---------------------------------------

void TForm1::RunBtnClick()
{
    m_runner->RunBtnClick();
}

void TForm1::AbortBtnClick()
{
    m_runner->AbortBtnClick();
}

void TForm1::SettingsClick()
{
    SettingsDlg->exec();
}

void TForm1::AboutBtnClick()
{
    if (AboutBox)
        AboutBox->exec();
}

void TForm1::ExitBtnClick()
{
    // Cluster jobs go on without Nelo; the next start follows them again.
    const int onCluster = m_runner->JobsOutliveNelo() ? m_runner->ActiveJobCount() : 0;
    if (onCluster > 0
        && !Notices::Confirm(QStringLiteral("%1 jobs keep running on the cluster; Nelo will follow them again when "
                                            "it starts").arg(onCluster)))
        return;
    // A settings file that cannot be written ends the handler here with
    // "Unable to write to ...": Nelo keeps running, and Exit can be tried again.
    SaveSettings(m_settings, [this](IniFile &file) {
        StoreClusterSettings(m_cluster, file);
        StoreContinueSettings(m_continue, file);
        StoreNotifySettings(m_notify, file);
    }, m_env.settingsFile);
    m_runner->Detach();
    m_env.quit();
}

void TForm1::ResumeClusterJobs()
{
    if (m_runner->IsRunning())
        return;
    ClusterBackends::SavedJobs saved = m_backends->TakeSavedJobs();
    if (!saved.problem.isEmpty())
        Notices::ShowNotice(saved.problem);
    if (saved.backend)
        m_runner->Resume(*saved.backend, std::move(saved.jobs));
}

// --- the window --------------------------------------------------------------

// A click or double-click on the tray icon, or "Show Nelo" in its menu.
void TForm1::TrayIcon1DblClick()
{
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // FormClose: nothing is closed; the program and any running queue go on.
    // Without a notification area a hidden window could never come back, so
    // there it is minimised instead.
    // The notification area may have come up after Nelo started (a panel
    // that starts late): the icon is shown before the window hides.
    event->ignore();
    if (m_env.trayAvailable()) {
        TrayIcon1->show();
        hide();
    } else {
        showMinimized();
    }
}

// FormPaint runs whenever the window comes (back) into view or changes size,
// not on every repaint of a button, so reading back through the pane at rest
// is not undone by moving the mouse.
void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    FormPaint();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormPaint();
}

void TForm1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        FormPaint();
}

void TForm1::FormPaint()
{
    // Selecting past the end scrolls the caret into view: the pane shows the
    // end of its text, and follows the output from there.
    m_memoFollows = true;
    const int length = ui->Memo1->document()->characterCount() - 1;
    SetMemoSelection(length, 1);
}

void TForm1::PopupMenu1Popup()
{
    const bool haveEntries = ui->DoneListBox->count() > 0;
    for (QAction *item : PopupMenu1->actions())
        item->setEnabled(haveEntries && item->property(TagProperty).toInt() == 0);
}

// --- the popup commands ------------------------------------------------------

void TForm1::ParseMenuItemClick()
{
    const QString file = focusedEntry(ui->DoneListBox);
    if (file.isNull())
        return;
    ClearLog();
    ParseOutputFile(m_scanner, file, [this](const QByteArray &entry) { AppendLog(entry); });
}

void TForm1::EgMenuItemClick()
{
    if (HLDlg)
        ::EgMenuItemClick(*HLDlg, SelectedEntries(*ui->DoneListBox));
}

void TForm1::ConvergenceMenuItemClick()
{
    const QString file = focusedEntry(ui->DoneListBox);
    if (!file.isNull())
        ShowConvergenceWindow(this, file);
}

void TForm1::ContinueMenuItemClick()
{
    QListWidgetItem *item = ui->DoneListBox->currentRow() >= 0 ? ui->DoneListBox->item(ui->DoneListBox->currentRow())
                                                               : nullptr;
    if (!item)
        return;
    const Continued continued = ContinueOutput(item->text(), item->data(InputRole).toString(), m_runner->Chains());
    if (continued.input.isEmpty()) {
        Notices::ShowNotice(QStringLiteral("Unable to continue from the last geometry!\n") + continued.refusal);
        return;
    }
    AddJob(continued.input);
    addTip(*item, QStringLiteral("Continued as ") + Paths::FileNamePart(continued.input));
}

// --- the viewers ---------------------------------------------------------------

void TForm1::JobListBoxDblClick()
{
    OpenInViewer(ViewerKind::TextEditor, m_settings.TxtFile, focusedEntry(ui->JobListBox));
}

void TForm1::ShowInpGeoBtnClick()
{
    OpenInViewer(ViewerKind::MoleculeEditor, m_settings.MolFile, focusedEntry(ui->JobListBox));
}

void TForm1::ViewBtnClick()
{
    OpenInViewer(ViewerKind::TextEditor, m_settings.TxtFile, focusedEntry(ui->DoneListBox));
}

void TForm1::ShowOutGeoBtnClick()
{
    OpenInViewer(ViewerKind::MoleculeEditor, m_settings.MolFile, focusedEntry(ui->DoneListBox));
}

// --- the run panel: the jobs of a run ----------------------------------------------

void TForm1::setUpJobsView()
{
    auto *sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(&m_runner->JobsModel());
    sorted->setSortRole(RunJobsModel::SortRole);
    QTableView *view = ui->JobsView;
    view->setModel(sorted);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(QFontMetrics(view->font()).height() + 4);
    // Widths from the font, not from the contents: measuring every row on
    // every change would cost the interface its speed on a day of many jobs.
    const QFontMetrics metrics(view->font());
    const int digit = metrics.horizontalAdvance(QLatin1Char('0'));
    QHeaderView *header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->resizeSection(RunJobsModel::JobColumn, digit * 11);
    header->resizeSection(RunJobsModel::InputColumn, digit * 26);
    header->resizeSection(RunJobsModel::StateColumn, metrics.horizontalAdvance(QStringLiteral("ended (OUT_OF_MEMORY)")) + digit);
    header->resizeSection(RunJobsModel::TimeColumn, digit * 9);
    header->resizeSection(RunJobsModel::StepsColumn, digit * 6);
    header->resizeSection(RunJobsModel::GradientColumn, digit * 10);
    // The chart goes below the table: every column fits the window's width,
    // and the last one takes what is left.
    header->setStretchLastSection(true);
    // Running jobs first, the longest running on top: the ones a chemist
    // looks at while the day goes on.
    view->sortByColumn(RunJobsModel::StateColumn, Qt::AscendingOrder);
    // The pane follows the job the user picks.
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this, view](const QModelIndex &row) {
        if (row.isValid())
            m_runner->Follow(view->model()->data(row, RunJobsModel::OutputRole).toString());
    });
    const auto summary = [this] { updateJobsSummary(); };
    connect(&m_runner->JobsModel(), &QAbstractItemModel::rowsInserted, this, summary);
    connect(&m_runner->JobsModel(), &QAbstractItemModel::modelReset, this, summary);
    connect(&m_runner->JobsModel(), &QAbstractItemModel::dataChanged, this, summary);
    connect(&m_runner->JobsModel(), &RunJobsModel::problemChanged, this, summary);
}

void TForm1::updateJobsSummary()
{
    const QString text = m_runner->JobsModel().Summary();
    if (ui->JobsSummary->text() != text)
        ui->JobsSummary->setText(text);
}

void TForm1::ShowJobsView(bool shown)
{
    ui->JobsPanel->setVisible(shown);
    showRunPanel();
}

void TForm1::ShowConvergence(const ConvergenceSeries &series, const QString &outputFile)
{
    ConvergenceChart *chart = ui->ChartPanel;
    if (series.Points().empty()) {
        chart->hide();
        chart->Clear();
    } else {
        chart->SetOutputFile(outputFile);
        chart->ShowSeries(series);
        // Only where it fits below the pane at its designed height (and
        // below the jobs of the run, when they are shown).
        const int jobs = ui->JobsPanel->isHidden()
                             ? 0
                             : ui->JobsPanel->minimumSizeHint().height() + ui->RunPanelLayout->spacing();
        if (chart->isHidden() && (!isVisible() || runPanelRoom() >= jobs + chart->minimumHeight()))
            chart->show();
    }
    showRunPanel();
}

// The height a panel below the pane can have while the pane keeps its
// designed height, the room a window not maximised can grow by included.
int TForm1::runPanelRoom() const
{
    int room = ui->PaneSplitter->height() - PaneDesignHeight - ui->PaneSplitter->handleWidth();
    if (!isMaximized() && !isFullScreen() && screen())
        room += std::max(0, screen()->availableGeometry().height() - frameGeometry().height());
    return room;
}

// The panel below the output pane shows while it has something to show: the
// jobs of the run above the chart. The pane keeps at least its designed
// height. A window that is not maximised grows by what the panel needs (as
// far as its screen allows), and gives it back when the panel goes, unless
// the user has resized it meanwhile. The split between pane and panel is
// set only when the panel's parts change, so a split the user drags stays.
void TForm1::showRunPanel()
{
    const int parts = (ui->JobsPanel->isHidden() ? 0 : 1) | (ui->ChartPanel->isHidden() ? 0 : 2);
    if (parts == m_runPanelParts)
        return;
    m_runPanelParts = parts;
    ui->RunPanel->setVisible(parts != 0);
    if (parts == 0) {
        if (m_grownBy > 0 && !isMaximized() && !isFullScreen() && height() == m_grownTo)
            resize(width(), height() - m_grownBy);
        m_grownBy = 0;
        return;
    }
    const int panel = ui->RunPanel->minimumSizeHint().height();
    const int needed = PaneDesignHeight + ui->PaneSplitter->handleWidth() + panel;
    if (isVisible() && !isMaximized() && !isFullScreen() && ui->PaneSplitter->height() < needed) {
        const int room = screen() ? screen()->availableGeometry().height() - frameGeometry().height() : 0;
        const int grow = std::max(0, std::min(needed - ui->PaneSplitter->height(), room));
        resize(width(), height() + grow);
        m_grownBy += grow;
        m_grownTo = height();
        centralWidget()->layout()->activate();
    }
    const int total = ui->PaneSplitter->height();
    const int pane = std::max(PaneDesignHeight, std::min(total / 2, total - panel));
    ui->PaneSplitter->setSizes({pane, std::max(0, total - pane)});
}

// --- IJobWindow ------------------------------------------------------------------

void TForm1::ClearLog()
{
    ui->LogListBox->clear();
}

void TForm1::AppendLog(const QByteArray &entry)
{
    // An entry can hold line breaks copied from the output; the list shows
    // them as blanks and keeps the bytes as they are.
    QString shown = QString::fromLatin1(entry);
    shown.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    auto *item = new QListWidgetItem(shown);
    item->setData(Qt::UserRole, entry);
    ui->LogListBox->addItem(item);
    ui->LogListBox->scrollToItem(item);
    ui->LogListBox->clearSelection();
}

void TForm1::SetMemoText(const QByteArray &text)
{
    // Scrolled up from the bottom, the user reads: the view stays there until
    // the user scrolls back to the bottom.
    const QScrollBar *bar = ui->Memo1->verticalScrollBar();
    m_memoFollows = bar->value() >= bar->maximum();
    m_memoReadAt = bar->value();
    ui->Memo1->setPlainText(QString::fromLatin1(text));
    keepMemoView();
}

// Shows the newest line, short output too, or the part the user reads.
void TForm1::keepMemoView()
{
    QScrollBar *bar = ui->Memo1->verticalScrollBar();
    bar->setValue(m_memoFollows ? bar->maximum() : m_memoReadAt);
}

int TForm1::MemoLineIndex(int line) const
{
    const QTextBlock block = ui->Memo1->document()->findBlockByNumber(line);
    return block.isValid() ? block.position() : -1;
}

void TForm1::SetMemoSelection(int start, int length)
{
    QTextCursor cursor = ui->Memo1->textCursor();
    if (start < 0) {
        cursor.clearSelection();
    } else {
        const int end = ui->Memo1->document()->characterCount() - 1;
        cursor.setPosition(qBound(0, start, end));
        cursor.setPosition(qBound(0, start + qMax(0, length), end), QTextCursor::KeepAnchor);
    }
    ui->Memo1->setTextCursor(cursor);
    ui->Memo1->ensureCursorVisible();
    keepMemoView();
}

void TForm1::SetRunBtnEnabled(bool enabled)
{
    ui->RunBtn->setEnabled(enabled);
}

void TForm1::SetAbortBtnEnabled(bool enabled)
{
    ui->AbortBtn->setEnabled(enabled);
}

void TForm1::SetExitBtnEnabled(bool enabled)
{
    ui->ExitBtn->setEnabled(enabled);
    ExitMenuItem->setEnabled(enabled);
}

void TForm1::SetParseMenuItemTag(int tag)
{
    ui->ParseMenuItem->setProperty(TagProperty, tag);
}

int TForm1::JobCount() const
{
    return ui->JobListBox->count();
}

QString TForm1::JobText(int index) const
{
    const QListWidgetItem *item = ui->JobListBox->item(index);
    return item ? item->text() : QString();
}

bool TForm1::JobChecked(int index) const
{
    const QListWidgetItem *item = ui->JobListBox->item(index);
    return item && item->checkState() == Qt::Checked;
}

void TForm1::DeleteJob(int index)
{
    delete ui->JobListBox->takeItem(index);
}

void TForm1::InsertJob(int index, const QString &path, bool checked)
{
    auto *item = new QListWidgetItem(path);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    item->setToolTip(m_runner->Chains().Text(path, m_continue.MaxContinuations));
    ui->JobListBox->insertItem(index, item);
}

void TForm1::ClearDone()
{
    ui->DoneListBox->clear();
}

void TForm1::AppendDone(const QString &path)
{
    auto *item = new QListWidgetItem(path);
    // The runner lists a job's output right after it has ended.
    const JobRunner::FinishedJob &finished = m_runner->LastFinishedJob();
    const bool ran = finished.output == path;
    ShowOutcome(*item, path, ran ? finished.end : ProcessEnd());
    if (ran) {
        item->setData(InputRole, finished.input);
        const QString chain = m_runner->Chains().Text(finished.input, m_continue.MaxContinuations);
        if (!chain.isEmpty())
            addTip(*item, chain);
        if (!finished.notContinued.isEmpty())
            addTip(*item, QStringLiteral("Not continued: ") + finished.notContinued);
        if (!finished.continuedAs.isEmpty())
            addTip(*item, QStringLiteral("Continued as ") + Paths::FileNamePart(finished.continuedAs));
    }
    ui->DoneListBox->addItem(item);
}

void TForm1::SetOutLabCaption(const QString &caption)
{
    ui->OutLab->setText(caption);
}

bool TForm1::PowerOffChecked() const
{
    return ui->PowerOffCB->isChecked();
}

bool TForm1::AskOutputFileName(const QString &filter, const QString &defaultSuffix, QString &fileName)
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::SaveFile;
    request.title = QStringLiteral("Output File");
    request.filter = filter;
    request.defaultSuffix = defaultSuffix;
    const QString chosen = Dialogs::AskOne(this, request);
    if (chosen.isEmpty())
        return false;
    fileName = chosen;
    return true;
}
