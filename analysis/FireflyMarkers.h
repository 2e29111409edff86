#pragma once

#include <string_view>

// The texts Firefly prints that Nelo's readers of its output look for, each
// defined here once. Plain C++, so that the Qt-free progress scanner can use
// them. Letter case and blanks are as Firefly prints them; how each is
// matched (anywhere, at a line's start, as a whole line) is the reader's rule.
namespace FireflyMarkers {

// The geometry search, found anywhere in the text, letter case counting:
//   " PARAMETERS CONTROLLING GEOMETRY SEARCH ARE"
//   "          NSERCH=  3     ENERGY=    -379.7592316"
//   "          MAXIMUM GRADIENT =  0.0736070    RMS GRADIENT = 0.0250202"
//   "          OPTTOL = 1.000E-04          RMIN   = 1.500E-03"
//   "          ***** EQUILIBRIUM GEOMETRY LOCATED *****"
constexpr std::string_view SearchStart = "PARAMETERS CONTROLLING GEOMETRY SEARCH ARE";
constexpr std::string_view Step = "  NSERCH=";
constexpr std::string_view MaximumGradient = "MAXIMUM GRADIENT =";
constexpr std::string_view EquilibriumLocated = "EQUILIBRIUM GEOMETRY LOCATED";
// The labels of the numbers on those lines, each ending in its "=" sign.
constexpr std::string_view StepLabel = "NSERCH=";
constexpr std::string_view StepEnergyLabel = "ENERGY=";
constexpr std::string_view RmsGradientLabel = "RMS GRADIENT =";
constexpr std::string_view OptTolLabel = "OPTTOL =";

// How a job ended, at the start of a line behind its blanks and asterisks.
constexpr std::string_view Execution = "EXECUTION OF ";          // "EXECUTION OF FIREFLY TERMINATED NORMALLY"
constexpr std::string_view TerminatedNormally = " TERMINATED NORMALLY";
constexpr std::string_view TerminatedAbnormally = " TERMINATED -ABNORMALLY-";
constexpr std::string_view SaddlePointLocated = "SADDLE POINT LOCATED";
constexpr std::string_view NoStationaryPoint = "FAILURE TO LOCATE STATIONARY POINT"; // ", TOO MANY STEPS TAKEN"
constexpr std::string_view Scf = "SCF";                                               // ", SCF HAS NOT CONVERGED"
constexpr std::string_view ScfUnconverged = "SCF IS UNCONVERGED";
constexpr std::string_view DensityConverged = "DENSITY CONVERGED";
constexpr std::string_view EnergyConverged = "ENERGY CONVERGED";
constexpr std::string_view StepWord = "NSERCH";                                   // any line of a search step
constexpr std::string_view SearchParameters = "PARAMETERS CONTROLLING GEOMETRY SEARCH"; // with or without "ARE"

// The input deck echoed near the top, one card a line behind this prefix
// (padded to 80 columns), and the geometry of each step of a search: the
// symmetry-unique atoms in Angstrom, one line each in the order of $DATA.
constexpr std::string_view EchoPrefix = " INPUT CARD>";
constexpr std::string_view UniqueAtomsMarker = "COORDINATES OF SYMMETRY UNIQUE ATOMS (ANGS)";

// Whole lines of the orbital and energy printout, blanks counting.
constexpr std::string_view SymmetryBothSets = " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.   BOTH SET(S).";
constexpr std::string_view SymmetryAlphaSet = " SYMMETRIES FOR INITIAL GUESS ORBITALS FOLLOW.  ALPHA SET(S).";
constexpr std::string_view SymmetryDimensions = "     DIMENSIONS OF THE SYMMETRY SUBSPACES ARE";
constexpr std::string_view MolecularOrbitals = "          MOLECULAR ORBITALS";
constexpr std::string_view Eigenvectors = "          EIGENVECTORS";
constexpr std::string_view VersionWarning = " WARNING! YOU ARE USING OUTDATED VERSION OF THE PC GAMESS!";
constexpr std::string_view EnergyComponents = "          ENERGY COMPONENTS";
constexpr std::string_view Vibration = "  $VIB   ";

} // namespace FireflyMarkers
