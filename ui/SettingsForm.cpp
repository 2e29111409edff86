#include "ui/SettingsForm.h"

#include "ui_SettingsForm.h"

#include "cluster/ClusterBackends.h"
#include "cluster/ClusterSettings.h"
#include "jobs/DirList.h"
#include "jobs/JobSettings.h"
#include "cluster/SlurmCluster.h"
#include "cluster/SlurmCommands.h"
#include "platform/Dialogs.h"
#include "platform/Notices.h"
#include "platform/Paths.h"
#include "ui/FormUtils.h"

#include <QApplication>
#include <QPointer>
#include <QRadioButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

const QString TSettingsDlg::OutputFormatHint = QStringLiteral(
    "Select how the output filename will be generated:\r\n"
    ".out: change the extension of the input file to .out;\r\n"
    "_N.out: change the extension of the input file to .out and append an incremental number to the filename;\r\n"
    "?: ask for a custom filename.");
const QString TSettingsDlg::AutoDirMissingText =
    QStringLiteral("Please enter a path where Firefly can auto create working directories!");
const QString TSettingsDlg::TooFewDirectoriesText =
    QStringLiteral("The number of working directories should be at leat equal to the number of CPU cores used!");
const QString TSettingsDlg::ExecutableMissingText = QStringLiteral("Enter a valid executable filename!");
const QString TSettingsDlg::LineBreakInFolderText =
    QStringLiteral("The name of this folder holds a line break and cannot be stored in the settings file!");
const QString TSettingsDlg::LineBreakInFileText =
    QStringLiteral("The name of this file holds a line break and cannot be stored in the settings file!");
const QString TSettingsDlg::AskingClusterText = QStringLiteral("Asking the cluster...");
const QString TSettingsDlg::NoSinfoText =
    QStringLiteral("Slurm's sinfo is not installed on this computer, so the cluster cannot be asked.");
const QString TSettingsDlg::NoAnswerText = QStringLiteral("The cluster does not answer: ");

namespace {

// sinfo gives up by itself after about 10 seconds when the controller does
// not answer; this is only a bound for a command that hangs.
constexpr int SinfoTimeoutMs = 30000;

// The settings file keeps one value per line: a path with a CR or LF in it
// would be cut there and the rest read back as a line of its own.
bool holdsLineBreak(const QString &path)
{
    return path.contains(QLatin1Char('\r')) || path.contains(QLatin1Char('\n'));
}

// Each group of radio buttons is one Tab stop, on its selected button; the
// arrow keys move within the group. (Qt gives every button of a group a stop
// until one of them takes the focus, and from then on keeps the stop on the
// last focused one, selected or not.)
class RadioTabStops : public QObject
{
public:
    explicit RadioTabStops(QWidget *dialog)
        : QObject(dialog), m_buttons(dialog->findChildren<QRadioButton *>())
    {
        for (QRadioButton *button : m_buttons) {
            connect(button, &QAbstractButton::toggled, this, &RadioTabStops::update);
            button->installEventFilter(this);
        }
        update();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusOut)
            update();
        return QObject::eventFilter(watched, event);
    }

private:
    void update()
    {
        for (QRadioButton *button : m_buttons)
            button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }

    QList<QRadioButton *> m_buttons;
};

// Slurm's answer may run to several lines (sinfo joins its errors with " / ");
// the label shows what fits in its lines and its tooltip the whole answer.
void ShowClusterAnswer(QLabel *label, const QString &answer)
{
    label->setToolTip(answer);
    label->setText(answer);
    const QFontMetrics metrics(label->font());
    for (int width = label->width() * (label->height() / metrics.lineSpacing());
         width > 0 && label->heightForWidth(label->width()) > label->height(); width -= 4 * metrics.averageCharWidth())
        label->setText(metrics.elidedText(answer, Qt::ElideRight, width));
}

} // namespace

QString BrowseForFolder(const QString &title, const QString &initialFolder, bool allowNewFolder)
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::Directory;
    request.title = title;
    request.initialFolder = initialFolder;
    request.allowNewFolder = allowNewFolder;
    QString folder = Dialogs::AskOne(QApplication::activeWindow(), request);
    if (holdsLineBreak(folder)) {
        Notices::ShowNotice(TSettingsDlg::LineBreakInFolderText);
        return {};
    }
    return folder;
}

TSettingsDlg::TSettingsDlg(TJobSettings &settings, QWidget *parent)
    : TSettingsDlg(settings, m_ownCluster, parent)
{
}

