#pragma once

#include <QString>

#include <exception>

// Errors that end a handler and reach the general error report. Each type
// carries exactly the text the user sees; what() gives it as UTF-8.
class NeloError : public std::exception
{
public:
    explicit NeloError(QString message);
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }
    // Puts text in front of the message ("water.out: "); the type stays.
    void Prepend(const QString &text);

private:
    QString m_message;
    QByteArray m_utf8;
};

// "'%s' is not a valid integer value" / "'%s' is not a valid floating point value"
class EConvertError : public NeloError
{
public:
    using NeloError::NeloError;
    static EConvertError invalidInteger(const QByteArray &text);
    static EConvertError invalidFloat(const QByteArray &text);
};

// "List index out of bounds (%d)"
class EListError : public NeloError
{
public:
    using NeloError::NeloError;
    static EListError indexOutOfBounds(qint64 index);
};

// "Unable to write to %s"
class EWriteError : public NeloError
{
public:
    using NeloError::NeloError;
    static EWriteError unableToWrite(const QString &path);
};

// A file that cannot be opened or read (Parse, HOMO-LUMO), a marker that is
// missing, and other failures that have no runtime text of their own.
class EFileError : public NeloError
{
public:
    using NeloError::NeloError;
};

// The text of the general error report: a full stop is appended when the last
// character sorts after "." (so "...value'" gets one, "...run!" does not).
QString ErrorReportText(const QString &message);
