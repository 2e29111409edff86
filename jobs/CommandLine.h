#pragma once

#include "jobs/JobSettings.h"
#include "platform/Clipboard.h"

#include <QString>
#include <QStringList>

// The exact command-line text Firefly is started with: what the user sees on
// the clipboard.
QString BuildCommandLine(const TJobSettings &settings, const QString &InputFileName,
                         const QString &OutputFileName);

// BuildCommandLine, copied to the clipboard when CopyCmdLine is set; the
// clipboard is not touched otherwise.
QString BuildCommandLine(const TJobSettings &settings, const QString &InputFileName,
                         const QString &OutputFileName, IClipboard &clipboard);

// The same content as a program and an argument list, for a process start
// that never goes through a shell.
struct FireflyInvocation
{
    QString program;        // EXEFile as stored
    QStringList arguments;
    QString workingDirectory; // the folder part of EXEFile, with its trailing "/"
    QString cores;          // CPUcores, which the arguments pass with -np: a scheduler allots as many
};

FireflyInvocation BuildInvocation(const TJobSettings &settings, const QString &InputFileName,
                                  const QString &OutputFileName);
