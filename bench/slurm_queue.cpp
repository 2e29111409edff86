// Measures a cluster day on a real Slurm: N stand-in jobs through the main
// window (offscreen unless a display is set) with "jobs at once" J, as the
// user runs them. Reports
//
//  1. the Slurm commands Nelo started, per program and per minute of the
//     run: squeue (the state of all jobs) must stay at one call per poll
//     period however many jobs there are, sacct/scontrol at most one more
//     per period, sbatch one per job;
//  2. the interface's event latency while the jobs' outputs are followed: a
//     1 ms timer runs during the run and each tick's lateness (the gap to the
//     previous tick minus 1 ms) is recorded.
//
// With --ssh DESTINATION the same day runs on the cluster reached over SSH
// (the ssh configuration NELO_SSH_CONFIG names, such as the one of
// scripts/ssh-local.sh, whose server sees the local Slurm): it also reports
//
//  3. the ssh commands per minute (they must not grow with the jobs), and
//  4. the followed job's delay: how long after its output grew on the
//     cluster the local copy held those bytes (sampled every 50 ms).
//
// Needs a Slurm that SLURM_CONF names, with at least J CPUs free (the
// project's local one: NELO_SLURM_CPUS=64 bash scripts/slurm-local.sh start).
//
//   slurm-queue [--jobs N[,N...]] [--at-once J] [--pace F] [--poll S] [--ssh DESTINATION]

#include "EventLateness.h"

#include "jobs/RunJobsModel.h"
#include "jobs/JobRunner.h"
#include "cluster/ClusterBackends.h"
#include "cluster/SlurmCluster.h"
#include "cluster/SshCluster.h"
#include "platform/Notices.h"
#include "platform/PowerOff.h"
#include "ui/NeloForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct NoPowerOff : IPowerOff
{
    QString PowerOff() override { return {}; }
};

struct NoClipboard : IClipboard
{
    void SetText(const QString &) override {}
};

// How long the followed job's local copy lags behind its output on the
// cluster: each growth seen there waits until the copy holds it.
class FollowDelay
{
public:
    FollowDelay(TForm1 &form, QString clusterFolder) : m_form(form), m_clusterFolder(std::move(clusterFolder)) {}

    void Sample(qint64 now)
    {
        QString output;
        for (const RunJobsModel::Row &row : m_form.Runner().JobsModel().Rows()) {
            if (row.followed && row.status.phase == IFireflyRun::Phase::Running)
                output = row.output;
        }
        if (output != m_output) {
            m_output = output;
            m_pending.clear();
            m_seen = 0;
            m_cluster.clear();
        }
        if (m_output.isEmpty())
            return;
        if (m_cluster.isEmpty()) {
            const QString name = QFileInfo(m_output).fileName();
            for (const QFileInfo &folder : QDir(m_clusterFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                if (folder.fileName().startsWith(QFileInfo(m_output).completeBaseName() + QLatin1Char('-')))
                    m_cluster = folder.filePath() + QLatin1Char('/') + name;
            }
        }
        const qint64 there = QFileInfo(m_cluster).size();
        if (there > m_seen) {
            m_pending.push_back({there, now});
            m_seen = there;
        }
        const qint64 here = QFileInfo(m_output).size();
        while (!m_pending.empty() && here >= m_pending.front().first) {
            m_delays.push_back(double(now - m_pending.front().second));
            m_pending.erase(m_pending.begin());
        }
    }
    std::pair<double, double> P50AndMax()
    {
        std::sort(m_delays.begin(), m_delays.end());
        if (m_delays.empty())
            return {0, 0};
        return {m_delays[m_delays.size() / 2], m_delays.back()};
    }
    size_t Count() const { return m_delays.size(); }

private:
    TForm1 &m_form;
    QString m_clusterFolder;
    QString m_output;
    QString m_cluster;
    qint64 m_seen = 0;
    std::vector<std::pair<qint64, qint64>> m_pending; // cluster size, when seen
    std::vector<double> m_delays;
};

void RunDay(int jobs, int atOnce, double pace, int pollSeconds, const QString &ssh)
{
    QTemporaryDir dir;
    NoPowerOff powerOff;
    NoClipboard clipboard;
    TForm1::Environment environment;
    environment.arguments = {QStringLiteral("nelo")};
    environment.settingsFile = dir.filePath(QStringLiteral("nelo.INI"));
    environment.clipboard = &clipboard;
    environment.powerOff = &powerOff;
    environment.trayAvailable = [] { return false; };
    environment.quit = [] {};
    TForm1 form(environment);
    form.resize(755, 1000);
    form.show();

    TJobSettings &settings = form.JobSettings();
    settings.EXEFile = QStringLiteral(NELO_FIREFLY_STANDIN);
    settings.AutoDir = true;
    settings.DirList = dir.filePath(QStringLiteral("scratch"));
    settings.AddCmdLine = QStringLiteral("--standin-pace=%1").arg(pace);
    TClusterSettings &cluster = form.ClusterSettings();
    cluster.RunOn = TClusterSettings::Where::Slurm;
    cluster.JobsAtOnce = atOnce;
    cluster.PollSeconds = pollSeconds;
    const QString clusterFolder = dir.filePath(QStringLiteral("cluster"));
    if (!ssh.isEmpty()) {
        cluster.RunOn = TClusterSettings::Where::SlurmOverSsh;
        cluster.Destination = ssh;
        cluster.ClusterFirefly = settings.EXEFile;
        cluster.ClusterWorkFolder = clusterFolder;
        settings.EXEFile = QStringLiteral("/nowhere/firefly"); // only the cluster's paths count
    }
    FollowDelay followDelay(form, clusterFolder);
    QElapsedTimer sampleClock;
    sampleClock.start();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { followDelay.Sample(sampleClock.elapsed()); });
    if (!ssh.isEmpty())
        sampler.start(50);

