#include "Transcript.h"

#include "InputDeck.h"
#include "Model.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <unistd.h>

namespace {

std::string Fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char *format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

// "21:06:13  9-MAY-2014", Firefly's way of writing the time of day.
std::string Clock()
{
    static const char *const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    return Fmt("%02d:%02d:%02d %2d-%s-%04d", t.tm_hour, t.tm_min, t.tm_sec, t.tm_mday, months[t.tm_mon],
               t.tm_year + 1900);
}

// Writes the sections; owns the pacing plan.
class Run
{
public:
    Run(const Options &options, OutputSink &out) : m_options(options), m_out(out)
    {
        clock_gettime(CLOCK_MONOTONIC, &m_start);
    }

    int write();

private:
    void banner();
    void echo(const std::vector<std::string> &cards);
    void failure(const InputError &error);
    void setup(const InputDeck &deck, const Model &model);
    void basisTable(const Model &model);
    void searchParameters(const Model &model);
    void coordinates(const std::vector<Atom> &atoms, const char *heading, bool blankBefore = true);
    void searchGeometry(const Step &step, bool blankBefore = true);
    void distances(const std::vector<Atom> &atoms);
    void guess(const Model &model);
    void twoElectronIntegrals();
    void burst();
    bool scf(const Model &model, size_t step, int nominalMs);
    void orbitals(const Model &model, const char *marker, double shift);
    void orbitalSet(const Model &model, const std::vector<double> &energies, const char *marker, double shift,
                    size_t spin);
    void energyComponents(const Model &model, size_t step);
    void gradient(const Model &model, size_t step, int nominalMs);
    void located(const InputDeck &deck, const Model &model);
    void timing();
    void summary(const Model &model);

    const Options &m_options;
    OutputSink &m_out;
    timespec m_start{};
    double m_lastWall = 0;
    double m_lastCpu = 0;
    std::string m_scfName = "RHF";
};

// Firefly's clock readings after each stage (real ones: the stand-in mostly waits).
void Run::timing()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double wall = double(now.tv_sec - m_start.tv_sec) + double(now.tv_nsec - m_start.tv_nsec) / 1e9;
    const double cpu = double(clock()) / CLOCKS_PER_SEC;
    const double wallStep = wall - m_lastWall, cpuStep = cpu - m_lastCpu;
    m_lastWall = wall;
    m_lastCpu = cpu;
    const auto percent = [](double part, double whole) { return whole > 0 ? 100 * part / whole : 0.0; };
    m_out.blank();
    m_out.line(Fmt(" CPU        TIME:   STEP =%10.2f ,  TOTAL =%11.1f SECONDS (%7.1f MIN)", cpuStep, cpu, cpu / 60));
    m_out.line(Fmt(" WALL CLOCK TIME:   STEP =%10.2f ,  TOTAL =%11.1f SECONDS (%7.1f MIN)", wallStep, wall, wall / 60));
    m_out.line(Fmt(" CPU UTILIZATION:   STEP =%9.2f%%,  TOTAL =%10.2f%%", percent(cpuStep, wallStep), percent(cpu, wall)));
    m_out.blank();
}

void Run::banner()
{
    char host[256] = "localhost";
    gethostname(host, sizeof host - 1);
    m_out.line(Fmt("                          Running on host %s", host));
    m_out.blank();
    m_out.line("          ******************************************************");
    m_out.line("          *              FIREFLY STAND-IN FOR NELO             *");
    m_out.line("          *   Writes a Firefly-style transcript of the run;    *");
    m_out.line("          *   computes nothing. Its numbers are made up from   *");
    m_out.line("          *   the molecule, the same for the same input file.  *");
    m_out.line("          ******************************************************");
    m_out.blank();
    m_out.blank();
    if (m_options.cores > 1)
        m_out.line(Fmt(" PARALLEL VERSION RUNNING ON %4d PROCESSES", m_options.cores));
    else
        m_out.line(" PARALLEL VERSION RUNNING IN SERIAL MODE USING SINGLE PROCESS");
    m_out.blank();
    m_out.line(" EXECUTION OF FIREFLY BEGUN " + Clock());
    m_out.blank();
}

