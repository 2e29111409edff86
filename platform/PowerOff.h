#pragma once

// Powers the machine off after a queue run. The program uses the logind
// implementation; tests inject a recorder, so no test can ever power off.
class IPowerOff
{
public:
    virtual ~IPowerOff() = default;
    virtual void PowerOff() = 0;
};
