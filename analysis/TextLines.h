#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// The same text with every line followed by CR LF, as a list of lines joins
// it: lone CRs and LFs become CR LF and an unterminated last line gets one.
// Text that already ends its lines with CR LF comes back as it is, without a
// copy; other text is widened into a new buffer while the pages of the old
// one are given back (unless the old text is shared with another copy).
QByteArray NormaliseLineEnds(QByteArray text);

// LoadFileBytes followed by NormaliseLineEnds: the text that Parse scans
// (ParseOutputFile reads it in pieces).
QByteArray LoadCrLfText(const QString &fileName);

// Bytes appended at the end of one block, which grows by doubling. A block
// of 256 KiB or more is aligned to 2 MiB and the system is asked to back it
// with huge pages: filling megabytes then costs a few page faults instead of
// hundreds, which on a virtual machine take longer than what fills them.
// Room that is reserved but not written costs no memory.
class GrowingBytes
{
public:
    // Makes room for `bytes` in all without moving the block again.
    void reserve(std::size_t bytes);
    // `bytes` more at the end, to be written by the caller.
    char *append(std::size_t bytes)
    {
        if (bytes > m_capacity - m_size)
            reserve(std::max({2 * m_capacity, m_size + bytes, std::size_t(256)}));
        char *const at = m_data.get() + m_size;
        m_size += bytes;
        return at;
    }
    const char *data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }

private:
    struct Free
    {
        void operator()(char *data) const { std::free(data); }
    };
    std::unique_ptr<char, Free> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};