void Run::echo(const std::vector<std::string> &cards)
{
    m_out.line("            ECHO OF THE FIRST FEW INPUT CARDS -");
    for (const std::string &card : cards)
        m_out.line(Fmt(" INPUT CARD>%-80s", card.c_str()));
    m_out.line("   20000000 WORDS OF MEMORY AVAILABLE");
    m_out.blank();
    m_out.line(" This job is executing on     1 unique host(s)");
    m_out.line(Fmt(" Minimum number of processes per host is: %4d", m_options.cores));
    m_out.line(Fmt(" Maximum number of processes per host is: %4d", m_options.cores));
    m_out.blank();
}

void Run::failure(const InputError &error)
{
    for (const std::string &line : error.lines)
        m_out.line(line);
    m_out.line(" EXECUTION OF FIREFLY TERMINATED -ABNORMALLY- " + Clock());
    // Firefly's last words often lack their line break.
    m_out.finish(true);
}

void Run::setup(const InputDeck &deck, const Model &model)
{
    const auto flag = [&](const char *key) {
        const auto it = deck.basis.find(key);
        return it != deck.basis.end() && (it->second == ".TRUE." || it->second == ".T." || it->second == "T") ? 'T' : 'F';
    };
    const auto count = [&](const char *key) {
        const auto it = deck.basis.find(key);
        return it == deck.basis.end() ? 0 : std::atoi(it->second.c_str());
    };
    m_out.line("     BASIS OPTIONS");
    m_out.line("     -------------");
    m_out.line(Fmt("     GBASIS=%-9s IGAUSS=%8d      POLAR=NONE", model.basisName.c_str(), model.gaussians));
    m_out.line(Fmt("     NDFUNC=%8d     NFFUNC=%8d     DIFFSP=%8c", count("NDFUNC"), count("NFFUNC"), flag("DIFFSP")));
    m_out.line(Fmt("     NPFUNC=%8d      DIFFS=%8c", count("NPFUNC"), flag("DIFFS")));
    m_out.blank();
    m_out.blank();
    m_out.line("     RUN TITLE");
    m_out.line("     ---------");
    m_out.line(" " + deck.title);
    m_out.blank();
    if (Upper(deck.symmetry) != "C1")
        m_out.line(Fmt(" THE STAND-IN RUNS WITHOUT SYMMETRY: THE %zu ATOMS THAT %s GENERATES ARE TREATED IN C1.",
                       deck.atoms.size(), Upper(deck.symmetry).c_str()));
    m_out.line(" THE POINT GROUP OF THE MOLECULE IS C1      ");
    m_out.line(" THE ORDER OF THE PRINCIPAL AXIS IS     1");
    m_out.blank();
    m_out.line(" ATOM      ATOMIC                      COORDINATES (BOHR)");
    m_out.line("           CHARGE         X                   Y                   Z");
    for (const Atom &a : deck.atoms)
        m_out.line(Fmt(" %-10s%5.1f %17.10f%20.10f%20.10f", a.name.c_str(), double(a.charge), a.xyz[0] / 0.52917721092,
                       a.xyz[1] / 0.52917721092, a.xyz[2] / 0.52917721092));
    m_out.blank();
    distances(deck.atoms);
    m_out.blank();
    m_out.line("     ATOMIC BASIS SET");
    m_out.line("     ----------------");
    m_out.line(" THE CONTRACTED BASIS FUNCTIONS ARE NOW NORMALIZED TO UNITY");
    m_out.blank();
    basisTable(model);
    m_out.line(Fmt(" TOTAL NUMBER OF SHELLS              =%5zu", model.shells.size()));
    m_out.line(Fmt(" TOTAL NUMBER OF BASIS FUNCTIONS     =%5d", model.basisCount()));
    m_out.line(Fmt(" NUMBER OF ELECTRONS                 =%5d", model.electrons));
    m_out.line(Fmt(" CHARGE OF MOLECULE                  =%5d", deck.charge()));
    m_out.line(Fmt(" STATE MULTIPLICITY                  =%5d", deck.multiplicity()));
    m_out.line(Fmt(" NUMBER OF OCCUPIED ORBITALS (ALPHA) =%5d", model.occAlpha));
    m_out.line(Fmt(" NUMBER OF OCCUPIED ORBITALS (BETA ) =%5d", model.occBeta));
    m_out.line(Fmt(" TOTAL NUMBER OF ATOMS               =%5zu", deck.atoms.size()));
    m_out.line(Fmt(" THE NUCLEAR REPULSION ENERGY IS %20.10f", NuclearRepulsion(deck.atoms)));
    m_out.blank();
    m_out.line("     $CONTRL OPTIONS");
    m_out.line("     ---------------");
    m_out.line(Fmt("     SCFTYP=%-9s RUNTYP=%-9s EXETYP=RUN", deck.scftyp().c_str(), deck.runtyp().c_str()));
    m_out.line(Fmt("     MULT  =%8d     ICHARG=%8d     MAXIT =%8d", deck.multiplicity(), deck.charge(), model.maxit));
    m_out.blank();
    m_out.line("     ------------------------------------------");
    m_out.line("     THE POINT GROUP IS C1 , NAXIS= 1, ORDER= 1");
    m_out.line("     ------------------------------------------");
    m_out.blank();
    // The report reads the basis-function count at columns 7 to 12 of the
    // line after this marker; a single C1 block ends right after the number.
    m_out.line("     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE");
    m_out.line(Fmt(" A   =%4d", model.basisCount()));
    m_out.blank();
    m_out.line(" ..... DONE SETTING UP THE RUN .....");
    timing();
}

