#include "Model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kBohr = 0.52917721092;

// A small deterministic generator (splitmix64).
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    double uniform()  // [0, 1)
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return double(z >> 11) / double(1ull << 53);
    }
    double between(double low, double high) { return low + (high - low) * uniform(); }

private:
    std::uint64_t m_state;
};

int Row(int z)
{
    return z <= 2 ? 1 : z <= 10 ? 2 : z <= 18 ? 3 : z <= 36 ? 4 : z <= 54 ? 5 : 6;
}

int CoreOrbitals(int z)
{
    return z <= 2 ? 0 : z <= 10 ? 1 : z <= 18 ? 5 : z <= 36 ? 9 : z <= 54 ? 18 : 27;
}

// Near Hartree-Fock-limit energies of the free atoms, hartree.
double AtomEnergy(int z)
{
    static const double table[] = {0,        -0.5,     -2.8617,  -7.4327,  -14.5730, -24.5291, -37.6886,
                                   -54.4009, -74.8094, -99.4093, -128.5471, -161.8589, -199.6146, -241.8767,
                                   -288.8543, -340.7187, -397.5049, -459.4820, -526.8174};
    if (z < int(sizeof table / sizeof table[0]))
        return table[z];
    return -0.51 * std::pow(double(z), 2.4);
}

std::string Keyword(const std::map<std::string, std::string> &group, const char *key, const char *fallback)
{
    const auto it = group.find(key);
    return it == group.end() ? fallback : it->second;
}

double Number(const std::map<std::string, std::string> &group, const char *key, double fallback)
{
    std::string text = Keyword(group, key, "");
    for (char &c : text)
        if (c == 'D')
            c = 'E';
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return text.empty() || *end != '\0' ? fallback : v;
}

bool Flag(const std::map<std::string, std::string> &group, const char *key)
{
    const std::string v = Keyword(group, key, ".FALSE.");
    return v == ".TRUE." || v == ".T." || v == "T" || v == "TRUE";
}

// A shell's type by its number of functions: S 1, P 3, L (S and P) 4, D 6,
// F 10.
char ShellType(size_t functions)
{
    switch (functions) {
    case 1: return 'S';
    case 3: return 'P';
    case 4: return 'L';
    case 6: return 'D';
    default: return 'F';
    }
}

// The contracted functions of one atom: core shells, `valence` copies of the
// valence shell, then polarisation and diffuse functions.
void AddFunctions(Model &model, size_t atom, int z, int valence, int dShells, int pShells, int fShells, bool diffSp,
                  bool diffS)
{
    auto shell = [&](std::initializer_list<const char *> labels) {
        for (const char *l : labels)
            model.functions.push_back({atom, l});
        model.shells.push_back({atom, ShellType(labels.size())});
    };
    const int row = Row(z);
    if (row == 1) {
        for (int v = 0; v < valence; ++v)
            shell({"S"});
        for (int p = 0; p < pShells; ++p)
            shell({"X", "Y", "Z"});
        if (diffS)
            shell({"S"});
        return;
    }
    shell({"S"});
    for (int r = 2; r < row; ++r)
        shell({"S", "X", "Y", "Z"});
    if (row >= 4 && z > 20)
        for (int d = 0; d < row - 3; ++d)
            shell({"XX", "YY", "ZZ", "XY", "XZ", "YZ"});
    for (int v = 0; v < valence; ++v)
        shell({"S", "X", "Y", "Z"});
    for (int d = 0; d < dShells; ++d)
        shell({"XX", "YY", "ZZ", "XY", "XZ", "YZ"});
    for (int f = 0; f < fShells; ++f)
        shell({"XXX", "YYY", "ZZZ", "XXY", "XXZ", "YYX", "YYZ", "ZZX", "ZZY", "XYZ"});
    if (diffSp)
        shell({"S", "X", "Y", "Z"});
}

