#include "InputDeck.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr double kBohr = 0.52917721092;  // angstrom per bohr

const char *const kSymbols[] = {
    "",   "H",  "HE", "LI", "BE", "B",  "C",  "N",  "O",  "F",  "NE", "NA", "MG", "AL", "SI",
    "P",  "S",  "CL", "AR", "K",  "CA", "SC", "TI", "V",  "CR", "MN", "FE", "CO", "NI", "CU",
    "ZN", "GA", "GE", "AS", "SE", "BR", "KR", "RB", "SR", "Y",  "ZR", "NB", "MO", "TC", "RU",
    "RH", "PD", "AG", "CD", "IN", "SN", "SB", "TE", "I",  "XE", "CS", "BA", "LA", "CE", "PR",
    "ND", "PM", "SM", "EU", "GD", "TB", "DY", "HO", "ER", "TM", "YB", "LU", "HF", "TA", "W",
    "RE", "OS", "IR", "PT", "AU", "HG", "TL", "PB", "BI", "PO", "AT", "RN"};
constexpr int kMaxCharge = int(sizeof kSymbols / sizeof kSymbols[0]) - 1;

std::string Upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Words(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool ToDouble(const std::string &text, double &value)
{
    // Fortran input also writes exponents with D.
    std::string t = text;
    for (char &c : t)
        if (c == 'D' || c == 'd')
            c = 'E';
    char *end = nullptr;
    value = std::strtod(t.c_str(), &end);
    return !t.empty() && *end == '\0' && std::isfinite(value);
}

[[noreturn]] void Fail(std::vector<std::string> lines)
{
    throw InputError{std::move(lines)};
}

std::string Card(size_t index)
{
    return std::to_string(index + 1);
}

// "$NAME" of a group line, upper case, or "" when the line starts no group.
std::string GroupName(const std::string &line)
{
    const std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '$')
        return {};
    return Upper(Words(t)[0]);
}

// KEY=VALUE pairs of a keyword group, which may run over several cards.
std::map<std::string, std::string> Keywords(const std::vector<std::string> &cards, const std::string &group)
{
    std::map<std::string, std::string> keys;
    bool inside = false;
    for (const std::string &card : cards) {
        std::vector<std::string> words = Words(card);
        size_t first = 0;
        if (!inside) {
            if (GroupName(card) != group)
                continue;
            inside = true;
            first = 1;
        }
        for (size_t i = first; i < words.size(); ++i) {
            const std::string w = Upper(words[i]);
            if (w == "$END")
                return keys;
            const size_t eq = w.find('=');
            if (eq != std::string::npos && eq > 0)
                keys[w.substr(0, eq)] = w.substr(eq + 1);
        }
    }
    return keys;
}

using Matrix = std::array<double, 9>;