// The shells atom by atom with their primitives, in Firefly's layout (an L
// shell has an S and a P coefficient, each also normalised in brackets), so
// that programs reading the basis from an output can read a stand-in's.
// The exponents are made up: steep for an atom's first shell, flatter after.
void Run::basisTable(const Model &model)
{
    m_out.line(" SHELL TYPE PRIM    EXPONENT          CONTRACTION COEFFICIENTS");
    m_out.blank();
    const std::vector<Atom> &atoms = model.steps.front().geometry;
    int number = 0, primitive = 0, inAtom = 0;
    for (size_t s = 0; s < model.shells.size(); ++s) {
        const Shell &shell = model.shells[s];
        if (s == 0 || shell.atom != model.shells[s - 1].atom) {
            m_out.line(Fmt(" %-10s", atoms[shell.atom].name.c_str()));
            m_out.blank();
            inAtom = 0;
        }
        ++number;
        ++inAtom;
        const double z = atoms[shell.atom].charge;
        const int primitives = inAtom == 1 ? std::max(model.gaussians, 3) : 1;
        for (int k = 0; k < primitives; ++k) {
            const double exponent = (inAtom == 1 ? 40.0 * z * z : 1.5 * z / inAtom) / std::pow(4.0, k);
            const double normalised = 1.0 / std::sqrt(double(primitives));
            const auto coefficient = [&](double scale) {
                return Fmt("%12.6f (%10.6f)", normalised * scale * std::pow(exponent, 0.75), normalised);
            };
            std::string line = Fmt("%4d%4c%5d%15.6f", number, shell.type, ++primitive, exponent) + coefficient(0.7);
            if (shell.type == 'L')
                line += coefficient(1.4);
            m_out.line(line + " ");
        }
        m_out.blank();
    }
}

void Run::searchParameters(const Model &model)
{
    m_out.blank();
    m_out.line("          -----------------------------");
    m_out.line("          STATIONARY POINT LOCATION RUN");
    m_out.line("          -----------------------------");
    m_out.blank();
    m_out.line("          OBTAINING INITIAL HESSIAN, HESS=GUESS    REUSE=       F");
    m_out.line(" DIAGONAL GUESS HESSIAN IN CARTESIAN COORDS IS H(I,I)=  0.3333");
    m_out.blank();
    m_out.line("          PARAMETERS CONTROLLING GEOMETRY SEARCH ARE");
    m_out.line("          METHOD =GDIIS               UPHESS =BFGS    ");
    m_out.line("          NNEG   =         0          NFRZ   =         0");
    m_out.line(Fmt("          NSTEP  =%10d          IFOLOW =         1", model.nstep));
    m_out.line("          HESS   =GUESS               RESTAR =         F");
    m_out.line(Fmt("          OPTTOL =%10.3E          RMIN   = 1.500E-03", model.opttol));
    m_out.line("          RMAX   = 1.000E-01          RLIM   = 7.000E-02");
    m_out.line("          DXMAX  = 3.000E-01          PURIFY =         F");
}

