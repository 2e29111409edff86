// Shows one of the dialogs with sample contents, for looking at it (for
// example under xvfb-run with a screenshot). Not a test and not installed.
//
//   nelo_show_dialogs settings|settings-other|settings-cluster|settings-hint|report|about
//
// The Cluster page asks the cluster (sinfo) as it is shown: start the local
// Slurm (scripts/slurm-local.sh) and export its SLURM_CONF to see an answer.

#include "jobs/ClusterSettings.h"
#include "jobs/DirList.h"
#include "jobs/JobSettings.h"
#include "ui/AboutForm.h"
#include "ui/ReportForm.h"
#include "ui/SettingsForm.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>

#include <cstdio>
#include <memory>

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

    std::unique_ptr<QDialog> dialog;
    if (which.startsWith(QLatin1String("settings"))) {
        auto settingsDialog = std::make_unique<TSettingsDlg>(settings, cluster);
        if (which == QLatin1String("settings-other"))
            settingsDialog->findChild<QTabWidget *>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
        if (which == QLatin1String("settings-cluster"))
            settingsDialog->findChild<QTabWidget *>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
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
    } else {
        std::fprintf(stderr, "usage: nelo_show_dialogs settings|settings-other|settings-cluster|settings-hint|report|about\n");
        return 2;
    }
    return dialog->exec();
}
