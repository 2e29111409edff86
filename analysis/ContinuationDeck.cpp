#include "analysis/ContinuationDeck.h"

#include "analysis/FireflyMarkers.h"
#include "analysis/TextLines.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

using FireflyMarkers::EchoPrefix;
using FireflyMarkers::UniqueAtomsMarker;
constexpr std::string_view SearchMarkers[] = {FireflyMarkers::StepLabel, FireflyMarkers::SearchStart};
// COORD values whose $DATA is not Cartesian.
constexpr std::string_view NotCartesian[] = {"ZMT", "ZMTMPC", "FRAGONLY", "HINT"};

using Span = std::pair<std::size_t, std::size_t>; // [first, last) of a token in its line

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmedRight(std::string_view text)
{
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isBlankLine(std::string_view text)
{
    return trimmedRight(text).empty();
}

std::vector<Span> tokens(std::string_view line)
{
    std::vector<Span> spans;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        const std::size_t first = at;
        while (at < line.size() && !isBlank(line[at]))
            ++at;
        if (at > first)
            spans.emplace_back(first, at);
    }
    return spans;
}

std::string_view token(std::string_view line, const Span &span)
{
    return line.substr(span.first, span.second - span.first);
}

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return result;
}

// A Fortran real as Firefly reads one ("1.5", "-.5", "1.0D-3").
std::optional<double> number(std::string_view text)
{
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    std::string copy(text);
    for (char &c : copy)
        if (c == 'D' || c == 'd')
            c = 'E';
    char *end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// A line of a text: its bytes without the line end, and the line end (LF,
// CR LF, or nothing for a last line without one).
struct Line
{
    std::string_view text;
    std::string_view end;
};

std::vector<Line> splitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back({text.substr(start), {}});
            break;
        }
        const std::size_t textEnd = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back({text.substr(start, textEnd - start), text.substr(textEnd, lf + 1 - textEnd)});
        start = lf + 1;
    }
    return lines;
}

// The line of `text` that holds `at`, and where the next one begins; the
// line ends at its LF (which must be there for the line to be complete).
struct Found
{
    std::string_view line;
    std::size_t next = 0;
    bool complete = false;
};

Found lineFrom(std::string_view text, std::size_t start)
{
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos)
        return {text.substr(start), text.size(), false};
    return {text.substr(start, lf - start), lf + 1, true};
}

// The deck's groups as far as a continuation needs them.
struct Deck
{
    std::vector<Line> lines;
    std::string coord = "UNIQUE";
    bool zmat = false;
    struct Place { std::size_t line, first, last; };
    std::vector<Place> bohr;       // UNITS=BOHR values in $CONTRL
    std::size_t dataLine = 0;      // the $DATA card
    std::size_t dataEnd = 0;       // its $END card
    bool data = false, dataEnded = false;
    std::vector<std::size_t> atoms; // the atom cards
};

bool isAtomCard(std::string_view line, const std::vector<Span> &spans)
{
    if (spans.size() < 5 || number(token(line, spans[0])))
        return false;
    for (std::size_t i = 1; i < 5; ++i)
        if (!number(token(line, spans[i])))
            return false;
    return true;
}

