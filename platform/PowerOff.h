#pragma once

#include <QString>

// Powers the machine off after a queue run. The program uses the logind
// implementation; tests inject a recorder, so no test can ever power off.
class IPowerOff
{
public:
    virtual ~IPowerOff() = default;
    // Asks for the power-off; returns why it was refused (the machine then
    // stays on), empty when it was accepted.
    virtual QString PowerOff() = 0;
};
