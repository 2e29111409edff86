// nelo-analyze: what Nelo's Parse and HOMO-LUMO commands produce, and how
// jobs ended, for many Firefly output files at once and for scripts. Output
// bytes are written as they stand in the files (single-byte text); JSON
// strings hold them as Latin-1.

#include "analysis/GeometryScanner.h"
#include "analysis/JobOutcome.h"
#include "analysis/OrbitalReport.h"
#include "platform/Errors.h"

#include <NeloVersion.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: nelo-analyze COMMAND FILE...\n"
    "       nelo-analyze COMMAND --json FILE...\n"
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
    "  outcome FILE...    how each job ended, one line per file: the file, a\n"
    "                     keyword and the reason (the output's own line where it\n"
    "                     has one), separated by tabs; in the reason a backslash\n"
    "                     is written \\\\ and a tab \\t. The keywords: normal,\n"
    "                     converged (geometry located), not-converged (too many\n"
    "                     steps, or the output ends inside the geometry search),\n"
    "                     scf-failed, abnormal (Firefly's abnormal end, with its\n"
    "                     error text), killed (no termination line), no-output.\n"
    "                     Only the end of each output is read, as far back as\n"
    "                     needed.\n"
    "\n"
    "  --json             one JSON object a line per file instead, for pipelines:\n"
    "                     {\"file\", \"entries\": [...]} (progress);\n"
    "                     {\"file\", \"name\", \"homo_ev\", \"lumo_ev\", \"gap_ev\",\n"
    "                     \"total_energy_kcal_mol\"} (homo-lumo);\n"
    "                     {\"file\", \"outcome\", \"text\", \"reason\"} (outcome);\n"
    "                     {\"file\", \"error\"} for a file that fails.\n"
    "\n"
    "A file that fails is reported on standard error as \"FILE: message\" and the\n"
    "next file is still read. Exit status: 0 when every file was read (outcome:\n"
    "and every job ended normally or converged), 1 otherwise, 2 for a usage\n"
    "error.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

void writeJson(const QJsonObject &object)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

// The entry with backslash, CR and LF (and tab, when asked) written as \\,
// \r, \n (\t), and a line feed after it, into `line` (whose buffer is reused).
void escapeLine(std::string &line, const QByteArray &entry, bool tabs = false)
{
    line.clear();
    bool plain = true; // the usual entry: nothing to escape, copied whole
    for (const char c : entry)
        plain &= c != '\\' && c != '\r' && c != '\n' && c != '\t';
    if (plain) {
        line.append(entry.constData(), std::size_t(entry.size()));
        line += '\n';
        return;
    }
    for (const char c : entry) {
        switch (c) {
        case '\\': line += "\\\\"; break;
        case '\r': line += "\\r"; break;
        case '\n': line += "\\n"; break;
        case '\t': line += tabs ? "\\t" : "\t"; break;
        default: line += c; break;
        }
    }
    line += '\n';
}

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// Runs one file's work; on failure reports it (and its JSON object) and
// returns false.
template<typename Work>
bool runForFile(const char *file, bool json, Work work)
{
    QString message;
    try {
        work(QFile::decodeName(file));
        return true;
    } catch (const NeloError &error) {
        message = error.message();
    } catch (const std::exception &error) {
        message = QString::fromLocal8Bit(error.what());
    }
    std::fprintf(stderr, "%s: %s\n", file, message.toLocal8Bit().constData());
    if (json)
        writeJson({{"file", QFile::decodeName(file)}, {"error", message}});
    return false;
}

// The HOMO-LUMO line as numbers: name, HOMO, LUMO, gap, total energy.
QJsonObject homoLumoObject(const QString &fileName, const QByteArray &line)
{
    const QByteArrayList fields = line.split('\t');
    QJsonObject object{{"file", fileName}, {"name", QFile::decodeName(fields.value(0).trimmed())}};
    const char *const keys[] = {"homo_ev", "lumo_ev", "gap_ev", "total_energy_kcal_mol"};
    for (int i = 0; i < 4; ++i)
        object.insert(QLatin1String(keys[i]), fields.value(i + 1).toDouble());
    return object;
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
    const char *command = argc >= 2 ? argv[1] : "";
    const bool json = argc >= 3 && std::strcmp(argv[2], "--json") == 0;
    const int first = json ? 3 : 2;
    const bool progress = std::strcmp(command, "progress") == 0;
    const bool homoLumo = std::strcmp(command, "homo-lumo") == 0;
    const bool outcome = std::strcmp(command, "outcome") == 0;
    if (argc <= first || !(progress || homoLumo || outcome)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Many small writes into a pipe or file: fewer, larger ones, and a pipe
    // that holds more of them before the reader has to take its turn.
    if (!::isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
#ifdef F_SETPIPE_SZ
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1024 * 1024); // fails harmlessly on anything but a pipe
#endif

    bool allGood = true;
    if (progress) {
        GeometryScanner scanner;
        QJsonArray entries;
        std::string line;
        const auto sink = [&](const QByteArray &entry) {
            if (json) {
                entries.append(latin1(entry));
            } else {
                escapeLine(line, entry);
                std::fwrite(line.data(), 1, line.size(), stdout);
            }
        };
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(argv[i], json, [&](const QString &fileName) {
                entries = QJsonArray();
                ParseOutputFile(scanner, fileName, sink);
                if (json)
                    writeJson({{"file", fileName}, {"entries", entries}});
            });
        }
    } else if (homoLumo) {
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(argv[i], json, [&](const QString &fileName) {
                const QByteArray line = ExtractOrbitalReport(fileName);
                if (json)
                    writeJson(homoLumoObject(fileName, line));
                else
                    writeOut(line + '\n');
            });
        }
    } else {
        std::string line;
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(argv[i], json, [&](const QString &fileName) {
                const OutcomeReport report = ClassifyJobOutcome(fileName);
                const std::string_view keyword = OutcomeKeyword(report.outcome);
                allGood &= OutcomeSucceeded(report.outcome);
                if (json)
                    writeJson({{"file", fileName},
                               {"outcome", QLatin1String(keyword.data(), qsizetype(keyword.size()))},
                               {"text", OutcomeText(report.outcome)},
                               {"reason", latin1(report.reason)}});
                else {
                    escapeLine(line, report.reason, true);
                    writeOut(QByteArray(argv[i]) + '\t' + QByteArray(keyword.data(), qsizetype(keyword.size())) + '\t'
                             + QByteArray(line.data(), qsizetype(line.size())));
                }
            });
        }
    }
    std::fflush(stdout);
    return allGood ? 0 : 1;
}
