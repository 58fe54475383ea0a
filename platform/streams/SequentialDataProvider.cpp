#include "SequentialDataProvider.h"

#include <algorithm>
#include <cstring>

SequentialDataProvider::SequentialDataProvider(Callbacks callbacks) : m_callbacks(std::move(callbacks)) {}

SequentialDataProvider::~SequentialDataProvider()
{
    if (m_callbacks.release)
        m_callbacks.release();
}

std::unique_ptr<SequentialDataProvider> SequentialDataProvider::withData(QByteArray data)
{
    struct Cursor {
        QByteArray data;
        qsizetype position = 0;
        std::size_t advance(std::int64_t count)
        {
            const qsizetype step = qsizetype(std::clamp<std::int64_t>(count, 0, data.size() - position));
            position += step;
            return std::size_t(step);
        }
    };
    auto cursor = std::make_shared<Cursor>(Cursor{std::move(data)});
    return std::make_unique<SequentialDataProvider>(Callbacks{
        .getBytes =
            [cursor](std::span<std::byte> buffer) {
                const char* from = cursor->data.constData() + cursor->position;
                const std::size_t count = cursor->advance(std::int64_t(buffer.size()));
                std::memcpy(buffer.data(), from, count);
                return count;
            },
        .skipForward = [cursor](std::int64_t count) { return std::int64_t(cursor->advance(count)); },
        .rewind = [cursor] { cursor->position = 0; },
        .release = {},
    });
}
