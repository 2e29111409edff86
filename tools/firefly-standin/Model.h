#pragma once

#include "InputDeck.h"

#include <cstdint>
#include <string>
#include <vector>

// Plausible numbers for a molecule, made up deterministically: the same
// input always gives the same transcript values. Nothing is computed the way
// a quantum-chemistry program would; only counts (electrons, occupied
// orbitals, basis functions) and the nuclear repulsion are real.
struct BasisFunction
{
    size_t atom;        // 0-based index into the molecule
    std::string label;  // S, X, Y, Z, XX, ...
};

// A contracted shell: S, P, L (an S and a P sharing exponents), D or F.
struct Shell
{
    size_t atom;  // 0-based index into the molecule
    char type;
};

struct Step
{
    std::vector<Atom> uniqueGeometry;  // the atoms of $DATA
    std::vector<Atom> geometry;        // the whole molecule
    std::vector<double> gradient;  // 3 per atom, hartree/bohr
    double energy = 0;             // hartree
    double maxGradient = 0;
    double rmsGradient = 0;
};

struct Model
{
    std::string basisName;      // as $BASIS names it, e.g. "STO"
    int gaussians = 0;          // NGAUSS
    std::vector<BasisFunction> functions;
    std::vector<Shell> shells;  // in the order of the functions
    int electrons = 0;
    int occAlpha = 0;
    int occBeta = 0;
    int coreOrbitals = 0;
    bool unrestricted = false;
    std::vector<double> alphaEnergies;  // final orbital energies, hartree, ascending
    std::vector<double> betaEnergies;   // empty unless unrestricted
    double orbitalShift = 0;            // how much the first step's orbitals differ from the final ones

    // SCF iterations of the first step (from the guess) and of later ones
    // (from the previous orbitals); MAXIT in $CONTRL below them fails the SCF.
    static constexpr int FirstScfIterations = 11;
    static constexpr int LaterScfIterations = 7;
    int maxit = 30;
    bool scfConverged = true;   // false: the first SCF fails (and a search stops there)

    bool search = false;        // a geometry search is run
    double opttol = 1e-4;
    int nstep = 20;
    bool converged = true;
    std::vector<Step> steps;    // one for a single point; one per NSERCH for a search

    // The geometry search (BuildModel): the grid whose nearest point it
    // heads for, and the largest gradient per angstrom left to go.
    static constexpr double SearchGrid = 0.0437;
    static constexpr double GradientPerAngstrom = 2.5;

    int basisCount() const { return int(functions.size()); }
    const Step &final() const { return steps.back(); }
};

// Throws InputError for a molecule Firefly would refuse (electron count and
// multiplicity that do not fit, more occupied orbitals than basis functions).
Model BuildModel(const InputDeck &deck, std::uint64_t seed);

double NuclearRepulsion(const std::vector<Atom> &atoms);  // hartree

// FNV-1a over the bytes, the seed of the made-up numbers.
std::uint64_t HashText(const std::string &text, std::uint64_t hash = 14695981039346656037ull);
