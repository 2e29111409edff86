#pragma once

// Stand-ins for the machine's power switch and the clipboard that record
// what they are asked to do.

#include "jobs/CommandLine.h"
#include "platform/PowerOff.h"

#include <QStringList>

#include <functional>

class PowerOffRecorder : public IPowerOff
{
public:
    int count = 0;
    std::function<void()> onPowerOff;
    QString refusal; // what logind would answer; empty: the machine goes off
    QString PowerOff() override
    {
        ++count;
        if (onPowerOff)
            onPowerOff();
        return refusal;
    }
};

class ClipboardRecorder : public IClipboard
{
public:
    QStringList texts;
    void SetText(const QString &text) override { texts << text; }
};
