// Shows one of the dialogs with sample contents, for looking at it (for
// example under xvfb-run with a screenshot). Not a test and not installed.
//
//   nelo_show_dialogs settings|settings-other|settings-cluster|settings-ssh|settings-hint|report|about
//   nelo_show_dialogs convergence OUTPUT
//   nelo_show_dialogs main-run FOLDER
//   nelo_show_dialogs main-ssh FOLDER
//   nelo_show_dialogs cluster-run FOLDER
//
// The Cluster page asks the cluster (sinfo) as it is shown: start the local
// Slurm (scripts/slurm-local.sh) and export its SLURM_CONF to see an answer.
// main-run runs the example inputs with the Firefly stand-in in the main
// window and saves screenshots of the whole screen in FOLDER: live.png
// during the optimisation, done.png with the processed list afterwards (and
// the real outputs of NELO_SAMPLES_DIR added), convergence.png with the
// Convergence window of the optimisation.

#include "cluster/ClusterSettings.h"
#include "jobs/DirList.h"
#include "jobs/JobRunner.h"
#include "jobs/RunJobsModel.h"
#include "jobs/JobSettings.h"
#include "tests/helpers/Standin.h"
#include "ui/AboutForm.h"
#include "ui/ConvergenceChart.h"
#include "ui/ConvergenceForm.h"
#include "ui/NeloForm.h"
#include "ui/ReportForm.h"
#include "ui/SettingsForm.h"

#include <QApplication>
#include <QPushButton>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QListWidget>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void shoot(const QString &path)
{
    QTest::qWait(700);
    QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s\n", qPrintable(path));
}

// The main window with the stand-in as Firefly and these inputs queued, in
// `dir` (the examples are copied there; other inputs must be written there).
std::unique_ptr<TForm1> demoForm(const QTemporaryDir &dir, const QStringList &inputs,
                                 const QStringList &arguments = {QStringLiteral("nelo")})
{
    for (const QString &input : inputs)
        QFile::copy(QStringLiteral(NELO_EXAMPLES_DIR "/") + input, dir.filePath(input));
    writeFile(dir.filePath("nelo.INI"), "[Settings]\nEXEFile=/x\nDirList=/tmp\n");
    TForm1::Environment environment;
    environment.arguments = arguments;
    environment.settingsFile = dir.filePath("nelo.INI");
    environment.trayAvailable = [] { return false; };
    auto form = std::make_unique<TForm1>(environment);
    form->FormCreate();
    QDir().mkpath(dir.filePath("work"));
    setStandinAsFirefly(form->JobSettings(), dir.filePath("work"));
    for (const QString &input : inputs)
        form->AddJob(dir.filePath(input));
    return form;
}

// Shows the window at its designed size (it grows when the chart comes),
// runs the queue and shoots `path` once the chart has `points` steps
// (`beforeShot` first); whether it did.
bool runAndShoot(TForm1 &form, std::size_t points, const QString &path, const std::function<void()> &beforeShot = {})
{
    form.show();
    QTest::qWait(500);
    auto *chart = form.findChild<ConvergenceChart *>(QStringLiteral("ChartPanel"));
    bool shot = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!shot && chart->isVisible() && chart->Points().size() >= points) {
            shot = true;
            if (beforeShot)
                beforeShot();
            shoot(path);
        }
    });
    probe.start(100);
    form.RunBtnClick();
    return shot;
}

// A cluster run (the Slurm of SLURM_CONF, scripts/slurm-local.sh) of the
// examples, several jobs at once: cluster.png while they run, with the jobs
// table and the chart below the pane, at the window's designed size.
int clusterRun(const QString &folder)
{
    QTemporaryDir dir; // the local Slurm sees the same files
    const auto form = demoForm(dir, {"water-optimise.inp", "methane-energy.inp", "ammonium-fails.inp"});
    form->JobSettings().AddCmdLine = QStringLiteral("--standin-pace=3");
    form->ClusterSettings().RunOn = TClusterSettings::Where::Slurm;
    form->ClusterSettings().PollSeconds = 1;
    return runAndShoot(*form, 3, folder + QStringLiteral("/cluster.png")) ? 0 : 1;
}

