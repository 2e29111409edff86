#pragma once

#include "platform/PowerOff.h"

// Powers the machine off through systemd-logind on the system bus
// (org.freedesktop.login1.Manager.PowerOff, not interactive). Polkit lets the
// local active user do it. A refusal or a missing bus is logged and otherwise
// ignored: the run is over either way.
class LogindPowerOff : public IPowerOff
{
public:
    void PowerOff() override;
};
