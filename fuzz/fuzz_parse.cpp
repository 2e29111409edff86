// Parse (ProgressScanner::ScanFile) against one scan of the whole text made
// CR LF: any output after any text scanned before with the same scanner,
// read in pieces of any size through reads that may return less than asked.
// Entries and state must be those of the whole text.
//
// Input: the earlier text's length and bytes, the piece size, the output's
// length and bytes; what remains gives the length of each read.

#include "analysis/ProgressScanner.h"
#include "analysis/TextLines.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string before = data.ConsumeBytesAsString(data.ConsumeIntegralInRange<size_t>(0, 64));
    const size_t piece = data.ConsumeIntegralInRange<size_t>(1, 300);
    const std::string text = data.ConsumeBytesAsString(data.ConsumeIntegralInRange<size_t>(0, data.remaining_bytes()));

    ProgressScanner whole, inPieces;
    const auto ignore = [](std::string_view) {};
    whole.ScanText(before, ignore);
    inPieces.ScanText(before, ignore);
    std::vector<std::string> expected, actual;
    const QByteArray crLf = NormaliseLineEnds(QByteArray(text.data(), qsizetype(text.size())));
    whole.ScanText(std::string_view(crLf.constData(), size_t(crLf.size())),
                   [&](std::string_view entry) { expected.emplace_back(entry); });

    size_t at = 0;
    const auto read = [&](char *into, size_t wanted) {
        size_t n = std::min(wanted, text.size() - at);
        if (n > 0 && data.remaining_bytes() > 0)
            n = data.ConsumeIntegralInRange<size_t>(1, n);
        std::memcpy(into, text.data() + at, n);
        at += n;
        return std::ptrdiff_t(n);
    };
    FUZZ_CHECK(inPieces.ScanFile(read, text.size(), [&](std::string_view entry) { actual.emplace_back(entry); },
                                 piece));
    FUZZ_CHECK(actual == expected);
    FUZZ_CHECK(inPieces.LogLine() == whole.LogLine());
    FUZZ_CHECK(inPieces.StepPrefix() == whole.StepPrefix());
    return 0;
}
