#include "cluster/ClusterSettings.h"

#include "jobs/IniFile.h"
#include "jobs/JobSettings.h"

#include <QFile>
#include <QRegularExpression>

#include <optional>

namespace {

constexpr QByteArrayView Section("Cluster");

// Jobs at once and the poll period beyond these bounds come only from an
// edited file: the default is taken instead.
constexpr int MaxJobsAtOnce = 10000;
constexpr int MaxPollSeconds = 3600;

QString readText(const IniFile &file, QByteArrayView key, const QString &defaultValue)
{
    const std::optional<QByteArray> value = file.value(Section, key);
    return value ? QFile::decodeName(*value) : defaultValue;
}

int readNumber(const IniFile &file, QByteArrayView key, int defaultValue, int low, int high)
{
    const std::optional<QByteArray> value = file.value(Section, key);
    if (!value)
        return defaultValue;
    const std::optional<qint32> number = ReadSettingsNumber(*value);
    return number && *number >= low && *number <= high ? *number : defaultValue;
}

} // namespace

bool TClusterSettings::operator==(const TClusterSettings &other) const
{
    return RunOn == other.RunOn && Partition == other.Partition && Account == other.Account
           && TimeLimit == other.TimeLimit && Memory == other.Memory && SbatchOptions == other.SbatchOptions
           && JobsAtOnce == other.JobsAtOnce && PollSeconds == other.PollSeconds && Destination == other.Destination
           && ClusterFirefly == other.ClusterFirefly && ClusterWorkFolder == other.ClusterWorkFolder
           && ClusterLibrary == other.ClusterLibrary && RemoveClusterFolders == other.RemoveClusterFolders;
}

void LoadClusterSettings(TClusterSettings &settings, const IniFile &file)
{
    const TClusterSettings defaults;
    settings.RunOn = TClusterSettings::Where(readNumber(file, "RunOn", 0, 0, 2));
    settings.Partition = readText(file, "Partition", defaults.Partition);
    settings.Account = readText(file, "Account", defaults.Account);
    settings.TimeLimit = readText(file, "TimeLimit", defaults.TimeLimit);
    settings.Memory = readText(file, "Memory", defaults.Memory);
    settings.SbatchOptions = readText(file, "SbatchOptions", defaults.SbatchOptions);
    settings.JobsAtOnce = readNumber(file, "JobsAtOnce", defaults.JobsAtOnce, 1, MaxJobsAtOnce);
    settings.PollSeconds = readNumber(file, "PollSeconds", defaults.PollSeconds, 1, MaxPollSeconds);
    settings.Destination = readText(file, "Destination", defaults.Destination);
    settings.ClusterFirefly = readText(file, "ClusterFirefly", defaults.ClusterFirefly);
    settings.ClusterWorkFolder = readText(file, "ClusterWorkFolder", defaults.ClusterWorkFolder);
    settings.ClusterLibrary = readText(file, "ClusterLibrary", defaults.ClusterLibrary);
    settings.RemoveClusterFolders = readNumber(file, "RemoveClusterFolders", 0, 0, 1) == 1;
}

void LoadClusterSettings(TClusterSettings &settings, const QString &fileName)
{
    LoadClusterSettings(settings, IniFile::load(fileName));
}

void StoreClusterSettings(const TClusterSettings &settings, IniFile &file)
{
    if (settings == TClusterSettings() && !file.value(Section, "RunOn"))
        return;
    file.setValue(Section, "RunOn", QByteArray::number(int(settings.RunOn)));
    file.setValue(Section, "Partition", QFile::encodeName(settings.Partition));
    file.setValue(Section, "Account", QFile::encodeName(settings.Account));
    file.setValue(Section, "TimeLimit", QFile::encodeName(settings.TimeLimit));
    file.setValue(Section, "Memory", QFile::encodeName(settings.Memory));
    file.setValue(Section, "SbatchOptions", QFile::encodeName(settings.SbatchOptions));
    file.setValue(Section, "JobsAtOnce", QByteArray::number(settings.JobsAtOnce));
    file.setValue(Section, "PollSeconds", QByteArray::number(settings.PollSeconds));
    file.setValue(Section, "Destination", QFile::encodeName(settings.Destination));
    file.setValue(Section, "ClusterFirefly", QFile::encodeName(settings.ClusterFirefly));
    file.setValue(Section, "ClusterWorkFolder", QFile::encodeName(settings.ClusterWorkFolder));
    file.setValue(Section, "ClusterLibrary", QFile::encodeName(settings.ClusterLibrary));
    file.setValue(Section, "RemoveClusterFolders", settings.RemoveClusterFolders ? "1" : "0");
}

bool IsSlurmTimeLimit(const QString &text)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(
            QStringLiteral("\\d+(?::\\d+){0,2}|\\d+-\\d+(?::\\d+){0,2}|UNLIMITED|INFINITE")),
        QRegularExpression::CaseInsensitiveOption);
    return form.match(text).hasMatch();
}

bool IsSlurmMemory(const QString &text)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral("\\d+[KMGT]?")),
                                         QRegularExpression::CaseInsensitiveOption);
    return form.match(text).hasMatch();
}

QString SshDestinationProblem(const QString &destination)
{
    if (destination.isEmpty())
        return QStringLiteral("Enter the SSH destination: user@host, or a Host of your ~/.ssh/config!");
    // ssh would read a leading "-" as an option of its own.
    if (destination.startsWith(QLatin1Char('-')))
        return QStringLiteral("The SSH destination \"%1\" must not begin with \"-\"!").arg(destination);
    for (const QChar c : destination) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("The SSH destination \"%1\" must not hold blanks!").arg(destination);
    }
    return {};
}

QString ClusterSettingsProblem(const TClusterSettings &settings)
{
    if (settings.RunOn == TClusterSettings::Where::SlurmOverSsh) {
        const QString destination = SshDestinationProblem(settings.Destination);
        if (!destination.isEmpty())
            return destination;
        if (settings.ClusterFirefly.isEmpty())
            return QStringLiteral("Enter the path of the Firefly executable on the cluster!");
        if (!settings.ClusterWorkFolder.startsWith(QLatin1Char('/')))
            return QStringLiteral("Enter the working folder on the cluster as a full path (beginning with \"/\")!");
    }
    if (!settings.TimeLimit.isEmpty() && !IsSlurmTimeLimit(settings.TimeLimit))
        return QStringLiteral("Slurm does not accept the time limit \"%1\": enter minutes, hours:minutes:seconds "
                              "or days-hours:minutes:seconds (for example 90, 4:00:00 or 2-12:00:00), "
                              "or leave it empty for the partition's limit!")
            .arg(settings.TimeLimit);
    if (!settings.Memory.isEmpty() && !IsSlurmMemory(settings.Memory))
        return QStringLiteral("Slurm does not accept the memory \"%1\": enter a whole number with an optional "
                              "unit K, M, G or T (for example 4000M or 16G), or leave it empty!")
            .arg(settings.Memory);
    if (settings.JobsAtOnce < 1)
        return QStringLiteral("Jobs at once must be at least 1!");
    if (settings.PollSeconds < 1)
        return QStringLiteral("The state poll period must be at least 1 second!");
    return {};
}