Matrix Multiply(const Matrix &a, const Matrix &b)
{
    Matrix m{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                m[r * 3 + c] += a[r * 3 + k] * b[k * 3 + c];
    return m;
}

bool Same(const Matrix &a, const Matrix &b)
{
    for (int i = 0; i < 9; ++i)
        if (std::fabs(a[i] - b[i]) > 1e-9)
            return false;
    return true;
}

// The operations of the point group named on the symmetry card, in the
// master frame Firefly uses (principal axis z, sigma-v = xz, C2' = x).
std::vector<Matrix> PointGroup(const std::string &card, size_t cardIndex)
{
    const std::vector<std::string> words = Words(Upper(card));
    std::string name = words.empty() ? std::string() : words[0];
    int order = words.size() > 1 ? std::atoi(words[1].c_str()) : 0;
    // Accept the compact spellings C2V, D2H as well as CNV 2, DNH 2.
    if (name.size() >= 2 && (name[0] == 'C' || name[0] == 'D') && std::isdigit(static_cast<unsigned char>(name[1]))) {
        size_t digits = 1;
        while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits])))
            ++digits;
        order = std::atoi(name.substr(1, digits - 1).c_str());
        name = std::string(1, name[0]) + "N" + name.substr(digits);
        if (order == 1 && name == "CN")
            name = "C1";
    }
    const Matrix identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
    const Matrix inversion{-1, 0, 0, 0, -1, 0, 0, 0, -1};
    const Matrix sigmaH{1, 0, 0, 0, 1, 0, 0, 0, -1};
    const Matrix sigmaV{1, 0, 0, 0, -1, 0, 0, 0, 1};
    const Matrix c2x{1, 0, 0, 0, -1, 0, 0, 0, -1};
    const double pi = std::acos(-1.0);
    auto rotation = [&](double angle) {
        return Matrix{std::cos(angle), -std::sin(angle), 0, std::sin(angle), std::cos(angle), 0, 0, 0, 1};
    };

    std::vector<Matrix> generators;
    const bool axial = name == "CN" || name == "CNV" || name == "CNH" || name == "DN" || name == "DNH" || name == "DND";
    if (axial && (order < 1 || order > 12))
        Fail({" *** ERROR! ILLEGAL ORDER OF THE PRINCIPAL AXIS ON CARD " + Card(cardIndex) + ": " + Trim(card)});
    if (name == "C1") {
    } else if (name == "CS") {
        generators = {sigmaH};
    } else if (name == "CI") {
        generators = {inversion};
    } else if (axial) {
        generators.push_back(rotation(2 * pi / order));
        if (name == "CNV")
            generators.push_back(sigmaV);
        if (name == "CNH" || name == "DNH")
            generators.push_back(sigmaH);
        if (name[0] == 'D')
            generators.push_back(c2x);
        if (name == "DND") {
            const double t = pi / (2 * order);
            generators.push_back(Matrix{std::cos(2 * t), std::sin(2 * t), 0, std::sin(2 * t), -std::cos(2 * t), 0, 0, 0, 1});
        }
    } else {
        Fail({" *** ERROR! POINT GROUP \"" + Trim(card) + "\" ON CARD " + Card(cardIndex)
              + " IS NOT SUPPORTED BY THIS FIREFLY STAND-IN."});
    }

    std::vector<Matrix> group{identity};
    for (size_t i = 0; i < group.size() && group.size() < 200; ++i)
        for (const Matrix &g : generators) {
            const Matrix product = Multiply(g, group[i]);
            bool known = false;
            for (const Matrix &m : group)
                known = known || Same(m, product);
            if (!known)
                group.push_back(product);
        }
    return group;
}

int ChargeOfName(const std::string &name)
{
    std::string letters;
    for (char c : name) {
        if (!std::isalpha(static_cast<unsigned char>(c)) || letters.size() == 2)
            break;
        letters += char(std::toupper(static_cast<unsigned char>(c)));
    }
    for (size_t len = letters.size(); len >= 1; --len)
        for (int z = 1; z <= kMaxCharge; ++z)
            if (letters.compare(0, len, kSymbols[z]) == 0 && std::string(kSymbols[z]).size() == len)
                return z;
    return 0;
}