int mainRun(const QString &folder)
{
    QTemporaryDir dir;
    const auto owned = demoForm(dir, {"water-optimise.inp", "water-two-steps.inp", "methane-energy.inp", "ammonium-fails.inp"},
                                {QStringLiteral("nelo"), QStringLiteral("X")});
    TForm1 &form = *owned;
    // The optimisation again, allowed too few steps.
    writeFile(dir.filePath("water-two-steps.inp"),
              readFile(dir.filePath("water-optimise.inp")).replace("NSTEP=30", "NSTEP=2"));

    // A slow optimisation, shot once its chart has a few steps.
    qputenv("FIREFLY_STANDIN_PACE", "4");
    runAndShoot(form, 4, folder + QStringLiteral("/live.png"), [] { qputenv("FIREFLY_STANDIN_PACE", "0.3"); });

    // Older outputs added by hand: the real ones and one that is gone.
    auto *done = form.findChild<QListWidget *>(QStringLiteral("DoneListBox"));
    for (const char *name : {"dvb_gopt_a.out", "water_mp2.out", "gone.out"})
        form.AppendDone(QStringLiteral(NELO_SAMPLES_DIR "/") + QLatin1String(name));
    done->setCurrentRow(4);
    QTest::qWait(300);
    QToolTip::showText(done->viewport()->mapToGlobal(QPoint(40, done->visualItemRect(done->item(6)).bottom() + 4)),
                       done->item(1)->toolTip(), done);
    shoot(folder + QStringLiteral("/done.png"));

    TConvergenceForm *window = ShowConvergenceWindow(&form, done->item(4)->text());
    window->move(200, 150);
    shoot(folder + QStringLiteral("/convergence.png"));
    return 0;
}

