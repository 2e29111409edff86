#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>

// Large buffers (plain bytes, no Qt).

// Asks for huge pages under a large buffer that is about to be filled, for
// the whole 2 MiB blocks inside it: a 100 MB text then costs some fifty page
// faults instead of 25,000. Nothing where the system has no such advice.
void AdviseHugePages(char *data, std::size_t size);

// Hands the whole pages inside [from, to) back to the system: their memory
// is freed now and reads as zeros if touched again.
void DropPages(char *from, char *to);

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
