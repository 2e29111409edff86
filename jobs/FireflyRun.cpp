#include "jobs/FireflyRun.h"

#include "platform/FireflyProcess.h"

namespace {

// Firefly as a child process of Nelo (see FireflyProcess).
class LocalRun : public IFireflyRun
{
public:
    bool Start(const FireflyInvocation &invocation, QString *why) override
    {
        if (!m_process.Start(invocation.program, invocation.arguments, invocation.workingDirectory)) {
            if (why)
                *why = m_process.StartFailure();
            return false;
        }
        m_since = QDateTime::currentDateTimeUtc();
        return true;
    }

    bool IsRunning() override
    {
        const bool running = m_process.IsRunning();
        if (!running && m_phase != Phase::Ended) {
            m_phase = Phase::Ended;
            m_since = QDateTime::currentDateTimeUtc();
        }
        return running;
    }

    void Kill() override { m_process.KillGroup(); }

    ProcessEnd End() const override
    {
        return m_process.EndedBySignal() ? ProcessEnd::Signalled(m_process.EndSignal())
                                         : ProcessEnd::Exited(m_process.ExitStatus());
    }

    Status CurrentStatus() const override
    {
        return {m_phase, QString::number(m_process.ProcessId()), {}, m_since};
    }

private:
    FireflyProcess m_process;
    Phase m_phase = Phase::Running;
    QDateTime m_since;
};

} // namespace

std::unique_ptr<IFireflyRun> LocalBackend::NewRun(const QString &, const QString &)
{
    return std::make_unique<LocalRun>();
}
