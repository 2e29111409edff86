#include "analysis/JobOutcome.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/TextLines.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <functional>
#include <vector>
#include <string.h> // sigabbrev_np, memrchr

namespace {

constexpr qint64 TailBytes = 64 * 1024; // where the termination line is looked for
constexpr qint64 FirstBlock = 16 * 1024;
constexpr qint64 MaxBlock = 1024 * 1024;
constexpr std::size_t LineHead = 256;
constexpr int ErrorLines = 3;

// The lines of a text from the last to the first, read backwards in blocks
// (the first one the last FirstBlock bytes, then each twice the size of the
// one before, up to MaxBlock) into one buffer, which the caller may keep for the
// next text. Only the first LineHead bytes of each line are kept, so a line
// of any length costs no more memory than that.
class BackwardLines
{
public:
    // Reads `length` bytes from `offset` into `into`; throws on failure.
    using Read = std::function<void(qint64 offset, char *into, qint64 length)>;

    BackwardLines(qint64 size, Read read, std::vector<char> &buffer)
        : m_read(std::move(read)), m_buffer(buffer), m_end(size), m_bufferStart(size), m_done(size == 0)
    {
    }

    // The previous line's first bytes (up to its LF, so a line ended by
    // CR LF keeps its CR); false before the first line. A text that ends
    // with LF has an empty line after it, the first one returned.
    bool Previous(std::string_view &head)
    {
        if (m_done)
            return false;
        for (;;) {
            const qint64 searched = std::max<qint64>(0, std::min(m_end, m_bufferStart + m_used) - m_bufferStart);
            const char *const data = m_buffer.data();
            const void *lf = searched > 0 ? memrchr(data, '\n', std::size_t(searched)) : nullptr;
            if (lf || m_bufferStart == 0) {
                const qint64 start = lf ? static_cast<const char *>(lf) - data + 1 : 0;
                m_lineStart = m_bufferStart + start;
                head = std::string_view(data + start, std::size_t(std::min<qint64>(searched - start, LineHead)));
                m_end = m_lineStart - 1;
                m_done = m_lineStart == 0;
                return true;
            }
            // Bytes further back; the first LineHead bytes of the unfinished
            // line are kept behind them, the rest of it (no LF there) is dropped.
            const qint64 length = std::min(m_bufferStart, m_block);
            m_block = std::min(2 * m_block, MaxBlock);
            const qint64 kept = std::min<qint64>(searched, LineHead);
            if (m_buffer.size() < std::size_t(length + kept))
                m_buffer.resize(std::size_t(length + kept));
            std::memmove(m_buffer.data() + length, m_buffer.data(), std::size_t(kept));
            m_read(m_bufferStart - length, m_buffer.data(), length);
            m_used = length + kept;
            m_bufferStart -= length;
        }
    }

