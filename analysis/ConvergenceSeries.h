#pragma once

#include <QString>

#include <string_view>
#include <vector>

// The course of a geometry search, for a chart: per step the energy, the
// maximum and the RMS gradient, and the convergence threshold OPTTOL.
//
// Read from Firefly's own lines, each complete in one piece of text:
//   "          NSERCH=  3     ENERGY=    -379.7592316"        a step and its energy
//   "          MAXIMUM GRADIENT =  0.0736070    RMS GRADIENT = 0.0250202"
//                                                              its gradients (the step before)
//   "          OPTTOL = 1.000E-04          RMIN   = 1.500E-03" the threshold, in the block of
//                                                              parameters of the search
// A step line without "ENERGY=" (" NSERCH=   4", where a step begins) adds
// nothing. Fed with the same pieces of complete lines the job monitor hands
// to the progress scanner, or with a whole file; one pass over the bytes,
// jumping from one "=" sign to the next.
struct ConvergencePoint
{
    int step = 0;
    double energy = 0;       // hartree
    double maxGradient = 0;  // hartree/bohr; NaN until the step's gradient line has come
    double rmsGradient = 0;  // the same
};

class ConvergenceSeries
{
public:
    // Firefly's threshold when the output names none.
    static constexpr double DefaultOptTol = 1.0e-4;

    // Takes a piece of complete lines (the last one may lack its line break).
    void Feed(std::string_view lines);
    void Clear();

    const std::vector<ConvergencePoint> &Points() const { return m_points; }
    double OptTol() const { return m_optTol; }
    bool OptTolFromOutput() const { return m_optTolRead; }

private:
    std::vector<ConvergencePoint> m_points;
    double m_optTol = DefaultOptTol;
    bool m_optTolRead = false;
};

// The series of a whole output file, read in pieces of 1 MiB.
// Throws EFileError naming the file when it cannot be opened or read.
ConvergenceSeries ReadConvergenceSeries(const QString &fileName);