void Run::coordinates(const std::vector<Atom> &atoms, const char *heading, bool blankBefore)
{
    if (blankBefore)
        m_out.blank();
    m_out.line(heading);
    m_out.line("   ATOM   CHARGE       X              Y              Z");
    m_out.line(" ------------------------------------------------------------");
    for (const Atom &a : atoms)
        m_out.line(Fmt(" %-10s%5.1f%15.10f%15.10f%15.10f", a.name.c_str(), double(a.charge), a.xyz[0], a.xyz[1],
                       a.xyz[2]));
    m_out.blank();
}

// The geometry of a search step as Firefly prints it: the atoms of $DATA in
// their order, then the whole molecule.
void Run::searchGeometry(const Step &step, bool blankBefore)
{
    coordinates(step.uniqueGeometry, " COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)", blankBefore);
    coordinates(step.geometry, " COORDINATES OF ALL ATOMS ARE (ANGS)", false);
}

// Distances between all atoms, four columns a block; "*" marks those below 3 angstrom.
void Run::distances(const std::vector<Atom> &atoms)
{
    if (atoms.size() < 2 || atoms.size() > 50)
        return;
    m_out.line("          INTERNUCLEAR DISTANCES (ANGS.)");
    m_out.line("          ------------------------------");
    m_out.blank();
    for (size_t first = 0; first < atoms.size(); first += 4) {
        const size_t last = std::min(atoms.size(), first + 4);
        std::string header(20, ' ');
        for (size_t j = first; j < last; ++j)
            header += Fmt("%-15s", atoms[j].name.c_str());
        m_out.line(header.substr(0, header.size() - 5));
        m_out.blank();
        for (size_t i = 0; i < atoms.size(); ++i) {
            std::string row = Fmt("%3zu  %-16s", i + 1, atoms[i].name.c_str());
            for (size_t j = first; j < last; ++j) {
                const double r = std::hypot(atoms[i].xyz[0] - atoms[j].xyz[0], atoms[i].xyz[1] - atoms[j].xyz[1],
                                            atoms[i].xyz[2] - atoms[j].xyz[2]);
                row += Fmt("%9.7f%s    ", r, i != j && r < 3.0 ? " *" : "  ");
            }
            m_out.line(row.substr(0, row.size() - 2));
        }
        m_out.blank();
    }
    m_out.line("  * ... LESS THAN  3.000");
    m_out.blank();
}

void Run::guess(const Model &model)
{
    m_out.line("          -------------");
    m_out.line("          GUESS OPTIONS");
    m_out.line("          -------------");
    m_out.line("          GUESS =HUCKEL            NORB  =       0          NORDER=       0");
    m_out.blank();
    m_out.line(" INITIAL GUESS ORBITALS GENERATED BY HUCKEL   ROUTINE.");
    m_out.blank();
    // The report reads the number of occupied orbitals at columns 1 to 6 of
    // the line after this marker.
    const auto set = [&](const char *marker, int occupied) {
        m_out.line(marker);
        m_out.line(Fmt("%6d ORBITALS ARE OCCUPIED (%5d CORE ORBITALS).", occupied, model.coreOrbitals));
        std::string labels;
        int onLine = 0;
        for (int i = model.coreOrbitals + 1; i <= model.basisCount(); ++i) {
            labels += Fmt("%6d=%-4s", i, "A");
            if (++onLine == 7) {
                m_out.line(labels);
                labels.clear();
                onLine = 0;
            }
        }
        if (onLine > 0)
            m_out.line(labels);
    };
    if (model.unrestricted) {
        set(" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).", model.occAlpha);
        m_out.blank();
        set(" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BETA SET(S).", model.occBeta);
    } else {
        set(" SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).", model.occAlpha);
    }
    m_out.line(" ...... END OF INITIAL ORBITAL SELECTION ......");
    timing();
}

void Run::twoElectronIntegrals()
{
    m_out.line("          --------------------");
    m_out.line("          2 ELECTRON INTEGRALS");
    m_out.line("          --------------------");
    m_out.blank();
    m_out.line(" THE -PK- OPTION IS OFF, THE INTEGRALS ARE NOT IN SUPERMATRIX FORM.");
    m_out.line(" STORING    4998 INTEGRALS/RECORD ON DISK, USING 12 BYTES/INTEGRAL.");
    burst();
    m_out.line(" ...... END OF TWO-ELECTRON INTEGRALS .....");
    timing();
}