    qint64 LineStart() const { return m_lineStart; }

private:
    Read m_read;
    std::vector<char> &m_buffer; // m_used bytes from m_bufferStart on
    qint64 m_used = 0;
    qint64 m_end;                // where the next line ends (its LF, or the end of the text)
    qint64 m_bufferStart;
    qint64 m_block = FirstBlock;
    qint64 m_lineStart = 0;
    bool m_done;
};

enum class Mark { None, Normal, Abnormal, Located, TooManySteps, ScfFailed, ScfConverged, Search };

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// What a line of Firefly output says about the end of the job, by the text
// behind its leading blanks and asterisks.
Mark markOf(std::string_view line)
{
    using namespace FireflyMarkers;
    std::string_view text = line;
    while (!text.empty() && (text.front() == ' ' || text.front() == '*'))
        text.remove_prefix(1);
    if (text.empty())
        return Mark::None;
    switch (text.front()) {
    case 'E':
        if (startsWith(text, Execution)) {
            if (contains(text, TerminatedNormally))
                return Mark::Normal;
            if (contains(text, TerminatedAbnormally))
                return Mark::Abnormal;
        }
        if (startsWith(text, EquilibriumLocated))
            return Mark::Located;
        if (startsWith(text, EnergyConverged))
            return Mark::ScfConverged;
        break;
    case 'S':
        if (startsWith(text, ScfUnconverged))
            return Mark::ScfFailed;
        if (startsWith(text, SaddlePointLocated))
            return Mark::Located;
        break;
    case 'F':
        if (startsWith(text, NoStationaryPoint))
            return contains(text, Scf) ? Mark::ScfFailed : Mark::TooManySteps;
        break;
    case 'D':
        if (startsWith(text, DensityConverged))
            return Mark::ScfConverged;
        break;
    case 'N':
        if (startsWith(text, StepWord))
            return Mark::Search;
        break;
    case 'P':
        if (startsWith(text, SearchParameters))
            return Mark::Search;
        break;
    default:
        break;
    }
    return Mark::None;
}

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// How the process ended, in words; a cluster's own word for the job's end
// comes first ("TIMEOUT, signal 15 (SIGTERM)").
QByteArray processText(const ProcessEnd &end)
{
    QByteArray text;
    if (end.kind == ProcessEnd::Kind::Signalled) {
        const char *name = sigabbrev_np(end.code);
        text = "signal " + QByteArray::number(end.code) + (name ? " (SIG" + QByteArray(name) + ")" : QByteArray());
    } else if (end.kind == ProcessEnd::Kind::Exited) {
        text = "exit status " + QByteArray::number(end.code);
    }
    if (end.schedulerState.isEmpty())
        return text;
    return end.scheduler + ": " + end.schedulerState + (text.isEmpty() ? QByteArray() : ", " + text);
}

bool endedBadly(const ProcessEnd &end)
{
    return end.kind == ProcessEnd::Kind::Signalled || (end.kind == ProcessEnd::Kind::Exited && end.code != 0);
}

OutcomeReport classify(BackwardLines &lines, qint64 size, const ProcessEnd &end)
{
    const bool aborted = end.kind == ProcessEnd::Kind::Aborted;
    if (size == 0) {
        if (aborted)
            return {JobOutcome::Aborted, QByteArray()};
        if (end.kind == ProcessEnd::Kind::Signalled)
            return {JobOutcome::Killed, processText(end)};
        return {JobOutcome::NoOutput, "the output file is empty"};
    }

    Mark termination = Mark::None, verdict = Mark::None;
    QByteArray terminationLine, verdictLine, lastLine, errorText;
    int errorLines = 0;
    bool collecting = false; // gathering the error text above an abnormal end
    std::string_view line;
    while (lines.Previous(line)) {
        const std::string_view text = trimmed(line);
        const bool inTail = size - lines.LineStart() <= TailBytes;
        if (text.empty()) {
            collecting = collecting && errorLines == 0;
            continue;
        }
        if (lastLine.isEmpty())
            lastLine = bytes(text);
        if (aborted)
            break; // the last line is all Abort's reason needs
        const Mark mark = markOf(text);
        if (termination == Mark::None && inTail && (mark == Mark::Normal || mark == Mark::Abnormal)) {
            termination = mark;
            terminationLine = bytes(text);
            verdict = Mark::None; // what follows Firefly's last line does not count
            collecting = mark == Mark::Abnormal;
            continue;
        }
        if (collecting) {
            collecting = mark == Mark::None || mark == Mark::ScfFailed || mark == Mark::TooManySteps;
            if (collecting)
                errorText = bytes(text) + (errorText.isEmpty() ? QByteArray() : " " + errorText);
            collecting = collecting && ++errorLines < ErrorLines;
        }
        if (verdict == Mark::None && mark != Mark::None && mark != Mark::Normal && mark != Mark::Abnormal) {
            verdict = mark;
            verdictLine = bytes(text);
        }
        const bool terminationKnown = termination != Mark::None || !inTail;
        if (terminationKnown && !collecting
            && (verdict != Mark::None || (termination == Mark::None && endedBadly(end))))
            break;
    }

    if (aborted)
        return {JobOutcome::Aborted, lastLine};
    if (termination == Mark::None && endedBadly(end))
        return {JobOutcome::Killed, processText(end)};
    if (verdict == Mark::ScfFailed)
        return {JobOutcome::ScfFailed, verdictLine};
    if (verdict == Mark::TooManySteps)
        return {JobOutcome::NotConverged, verdictLine};
    if (termination == Mark::Abnormal)
        return {JobOutcome::Abnormal, errorText.isEmpty() ? terminationLine : errorText};
    if (verdict == Mark::Search)
        return {JobOutcome::NotConverged, verdictLine};
    if (termination == Mark::None)
        return {JobOutcome::Killed, end.schedulerState.isEmpty() ? QByteArray("no termination line")
                                                               : "no termination line; " + processText(end)};
    if (verdict == Mark::Located)
        return {JobOutcome::Converged, verdictLine};
    return {JobOutcome::Normal, terminationLine};
}

// One buffer per thread for all outputs read: classifying many small files
// costs no memory from the system for each (at most MaxBlock + LineHead).
std::vector<char> &scratch()
{
    thread_local std::vector<char> buffer;
    return buffer;
}

} // namespace

