#pragma once

#include "Options.h"

#include <string>
#include <string_view>

// The output file as Firefly writes it: lines end with CR LF, text reaches
// the file in pieces (everything gathered since the last pause is written at
// once, as Firefly flushes its output between stages of the run), and the
// pauses between pieces let a person watch the run progress.
//
// Applies the test controls that act on writing: the pace of the pauses,
// a crash after a number of lines, no output file at all, and a last line
// without line break.
class OutputSink
{
public:
    explicit OutputSink(const Options &options);
    ~OutputSink();
    OutputSink(const OutputSink &) = delete;
    OutputSink &operator=(const OutputSink &) = delete;

    // Creates (truncates) the output file. False, with errno set, on failure.
    bool open(const std::string &path);

    void line(std::string_view text);
    void blank() { line({}); }
    // Writes what was gathered, then waits nominalMs times the pace.
    void pause(int nominalMs);
    // Writes bytes as they are, at once (replay and burst).
    void raw(std::string_view bytes);
    // Writes what was gathered; the last line loses its CR LF when asked.
    void finish(bool lastLineWithoutBreak);

    long long bytesWritten() const { return m_written; }
    void sleepMs(double ms) const;

private:
    void write(std::string_view bytes);

    const Options &m_options;
    int m_fd = -1;
    std::string m_pending;
    long m_lines = 0;
    long long m_written = 0;
};
