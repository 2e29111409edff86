#include "jobs/IniFile.h"

#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

QByteArrayView leftTrimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    while (begin < text.size() && isBlank(text[begin]))
        ++begin;
    return text.sliced(begin);
}

bool isComment(QByteArrayView line)
{
    const QByteArrayView t = leftTrimmed(line);
    return t.startsWith(';') || t.startsWith('#');
}

// "[name]" with blanks allowed around the name and before "[".
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView t = leftTrimmed(line);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed(t.sliced(1, close - 1));
}

// The key of a "key=value" line; nothing for sections, comments and other lines.
std::optional<QByteArrayView> keyName(QByteArrayView line)
{
    if (isComment(line) || sectionName(line))
        return std::nullopt;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    const QByteArrayView key = trimmed(line.first(equals));
    if (key.isEmpty())
        return std::nullopt;
    return key;
}

QString nameForMessage(QByteArrayView name)
{
    return QString::fromLatin1(name.data(), name.size());
}

void checkSectionName(QByteArrayView section)
{
    if (section.isEmpty() || trimmed(section).size() != section.size() || section.contains(']')
        || section.contains('\r') || section.contains('\n'))
        throw EIniValueError(
            QStringLiteral("'%1' cannot be used as a section name in an INI file").arg(nameForMessage(section)));
}

void checkKeyName(QByteArrayView key)
{
    const QByteArray line = key.toByteArray() + '=';
    // A key that starts with "[" reads back as one only while its value holds
    // no "]": "[k=a]b" is a section line.
    if (key.isEmpty() || trimmed(key).size() != key.size() || key.contains('=') || key.contains('\r')
        || key.contains('\n') || key.startsWith('[') || keyName(line) != key)
        throw EIniValueError(
            QStringLiteral("'%1' cannot be used as a key name in an INI file").arg(nameForMessage(key)));
}

} // namespace

IniFile IniFile::fromBytes(const QByteArray &bytes)
{
    IniFile file;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r')
            continue;
        const qsizetype endLength = (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
        file.m_lines.append({bytes.sliced(start, i - start), bytes.sliced(i, endLength)});
        i += endLength - 1;
        start = i + 1;
    }
    if (start < bytes.size())
        file.m_lines.append({bytes.sliced(start), QByteArray()});
    return file;
}

QByteArray IniFile::toBytes() const
{
    QByteArray bytes;
    for (const Line &line : m_lines)
        bytes += line.text + line.end;
    return bytes;
}

qsizetype IniFile::findKey(QByteArrayView section, QByteArrayView key) const
{
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArrayView text = m_lines[i].text;
        if (const auto name = sectionName(text)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        const auto name = keyName(text);
        if (name && sameName(*name, key))
            return i;
    }
    return -1;
}

qsizetype IniFile::insertionPoint(QByteArrayView section) const
{
    qsizetype point = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArrayView text = m_lines[i].text;
        if (const auto name = sectionName(text)) {
            if (point >= 0)
                break; // end of the first section of that name
            if (sameName(*name, section))
                point = i;
        } else if (point >= 0 && keyName(text)) {
            point = i;
        }
    }
    return point;
}

std::optional<QByteArray> IniFile::value(QByteArrayView section, QByteArrayView key) const
{
    const qsizetype index = findKey(section, key);
    if (index < 0)
        return std::nullopt;
    const QByteArrayView text = m_lines[index].text;
    return trimmed(text.sliced(text.indexOf('=') + 1)).toByteArray();
}

QByteArray IniFile::value(QByteArrayView section, QByteArrayView key, const QByteArray &defaultValue) const
{
    return value(section, key).value_or(defaultValue);
}

QByteArray IniFile::newLineEnd() const
{
    for (const Line &line : m_lines) {
        if (!line.end.isEmpty())
            return line.end;
    }
    return QByteArrayLiteral("\n");
}

void IniFile::insertLine(qsizetype index, const QByteArray &text)
{
    const QByteArray end = newLineEnd();
    // A last line without a line end gets one before anything follows it.
    if (index > 0 && m_lines[index - 1].end.isEmpty())
        m_lines[index - 1].end = end;
    m_lines.insert(index, {text, end});
}

void IniFile::setValue(QByteArrayView section, QByteArrayView key, const QByteArray &value)
{
    checkSectionName(section);
    checkKeyName(key);
    if (value.contains('\r') || value.contains('\n'))
        throw EIniValueError(QStringLiteral("The setting %1 cannot be saved: its value holds a line break")
                                 .arg(nameForMessage(key)));

    const qsizetype index = findKey(section, key);
    if (index >= 0) {
        // Keep the key as it is spelt and the blanks after "=".
        QByteArray &text = m_lines[index].text;
        qsizetype valueStart = text.indexOf('=') + 1;
        while (valueStart < text.size() && isBlank(text[valueStart]))
            ++valueStart;
        text = text.first(valueStart) + value;
        return;
    }

    const QByteArray keyLine = key.toByteArray() + '=' + value;
    const qsizetype point = insertionPoint(section);
    if (point >= 0) {
        insertLine(point + 1, keyLine);
        return;
    }
    insertLine(m_lines.size(), '[' + section.toByteArray() + ']');
    insertLine(m_lines.size(), keyLine);
}

IniFile IniFile::load(const QString &path, LoadResult *result)
{
    LoadResult status = LoadResult::Loaded;
    IniFile file;
    QFile in(path);
    if (!in.exists()) {
        status = LoadResult::Missing;
    } else if (!in.open(QIODevice::ReadOnly)) {
        status = LoadResult::Unreadable;
    } else {
        const QByteArray bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            status = LoadResult::Unreadable;
        else
            file = fromBytes(bytes);
    }
    if (result)
        *result = status;
    return file;
}

void IniFile::save(const QString &path) const
{
    const QByteArray bytes = toBytes();
    // Unbuffered: a buffered QSaveFile can drop the rest of a short write (a
    // full disk) and still commit a truncated file. An uncommitted QSaveFile
    // removes its temporary file and leaves the old file alone. A folder that
    // takes no new file shows at the open (no temporary file can be made) or
    // at the commit (the temporary file cannot take a name there).
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return saveInPlace(path);
    if (!WriteAll(out, bytes))
        throw EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath());
    if (!out.commit())
        saveInPlace(path);
}

void IniFile::saveInPlace(const QString &path) const
{
    const QByteArray bytes = toBytes();
    const auto failed = [&] { return EWriteError::unableToWrite(QFileInfo(path).absoluteFilePath()); };
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        throw failed();
    struct stat info;
    if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode))
        throw failed();
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failed();

    const QByteArrayView view(bytes);
    if (bytes.size() > old.size() && !(file.seek(old.size()) && WriteAll(file, view.sliced(old.size())))) {
        file.resize(old.size());
        throw failed();
    }
    if (!file.seek(0) || !WriteAll(file, view.first(std::min(bytes.size(), old.size())))
        || !file.resize(bytes.size()) || ::fsync(file.handle()) != 0) {
        if (file.seek(0))
            WriteAll(file, old);
        file.resize(old.size());
        throw failed();
    }
}
