#include "jobs/CommandLine.h"

#include "jobs/DirList.h"
#include "platform/Paths.h"

QString BuildCommandLine(const TJobSettings &settings, const QString &InputFileName,
                         const QString &OutputFileName)
{
    QString line = settings.EXEFile;
    line += QStringLiteral(" -i \"") + InputFileName;
    line += QStringLiteral("\" -o \"") + OutputFileName;
    line += QStringLiteral("\" -b \"") + settings.LibFile + QLatin1Char('"');
    if (settings.Fopt)
        line += QStringLiteral(" -f");
    if (settings.Ropt)
        line += QStringLiteral(" -r");
    if (settings.Popt)
        line += QStringLiteral(" -p");
    line += QLatin1Char(' ') + settings.AddCmdLine;
    line += QStringLiteral(" -np ") + settings.CPUcores;
    if (settings.AutoDir)
        line += QStringLiteral(" -t \"") + settings.DirList + QStringLiteral("/\"");
    else
        line += QLatin1Char(' ') + settings.DirList;
    return line;
}

QString BuildCommandLine(const TJobSettings &settings, const QString &InputFileName,
                         const QString &OutputFileName, IClipboard &clipboard)
{
    QString line = BuildCommandLine(settings, InputFileName, OutputFileName);
    if (settings.CopyCmdLine)
        clipboard.SetText(line);
    return line;
}

FireflyInvocation BuildInvocation(const TJobSettings &settings, const QString &InputFileName,
                                  const QString &OutputFileName)
{
    FireflyInvocation invocation;
    invocation.program = settings.EXEFile;
    invocation.workingDirectory = Paths::FolderPart(settings.EXEFile);
    invocation.cores = settings.CPUcores;

    QStringList &args = invocation.arguments;
    args << QStringLiteral("-i") << InputFileName << QStringLiteral("-o") << OutputFileName
         << QStringLiteral("-b") << settings.LibFile;
    if (settings.Fopt)
        args << QStringLiteral("-f");
    if (settings.Ropt)
        args << QStringLiteral("-r");
    if (settings.Popt)
        args << QStringLiteral("-p");
    // The free options are words of the same quoted form as a directory list.
    args << SplitDirList(settings.AddCmdLine);
    args << QStringLiteral("-np") << settings.CPUcores;
    if (settings.AutoDir)
        args << QStringLiteral("-t") << settings.DirList + QLatin1Char('/');
    else
        args << SplitDirList(settings.DirList);
    return invocation;
}