Deck readDeck(std::string_view text)
{
    Deck deck;
    deck.lines = splitLines(text);
    std::string group; // the group being read, empty between groups
    for (std::size_t i = 0; i < deck.lines.size(); ++i) {
        const std::string_view line = deck.lines[i].text;
        const std::vector<Span> spans = tokens(line);
        std::size_t first = 0;
        if (group.empty()) {
            if (spans.empty() || line[spans[0].first] != '$')
                continue;
            group = upper(token(line, spans[0]));
            if (group == "$END") {
                group.clear();
                continue;
            }
            first = 1;
            if (group == "$ZMAT")
                deck.zmat = true;
            if (group == "$DATA" && !deck.data) {
                deck.data = true;
                deck.dataLine = i;
            }
        }
        if (group == "$DATA") {
            // Its cards are free text; only a card that begins with $END ends it.
            if (first == 0 && !spans.empty() && upper(token(line, spans[0])) == "$END") {
                if (!deck.dataEnded && deck.dataLine < i) {
                    deck.dataEnded = true;
                    deck.dataEnd = i;
                }
                group.clear();
            }
            continue;
        }
        for (std::size_t k = first; k < spans.size(); ++k) {
            const std::string_view word = token(line, spans[k]);
            if (word.front() == '!')
                break; // a comment to the end of the card
            const std::string key = upper(word);
            if (key == "$END") {
                group.clear();
                break;
            }
            if (group != "$CONTRL")
                continue;
            const std::size_t equals = key.find('=');
            if (equals == std::string::npos)
                continue;
            const std::string name = key.substr(0, equals), value = key.substr(equals + 1);
            if (name == "COORD")
                deck.coord = value;
            else if (name == "UNITS" && value == "BOHR")
                deck.bohr.push_back({i, spans[k].first + equals + 1, spans[k].second});
        }
    }
    if (!deck.dataEnded)
        return deck;
    // Title and symmetry cards; a group other than C1 has one card more
    // (the master frame's, normally blank). Then the atoms, each with its
    // basis-set cards where $BASIS gives none.
    std::size_t card = deck.dataLine + 1;
    std::string symmetry;
    if (card + 1 < deck.dataEnd) {
        const std::vector<Span> spans = tokens(deck.lines[card + 1].text);
        symmetry = spans.empty() ? std::string() : upper(token(deck.lines[card + 1].text, spans[0]));
    }
    card += symmetry == "C1" ? 2 : 3;
    for (; card < deck.dataEnd; ++card) {
        const std::string_view line = deck.lines[card].text;
        if (isAtomCard(line, tokens(line)))
            deck.atoms.push_back(card);
    }
    return deck;
}

// The atom card with its three coordinates replaced. Each new number ends
// in the column where the old one ended while the blanks before it leave
// room (one blank at least stays), so columns that were aligned stay so;
// blanks with a tab among them are kept as they are.
std::string rewriteAtomCard(std::string_view line, const PrintedAtom &atom)
{
    const std::vector<Span> spans = tokens(line);
    std::string out(line.substr(0, spans[1].second));
    for (int c = 0; c < 3; ++c) {
        const Span &old = spans[2 + std::size_t(c)];
        const std::size_t gapStart = spans[1 + std::size_t(c)].second;
        const std::string_view gap = line.substr(gapStart, old.first - gapStart);
        const QByteArray &value = atom.xyz[c];
        if (gap.find('\t') != std::string_view::npos) {
            out += gap;
        } else {
            const std::ptrdiff_t wanted = std::ptrdiff_t(old.second) - std::ptrdiff_t(value.size()) - std::ptrdiff_t(out.size());
            out.append(std::size_t(std::max<std::ptrdiff_t>(1, wanted)), ' ');
        }
        out.append(value.constData(), std::size_t(value.size()));
    }
    out += line.substr(spans[4].second);
    return out;
}

ContinuationDeck refused(ContinuationDeck::Refusal refusal, QString reason)
{
    ContinuationDeck result;
    result.refusal = refusal;
    result.reason = std::move(reason);
    return result;
}

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

