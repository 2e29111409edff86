#pragma once

// Suites that run jobs on a real single-node Slurm (nelo_add_test(... SLURM)).
// CTest starts the cluster before them with scripts/slurm-local.sh and hands
// them SLURM_CONF, through which every Slurm command finds it; such a suite
// also gets NELO_SLURM_EXEC_SCRIPT, the batch script Nelo submits.
//
// Begin each test with NELO_REQUIRE_SLURM(): where no local Slurm can run
// (not root, packages missing) it skips with the reason, except under CI
// (CI=true), where it fails.

#include "tests/helpers/Files.h"
#include "tests/helpers/RunnerRig.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Why the local Slurm cannot be used; empty when it can.
inline QString slurmUnavailableReason()
{
    const QString conf = qEnvironmentVariable("SLURM_CONF");
    if (conf.isEmpty())
        return QStringLiteral("SLURM_CONF is not set: run the suite through ctest, which starts a local Slurm");
    // The start script leaves the reason beside slurm.conf.
    const QByteArray why = readFile(QFileInfo(conf).absolutePath() + QStringLiteral("/unavailable")).trimmed();
    if (!why.isEmpty())
        return QStringLiteral("no local Slurm: ") + QString::fromLocal8Bit(why);
    // Never a real cluster that SLURM_CONF may name outside CTest.
    if (!readFile(conf).contains("\nClusterName=nelo-local\n"))
        return conf + QStringLiteral(" is not a local Slurm started by scripts/slurm-local.sh");
    return {};
}

// Skips the test with the reason when `reason` is not empty, or fails it
// under CI (CI=true), where the suites of the local services must run.
#define NELO_REQUIRE_LOCAL(reason, what)                                                                              \
    do {                                                                                                               \
        const QString whyNot = (reason);                                                                               \
        if (!whyNot.isEmpty()) {                                                                                       \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL(qPrintable(whyNot + QStringLiteral(" (CI=true: " what " suites must run)")));                   \
            QSKIP(qPrintable(whyNot));                                                                                 \
        }                                                                                                              \
    } while (false)
#define NELO_REQUIRE_SLURM() NELO_REQUIRE_LOCAL(slurmUnavailableReason(), "Slurm")

// A TCP port on 127.0.0.1 that nothing listens on.
inline quint16 closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0
                       && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 1;
}

// A copy of the local Slurm's slurm.conf in `folder`, with a controller port
// that nothing listens on and a 2-second message timeout: every command
// then fails at once with Slurm's own "Unable to contact slurm controller
// (connect failure)". Its path; empty when it could not be written.
inline QString unreachableSlurmConf(const QString &folder)
{
    QString conf = QString::fromLatin1(readFile(qEnvironmentVariable("SLURM_CONF")));
    conf.replace(QRegularExpression(QStringLiteral("\nSlurmctldPort=\\d+\n")),
                 QStringLiteral("\nSlurmctldPort=%1\n").arg(closedPort()));
    const QString path = folder + QStringLiteral("/slurm.conf");
    return writeFile(path, conf.toLatin1() + "MessageTimeout=2\n") ? path : QString();
}

// What a Slurm command did.
struct SlurmCommand
{
    bool finished = false; // ended by itself in the time allowed, not by a signal
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a Slurm command (sbatch, squeue, scontrol, scancel, ...) with an
// argument list; ends it after `timeoutMs`. A command that cannot reach the
// controller gives up after about 10 seconds by itself.
inline SlurmCommand runSlurm(const QString &program, const QStringList &arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.start(program, arguments);
    SlurmCommand result;
    if (process.waitForFinished(timeoutMs)) {
        result.finished = process.exitStatus() == QProcess::NormalExit;
        result.exitCode = process.exitCode();
    } else {
        process.kill();
        process.waitForFinished();
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError() + process.errorString().toLocal8Bit();
    return result;
}

// Submits `command` (program, then its arguments) through Nelo's batch
// script with `sbatch --parsable OPTIONS SCRIPT COMMAND...`. The job id;
// empty when sbatch refused, with its message in `error`.
inline QString submitJob(const QStringList &options, const QStringList &command, QByteArray *error = nullptr)
{
    const QStringList arguments = QStringList{QStringLiteral("--parsable")} << options
                                  << QStringLiteral(NELO_SLURM_EXEC_SCRIPT) << command;
    const SlurmCommand sbatch = runSlurm(QStringLiteral("sbatch"), arguments);
    if (error)
        *error = sbatch.err;
    // "ID", or "ID;CLUSTER" on a federation.
    const QByteArray id = sbatch.out.split(';').first().trimmed();
    return sbatch.finished && sbatch.exitCode == 0 ? QString::fromLatin1(id) : QString();
}

// One field (JobState, Reason, ExitCode, ...) of `scontrol show job -o ID`;
// empty when the job is not known. Values that hold blanks (WorkDir,
// Command) come out cut at the first blank.
inline QByteArray jobField(const QString &id, const QByteArray &name)
{
    const QByteArray line = ' ' + runSlurm(QStringLiteral("scontrol"), {"show", "job", "-o", id}).out;
    const qsizetype at = line.indexOf(' ' + name + '=');
    if (at < 0)
        return {};
    const qsizetype from = at + name.size() + 2;
    qsizetype to = from;
    while (to < line.size() && line.at(to) != ' ' && line.at(to) != '\n')
        ++to;
    return line.mid(from, to - from);
}

// Which of `ids` squeue lists (pending, running or completing). When squeue
// fails, all of them.
inline QStringList jobsListed(const QStringList &ids)
{
    // All jobs, not `-j IDS`: with a single id that Slurm no longer knows,
    // squeue fails ("Invalid job id specified").
    const SlurmCommand squeue = runSlurm(QStringLiteral("squeue"), {"-h", "-o", "%i"});
    if (!squeue.finished || squeue.exitCode != 0)
        return ids;
    const QList<QByteArray> listed = squeue.out.split('\n');
    QStringList result;
    for (const QString &id : ids)
        if (listed.contains(id.toLatin1()))
            result << id;
    return result;
}

// Waits (handling events) until squeue lists none of `ids`; false if some
// are still listed after `ms`.
inline bool jobsEndWithin(const QStringList &ids, int ms = 30000)
{
    // squeue asks the controller: every 200 ms, not in a tight loop.
    const QDeadlineTimer deadline(ms);
    while (!jobsListed(ids).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(200);
    }
    return true;
}

// Between the runner's polls, the most of the run's jobs that squeue lists
// at once goes to `most`.
inline void countMostListed(RunnerRig &rig, int &most)
{
    rig.during([&rig, &most] {
        most = std::max(most, int(jobsListed(rig.ids()).size()));
        return false;
    });
}
