#include "cluster/ClusterState.h"

#include "platform/Paths.h"

#include "platform/Errors.h"
#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int FormatVersion = 1;

QJsonObject toJson(const ClusterJobRecord &job)
{
    QJsonObject object{{QStringLiteral("id"), job.jobId},
                       {QStringLiteral("input"), job.input},
                       {QStringLiteral("output"), job.output},
                       {QStringLiteral("log"), job.log},
                       {QStringLiteral("submitted"), job.submitted.toUTC().toString(Qt::ISODateWithMs)}};
    if (!job.destination.isEmpty()) {
        object.insert(QStringLiteral("destination"), job.destination);
        object.insert(QStringLiteral("clusterFolder"), job.clusterFolder);
        object.insert(QStringLiteral("clusterOutput"), job.clusterOutput);
        object.insert(QStringLiteral("mirrored"), job.mirrored);
    }
    return object;
}

ClusterJobRecord fromJson(const QJsonObject &object)
{
    ClusterJobRecord job;
    job.jobId = object.value(QStringLiteral("id")).toString();
    job.input = object.value(QStringLiteral("input")).toString();
    job.output = object.value(QStringLiteral("output")).toString();
    job.log = object.value(QStringLiteral("log")).toString();
    job.submitted = QDateTime::fromString(object.value(QStringLiteral("submitted")).toString(), Qt::ISODateWithMs);
    job.destination = object.value(QStringLiteral("destination")).toString();
    job.clusterFolder = object.value(QStringLiteral("clusterFolder")).toString();
    job.clusterOutput = object.value(QStringLiteral("clusterOutput")).toString();
    job.mirrored = object.value(QStringLiteral("mirrored")).toInteger();
    return job;
}

QString moveAside(const QString &path)
{
    const QString aside = path + QStringLiteral(".unreadable");
    QFile::remove(aside);
    return QFile::rename(path, aside) ? aside : path;
}

} // namespace

bool ClusterJobRecord::operator==(const ClusterJobRecord &other) const
{
    return jobId == other.jobId && input == other.input && output == other.output && log == other.log
           && submitted == other.submitted && destination == other.destination
           && clusterFolder == other.clusterFolder && clusterOutput == other.clusterOutput
           && mirrored == other.mirrored;
}

QString ClusterStateFilePath(const QString &settingsFile)
{
    return Paths::WithExtension(settingsFile, u".jobs");
}

ClusterStateLoad LoadClusterState(const QString &path)
{
    ClusterStateLoad result;
    QFile file(path);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QStringLiteral("Cannot read the list of cluster jobs %1: %2").arg(path, file.errorString());
        return result;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    const QJsonObject top = document.object();
    const QJsonValue jobs = top.value(QStringLiteral("jobs"));
    if (error.error != QJsonParseError::NoError || !document.isObject() || !jobs.isArray()
        || top.value(QStringLiteral("version")).toInt() != FormatVersion) {
        result.problem = QStringLiteral("The list of cluster jobs %1 cannot be read; it was kept as %2.")
                             .arg(path, moveAside(path));
        return result;
    }
    for (const QJsonValue &value : jobs.toArray()) {
        ClusterJobRecord job = fromJson(value.toObject());
        if (!job.jobId.isEmpty())
            result.jobs.append(job);
    }
    return result;
}

void SaveClusterState(const QList<ClusterJobRecord> &jobs, const QString &path)
{
    if (jobs.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path))
            throw EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath());
        return;
    }
    QJsonArray array;
    for (const ClusterJobRecord &job : jobs)
        array.append(toJson(job));
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("version"), FormatVersion}, {QStringLiteral("jobs"), array}})
            .toJson(QJsonDocument::Indented);
    SaveFileWhole(path, bytes);
}
