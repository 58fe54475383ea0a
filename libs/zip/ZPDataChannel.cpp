#include "ZPDataChannel.h"

#include "ZPDataChannelOutput.h"
#include "files/Posix.h"

#include <cerrno>

ZPDataChannel::ZPDataChannel(std::shared_ptr<QByteArray> data, bool writable)
    : m_data(std::move(data)), m_writable(writable)
{
}

bool ZPDataChannel::writable(Error* error) const
{
    if (!m_writable)
        setError(error, posixError(EROFS, QStringLiteral("write"), QStringLiteral("read-only archive data")));
    return m_writable;
}

std::shared_ptr<ZPChannel> ZPDataChannel::temporaryChannel(Error* error)
{
    if (!writable(error))
        return nullptr;
    return std::make_shared<ZPDataChannel>(std::make_shared<QByteArray>(), true);
}

bool ZPDataChannel::replaceWithChannel(ZPChannel& temporary, Error* error)
{
    if (!writable(error))
        return false;
    const auto input = temporary.newInput(error);
    if (!input)
        return false;
    const auto bytes = input->bytes();
    *m_data = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return true;
}

void ZPDataChannel::removeAsTemporary()
{
    m_data = std::make_shared<QByteArray>();
}

std::shared_ptr<const ZPContents> ZPDataChannel::newInput(Error*)
{
    return ZPContents::fromByteArray(*m_data);
}

std::unique_ptr<ZPChannelOutput> ZPDataChannel::newOutput(Error* error)
{
    if (!writable(error))
        return nullptr;
    return std::make_unique<ZPDataChannelOutput>(m_data);
}
