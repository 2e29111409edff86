#pragma once

#include <string>
#include <vector>

// What one run of the stand-in was asked to do: Firefly's own command line
// as Nelo passes it, plus the test controls (FIREFLY_STANDIN_* environment
// variables or --standin-* words; a word wins over the environment).
struct Options
{
    // Firefly's command line: -i INPUT -o OUTPUT -b LIB [-f] [-r] [-p]
    // [free words] -np N, then -t DIR/ or a list of working directories.
    std::string input;
    std::string output;
    std::string library;
    bool fopt = false;
    bool ropt = false;
    bool popt = false;
    int cores = 1;
    std::string tempDir;
    std::vector<std::string> workDirs;

    // Test controls.
    double pace = 1.0;            // time scale of the pauses; 0 = as fast as possible
    std::string replayFile;       // copy this file to the output instead of a transcript
    long replayChunk = 4096;      // bytes per replayed write
    long replayInterval = 50;     // milliseconds between replayed writes
    long crashAfter = -1;         // killed by crashSignal after this many lines
    int crashSignal = 9;          // SIGKILL
    bool noOutput = false;        // never create the output file
    bool noFinalNewline = false;  // the last line ends without CR LF
    double burstMiB = 0;          // write this many MiB of integral records at once
    double burstRate = 0;         // MiB/s for the burst; 0 = full speed
    int exitStatus = -1;          // forced exit status; -1 = the natural one
    std::string recordFile;       // argument vector and working directory go here
    std::string pidFile;          // main and helper process ids go here
    std::string summaryFile;      // the values the transcript reports go here
    bool help = false;
};

// Parses argv (and the environment for the controls). Returns false and sets
// error for a control whose value is not understood; Firefly's own unknown
// options are ignored, as Firefly ignores options it does not need.
bool ParseOptions(int argc, char **argv, Options &options, std::string &error);

const char *HelpText();
