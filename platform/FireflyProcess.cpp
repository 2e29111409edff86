#include "platform/FireflyProcess.h"

#include <QProcess>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 30000;

// Runs in the child between fork and exec: only async-signal-safe calls.
void PrepareChild()
{
    // A process group of its own, so Abort can end Firefly and its helpers
    // together without touching us.
    ::setpgid(0, 0);

    // Idle scheduling: Firefly only gets the CPU time nobody else wants.
    sched_param param{};
    param.sched_priority = 0;
    if (::sched_setscheduler(0, SCHED_IDLE, &param) != 0)
        ::setpriority(PRIO_PROCESS, 0, 19);

    // Nothing of ours may leak into Firefly: every descriptor above stderr
    // closes on exec. QProcess's own start-report pipe already closes on exec
    // and is still written on an exec failure, so start errors keep arriving.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        rlimit limit{};
        const rlim_t top = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                               ? limit.rlim_cur
                               : 65536;
        for (rlim_t fd = 3; fd < top; ++fd)
            ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    }
}

// QProcess tells a failed start as "<call>: <system message>" ("execvp: No
// such file or directory", "chdir: ..."); the user is told the path instead.
QString StartFailureText(const QString &errorString, const QString &program, const QString &workingDirectory)
{
    const qsizetype colon = errorString.indexOf(QLatin1String(": "));
    const QString call = errorString.left(colon);
    const bool callNamed = colon > 0 && !call.contains(QLatin1Char(' '));
    const QString path = call == QLatin1String("chdir") ? workingDirectory : program;
    const QString message = callNamed ? errorString.mid(colon + 2) : errorString;
    return path.isEmpty() ? message : path + QStringLiteral(": ") + message;
}

} // namespace

FireflyProcess::FireflyProcess() = default;

FireflyProcess::~FireflyProcess()
{
    if (!m_process)
        return;
    // Whatever the job left running (helpers of a leader that ended or was
    // killed) ends with it.
    KillGroup();
    if (m_process->state() != QProcess::NotRunning)
        m_process->waitForFinished(5000);
}

bool FireflyProcess::Start(const QString &program, const QStringList &arguments,
                           const QString &workingDirectory)
{
    if (m_process)
        return false;
    m_process = std::make_unique<QProcess>();
    QProcess &process = *m_process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier(PrepareChild);
    process.start();
    // Returns once the program runs (exec succeeded) or the start failed.
    if (!process.waitForStarted(StartTimeoutMs)) {
        m_startFailure = StartFailureText(process.errorString(), program, workingDirectory);
        if (process.state() != QProcess::NotRunning) { // exec hangs (a dead network mount)
            process.kill();
            process.waitForFinished(StartTimeoutMs);
        }
        return false;
    }
    // The child set up its group before exec, so the group id is its pid.
    m_pgid = process.processId();
    return true;
}

bool FireflyProcess::IsRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool FireflyProcess::EndedBySignal() const
{
    return m_process && m_process->exitStatus() == QProcess::CrashExit;
}

// QProcess reports the signal that ended a program as its exit code.
int FireflyProcess::ExitStatus() const
{
    return m_process && !EndedBySignal() ? m_process->exitCode() : 0;
}

int FireflyProcess::EndSignal() const
{
    return EndedBySignal() ? m_process->exitCode() : 0;
}

void FireflyProcess::KillGroup()
{
    if (m_pgid > 0)
        ::kill(-static_cast<pid_t>(m_pgid), SIGKILL);
}
