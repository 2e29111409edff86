#pragma once

#include <sys/types.h>

#include <vector>

// Firefly run on N cores is N processes: the one started and N - 1 helpers
// it starts itself, all in the starter's process group. The stand-in's
// helpers only wait. They end when the main process ends them after a
// normal run; when the main process is killed instead, they outlive it
// (so a front end that ends only the main process leaves them behind, as it
// would with Firefly) until kOrphanLifetimeSeconds have passed.
class Helpers
{
public:
    static constexpr int kOrphanLifetimeSeconds = 30;

    void start(int count);
    void stop();  // ends and reaps every helper
    const std::vector<pid_t> &pids() const { return m_pids; }

private:
    std::vector<pid_t> m_pids;
};
