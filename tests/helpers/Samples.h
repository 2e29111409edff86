#pragma once

// The real Firefly outputs beside the checkout (NELO_SAMPLES_DIR). Begin a
// test that reads them with NELO_REQUIRE_SAMPLES(): without them it skips,
// saying so, except under CI (CI=true), where they must be there.

#include <QFileInfo>
#include <QString>
#include <QTest>

inline QString sampleFile(const char *name)
{
    return QStringLiteral(NELO_SAMPLES_DIR "/") + QLatin1String(name);
}

#define NELO_REQUIRE_SAMPLES()                                                                                        \
    do {                                                                                                               \
        if (!QFileInfo::exists(sampleFile("dvb_gopt_a.out"))) {                                                       \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL("the real Firefly outputs are not in " NELO_SAMPLES_DIR " (CI=true: they must be)");            \
            QSKIP("the real Firefly outputs are not in " NELO_SAMPLES_DIR);                                            \
        }                                                                                                              \
    } while (false)
