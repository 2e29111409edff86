#include "jobs/JobSettings.h"

#include "jobs/IniFile.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

constexpr QByteArrayView Section("Settings");

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray fileText(const QString &text)
{
    return QFile::encodeName(text);
}

QString fromFileText(const QByteArray &bytes)
{
    return QFile::decodeName(bytes);
}

QString readText(const IniFile &file, QByteArrayView key, const QString &defaultValue)
{
    const std::optional<QByteArray> value = file.value(Section, key);
    return value ? fromFileText(*value) : defaultValue;
}

qint32 readNumber(const IniFile &file, QByteArrayView key, qint32 defaultValue)
{
    const std::optional<QByteArray> value = file.value(Section, key);
    if (!value)
        return defaultValue;
    return ReadSettingsNumber(*value).value_or(defaultValue);
}

bool readBool(const IniFile &file, QByteArrayView key, bool defaultValue)
{
    return readNumber(file, key, defaultValue ? 1 : 0) != 0;
}

QByteArray boolText(bool value)
{
    return value ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
}

} // namespace

// Hexadecimal takes all 32 bits ("$FFFFFFFF" is -1); a decimal number must fit
// a signed 32-bit integer.
std::optional<qint32> ReadSettingsNumber(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;

    const quint64 limit = base == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    const quint32 bits = negative ? 0u - quint32(magnitude) : quint32(magnitude);
    return qint32(bits);
}

QString SettingsFilePathFor(const QString &executablePath)
{
    return Paths::WithExtension(executablePath, u".INI");
}

QString SettingsFilePath()
{
    return SettingsFilePathFor(QCoreApplication::applicationFilePath());
}

void LoadSettings(TJobSettings &settings, const QString &fileName)
{
    const IniFile file = IniFile::load(fileName);
    const TJobSettings defaults;
    settings.EXEFile = readText(file, "EXEFile", defaults.EXEFile);
    settings.DirList = readText(file, "DirList", defaults.DirList);
    settings.CPUcores = readText(file, "CPUcores", defaults.CPUcores);
    settings.OutputFormat = quint8(readNumber(file, "OutputFormat", defaults.OutputFormat)); // the low 8 bits
    settings.AddCmdLine = readText(file, "AddCmdLine", defaults.AddCmdLine);
    settings.AutoDir = readBool(file, "AutoDir", defaults.AutoDir);
    settings.Ropt = readBool(file, "Ropt", defaults.Ropt);
    settings.Fopt = readBool(file, "Fopt", defaults.Fopt);
    settings.Popt = readBool(file, "Popt", defaults.Popt);
    settings.CopyCmdLine = readBool(file, "CopyCmdLine", defaults.CopyCmdLine);
    settings.LibFile = readText(file, "LibFile", defaults.LibFile);
    settings.TxtFile = readText(file, "TxtFile", defaults.TxtFile);
    settings.MolFile = readText(file, "MolFile", defaults.MolFile);
}

void SaveSettings(const TJobSettings &settings, const QString &fileName)
{
    SaveSettings(settings, IniSections(), fileName);
}

void SaveSettings(const TJobSettings &settings, const IniSections &moreSections, const QString &fileName)
{
    IniFile::LoadResult loaded;
    IniFile file = IniFile::load(fileName, &loaded);
    // Writing over a file whose other sections could not be read would lose them.
    if (loaded == IniFile::LoadResult::Unreadable)
        throw EWriteError::unableToWrite(QFileInfo(fileName).absoluteFilePath());

    // All keys are set in memory first: a value that cannot be stored stops the
    // save before the file is touched.
    file.setValue(Section, "EXEFile", fileText(settings.EXEFile));
    file.setValue(Section, "DirList", fileText(settings.DirList));
    file.setValue(Section, "CPUcores", fileText(settings.CPUcores));
    file.setValue(Section, "OutputFormat", QByteArray::number(settings.OutputFormat));
    file.setValue(Section, "AddCmdLine", fileText(settings.AddCmdLine));
    file.setValue(Section, "AutoDir", boolText(settings.AutoDir));
    file.setValue(Section, "Ropt", boolText(settings.Ropt));
    file.setValue(Section, "Fopt", boolText(settings.Fopt));
    file.setValue(Section, "Popt", boolText(settings.Popt));
    file.setValue(Section, "CopyCmdLine", boolText(settings.CopyCmdLine));
    file.setValue(Section, "LibFile", fileText(settings.LibFile));
    file.setValue(Section, "TxtFile", fileText(settings.TxtFile));
    file.setValue(Section, "MolFile", fileText(settings.MolFile));
    if (moreSections)
        moreSections(file);
    file.save(fileName);
}
