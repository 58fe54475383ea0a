#include "ZPArchiveEntry.h"

std::unique_ptr<InputStream> ZPArchiveEntry::newStream(const QString&, Error*) const { return nullptr; }

std::optional<QByteArray> ZPArchiveEntry::newData(const QString&, Error*) const { return std::nullopt; }

std::unique_ptr<SequentialDataProvider> ZPArchiveEntry::newDataProvider(const QString&, Error*) const
{
    return nullptr;
}