    QFile example(QStringLiteral(NELO_EXAMPLES_DIR "/water-optimise.inp"));
    example.open(QIODevice::ReadOnly);
    const QByteArray input = example.readAll();
    for (int i = 0; i < jobs; ++i) {
        const QString path = dir.filePath(QStringLiteral("water-%1.inp").arg(i, 3, 10, QLatin1Char('0')));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(input);
        form.AddJob(path);
    }

    QStringList notices;
    Notices::SetNoticePresenter([&](const QString &text) { notices << text; });
    int mostRunning = 0;
    QTimer count;
    QObject::connect(&count, &QTimer::timeout, [&] {
        int running = 0;
        for (const RunJobsModel::Row &row : form.Runner().JobsModel().Rows())
            running += row.status.phase == IFireflyRun::Phase::Running;
        mostRunning = std::max(mostRunning, running);
    });
    QElapsedTimer clock;
    clock.start();
    count.start(1000);
    const Lateness late = TimerLateness([&] { form.Runner().RunBtnClick(); });
    count.stop();
    const double minutes = double(clock.elapsed()) / 60000.0;

    sampler.stop();
    const auto &calls = ssh.isEmpty() ? form.Backends().Slurm().CommandCounts() : form.Backends().Ssh().CommandCounts();
    std::printf("%4d jobs, %2d at once (most running %2d), %5.2f min:", jobs, atOnce, mostRunning, minutes);
    for (const char *program : {"squeue", "sacct", "scontrol", "sbatch", "scancel", "ssh"})
        std::printf("  %s %4d (%5.1f/min)", program, calls.value(QLatin1String(program)),
                    calls.value(QLatin1String(program)) / minutes);
    std::printf("\n     event lateness: ticks %zu  p50 %.2f ms  p99 %.2f ms  max %.2f ms; listed %lld; notices %lld\n",
                late.ticks, late.p50, late.p99, late.max, static_cast<long long>(form.Runner().JobsModel().Rows().size()),
                static_cast<long long>(notices.size()));
    if (!ssh.isEmpty()) {
        const auto [p50, max] = followDelay.P50AndMax();
        std::printf("     followed job's delay: %zu growths, p50 %.0f ms, max %.0f ms\n", followDelay.Count(), p50, max);
    }
    for (const QString &notice : notices)
        std::printf("     notice: %s\n", qPrintable(notice));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> jobCounts{50, 100, 200};
    int atOnce = 50, pollSeconds = 5;
    double pace = 3;
    QString ssh;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--jobs")) {
            jobCounts.clear();
            for (const QString &n : args[i + 1].split(QLatin1Char(',')))
                jobCounts << n.toInt();
        } else if (args[i] == QLatin1String("--at-once")) {
            atOnce = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--pace")) {
            pace = args[i + 1].toDouble();
        } else if (args[i] == QLatin1String("--poll")) {
            pollSeconds = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--ssh")) {
            ssh = args[i + 1];
        }
    }
    if (qEnvironmentVariableIsEmpty("SLURM_CONF")) {
        std::fprintf(stderr, "slurm-queue: SLURM_CONF must name a running Slurm (bash scripts/slurm-local.sh start)\n");
        return 2;
    }
    for (const int jobs : jobCounts)
        RunDay(jobs, atOnce, pace, pollSeconds, ssh);
    return 0;
}
