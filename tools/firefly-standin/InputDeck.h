#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

struct Atom
{
    std::string name;  // as written in $DATA
    int charge = 0;    // nuclear charge Z
    double xyz[3] = {0, 0, 0};  // angstrom
};

// The parts of a Firefly input file that shape the transcript.
struct InputDeck
{
    std::vector<std::string> cards;  // the file's lines, for the echo
    std::map<std::string, std::string> contrl, basis, statpt;  // upper-case keywords
    std::string title;
    std::string symmetry;            // as written, e.g. "C1" or "CNH 2"
    std::vector<Atom> uniqueAtoms;   // as written in $DATA
    std::vector<Atom> atoms;         // the whole molecule (symmetry images added)
    // Which unique atom each atom of `atoms` is an image of, and by which
    // operation (a 3 x 3 matrix, rows first).
    struct Image
    {
        size_t unique;
        std::array<double, 9> operation;
    };
    std::vector<Image> images;

    // The whole molecule for other positions of the unique atoms.
    std::vector<Atom> Expand(const std::vector<Atom> &unique) const;

    std::string runtyp() const;
    std::string scftyp() const;
    int charge() const;
    int multiplicity() const;
};

// A fault in the input, reported the way Firefly reports one.
struct InputError
{
    std::vector<std::string> lines;
};

// The lines of an input file, line ends removed. Throws InputError when the
// file cannot be read.
std::vector<std::string> ReadCards(const std::string &path);

// Reads the groups and the molecule of an input file's cards and checks
// them. Throws InputError.
InputDeck ParseInputDeck(std::vector<std::string> cards);

// Chemical symbol of a nuclear charge, "" when unknown.
std::string ElementSymbol(int charge);
