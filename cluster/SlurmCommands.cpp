#include "cluster/SlurmCommands.h"

#include "jobs/DirList.h"

#include <QRegularExpression>
#include <QSet>

namespace {

QString joinedIds(const QStringList &jobIds)
{
    return jobIds.join(QLatin1Char(','));
}

// squeue fails when it is asked for one job that the controller no longer
// knows ("Invalid job id specified"), but skips unknown ones in a list of
// several: one job is asked for twice.
QString squeueIds(const QStringList &jobIds)
{
    return jobIds.size() == 1 ? jobIds.first() + QLatin1Char(',') + jobIds.first() : joinedIds(jobIds);
}

QByteArray firstWord(QByteArrayView text)
{
    text = text.trimmed();
    const qsizetype blank = text.indexOf(' ');
    return (blank < 0 ? text : text.first(blank)).toByteArray();
}

QDateTime slurmTime(QByteArrayView text)
{
    // Slurm prints local time without a zone, "N/A" or "Unknown" when it has none.
    QDateTime time = QDateTime::fromString(QString::fromLatin1(text.trimmed()), Qt::ISODate);
    return time.isValid() ? time : QDateTime();
}

} // namespace

SlurmState StateFromSlurm(QByteArrayView word)
{
    // Suspended, requeued and held jobs will run again: they count as waiting.
    static const QByteArrayView waiting[] = {"PENDING", "CONFIGURING", "REQUEUED", "REQUEUE_FED",
                                             "REQUEUE_HOLD", "RESV_DEL_HOLD", "SUSPENDED", "STOPPED",
                                             "RESIZING", "SIGNALING"};
    if (word == "RUNNING" || word == "STAGE_OUT")
        return SlurmState::Running;
    if (word == "COMPLETING")
        return SlurmState::Completing;
    for (QByteArrayView state : waiting) {
        if (word == state)
            return SlurmState::Pending;
    }
    return SlurmState::Ended;
}

QStringList SbatchArguments(const TClusterSettings &cluster, const QString &cpuCores, const QString &jobName,
                            const QString &logFile, const QString &batchScript, const FireflyInvocation &firefly)
{
    QStringList arguments{QStringLiteral("--parsable"),
                          QStringLiteral("--job-name=") + jobName,
                          QStringLiteral("--chdir=") + firefly.workingDirectory,
                          QStringLiteral("--nodes=1"),
                          QStringLiteral("--ntasks=1"),
                          QStringLiteral("--cpus-per-task=") + cpuCores};
    const auto optional = [&](const char *option, const QString &value) {
        if (!value.isEmpty())
            arguments << QLatin1String(option) + value;
    };
    optional("--partition=", cluster.Partition);
    optional("--account=", cluster.Account);
    optional("--time=", cluster.TimeLimit);
    optional("--mem=", cluster.Memory);
    arguments << QStringLiteral("--output=") + SlurmLiteralFileName(logFile);
    // A job whose node fails would start again from scratch and truncate its
    // output; it ends instead (the user's options may still ask otherwise).
    arguments << QStringLiteral("--no-requeue");
    arguments << SplitDirList(cluster.SbatchOptions);
    arguments << batchScript << firefly.program << firefly.arguments;
    return arguments;
}

QString SlurmLiteralFileName(const QString &path)
{
    if (!path.contains(QLatin1Char('%')) && !path.contains(QLatin1Char('\\')))
        return path;
    // Slurm expands %j and the like in these names, except in a name that
    // holds a backslash; there it takes each "\\X" as X.
    QString literal = path;
    literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return literal.left(1) + QLatin1Char('\\') + literal.mid(1);
}

QString ParseSbatchJobId(const QByteArray &standardOutput)
{
    const QByteArray line = standardOutput.trimmed();
    const qsizetype semicolon = line.indexOf(';');
    const QByteArray id = (semicolon < 0 ? line : line.first(semicolon)).trimmed();
    static const QRegularExpression number(QStringLiteral("^\\d+$"));
    return number.match(QString::fromLatin1(id)).hasMatch() ? QString::fromLatin1(id) : QString();
}

QStringList SqueueArguments(const QStringList &jobIds)
{
    return {QStringLiteral("--noheader"), QStringLiteral("--states=all"),
            QStringLiteral("--jobs=") + squeueIds(jobIds), QStringLiteral("--format=%i|%T|%S|%V")};
}

