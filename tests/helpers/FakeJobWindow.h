#pragma once

#include "analysis/ConvergenceSeries.h"
#include "jobs/JobWindow.h"
#include "tests/helpers/Recorders.h"

#include <QByteArrayList>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// The main window as the job runner sees it, recording everything. The
// output pane answers line indices like a plain-text pane: the text
// "a\nb\n" has the lines 0 "a", 1 "b" and 2 "" (at character 4).
class FakeJobWindow : public IJobWindow
{
public:
    struct Job
    {
        QString path;
        bool checked = true;
    };

    // State
    QByteArrayList log;
    QByteArray memo;
    int selectionStart = 0;
    QByteArrayList memoHistory;   // every text the pane was given
    QList<Job> jobs;
    QStringList done;
    QString outLab = QStringLiteral("Active Job:");
    bool runEnabled = true;
    bool abortEnabled = false;
    bool exitEnabled = true;
    int parseTag = 0;
    bool powerOffChecked = false;
    QStringList calls;            // buttons, lists and captions, in call order

    // The save dialog: the answer (nullopt = Cancel) and what it was asked with.
    std::optional<QString> saveAnswer;
    QStringList saveRequests;     // "filter|suffix|initial name"
    std::function<void()> onAsk;
    std::function<void(const QByteArray &)> onAppendLog;
    // The steps of the search each time the chart was shown.
    QList<std::vector<ConvergencePoint>> charts;

    void ClearLog() override
    {
        log.clear();
        calls << QStringLiteral("ClearLog");
    }
    void AppendLog(const QByteArray &entry) override
    {
        log << entry;
        if (onAppendLog)
            onAppendLog(entry);
    }
    void SetMemoText(const QByteArray &text) override
    {
        memo = text;
        memoHistory << text;
        selectionStart = 0;
    }
    int MemoLineIndex(int line) const override
    {
        qsizetype at = 0;
        for (int i = 0; i < line; ++i) {
            at = memo.indexOf('\n', at);
            if (at < 0)
                return -1;
            ++at;
        }
        return int(at);
    }
    void SetMemoSelection(int start, int length) override
    {
        if (start >= 0)
            selectionStart = start;
        calls << QStringLiteral("Select %1 %2").arg(start).arg(length);
    }
    void SetRunBtnEnabled(bool enabled) override { Record(runEnabled, enabled, "Run"); }
    void SetAbortBtnEnabled(bool enabled) override { Record(abortEnabled, enabled, "Abort"); }
    void SetExitBtnEnabled(bool enabled) override { Record(exitEnabled, enabled, "Exit"); }
    void SetParseMenuItemTag(int tag) override
    {
        parseTag = tag;
        calls << QStringLiteral("Tag %1").arg(tag);
    }
    int JobCount() const override { return int(jobs.size()); }
    QString JobText(int index) const override { return jobs.at(index).path; }
    bool JobChecked(int index) const override { return jobs.at(index).checked; }
    void DeleteJob(int index) override
    {
        calls << QStringLiteral("Take ") + jobs.at(index).path;
        jobs.removeAt(index);
    }
    void InsertJob(int index, const QString &path, bool checked) override
    {
        calls << QStringLiteral("Put back ") + path;
        jobs.insert(index, {path, checked});
    }
    void ClearDone() override
    {
        done.clear();
        calls << QStringLiteral("ClearDone");
    }
    void AppendDone(const QString &path) override
    {
        done << path;
        calls << QStringLiteral("Done ") + path;
    }
    void SetOutLabCaption(const QString &caption) override
    {
        outLab = caption;
        calls << QStringLiteral("OutLab ") + caption;
    }
    bool PowerOffChecked() const override { return powerOffChecked; }
    void ShowConvergence(const ConvergenceSeries &series, const QString &) override { charts << series.Points(); }
    bool AskOutputFileName(const QString &filter, const QString &defaultSuffix, QString &fileName) override
    {
        saveRequests << filter + QLatin1Char('|') + defaultSuffix + QLatin1Char('|') + fileName;
        if (onAsk)
            onAsk();
        if (!saveAnswer)
            return false;
        fileName = *saveAnswer;
        return true;
    }

    // Only the calls whose text starts with one of the prefixes.
    QStringList Calls(const QStringList &prefixes) const
    {
        QStringList kept;
        for (const QString &call : calls)
            for (const QString &prefix : prefixes)
                if (call.startsWith(prefix)) {
                    kept << call;
                    break;
                }
        return kept;
    }

private:
    void Record(bool &state, bool enabled, const char *name)
    {
        state = enabled;
        calls << QLatin1String(name) + (enabled ? QStringLiteral(" on") : QStringLiteral(" off"));
    }
};