TSettingsDlg::TSettingsDlg(TJobSettings &settings, TClusterSettings &cluster, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_cluster(&cluster)
    , ui(std::make_unique<Ui::TSettingsDlg>())
{
    ui->setupUi(this);
    FormCreate();
}

TSettingsDlg::~TSettingsDlg() = default;

void TSettingsDlg::FormCreate()
{
    FormUtils::ApplyFormFont(this);
    setFixedSize(size());
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    ui->InstancesUpDown->setAssociate(ui->InstancesEdit);
    ui->InstancesUpDown->setRange(1, 16);
    ui->ContinueSpin->setRange(0, MaxAutoContinuations);

    for (QWidget *field : {static_cast<QWidget *>(ui->EXEFile), static_cast<QWidget *>(ui->LibFile),
                           static_cast<QWidget *>(ui->AutoDirEdit), static_cast<QWidget *>(ui->DirListBox),
                           static_cast<QWidget *>(ui->TextFile), static_cast<QWidget *>(ui->MolFile)})
        FormUtils::MakeGrey(field);

    ui->OFRadioGroup->setToolTip(OutputFormatHint);
    new RadioTabStops(this);

    // The hints under the cluster fields are quieter than the labels.
    for (QLabel *hint : {ui->TimeLimitHint, ui->MemoryHint, ui->SbatchOptHint}) {
        QPalette palette = hint->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
        hint->setPalette(palette);
    }
    // The cluster is asked when its page is first shown, not before: a user
    // who never looks at it never waits for Slurm.
    ui->ClusterPage->installEventFilter(this);

    connect(ui->OKBtn, &QPushButton::clicked, this, &TSettingsDlg::OKBtnClick);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->EXEBtn, &QPushButton::clicked, this, &TSettingsDlg::EXEBtnClick);
    connect(ui->LibBtn, &QPushButton::clicked, this, &TSettingsDlg::LibBtnClick);
    connect(ui->TxtBtn, &QPushButton::clicked, this, &TSettingsDlg::TxtBtnClick);
    connect(ui->MolBtn, &QPushButton::clicked, this, &TSettingsDlg::MolBtnClick);
    connect(ui->DirBtn, &QPushButton::clicked, this, &TSettingsDlg::DirBtnClick);
    connect(ui->AddBtn, &QPushButton::clicked, this, &TSettingsDlg::AddBtnClick);
    connect(ui->RemoveBtn, &QPushButton::clicked, this, &TSettingsDlg::RemoveBtnClick);
    connect(ui->TestBtn, &QPushButton::clicked, this, &TSettingsDlg::TestBtnClick);
}

bool TSettingsDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->ClusterPage && event->type() == QEvent::Show && !m_clusterAsked) {
        m_clusterAsked = true;
        // After the page has been drawn. Over SSH the cluster is asked only
        // by Test: connecting may ask for a passphrase, which nobody expects
        // from a look at the page.
        QTimer::singleShot(0, this, [this] {
            if (!ui->SshRadioButton->isChecked())
                TestBtnClick();
        });
    }
    return QDialog::eventFilter(watched, event);
}

void TSettingsDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        FormShow();
        FormUtils::CentreOnScreen(this);
    }
    QDialog::showEvent(event);
}

int TSettingsDlg::outputFormatIndex() const
{
    if (ui->OFNumberedItem->isChecked())
        return 1;
    if (ui->OFAskItem->isChecked())
        return 2;
    return 0;
}

void TSettingsDlg::setOutputFormatIndex(int index)
{
    QRadioButton *items[] = {ui->OFOutItem, ui->OFNumberedItem, ui->OFAskItem};
    items[std::clamp(index, 0, 2)]->setChecked(true);
}

void TSettingsDlg::FormShow()
{
    ui->InstancesEdit->setText(m_settings.CPUcores);
    setOutputFormatIndex(m_settings.OutputFormat);   // anything above 2 selects "?"
    ui->EXEFile->setText(m_settings.EXEFile);
    ui->LibFile->setText(m_settings.LibFile);
    ui->CmdOptEdit->setText(m_settings.AddCmdLine);
    if (m_settings.AutoDir)
        ui->ACRadioButton->setChecked(true);
    else
        ui->ListRadioButton->setChecked(true);
    ui->FoptCheckBox->setChecked(m_settings.Fopt);
    ui->RoptCheckBox->setChecked(m_settings.Ropt);
    ui->PoptCheckBox->setChecked(m_settings.Popt);
    // Only the control of the current mode is loaded; the other keeps what it
    // held when the dialog last closed.
    if (m_settings.AutoDir) {
        ui->AutoDirEdit->setText(m_settings.DirList);
    } else {
        ui->DirListBox->clear();
        ui->DirListBox->addItems(SplitDirList(m_settings.DirList));
    }
    ui->TextFile->setText(m_settings.TxtFile);
    ui->MolFile->setText(m_settings.MolFile);
    ui->CopyClCB->setChecked(m_settings.CopyCmdLine);
    ui->ContinueSpin->setValue(m_continue->MaxContinuations);
    ui->NotifyCB->setChecked(m_notify->NotifyWhenJobsEnd);
    loadClusterPage();
}

