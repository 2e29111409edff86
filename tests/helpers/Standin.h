#pragma once

// Running firefly-standin (NELO_FIREFLY_STANDIN) as Firefly.

#include "jobs/JobSettings.h"

#include <QString>
#include <QtGlobal>

// Settings that run firefly-standin as Firefly in working folders it
// creates below `scratch`, each output beside its input as NAME.out.
inline void setStandinAsFirefly(TJobSettings &settings, const QString &scratch)
{
    settings.EXEFile = QStringLiteral(NELO_FIREFLY_STANDIN);
    settings.AutoDir = true;
    settings.DirList = scratch;
    settings.OutputFormat = 0;
}

// Unsets every environment variable that steers firefly-standin, so that one
// test's choices never reach the next.
inline void unsetStandinControls()
{
    for (const char *name : {"FIREFLY_STANDIN_PACE", "FIREFLY_STANDIN_RECORD", "FIREFLY_STANDIN_PIDS",
                             "FIREFLY_STANDIN_CRASH_AFTER", "FIREFLY_STANDIN_CRASH_SIGNAL",
                             "FIREFLY_STANDIN_NO_OUTPUT", "FIREFLY_STANDIN_NO_FINAL_NEWLINE",
                             "FIREFLY_STANDIN_BURST", "FIREFLY_STANDIN_BURST_RATE", "FIREFLY_STANDIN_REPLAY",
                             "FIREFLY_STANDIN_REPLAY_CHUNK", "FIREFLY_STANDIN_REPLAY_INTERVAL", "FIREFLY_STANDIN_EXIT",
                             "FIREFLY_STANDIN_SUMMARY"})
        qunsetenv(name);
}
