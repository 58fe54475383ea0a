#pragma once

#include "ZPChannel.h"
#include "ZPOldArchiveEntry.h"
#include "ZPStringEncoding.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <optional>

// A zip archive in a file or in memory. Its central directory is loaded on first
// use; its entries share the loaded bytes.
class ZPArchive {
public:
    using Entries = QList<std::shared_ptr<ZPOldArchiveEntry>>;

    // Names without the UTF-8 flag are read in the encoding.
    explicit ZPArchive(const QString& path, ZPStringEncoding encoding = ZPStringEncoding::UTF8);
    // Mutable data can later be rewritten in place; const data only read.
    explicit ZPArchive(std::shared_ptr<QByteArray> data, ZPStringEncoding encoding = ZPStringEncoding::UTF8);
    explicit ZPArchive(std::shared_ptr<const QByteArray> data, ZPStringEncoding encoding = ZPStringEncoding::UTF8);
    virtual ~ZPArchive() = default;

    // The archive's file path; empty for data.
    QString URL() const { return m_channel->URL(); }
    // Both load when nothing is loaded and are empty when loading fails.
    std::shared_ptr<const ZPContents> contents();
    std::optional<Entries> entries();
    // Codes 0 (with the channel's error), 1, or 2 (with the entry's index).
    bool load(Error* error = nullptr);

protected:
    std::shared_ptr<ZPChannel> m_channel;
    ZPStringEncoding m_encoding;
    std::shared_ptr<const ZPContents> m_contents;
    std::optional<Entries> m_entries;
};