std::optional<std::vector<PrintedAtom>> LastUniqueGeometry(std::string_view output, QByteArray *unreadable)
{
    std::size_t end = output.size();
    while (end > 0) {
        const std::size_t at = output.rfind(UniqueAtomsMarker, end - 1);
        if (at == std::string_view::npos)
            return std::nullopt;
        end = at;
        const std::size_t lineStart = at == 0 ? 0 : output.rfind('\n', at - 1) + 1;
        if (!trimmedRight(output.substr(lineStart, at - lineStart)).empty())
            continue; // the words inside some other line
        // The marker's line, the column heads and the dashes, the atoms and
        // the blank line that ends the block.
        Found line = lineFrom(output, at);
        for (int skip = 0; skip < 2 && line.complete; ++skip)
            line = lineFrom(output, line.next);
        std::vector<PrintedAtom> atoms;
        QByteArray bad;
        while (line.complete) {
            line = lineFrom(output, line.next);
            if (!line.complete)
                break;
            if (isBlankLine(line.line))
                break;
            const std::vector<Span> spans = tokens(line.line);
            const std::size_t n = spans.size();
            const bool fits = n >= 5 && number(token(line.line, spans[n - 4])) && number(token(line.line, spans[n - 3]))
                              && number(token(line.line, spans[n - 2])) && number(token(line.line, spans[n - 1]));
            if (!fits) {
                if (bad.isEmpty())
                    bad = bytes(trimmedRight(line.line));
                continue;
            }
            PrintedAtom atom;
            atom.name = bytes(token(line.line, spans[0]));
            atom.charge = bytes(token(line.line, spans[n - 4]));
            for (int c = 0; c < 3; ++c)
                atom.xyz[c] = bytes(token(line.line, spans[n - 3 + std::size_t(c)]));
            atoms.push_back(std::move(atom));
        }
        if (!line.complete)
            continue; // cut by the end of the output: the block before counts
        if (!bad.isEmpty()) {
            if (unreadable)
                *unreadable = bad;
            return std::nullopt;
        }
        return atoms;
    }
    return std::nullopt;
}

QByteArray EchoedDeck(std::string_view output)
{
    QByteArray deck;
    std::size_t at = output.find(EchoPrefix);
    while (at != std::string_view::npos && at > 0 && output[at - 1] != '\n')
        at = output.find(EchoPrefix, at + 1);
    while (at != std::string_view::npos && output.substr(at, EchoPrefix.size()) == EchoPrefix) {
        const Found line = lineFrom(output, at);
        if (!line.complete)
            break; // a card cut short may not be the whole card
        std::string_view card = line.line.substr(EchoPrefix.size());
        const bool crlf = !card.empty() && card.back() == '\r';
        card = trimmedRight(card);
        deck.append(card.data(), qsizetype(card.size()));
        deck.append(crlf ? "\r\n" : "\n");
        at = line.next;
    }
    return deck;
}

bool DeckMatchesEcho(std::string_view deck, std::string_view echo)
{
    const std::vector<Line> cards = splitLines(deck), echoed = splitLines(echo);
    if (echoed.size() > cards.size())
        return false;
    for (std::size_t i = 0; i < echoed.size(); ++i)
        if (trimmedRight(cards[i].text) != trimmedRight(echoed[i].text))
            return false;
    return true;
}

