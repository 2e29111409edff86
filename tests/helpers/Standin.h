#pragma once

// Running firefly-standin (NELO_FIREFLY_STANDIN) as Firefly.

#include "jobs/JobSettings.h"
#include "tests/helpers/Files.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
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

// What firefly-standin's record control writes for a run in
// `workingDirectory` with `argv` (the program first): "cwd DIR", then
// "arg ARGUMENT" per argument, backslash and line feed escaped.
inline QByteArray standinRecord(const QString &workingDirectory, const QStringList &argv)
{
    const auto escaped = [](const QString &text) {
        return QFile::encodeName(text).replace('\\', "\\\\").replace('\n', "\\n");
    };
    QByteArray record = "cwd " + escaped(workingDirectory) + '\n';
    for (const QString &argument : argv)
        record += "arg " + escaped(argument) + '\n';
    return record;
}

// The pids of one kind ("main" or "helper") in the file firefly-standin's
// pids control writes.
inline QList<qint64> standinPids(const QString &file, const QByteArray &kind)
{
    QList<qint64> pids;
    for (const QByteArray &line : readFile(file).split('\n'))
        if (line.startsWith(kind + ' '))
            pids << line.mid(kind.size() + 1).toLongLong();
    return pids;
}

// An optimisation that takes firefly-standin 12 steps from this geometry
// (and its continuations only the steps left), with at most `nstep` steps
// a run.
inline QByteArray twelveStepSearch(int nstep)
{
    return " $CONTRL SCFTYP=RHF RUNTYP=OPTIMIZE $END\r\n $STATPT OPTTOL=1.0E-5 NSTEP=" + QByteArray::number(nstep)
           + " $END\r\n $DATA\r\nWater, a search of twelve steps\r\nC1\r\n"
             " O   8.0    0.0000000   0.0000000   0.1240000\r\n"
             " H   1.0    0.0000000   0.7920000  -0.4960000\r\n"
             " H   1.0    0.0000000  -0.7920000  -0.4960000\r\n $END\r\n";
}

// Runs firefly-standin at once (pace 0) on `input`, writing `output` (its
// working folder beside it). The lines of its summary control ("step K
// ENERGY MAXGRAD RMSGRAD", ...); none when it did not end with status 0.
inline QByteArrayList standinOutput(const QString &input, const QString &output)
{
    const QString summary = output + QStringLiteral(".summary");
    QProcess standin;
    standin.start(QStringLiteral(NELO_FIREFLY_STANDIN),
                  {"-i", input, "-o", output, "-b", "", "--standin-pace=0", "--standin-summary=" + summary, "-np", "1",
                   "-t", output.left(output.lastIndexOf(QLatin1Char('/')) + 1)});
    if (!standin.waitForFinished(60000) || standin.exitStatus() != QProcess::NormalExit || standin.exitCode() != 0)
        return {};
    return readFile(summary).split('\n');
}