// Integral record lines, as Firefly prints them with a high print level, at
// full speed (or at the asked rate) until the asked size is written.
void Run::burst()
{
    if (!(m_options.burstMiB > 0))
        return;
    m_out.raw({});
    const long long total = (long long)(m_options.burstMiB * 1024 * 1024);
    std::string block;
    for (int i = 0; block.size() < 64 * 1024; ++i)
        block += Fmt(" II,JST,KST,LST =%3d%3d%3d%3d NREC =%10d INTLOC =%5d\r\n", i % 97 + 1, i % 13 + 1, i % 7 + 1,
                     i % 3 + 1, i / 50 + 1, (i * 37) % 5000 + 1);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long written = 0;
    while (written < total) {
        std::string_view piece(block);
        if (total - written < (long long)piece.size()) {
            // End on a whole line.
            const size_t end = piece.find('\n', size_t(total - written));
            piece = piece.substr(0, end == std::string_view::npos ? piece.size() : end + 1);
        }
        m_out.raw(piece);
        written += (long long)piece.size();
        if (m_options.burstRate > 0) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double elapsed = double(now.tv_sec - start.tv_sec) + double(now.tv_nsec - start.tv_nsec) / 1e9;
            const double due = double(written) / (m_options.burstRate * 1024 * 1024);
            if (due > elapsed)
                m_out.sleepMs((due - elapsed) * 1000);
        }
    }
}

// False when the SCF does not converge within MAXIT iterations.
bool Run::scf(const Model &model, size_t step, int nominalMs)
{
    const double energy = model.steps[step].energy;
    const double nuclear = NuclearRepulsion(model.steps[step].geometry);
    if (step == 0) {
        m_out.line("          -------------------");
        m_out.line("          " + m_scfName + " SCF CALCULATION");
        m_out.line("          -------------------");
        m_out.blank();
        m_out.line(Fmt("     NUCLEAR ENERGY = %20.10f", nuclear));
        m_out.line(Fmt("     MAXIT =%5d     NPUNCH=    2", model.maxit));
        m_out.line("     EXTRAP=T  DAMP=F  SHIFT=F  RSTRCT=F  DIIS=T  DEM=F  SOSCF=F");
        m_out.line("     DENSITY CONV=  1.00E-05");
        m_out.blank();
    }
    m_out.line(" ITER EX DEM  TOTAL ENERGY      E CHANGE  DENSITY CHANGE    DIIS ERROR");
    // The first step starts from the guess; later ones from the previous orbitals.
    const int needed = step == 0 ? Model::FirstScfIterations : Model::LaterScfIterations;
    const int iterations = std::min(needed, model.maxit);
    double gap = step == 0 ? 0.002 * std::fabs(energy) : 0.04;
    double previous = 0;
    for (int i = 1; i <= iterations; ++i) {
        const double current = energy + gap;
        m_out.line(Fmt("%4d%3d%3d%16.9f%16.9f%14.9f%14.9f", i, (i - 1) % 6, 0, current, current - previous,
                       std::sqrt(gap) * 0.3, i == 1 ? 0.0 : std::sqrt(gap) * 0.1));
        previous = current;
        gap *= 0.12;
        m_out.pause(nominalMs / iterations);
    }
    m_out.blank();
    if (iterations < needed) {
        // As Firefly reports it: no energy for an SCF that did not converge.
        m_out.line(" SCF IS UNCONVERGED, TOO MANY ITERATIONS");
        m_out.blank();
        m_out.line(Fmt(" FINAL ENERGY IS %20.10f AFTER %3d ITERATIONS", 0.0, iterations));
        m_out.blank();
        return false;
    }
    m_out.line("          -----------------");
    m_out.line("          DENSITY CONVERGED");
    m_out.line("          -----------------");
    m_out.blank();
    m_out.line(Fmt(" FINAL ENERGY IS %20.10f AFTER %3d ITERATIONS", energy, iterations));
    m_out.blank();
    return true;
}

