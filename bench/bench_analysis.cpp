// Benchmarks of the output analysis on synthetic optimisation outputs of
// 10 MB and 100 MB (thousands of steps), written to a temporary folder:
//   - the progress scanner on text in memory (again and again, and with the
//     CPU caches emptied before each scan),
//   - Parse: the file read, line ends made CR LF, one scan,
//   - the HOMO-LUMO line of the 100 MB output (load, split, extract).
//
// bench_analysis --write DIR writes the two outputs (opt-10MB.out,
// opt-100MB.out) into DIR and exits; bench/scan_vs_grep.sh uses them.

#include "SyntheticOutput.h"

#include "analysis/GeometryScanner.h"
#include "analysis/OrbitalReport.h"
#include "analysis/TextLines.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <cstring>
#include <map>

namespace {

constexpr qsizetype MB = 1000 * 1000;

QString g_dir;

QString outputPath(int megabytes)
{
    return QDir(g_dir).filePath(QStringLiteral("opt-%1MB.out").arg(megabytes));
}

bool writeOutputs(const QString &dir)
{
    for (int megabytes : {10, 100}) {
        QFile file(QDir(dir).filePath(QStringLiteral("opt-%1MB.out").arg(megabytes)));
        const QByteArray text = SyntheticOptimisationOutput(megabytes * MB);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return false;
        }
    }
    return true;
}

const QByteArray &textOf(int megabytes)
{
    static std::map<int, QByteArray> texts;
    QByteArray &text = texts[megabytes];
    if (text.isEmpty())
        text = LoadCrLfText(outputPath(megabytes)); // the buffer Parse scans (huge pages)
    return text;
}

// Writes a buffer twice the size of the last-level cache, so that the next
// scan reads its text from memory, as a scan of a file read once does. A
// 10 MB text fits in the cache of this machine's class (32 MiB) and a 100 MB
// one does not: repeated warm scans compare cache speed with memory speed.
void evictCaches()
{
    static QByteArray scratch(64 * 1024 * 1024, '\0');
    char *data = scratch.data();
    for (qsizetype i = 0; i < scratch.size(); i += 64)
        data[i] = char(data[i] + 1);
    benchmark::ClobberMemory();
}

void scanBenchmark(benchmark::State &state, bool cold)
{
    const QByteArray &text = textOf(int(state.range(0)));
    const std::string_view view(text.constData(), std::size_t(text.size()));
    std::size_t entries = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            evictCaches();
            state.ResumeTiming();
        }
        GeometryScanner scanner;
        entries = 0;
        scanner.ScanGeometryProgress(view, [&](const QByteArray &) { ++entries; });
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
    state.counters["entries"] = double(entries);
    state.counters["MB"] = double(text.size()) / MB;
}

void BM_ScanGeometryProgress(benchmark::State &state) { scanBenchmark(state, false); }
BENCHMARK(BM_ScanGeometryProgress)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ScanGeometryProgressCold(benchmark::State &state) { scanBenchmark(state, true); }
BENCHMARK(BM_ScanGeometryProgressCold)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ParseOutputFile(benchmark::State &state)
{
    const QString path = outputPath(int(state.range(0)));
    const qint64 size = QFileInfo(path).size();
    std::size_t entries = 0;
    for (auto _ : state) {
        GeometryScanner scanner;
        entries = 0;
        ParseOutputFile(scanner, path, [&](const QByteArray &) { ++entries; });
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    state.counters["entries"] = double(entries);
}
BENCHMARK(BM_ParseOutputFile)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ExtractOrbitalReport(benchmark::State &state)
{
    const QString path = outputPath(int(state.range(0)));
    const qint64 size = QFileInfo(path).size();
    QByteArray line;
    for (auto _ : state) {
        line = ExtractOrbitalReport(path);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    state.SetLabel(line.replace('\t', ' ').toStdString());
}
BENCHMARK(BM_ExtractOrbitalReport)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0)
        return writeOutputs(QString::fromLocal8Bit(argv[2])) ? 0 : 1;

    QTemporaryDir dir;
    if (!dir.isValid() || !writeOutputs(dir.path()))
        return 1;
    g_dir = dir.path();

    // Every Parse gets new memory from the system for its text, as a
    // program's first Parse does. Left to itself, glibc raises its mmap
    // threshold after the first free of a large block up to 32 MiB, and the
    // 10 MB Parse would then reuse pages already touched and skip the kernel's
    // zeroing of new pages that the 100 MB Parse pays each time.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
