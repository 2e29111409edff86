#include "cluster/ClusterSettings.h"
#include "jobs/DirList.h"
#include "jobs/JobSettings.h"
#include "platform/Dialogs.h"
#include "platform/Notices.h"
#include "tests/helpers/Controls.h"
#include "tests/helpers/SettingsChecks.h"
#include "tests/helpers/SshLocal.h"
#include "ui/SettingsForm.h"
#include "ui/UpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(TJobSettings)
Q_DECLARE_METATYPE(TClusterSettings)

namespace {

// The settings with a value of its own in every field, in list mode.
TJobSettings sampleSettings()
{
    TJobSettings s;
    s.EXEFile = QStringLiteral("/opt/firefly/firefly");
    s.DirList = JoinDirList({QStringLiteral("/scratch/a"), QStringLiteral("/scratch/b b")});
    s.CPUcores = QStringLiteral("2");
    s.OutputFormat = 1;
    s.AddCmdLine = QStringLiteral("-ex /opt/firefly/ext");
    s.AutoDir = false;
    s.Ropt = false;
    s.Fopt = true;
    s.Popt = false;
    s.CopyCmdLine = true;
    s.LibFile = QStringLiteral("/opt/basis/extra.lib");
    s.TxtFile = QStringLiteral("/usr/bin/kate");
    s.MolFile = QStringLiteral("/usr/bin/avogadro");
    return s;
}

} // namespace

class TestSettingsForm : public QObject
{
    Q_OBJECT

    QStringList notices;
    QList<Dialogs::Request> requests;
    QList<QStringList> answers;   // what the choosers answer, one per request; none left = Cancel

    TJobSettings settings;
    TClusterSettings cluster;
    TContinueSettings continuing;
    TNotifySettings notify;
    std::unique_ptr<TSettingsDlg> dlg;
    // No Slurm command is found unless a test asks for the local Slurm: the
    // Cluster page asks the cluster as it is first shown.
    QTemporaryDir noPrograms;
    const QByteArray path = qgetenv("PATH");
    const QByteArray slurmConf = qgetenv("SLURM_CONF");

    template <typename T>
    T *control(const char *name) { return findControl<T>(dlg.get(), name); }
    QLineEdit *edit(const char *name) { return control<QLineEdit>(name); }
    QPushButton *button(const char *name) { return control<QPushButton>(name); }
    QListWidget *dirList() { return control<QListWidget>("DirListBox"); }
    QComboBox *partitions() { return control<QComboBox>("PartitionCombo"); }
    QLabel *clusterAnswer() { return control<QLabel>("ClusterAnswerLabel"); }

    // What the Cluster page shows, and typing into it.
    TClusterSettings shownCluster()
    {
        TClusterSettings shown;
        shown.RunOn = control<QRadioButton>("SlurmRadioButton")->isChecked()  ? TClusterSettings::Where::Slurm
                      : control<QRadioButton>("SshRadioButton")->isChecked()   ? TClusterSettings::Where::SlurmOverSsh
                      : control<QRadioButton>("LocalRadioButton")->isChecked() ? TClusterSettings::Where::ThisComputer
                                                                               : TClusterSettings::Where(7);
        shown.Destination = edit("DestinationEdit")->text();
        shown.ClusterFirefly = edit("ClusterFireflyEdit")->text();
        shown.ClusterWorkFolder = edit("ClusterWorkFolderEdit")->text();
        shown.ClusterLibrary = edit("ClusterLibraryEdit")->text();
        shown.RemoveClusterFolders = control<QCheckBox>("RemoveFoldersCheck")->isChecked();
        shown.Partition = partitions()->currentText();
        shown.Account = edit("AccountEdit")->text();
        shown.TimeLimit = edit("TimeLimitEdit")->text();
        shown.Memory = edit("MemoryEdit")->text();
        shown.SbatchOptions = edit("SbatchOptEdit")->text();
        shown.JobsAtOnce = control<QSpinBox>("JobsAtOnceSpin")->value();
        shown.PollSeconds = control<QSpinBox>("PollSecondsSpin")->value();
        return shown;
    }
    void typeIntoClusterPage(const TClusterSettings &typed)
    {
        control<QRadioButton>(typed.RunOn == TClusterSettings::Where::Slurm          ? "SlurmRadioButton"
                              : typed.RunOn == TClusterSettings::Where::SlurmOverSsh ? "SshRadioButton"
                                                                                     : "LocalRadioButton")
            ->setChecked(true);
        edit("DestinationEdit")->setText(typed.Destination);
        edit("ClusterFireflyEdit")->setText(typed.ClusterFirefly);
        edit("ClusterWorkFolderEdit")->setText(typed.ClusterWorkFolder);
        edit("ClusterLibraryEdit")->setText(typed.ClusterLibrary);
        control<QCheckBox>("RemoveFoldersCheck")->setChecked(typed.RemoveClusterFolders);
        partitions()->setEditText(typed.Partition);
        edit("AccountEdit")->setText(typed.Account);
        edit("TimeLimitEdit")->setText(typed.TimeLimit);
        edit("MemoryEdit")->setText(typed.Memory);
        edit("SbatchOptEdit")->setText(typed.SbatchOptions);
        control<QSpinBox>("JobsAtOnceSpin")->setValue(typed.JobsAtOnce);
        control<QSpinBox>("PollSecondsSpin")->setValue(typed.PollSeconds);
    }

