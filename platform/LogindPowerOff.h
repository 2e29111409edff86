#pragma once

#include "platform/PowerOff.h"

#include <QString>

// Powers the machine off through systemd-logind:
// org.freedesktop.login1.Manager.PowerOff(false) on the system bus (not
// interactive: no authentication prompt; polkit lets the local active user do
// it). logind can refuse (an inhibitor, other sessions, no permission), and
// the bus can be missing: PowerOff then returns logind's or the bus's reason.
class LogindPowerOff : public IPowerOff
{
public:
    // The system bus, or the bus at busAddress ("unix:path=...", tests).
    explicit LogindPowerOff(QString busAddress = QString());
    QString PowerOff() override;

private:
    QString m_busAddress;
};