void TSettingsDlg::loadClusterPage()
{
    const TClusterSettings &cluster = *m_cluster;
    switch (cluster.RunOn) {
    case TClusterSettings::Where::Slurm:
        ui->SlurmRadioButton->setChecked(true);
        break;
    case TClusterSettings::Where::SlurmOverSsh:
        ui->SshRadioButton->setChecked(true);
        break;
    case TClusterSettings::Where::ThisComputer:
        ui->LocalRadioButton->setChecked(true);
        break;
    }
    ui->DestinationEdit->setText(cluster.Destination);
    ui->ClusterFireflyEdit->setText(cluster.ClusterFirefly);
    ui->ClusterWorkFolderEdit->setText(cluster.ClusterWorkFolder);
    ui->ClusterLibraryEdit->setText(cluster.ClusterLibrary);
    ui->RemoveFoldersCheck->setChecked(cluster.RemoveClusterFolders);
    ui->PartitionCombo->setEditText(cluster.Partition);
    ui->AccountEdit->setText(cluster.Account);
    ui->TimeLimitEdit->setText(cluster.TimeLimit);
    ui->MemoryEdit->setText(cluster.Memory);
    ui->SbatchOptEdit->setText(cluster.SbatchOptions);
    ui->JobsAtOnceSpin->setValue(cluster.JobsAtOnce);
    ui->PollSecondsSpin->setValue(cluster.PollSeconds);
}

TClusterSettings TSettingsDlg::clusterFromPage() const
{
    // A pasted line break becomes a blank (the settings file holds one line
    // per value, and the options are blank-separated anyway), and blanks at
    // the ends go: the file drops them at the next start, and Slurm takes none.
    const auto text = [](const QString &typed) {
        QString line = typed;
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        return line.trimmed();
    };
    TClusterSettings cluster;
    cluster.RunOn = ui->SlurmRadioButton->isChecked() ? TClusterSettings::Where::Slurm
                    : ui->SshRadioButton->isChecked() ? TClusterSettings::Where::SlurmOverSsh
                                                      : TClusterSettings::Where::ThisComputer;
    cluster.Destination = text(ui->DestinationEdit->text());
    cluster.ClusterFirefly = text(ui->ClusterFireflyEdit->text());
    cluster.ClusterWorkFolder = text(ui->ClusterWorkFolderEdit->text());
    cluster.ClusterLibrary = text(ui->ClusterLibraryEdit->text());
    cluster.RemoveClusterFolders = ui->RemoveFoldersCheck->isChecked();
    cluster.Partition = text(ui->PartitionCombo->currentText());
    cluster.Account = text(ui->AccountEdit->text());
    cluster.TimeLimit = text(ui->TimeLimitEdit->text());
    cluster.Memory = text(ui->MemoryEdit->text());
    cluster.SbatchOptions = text(ui->SbatchOptEdit->text());
    cluster.JobsAtOnce = ui->JobsAtOnceSpin->value();
    cluster.PollSeconds = ui->PollSecondsSpin->value();
    return cluster;
}

void TSettingsDlg::OKBtnClick()
{
    const bool autoCreate = ui->ACRadioButton->isChecked();
    if (autoCreate) {
        if (ui->AutoDirEdit->text().isEmpty()) {
            Notices::ShowNotice(AutoDirMissingText);
            return;
        }
    } else if (ui->DirListBox->count() < ui->InstancesUpDown->position()) {
        Notices::ShowNotice(TooFewDirectoriesText);
        return;
    }
    if (ui->EXEFile->text().isEmpty()) {
        Notices::ShowNotice(ExecutableMissingText);
        return;
    }
    // The cluster's fields are checked whichever "Run Firefly on" is chosen:
    // they are stored either way.
    const TClusterSettings cluster = clusterFromPage();
    const QString problem = ClusterSettingsProblem(cluster);
    if (!problem.isEmpty()) {
        ui->PageControl1->setCurrentWidget(ui->ClusterPage);
        Notices::ShowNotice(problem);
        return;
    }

    if (autoCreate) {
        m_settings.DirList = ui->AutoDirEdit->text();
        m_settings.AutoDir = true;
    } else {
        QStringList entries;
        entries.reserve(ui->DirListBox->count());
        for (int row = 0; row < ui->DirListBox->count(); ++row)
            entries << ui->DirListBox->item(row)->text();
        m_settings.DirList = JoinDirList(entries);
        m_settings.AutoDir = false;
    }
    m_settings.CPUcores = ui->InstancesEdit->text();
    m_settings.OutputFormat = quint8(outputFormatIndex());
    m_settings.EXEFile = ui->EXEFile->text();
    m_settings.LibFile = ui->LibFile->text();
    m_settings.AddCmdLine = ui->CmdOptEdit->text();
    m_settings.Fopt = ui->FoptCheckBox->isChecked();
    m_settings.Ropt = ui->RoptCheckBox->isChecked();
    m_settings.Popt = ui->PoptCheckBox->isChecked();
    m_settings.TxtFile = ui->TextFile->text();
    m_settings.MolFile = ui->MolFile->text();
    m_settings.CopyCmdLine = ui->CopyClCB->isChecked();
    m_continue->MaxContinuations = ui->ContinueSpin->value();
    m_notify->NotifyWhenJobsEnd = ui->NotifyCB->isChecked();
    *m_cluster = cluster;
    accept();
}