// Orbital energies of one spin set: core levels from the nuclear charges,
// valence levels spread up to the HOMO, virtual levels from the LUMO up.
std::vector<double> OrbitalEnergies(const std::vector<Atom> &atoms, int occupied, int basis, double homo, double lumo,
                                    Random &random)
{
    std::vector<double> core;
    int heaviestRow2 = 0;
    for (const Atom &a : atoms) {
        const double z = a.charge;
        if (a.charge > 2)
            core.push_back(-0.34 * (z - 0.3) * (z - 0.3));
        if (a.charge > 10) {
            core.push_back(-(z - 4.15) * (z - 4.15) / 16);
            for (int k = 0; k < 3; ++k)
                core.push_back(-0.77 * (z - 4.15) * (z - 4.15) / 16 - 0.001 * k);
        }
        for (int k = 5; k < CoreOrbitals(a.charge); ++k)
            core.push_back(-(z - 12) * (z - 12) / 40 - 2.5 - 0.01 * k);
        if (a.charge > 2 && a.charge <= 10)
            heaviestRow2 = std::max(heaviestRow2, a.charge);
    }
    std::sort(core.begin(), core.end());
    core.resize(size_t(std::min<int>(int(core.size()), occupied)));
    for (double &e : core)
        e = std::min(e, -2.0) * random.between(0.998, 1.002);
    std::sort(core.begin(), core.end());

    std::vector<double> energies = core;
    const int valence = occupied - int(core.size());
    const double lowest = std::min(homo - 0.05, -(0.95 + 0.08 * std::max(0, heaviestRow2 - 5)));
    for (int i = 0; i < valence; ++i) {
        const double t = valence == 1 ? 1.0 : std::pow(double(i) / (valence - 1), 0.7);
        double e = lowest + (homo - lowest) * t;
        if (i > 0 && i < valence - 1)
            e += random.between(-0.015, 0.015);
        energies.push_back(e);
    }
    const int virtuals = basis - occupied;
    const double top = std::min(3.0, 0.8 + 0.02 * basis);
    for (int j = 0; j < virtuals; ++j) {
        const double t = virtuals == 1 ? 0.0 : std::pow(double(j) / (virtuals - 1), 1.3);
        double e = lumo + (top - lumo) * t;
        if (j > 0)
            e += random.between(-0.01, 0.01);
        energies.push_back(e);
    }
    // Firefly prints four decimals; keep exactly what is printed.
    for (double &e : energies)
        e = std::round(e * 1e4) / 1e4;
    std::sort(energies.begin(), energies.end());
    return energies;
}

} // namespace

