#pragma once

// nelo-analyze's commands that need Qt: homo-lumo, outcome, --json, and
// progress for the files that ProgressScanner alone does not take. They live
// in a module that nelo-analyze loads only for them, so that the progress
// command starts without loading Qt and the fifteen libraries it brings.

#include <cstddef>

// The progress scanner's state, which the files before left.
struct ProgressState
{
    const char *logLine;
    std::size_t logLineSize;
    const char *stepPrefix;
    std::size_t stepPrefixSize;
};

// Runs `command` ("progress", "homo-lumo", "outcome", or "continue" with an
// output and perhaps its input) on the files, as
// JSON when asked, progress going on from `state` when given; returns the
// exit status for them. Standard output holds nothing unwritten.
extern "C" int NeloAnalyzeCommands(const char *command, bool json, int fileCount, char **files,
                                   const ProgressState *state);
