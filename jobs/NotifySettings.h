#pragma once

#include "jobs/JobSettings.h"

// Whether Nelo tells the desktop when jobs end (RunNotifications). Kept in
// the "Notifications" section of the settings file and, like the rest,
// written back only by Exit.
struct TNotifySettings
{
    bool NotifyWhenJobsEnd = true;

    bool operator==(const TNotifySettings &other) const { return NotifyWhenJobsEnd == other.NotifyWhenJobsEnd; }
};

// Reads the section; a missing key, or one that does not read as a number,
// gives the default.
void LoadNotifySettings(TNotifySettings &settings, const IniFile &file);
// Sets the section's key in the document. A file without the section gets
// it only once the value differs from its default, so the settings file of
// a user who never changes it stays as it always was.
void StoreNotifySettings(const TNotifySettings &settings, IniFile &file);
// The section as SaveSettings writes it with the thirteen keys; the settings
// must outlive the call.
inline IniSections NotifySection(const TNotifySettings &settings)
{
    return [&settings](IniFile &file) { StoreNotifySettings(settings, file); };
}
