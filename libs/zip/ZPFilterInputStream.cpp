#include "ZPFilterInputStream.h"

#include "ZPError.h"

void ZPFilterInputStream::open()
{
    m_upstream->open();
    InputStream::open();
}

void ZPFilterInputStream::close()
{
    m_upstream->close();
    InputStream::close();
}

std::int64_t ZPFilterInputStream::failFromUpstream()
{
    return fail(m_upstream->streamError().value_or(ZPError::make(ZPError::EntryDataCorrupt)));
}

std::int64_t ZPFilterInputStream::failCorrupt()
{
    return fail(ZPError::make(ZPError::EntryDataCorrupt));
}
