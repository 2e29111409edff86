#include "jobs/RunJobsModel.h"

#include "platform/Paths.h"

#include <algorithm>

namespace {

int phaseOrder(IFireflyRun::Phase phase)
{
    switch (phase) {
    case IFireflyRun::Phase::Running:
        return 0;
    case IFireflyRun::Phase::Completing:
        return 1;
    case IFireflyRun::Phase::Starting:
    case IFireflyRun::Phase::Waiting:
        return 2;
    case IFireflyRun::Phase::Ended:
        return 3;
    }
    return 4;
}

} // namespace

RunJobsModel::RunJobsModel(QObject *parent) : QAbstractTableModel(parent), m_now(QDateTime::currentDateTimeUtc()) {}

void RunJobsModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void RunJobsModel::Update(const Row &row)
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        Row &existing = m_rows[i];
        if (existing.output != row.output || existing.listed)
            continue;
        const bool followed = existing.followed;
        if (row.status.phase == existing.status.phase && row.status.word == existing.status.word
            && row.status.since == existing.status.since && row.status.id == existing.status.id
            && row.steps == existing.steps && row.listed == existing.listed)
            return; // nothing the view shows has changed (the runner updates every turn)
        existing = row;
        existing.followed = followed;
        emit dataChanged(index(int(i), 0), index(int(i), ColumnCount - 1));
        return;
    }
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_rows.append(row);
    endInsertRows();
}

void RunJobsModel::SetFollowed(const QString &output)
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const bool followed = !m_rows[i].listed && m_rows[i].output == output;
        if (m_rows[i].followed == followed)
            continue;
        m_rows[i].followed = followed;
        emit dataChanged(index(int(i), 0), index(int(i), ColumnCount - 1));
    }
}

void RunJobsModel::Tick(const QDateTime &now)
{
    m_now = now;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, TimeColumn), index(int(m_rows.size()) - 1, TimeColumn));
}

QString RunJobsModel::Summary() const
{
    int running = 0;
    int waiting = 0;
    int ended = 0;
    for (const Row &row : m_rows) {
        switch (row.status.phase) {
        case IFireflyRun::Phase::Running:
        case IFireflyRun::Phase::Completing:
            ++running;
            break;
        case IFireflyRun::Phase::Starting:
        case IFireflyRun::Phase::Waiting:
            ++waiting;
            break;
        case IFireflyRun::Phase::Ended:
            ++ended;
            break;
        }
    }
    const QString counts = QStringLiteral("%1 running, %2 pending, %3 ended").arg(running).arg(waiting).arg(ended);
    return m_problem.isEmpty() ? counts : counts + QStringLiteral(" \u2014 ") + m_problem;
}

void RunJobsModel::SetProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit problemChanged();
}

QString RunJobsModel::StateText(const IFireflyRun::Status &status)
{
    QString text;
    switch (status.phase) {
    case IFireflyRun::Phase::Starting:
        return QStringLiteral("submitting");
    case IFireflyRun::Phase::Waiting:
        text = QStringLiteral("pending");
        break;
    case IFireflyRun::Phase::Running:
        text = QStringLiteral("running");
        break;
    case IFireflyRun::Phase::Completing:
        text = QStringLiteral("completing");
        break;
    case IFireflyRun::Phase::Ended:
        text = QStringLiteral("ended");
        break;
    }
    // The cluster's own word where it says more than ours.
    static const QByteArrayView plain[] = {"PENDING", "RUNNING", "COMPLETING"};
    if (!status.word.isEmpty() && std::find(std::begin(plain), std::end(plain), status.word) == std::end(plain))
        text += QStringLiteral(" (%1)").arg(QString::fromLatin1(status.word));
    return text;
}

QString RunJobsModel::Duration(qint64 seconds)
{
    seconds = std::max<qint64>(0, seconds);
    const qint64 days = seconds / 86400;
    const qint64 hours = seconds / 3600 % 24;
    const qint64 minutes = seconds / 60 % 60;
    const qint64 secs = seconds % 60;
    if (days > 0)
        return QStringLiteral("%1d %2:%3").arg(days).arg(hours, 2, 10, QLatin1Char('0')).arg(minutes, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}

int RunJobsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RunJobsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RunJobsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    const qint64 inState = row.status.since.isValid() ? row.status.since.secsTo(m_now) : 0;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case JobColumn:
            // The job the output pane follows is marked.
            return row.followed ? QStringLiteral("\u25B6 ") + row.status.id : row.status.id;
        case InputColumn:
            return Paths::FileNamePart(row.input);
        case StateColumn:
            return StateText(row.status);
        case TimeColumn:
            return row.status.since.isValid() ? Duration(inState) : QString();
        case StepsColumn:
            return row.steps > 0 ? QString::number(row.steps) : QString();
        case GradientColumn:
            return row.maxGradient >= 0 ? QString::number(row.maxGradient, 'e', 2) : QString();
        }
        break;
    case Qt::ToolTipRole:
        return QStringLiteral("%1\n%2").arg(row.input, row.output);
    case OutputRole:
        return row.output;
    case SortRole:
        switch (index.column()) {
        case JobColumn:
            return row.status.id.toLongLong();
        case StateColumn:
            return phaseOrder(row.status.phase);
        case TimeColumn:
            return inState;
        case StepsColumn:
            return row.steps;
        case GradientColumn:
            return row.maxGradient;
        default:
            return data(index, Qt::DisplayRole);
        }
    default:
        break;
    }
    return {};
}

QVariant RunJobsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[] = {"Job", "Input", "State", "For", "Steps", "Max grad."};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}
