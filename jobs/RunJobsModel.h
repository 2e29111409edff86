#pragma once

#include "jobs/FireflyRun.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>

// The jobs of the current run, one row each, for the jobs view: on a
// cluster day with fifty jobs the chemist sees at a glance which wait, which
// run and for how long, how far each geometry search has come, and which
// one the output pane follows. Rows stay after their job ends, until the
// next run begins. Widget-free: the runner fills it, a table view shows it.
class RunJobsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { JobColumn, InputColumn, StateColumn, TimeColumn, StepsColumn, GradientColumn, ColumnCount };
    // The output file of a row (Qt::UserRole of every column), and the
    // phase's order for sorting (running first, then pending, then ended).
    static constexpr int OutputRole = Qt::UserRole;
    static constexpr int SortRole = Qt::UserRole + 1;

    struct Row
    {
        QString input;
        QString output;
        IFireflyRun::Status status;
        int steps = 0;              // geometry-search steps seen so far
        double maxGradient = -1;    // of the last step, -1 before the first
        bool followed = false;      // the output pane shows this job
        bool listed = false;        // ended and read to the end
    };

    explicit RunJobsModel(QObject *parent = nullptr);

    void Clear();
    // Adds a row or updates the row of that output file.
    void Update(const Row &row);
    void SetFollowed(const QString &output);
    // The clock moves on: the time column is told to show it.
    void Tick(const QDateTime &now);

    // What keeps the backend from its jobs (IExecutionBackend::Problem),
    // shown after the counts until it is gone.
    void SetProblem(const QString &problem);

    const QList<Row> &Rows() const { return m_rows; }
    // "3 running, 40 pending, 7 ended", and " — " and the backend's
    // problem while it has one.
    QString Summary() const;

    // How a phase reads in the view ("running", "pending", "pending (SUSPENDED)", "ended (TIMEOUT)").
    static QString StateText(const IFireflyRun::Status &status);
    // "0:42", "12:05", "3:02:10", "2d 04:10"
    static QString Duration(qint64 seconds);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The problem came or went (the counts change with the rows).
    void problemChanged();

private:
    QList<Row> m_rows;
    QString m_problem;
    QDateTime m_now;
};
