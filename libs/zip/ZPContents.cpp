#include "ZPContents.h"

#include <sys/mman.h>

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
