#include "platform/Errors.h"

NeloError::NeloError(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8())
{
}

void NeloError::Prepend(const QString &text)
{
    m_message.prepend(text);
    m_utf8 = m_message.toUtf8();
}

EConvertError EConvertError::invalidInteger(const QByteArray &text)
{
    return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text)));
}

EConvertError EConvertError::invalidFloat(const QByteArray &text)
{
    return EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(QString::fromLatin1(text)));
}

EListError EListError::indexOutOfBounds(qint64 index)
{
    return EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}

EWriteError EWriteError::unableToWrite(const QString &path)
{
    return EWriteError(QStringLiteral("Unable to write to %1").arg(path));
}

QString ErrorReportText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}
