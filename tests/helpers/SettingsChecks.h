#pragma once

// Job settings for tests: one with every field off its default, and a
// field-by-field comparison; cluster settings with every field set.

#include "cluster/ClusterSettings.h"
#include "jobs/DirList.h"
#include "jobs/JobSettings.h"

#include <QtTest>

// Every field different from its default, with texts that need care
// (blanks, quotes, "$", ";", "=", a non-ASCII letter).
inline TJobSettings settingsInEveryField()
{
    TJobSettings s;
    s.EXEFile = "/opt/fire fly/ff \"v8\".exe";
    s.DirList = JoinDirList({"/scratch one/", "/tmp/q\"uote", "/plain"});
    s.CPUcores = "12";
    s.OutputFormat = 255;
    s.AddCmdLine = "-ex \"$HOME\" ; rm *";
    s.AutoDir = true;
    s.Ropt = false;
    s.Fopt = false;
    s.Popt = false;
    s.CopyCmdLine = true;
    s.LibFile = "/lib/basis=set.lib";
    s.TxtFile = QString::fromUtf8("/usr/bin/k\xc3\xa9" "dit");
    s.MolFile = "=/usr/bin/avo;gadro";
    return s;
}

// Slurm, with every field different from its default.
inline TClusterSettings clusterInEveryField()
{
    TClusterSettings c;
    c.RunOn = TClusterSettings::Where::Slurm;
    c.Partition = "short,long";
    c.Account = "chem";
    c.TimeLimit = "2-12:00:00";
    c.Memory = "16G";
    c.SbatchOptions = "--qos=low \"--comment=a b\"";
    c.JobsAtOnce = 50;
    c.PollSeconds = 30;
    c.Destination = "alice@login.hpc.example";
    c.ClusterFirefly = "/opt/firefly/firefly";
    c.ClusterWorkFolder = "/scratch/alice/nelo jobs";
    c.ClusterLibrary = "/opt/firefly/basis lib";
    c.RemoveClusterFolders = true;
    return c;
}

// Compares field by field; a mismatch fails the test and names the field.
// Like a QCOMPARE in any helper, it returns (false) from here only, not from
// the test function.
inline bool compareSettings(const TJobSettings &actual, const TJobSettings &expected)
{
    const auto same = [&](auto TJobSettings::*field, const char *name) {
        return QTest::qCompare(actual.*field, expected.*field, name, name, __FILE__, __LINE__);
    };
    using S = TJobSettings;
    return same(&S::EXEFile, "EXEFile") && same(&S::DirList, "DirList") && same(&S::CPUcores, "CPUcores")
           && same(&S::OutputFormat, "OutputFormat") && same(&S::AddCmdLine, "AddCmdLine")
           && same(&S::AutoDir, "AutoDir") && same(&S::Ropt, "Ropt") && same(&S::Fopt, "Fopt")
           && same(&S::Popt, "Popt") && same(&S::CopyCmdLine, "CopyCmdLine") && same(&S::LibFile, "LibFile")
           && same(&S::TxtFile, "TxtFile") && same(&S::MolFile, "MolFile");
}