QList<SqueueRow> ParseSqueue(const QByteArray &standardOutput)
{
    QList<SqueueRow> rows;
    for (const QByteArray &line : standardOutput.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('|');
        if (fields.size() < 4 || fields[0].isEmpty())
            continue;
        SqueueRow row;
        row.jobId = QString::fromLatin1(fields[0]);
        row.state = fields[1];
        // A running job runs since its start; a waiting one waits since its submission.
        row.since = slurmTime(StateFromSlurm(row.state) == SlurmState::Pending ? fields[3] : fields[2]);
        rows.append(row);
    }
    return rows;
}

void ParseExitCode(QByteArrayView text, SlurmFinal &final)
{
    const qsizetype colon = text.indexOf(':');
    bool codeOk = false;
    bool signalOk = false;
    const int code = (colon < 0 ? text : text.first(colon)).toByteArray().toInt(&codeOk);
    const int signal = colon < 0 ? 0 : text.sliced(colon + 1).toByteArray().toInt(&signalOk);
    if (codeOk)
        final.exitCode = code;
    if (signalOk)
        final.signal = signal;
}

QStringList SacctArguments(const QStringList &jobIds)
{
    return {QStringLiteral("--noheader"), QStringLiteral("--parsable2"), QStringLiteral("--allocations"),
            QStringLiteral("--jobs=") + joinedIds(jobIds), QStringLiteral("--format=JobID,State,ExitCode")};
}

QHash<QString, SlurmFinal> ParseSacct(const QByteArray &standardOutput)
{
    QHash<QString, SlurmFinal> finals;
    for (const QByteArray &line : standardOutput.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('|');
        if (fields.size() < 3 || fields[0].isEmpty())
            continue;
        SlurmFinal final;
        final.state = firstWord(fields[1]); // "CANCELLED by 1000"
        ParseExitCode(fields[2], final);
        finals.insert(QString::fromLatin1(fields[0]), final);
    }
    return finals;
}

QStringList ScontrolArguments(const QStringList &jobIds)
{
    // One job by its id; several by listing what the controller remembers.
    QStringList arguments{QStringLiteral("--oneliner"), QStringLiteral("show"), QStringLiteral("job")};
    if (jobIds.size() == 1)
        arguments << jobIds.first();
    return arguments;
}

QHash<QString, SlurmFinal> ParseScontrol(const QByteArray &standardOutput)
{
    static const QRegularExpression id(QStringLiteral("(?:^|\\s)JobId=(\\d+)\\s"));
    static const QRegularExpression state(QStringLiteral("\\sJobState=(\\S+)"));
    static const QRegularExpression exit(QStringLiteral("\\sExitCode=(\\d+:\\d+)"));
    QHash<QString, SlurmFinal> finals;
    for (const QByteArray &line : standardOutput.split('\n')) {
        const QString text = QString::fromLatin1(line);
        const QRegularExpressionMatch idMatch = id.match(text);
        const QRegularExpressionMatch stateMatch = state.match(text);
        if (!idMatch.hasMatch() || !stateMatch.hasMatch())
            continue;
        SlurmFinal final;
        final.state = stateMatch.captured(1).toLatin1();
        const QRegularExpressionMatch exitMatch = exit.match(text);
        if (exitMatch.hasMatch())
            ParseExitCode(exitMatch.captured(1).toLatin1(), final);
        finals.insert(idMatch.captured(1), final);
    }
    return finals;
}

QStringList ScancelArguments(const QStringList &jobIds)
{
    return jobIds;
}

QStringList SinfoArguments()
{
    return {QStringLiteral("--noheader"), QStringLiteral("--Node"), QStringLiteral("--format=%N|%P|%t")};
}

SinfoAnswer ParseSinfo(const QByteArray &standardOutput)
{
    SinfoAnswer answer;
    QSet<QByteArray> idle;
    for (const QByteArray &line : standardOutput.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('|');
        if (fields.size() < 3 || fields[0].isEmpty())
            continue;
        QByteArray partition = fields[1];
        const bool isDefault = partition.endsWith('*');
        if (isDefault)
            partition.chop(1);
        const QString name = QString::fromLocal8Bit(partition);
        if (!name.isEmpty() && !answer.partitions.contains(name))
            answer.partitions << name;
        if (isDefault && answer.defaultPartition.isEmpty())
            answer.defaultPartition = name;
        // A flag after the word ("idle*" not responding, "idle~" powered off,
        // "idle#" powering up, ...) means the node cannot take a job now.
        if (fields[2] == "idle")
            idle.insert(fields[0]);
    }
    answer.idleNodes = int(idle.size());
    return answer;
}

QString SinfoSummary(const SinfoAnswer &answer)
{
    const auto count = [](qsizetype n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    return QStringLiteral("The cluster answers: %1, %2 idle")
        .arg(count(answer.partitions.size(), "partition", "partitions"), count(answer.idleNodes, "node", "nodes"));
}
