#pragma once

#include "platform/Clipboard.h"

// The desktop's clipboard, as plain text.
class SystemClipboard : public IClipboard
{
public:
    void SetText(const QString &text) override;
};
