#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

// One run of Firefly as a child process.
//
// The program is started directly with an argument list, never through a
// shell, in the given working directory. In the child, before the program
// runs: idle scheduling (SCHED_IDLE, else nice 19) so the desktop stays
// responsive on a fully loaded machine; a process group of its own, so that
// everything Firefly starts (it starts helper processes for several cores)
// can be ended at once; no descriptor of ours inherited; stdin from the null
// device, stdout and stderr discarded (Firefly writes its transcript to the
// -o file).
//
// The object ends whatever is left of the group when it is destroyed, so a
// job never leaves processes behind.
class FireflyProcess
{
public:
    FireflyProcess();
    ~FireflyProcess();
    FireflyProcess(const FireflyProcess &) = delete;
    FireflyProcess &operator=(const FireflyProcess &) = delete;

    // Starts the program and waits until it runs. False when it cannot be
    // started: a missing file, a folder, a file without execute permission,
    // a missing working directory, or a start already made by this object.
    bool Start(const QString &program, const QStringList &arguments, const QString &workingDirectory);
    // Why Start failed: the path at fault (the program, or the working
    // directory when it could not be entered) and the system's message,
    // "/opt/ff/firefly: No such file or directory".
    QString StartFailure() const { return m_startFailure; }

    // Whether the started program (the group's leader) has not yet ended.
    bool IsRunning() const;

    // How the leader ended, once IsRunning() is false after a start: by a
    // signal (EndSignal() says which) or with an exit status.
    bool EndedBySignal() const;
    int ExitStatus() const;
    int EndSignal() const;

    // SIGKILL to the whole process group at once: the leader and every
    // helper it started, also when the leader itself has already ended.
    // Does nothing before a successful start.
    void KillGroup();

    // The leader's process id (= the group id), 0 before a successful start.
    qint64 ProcessId() const { return m_pgid; }

private:
    std::unique_ptr<QProcess> m_process;
    qint64 m_pgid = 0;
    QString m_startFailure;
};
