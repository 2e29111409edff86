#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <string_view>
#include <vector>

// Firefly output as single-byte text. Lines split at CR, LF or CR LF; a
// final line break ends the last line and adds no empty one.

// A whole file as single-byte lines.
// Throws EFileError with a clear message when the file cannot be read.
QByteArrayList LoadTextLines(const QString &fileName);
QByteArrayList SplitTextLines(const QByteArray &text);

// The lines of a text as views into it (no copies). The views stay valid as
// long as the text they look into.
std::vector<std::string_view> SplitLineViews(std::string_view text);

// The whole file as bytes. Throws EFileError naming the file when it cannot
// be opened or read.
QByteArray LoadFileBytes(const QString &fileName);

// The same text with every line followed by CR LF, as a list of lines joins
// it: lone CRs and LFs become CR LF and an unterminated last line gets one.
// Works in place in the one buffer (text that already has CR LF ends costs
// no copy).
QByteArray NormaliseLineEnds(QByteArray text);

// LoadFileBytes followed by NormaliseLineEnds: the text that Parse scans.
QByteArray LoadCrLfText(const QString &fileName);
