#pragma once

// A backend whose runs go on until the test ends them: several at once,
// refusals on demand, runs that outlive Nelo or not. A run writes no output
// (the runner then lists the output path as it would for a Firefly that
// wrote nothing). Drive a run with JobRunner::SetWait: the wait is the
// monitor's turn, so a test acts between two polls without sleeping.

#include "jobs/FireflyRun.h"

#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

class FakeBackend : public IExecutionBackend
{
public:
    struct Run
    {
        QString input;
        QString output;
        bool ended = false;
        bool killed = false;
    };

    int atOnce = 1;
    bool outlives = true;
    bool refusalStops = true;
    QString problem;
    QStringList refused;       // file names of inputs whose start is refused
    QString refusal = QStringLiteral("the cluster refused the job");
    std::vector<std::shared_ptr<Run>> runs; // started or adopted, oldest first
    int mostAtOnce = 0;        // the most runs not ended at one time

    std::unique_ptr<IFireflyRun> NewRun(const QString &input, const QString &output) override
    {
        auto run = std::make_shared<Run>();
        run->input = input;
        run->output = output;
        return std::make_unique<FireflyRun>(*this, run);
    }
    int JobsAtOnce() const override { return atOnce; }
    bool RunsOutliveNelo() const override { return outlives; }
    bool RefusalStopsRun() const override { return refusalStops; }
    QString Problem() const override { return problem; }

    // A run of a job a previous Nelo left going.
    std::unique_ptr<IFireflyRun> Adopt(const QString &input, const QString &output)
    {
        std::unique_ptr<IFireflyRun> run = NewRun(input, output);
        runs.push_back(static_cast<FireflyRun &>(*run).state);
        return run;
    }

    std::vector<std::shared_ptr<Run>> Running() const
    {
        std::vector<std::shared_ptr<Run>> going;
        std::copy_if(runs.begin(), runs.end(), std::back_inserter(going), [](const auto &run) { return !run->ended; });
        return going;
    }

private:
    struct FireflyRun : IFireflyRun
    {
        FireflyRun(FakeBackend &backend, std::shared_ptr<Run> run) : backend(backend), state(std::move(run)) {}

        bool Start(const FireflyInvocation &, QString *why) override
        {
            if (backend.refused.contains(state->input.mid(state->input.lastIndexOf(QLatin1Char('/')) + 1))) {
                *why = backend.refusal;
                return false;
            }
            backend.runs.push_back(state);
            backend.mostAtOnce = std::max(backend.mostAtOnce, int(backend.Running().size()));
            return true;
        }
        bool IsRunning() override { return !state->ended; }
        void Kill() override { state->ended = state->killed = true; }
        ProcessEnd End() const override { return state->killed ? ProcessEnd::Signalled(15) : ProcessEnd::Exited(0); }
        Status CurrentStatus() const override { return {state->ended ? Phase::Ended : Phase::Running, {}, {}, {}}; }

        FakeBackend &backend;
        std::shared_ptr<Run> state;
    };
};
