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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <string_view>
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

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

// Standard output, gathered and written with write(2) in blocks of 64 KiB,
// or line by line to a terminal: thousands of entries cost a few dozen
// system calls, and a reader at the other end of a pipe is woken as often.
class Output
{
public:
    Output() : m_lines(::isatty(STDOUT_FILENO) == 1) { m_buffer.reserve(Block + 4096); }
    ~Output() { flush(); }

    void append(std::string_view bytes)
    {
        m_buffer.append(bytes);
        written();
    }

    // The entry with backslash, CR and LF (and tab, when asked) written as
    // \\, \r, \n (\t), and a line feed after it.
    void appendEscaped(std::string_view entry, bool tabs = false)
    {
        // The usual entry has nothing to escape and is copied whole. The test
        // takes in every control byte up to CR and ORs bytes, not bools, so
        // that the compiler checks 16 bytes at a time.
        unsigned char special = 0;
        for (const char c : entry)
            special |= static_cast<unsigned char>((static_cast<unsigned char>(c) <= '\r') | (c == '\\'));
        if (special == 0) {
            m_buffer.append(entry);
        } else {
            for (const char c : entry) {
                switch (c) {
                case '\\': m_buffer += "\\\\"; break;
                case '\r': m_buffer += "\\r"; break;
                case '\n': m_buffer += "\\n"; break;
                case '\t': m_buffer += tabs ? "\\t" : "\t"; break;
                default: m_buffer += c; break;
                }
            }
        }
        m_buffer += '\n';
        written();
    }

    // Writes what is gathered. A failed write loses it, as stdio would.
    void flush()
    {
        for (std::size_t done = 0; done < m_buffer.size();) {
            const ssize_t n = ::write(STDOUT_FILENO, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        m_buffer.clear();
    }

private:
    static constexpr std::size_t Block = 64 * 1024;

    void written()
    {
        if (m_buffer.size() >= Block || (m_lines && !m_buffer.empty() && m_buffer.back() == '\n'))
            flush();
    }

    std::string m_buffer;
    bool m_lines;
};

void writeJson(Output &out, const QJsonObject &object)
{
    out.append(view(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'));
}

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// Runs one file's work; on failure reports it (and its JSON object) and
// returns false.
template<typename Work>
bool runForFile(Output &out, const char *file, bool json, Work work)
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
    out.flush(); // the entries of the files before, then the message
    std::fprintf(stderr, "%s: %s\n", file, message.toLocal8Bit().constData());
    if (json)
        writeJson(out, {{"file", QFile::decodeName(file)}, {"error", message}});
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
    // A pipe that holds more blocks before the reader has to take its turn.
#ifdef F_SETPIPE_SZ
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1024 * 1024); // fails harmlessly on anything but a pipe
#endif

    Output out;
    bool allGood = true;
    if (progress) {
        GeometryScanner scanner;
        QJsonArray entries;
        const auto sink = [&](const QByteArray &entry) {
            if (json)
                entries.append(latin1(entry));
            else
                out.appendEscaped(view(entry));
        };
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(out, argv[i], json, [&](const QString &fileName) {
                entries = QJsonArray();
                ParseOutputFile(scanner, fileName, sink);
                if (json)
                    writeJson(out, {{"file", fileName}, {"entries", entries}});
            });
        }
    } else if (homoLumo) {
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(out, argv[i], json, [&](const QString &fileName) {
                const QByteArray line = ExtractOrbitalReport(fileName);
                if (json)
                    writeJson(out, homoLumoObject(fileName, line));
                else
                    out.append(view(line + '\n'));
            });
        }
    } else {
        for (int i = first; i < argc; ++i) {
            allGood &= runForFile(out, argv[i], json, [&](const QString &fileName) {
                const OutcomeReport report = ClassifyJobOutcome(fileName);
                const std::string_view keyword = OutcomeKeyword(report.outcome);
                allGood &= OutcomeSucceeded(report.outcome);
                if (json) {
                    writeJson(out, {{"file", fileName},
                                    {"outcome", QLatin1String(keyword.data(), qsizetype(keyword.size()))},
                                    {"text", OutcomeText(report.outcome)},
                                    {"reason", latin1(report.reason)}});
                } else {
                    out.append(argv[i]);
                    out.append("\t");
                    out.append(keyword);
                    out.append("\t");
                    out.appendEscaped(view(report.reason), true);
                }
            });
        }
    }
    return allGood ? 0 : 1;
}
