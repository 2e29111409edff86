#pragma once

// Suites that reach the local Slurm through a real OpenSSH server on
// 127.0.0.1 (nelo_add_test(... SLURM SSH)). CTest starts the server before
// them with scripts/ssh-local.sh and hands them NELO_SSH_CONFIG, its
// ssh_config with the Host aliases "nelo-cluster" and "nelo-chatty" (a login
// that prints a line before every command), and NELO_SSH_DIR, its folder
// (keys, known_hosts, the passphrase of passphrase_key).
//
// Begin each test with NELO_REQUIRE_SSH(): where the server cannot run it
// skips with the reason, except under CI (CI=true), where it fails.

#include "tests/helpers/SlurmLocal.h"

#include <QProcess>
#include <QProcessEnvironment>

inline QString sshDir()
{
    return qEnvironmentVariable("NELO_SSH_DIR");
}

inline QString sshUnavailableReason()
{
    const QString slurm = slurmUnavailableReason();
    if (!slurm.isEmpty())
        return slurm;
    const QString config = qEnvironmentVariable("NELO_SSH_CONFIG");
    if (config.isEmpty() || sshDir().isEmpty())
        return QStringLiteral("NELO_SSH_CONFIG is not set: run the suite through ctest, which starts a local sshd");
    const QByteArray why = readFile(sshDir() + QStringLiteral("/unavailable")).trimmed();
    if (!why.isEmpty())
        return QStringLiteral("no local sshd: ") + QString::fromLocal8Bit(why);
    if (!readFile(config).contains("Host nelo-cluster nelo-chatty\n"))
        return config + QStringLiteral(" is not the ssh_config of scripts/ssh-local.sh");
    return {};
}

#define NELO_REQUIRE_SSH() NELO_REQUIRE_LOCAL(sshUnavailableReason(), "SSH")

// Runs scripts/ssh-local.sh start or stop for the suite's server.
inline bool sshLocal(const QString &action)
{
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NELO_SSH_DIR"), sshDir());
    script.setProcessEnvironment(environment);
    script.start(QStringLiteral("bash"), {QStringLiteral(NELO_SSH_SCRIPT), action});
    return script.waitForFinished(60000) && script.exitCode() == 0;
}

// A copy of the server's ssh_config in `folder` whose clients know no host
// key (an empty known_hosts of their own), or a wrong one, and log in with
// the passphrase-protected key when asked to. Its path.
enum class HostKeys { Known, Unknown, Wrong };
inline QString sshConfigCopy(const QString &folder, HostKeys keys, bool passphraseKey = false)
{
    QByteArray config = readFile(qEnvironmentVariable("NELO_SSH_CONFIG"));
    const QByteArray dir = QFile::encodeName(sshDir());
    const QByteArray knownHosts = QFile::encodeName(folder) + "/known_hosts";
    if (keys != HostKeys::Known)
        config.replace("UserKnownHostsFile " + dir + "/known_hosts", "UserKnownHostsFile " + knownHosts);
    if (passphraseKey)
        config.replace("IdentityFile " + dir + "/client_key", "IdentityFile " + dir + "/passphrase_key");
    QByteArray hosts;
    if (keys == HostKeys::Wrong) {
        // The entries of the real key with another key in their place.
        const QByteArray other = readFile(dir + "/client_key.pub").split(' ').mid(0, 2).join(' ');
        for (QByteArray line : readFile(dir + "/known_hosts").split('\n')) {
            if (line.isEmpty())
                continue;
            hosts += line.split(' ').first() + ' ' + other + '\n';
        }
    }
    writeFile(knownHosts, hosts);
    const QString path = folder + QStringLiteral("/ssh_config");
    return writeFile(path, config) ? path : QString();
}
