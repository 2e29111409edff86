#pragma once

#include "OutputSink.h"
#include "Options.h"

// Writes a Firefly-style transcript of a run of the input file named by -i:
// banner, echo of the input, set-up, then a single point or a geometry
// search, with the orbital and energy sections in Firefly's printed layout.
// Returns the exit status: 0 for a normal run, 1 for a faulty input (the
// transcript then ends with Firefly-style error lines).
int WriteTranscript(const Options &options, OutputSink &out);
