// The input queue with 10,000 entries, on the real main window (offscreen):
// adding them, finding the first ticked entry behind all of them (what the
// runner does before every job), and removing them by selection.

#include "jobs/CommandLine.h"
#include "jobs/JobRunner.h"
#include "platform/PowerOff.h"
#include "ui/NeloForm.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <memory>

namespace {

class NoPowerOff : public IPowerOff
{
public:
    QString PowerOff() override { return {}; }
};

class NoClipboard : public IClipboard
{
public:
    void SetText(const QString &) override {}
};

struct Window
{
    QTemporaryDir dir;
    NoPowerOff powerOff;
    NoClipboard clipboard;
    std::unique_ptr<TForm1> form;

    Window()
    {
        QFile settings(dir.filePath("nelo.INI"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("[Settings]\nEXEFile=/opt/firefly/firefly\nDirList=/tmp/work\n");
        settings.close();
        TForm1::Environment environment;
        environment.arguments = {"nelo"};
        environment.settingsFile = dir.filePath("nelo.INI");
        environment.clipboard = &clipboard;
        environment.powerOff = &powerOff;
        environment.trayAvailable = [] { return true; };
        environment.quit = [] {};
        form = std::make_unique<TForm1>(environment);
        form->FormCreate();
        form->show();
    }
    QListWidget *queue() const { return form->findChild<QListWidget *>("JobListBox"); }
};

QStringList paths(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString("/home/chemist/runs/batch 7/job%1.inp").arg(i, 5, 10, QChar('0'));
    return list;
}

void BM_AddToQueue(benchmark::State &state)
{
    Window window;
    const QStringList list = paths(int(state.range(0)));
    for (auto _ : state) {
        for (const QString &path : list)
            window.form->AddJob(path);
        QCoreApplication::processEvents(); // the list lays itself out
        state.PauseTiming();
        window.queue()->clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AddToQueue)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FindFirstCheckedBehindAll(benchmark::State &state)
{
    Window window;
    for (const QString &path : paths(int(state.range(0))))
        window.form->AddJob(path);
    for (int i = 0; i + 1 < window.queue()->count(); ++i)
        window.queue()->item(i)->setCheckState(Qt::Unchecked);
    for (auto _ : state) {
        benchmark::DoNotOptimize(window.form->Runner().FindFirstChecked());
    }
}
BENCHMARK(BM_FindFirstCheckedBehindAll)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_RemoveEverySecondFromQueue(benchmark::State &state)
{
    Window window;
    const QStringList list = paths(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        window.queue()->clear();
        for (const QString &path : list)
            window.form->AddJob(path);
        for (int i = 0; i < window.queue()->count(); i += 2)
            window.queue()->item(i)->setSelected(true);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        window.form->DeleteInBtnClick();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_RemoveEverySecondFromQueue)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
