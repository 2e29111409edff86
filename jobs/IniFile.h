#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// A value or a name that cannot be stored on one INI line (it holds a line
// break, or a name holds "=" or "]"). Raised before anything is written, so the
// file never holds something that reads back different from what was saved.
class EIniValueError : public NeloError
{
public:
    using NeloError::NeloError;
};

// An INI file held in memory: parse the bytes, read and change keys, write the
// bytes back. Everything the reader does not understand or is not asked to
// change (comments, blank lines, other sections and keys, line ends, blanks
// around "=") stays byte for byte where it was, so a file that is only read
// and written back comes out identical.
//
// The file rules:
// - a section starts at a line "[name]" (blanks allowed around the name and
//   before "["); a key line is "key=value"; lines starting with ";" or "#"
//   are comments; lines before the first section belong to none;
// - section and key names match without regard to ASCII letter case;
// - a value is everything after the first "=", less blanks and tabs at both
//   ends; double quotes are part of it; values have no length limit;
// - of a key that stands twice, the first one counts (for reading and
//   writing); of a section that stands twice, the keys of both are seen in
//   file order;
// - writing a key replaces its value where it stands (keeping the key's
//   spelling and the blanks around "="), or adds "key=value" after the last
//   key of the section, or after the section line when it has none; a missing
//   section is added at the end of the file;
// - lines end as they ended (LF, CR LF or CR); added lines take the line end
//   of the file's first line, LF when the file has none.
class IniFile
{
public:
    IniFile() = default;

    static IniFile fromBytes(const QByteArray &bytes);
    QByteArray toBytes() const;

    // The value of the key, or nothing when the section or the key is missing.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;
    QByteArray value(QByteArrayView section, QByteArrayView key, const QByteArray &defaultValue) const;

    // Sets the value, creating the key and the section when they are missing.
    // Throws EIniValueError for a value holding CR or LF, and for a name that
    // is empty or cannot be read back as that name.
    void setValue(QByteArrayView section, QByteArrayView key, const QByteArray &value);

    // File level. The bytes of the path are QFile::encodeName(path).
    enum class LoadResult { Loaded, Missing, Unreadable };
    // A missing or unreadable file gives an empty document.
    static IniFile load(const QString &path, LoadResult *result = nullptr);
    // Replaces the file at once: the bytes go to a temporary file in the same
    // folder, which then takes the file's place, so a crash or a full disk
    // never leaves a truncated file. Where the folder takes no new file (the
    // temporary file cannot be made or cannot take the file's name) but the
    // file itself can be written, it is written in place (saveInPlace). On
    // failure EWriteError ("Unable to write to <path>") is thrown and the old
    // file is left as it was.
    void save(const QString &path) const;
    // Writes over an existing file. The part that grows the file is written
    // first, so a full disk is met before any old byte changes (the file is
    // then cut back to its old size); then the rest, then the file is cut to
    // its new length and synced. If that fails, the old bytes are written
    // back. Throws EWriteError; never creates the file.
    void saveInPlace(const QString &path) const;

private:
    struct Line
    {
        QByteArray text; // without its line end
        QByteArray end;  // "\n", "\r\n", "\r" or empty (last line of a file without a final line end)
    };

    // Index of the first line of the key in the section, -1 when missing.
    qsizetype findKey(QByteArrayView section, QByteArrayView key) const;
    // Index after which a new key of the section goes, -1 when the section is missing.
    qsizetype insertionPoint(QByteArrayView section) const;
    void insertLine(qsizetype index, const QByteArray &text);
    QByteArray newLineEnd() const;

    QList<Line> m_lines;
};
