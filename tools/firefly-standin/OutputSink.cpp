#include "OutputSink.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

OutputSink::OutputSink(const Options &options) : m_options(options) {}

OutputSink::~OutputSink()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool OutputSink::open(const std::string &path)
{
    if (m_options.noOutput)
        return true;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

void OutputSink::line(std::string_view text)
{
    m_pending.append(text);
    m_pending.append("\r\n");
}

void OutputSink::pause(int nominalMs)
{
    write(m_pending);
    m_pending.clear();
    sleepMs(nominalMs * m_options.pace);
}

void OutputSink::raw(std::string_view bytes)
{
    write(m_pending);
    m_pending.clear();
    write(bytes);
}

void OutputSink::finish(bool lastLineWithoutBreak)
{
    if (lastLineWithoutBreak && m_pending.size() >= 2 && m_pending.compare(m_pending.size() - 2, 2, "\r\n") == 0)
        m_pending.resize(m_pending.size() - 2);
    write(m_pending);
    m_pending.clear();
}

void OutputSink::sleepMs(double ms) const
{
    if (!(ms > 0))
        return;
    timespec t;
    t.tv_sec = time_t(ms / 1000);
    t.tv_nsec = long((ms - double(t.tv_sec) * 1000) * 1e6);
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

void OutputSink::write(std::string_view bytes)
{
    // A crash comes right after the K-th complete line has reached the file.
    bool crash = false;
    if (m_options.crashAfter >= 0) {
        if (m_lines >= m_options.crashAfter) {
            bytes = {};
            crash = true;
        }
        for (size_t i = 0; i < bytes.size() && !crash; ++i)
            if (bytes[i] == '\n' && ++m_lines == m_options.crashAfter) {
                bytes = bytes.substr(0, i + 1);
                crash = true;
            }
    }
    while (!bytes.empty() && m_fd >= 0) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // a full disk: Firefly would go on and fail later; so do we
        m_written += n;
        bytes.remove_prefix(size_t(n));
    }
    if (crash) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);  // a crash test leaves no core file behind
        // The default action, whatever handler is installed: a sanitizer
        // build catches SIGSEGV and would otherwise exit normally.
        std::signal(m_options.crashSignal, SIG_DFL);
        ::kill(::getpid(), m_options.crashSignal);
        // A signal that does not end the process (caught or ignored elsewhere) still ends it here.
        _exit(128 + m_options.crashSignal);
    }
}
