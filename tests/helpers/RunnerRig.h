#pragma once

// A job runner wired to recording stand-ins of the main window, the
// clipboard and the power switch, in a temporary folder; and the same rig
// with firefly-standin (NELO_FIREFLY_STANDIN) as Firefly.

#include "analysis/GeometryScanner.h"
#include "jobs/JobRunner.h"
#include "jobs/JobSettings.h"
#include "jobs/RunJobsModel.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Standin.h"
#include "tests/helpers/FakeJobWindow.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

struct RunnerRig
{
    QTemporaryDir dir;
    TJobSettings settings;
    FakeJobWindow window;
    ClipboardRecorder clipboard;
    PowerOffRecorder powerOff;
    GeometryScanner scanner;
    JobRunner runner{settings, window, clipboard, powerOff, scanner};

    // The ids the run's jobs have (process or cluster ids), in the jobs view's order.
    QStringList ids() const
    {
        QStringList list;
        for (const RunJobsModel::Row &row : runner.JobsModel().Rows())
            list << row.status.id;
        return list;
    }
    // How many of the run's jobs are in that phase.
    int phaseCount(IFireflyRun::Phase phase) const
    {
        const auto &rows = runner.JobsModel().Rows();
        return int(std::count_if(rows.begin(), rows.end(), [&](const auto &row) { return row.status.phase == phase; }));
    }
    // Calls `act` between the runner's polls until it answers true.
    void during(std::function<bool()> act)
    {
        runner.SetWait([act, done = false](int ms) mutable {
            JobRunner::WaitHandlingEvents(ms);
            if (!done)
                done = act();
        });
    }
};

// The inputs live in the folder `jobsFolder` of the rig's folder; the
// stand-in's working folders below "scratch".
struct StandinRig : RunnerRig
{
    QString jobs;
    QByteArray input;   // what queue() writes into each input file

    StandinRig(const QString &jobsFolder, const QByteArray &inputText)
        : jobs(dir.filePath(jobsFolder)), input(inputText)
    {
        QDir().mkpath(jobs);
        setStandinAsFirefly(settings, dir.filePath(QStringLiteral("scratch")));
    }

    QString job(const QString &name) const { return jobs + QLatin1Char('/') + name; }

    // Writes the input file and puts it at the end of the queue.
    void queue(const QString &name, bool checked = true)
    {
        writeFile(job(name), input);
        window.jobs.append({job(name), checked});
    }
};
