#pragma once

#include "analysis/JobOutcome.h"
#include "jobs/JobSettings.h"

#include <QHash>
#include <QString>

class IniFile;

// Going on with a geometry optimisation from its last geometry: the new
// input beside the one it continues (the deck from ContinuationDeck), by
// hand from the processed list or by the queue when a search ran out of
// steps or time.

// How often the queue continues an optimisation by itself; 0, the default,
// never. Kept in the "Continue" section of the settings file, which a user
// who never sets it never gets; written by Exit like the rest.
struct TContinueSettings
{
    int MaxContinuations = 0;
};

// A missing key, or a number that does not read or is out of range (0 to
// MaxAutoContinuations), gives the default.
void LoadContinueSettings(TContinueSettings &settings, const IniFile &file);
void LoadContinueSettings(TContinueSettings &settings, const QString &fileName);
// The section only once it holds something other than the default (or is
// there already).
void StoreContinueSettings(const TContinueSettings &settings, IniFile &file);
constexpr int MaxAutoContinuations = 99;

// The input an output most likely came from: NAME.inp beside NAME.out, or,
// for an output named by the "_N.out" policy (NAME_3.out) when NAME_3.inp is
// not there, NAME.inp. The first of these when none exists.
QString GuessedInputOf(const QString &output);

// The name of the next continuation of `input`: NAME-contN.inp beside it,
// counting from the original (the continuation of NAME-cont1.inp is
// NAME-cont2.inp), the first N that no file takes.
QString ContinuationName(const QString &input);
// The N of a NAME-contN name, 0 for any other name.
int ContinuationNumber(const QString &input);
// The original's name of a NAME-contN name (the name itself for any other).
QString OriginalName(const QString &input);

// Writes the deck as the next continuation of `input` and returns its path.
// Never replaces a file: a name taken meanwhile is passed over; the file is
// written whole under another name first and then given its own. Throws
// EWriteError when it cannot be written.
QString WriteContinuation(const QString &input, const QByteArray &deck);

// Whether the queue may continue a job by itself: its search ran out of
// steps or ended inside the search, the cluster's time limit ended it, or a
// signal did that the user did not send (Abort). Never after an SCF failure
// or an abnormal end, nor a job a person cancelled on the cluster or that
// ran out of memory: those need a person.
bool ContinuesByItself(const OutcomeReport &report, const ProcessEnd &end);

// The continuations made in this session: which original each continues and
// its place in the chain.
class ContinuationChains
{
public:
    struct Link
    {
        QString original; // the input the chain began with
        int number = 0;   // 0: not a continuation
    };

    // `made` continues `from`.
    void Add(const QString &made, const QString &from);
    // What is known of the input; a continuation of an earlier session is
    // known by its name.
    Link Of(const QString &input) const;
    // "continuation 2 of at most 3 of water-optimise.inp" ("continuation 1 of
    // water-optimise.inp" without a limit); empty for an input that is no
    // continuation.
    QString Text(const QString &input, int atMost) const;

private:
    QHash<QString, Link> m_links;
};

// What continuing an output gave: the new input, or why there is none.
struct Continued
{
    QString input;
    QString refusal;
    bool isOptimisation = true; // false: the output holds no geometry search
};

// Continues the output: the deck from `input` when that is the file the job
// ran (else from the cards the output echoes), written by WriteContinuation
// beside `input` (empty: beside the guessed input), added to `chains`.
// A failure to read or write is a refusal with its message.
Continued ContinueOutput(const QString &output, const QString &input, ContinuationChains &chains);