struct Vec { double x, y, z; };
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(Vec a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
Vec Unit(Vec a) { return (1.0 / Length(a)) * a; }

// One card of a Z-matrix: NAME [I R [J A [K D]]], distances and angles in degrees.
Atom ZMatrixAtom(const std::vector<std::string> &w, const std::vector<Atom> &before, size_t cardIndex, double unit)
{
    Atom atom;
    atom.name = w[0];
    atom.charge = ChargeOfName(w[0]);
    if (atom.charge == 0)
        Fail({" *** ERROR! UNKNOWN ATOM \"" + w[0] + "\" ON CARD " + Card(cardIndex) + " OF THE $DATA GROUP."});
    const size_t n = before.size();
    const size_t needed = n == 0 ? 1 : n == 1 ? 3 : n == 2 ? 5 : 7;
    if (w.size() < needed)
        Fail({" *** ERROR! Z-MATRIX CARD " + Card(cardIndex) + " NEEDS " + std::to_string(needed - 1)
              + " ENTRIES AFTER THE ATOM NAME: " + w[0]});
    double values[6] = {0, 0, 0, 0, 0, 0};
    for (size_t i = 1; i < needed; ++i)
        if (!ToDouble(w[i], values[i - 1]))
            Fail({" *** ERROR! \"" + w[i] + "\" ON Z-MATRIX CARD " + Card(cardIndex)
                  + " IS NOT A NUMBER (Z-MATRIX VARIABLES ARE NOT SUPPORTED BY THIS STAND-IN)."});
    auto reference = [&](double v) {
        const long index = std::lround(v);
        if (index < 1 || size_t(index) > n)
            Fail({" *** ERROR! Z-MATRIX CARD " + Card(cardIndex) + " REFERS TO ATOM " + std::to_string(index)
                  + ", WHICH IS NOT DEFINED BEFORE IT."});
        const Atom &a = before[size_t(index - 1)];
        return Vec{a.xyz[0], a.xyz[1], a.xyz[2]};
    };
    Vec position{0, 0, 0};
    if (n >= 1) {
        const double pi = std::acos(-1.0);
        const Vec c = reference(values[0]);
        const double r = values[1] * unit;
        if (n == 1) {
            position = c + Vec{0, 0, r};
        } else {
            const Vec b = reference(values[2]);
            const double theta = values[3] * pi / 180;
            const double phi = n >= 3 ? values[5] * pi / 180 : 0;
            const Vec bc = Unit(c - b);
            Vec a = n >= 3 ? reference(values[4]) : b + Vec{1, 0, 0};
            if (n < 3 && Length(Cross(a - b, bc)) < 1e-6)
                a = b + Vec{0, 1, 0};
            const Vec nrm = Unit(Cross(b - a, bc));
            const Vec m = Cross(nrm, bc);
            position = c + (-r * std::cos(theta)) * bc + (r * std::sin(theta) * std::cos(phi)) * m
                       + (r * std::sin(theta) * std::sin(phi)) * nrm;
        }
    }
    atom.xyz[0] = position.x;
    atom.xyz[1] = position.y;
    atom.xyz[2] = position.z;
    return atom;
}

Atom CartesianAtom(const std::vector<std::string> &w, size_t cardIndex, double unit)
{
    if (w.size() < 5)
        Fail({" *** ERROR! CARD " + Card(cardIndex) + " OF THE $DATA GROUP NEEDS AN ATOM NAME, A NUCLEAR CHARGE AND"
              " THREE COORDINATES."});
    Atom atom;
    atom.name = w[0];
    double charge = 0;
    if (!ToDouble(w[1], charge) || charge != std::floor(charge) || charge < 1 || charge > kMaxCharge)
        Fail({" *** ERROR! UNKNOWN ATOM \"" + w[0] + "\" WITH NUCLEAR CHARGE \"" + w[1] + "\" ON CARD "
              + Card(cardIndex) + " OF THE $DATA GROUP."});
    atom.charge = int(charge);
    for (int k = 0; k < 3; ++k) {
        if (!ToDouble(w[2 + size_t(k)], atom.xyz[k]))
            Fail({" *** ERROR! COORDINATE \"" + w[2 + size_t(k)] + "\" ON CARD " + Card(cardIndex)
                  + " OF THE $DATA GROUP IS NOT A NUMBER."});
        atom.xyz[k] *= unit;
    }
    return atom;
}

} // namespace

std::string ElementSymbol(int charge)
{
    return charge >= 1 && charge <= kMaxCharge ? kSymbols[charge] : "";
}

std::string InputDeck::runtyp() const
{
    const auto it = contrl.find("RUNTYP");
    return it == contrl.end() ? "ENERGY" : it->second;
}

std::string InputDeck::scftyp() const
{
    const auto it = contrl.find("SCFTYP");
    return it == contrl.end() ? "RHF" : it->second;
}

int InputDeck::charge() const
{
    const auto it = contrl.find("ICHARG");
    return it == contrl.end() ? 0 : std::atoi(it->second.c_str());
}

int InputDeck::multiplicity() const
{
    const auto it = contrl.find("MULT");
    return it == contrl.end() ? 1 : std::atoi(it->second.c_str());
}

std::vector<Atom> InputDeck::Expand(const std::vector<Atom> &unique) const
{
    std::vector<Atom> all = atoms;
    for (size_t i = 0; i < all.size(); ++i) {
        const Atom &from = unique[images[i].unique];
        const std::array<double, 9> &m = images[i].operation;
        for (int r = 0; r < 3; ++r)
            all[i].xyz[r] = m[size_t(r) * 3] * from.xyz[0] + m[size_t(r) * 3 + 1] * from.xyz[1] + m[size_t(r) * 3 + 2] * from.xyz[2];
    }
    return all;
}