// Three optimisations on the cluster over SSH (NELO_SSH_CONFIG's
// "nelo-cluster", such as scripts/ssh-local.sh's, which sees a Slurm), two at
// once: shot while both run and the followed one's chart has a few steps.
int mainSsh(const QString &folder)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("nelo.INI"), "[Settings]\nEXEFile=/x\nDirList=/tmp\n");
    TForm1::Environment environment;
    environment.arguments = QStringList{QStringLiteral("nelo")};
    environment.settingsFile = dir.filePath("nelo.INI");
    environment.trayAvailable = [] { return false; };
    TForm1 form(environment);
    form.FormCreate();
    form.JobSettings().AddCmdLine = QStringLiteral("--standin-pace=3");
    TClusterSettings &cluster = form.ClusterSettings();
    cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
    cluster.Destination = QStringLiteral("nelo-cluster");
    cluster.ClusterFirefly = QStringLiteral(NELO_FIREFLY_STANDIN);
    cluster.ClusterWorkFolder = dir.filePath("cluster");
    cluster.JobsAtOnce = 2;
    cluster.PollSeconds = 2;
    for (const char *name : {"water-a.inp", "water-b.inp", "water-c.inp"}) {
        QFile::copy(QStringLiteral(NELO_EXAMPLES_DIR "/water-optimise.inp"), dir.filePath(name));
        form.AddJob(dir.filePath(name));
    }
    form.show();
    QTest::qWait(500);
    auto *chart = form.findChild<ConvergenceChart *>(QStringLiteral("ChartPanel"));
    bool shot = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        int running = 0;
        for (const RunJobsModel::Row &row : form.Runner().JobsModel().Rows())
            running += row.status.phase == IFireflyRun::Phase::Running;
        if (!shot && running == 2 && chart->isVisible() && chart->Points().size() >= 3) {
            shot = true;
            shoot(folder + QStringLiteral("/ssh-run.png"));
        }
    });
    probe.start(100);
    form.RunBtnClick();
    probe.stop();
    shoot(folder + QStringLiteral("/ssh-done.png"));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/nelo.png")));
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    TJobSettings settings;
    settings.EXEFile = QStringLiteral("/opt/firefly/firefly");
    settings.LibFile = QStringLiteral("/opt/firefly/basis/extra.lib");
    settings.DirList = JoinDirList({QStringLiteral("/scratch/ann/w1"), QStringLiteral("/scratch/ann/w2"),
                                    QStringLiteral("/scratch/ann/with blank")});
    settings.CPUcores = QStringLiteral("2");
    settings.AddCmdLine = QStringLiteral("-ex /opt/firefly/ext");
    settings.TxtFile = QStringLiteral("/usr/bin/gedit");
    settings.MolFile = QStringLiteral("/usr/bin/avogadro");
    TClusterSettings cluster;
    cluster.RunOn = TClusterSettings::Where::Slurm;
    cluster.Account = QStringLiteral("chem");
    cluster.TimeLimit = QStringLiteral("4:00:00");
    cluster.Memory = QStringLiteral("16G");
    cluster.SbatchOptions = QStringLiteral("--qos=low \"--comment=Nelo run\"");
    cluster.Destination = QStringLiteral("ann@login.hpc.example");
    cluster.ClusterFirefly = QStringLiteral("/opt/firefly/firefly");
    cluster.ClusterWorkFolder = QStringLiteral("/scratch/ann/nelo");
    // Over SSH Test is pressed: with NELO_SSH_CONFIG of scripts/ssh-local.sh,
    // the local sshd answers.
    if (which == QLatin1String("settings-ssh")) {
        cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
        if (!qEnvironmentVariableIsEmpty("NELO_SSH_CONFIG"))
            cluster.Destination = QStringLiteral("nelo-cluster");
    }

    std::unique_ptr<QDialog> dialog;
    if (which.startsWith(QLatin1String("settings"))) {
        auto settingsDialog = std::make_unique<TSettingsDlg>(settings, cluster);
        if (which == QLatin1String("settings-other"))
            settingsDialog->findChild<QTabWidget *>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
        if (which == QLatin1String("settings-cluster") || which == QLatin1String("settings-ssh"))
            settingsDialog->findChild<QTabWidget *>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
        if (which == QLatin1String("settings-ssh")) {
            QDialog *shown = settingsDialog.get();
            QTimer::singleShot(500, shown, [shown] { shown->findChild<QPushButton *>(QStringLiteral("TestBtn"))->click(); });
        }
        if (which == QLatin1String("settings-hint")) {
            QDialog *shown = settingsDialog.get();
            QTimer::singleShot(1000, shown, [shown] {
                auto *group = shown->findChild<QGroupBox *>(QStringLiteral("OFRadioGroup"));
                QToolTip::showText(group->mapToGlobal(QPoint(10, 40)), group->toolTip(), group);
            });
        }
        dialog = std::move(settingsDialog);
    } else if (which == QLatin1String("report")) {
        auto report = std::make_unique<THLDlg>();
        report->AppendLine(QStringLiteral("dvb_gopt_a     \t-6.35\t+5.63\t+11.98\t-238314.27"));
        report->AppendLine(QStringLiteral("water_mp2      \t-10.56\t+15.53\t+26.09\t-47040.83"));
        report->AppendLine(QStringLiteral("dvb_un_sp      \t-11.92\t-0.19\t+11.73\t-237808.87"));
        report->AppendLine(QStringLiteral("a_rather_long_name_here\t-1.00\t+2.00\t+3.00\t-4.00"));
        dialog = std::move(report);
    } else if (which == QLatin1String("about")) {
        dialog = std::make_unique<TAboutBox>();
    } else if (which == QLatin1String("convergence") && argc > 2) {
        TConvergenceForm form;
        form.Load(QString::fromLocal8Bit(argv[2]));
        form.show();
        return app.exec();
    } else if (which == QLatin1String("main-run") && argc > 2) {
        return mainRun(QString::fromLocal8Bit(argv[2]));
    } else if (which == QLatin1String("main-ssh") && argc > 2) {
        return mainSsh(QString::fromLocal8Bit(argv[2]));
    } else if (which == QLatin1String("cluster-run") && argc > 2) {
        return clusterRun(QString::fromLocal8Bit(argv[2]));
    } else {
        std::fprintf(stderr, "usage: nelo_show_dialogs settings|settings-other|settings-cluster|settings-hint|report|about\n"
                             "       nelo_show_dialogs convergence OUTPUT | main-run FOLDER | main-ssh FOLDER | cluster-run FOLDER\n");
        return 2;
    }
    return dialog->exec();
}
