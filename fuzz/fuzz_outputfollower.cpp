// The monitor's line splitting: any output, read in any sequence of pieces
// (as a growing file is read), gives the same lines as the whole text split
// at once: the batches handed to the scanner join to the text up to its last
// line feed, and the pane holds its last lines.
//
// Input: the output's bytes; the read lengths are taken from the end.

#include "fuzz/FuzzCheck.h"
#include "jobs/OutputFollower.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Lines split at CR LF, LF or lone CR; the piece after the last line end is
// a line too.
QByteArrayList splitLines(const QByteArray &text)
{
    QByteArrayList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r')
            continue;
        lines << text.sliced(start, i - start);
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    return lines;
}

QByteArray chopCr(QByteArray text)
{
    if (text.endsWith('\r'))
        text.chop(1);
    return text;
}

void checkPane(const OutputFollower &follower, const QByteArrayList &lines)
{
    QByteArray expected;
    for (qsizetype i = std::max<qsizetype>(0, lines.size() - OutputFollower::TailLines); i < lines.size(); ++i)
        expected += lines[i].left(OutputFollower::PaneLineLimit) + '\n';
    FUZZ_CHECK(follower.PaneText() == expected);
    FUZZ_CHECK(follower.TailLineCount() == std::min<qsizetype>(lines.size(), OutputFollower::TailLines));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size >= size_t(OutputFollower::LineLimit))
        return -1; // lines beyond the carried-text bound are cut: the plain split no longer applies

    FuzzedDataProvider data(bytes, size);
    OutputFollower follower;
    QByteArray all;          // everything read so far
    QByteArrayList batches;  // what the scanner was handed, one per completing read
    QByteArray carried;      // the text after the last line feed
    int reads = 0;
    do {
        const size_t length = data.ConsumeIntegralInRange<size_t>(0, data.remaining_bytes());
        const QByteArray read = QByteArray::fromStdString(data.ConsumeBytesAsString(length));
        all += read;
        const bool completed = follower.Feed(read);
        FUZZ_CHECK(completed == read.contains('\n'));
        if (completed)
            batches << follower.Batch();

        const qsizetype readLf = read.lastIndexOf('\n');
        carried = readLf >= 0 ? read.sliced(readLf + 1) : carried + read;
        FUZZ_CHECK(follower.CarriedText() == carried);

        // Complete: everything up to the last line feed, less a CR before it.
        // (Checked after each of the first reads only, to keep runs fast.)
        if (++reads > 8)
            continue;
        const qsizetype lastLf = all.lastIndexOf('\n');
        if (lastLf >= 0) {
            const QByteArrayList lines = splitLines(chopCr(all.first(lastLf)));
            QByteArrayList batchLines;
            for (const QByteArray &batch : batches)
                batchLines += splitLines(batch);
            FUZZ_CHECK(batchLines == lines);
            checkPane(follower, lines);
        } else {
            FUZZ_CHECK(follower.TailLineCount() == 0);
        }
    } while (data.remaining_bytes() > 0);

    // Firefly has ended: a last line without line break counts too.
    const qsizetype lastLf = all.lastIndexOf('\n');
    const QByteArray rest = all.sliced(lastLf + 1);
    FUZZ_CHECK(follower.Finish() == !rest.isEmpty());
    if (!rest.isEmpty())
        batches << follower.Batch();
    QByteArrayList lines = lastLf >= 0 ? splitLines(chopCr(all.first(lastLf))) : QByteArrayList();
    if (!rest.isEmpty())
        lines += splitLines(chopCr(rest));
    QByteArrayList batchLines;
    for (const QByteArray &batch : batches)
        batchLines += splitLines(batch);
    FUZZ_CHECK(batchLines == lines);
    checkPane(follower, lines);
    FUZZ_CHECK(follower.CarriedText().isEmpty());
    return 0;
}
