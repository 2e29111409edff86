#include "analysis/GrowingBytes.h"

#include <cstdint>
#include <cstring>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t HugePage = std::size_t(2) << 20;

#ifdef __linux__
// Gives the kernel a memory advice for the whole `unit`-sized, `unit`-aligned
// blocks inside [from, to); the bytes at either end outside such blocks keep
// theirs.
void adviseWithin(char *from, char *to, std::uintptr_t unit, int advice)
{
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(from) + unit - 1) & ~(unit - 1);
    const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(to) & ~(unit - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, advice);
}
#endif

} // namespace

void AdviseHugePages([[maybe_unused]] char *data, [[maybe_unused]] std::size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    adviseWithin(data, data + size, HugePage, MADV_HUGEPAGE);
#endif
}

void DropPages([[maybe_unused]] char *from, [[maybe_unused]] char *to)
{
#ifdef __linux__
    adviseWithin(from, to, std::uintptr_t(sysconf(_SC_PAGESIZE)), MADV_DONTNEED);
#endif
}

void GrowingBytes::reserve(std::size_t bytes)
{
    if (bytes <= m_capacity)
        return;
    char *data = nullptr;
    if (bytes >= HugePage / 8) {
        bytes = (bytes + HugePage - 1) / HugePage * HugePage;
        data = static_cast<char *>(std::aligned_alloc(HugePage, bytes));
        if (data)
            AdviseHugePages(data, bytes);
    } else {
        data = static_cast<char *>(std::malloc(bytes));
    }
    if (!data)
        throw std::bad_alloc();
    if (m_size > 0)
        std::memcpy(data, m_data.get(), m_size);
    m_data.reset(data);
    m_capacity = bytes;
}
