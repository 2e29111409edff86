#include "cluster/SshConnection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Ssh = QStringLiteral("ssh");

// How long the master connection outlives its last command: a Nelo started
// again soon (also after it was killed) finds it still up.
constexpr int PersistSeconds = 60;
// The master asks the server every 5 seconds and gives up after 3 missed
// answers, so a connection whose network is gone is known lost in 15 s.
constexpr int AliveSeconds = 5;
constexpr int AliveCount = 3;
constexpr int CheckTimeoutMs = 5000;
// The user may take their time over a passphrase.
constexpr int ConnectTimeoutMs = 600000;

QStringList option(const QString &name, const QString &value)
{
    return {QStringLiteral("-o"), name + QLatin1Char('=') + value};
}

} // namespace

SshConnection::SshConnection(QString destination, QString configFile, QString askPass, QString controlFolder,
                             QObject *parent)
    : QObject(parent)
    , m_destination(std::move(destination))
    , m_configFile(std::move(configFile))
    , m_askPass(std::move(askPass))
    , m_controlFolder(controlFolder.isEmpty() ? DefaultControlFolder() : std::move(controlFolder))
{
    m_clock.start();
}

SshConnection::~SshConnection()
{
    // Commands still under way end without telling anyone.
    for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        process->kill();
        process->waitForFinished(1000);
    }
}

QString SshConnection::DefaultControlFolder()
{
    static const QRegularExpression plain(QStringLiteral("^/[A-Za-z0-9_./-]{0,60}$"));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (plain.match(runtime).hasMatch() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/nelo-ssh");
    return QStringLiteral("/tmp/nelo-ssh-%1").arg(getuid());
}

QString SshConnection::PrepareControlFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("Cannot make the folder %1 for ssh's connections: %2").arg(folder, qt_error_string(errno));
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()
        || (info.st_mode & 077) != 0)
        return QStringLiteral("The folder %1 for ssh's connections is not yours alone; Nelo does not use it.")
            .arg(folder);
    return {};
}

QString SshConnection::MessageOf(const QByteArray &err)
{
    QStringList lines;
    for (const QByteArray &line : err.split('\n')) {
        // ssh frames its warnings with lines and columns of "@".
        QString text = QString::fromLocal8Bit(line).trimmed();
        while (text.startsWith(QLatin1Char('@')))
            text.remove(0, 1);
        while (text.endsWith(QLatin1Char('@')))
            text.chop(1);
        text = text.trimmed();
        if (!text.isEmpty())
            lines << text;
    }
    return lines.join(QLatin1Char('\n'));
}

int SshConnection::RetryDelayMs(int attempt)
{
    int seconds = 5;
    for (int i = 1; i < attempt && seconds < 60; ++i)
        seconds *= 2;
    return std::min(seconds, 60) * 1000;
}

QStringList SshConnection::controlOptions() const
{
    QStringList options;
    if (!m_configFile.isEmpty())
        options << QStringLiteral("-F") << m_configFile;
    // One master per destination and configuration: %C is ssh's hash of
    // this host, the remote host, port and user.
    QString socket = m_controlFolder + QStringLiteral("/%C");
    if (!m_configFile.isEmpty())
        socket += QLatin1Char('-')
                  + QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(QFileInfo(m_configFile).absoluteFilePath()),
                                                                 QCryptographicHash::Sha1)
                                            .toHex()
                                            .left(8));
    options << option(QStringLiteral("ControlPath"), socket);
    return options;
}

QStringList SshConnection::MasterArguments() const
{
    // "auto" takes over a socket that a master which is gone left behind.
    return controlOptions() << option(QStringLiteral("ControlMaster"), QStringLiteral("auto"))
                            << option(QStringLiteral("ControlPersist"), QString::number(PersistSeconds))
                            << option(QStringLiteral("ServerAliveInterval"), QString::number(AliveSeconds))
                            << option(QStringLiteral("ServerAliveCountMax"), QString::number(AliveCount))
                            << option(QStringLiteral("ConnectTimeout"), QStringLiteral("30")) << QStringLiteral("-N")
                            << QStringLiteral("--") << m_destination;
}

QStringList SshConnection::CommandArguments(const QByteArray &remoteCommand) const
{
    return controlOptions() << option(QStringLiteral("ControlMaster"), QStringLiteral("no"))
                            << option(QStringLiteral("BatchMode"), QStringLiteral("yes")) << QStringLiteral("-T")
                            << QStringLiteral("--") << m_destination << QFile::decodeName(remoteCommand);
}

QStringList SshConnection::CheckArguments() const
{
    return controlOptions() << QStringLiteral("-O") << QStringLiteral("check") << QStringLiteral("--")
                            << m_destination;
}

bool SshConnection::masterAnswers()
{
    QProcess check;
    check.setStandardInputFile(QProcess::nullDevice());
    check.start(Ssh, CheckArguments());
    if (!check.waitForFinished(CheckTimeoutMs)) {
        check.kill();
        check.waitForFinished(1000);
        return false;
    }
    return check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
}

void SshConnection::setUp()
{
    m_state = State::Up;
    m_everUp = true;
    m_lost = false;
    m_message.clear();
    m_attempts = 0;
    emit StateChanged();
}

