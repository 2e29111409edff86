#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QString>

#include <cstring>
#include <string_view>
#include <vector>

// Firefly output as single-byte text. Lines split at CR, LF or CR LF; a
// final line break ends the last line and adds no empty one.

// Calls visit(position, length) for every line break of the text, in order:
// length 2 for CR LF, 1 for a lone CR or LF. Finds them with memchr, so a
// text of long lines costs little more than one pass over its bytes.
template<typename Visit>
void ForEachLineBreak(std::string_view text, Visit visit)
{
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    const auto find = [end](const char *from, char c) {
        const void *at = from < end ? std::memchr(from, c, std::size_t(end - from)) : nullptr;
        return at ? static_cast<const char *>(at) : end;
    };
    const char *cr = find(begin, '\r');
    const char *lf = find(begin, '\n');
    for (;;) {
        const char *at = cr < lf ? cr : lf;
        if (at == end)
            return;
        const std::size_t length = (at == cr && lf == cr + 1 && lf != end) ? 2 : 1;
        visit(std::size_t(at - begin), length);
        const char *next = at + length;
        if (cr < next)
            cr = find(next, '\r');
        if (lf < next)
            lf = find(next, '\n');
    }
}

// A whole file as single-byte lines.
// Throws EFileError with a clear message when the file cannot be read.
QByteArrayList LoadTextLines(const QString &fileName);
QByteArrayList SplitTextLines(const QByteArray &text);

// The lines of a text as views into it (no copies). The views stay valid as
// long as the text they look into.
std::vector<std::string_view> SplitLineViews(std::string_view text);

// The error for a file that cannot be opened or read (`what`: "open",
// "read"): "Cannot open file "NAME". REASON", the name as the system shows it.
EFileError FileError(const char *what, const QFile &file);

// The whole file as bytes. Throws EFileError naming the file when it cannot
// be opened or read.
QByteArray LoadFileBytes(const QString &fileName);
// The same into `bytes`, whose memory is used again when it is large enough.
void LoadFileBytes(const QString &fileName, QByteArray &bytes);

// The same text with every line followed by CR LF, as a list of lines joins
// it: lone CRs and LFs become CR LF and an unterminated last line gets one.
// Text that already ends its lines with CR LF comes back as it is, without a
// copy; other text is widened into a new buffer while the pages of the old
// one are given back (unless the old text is shared with another copy).
QByteArray NormaliseLineEnds(QByteArray text);

// LoadFileBytes followed by NormaliseLineEnds: the text that Parse scans
// (ParseOutputFile reads it in pieces).
QByteArray LoadCrLfText(const QString &fileName);
