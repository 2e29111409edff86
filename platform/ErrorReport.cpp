#include "platform/ErrorReport.h"

#include "platform/Errors.h"
#include "platform/Notices.h"

#include <QString>

#include <exception>

void ReportCurrentException()
{
    try {
        throw;
    } catch (const NeloError &error) {
        Notices::ShowErrorReport(error.message());
    } catch (const std::exception &error) {
        Notices::ShowErrorReport(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        Notices::ShowErrorReport(QStringLiteral("An unexpected error occurred"));
    }
}
