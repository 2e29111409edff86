#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

// How Firefly is started and which outside editors are used. One instance
// lives for the whole program (owned by the main window); it is loaded once
// at start-up, edited in memory by the settings dialog, and written back only
// by the Exit button.
//
// Fields carry the names of their keys in the settings file, in file order.
class IniFile;

struct TJobSettings
{
    QString EXEFile;                          // full path of the Firefly executable
    QString DirList;                          // one folder (AutoDir) or the delimited list of working directories
    QString CPUcores = QStringLiteral("1");   // decimal text, never converted here
    quint8 OutputFormat = 0;                  // 0 ".out", 1 "_N.out", 2 ask the user
    QString AddCmdLine;                       // extra Firefly options, as typed
    bool AutoDir = false;                     // true: auto-create mode; false: list mode
    bool Ropt = true;                         // -r: remove temporary scratch files
    bool Fopt = true;                         // -f: force execution with old PUNCH or IRCDATA files
    bool Popt = true;                         // -p: redirect all text files to the output folder
    bool CopyCmdLine = false;                 // copy the command line to the clipboard when a job starts
    QString LibFile;                          // external basis set library, empty for none
    QString TxtFile;                          // text editor executable
    QString MolFile;                          // molecule editor executable
};

// The settings file: the running executable's path with its extension
// replaced by ".INI" ("nelo" has none: "nelo.INI" beside it).
QString SettingsFilePath();
QString SettingsFilePathFor(const QString &executablePath);

// Fills every field from the file; a missing file, section or key, or a
// number that does not read, gives the field's default. Reports nothing.
void LoadSettings(TJobSettings &settings, const QString &fileName = SettingsFilePath());

// Writes all thirteen keys, keeping every other section and key of the file:
// atomically, or in place where the folder takes no new file but the file
// can be written (IniFile::save). Throws EWriteError ("Unable to write to
// <path>") when the file cannot be written; the old file is then left as it
// was.
void SaveSettings(const TJobSettings &settings, const QString &fileName = SettingsFilePath());
// The same, with the sections that other parts of Nelo keep in the file (the
// cluster's, say) set by `moreSections` in the same replacement of the file.
using IniSections = std::function<void(IniFile &file)>;
void SaveSettings(const TJobSettings &settings, const IniSections &moreSections, const QString &fileName);

// A whole 32-bit number as the settings file holds it: leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$" or
// "0x". Anything else, an empty text included, is no number.
std::optional<qint32> ReadSettingsNumber(QByteArrayView text);