void SshConnection::startMaster()
{
    const QString problem = PrepareControlFolder(m_controlFolder);
    if (!problem.isEmpty()) {
        m_state = State::Down;
        m_message = problem;
        m_nextAttempt = m_clock.elapsed() + RetryDelayMs(++m_attempts);
        emit StateChanged();
        return;
    }
    if (masterAnswers()) {
        setUp();
        return;
    }
    m_state = State::Connecting;
    auto *master = new QProcess(this);
    m_master = master;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!m_askPass.isEmpty()) {
        environment.insert(QStringLiteral("SSH_ASKPASS"), m_askPass);
        environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    } else {
        environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("never"));
    }
    master->setProcessEnvironment(environment);
    master->setStandardInputFile(QProcess::nullDevice());
    // With ControlPersist, ssh goes to the background once it is connected:
    // the process started here then ends with status 0.
    connect(master, &QProcess::finished, this, [this, master] { masterFinished(master); });
    connect(master, &QProcess::errorOccurred, this, [this, master](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            masterFinished(master);
    });
    QTimer::singleShot(ConnectTimeoutMs, master, [master] { master->kill(); });
    emit StateChanged();
    master->start(Ssh, MasterArguments());
}

void SshConnection::masterFinished(QProcess *master)
{
    if (master != m_master)
        return;
    m_master = nullptr;
    master->deleteLater();
    const bool started = master->error() != QProcess::FailedToStart;
    if (started && master->exitStatus() == QProcess::NormalExit && master->exitCode() == 0) {
        setUp();
        return;
    }
    m_state = State::Down;
    m_message = started ? MessageOf(master->readAllStandardError()) : master->errorString();
    if (m_message.isEmpty())
        m_message = QStringLiteral("ssh ended with status %1").arg(master->exitCode());
    m_nextAttempt = m_clock.elapsed() + RetryDelayMs(++m_attempts);
    emit StateChanged();
}

bool SshConnection::ConnectNow(QString *why)
{
    if (m_state == State::Down)
        startMaster();
    if (m_state == State::Connecting) {
        QEventLoop loop;
        connect(this, &SshConnection::StateChanged, &loop, [&] {
            if (m_state != State::Connecting)
                loop.quit();
        });
        loop.exec();
        // Nelo is ending (the loop returned at once): wait for ssh itself.
        if (m_state == State::Connecting && m_master)
            m_master->waitForFinished(CheckTimeoutMs);
    }
    if (m_state == State::Up)
        return true;
    if (why)
        *why = m_message;
    return false;
}

void SshConnection::Tick()
{
    if (m_state == State::Down && m_clock.elapsed() >= m_nextAttempt)
        startMaster();
}

void SshConnection::Lost(const QString &message)
{
    if (m_state != State::Up)
        return;
    m_state = State::Down;
    m_lost = true;
    m_message = message;
    m_attempts = 1;
    m_nextAttempt = m_clock.elapsed() + RetryDelayMs(m_attempts);
    emit StateChanged();
}

void SshConnection::StartIn(QProcess &process, const RemoteScript &script, const QString &input)
{
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    ++m_commands;
    process.start(Ssh, CommandArguments(script.Line()));
}

QProcess *SshConnection::Start(const RemoteScript &script, Done done, const QString &input, int timeoutMs)
{
    auto *process = new QProcess(this);
    const QByteArray frame = script.Frame();
    // Called once, by the first of finished and a failed start.
    auto pending = std::make_shared<Done>(std::move(done));
    const auto finish = [process, frame, pending] {
        if (!*pending)
            return;
        const Done done = std::exchange(*pending, Done());
        Result result;
        const bool started = process->error() != QProcess::FailedToStart;
        const QByteArray out = started ? process->readAllStandardOutput() : QByteArray();
        result.err = started ? process->readAllStandardError() : process->errorString().toLocal8Bit();
        result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        result.answer = ParseRemoteAnswer(out, frame);
        result.whole = result.answer.whole;
        process->deleteLater();
        done(result);
    };
    connect(process, &QProcess::finished, this, finish);
    connect(process, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish();
    });
    QTimer::singleShot(timeoutMs, process, [process] { process->kill(); });
    StartIn(*process, script, input);
    return process;
}

SshConnection::Result SshConnection::Run(const RemoteScript &script, const QString &input, int timeoutMs)
{
    Result result;
    bool finished = false;
    QEventLoop loop;
    QProcess *process = Start(script, [&](const Result &answer) {
        result = answer;
        finished = true;
        loop.quit();
    }, input, timeoutMs);
    if (!finished)
        loop.exec();
    // Nelo is ending (the loop returned at once): a job ssh may already have
    // handed to the cluster must not be lost with its answer.
    if (!finished && process)
        process->waitForFinished(timeoutMs);
    return result;
}

SshQuestion SshQuestionKind(const QString &prompt, const QString &promptEnvironment)
{
    if (promptEnvironment == QLatin1String("confirm") || promptEnvironment == QLatin1String("none"))
        return SshQuestion::Confirm;
    if (prompt.contains(QLatin1String("(yes/no")))
        return SshQuestion::Visible;
    return SshQuestion::Secret;
}
