#pragma once

// nelo-analyze's standard output (plain bytes, no Qt).

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <unistd.h>

// Standard output, gathered and written with write(2) in blocks of 64 KiB,
// or line by line to a terminal: thousands of entries cost a few dozen
// system calls, and a reader at the other end of a pipe is woken as often.
class Output
{
public:
    Output() : m_lines(::isatty(STDOUT_FILENO) == 1) { m_buffer.reserve(Block + 4096); }
    ~Output() { flush(); }

    void append(std::string_view bytes)
    {
        m_buffer.append(bytes);
        written();
    }

    // The entry with backslash, CR and LF (and tab, when asked) written as
    // \\, \r, \n (\t), and a line feed after it.
    void appendEscaped(std::string_view entry, bool tabs = false)
    {
        // The usual entry has nothing to escape and is copied whole. The test
        // takes in every control byte up to CR and ORs bytes, not bools, so
        // that the compiler checks 16 bytes at a time.
        unsigned char special = 0;
        for (const char c : entry)
            special |= static_cast<unsigned char>((static_cast<unsigned char>(c) <= '\r') | (c == '\\'));
        if (special == 0) {
            m_buffer.append(entry);
        } else {
            for (const char c : entry) {
                switch (c) {
                case '\\': m_buffer += "\\\\"; break;
                case '\r': m_buffer += "\\r"; break;
                case '\n': m_buffer += "\\n"; break;
                case '\t': m_buffer += tabs ? "\\t" : "\t"; break;
                default: m_buffer += c; break;
                }
            }
        }
        m_buffer += '\n';
        written();
    }

    // Writes what is gathered. A failed write loses it, as stdio would.
    void flush()
    {
        for (std::size_t done = 0; done < m_buffer.size();) {
            const ssize_t n = ::write(STDOUT_FILENO, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        m_buffer.clear();
    }

private:
    static constexpr std::size_t Block = 64 * 1024;

    void written()
    {
        if (m_buffer.size() >= Block || (m_lines && !m_buffer.empty() && m_buffer.back() == '\n'))
            flush();
    }

    std::string m_buffer;
    bool m_lines;
};
