#include "platform/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void SystemClipboard::SetText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}
