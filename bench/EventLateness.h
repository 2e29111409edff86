// The interface's event latency while something runs: a 1 ms timer ticks
// meanwhile, and each tick's lateness (the gap to the tick before, less the
// 1 ms asked for) is recorded.
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <vector>

struct Lateness
{
    double p50, p99, max; // milliseconds
    size_t ticks;
};

template<typename Run>
Lateness TimerLateness(Run run)
{
    std::vector<double> lateness;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, double(now - last) / 1e6 - 1.0));
        last = now;
    });
    tick.start(1);
    clock.start();
    run();
    tick.stop();
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double p) {
        return lateness.empty() ? 0.0 : lateness[std::min(lateness.size() - 1, size_t(p * double(lateness.size() - 1) + 0.5))];
    };
    return {at(0.5), at(0.99), lateness.empty() ? 0.0 : lateness.back(), lateness.size()};
}
