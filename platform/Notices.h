#pragma once

#include <QString>

#include <functional>

// Notices and the general error report.
//
// A notice is a modal message box with a fixed text, no icon and one OK
// button, captioned with the application title and centred on the screen
// ("Unable to run Firefly!"). The error report is the same box with the
// critical icon; its text gets a full stop by ErrorReportText().
//
// The logic calls these functions and never a widget directly. The GUI library
// installs the presenters that show real message boxes (InstallMessageBoxPresenters);
// tests install their own to record what the user would have seen.
namespace Notices {

using Presenter = std::function<void(const QString &text)>;

void ShowNotice(const QString &text);
// A question with OK and Cancel, in the same box; true for OK. Only where
// going on cannot be undone (ending Nelo while its cluster jobs run).
bool Confirm(const QString &text);
void ShowErrorReport(const QString &message);   // applies ErrorReportText()

// Replace the presenters; returns the previous ones so a test can restore them.
Presenter SetNoticePresenter(Presenter presenter);
Presenter SetErrorPresenter(Presenter presenter);
using Asker = std::function<bool(const QString &text)>;
Asker SetConfirmPresenter(Asker asker);

} // namespace Notices
