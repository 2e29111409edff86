#include "platform/Notices.h"

#include "platform/Errors.h"

#include <QDebug>

#include <utility>

namespace Notices {
namespace {

// Without a GUI (command-line tools, tests that install nothing) notices go to
// the log, so nothing the user should have seen is silently dropped.
Presenter &noticePresenter()
{
    static Presenter presenter = [](const QString &text) { qWarning().noquote() << text; };
    return presenter;
}

Presenter &errorPresenter()
{
    static Presenter presenter = [](const QString &text) { qCritical().noquote() << text; };
    return presenter;
}

} // namespace

void ShowNotice(const QString &text)
{
    noticePresenter()(text);
}

void ShowErrorReport(const QString &message)
{
    errorPresenter()(ErrorReportText(message));
}

Presenter SetNoticePresenter(Presenter presenter)
{
    return std::exchange(noticePresenter(), std::move(presenter));
}

Presenter SetErrorPresenter(Presenter presenter)
{
    return std::exchange(errorPresenter(), std::move(presenter));
}

} // namespace Notices