std::uint64_t HashText(const std::string &text, std::uint64_t hash)
{
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

double NuclearRepulsion(const std::vector<Atom> &atoms)
{
    double energy = 0;
    for (size_t i = 0; i < atoms.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const double r = std::hypot(atoms[i].xyz[0] - atoms[j].xyz[0], atoms[i].xyz[1] - atoms[j].xyz[1],
                                        atoms[i].xyz[2] - atoms[j].xyz[2]) / kBohr;
            energy += atoms[i].charge * atoms[j].charge / r;
        }
    return energy;
}

Model BuildModel(const InputDeck &deck, std::uint64_t seed)
{
    Random random(seed);
    Model model;
    const std::vector<Atom> &atoms = deck.atoms;

    // Basis set from $BASIS (STO-3G when the group is missing).
    model.basisName = Keyword(deck.basis, "GBASIS", "STO");
    model.gaussians = int(Number(deck.basis, "NGAUSS", model.basisName == "STO" ? 3 : 6));
    const std::string &b = model.basisName;
    const int valence = (b == "N311" || b == "TZV" || b.rfind("CCT", 0) == 0 || b.rfind("ACCT", 0) == 0) ? 3
                        : (b == "STO" || b == "MINI") ? 1 : 2;
    const int dShells = int(Number(deck.basis, "NDFUNC", 0));
    const int pShells = int(Number(deck.basis, "NPFUNC", 0));
    const int fShells = int(Number(deck.basis, "NFFUNC", 0));
    for (size_t i = 0; i < atoms.size(); ++i)
        AddFunctions(model, i, atoms[i].charge, valence, dShells, pShells, fShells, Flag(deck.basis, "DIFFSP"),
                     Flag(deck.basis, "DIFFS"));

    // Electrons and occupation.
    const int multiplicity = deck.multiplicity();
    for (const Atom &a : atoms)
        model.electrons += a.charge;
    model.electrons -= deck.charge();
    const std::string scf = deck.scftyp();
    model.unrestricted = scf == "UHF" || scf == "ROHF";
    const int unpaired = multiplicity - 1;
    if (model.electrons < 1 || multiplicity < 1 || unpaired > model.electrons
        || (model.electrons + unpaired) % 2 != 0 || (!model.unrestricted && multiplicity != 1))
        throw InputError{{" *** ERROR! THE NUMBER OF ELECTRONS (" + std::to_string(model.electrons)
                              + ") AND THE MULTIPLICITY (MULT=" + std::to_string(multiplicity) + ") DO NOT FIT"
                              + (model.unrestricted ? "." : " A CLOSED-SHELL SCFTYP=" + scf + " RUN."),
                          " *** CHECK ICHARG AND MULT IN $CONTRL."}};
    model.occAlpha = (model.electrons + unpaired) / 2;
    model.occBeta = (model.electrons - unpaired) / 2;
    for (const Atom &a : atoms)
        model.coreOrbitals += CoreOrbitals(a.charge);
    model.coreOrbitals = std::min(model.coreOrbitals, model.occBeta);
    if (model.occAlpha > model.basisCount())
        throw InputError{{" *** ERROR! THE BASIS SET HAS ONLY " + std::to_string(model.basisCount())
                          + " FUNCTIONS FOR " + std::to_string(model.occAlpha) + " OCCUPIED ORBITALS."}};

    // Frontier levels: deeper for electronegative atoms, a little scatter per molecule.
    int heaviest = 1;
    for (const Atom &a : atoms)
        heaviest = std::max(heaviest, a.charge <= 10 ? a.charge : 6);
    const double homo = -(0.33 + 0.03 * std::max(0, heaviest - 5)) + random.between(-0.03, 0.03);
    const double lumo = random.between(0.12, 0.37);
    model.alphaEnergies = OrbitalEnergies(atoms, model.occAlpha, model.basisCount(), homo, lumo, random);
    if (model.unrestricted)
        model.betaEnergies = OrbitalEnergies(atoms, model.occBeta, model.basisCount(), homo - 0.04, lumo - 0.06,
                                             random);
    model.orbitalShift = random.between(0.004, 0.012);

    // Energies and geometries of the steps.
    double finalEnergy = -0.11 * double(atoms.size() - 1) - random.between(0.0, 0.05);
    for (const Atom &a : atoms)
        finalEnergy += AtomEnergy(a.charge);
    const std::string runtyp = deck.runtyp();
    model.search = runtyp == "OPTIMIZE" || runtyp == "SADPOINT";
    model.opttol = Number(deck.statpt, "OPTTOL", 1e-4);
    model.nstep = int(Number(deck.statpt, "NSTEP", 20));
    // The search heads for the geometry whose coordinates are the start's
    // rounded to the nearest multiple of SearchGrid (angstrom), each step
    // taking it a fixed share of the way there, and the largest gradient is
    // proportional to the largest distance left. A search continued from a
    // geometry it went through (its printed coordinates) therefore heads for
    // the same place and needs only the steps that were left.
    std::vector<Atom> start = deck.uniqueAtoms, located = deck.uniqueAtoms;
    double farthest = 0;
    for (Atom &a : located)
        for (double &x : a.xyz)
            x = std::round(x / Model::SearchGrid) * Model::SearchGrid;
    for (size_t i = 0; i < start.size(); ++i)
        for (int c = 0; c < 3; ++c)
            farthest = std::max(farthest, std::fabs(start[i].xyz[c] - located[i].xyz[c]));
    int count = 1;
    double g0 = 0, ratio = 0;
    if (model.search) {
        // The share from what stays the same along the search: the title,
        // the point group and the atoms' names and charges.
        std::string molecule = deck.title + '\n' + deck.symmetry;
        for (const Atom &a : deck.uniqueAtoms)
            molecule += '\n' + a.name + ' ' + std::to_string(a.charge);
        ratio = Random(HashText(molecule)).between(0.3, 0.45);
        g0 = atoms.size() > 1 ? Model::GradientPerAngstrom * farthest : 0.0;
        while (g0 * std::pow(ratio, count - 1) >= model.opttol && count < 60)
            ++count;
        if (count > model.nstep) {
            count = std::max(model.nstep, 1);
            model.converged = false;
        }
    }
    model.maxit = int(Number(deck.contrl, "MAXIT", 30));
    if (model.maxit < Model::FirstScfIterations) {
        model.scfConverged = false;
        model.converged = !model.search;
        count = 1;
    }

    const double spread = 0.004 * double(atoms.size()) + 0.005;
    for (int k = 0; k < count; ++k) {
        Step step;
        const double left = model.search ? std::pow(ratio, k) : 1.0;
        step.uniqueGeometry = located;
        for (size_t i = 0; i < start.size(); ++i)
            for (int c = 0; c < 3; ++c)
                step.uniqueGeometry[i].xyz[c] = located[i].xyz[c] + (start[i].xyz[c] - located[i].xyz[c]) * left;
        step.geometry = deck.Expand(step.uniqueGeometry);
        const double away = model.search ? left : 0.0;
        step.energy = std::round((finalEnergy + spread * away * random.between(0.8, 1.2)) * 1e10) / 1e10;
        step.maxGradient = model.search ? g0 * left : 0.0;
        step.gradient.resize(3 * atoms.size());
        double largest = 0;
        for (double &g : step.gradient) {
            g = random.between(-1, 1);
            largest = std::max(largest, std::fabs(g));
        }
        double squares = 0;
        for (double &g : step.gradient) {
            g *= largest > 0 ? step.maxGradient / largest : 0.0;
            squares += g * g;
        }
        // The printed maximum is the largest printed component.
        if (!step.gradient.empty()) {
            auto big = std::max_element(step.gradient.begin(), step.gradient.end(),
                                        [](double x, double y) { return std::fabs(x) < std::fabs(y); });
            *big = std::copysign(step.maxGradient, *big);
        }
        step.rmsGradient = step.gradient.empty() ? 0 : std::sqrt(squares / double(step.gradient.size()));
        model.steps.push_back(std::move(step));
    }
    return model;
}