    void showDialog()
    {
        dlg->show();
        QVERIFY(dlg->isVisible());
    }
    void clickOK() { button("OKBtn")->click(); }
    bool closedWithOK() const { return !dlg->isVisible() && dlg->result() == QDialog::Accepted; }

private slots:
    void init()
    {
        notices.clear();
        requests.clear();
        answers.clear();
        Notices::SetNoticePresenter([this](const QString &text) { notices << text; });
        Dialogs::SetAnswerer([this](const Dialogs::Request &request) {
            requests << request;
            return answers.isEmpty() ? QStringList() : answers.takeFirst();
        });
        settings = TJobSettings();
        cluster = TClusterSettings();
        dlg = std::make_unique<TSettingsDlg>(settings, cluster);
        continuing = TContinueSettings();
        dlg->SetContinueSettings(&continuing);
        notify = TNotifySettings();
        dlg->SetNotifySettings(&notify);
        qputenv("PATH", QFile::encodeName(noPrograms.path()));
    }
    void cleanup()
    {
        dlg.reset();
        qputenv("PATH", path);
        qputenv("SLURM_CONF", slurmConf);
        Dialogs::SetAnswerer({});
        Notices::SetNoticePresenter({});
    }

    void firstShowingWithoutSettings()
    {
        showDialog();
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dlg->size(), QSize(363, 600));
        QCOMPARE(control<QTabWidget>("PageControl1")->currentIndex(), 0);
        QVERIFY(control<QRadioButton>("ListRadioButton")->isChecked());
        QVERIFY(!control<QRadioButton>("ACRadioButton")->isChecked());
        QCOMPARE(dirList()->count(), 0);
        QCOMPARE(edit("AutoDirEdit")->text(), QString());
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("1"));
        QVERIFY(control<QRadioButton>("OFOutItem")->isChecked());
        QVERIFY(control<QCheckBox>("RoptCheckBox")->isChecked());
        QVERIFY(control<QCheckBox>("FoptCheckBox")->isChecked());
        QVERIFY(control<QCheckBox>("PoptCheckBox")->isChecked());
        QVERIFY(!control<QCheckBox>("CopyClCB")->isChecked());
        QCOMPARE(edit("EXEFile")->text(), QString());
    }

    void listModeNeedsOneDirectoryPerCore_data()
    {
        QTest::addColumn<int>("directories");
        QTest::addColumn<bool>("passes");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("3 for 4 cores") << 3 << false;
        QTest::newRow("4 for 4 cores") << 4 << true;
        QTest::newRow("5 for 4 cores") << 5 << true;
    }
    void listModeNeedsOneDirectoryPerCore()
    {
        QFETCH(int, directories);
        QFETCH(bool, passes);
        QStringList dirs;
        for (int i = 0; i < directories; ++i)
            dirs << QStringLiteral("/scratch/w%1").arg(i);
        settings.EXEFile = QStringLiteral("/opt/firefly/firefly");
        settings.CPUcores = QStringLiteral("4");
        settings.DirList = JoinDirList(dirs);
        const TJobSettings before = settings;
        showDialog();
        clickOK();
        if (passes) {
            QVERIFY(notices.isEmpty());
            QVERIFY(closedWithOK());
            QCOMPARE(settings.DirList, JoinDirList(dirs));
            QCOMPARE(settings.AutoDir, false);
            QCOMPARE(settings.CPUcores, QStringLiteral("4"));
        } else {
            QCOMPARE(notices, QStringList{QStringLiteral(
                                  "The number of working directories should be at leat equal to the number "
                                  "of CPU cores used!")});
            QVERIFY(dlg->isVisible());
            compareSettings(settings, before);
        }
    }

    void countCheckUsesTheArrowsValue()
    {
        settings.EXEFile = QStringLiteral("/opt/firefly/firefly");
        settings.DirList = JoinDirList({QStringLiteral("/w1"), QStringLiteral("/w2")});
        showDialog();
        auto *upDown = control<TUpDown>("InstancesUpDown");
        upDown->stepBy(2);
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("3"));
        clickOK();
        QCOMPARE(notices.size(), 1);
        upDown->stepBy(-1);
        clickOK();
        QVERIFY(closedWithOK());
        QCOMPARE(settings.CPUcores, QStringLiteral("2"));
    }

    void autoCreateChecksFolderFirstThenExecutable()
    {
        settings.AutoDir = true;
        showDialog();
        clickOK();
        QCOMPARE(notices,
                 QStringList{QStringLiteral("Please enter a path where Firefly can auto create working directories!")});
        QVERIFY(dlg->isVisible());

        answers << QStringList{QStringLiteral("/scratch/auto")};
        button("DirBtn")->click();
        QCOMPARE(edit("AutoDirEdit")->text(), QStringLiteral("/scratch/auto"));
        notices.clear();
        clickOK();
        QCOMPARE(notices, QStringList{QStringLiteral("Enter a valid executable filename!")});
        QVERIFY(dlg->isVisible());
        compareSettings(settings, [] {
            TJobSettings s;
            s.AutoDir = true;
            return s;
        }());
    }

    void autoCreateLeavesTheListForNextShowing()
    {
        settings = sampleSettings();
        const QStringList list = SplitDirList(settings.DirList);
        showDialog();
        control<QRadioButton>("ACRadioButton")->setChecked(true);
        answers << QStringList{QStringLiteral("/scratch/auto")};
        button("DirBtn")->click();
        clickOK();
        QVERIFY(closedWithOK());
        QCOMPARE(settings.AutoDir, true);
        QCOMPARE(settings.DirList, QStringLiteral("/scratch/auto"));

        // Next showing: auto-create mode loads only the folder; the list keeps its entries.
        showDialog();
        QVERIFY(control<QRadioButton>("ACRadioButton")->isChecked());
        QCOMPARE(edit("AutoDirEdit")->text(), QStringLiteral("/scratch/auto"));
        QCOMPARE(listTexts(dirList()), list);

        control<QRadioButton>("ListRadioButton")->setChecked(true);
        clickOK();
        QVERIFY(closedWithOK());
        QCOMPARE(settings.AutoDir, false);
        QCOMPARE(settings.DirList, JoinDirList(list));
    }

    void addFolder_data()
    {
        QTest::addColumn<QStringList>("answer");
        QTest::addColumn<QStringList>("expected");
        const QStringList existing{QStringLiteral("/home/ann/Work"), QStringLiteral("/scratch")};
        QTest::newRow("new folder appended") << QStringList{QStringLiteral("/data/run")}
                                             << existing + QStringList{QStringLiteral("/data/run")};
        QTest::newRow("same folder") << QStringList{QStringLiteral("/home/ann/Work")} << existing;
        QTest::newRow("same folder, other letter case") << QStringList{QStringLiteral("/HOME/ann/work")} << existing;
        QTest::newRow("cancelled") << QStringList{} << existing;
        QTest::newRow("line feed in the name") << QStringList{QStringLiteral("/data/a\nb")} << existing;
        QTest::newRow("carriage return in the name") << QStringList{QStringLiteral("/data/a\rb")} << existing;
    }
    void addFolder()
    {
        QFETCH(QStringList, answer);
        QFETCH(QStringList, expected);
        settings.DirList = JoinDirList({QStringLiteral("/home/ann/Work"), QStringLiteral("/scratch")});
        showDialog();
        answers << answer;
        button("AddBtn")->click();
        QCOMPARE(listTexts(dirList()), expected);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().kind, Dialogs::Kind::Directory);
        QCOMPARE(requests.first().title, QStringLiteral("Select Directory"));
        QCOMPARE(requests.first().initialFolder, QString());
        QVERIFY(requests.first().allowNewFolder);
        const bool lineBreak = !answer.isEmpty() && (answer.first().contains('\n') || answer.first().contains('\r'));
        QCOMPARE(notices, lineBreak ? QStringList{TSettingsDlg::LineBreakInFolderText} : QStringList{});
    }

    void autoCreateFolder_data()
    {
        QTest::addColumn<QStringList>("answer");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("refused");
        QTest::newRow("chosen") << QStringList{QStringLiteral("/scratch/new")} << QStringLiteral("/scratch/new") << false;
        QTest::newRow("cancel empties the field") << QStringList{} << QString() << false;
        QTest::newRow("line break refused") << QStringList{QStringLiteral("/scratch/x\r\ny")} << QString() << true;
    }
    void autoCreateFolder()
    {
        QFETCH(QStringList, answer);
        QFETCH(QString, expected);
        QFETCH(bool, refused);
        settings = sampleSettings();
        settings.AutoDir = true;
        settings.DirList = QStringLiteral("/scratch/old");
        showDialog();
        // Put entries in the list too: the folder browser must leave them alone.
        answers << QStringList{QStringLiteral("/kept")};
        button("AddBtn")->click();
        answers << answer;
        button("DirBtn")->click();
        QCOMPARE(edit("AutoDirEdit")->text(), expected);
        QCOMPARE(listTexts(dirList()), QStringList{QStringLiteral("/kept")});
        QCOMPARE(notices, refused ? QStringList{TSettingsDlg::LineBreakInFolderText} : QStringList{});
    }

    void removeFolder()
    {
        settings.DirList = JoinDirList({QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")});
        showDialog();
        button("RemoveBtn")->click();   // nothing selected: nothing happens
        QCOMPARE(dirList()->count(), 3);
        dirList()->setCurrentRow(1);
        button("RemoveBtn")->click();
        QCOMPARE(listTexts(dirList()), (QStringList{QStringLiteral("/a"), QStringLiteral("/c")}));
    }

    void outputFormat_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("storedByOK");
        QTest::newRow(".out") << 0 << "OFOutItem" << 0;
        QTest::newRow("_N.out") << 1 << "OFNumberedItem" << 1;
        QTest::newRow("?") << 2 << "OFAskItem" << 2;
        QTest::newRow("7 shows ?") << 7 << "OFAskItem" << 2;
        QTest::newRow("255 shows ?") << 255 << "OFAskItem" << 2;
    }
    void outputFormat()
    {
        QFETCH(int, stored);
        QFETCH(QString, item);
        QFETCH(int, storedByOK);
        settings = sampleSettings();
        settings.OutputFormat = quint8(stored);
        showDialog();
        auto *radio = dlg->findChild<QRadioButton *>(item);
        QVERIFY(radio);
        QVERIFY(radio->isChecked());
        clickOK();
        QVERIFY(closedWithOK());
        QCOMPARE(int(settings.OutputFormat), storedByOK);
    }

    void okStoresEveryControl()
    {
        settings = sampleSettings();
        showDialog();
        answers << QStringList{QStringLiteral("/opt/ff8/firefly")} << QStringList{QStringLiteral("/opt/b.lib")}
                << QStringList{QStringLiteral("/usr/bin/gedit")} << QStringList{QStringLiteral("/usr/bin/molden")}
                << QStringList{QStringLiteral("/scratch/c")};
        button("EXEBtn")->click();
        button("LibBtn")->click();
        button("TxtBtn")->click();
        button("MolBtn")->click();
        button("AddBtn")->click();
        control<TUpDown>("InstancesUpDown")->stepBy(1);
        control<QRadioButton>("OFAskItem")->setChecked(true);
        edit("CmdOptEdit")->setText(QStringLiteral("-i2"));
        control<QCheckBox>("RoptCheckBox")->setChecked(true);
        control<QCheckBox>("FoptCheckBox")->setChecked(false);
        control<QCheckBox>("PoptCheckBox")->setChecked(true);
        control<QCheckBox>("CopyClCB")->setChecked(false);
        control<QSpinBox>("ContinueSpin")->setValue(3);
        QVERIFY(control<QCheckBox>("NotifyCB")->isChecked());
        control<QCheckBox>("NotifyCB")->setChecked(false);
        clickOK();
        QVERIFY(closedWithOK());
        QCOMPARE(continuing.MaxContinuations, 3);
        QVERIFY(!notify.NotifyWhenJobsEnd);
        TJobSettings expected;
        expected.EXEFile = QStringLiteral("/opt/ff8/firefly");
        expected.DirList = JoinDirList({QStringLiteral("/scratch/a"), QStringLiteral("/scratch/b b"),
                                        QStringLiteral("/scratch/c")});
        expected.CPUcores = QStringLiteral("3");
        expected.OutputFormat = 2;
        expected.AddCmdLine = QStringLiteral("-i2");
        expected.AutoDir = false;
        expected.Ropt = true;
        expected.Fopt = false;
        expected.Popt = true;
        expected.CopyCmdLine = false;
        expected.LibFile = QStringLiteral("/opt/b.lib");
        expected.TxtFile = QStringLiteral("/usr/bin/gedit");
        expected.MolFile = QStringLiteral("/usr/bin/molden");
        compareSettings(settings, expected);
    }

    void closingWithoutOKStoresNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "Cancel";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("close box") << "close";
    }
    void closingWithoutOKStoresNothing()
    {
        QFETCH(QString, how);
        settings = sampleSettings();
        const TJobSettings stored = settings;
        showDialog();
        control<QTabWidget>("PageControl1")->setCurrentIndex(1);
        answers << QStringList{QStringLiteral("/opt/other/firefly")} << QStringList{QStringLiteral("/x")};
        button("EXEBtn")->click();
        button("AddBtn")->click();
        control<TUpDown>("InstancesUpDown")->stepBy(5);
        control<QRadioButton>("OFAskItem")->setChecked(true);
        edit("CmdOptEdit")->setText(QStringLiteral("changed"));
        control<QCheckBox>("RoptCheckBox")->setChecked(true);
        control<QCheckBox>("CopyClCB")->setChecked(false);
        control<QSpinBox>("ContinueSpin")->setValue(4);
        control<QCheckBox>("NotifyCB")->setChecked(false);
        if (how == QLatin1String("Cancel"))
            button("CancelBtn")->click();
        else if (how == QLatin1String("Escape"))
            QTest::keyClick(dlg.get(), Qt::Key_Escape);
        else
            dlg->close();
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        compareSettings(settings, stored);
        QVERIFY(notify.NotifyWhenJobsEnd);

        // The next showing displays the stored values again; the page stays.
        showDialog();
        QCOMPARE(control<QTabWidget>("PageControl1")->currentIndex(), 1);
        QCOMPARE(edit("EXEFile")->text(), stored.EXEFile);
        QCOMPARE(listTexts(dirList()), SplitDirList(stored.DirList));
        QCOMPARE(edit("InstancesEdit")->text(), stored.CPUcores);
        QVERIFY(control<QRadioButton>("OFNumberedItem")->isChecked());
        QCOMPARE(edit("CmdOptEdit")->text(), stored.AddCmdLine);
        QCOMPARE(edit("LibFile")->text(), stored.LibFile);
        QCOMPARE(edit("TextFile")->text(), stored.TxtFile);
        QCOMPARE(edit("MolFile")->text(), stored.MolFile);
        QCOMPARE(control<QCheckBox>("RoptCheckBox")->isChecked(), stored.Ropt);
        QCOMPARE(control<QCheckBox>("FoptCheckBox")->isChecked(), stored.Fopt);
        QCOMPARE(control<QCheckBox>("PoptCheckBox")->isChecked(), stored.Popt);
        QCOMPARE(control<QCheckBox>("CopyClCB")->isChecked(), stored.CopyCmdLine);
        QCOMPARE(continuing.MaxContinuations, 0);
        QCOMPARE(control<QSpinBox>("ContinueSpin")->value(), 0);
        QVERIFY(control<QCheckBox>("NotifyCB")->isChecked());
        QVERIFY(control<QRadioButton>("ListRadioButton")->isChecked());
    }

    void filePickers_data()
    {
        QTest::addColumn<QString>("buttonName");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("matchEveryFile");
        // Linux programs carry no extension: a typed program name gets none.
        QTest::newRow("Firefly") << "EXEBtn" << "EXEFile" << "Firefly executable (*.exe)|*.exe" << "" << true;
        QTest::newRow("library") << "LibBtn" << "LibFile" << "External basis set library file (*.lib) | *.lib"
                                 << "lib" << false;
        QTest::newRow("text editor") << "TxtBtn" << "TextFile" << "Text Editor executable (*.exe)|*.exe" << ""
                                     << true;
        QTest::newRow("molecule editor") << "MolBtn" << "MolFile" << "Molecule Editor executable (*.exe)|*.exe"
                                         << "" << true;
    }
    void filePickers()
    {
        QFETCH(QString, buttonName);
        QFETCH(QString, target);
        QFETCH(QString, filter);
        QFETCH(QString, suffix);
        QFETCH(bool, matchEveryFile);
        settings = sampleSettings();
        settings.EXEFile = QStringLiteral("/opt/fire fly/bin/firefly");
        showDialog();
        QLineEdit *field = dlg->findChild<QLineEdit *>(target);
        QPushButton *picker = dlg->findChild<QPushButton *>(buttonName);
        QVERIFY(field && picker);
        const QString before = field->text();

        picker->click();   // cancelled: nothing changes
        QCOMPARE(field->text(), before);
        QCOMPARE(requests.size(), 1);
        const Dialogs::Request request = requests.first();
        QCOMPARE(request.kind, Dialogs::Kind::OpenFile);
        QCOMPARE(request.filter, filter);
        QCOMPARE(request.defaultSuffix, suffix);
        QCOMPARE(request.matchEveryFile, matchEveryFile);
        QCOMPARE(request.initialFolder, QStringLiteral("/opt/fire fly/bin/"));

        // Before anything is picked, where the Firefly field points, or the default place.
        edit("EXEFile")->setText(QStringLiteral("firefly"));
        picker->click();
        QCOMPARE(requests.last().initialFolder, QString());

        answers << QStringList{QStringLiteral("/home/ann/chosen file")};
        picker->click();
        QCOMPARE(field->text(), QStringLiteral("/home/ann/chosen file"));

        answers << QStringList{QStringLiteral("/home/ann/bad\nname")};
        picker->click();
        QCOMPARE(field->text(), QStringLiteral("/home/ann/chosen file"));
        QCOMPARE(notices, QStringList{TSettingsDlg::LineBreakInFileText});

        // Then every picker starts in the folder of the file picked last.
        edit("EXEFile")->setText(QStringLiteral("/opt/ff/firefly"));
        button(buttonName == QLatin1String("LibBtn") ? "MolBtn" : "LibBtn")->click();
        QCOMPARE(requests.last().initialFolder, QStringLiteral("/home/ann/"));
    }

    void upDownSteps_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("expected");
        QTest::newRow("up") << "1" << 1 << "2";
        QTest::newRow("stops at 16") << "15" << 3 << "16";
        QTest::newRow("stops at 1") << "2" << -5 << "1";
        QTest::newRow("out of range text clamps") << "40" << -1 << "15";
        QTest::newRow("not a number keeps the last position") << "abc" << 1 << "2";
    }
    void upDownSteps()
    {
        QFETCH(QString, shown);
        QFETCH(int, steps);
        QFETCH(QString, expected);
        settings.CPUcores = shown;
        showDialog();
        QCOMPARE(edit("InstancesEdit")->text(), shown);   // loaded as text, untouched
        auto *upDown = control<TUpDown>("InstancesUpDown");
        QCOMPARE(upDown->minimum(), 1);
        QCOMPARE(upDown->maximum(), 16);
        upDown->stepBy(steps);
        QCOMPARE(edit("InstancesEdit")->text(), expected);
    }

    void upDownArrowsAndKeys()
    {
        showDialog();
        auto *upDown = control<TUpDown>("InstancesUpDown");
        auto *up = upDown->findChild<QAbstractButton *>(QStringLiteral("UpArrow"));
        auto *down = upDown->findChild<QAbstractButton *>(QStringLiteral("DownArrow"));
        QVERIFY(up && down);
        up->click();
        up->click();
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("3"));
        down->click();
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("2"));
        QTest::keyClick(edit("InstancesEdit"), Qt::Key_Up);
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("3"));
        QTest::keyClick(upDown, Qt::Key_Down);
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("2"));
        QTest::keyClicks(edit("InstancesEdit"), QStringLiteral("9"));   // read-only: typing changes nothing
        QCOMPARE(edit("InstancesEdit")->text(), QStringLiteral("2"));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("expected");
        QTest::newRow("output hint") << "OFRadioGroup" << QByteArray("toolTip") << TSettingsDlg::OutputFormatHint;
        QTest::newRow("output caption") << "OFRadioGroup" << QByteArray("title") << "Output file";
        QTest::newRow("item 0") << "OFOutItem" << QByteArray("text") << ".out";
        QTest::newRow("item 1") << "OFNumberedItem" << QByteArray("text") << "_N.out";
        QTest::newRow("item 2") << "OFAskItem" << QByteArray("text") << "?";
        QTest::newRow("exe hint") << "EXEFile" << QByteArray("toolTip") << "Enter the path of the Firefly executable";
        QTest::newRow("exe label") << "EXEFileLabel" << QByteArray("text") << "Firefly executable";
        QTest::newRow("lib label") << "LibFileLabel" << QByteArray("text")
                                   << "External basis set library file (optional)";
        QTest::newRow("cores label") << "Label4" << QByteArray("text") << "CPU cores";
        QTest::newRow("cores hint") << "InstancesEdit" << QByteArray("toolTip") << "Number of CPU cores to use.";
        QTest::newRow("arrows hint") << "InstancesUpDown" << QByteArray("toolTip") << "Number of CPU cores to use.";
        QTest::newRow("group") << "GroupBox1" << QByteArray("title") << "Working directories";
        QTest::newRow("auto") << "ACRadioButton" << QByteArray("text") << "Auto create";
        QTest::newRow("auto hint") << "AutoDirEdit" << QByteArray("toolTip")
                                   << "Enter the path where Firefly can auto create working directories";
        QTest::newRow("list") << "ListRadioButton" << QByteArray("text") << "List";
        QTest::newRow("list hint") << "DirListBox" << QByteArray("toolTip") << "List of working directories";
        QTest::newRow("add") << "AddBtn" << QByteArray("text") << "Add...";
        QTest::newRow("add hint") << "AddBtn" << QByteArray("toolTip") << "Add a working directory to the list";
        QTest::newRow("remove") << "RemoveBtn" << QByteArray("text") << "Remove";
        QTest::newRow("remove hint") << "RemoveBtn" << QByteArray("toolTip")
                                     << "Remove a working dierctory from the list.";
        QTest::newRow("ropt") << "RoptCheckBox" << QByteArray("text") << "Remove temporary scratch files";
        QTest::newRow("fopt") << "FoptCheckBox" << QByteArray("text")
                              << "Forces execution with old PUNCH or IRCDATA files";
        QTest::newRow("popt") << "PoptCheckBox" << QByteArray("text")
                              << "Redirects all text files to output file directory";
        QTest::newRow("options label") << "CmdOptEditLabel" << QByteArray("text") << "Additional command line options";
        QTest::newRow("options hint") << "CmdOptEdit" << QByteArray("toolTip") << "Additional command line option ";
        QTest::newRow("text editor") << "TextFileLabel" << QByteArray("text") << "Text Editor";
        QTest::newRow("text editor hint") << "TextFile" << QByteArray("toolTip")
                                          << "Enter the path of the Text Editor executable";
        QTest::newRow("molecule editor") << "MolFileLabel" << QByteArray("text") << "Molecule Editor";
        QTest::newRow("molecule editor hint") << "MolFile" << QByteArray("toolTip")
                                              << "Enter the path of the Molecule Editor executable";
        QTest::newRow("copy") << "CopyClCB" << QByteArray("text") << "Copy Firefly command line to clipboard";
        QTest::newRow("copy hint") << "CopyClCB" << QByteArray("toolTip")
                                   << "Copy Firefly command line to clipboard when running a job.";
        QTest::newRow("continue") << "ContinueLabel" << QByteArray("text")
                                  << "Continue optimisations that run out of steps or time, at most";
        QTest::newRow("continue, times") << "ContinueTimesLabel" << QByteArray("text") << "times";
        QTest::newRow("notify") << "NotifyCB" << QByteArray("text") << "Notify when jobs end";
        QTest::newRow("ok") << "OKBtn" << QByteArray("text") << "OK";
        QTest::newRow("cancel") << "CancelBtn" << QByteArray("text") << "Cancel";
    }
    void texts()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QString, expected);
        QWidget *widget = dlg->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->property(property.constData()).toString(), expected);
    }

    void structure()
    {
        auto *pages = control<QTabWidget>("PageControl1");
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0), QStringLiteral("Firefly"));
        QCOMPARE(pages->tabText(1), QStringLiteral("Other"));
        QCOMPARE(pages->tabText(2), QStringLiteral("Cluster"));
        for (const char *name : {"LocalRadioButton", "SlurmRadioButton", "SshRadioButton", "DestinationEdit",
                                 "ClusterFireflyEdit", "ClusterWorkFolderEdit", "ClusterLibraryEdit",
                                 "RemoveFoldersCheck", "PartitionCombo", "TestBtn", "AccountEdit", "TimeLimitEdit",
                                 "MemoryEdit", "SbatchOptEdit", "JobsAtOnceSpin", "PollSecondsSpin"})
            QVERIFY2(!control<QWidget>(name)->toolTip().isEmpty(), name);
        QVERIFY(partitions()->isEditable());
        QVERIFY(button("OKBtn")->isDefault());
        for (const char *name : {"EXEFile", "LibFile", "InstancesEdit", "AutoDirEdit", "TextFile", "MolFile"})
            QVERIFY2(edit(name)->isReadOnly(), name);
        QVERIFY(!edit("CmdOptEdit")->isReadOnly());
        QCOMPARE(dirList()->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!dirList()->isSortingEnabled());
        // The fields that pickers fill are grey; the free edit is not.
        const QColor grey = dlg->palette().color(QPalette::Disabled, QPalette::WindowText);
        for (const char *name : {"EXEFile", "LibFile", "AutoDirEdit", "TextFile", "MolFile"})
            QCOMPARE(edit(name)->palette().color(QPalette::Base), grey);
        QCOMPARE(dirList()->palette().color(QPalette::Base), grey);
        QVERIFY(edit("CmdOptEdit")->palette().color(QPalette::Base) != grey);
        // The working-directory controls live in their group box.
        auto *group = control<QGroupBox>("GroupBox1");
        for (const char *name : {"ACRadioButton", "AutoDirEdit", "DirBtn", "ListRadioButton", "DirListBox", "AddBtn",
                                 "RemoveBtn"})
            QCOMPARE(dlg->findChild<QWidget *>(QLatin1String(name))->parentWidget(), group);
    }

    // The output-file buttons stand inside their frame, and the options field
    // ends above the page's edge.
    void controlsClearTheirFrames()
    {
        showDialog();
        auto *group = control<QGroupBox>("OFRadioGroup");
        const QRect inside = group->contentsRect();
        for (const char *name : {"OFOutItem", "OFNumberedItem", "OFAskItem"}) {
            const QRect button = control<QRadioButton>(name)->geometry();
            QVERIFY2(button.top() >= inside.top() && button.bottom() <= inside.bottom(), name);
        }
        QVERIFY(edit("CmdOptEdit")->geometry().bottom() + 6 < control<QWidget>("FireflyPage")->height());
    }

    // Tab and Shift+Tab, pressed, walk the page in the described order; a
    // group of radio buttons is one stop, on its selected button.
    void tabOrder_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("autoDir");
        QTest::addColumn<int>("outputFormat");
        QTest::addColumn<QStringList>("order");
        const QStringList head{"InstancesEdit", "InstancesUpDown"};
        const QStringList middle{"EXEFile", "EXEBtn", "CmdOptEdit", "DirListBox"};
        const QStringList tail{"AutoDirEdit", "LibFile", "LibBtn", "RoptCheckBox", "FoptCheckBox", "PoptCheckBox"};
        const QStringList buttons{"DirBtn", "AddBtn", "RemoveBtn"};
        QTest::newRow("list, .out") << 0 << false << 0
                                    << head + QStringList{"OFOutItem"} + middle + buttons
                                           + QStringList{"ListRadioButton"} + tail;
        QTest::newRow("auto create, _N.out") << 0 << true << 1
                                             << head + QStringList{"OFNumberedItem"} + middle
                                                    + QStringList{"ACRadioButton"} + buttons + tail;
        QTest::newRow("list, ?") << 0 << false << 2
                                 << head + QStringList{"OFAskItem"} + middle + buttons
                                        + QStringList{"ListRadioButton"} + tail;
        QTest::newRow("Other page") << 1 << false << 0
                                    << QStringList{"TextFile", "TxtBtn", "MolFile", "MolBtn", "CopyClCB", "NotifyCB", "ContinueSpin"};
        const QStringList cluster{"DestinationEdit", "ClusterFireflyEdit", "ClusterWorkFolderEdit",
                                  "ClusterLibraryEdit", "RemoveFoldersCheck", "PartitionCombo", "TestBtn",
                                  "AccountEdit", "MemoryEdit", "TimeLimitEdit", "SbatchOptEdit", "JobsAtOnceSpin",
                                  "PollSecondsSpin"};
        QTest::newRow("Cluster page, this computer") << 2 << false << 0 << QStringList{"LocalRadioButton"} + cluster;
        QTest::newRow("Cluster page, Slurm") << 2 << false << 0 << QStringList{"SlurmRadioButton"} + cluster;
        QTest::newRow("Cluster page, over SSH") << 2 << false << 0 << QStringList{"SshRadioButton"} + cluster;
    }
    void tabOrder()
    {
        QFETCH(int, page);
        QFETCH(bool, autoDir);
        QFETCH(int, outputFormat);
        QFETCH(QStringList, order);
        settings = sampleSettings();
        settings.AutoDir = autoDir;
        settings.OutputFormat = quint8(outputFormat);
        if (order.contains("SlurmRadioButton"))
            cluster.RunOn = TClusterSettings::Where::Slurm;
        if (order.contains("SshRadioButton"))
            cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
        showDialog();
        dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        control<QTabWidget>("PageControl1")->setCurrentIndex(page);
        dlg->findChild<QWidget *>(order.first())->setFocus();
        const auto focused = [] {
            // A spin box's focus is on its inner edit, named by Qt.
            QWidget *widget = QApplication::focusWidget();
            return widget->objectName().startsWith("qt_") ? widget->parentWidget()->objectName() : widget->objectName();
        };
        const auto walk = [&focused](Qt::Key key, qsizetype stops) {
            QStringList visited{focused()};
            while (visited.size() < stops) {
                QTest::keyClick(QApplication::focusWidget(), key);
                visited << focused();
            }
            return visited;
        };
        QCOMPARE(walk(Qt::Key_Tab, order.size()), order);
        std::reverse(order.begin(), order.end());
        QCOMPARE(walk(Qt::Key_Backtab, order.size()), order);
    }

    // The Cluster page shows the record and OK stores what it shows, without
    // blanks at the ends and with pasted line breaks as blanks; Cancel stores
    // nothing, and the next showing shows the record again.
    void clusterPage_data()
    {
        QTest::addColumn<TClusterSettings>("stored");
        QTest::addColumn<TClusterSettings>("typed");
        QTest::addColumn<TClusterSettings>("storedByOK");
        const TClusterSettings slurm = clusterInEveryField();
        TClusterSettings pasted = slurm;
        for (QString *text : {&pasted.Partition, &pasted.Account, &pasted.TimeLimit, &pasted.Memory,
                              &pasted.Destination, &pasted.ClusterFirefly, &pasted.ClusterWorkFolder,
                              &pasted.ClusterLibrary})
            *text = ' ' + *text + "\r\n";
        pasted.SbatchOptions = "--qos=low\n\"--comment=a b\"\n";
        QTest::newRow("defaults, then Slurm") << TClusterSettings() << pasted << slurm;
        QTest::newRow("Slurm, then defaults") << slurm << TClusterSettings() << TClusterSettings();
        TClusterSettings ssh = slurm;
        ssh.RunOn = TClusterSettings::Where::SlurmOverSsh;
        QTest::newRow("Slurm, then over SSH") << slurm << ssh << ssh;
    }
    void clusterPage()
    {
        QFETCH(TClusterSettings, stored);
        QFETCH(TClusterSettings, typed);
        QFETCH(TClusterSettings, storedByOK);
        settings = sampleSettings();
        for (const bool ok : {false, true}) {
            cluster = stored;
            showDialog();
            QVERIFY(shownCluster() == stored);
            typeIntoClusterPage(typed);
            if (ok) {
                clickOK();
                QVERIFY(closedWithOK());
                compareSettings(settings, sampleSettings());
                QVERIFY(cluster == storedByOK);
            } else {
                button("CancelBtn")->click();
                QVERIFY(cluster == stored);
            }
        }
    }

    // The cluster's checks come after the existing ones, keep the dialog
    // open on the Cluster page and store nothing.
    void clusterChecks_data()
    {
        QTest::addColumn<bool>("autoDir");
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("timeLimit");
        QTest::addColumn<int>("jobsAtOnce");
        QTest::addColumn<QString>("notice");
        const QString exe = "/opt/firefly/firefly";
        QTest::newRow("time limit") << false << exe << "4:00:00:00" << 10
                                    << "Slurm does not accept the time limit \"4:00:00:00\": enter minutes";
        QTest::newRow("no jobs at once") << false << exe << "" << 0 << "Jobs at once must be at least 1!";
        QTest::newRow("executable first") << false << "" << "x" << 0 << "Enter a valid executable filename!";
        QTest::newRow("folder first") << true << exe << "x" << 0
                                      << "Please enter a path where Firefly can auto create working directories!";
    }
    void clusterChecks()
    {
        QFETCH(bool, autoDir);
        QFETCH(QString, exe);
        QFETCH(QString, timeLimit);
        QFETCH(int, jobsAtOnce);
        QFETCH(QString, notice);
        settings = sampleSettings();
        settings.EXEFile = exe;
        settings.AutoDir = autoDir;
        settings.DirList = autoDir ? QString() : settings.DirList;
        const TJobSettings before = settings;
        showDialog();
        edit("TimeLimitEdit")->setText(timeLimit);
        control<QSpinBox>("JobsAtOnceSpin")->setValue(jobsAtOnce);
        clickOK();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().startsWith(notice), qPrintable(notices.first()));
        QVERIFY(dlg->isVisible());
        compareSettings(settings, before);
        QVERIFY(cluster == TClusterSettings());
        const bool clusterProblem = !exe.isEmpty() && !autoDir;
        QCOMPARE(control<QTabWidget>("PageControl1")->currentWidget()->objectName(),
                 clusterProblem ? "ClusterPage" : "FireflyPage");
    }

    // The cluster is asked (sinfo) when the page is first shown and by Test:
    // the answer or Slurm's own message; the partitions fill the list, and
    // the default one the empty field.
    void askingTheCluster_data()
    {
        QTest::addColumn<QString>("slurm");
        QTest::addColumn<QString>("partition");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("shown");
        const QString answers = "The cluster answers: 1 partition, 1 node idle";
        QTest::newRow("default partition") << "local" << "" << answers << "debug";
        QTest::newRow("typed partition kept") << "local" << "long" << answers << "long";
        QTest::newRow("controller down")
            << "closed port" << ""
            << "The cluster does not answer: slurm_load_partitions: Unable to contact slurm controller (connect failure)"
            << "";
        QTest::newRow("no Slurm installed") << "none" << "long" << TSettingsDlg::NoSinfoText << "long";
        // Over SSH, only when Test is pressed: sinfo there, or ssh's message.
        QTest::newRow("over SSH") << "ssh" << "" << answers << "debug";
        QTest::newRow("over SSH, a changed host key")
            << "ssh, wrong host key" << ""
            << "The cluster does not answer: WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!" << "";
        // Three errors joined: more than the label's lines hold.
        QTest::newRow("no configuration")
            << "unconfigured" << "" << "The cluster does not answer: sinfo: error: resolve_ctls_from_dns_srv" << "";
    }
    void askingTheCluster()
    {
        QFETCH(QString, slurm);
        QFETCH(QString, partition);
        QFETCH(QString, answer);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        if (slurm != "none") {
            NELO_REQUIRE_SLURM();
            qputenv("PATH", path);
        }
        if (slurm == "unconfigured") {
            if (QFile::exists("/etc/slurm/slurm.conf"))
                QSKIP("this machine has a Slurm configuration of its own");
            qunsetenv("SLURM_CONF");
        }
        if (slurm == "closed port") {
            const QString conf = unreachableSlurmConf(dir.path());
            QVERIFY(!conf.isEmpty());
            qputenv("SLURM_CONF", QFile::encodeName(conf));
        }
        const QByteArray sshConfig = qgetenv("NELO_SSH_CONFIG");
        const auto restore = qScopeGuard([&] { qputenv("NELO_SSH_CONFIG", sshConfig); });
        const bool overSsh = slurm.startsWith("ssh");
        if (overSsh) {
            NELO_REQUIRE_SSH();
            cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
            cluster.Destination = "nelo-cluster";
            if (slurm.contains("wrong"))
                qputenv("NELO_SSH_CONFIG", QFile::encodeName(sshConfigCopy(dir.path(), HostKeys::Wrong)));
        }
        cluster.Partition = partition;
        showDialog();
        QCOMPARE(clusterAnswer()->text(), QString());
        control<QTabWidget>("PageControl1")->setCurrentWidget(control<QWidget>("ClusterPage"));
        if (overSsh) {
            QTest::qWait(300);
            QCOMPARE(clusterAnswer()->text(), QString());
            button("TestBtn")->click();
        }
        // The label shows what fits of the answer, its tooltip all of it.
        const auto showsAnswer = [this, answer] {
            const QLabel *label = clusterAnswer();
            QString text = label->text();
            text.chop(text.endsWith(QChar(0x2026)) ? 1 : 0);
            return !text.isEmpty() && label->toolTip().startsWith(answer) && label->toolTip().startsWith(text)
                && label->heightForWidth(label->width()) <= label->height();
        };
        QTRY_VERIFY_WITH_TIMEOUT(showsAnswer(), 15000);
        QCOMPARE(partitions()->currentText(), shown);
        const QStringList listed = slurm == "local" || slurm == "ssh" ? QStringList{"debug"} : QStringList();
        QCOMPARE(partitions()->count(), listed.size());
        QCOMPARE(partitions()->itemText(0), listed.value(0));

        // Test asks again; the emptied field gets the default partition again.
        partitions()->setEditText(QString());
        clusterAnswer()->clear();
        button("TestBtn")->click();
        QVERIFY(showsAnswer());
        QCOMPARE(partitions()->currentText(), listed.value(0));
        QCOMPARE(partitions()->count(), listed.size());
    }
};

QTEST_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
