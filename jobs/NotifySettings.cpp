#include "jobs/NotifySettings.h"

#include "jobs/IniFile.h"

#include <optional>

namespace {

constexpr QByteArrayView Section("Notifications");
constexpr QByteArrayView Key("NotifyWhenJobsEnd");

} // namespace

void LoadNotifySettings(TNotifySettings &settings, const IniFile &file)
{
    const std::optional<QByteArray> value = file.value(Section, Key);
    const std::optional<qint32> number = value ? ReadSettingsNumber(*value) : std::nullopt;
    settings.NotifyWhenJobsEnd = number ? *number != 0 : TNotifySettings().NotifyWhenJobsEnd;
}

void StoreNotifySettings(const TNotifySettings &settings, IniFile &file)
{
    if (settings == TNotifySettings() && !file.value(Section, Key))
        return;
    file.setValue(Section, Key, settings.NotifyWhenJobsEnd ? QByteArrayLiteral("1") : QByteArrayLiteral("0"));
}
