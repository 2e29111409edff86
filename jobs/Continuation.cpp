#include "jobs/Continuation.h"

#include "analysis/ContinuationDeck.h"
#include "jobs/IniFile.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView Section("Continue");
constexpr QByteArrayView Key("MaxContinuations");

// "NAME-cont12" of a file name without its extension.
const QRegularExpression &contSuffix()
{
    static const QRegularExpression pattern(QStringLiteral("^(.*)-cont([1-9][0-9]{0,8})$"));
    return pattern;
}

struct Parts
{
    QString folder; // with its "/", or empty
    QString stem;   // the name without its extension
    QString suffix; // ".inp", or empty
};

Parts parts(const QString &path)
{
    Parts p;
    p.folder = Paths::FolderPart(path);
    p.stem = Paths::BaseName(path);
    p.suffix = Paths::FileNamePart(path).mid(p.stem.size());
    return p;
}

bool taken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Gives the written temporary file the name, unless a file has it: false then.
bool claim(const QString &temporary, const QString &path)
{
    const QByteArray from = QFile::encodeName(temporary), to = QFile::encodeName(path);
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    // No hard links on this file system: the name is created exclusively
    // and the bytes copied, or nothing is left.
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        if (errno == EEXIST)
            return false;
        throw EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath());
    }
    QFile source(temporary);
    const QByteArray bytes = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(out, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (n <= 0 && errno != EINTR)
            break;
        written += n > 0 ? n : 0;
    }
    const bool whole = written == bytes.size() && ::fsync(out) == 0;
    ::close(out);
    if (!whole) {
        ::unlink(to.constData());
        throw EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath());
    }
    ::unlink(from.constData());
    return true;
}

} // namespace

void LoadContinueSettings(TContinueSettings &settings, const IniFile &file)
{
    const std::optional<QByteArray> value = file.value(Section, Key);
    const std::optional<qint32> number = value ? ReadSettingsNumber(*value) : std::nullopt;
    settings.MaxContinuations = number && *number >= 0 && *number <= MaxAutoContinuations ? *number
                                                                                           : TContinueSettings().MaxContinuations;
}

void LoadContinueSettings(TContinueSettings &settings, const QString &fileName)
{
    LoadContinueSettings(settings, IniFile::load(fileName));
}

void StoreContinueSettings(const TContinueSettings &settings, IniFile &file)
{
    if (settings.MaxContinuations == TContinueSettings().MaxContinuations && !file.value(Section, Key))
        return;
    file.setValue(Section, Key, QByteArray::number(settings.MaxContinuations));
}

QString GuessedInputOf(const QString &output)
{
    const Parts p = parts(output);
    const QString plain = p.folder + p.stem + QStringLiteral(".inp");
    static const QRegularExpression numbered(QStringLiteral("^(.*)_[0-9]+$"));
    const QRegularExpressionMatch match = numbered.match(p.stem);
    if (!taken(plain) && match.hasMatch()) {
        const QString original = p.folder + match.captured(1) + QStringLiteral(".inp");
        if (taken(original))
            return original;
    }
    return plain;
}

int ContinuationNumber(const QString &input)
{
    const QRegularExpressionMatch match = contSuffix().match(parts(input).stem);
    return match.hasMatch() ? match.captured(2).toInt() : 0;
}

QString OriginalName(const QString &input)
{
    const Parts p = parts(input);
    const QRegularExpressionMatch match = contSuffix().match(p.stem);
    return match.hasMatch() ? p.folder + match.captured(1) + p.suffix : input;
}

QString ContinuationName(const QString &input)
{
    const Parts p = parts(input);
    const QRegularExpressionMatch match = contSuffix().match(p.stem);
    const QString base = p.folder + (match.hasMatch() ? match.captured(1) : p.stem) + QStringLiteral("-cont");
    const QString suffix = p.suffix.isEmpty() ? QStringLiteral(".inp") : p.suffix;
    for (qint64 n = ContinuationNumber(input) + 1;; ++n) {
        const QString candidate = base + QString::number(n) + suffix;
        if (!taken(candidate))
            return candidate;
    }
}

QString WriteContinuation(const QString &input, const QByteArray &deck)
{
    const QString folder = QFileInfo(input).absolutePath();
    QTemporaryFile temporary(folder + QStringLiteral("/.nelo-continuation-XXXXXX"));
    if (!temporary.open() || temporary.write(deck) != deck.size() || !temporary.flush()
        || ::fsync(temporary.handle()) != 0)
        throw EWriteError::unableToWrite(QFileInfo(ContinuationName(input)).absoluteFilePath());
    temporary.close();
    // A name taken between the look and the claim is passed over.
    for (int tries = 0; tries < 1000; ++tries) {
        const QString name = ContinuationName(input);
        if (claim(temporary.fileName(), name)) {
            temporary.setAutoRemove(false); // it has gone to its name
            QFile::setPermissions(name, QFileInfo(input).exists() ? QFile::permissions(input)
                                                                   : QFile::ReadOwner | QFile::WriteOwner
                                                                         | QFile::ReadGroup | QFile::ReadOther);
            return name;
        }
    }
    throw EWriteError::unableToWrite(QFileInfo(ContinuationName(input)).absoluteFilePath());
}

bool ContinuesByItself(const OutcomeReport &report, const ProcessEnd &end)
{
    if (end.kind == ProcessEnd::Kind::Aborted)
        return false;
    // A person, or the cluster for want of memory, ended it.
    if (end.schedulerState.startsWith("CANCELLED") || end.schedulerState == "OUT_OF_MEMORY")
        return false;
    switch (report.outcome) {
    case JobOutcome::NotConverged:
        return true;
    case JobOutcome::Killed:
        return end.schedulerState == "TIMEOUT" || end.kind == ProcessEnd::Kind::Signalled;
    default:
        return false;
    }
}

void ContinuationChains::Add(const QString &made, const QString &from)
{
    const Link before = Of(from);
    m_links.insert(made, {before.number > 0 ? before.original : from, before.number + 1});
}

ContinuationChains::Link ContinuationChains::Of(const QString &input) const
{
    const auto known = m_links.constFind(input);
    if (known != m_links.constEnd())
        return *known;
    const int number = ContinuationNumber(input);
    return {number > 0 ? OriginalName(input) : input, number};
}

QString ContinuationChains::Text(const QString &input, int atMost) const
{
    const Link link = Of(input);
    if (link.number == 0)
        return {};
    const QString name = Paths::FileNamePart(link.original);
    return atMost > 0 ? QStringLiteral("continuation %1 of at most %2 of %3").arg(link.number).arg(atMost).arg(name)
                      : QStringLiteral("continuation %1 of %2").arg(link.number).arg(name);
}

Continued ContinueOutput(const QString &output, const QString &input, ContinuationChains &chains)
{
    Continued result;
    const QString from = input.isEmpty() ? GuessedInputOf(output) : input;
    try {
        const ContinuationDeck deck = ContinueFromOutput(output, from, true);
        if (deck.refusal != ContinuationDeck::Refusal::None) {
            result.refusal = deck.reason;
            result.isOptimisation = deck.refusal != ContinuationDeck::Refusal::NoSearch;
            return result;
        }
        result.input = WriteContinuation(from, deck.deck);
    } catch (const NeloError &error) {
        result.refusal = error.message();
        return result;
    }
    chains.Add(result.input, from);
    return result;
}