void Run::orbitals(const Model &model, const char *marker, double shift)
{
    if (model.unrestricted) {
        m_out.line("  ----- ALPHA SET ----- ");
        m_out.blank();
        orbitalSet(model, model.alphaEnergies, marker, shift, 0);
        m_out.line("  ----- BETA SET ----- ");
        m_out.blank();
        orbitalSet(model, model.betaEnergies, marker, shift, 1);
    } else {
        orbitalSet(model, model.alphaEnergies, marker, shift, 0);
    }
    m_out.line(" ...... END OF " + m_scfName + " CALCULATION ......");
}

// Groups of five orbitals, each group B + 4 lines: orbital numbers, energies
// (columns 16 + 11 p, width 11), symmetry labels, B coefficient lines, blank.
void Run::orbitalSet(const Model &model, const std::vector<double> &energies, const char *marker, double shift,
                     size_t spin)
{
    const std::string dashes(std::string(marker).size() - 10, '-');
    m_out.line("          " + dashes);
    m_out.line(marker);
    m_out.line("          " + dashes);
    m_out.blank();
    // Large basis sets: the occupied orbitals and ten virtual ones, as a
    // modest print level would give.
    size_t count = energies.size();
    if (count > 100)
        count = std::min(count, size_t(model.occAlpha) + 10);
    std::uint64_t seed = HashText(marker, 1469598103934665603ull + spin);
    for (size_t first = 0; first < count; first += 5) {
        const size_t last = std::min(count, first + 5);
        std::string numbers(15, ' '), values(15, ' '), symmetry(15, ' ');
        for (size_t i = first; i < last; ++i) {
            numbers += i == first ? Fmt("%8zu", i + 1) : Fmt("%11zu", i + 1);
            // The first printout (before the search) lies a little above the final orbitals.
            values += Fmt("%11.4f", energies[i] * (1 - shift));
            symmetry += "      A    ";
        }
        m_out.line(numbers);
        m_out.line(values);
        m_out.line(symmetry);
        for (size_t f = 0; f < model.functions.size(); ++f) {
            const BasisFunction &bf = model.functions[f];
            const Atom &atom = model.steps.front().geometry[bf.atom];
            std::string row = Fmt("%5zu  %-2.2s%3zu %2.2s", f + 1, ElementSymbol(atom.charge).c_str(), bf.atom + 1,
                                  bf.label.c_str());
            for (size_t i = first; i < last; ++i) {
                // Mostly small coefficients, a few large ones.
                seed = HashText(std::to_string(i * 7919 + f), seed);
                const double u = double(seed % 1000001) / 1e6;
                row += Fmt("%11.6f", (seed & (1u << 20)) ? u * u * u : -u * u * u);
            }
            m_out.line(row);
        }
        if (last < count)
            m_out.blank();
    }
}

// The report reads the total energy 9 lines below this marker, columns 38 to 56.
void Run::energyComponents(const Model &model, size_t step)
{
    const double total = model.steps[step].energy;
    const double nuclear = NuclearRepulsion(model.steps[step].geometry);
    const double electronic = total - nuclear;
    const double one = electronic / (1 - 0.31);
    const double two = electronic - one;
    const double kinetic = -total * 0.9962;
    const double potential = total - kinetic;
    m_out.blank();
    m_out.blank();
    m_out.line("                         ------------------------------");
    m_out.line("                         properties for the " + m_scfName + " density");
    m_out.line("                         ------------------------------");
    m_out.blank();
    m_out.line("          -----------------");
    m_out.line("          ENERGY COMPONENTS");
    m_out.line("          -----------------");
    m_out.blank();
    m_out.line("         WAVEFUNCTION NORMALIZATION =       1.0000000000");
    m_out.blank();
    m_out.line(Fmt("                ONE ELECTRON ENERGY =%19.10f", one));
    m_out.line(Fmt("                TWO ELECTRON ENERGY =%19.10f", two));
    m_out.line(Fmt("           NUCLEAR REPULSION ENERGY =%19.10f", nuclear));
    m_out.line("                                      ------------------");
    m_out.line(Fmt("                       TOTAL ENERGY =%19.10f", total));
    m_out.blank();
    m_out.line(Fmt(" ELECTRON-ELECTRON POTENTIAL ENERGY =%19.10f", two));
    m_out.line(Fmt("  NUCLEUS-ELECTRON POTENTIAL ENERGY =%19.10f", potential - two - nuclear));
    m_out.line(Fmt("   NUCLEUS-NUCLEUS POTENTIAL ENERGY =%19.10f", nuclear));
    m_out.line("                                      ------------------");
    m_out.line(Fmt("             TOTAL POTENTIAL ENERGY =%19.10f", potential));
    m_out.line(Fmt("               TOTAL KINETIC ENERGY =%19.10f", kinetic));
    m_out.line(Fmt("                 VIRIAL RATIO (V/T) =%19.10f", -potential / kinetic));
    m_out.blank();
    m_out.line(" ...... END OF PROPERTY EVALUATION ......");
}

