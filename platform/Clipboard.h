#pragma once

#include <QString>

// Where text for the user's clipboard goes (the Firefly command line when
// CopyCmdLine is set, the HOMO-LUMO table). The windows implement it with
// the system clipboard (SystemClipboard); tests record.
class IClipboard
{
public:
    virtual ~IClipboard() = default;
    virtual void SetText(const QString &text) = 0;
};
