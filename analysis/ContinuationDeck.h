#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>
#include <vector>

// A new input deck that goes on with a geometry optimisation from the last
// geometry its output holds: the original deck byte for byte, except that
// each atom card of $DATA carries the coordinates of the newest complete
// "COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)" block of the output, and
// that UNITS=BOHR in $CONTRL reads UNITS=ANGS (the block is in angstrom; its
// digits are written as Firefly printed them, nothing converted or rounded).
//
// Firefly prints that block after every NSERCH line of the search, one line
// per symmetry-unique atom in the order of the $DATA atoms; a block cut
// short by the end of the output does not count. A deck whose atoms cannot
// be matched one for one with the block (their count or nuclear charges
// differ, the coordinates are not Cartesian) is refused: never a deck with
// some atoms moved and others not.

// One atom line of a unique-atom block, its fields as printed.
struct PrintedAtom
{
    QByteArray name;
    QByteArray charge;
    QByteArray xyz[3];
};

// The atoms of the newest complete unique-atom block, nothing when the
// output holds none. `unreadable` gets the first line of the newest
// complete block that is not an atom line (Firefly's asterisks for a
// number too wide); the block is then not used.
std::optional<std::vector<PrintedAtom>> LastUniqueGeometry(std::string_view output, QByteArray *unreadable = nullptr);

// The input cards that Firefly echoes at the top of its output (" INPUT
// CARD>" and the card, padded with blanks to 80 columns), the padding
// removed, each ended as the output ends its lines. Empty when the output
// echoes none.
QByteArray EchoedDeck(std::string_view output);

// Whether the deck's cards begin with the echoed ones (blanks at the ends of
// cards and line ends not counted): the deck is what the job ran.
bool DeckMatchesEcho(std::string_view deck, std::string_view echo);

struct ContinuationDeck
{
    enum class Refusal {
        None,
        NoSearch,       // a single point, or an output cut before its search
        NoGeometry,     // the search has no complete block yet
        Unreadable,     // the newest block holds a line that is not an atom
        NoDeck,         // no input file and no echoed cards
        NoData,         // no $DATA group, or one without $END
        NotCartesian,   // COORD=ZMT, ZMTMPC, FRAGONLY, HINT, or a $ZMAT group
        AtomCount,      // the deck's atoms and the block's differ in number
        AtomMismatch,   // an atom of the deck is not the block's (nuclear charge)
    };
    Refusal refusal = Refusal::None;
    QString reason;      // for people, when refused
    QByteArray deck;     // the new input, when not refused
    bool fromEcho = false;
    int atoms = 0;       // atom cards rewritten
};

// The new deck from an output's bytes and the original deck's bytes (none:
// the echoed cards are taken).
ContinuationDeck MakeContinuationDeck(std::string_view output, std::optional<std::string_view> deck);

// The same from files. `input` is used as the deck when it is given and
// exists and, with `onlyIfItRan`, when its cards begin with the ones the
// output echoes (an input changed since the job read it is not the job's
// input); otherwise the echoed cards are. Throws EFileError when the output,
// or a given input that exists, cannot be read.
ContinuationDeck ContinueFromOutput(const QString &outputFile, const QString &input, bool onlyIfItRan);
