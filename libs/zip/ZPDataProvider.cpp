#include "ZPDataProvider.h"

#include <algorithm>
#include <array>

std::unique_ptr<SequentialDataProvider> ZPDataProvider::create(StreamMaker makeStream)
{
    auto provider = std::make_shared<ZPDataProvider>(std::move(makeStream));
    return std::make_unique<SequentialDataProvider>(SequentialDataProvider::Callbacks{
        .getBytes = [provider](std::span<std::byte> buffer) { return provider->getBytes(buffer); },
        .skipForward = [provider](std::int64_t count) { return provider->skipForward(count); },
        .rewind = [provider] { provider->rewind(); },
        .release = [provider] { provider->release(); },
    });
}

InputStream* ZPDataProvider::stream()
{
    if (!m_stream && m_makeStream) {
        m_stream = m_makeStream();
        if (m_stream)
            m_stream->open();
    }
    return m_stream.get();
}

std::size_t ZPDataProvider::getBytes(std::span<std::byte> buffer)
{
    InputStream* input = stream();
    std::size_t gathered = 0;
    while (input && gathered < buffer.size()) {
        const std::int64_t count = input->read(buffer.subspan(gathered));
        if (count <= 0)
            break;
        gathered += std::size_t(count);
    }
    return gathered;
}

std::int64_t ZPDataProvider::skipForward(std::int64_t count)
{
    InputStream* input = stream();
    std::array<std::byte, 1024> scratch;
    std::int64_t passed = 0;
    while (input && passed < count) {
        const auto chunk = std::span(scratch).first(std::size_t(std::min<std::int64_t>(count - passed, 1024)));
        const std::int64_t read = input->read(chunk);
        if (read <= 0)
            break;
        passed += read;
    }
    return passed;
}

void ZPDataProvider::rewind()
{
    if (m_stream)
        m_stream->close();
    m_stream.reset();
}

void ZPDataProvider::release()
{
    rewind();
    m_makeStream = nullptr;
}
