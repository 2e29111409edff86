#pragma once

#include <QByteArray>

// Firefly-style output of a geometry optimisation, made up for benchmarks:
// the set-up (dimension and symmetry blocks, the initial orbitals), then
// steps of SCF iterations, coordinates and gradients, each with its NSERCH
// and MAXIMUM GRADIENT lines, then the located geometry with its final
// orbitals and energies. CR LF line ends. About `bytes` long.
QByteArray SyntheticOptimisationOutput(qsizetype bytes);

// How many steps the text of that size holds.
int SyntheticStepCount(qsizetype bytes);
