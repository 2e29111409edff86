#include "Helpers.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void HelperMain(pid_t parent)
{
    prctl(PR_SET_NAME, "firefly-helper", 0, 0, 0);
    int orphanedFor = 0;  // tenths of a second
    for (;;) {
        timespec tenth{0, 100000000};
        nanosleep(&tenth, nullptr);
        if (getppid() != parent && ++orphanedFor >= Helpers::kOrphanLifetimeSeconds * 10)
            _exit(0);
    }
}

} // namespace

void Helpers::start(int count)
{
    const pid_t self = getpid();
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0)
            HelperMain(self);
        if (pid > 0)
            m_pids.push_back(pid);
    }
}

void Helpers::stop()
{
    for (pid_t pid : m_pids)
        kill(pid, SIGTERM);
    for (pid_t pid : m_pids)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    m_pids.clear();
}