// The progress scanner takes "STEP " and the 32 characters from the "=" of
// the NSERCH line, then 61 characters from 4 before "MAXIMUM GRADIENT =".
void Run::gradient(const Model &model, size_t step, int nominalMs)
{
    const Step &s = model.steps[step];
    m_out.line(" BEGINNING ONE ELECTRON GRADIENT...");
    m_out.line(" ..... END OF 1-ELECTRON GRADIENT ......");
    m_out.pause(nominalMs / 3);
    m_out.blank();
    m_out.line("          ----------------------");
    m_out.line("          GRADIENT OF THE ENERGY");
    m_out.line("          ----------------------");
    m_out.line(" ...... END OF 2-ELECTRON GRADIENT ......");
    timing();
    m_out.line(Fmt("          NSERCH=%3zu     ENERGY=%16.7f", step, s.energy));
    m_out.blank();
    m_out.line("                                 -----------------------");
    m_out.line("                                 GRADIENT (HARTREE/BOHR)");
    m_out.line("                                 -----------------------");
    m_out.line("        ATOM     ZNUC       DE/DX         DE/DY         DE/DZ");
    m_out.line(" --------------------------------------------------------------");
    for (size_t i = 0; i < s.geometry.size(); ++i)
        m_out.line(Fmt("%3zu  %-10s%7.1f%14.7f%14.7f%14.7f", i + 1, s.geometry[i].name.c_str(),
                       double(s.geometry[i].charge), s.gradient[3 * i], s.gradient[3 * i + 1], s.gradient[3 * i + 2]));
    m_out.blank();
    m_out.line(Fmt("          MAXIMUM GRADIENT =%11.7f    RMS GRADIENT =%10.7f", s.maxGradient, s.rmsGradient));
    m_out.pause(nominalMs / 3);
}

void Run::located(const InputDeck &deck, const Model &model)
{
    const Step &s = model.final();
    m_out.line("      ***** EQUILIBRIUM GEOMETRY LOCATED *****");
    m_out.blank();
    m_out.line(" " + deck.title);
    searchGeometry(s, false);
    const double nuclear = NuclearRepulsion(s.geometry);
    m_out.line(Fmt("          NUCLEAR ENERGY    = %20.10f", nuclear));
    m_out.line(Fmt("          ELECTRONIC ENERGY = %20.10f", s.energy - nuclear));
    m_out.line(Fmt("          TOTAL ENERGY      = %20.10f", s.energy));
    m_out.blank();
    orbitals(model, "          MOLECULAR ORBITALS", 0.0);
    energyComponents(model, model.steps.size() - 1);
}

void Run::summary(const Model &model)
{
    if (m_options.summaryFile.empty())
        return;
    std::string text;
    text += Fmt("electrons %d\n", model.electrons);
    text += Fmt("occupied %d\n", model.occAlpha);
    text += Fmt("basis %d\n", model.basisCount());
    const auto &e = model.alphaEnergies;
    text += Fmt("homo_hartree %.4f\n", e[size_t(model.occAlpha) - 1]);
    if (size_t(model.occAlpha) < e.size())
        text += Fmt("lumo_hartree %.4f\n", e[size_t(model.occAlpha)]);
    text += Fmt("total_energy_hartree %.10f\n", model.final().energy);
    text += Fmt("search %d\n", model.search ? 1 : 0);
    text += Fmt("converged %d\n", model.converged ? 1 : 0);
    text += Fmt("scf_converged %d\n", model.scfConverged ? 1 : 0);
    if (model.search)
        for (size_t k = 0; k < model.steps.size(); ++k)
            text += Fmt("step %zu %.7f %.7f %.7f\n", k, model.steps[k].energy, model.steps[k].maxGradient,
                        model.steps[k].rmsGradient);
    const std::string temporary = m_options.summaryFile + ".part";
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << text;
    std::rename(temporary.c_str(), m_options.summaryFile.c_str());
}