void TSettingsDlg::pickFile(const QString &filter, const QString &defaultSuffix, bool executable, QLineEdit *target)
{
    Dialogs::Request request;
    request.kind = Dialogs::Kind::OpenFile;
    request.filter = filter;
    request.defaultSuffix = defaultSuffix;
    // The pickers start in the folder of the file last picked in one of
    // them, before that in the folder of the Firefly executable.
    request.initialFolder = m_pickedFolder.isEmpty() ? Paths::FolderPart(ui->EXEFile->text()) : m_pickedFolder;
    request.matchEveryFile = executable;
    const QString file = Dialogs::AskOne(this, request);
    if (file.isEmpty())
        return;
    if (holdsLineBreak(file)) {
        Notices::ShowNotice(LineBreakInFileText);
        return;
    }
    m_pickedFolder = Paths::FolderPart(file);
    target->setText(file);
}

void TSettingsDlg::EXEBtnClick()
{
    pickFile(QStringLiteral("Firefly executable (*.exe)|*.exe"), QString(), true, ui->EXEFile);
}

void TSettingsDlg::LibBtnClick()
{
    pickFile(QStringLiteral("External basis set library file (*.lib) | *.lib"), QStringLiteral("lib"), false,
             ui->LibFile);
}

void TSettingsDlg::TxtBtnClick()
{
    pickFile(QStringLiteral("Text Editor executable (*.exe)|*.exe"), QString(), true, ui->TextFile);
}

void TSettingsDlg::MolBtnClick()
{
    pickFile(QStringLiteral("Molecule Editor executable (*.exe)|*.exe"), QString(), true, ui->MolFile);
}

void TSettingsDlg::DirBtnClick()
{
    // Also when nothing was chosen: cancelling the browser empties the field.
    ui->AutoDirEdit->setText(BrowseForFolder(QStringLiteral("Select Directory"), QString(), true));
}

void TSettingsDlg::AddBtnClick()
{
    const QString folder = BrowseForFolder(QStringLiteral("Select Directory"), QString(), true);
    if (folder.isEmpty())
        return;
    for (int row = 0; row < ui->DirListBox->count(); ++row) {
        if (ui->DirListBox->item(row)->text().compare(folder, Qt::CaseInsensitive) == 0)
            return;
    }
    ui->DirListBox->addItem(folder);
}

void TSettingsDlg::RemoveBtnClick()
{
    const QList<QListWidgetItem *> selected = ui->DirListBox->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

void TSettingsDlg::TestBtnClick()
{
    if (m_asking)
        return;
    m_asking = true;
    m_clusterAsked = true;
    ShowClusterAnswer(ui->ClusterAnswerLabel, AskingClusterText);
    const QString sinfo = QStringLiteral("sinfo");
    const bool overSsh = ui->SshRadioButton->isChecked();
    if (!overSsh && QStandardPaths::findExecutable(sinfo).isEmpty()) {
        ShowClusterAnswer(ui->ClusterAnswerLabel, NoSinfoText);
        m_asking = false;
        return;
    }
    // The window stays alive while sinfo runs; it may even be closed meanwhile.
    // Over SSH it connects first, with ssh's questions in a window of their own.
    const QPointer<TSettingsDlg> self(this);
    const SlurmCluster::Answer answer =
        overSsh ? ClusterBackends::AskOverSsh(clusterFromPage(), sinfo, SinfoArguments())
                : SlurmCluster::Run(sinfo, SinfoArguments(), SinfoTimeoutMs);
    if (!self)
        return;
    m_asking = false;
    if (!answer.ok) {
        ShowClusterAnswer(ui->ClusterAnswerLabel, NoAnswerText + answer.message);
        return;
    }
    const SinfoAnswer cluster = ParseSinfo(answer.out);
    // A name typed or stored stays, also when the cluster does not list it.
    const QString partition = ui->PartitionCombo->currentText();
    ui->PartitionCombo->clear();
    ui->PartitionCombo->addItems(cluster.partitions);
    ui->PartitionCombo->setEditText(partition.isEmpty() ? cluster.defaultPartition : partition);
    ShowClusterAnswer(ui->ClusterAnswerLabel, SinfoSummary(cluster));
}