std::string_view OutcomeKeyword(JobOutcome outcome)
{
    switch (outcome) {
    case JobOutcome::Normal: return "normal";
    case JobOutcome::Converged: return "converged";
    case JobOutcome::NotConverged: return "not-converged";
    case JobOutcome::ScfFailed: return "scf-failed";
    case JobOutcome::Abnormal: return "abnormal";
    case JobOutcome::Aborted: return "aborted";
    case JobOutcome::Killed: return "killed";
    case JobOutcome::NoOutput: return "no-output";
    }
    return "no-output";
}

QString OutcomeText(JobOutcome outcome)
{
    switch (outcome) {
    case JobOutcome::Normal: return QStringLiteral("Ended normally");
    case JobOutcome::Converged: return QStringLiteral("Optimisation converged");
    case JobOutcome::NotConverged: return QStringLiteral("Optimisation not converged");
    case JobOutcome::ScfFailed: return QStringLiteral("SCF not converged");
    case JobOutcome::Abnormal: return QStringLiteral("Ended abnormally");
    case JobOutcome::Aborted: return QStringLiteral("Aborted by the user");
    case JobOutcome::Killed: return QStringLiteral("Killed by a signal or crashed");
    case JobOutcome::NoOutput: return QStringLiteral("No output");
    }
    return QString();
}

bool OutcomeSucceeded(JobOutcome outcome)
{
    return outcome == JobOutcome::Normal || outcome == JobOutcome::Converged;
}

OutcomeReport ClassifyOutputText(std::string_view text, const ProcessEnd &end)
{
    BackwardLines lines(qint64(text.size()), [text](qint64 offset, char *into, qint64 length) {
        std::memcpy(into, text.data() + offset, std::size_t(length));
    }, scratch());
    return classify(lines, qint64(text.size()), end);
}

OutcomeReport ClassifyJobOutcome(const QString &outputFile, const ProcessEnd &end)
{
    QFile file(outputFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (QFileInfo::exists(outputFile))
            throw FileError("open", file);
        if (end.kind == ProcessEnd::Kind::Aborted)
            return {JobOutcome::Aborted, QByteArray()};
        if (end.kind == ProcessEnd::Kind::Signalled)
            return {JobOutcome::Killed, processText(end)};
        return {JobOutcome::NoOutput, "no output file"};
    }
    const auto read = [&](qint64 offset, char *into, qint64 length) {
        if (!file.seek(offset) || file.read(into, length) != length)
            throw FileError("read", file);
    };
    const qint64 size = file.size();
    BackwardLines lines(size, read, scratch());
    return classify(lines, size, end);
}
