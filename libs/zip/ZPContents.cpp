#include "ZPContents.h"

#include "files/Posix.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

std::shared_ptr<const ZPContents> ZPContents::fromByteArray(const QByteArray& data)
{
    std::shared_ptr<ZPContents> contents(new ZPContents);
    contents->m_array = data;
    contents->m_bytes = std::as_bytes(std::span(contents->m_array.constData(), contents->m_array.size()));
    return contents;
}

std::shared_ptr<const ZPContents> ZPContents::fromMapping(void* address, std::size_t length)
{
    std::shared_ptr<ZPContents> contents(new ZPContents);
    contents->m_mapping = address;
    contents->m_bytes = std::span(static_cast<const std::byte*>(address), length);
    return contents;
}

ZPContents::~ZPContents()
{
    if (m_mapping)
        munmap(m_mapping, m_bytes.size());
}

bool ZPContents::keepInMemoryFrom(std::size_t offset, Error* error) const
{
    const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t start = offset / page * page;
    if (!m_mapping || start >= m_bytes.size())
        return true;
    const std::size_t length = m_bytes.size() - start;
    auto* target = static_cast<std::byte*>(m_mapping) + start;
    void* copy = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (copy != MAP_FAILED) {
        std::memcpy(copy, target, length);
        // Moves the copy over the mapped pages in one step.
        if (::mprotect(copy, length, PROT_READ) == 0
            && ::mremap(copy, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, target) != MAP_FAILED)
            return true;
        ::munmap(copy, length);
    }
    setError(error, posixError(errno, QStringLiteral("keep in memory"), QStringLiteral("archive bytes")));
    return false;
}