std::vector<std::string> ReadCards(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail({" *** ERROR! UNABLE TO OPEN THE INPUT FILE " + path});
    std::vector<std::string> cards;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        cards.push_back(line);
    }
    return cards;
}

InputDeck ParseInputDeck(std::vector<std::string> cards)
{
    InputDeck deck;
    deck.cards = std::move(cards);
    deck.contrl = Keywords(deck.cards, "$CONTRL");
    deck.basis = Keywords(deck.cards, "$BASIS");
    deck.statpt = Keywords(deck.cards, "$STATPT");

    size_t data = 0;
    while (data < deck.cards.size() && GroupName(deck.cards[data]) != "$DATA")
        ++data;
    if (data == deck.cards.size())
        Fail({" *** ERROR! NO $DATA GROUP WAS FOUND IN THE INPUT FILE."});
    size_t card = data + 1;
    if (card + 1 >= deck.cards.size())
        Fail({" *** ERROR! THE $DATA GROUP ENDS BEFORE ITS TITLE AND SYMMETRY CARDS."});
    deck.title = deck.cards[card++];
    const size_t symmetryCard = card;
    deck.symmetry = Trim(deck.cards[card++]);
    const std::vector<Matrix> group = PointGroup(deck.symmetry, symmetryCard);
    if (group.size() > 1 && card < deck.cards.size() && Trim(deck.cards[card]).empty())
        ++card;  // the blank card that follows a symmetry other than C1

    const std::string units = deck.contrl.count("UNITS") ? deck.contrl.at("UNITS") : "ANGS";
    const double unit = units == "BOHR" ? kBohr : 1.0;
    const std::string coord = deck.contrl.count("COORD") ? deck.contrl.at("COORD") : "UNIQUE";
    const bool zmatrix = coord == "ZMT";
    if (!zmatrix && coord != "UNIQUE" && coord != "CART")
        Fail({" *** ERROR! COORD=" + coord + " IS NOT SUPPORTED BY THIS FIREFLY STAND-IN."});

    bool ended = false;
    for (; card < deck.cards.size(); ++card) {
        const std::vector<std::string> w = Words(deck.cards[card]);
        if (w.empty())
            continue;
        if (Upper(w[0]) == "$END") {
            ended = true;
            break;
        }
        deck.uniqueAtoms.push_back(zmatrix ? ZMatrixAtom(w, deck.uniqueAtoms, card, unit)
                                           : CartesianAtom(w, card, unit));
    }
    if (!ended)
        Fail({" *** ERROR! THE $DATA GROUP HAS NO $END CARD."});
    if (deck.uniqueAtoms.empty())
        Fail({" *** ERROR! THE $DATA GROUP HOLDS NO ATOMS."});

    for (size_t u = 0; u < deck.uniqueAtoms.size(); ++u) {
        const Atom &unique = deck.uniqueAtoms[u];
        const size_t first = deck.atoms.size();
        for (const Matrix &m : group) {
            Atom image = unique;
            for (int r = 0; r < 3; ++r)
                image.xyz[r] = m[r * 3] * unique.xyz[0] + m[r * 3 + 1] * unique.xyz[1] + m[r * 3 + 2] * unique.xyz[2];
            bool known = false;
            for (size_t i = first; i < deck.atoms.size(); ++i)
                known = known
                        || std::hypot(image.xyz[0] - deck.atoms[i].xyz[0], image.xyz[1] - deck.atoms[i].xyz[1],
                                      image.xyz[2] - deck.atoms[i].xyz[2]) < 1e-4;
            if (!known) {
                deck.atoms.push_back(image);
                deck.images.push_back({u, m});
            }
        }
    }
    for (size_t i = 0; i < deck.atoms.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const Atom &a = deck.atoms[i], &b = deck.atoms[j];
            if (std::hypot(a.xyz[0] - b.xyz[0], a.xyz[1] - b.xyz[1], a.xyz[2] - b.xyz[2]) < 0.1)
                Fail({" *** ERROR! ATOMS " + std::to_string(j + 1) + " AND " + std::to_string(i + 1)
                      + " ARE CLOSER THAN 0.1 ANGSTROM."});
        }
    return deck;
}
