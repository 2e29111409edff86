// nelo-analyze's commands that need Qt (Commands.h), built as a module.

#include "Commands.h"
#include "Output.h"

#include "analysis/ContinuationDeck.h"
#include "analysis/GeometryScanner.h"
#include "analysis/JobOutcome.h"
#include "analysis/OrbitalReport.h"
#include "platform/Errors.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

namespace {

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

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
        work(QFile::decodeName(file), file);
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

int NeloAnalyzeCommands(const char *command, bool json, int fileCount, char **files, const ProgressState *state)
{
    Output out;
    bool allGood = true;
    const auto eachFile = [&](auto work) {
        for (int i = 0; i < fileCount; ++i)
            allGood &= runForFile(out, files[i], json, work);
    };
    if (std::strcmp(command, "progress") == 0) {
        GeometryScanner scanner;
        if (state)
            scanner.Scanner().SetState({state->logLine, state->logLineSize}, {state->stepPrefix, state->stepPrefixSize});
        QJsonArray entries;
        const auto sink = [&](const QByteArray &entry) {
            if (json)
                entries.append(latin1(entry));
            else
                out.appendEscaped(view(entry));
        };
        eachFile([&](const QString &fileName, const char *) {
            entries = QJsonArray();
            ParseOutputFile(scanner, fileName, sink);
            if (json)
                writeJson(out, {{"file", fileName}, {"entries", entries}});
        });
    } else if (std::strcmp(command, "continue") == 0) {
        // One output and perhaps its input: the deck, or why there is none.
        allGood = runForFile(out, files[0], false, [&](const QString &fileName, const char *file) {
            const ContinuationDeck deck =
                ContinueFromOutput(fileName, fileCount > 1 ? QFile::decodeName(files[1]) : QString(), false);
            if (deck.refusal != ContinuationDeck::Refusal::None) {
                std::fprintf(stderr, "%s: %s\n", file, deck.reason.toLocal8Bit().constData());
                allGood = false;
                return;
            }
            out.append(view(deck.deck));
        }) && allGood;
    } else if (std::strcmp(command, "homo-lumo") == 0) {
        eachFile([&](const QString &fileName, const char *) {
            const QByteArray line = ExtractOrbitalReport(fileName);
            if (json)
                writeJson(out, homoLumoObject(fileName, line));
            else
                out.append(view(line + '\n'));
        });
    } else {
        eachFile([&](const QString &fileName, const char *file) {
            const OutcomeReport report = ClassifyJobOutcome(fileName);
            const std::string_view keyword = OutcomeKeyword(report.outcome);
            allGood &= OutcomeSucceeded(report.outcome);
            if (json) {
                writeJson(out, {{"file", fileName},
                                {"outcome", QLatin1String(keyword.data(), qsizetype(keyword.size()))},
                                {"text", OutcomeText(report.outcome)},
                                {"reason", latin1(report.reason)}});
            } else {
                out.append(file);
                out.append("\t");
                out.append(keyword);
                out.append("\t");
                out.appendEscaped(view(report.reason), true);
            }
        });
    }
    return allGood ? 0 : 1;
}
