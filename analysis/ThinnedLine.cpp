#include "analysis/ThinnedLine.h"

#include <algorithm>

ThinnedLine::ThinnedLine(int limit)
    : m_limit(std::max(8, limit))
{
}

void ThinnedLine::Clear()
{
    *this = ThinnedLine(int(m_limit));
}

void ThinnedLine::Append(QPointF point)
{
    const Mark mark{point, m_count++};
    if (m_runs.empty() || m_runs.back().count == m_runLength) {
        m_runs.push_back({mark, mark, mark, mark, 1});
        m_lastShown = 0;
        // While every point is shown the limit is the count; thinned, four a run.
        const qsizetype shownAtMost = m_runLength == 1 ? qsizetype(m_runs.size()) : 4 * qsizetype(m_runs.size());
        if (shownAtMost > m_limit) {
            merge();
            return;
        }
    } else {
        Run &run = m_runs.back();
        if (point.y() < run.low.point.y())
            run.low = mark;
        if (point.y() > run.high.point.y())
            run.high = mark;
        run.last = mark;
        ++run.count;
    }
    m_shown.resize(m_shown.size() - m_lastShown);
    showRun(m_runs.back());
}

void ThinnedLine::showRun(const Run &run)
{
    Mark marks[] = {run.first, run.low, run.high, run.last};
    std::sort(std::begin(marks), std::end(marks), [](const Mark &a, const Mark &b) { return a.at < b.at; });
    const qsizetype before = m_shown.size();
    for (std::size_t i = 0; i < 4; ++i) {
        if (i == 0 || marks[i].at != marks[i - 1].at)
            m_shown.append(marks[i].point);
    }
    m_lastShown = m_shown.size() - before;
}

void ThinnedLine::merge()
{
    // Until the runs hold four points each, a run of two shows no fewer
    // points than it has: go straight to runs that thin.
    do {
        m_runLength *= 2;
        std::vector<Run> merged;
        merged.reserve(m_runs.size() / 2 + 1);
        for (std::size_t i = 0; i < m_runs.size(); i += 2) {
            Run run = m_runs[i];
            if (i + 1 < m_runs.size()) {
                const Run &next = m_runs[i + 1];
                if (next.low.point.y() < run.low.point.y())
                    run.low = next.low;
                if (next.high.point.y() > run.high.point.y())
                    run.high = next.high;
                run.last = next.last;
                run.count += next.count;
            }
            merged.push_back(run);
        }
        m_runs = std::move(merged);
    } while (4 * qsizetype(m_runs.size()) > m_limit);
    m_shown.clear();
    for (const Run &run : m_runs)
        showRun(run);
}