ContinuationDeck MakeContinuationDeck(std::string_view output, std::optional<std::string_view> original)
{
    using R = ContinuationDeck::Refusal;
    QByteArray unreadable;
    const std::optional<std::vector<PrintedAtom>> geometry = LastUniqueGeometry(output, &unreadable);
    if (!unreadable.isEmpty())
        return refused(R::Unreadable, QStringLiteral("The last geometry of the output cannot be read: \"%1\".")
                                          .arg(QString::fromLatin1(unreadable)));
    if (!geometry) {
        for (std::string_view marker : SearchMarkers)
            if (output.find(marker) != std::string_view::npos)
                return refused(R::NoGeometry,
                               QStringLiteral("The output holds no complete geometry of its search yet."));
        return refused(R::NoSearch, QStringLiteral("The output holds no geometry search: it is not an optimisation."));
    }

    const QByteArray echo = original ? QByteArray() : EchoedDeck(output);
    const std::string_view text = original ? *original : std::string_view(echo.constData(), std::size_t(echo.size()));
    if (text.empty())
        return refused(R::NoDeck, original ? QStringLiteral("The input file is empty.")
                                           : QStringLiteral("The input file is not there, and the output holds no "
                                                            "echo of its input cards."));
    const Deck deck = readDeck(text);
    if (!deck.data)
        return refused(R::NoData, QStringLiteral("The input holds no $DATA group."));
    if (!deck.dataEnded)
        return refused(R::NoData, QStringLiteral("The $DATA group of the input has no $END."));
    for (std::string_view coord : NotCartesian)
        if (deck.coord == coord)
            return refused(R::NotCartesian, QStringLiteral("The input's coordinates are not Cartesian (COORD=%1): "
                                                           "only Cartesian atoms can be given the last geometry.")
                                                .arg(latin1(coord)));
    if (deck.zmat)
        return refused(R::NotCartesian, QStringLiteral("The input's coordinates are not Cartesian (it has a $ZMAT "
                                                       "group): only Cartesian atoms can be given the last geometry."));
    if (deck.atoms.size() != geometry->size())
        return refused(R::AtomCount, QStringLiteral("The $DATA group of the input holds %1 atoms, the last geometry "
                                                    "of the output %2: they cannot be matched atom for atom.")
                                         .arg(deck.atoms.size())
                                         .arg(geometry->size()));
    for (std::size_t i = 0; i < deck.atoms.size(); ++i) {
        const std::string_view card = deck.lines[deck.atoms[i]].text;
        const std::vector<Span> spans = tokens(card);
        const PrintedAtom &atom = (*geometry)[i];
        const double charge = *number(token(card, spans[1]));
        const std::optional<double> printed = number(std::string_view(atom.charge.constData(), std::size_t(atom.charge.size())));
        if (!printed || std::fabs(charge - *printed) > 1e-6)
            return refused(R::AtomMismatch,
                           QStringLiteral("Atom %1 of the input (%2, nuclear charge %3) is not atom %1 of the last "
                                          "geometry of the output (%4, charge %5).")
                               .arg(i + 1)
                               .arg(latin1(token(card, spans[0])), latin1(token(card, spans[1])),
                                    QString::fromLatin1(atom.name), QString::fromLatin1(atom.charge)));
    }

    // Everything else byte for byte.
    std::vector<std::string> changed(deck.lines.size());
    std::vector<bool> isChanged(deck.lines.size(), false);
    for (std::size_t i = 0; i < deck.atoms.size(); ++i) {
        changed[deck.atoms[i]] = rewriteAtomCard(deck.lines[deck.atoms[i]].text, (*geometry)[i]);
        isChanged[deck.atoms[i]] = true;
    }
    for (const Deck::Place &place : deck.bohr) {
        if (!isChanged[place.line]) {
            changed[place.line] = std::string(deck.lines[place.line].text);
            isChanged[place.line] = true;
        }
        changed[place.line].replace(place.first, place.last - place.first, "ANGS");
    }
    ContinuationDeck result;
    result.fromEcho = !original;
    result.atoms = int(deck.atoms.size());
    result.deck.reserve(qsizetype(text.size()) + 16 * result.atoms);
    for (std::size_t i = 0; i < deck.lines.size(); ++i) {
        const std::string_view line = isChanged[i] ? std::string_view(changed[i]) : deck.lines[i].text;
        result.deck.append(line.data(), qsizetype(line.size()));
        result.deck.append(deck.lines[i].end.data(), qsizetype(deck.lines[i].end.size()));
    }
    return result;
}

ContinuationDeck ContinueFromOutput(const QString &outputFile, const QString &input, bool onlyIfItRan)
{
    const QByteArray output = LoadFileBytes(outputFile);
    const std::string_view outputText(output.constData(), std::size_t(output.size()));
    QByteArray deck;
    bool useDeck = !input.isEmpty() && (!onlyIfItRan || QFileInfo(input).isFile());
    if (useDeck) {
        deck = LoadFileBytes(input);
        if (onlyIfItRan) {
            const QByteArray echo = EchoedDeck(outputText);
            useDeck = echo.isEmpty() || DeckMatchesEcho({deck.constData(), std::size_t(deck.size())},
                                                        {echo.constData(), std::size_t(echo.size())});
        }
    }
    if (!useDeck)
        return MakeContinuationDeck(outputText, std::nullopt);
    return MakeContinuationDeck(outputText, std::string_view(deck.constData(), std::size_t(deck.size())));
}
