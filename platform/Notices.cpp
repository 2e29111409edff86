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

// Without a GUI nobody can answer: the question is logged and declined.
Asker &confirmPresenter()
{
    static Asker asker = [](const QString &text) {
        qWarning().noquote() << text;
        return false;
    };
    return asker;
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

bool Confirm(const QString &text)
{
    return confirmPresenter()(text);
}

Asker SetConfirmPresenter(Asker asker)
{
    return std::exchange(confirmPresenter(), std::move(asker));
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
