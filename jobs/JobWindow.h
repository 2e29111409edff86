#pragma once

#include <QByteArray>
#include <QString>

class ConvergenceSeries;

// The window operations the job monitor and the queue runner need. The main
// window implements them over its controls; tests use a fake.
class IJobWindow
{
public:
    virtual ~IJobWindow() = default;

    // Progress log (LogListBox)
    virtual void ClearLog() = 0;
    // Appends an entry and scrolls to it without leaving it highlighted.
    virtual void AppendLog(const QByteArray &entry) = 0;

    // Output pane (Memo1); its text is single-byte, counted in bytes. The
    // monitor sets it to whole lines, each followed by LF, so a pane of 100
    // lines has a line 100: the empty one after the last.
    virtual void SetMemoText(const QByteArray &text) = 0;
    // Character index where the 0-based line starts, -1 when there is no such line.
    virtual int MemoLineIndex(int line) const = 0;
    // A start of -1 only clears the selection; the caret stays where it is.
    virtual void SetMemoSelection(int start, int length) = 0;

    // Buttons and the busy mark of the Parse menu item
    virtual void SetRunBtnEnabled(bool enabled) = 0;
    virtual void SetAbortBtnEnabled(bool enabled) = 0;
    virtual void SetExitBtnEnabled(bool enabled) = 0;
    virtual void SetParseMenuItemTag(int tag) = 0;

    // Input queue (JobListBox): full paths with a tick each
    virtual int JobCount() const = 0;
    virtual QString JobText(int index) const = 0;
    virtual bool JobChecked(int index) const = 0;
    virtual void DeleteJob(int index) = 0;
    // Puts an entry back (a job the cluster refused), before `index`.
    virtual void InsertJob(int index, const QString &path, bool checked) = 0;

    // Processed list (DoneListBox)
    virtual void ClearDone() = 0;
    virtual void AppendDone(const QString &path) = 0;

    virtual void SetOutLabCaption(const QString &caption) = 0;
    virtual bool PowerOffChecked() const = 0;

    // SaveDialog1: asks for an output file name. Returns false on Cancel.
    virtual bool AskOutputFileName(const QString &filter, const QString &defaultSuffix,
                                   QString &fileName) = 0;

    // The view of the run's jobs (the runner's JobsModel): shown for runs
    // with several jobs at once or on a cluster.
    virtual void ShowJobsView(bool /*shown*/) {}
    // The geometry search of the job the pane follows (its output file),
    // after each step it took and when the pane follows another job.
    virtual void ShowConvergence(const ConvergenceSeries & /*series*/, const QString & /*outputFile*/) {}
};
