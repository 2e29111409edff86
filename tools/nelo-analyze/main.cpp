// nelo-analyze: what Nelo's Parse and HOMO-LUMO commands produce, for many
// Firefly output files at once and for scripts. Output bytes are written as
// they stand in the files (single-byte text).

#include "analysis/GeometryScanner.h"
#include "analysis/OrbitalReport.h"
#include "platform/Errors.h"

#include <NeloVersion.h>

#include <QFile>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

const char Usage[] =
    "Usage: nelo-analyze COMMAND FILE...\n"
    "       nelo-analyze --help | --version\n"
    "\n"
    "Reads finished Firefly output files as Nelo does.\n"
    "\n"
    "Commands:\n"
    "  progress FILE...   the geometry-search progress entries that Parse shows,\n"
    "                     one entry a line; one scan state runs through all files\n"
    "                     in order, as in one Nelo session. Inside an entry a\n"
    "                     backslash is written \\\\, CR \\r and LF \\n.\n"
    "  homo-lumo FILE...  one HOMO-LUMO table line per file: name, HOMO, LUMO and\n"
    "                     gap in eV, total energy in kcal/mol, separated by tabs.\n"
    "\n"
    "A file that fails is reported on standard error as \"FILE: message\" and the\n"
    "next file is still read. Exit status: 0 when every file was read, 1 when\n"
    "any failed, 2 for a usage error.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

void reportFailure(const char *file, const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", file, message.toLocal8Bit().constData());
}

QByteArray escaped(const QByteArray &entry)
{
    QByteArray text;
    text.reserve(entry.size() + 8);
    for (const char c : entry) {
        switch (c) {
        case '\\': text += "\\\\"; break;
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        default: text += c; break;
        }
    }
    return text;
}

// Runs one file's work; on failure reports it and returns false.
template<typename Work>
bool runForFile(const char *file, Work work)
{
    try {
        work(QFile::decodeName(file));
        return true;
    } catch (const NeloError &error) {
        reportFailure(file, error.message());
    } catch (const std::exception &error) {
        reportFailure(file, QString::fromLocal8Bit(error.what()));
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("nelo-analyze " NELO_VERSION "\n", stdout);
        return 0;
    }
    const bool progress = argc >= 3 && std::strcmp(argv[1], "progress") == 0;
    const bool homoLumo = argc >= 3 && std::strcmp(argv[1], "homo-lumo") == 0;
    if (!progress && !homoLumo) {
        std::fputs(Usage, stderr);
        return 2;
    }

    bool allRead = true;
    if (progress) {
        GeometryScanner scanner;
        const auto printEntry = [](const QByteArray &entry) {
            writeOut(escaped(entry));
            writeOut("\n");
        };
        for (int i = 2; i < argc; ++i) {
            allRead &= runForFile(argv[i], [&](const QString &fileName) {
                ParseOutputFile(scanner, fileName, printEntry);
            });
        }
    } else {
        for (int i = 2; i < argc; ++i) {
            allRead &= runForFile(argv[i], [](const QString &fileName) {
                writeOut(ExtractOrbitalReport(fileName) + '\n');
            });
        }
    }
    std::fflush(stdout);
    return allRead ? 0 : 1;
}
