#pragma once

#include <QList>
#include <QPointF>

#include <vector>

// The points of one line of a chart, thinned for drawing. While there are
// at most `limit` of them, all are shown as they are. Beyond that, each run
// of B consecutive points (B = 2, 4, 8, ..., doubling as points come) is
// shown by its first, lowest, highest and last point, in the order they
// came: the line still starts and ends where it does and reaches every
// extreme a column of pixels would show, while the chart draws at most
// `limit` points however long the search.
//
// Adding a point changes only the end of the shown points, except when B
// doubles: then they are made anew from the runs (at most limit / 4 of
// them), about once per doubling of the points.
class ThinnedLine
{
public:
    explicit ThinnedLine(int limit = 1000);

    void Append(QPointF point);
    void Clear();

    const QList<QPointF> &Shown() const { return m_shown; }
    qsizetype Count() const { return m_count; }

private:
    struct Mark
    {
        QPointF point;
        qsizetype at = 0; // its place among the points appended
    };
    struct Run
    {
        Mark first, low, high, last;
        qsizetype count = 0;
    };
    void showRun(const Run &run);
    void merge(); // B doubles

    qsizetype m_limit;
    qsizetype m_count = 0;
    qsizetype m_runLength = 1;
    std::vector<Run> m_runs;
    QList<QPointF> m_shown;
    qsizetype m_lastShown = 0; // points of the last run at the end of m_shown
};
