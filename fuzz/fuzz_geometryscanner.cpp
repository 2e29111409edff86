// The geometry-progress scanner against the literal rules: output fed in
// pieces of any length, as the monitor hands them over, with one scanner
// state carried across the pieces. Entries and state must agree after every
// piece.
//
// Input: the text's bytes; the piece lengths are taken from the end.

#include "analysis/GeometryScanner.h"
#include "fuzz/FuzzCheck.h"
#include "tests/helpers/LiteralGeometryScanner.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    GeometryScanner scanner;
    LiteralScanner literal;
    do {
        const size_t length = data.ConsumeIntegralInRange<size_t>(0, data.remaining_bytes());
        const std::string piece = data.ConsumeBytesAsString(length);
        const QByteArrayList expected = literal.scan(piece);
        QByteArrayList actual;
        scanner.ScanGeometryProgress(piece, [&](const QByteArray &entry) { actual << entry; });
        FUZZ_CHECK(actual == expected);
        FUZZ_CHECK(scanner.LogLine() == literal.logLine);
        FUZZ_CHECK(scanner.StepPrefix() == literal.stepPrefix);
    } while (data.remaining_bytes() > 0);
    return 0;
}
