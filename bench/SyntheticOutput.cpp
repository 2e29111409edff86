#include "SyntheticOutput.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int Atoms = 20;
constexpr int Basis = 60;
constexpr int Occupied = 35;

void line(QByteArray &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void line(QByteArray &out, const char *format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    out.append(buffer, n);
    out.append("\r\n");
}

double wobble(int a, int b)
{
    return ((a * 7919 + b * 104729) % 20001 - 10000) / 100000.0;
}

void orbitals(QByteArray &out, const char *marker)
{
    line(out, "          ------------------");
    line(out, "%s", marker);
    line(out, "          ------------------");
    for (int first = 0; first < Basis; first += 5) {
        line(out, "%s", "");
        line(out, "                   %5d      %5d      %5d      %5d      %5d", first + 1, first + 2, first + 3, first + 4,
             first + 5);
        QByteArray energies(15, ' ');
        for (int i = first; i < first + 5; ++i) {
            char value[16];
            std::snprintf(value, sizeof value, "%11.4f", i < Occupied ? -11.0 + 0.3 * i : 0.1 + 0.05 * i);
            energies += value;
        }
        out += energies + "\r\n";
        line(out, "                     BU         AG         BU         AG         BU  ");
        for (int b = 0; b < Basis; ++b)
            line(out, "%5d  C %3d  S  %9.6f  %9.6f  %9.6f  %9.6f  %9.6f", b + 1, b / 5 + 1, wobble(b, first),
                 wobble(b, first + 1), wobble(b, first + 2), wobble(b, first + 3), wobble(b, first + 4));
    }
}

void energyComponents(QByteArray &out, double total)
{
    line(out, "%s", "");
    line(out, "          -----------------");
    line(out, "          ENERGY COMPONENTS");
    line(out, "          -----------------");
    line(out, "%s", "");
    line(out, "         WAVEFUNCTION NORMALIZATION =       1.0000000000");
    line(out, "%s", "");
    line(out, "                ONE ELECTRON ENERGY =   -1412.1573265820");
    line(out, "                TWO ELECTRON ENERGY =     580.2546141411");
    line(out, "           NUCLEAR REPULSION ENERGY =     452.1247572271");
    line(out, "                                      ------------------");
    line(out, "                       TOTAL ENERGY = %18.10f", total);
    line(out, "%s", "");
}

void step(QByteArray &out, int n)
{
    line(out, " NSERCH=%4d", n);
    line(out, "%s", "");
    line(out, " COORDINATES OF ALL ATOMS ARE (ANGS)");
    line(out, "   ATOM   CHARGE       X              Y              Z");
    line(out, " ------------------------------------------------------------");
    for (int a = 0; a < Atoms; ++a)
        line(out, " %-2s          %3.1f  %13.10f  %13.10f   0.0000000000", a % 3 ? "C" : "H", a % 3 ? 6.0 : 1.0,
             wobble(a, n) * 10, wobble(n, a) * 10);
    line(out, "%s", "");
    line(out, " ITER EX DEM  TOTAL ENERGY      E CHANGE  DENSITY CHANGE     ORB. GRAD");
    for (int i = 1; i <= 12; ++i)
        line(out, "%4d  0  0   -379.%010d    %12.9f   %12.9f   %12.9f", i, 7594672 + i * 13 + n, wobble(i, n) / 10,
             wobble(n, i) / 100, wobble(i, i + n) / 100);
    line(out, "%s", "");
    line(out, "          NSERCH=%3d     ENERGY=    -379.%07d", n, 7594672 - n * 7 % 100000);
    line(out, "%s", "");
    line(out, "                                 -----------------------");
    line(out, "                                 GRADIENT (HARTREE/BOHR)");
    line(out, "                                 -----------------------");
    line(out, "        ATOM     ZNUC       DE/DX         DE/DY         DE/DZ");
    line(out, " --------------------------------------------------------------");
    for (int a = 0; a < Atoms; ++a)
        line(out, "%3d  %-2s           %3.1f   %11.7f   %11.7f     0.0000000", a + 1, a % 3 ? "C" : "H", a % 3 ? 6.0 : 1.0,
             wobble(a, n) / 10, wobble(n, a) / 10);
    line(out, "%s", "");
    line(out, "          MAXIMUM GRADIENT = %10.7f    RMS GRADIENT = %9.7f", 0.08 / (1 + n % 50), 0.02 / (1 + n % 50));
    line(out, "          RADIUS OF STEP TAKEN=   0.30000  CURRENT TRUST RADIUS=   0.30000");
    line(out, "%s", "");
    line(out, " CPU        TIME:   STEP =      0.52 ,  TOTAL =        1.7 SECONDS (    0.0 MIN)");
    line(out, "%s", "");
}

QByteArray stepText(int n)
{
    QByteArray out;
    step(out, n);
    return out;
}

} // namespace

int SyntheticStepCount(qsizetype bytes)
{
    return int(bytes / stepText(100).size()) + 1;
}

QByteArray SyntheticOptimisationOutput(qsizetype bytes)
{
    QByteArray out;
    out.reserve(bytes + (1 << 20));
    line(out, "          ******************************************************");
    line(out, "          *         FIREFLY VERSION 8.0.1 (SYNTHETIC)          *");
    line(out, "          ******************************************************");
    line(out, "%s", "");
    line(out, "     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE");
    line(out, " AG  =  25      AU  =   5      BU  =  25      BG  =   5");
    line(out, "%s", "");
    line(out, "          PARAMETERS CONTROLLING GEOMETRY SEARCH ARE");
    line(out, "          OPTTOL = 1.000E-05");
    line(out, "%s", "");
    line(out, " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).");
    line(out, "    %d ORBITALS ARE OCCUPIED (   10 CORE ORBITALS).", Occupied);
    line(out, "%s", "");
    orbitals(out, "          EIGENVECTORS");
    energyComponents(out, -379.7594672);

    const int steps = SyntheticStepCount(bytes);
    for (int n = 0; n < steps; ++n)
        step(out, n);

    line(out, "      ***** EQUILIBRIUM GEOMETRY LOCATED *****");
    line(out, "          TOTAL ENERGY      =     -379.7779552139");
    line(out, "%s", "");
    orbitals(out, "          MOLECULAR ORBITALS");
    energyComponents(out, -379.7779552139);
    line(out, " CPU UTILIZATION:   STEP =      0.00%%,  TOTAL =     100.66%%");
    line(out, "  $VIB   ");
    line(out, "          IVIB=   0 IATOM=   0 ICOORD=   0 E=     -379.7779552139");
    return out;
}
