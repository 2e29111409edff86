#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

// Follows the bytes of a growing Firefly output file, one read at a time, and
// keeps what the output pane shows: the last 100 lines.
//
// Each read is split at its last line feed. What stands before it completes
// lines; the rest is an incomplete last line, carried until a later read
// brings its line feed. Firefly writes CR LF line ends; a CR just before the
// split point is dropped with the LF, and CR LF, LF or CR end lines inside.
// A read without any line feed only grows the carried text. When Firefly has
// ended, Finish() takes a last line without line break as complete: it is
// often Firefly's own error message.
//
// Bounds, whatever the file holds: an unterminated line keeps its first
// LineLimit bytes (the carried text never grows beyond that, so a line of
// many megabytes without a line feed costs no more memory); each line in the
// pane keeps its first PaneLineLimit bytes, so the pane text stays below
// 100 * (PaneLineLimit + 1) bytes.
//
// Widget-free: the job monitor hands Batch() to the progress scanner and
// PaneText() to the output pane.
class OutputFollower
{
public:
    static constexpr int TailLines = 100;
    static constexpr qsizetype LineLimit = 256 * 1024;
    static constexpr qsizetype PaneLineLimit = 8 * 1024;

    // Takes the bytes of one read; true when they complete at least one line.
    bool Feed(QByteArrayView bytes);
    // The output has ended: true when a last line without line break was left.
    bool Finish();

    // The lines completed by the last Feed or Finish that returned true: the
    // previous incomplete line joined with the complete lines of this read,
    // line ends inside as written, no final line break.
    const QByteArray &Batch() const { return m_batch; }
    // The incomplete last line read so far.
    const QByteArray &CarriedText() const { return m_carried; }
    // The last lines, at most TailLines, each followed by LF.
    QByteArray PaneText() const;
    int TailLineCount() const { return int(m_tail.size()); }

private:
    void AddToTail(QByteArrayView text);

    QByteArray m_carried;
    QByteArray m_batch;
    QByteArrayList m_tail;
};