int Run::write()
{
    banner();
    m_out.pause(300);

    // Firefly echoes the cards before it reads them.
    InputDeck deck;
    Model model;
    try {
        if (m_options.input.empty())
            throw InputError{{" *** ERROR! NO INPUT FILE WAS GIVEN (-i)."}};
        std::vector<std::string> cards = ReadCards(m_options.input);
        echo(cards);
        m_out.pause(300);
        std::string all;
        for (const std::string &card : cards)
            all += card + '\n';
        deck = ParseInputDeck(std::move(cards));
        model = BuildModel(deck, HashText(all));
    } catch (const InputError &error) {
        m_out.pause(700);
        failure(error);
        return 1;
    }
    summary(model);
    m_scfName = model.unrestricted ? "UHF" : "RHF";
    if (deck.scftyp() == "ROHF")
        m_scfName = "ROHF";

    // Nominal timing: a search takes about 6 s, a single point about 3 s.
    const int steps = int(model.steps.size());
    const int stepMs = model.search ? std::clamp(5200 / steps, 250, 1200) : 1400;

    setup(deck, model);
    m_out.pause(400);
    if (model.search) {
        searchParameters(model);
        m_out.line(" NSERCH=   0");
        searchGeometry(model.steps[0]);
    }
    m_out.line("          ********************");
    m_out.line("          1 ELECTRON INTEGRALS");
    m_out.line("          ********************");
    m_out.line(" ...... END OF ONE-ELECTRON INTEGRALS ......");
    timing();
    guess(model);
    m_out.pause(200);
    twoElectronIntegrals();
    m_out.pause(200);

    for (size_t k = 0; k < model.steps.size(); ++k) {
        if (k > 0) {
            m_out.line(Fmt(" NSERCH=%4zu", k));
            searchGeometry(model.steps[k]);
            distances(model.steps[k].geometry);
            m_out.line(" ...... END OF ONE-ELECTRON INTEGRALS ......");
            m_out.line(" ...... END OF TWO-ELECTRON INTEGRALS .....");
            timing();
        }
        const bool scfConverged = scf(model, k, model.search ? stepMs / 2 : stepMs);
        if (k == 0) {
            orbitals(model, "          EIGENVECTORS", model.search ? model.orbitalShift : 0.0);
            timing();
            energyComponents(model, 0);
        } else {
            m_out.line(" ...... END OF " + m_scfName + " CALCULATION ......");
        }
        timing();
        if (!model.search) {
            m_out.pause(300);
            break;
        }
        if (!scfConverged)
            break; // no gradient without a converged SCF: the search ends here
        gradient(model, k, stepMs / 2);
        if (k + 1 < model.steps.size()) {
            const double change = model.steps[k + 1].energy - model.steps[k].energy;
            m_out.line("          HESSIAN UPDATED USING THE BFGS FORMULA");
            m_out.line(Fmt("             ACTUAL ENERGY CHANGE WAS %15.10f", change));
            m_out.line(Fmt("          RADIUS OF STEP TAKEN=%9.5f  CURRENT TRUST RADIUS=%9.5f", 0.3 * std::pow(0.6, double(k)),
                           0.3));
            timing();
        }
    }
    if (model.search) {
        if (!model.scfConverged)
            m_out.line("          ***** FAILURE TO LOCATE STATIONARY POINT, SCF HAS NOT CONVERGED *****");
        else if (model.converged)
            located(deck, model);
        else
            m_out.line("          ***** FAILURE TO LOCATE STATIONARY POINT, TOO MANY STEPS TAKEN *****");
        m_out.line(" ......END OF GEOMETRY SEARCH......");
        timing();
        m_out.pause(200);
    }
    m_out.line("      396849 WORDS OF    DYNAMIC MEMORY USED");
    m_out.line(" EXECUTION OF FIREFLY TERMINATED NORMALLY " + Clock());
    m_out.finish(m_options.noFinalNewline);
    return 0;
}

} // namespace

int WriteTranscript(const Options &options, OutputSink &out)
{
    return Run(options, out).write();
}
