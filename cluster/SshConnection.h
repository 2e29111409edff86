#pragma once

#include "cluster/RemoteShell.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;

// One connection to a machine reached over SSH, through the system's OpenSSH
// client (never a shell on this side: ssh is started with argument lists).
//
// A master connection per destination (ControlMaster, ControlPersist) carries
// every command and transfer; its socket lies in a folder that only the user
// can enter. The user's ~/.ssh/config applies (User, Port, IdentityFile,
// ProxyJump), unless another configuration file is named. Questions ssh asks
// while it connects (a key's passphrase, a password, a one-time code, an
// unknown host key) go to the askpass program (SSH_ASKPASS with
// SSH_ASKPASS_REQUIRE=force), which shows ssh's own prompt; host keys are
// checked as ssh does by default. Commands through the master never ask
// anything (BatchMode).
//
// A command that fails to come back whole means the connection is lost: the
// connection then waits, and connects again after a delay that grows from
// 5 to 60 seconds.
class SshConnection : public QObject
{
    Q_OBJECT

public:
    enum class State { Down, Connecting, Up };

    // `configFile` empty: ssh's own (~/.ssh/config). `controlFolder` empty:
    // DefaultControlFolder().
    SshConnection(QString destination, QString configFile, QString askPass, QString controlFolder = {},
                  QObject *parent = nullptr);
    ~SshConnection() override;

    const QString &Destination() const { return m_destination; }
    State CurrentState() const { return m_state; }
    // ssh's own message of the last failure (its last line), empty while up.
    const QString &Message() const { return m_message; }
    // Whether the connection has been lost since it was up (not merely never made).
    bool WasLost() const { return m_lost; }

    // Connects now, handling events while ssh (and its questions) take their
    // time; true when the master connection is up. *why then holds ssh's
    // whole message.
    bool ConnectNow(QString *why);
    // Connects in the background when it is down and the delay has passed.
    void Tick();
    // A command did not come back whole: the connection is taken as lost.
    void Lost(const QString &message);

    struct Result
    {
        bool whole = false; // the answer's frame came back whole
        RemoteAnswer answer;
        QByteArray err;     // the remote commands' standard error, and ssh's
        int exitCode = -1;
    };
    using Done = std::function<void(const Result &result)>;
    // Runs the script through the master connection; `done` gets the
    // answer. `input`: a local file for its standard input (else none).
    // Killed after `timeoutMs`. Returns the ssh process (owned by this object).
    QProcess *Start(const RemoteScript &script, Done done, const QString &input = {}, int timeoutMs = 120000);
    // Starts the script in a process of the caller's (who reads its answer
    // with ParseRemoteAnswer and the script's frame).
    void StartIn(QProcess &process, const RemoteScript &script, const QString &input = {});
    // The same, waiting for the answer while handling events.
    Result Run(const RemoteScript &script, const QString &input = {}, int timeoutMs = 120000);
    // How many ssh commands were started (the master connections not counted).
    int CommandCount() const { return m_commands; }

    // The argument lists of ssh (for the tests).
    QStringList MasterArguments() const;
    QStringList CommandArguments(const QByteArray &remoteCommand) const;
    QStringList CheckArguments() const;

    // $XDG_RUNTIME_DIR/nelo-ssh, else /tmp/nelo-ssh-UID.
    static QString DefaultControlFolder();
    // Makes the folder (only the user may enter it); empty text, or why it
    // cannot be used.
    static QString PrepareControlFolder(const QString &folder);
    // ssh's standard error as a message: its lines without blank ones, and
    // without the frame of "@" around its warnings.
    static QString MessageOf(const QByteArray &err);
    // The delay before the n-th attempt to connect again (n from 1): 5, 10,
    // 20, 40, 60, 60, ... seconds.
    static int RetryDelayMs(int attempt);

signals:
    void StateChanged();

private:
    QStringList controlOptions() const;
    bool masterAnswers();
    void startMaster();
    void masterFinished(QProcess *master);
    void setUp();

    QString m_destination;
    QString m_configFile;
    QString m_askPass;
    QString m_controlFolder;
    State m_state = State::Down;
    QString m_message;
    bool m_lost = false;
    bool m_everUp = false;
    int m_attempts = 0;      // failed attempts since the connection was last up
    QElapsedTimer m_clock;
    qint64 m_nextAttempt = 0;
    QPointer<QProcess> m_master;
    int m_commands = 0;
};

// What kind of question ssh hands its askpass program, from the prompt text
// and SSH_ASKPASS_PROMPT: a confirmation (yes or no, no text), a question
// whose answer may be shown as it is typed (an unknown host key: "yes", "no"
// or a fingerprint), or a secret (a passphrase, a password, a one-time code).
enum class SshQuestion { Confirm, Visible, Secret };
SshQuestion SshQuestionKind(const QString &prompt, const QString &promptEnvironment);
