#pragma once

#include "ZPChannel.h"

// An archive in a file: read through a read-only mapping, written through a
// buffered descriptor, replaced by renaming a file built beside it.
class ZPFileChannel : public ZPChannel {
public:
    explicit ZPFileChannel(QString path) : m_path(std::move(path)) {}

    // A private new directory ".<name>.XXXXXX" beside the archive (beside the
    // target of a symbolic link), holding a file of the archive's name.
    std::shared_ptr<ZPChannel> temporaryChannel(Error* error = nullptr) override;
    // Flushes the temporary file to disk, gives it the old file's mode and
    // renames it onto the archive (onto the target of a symbolic link).
    bool replaceWithChannel(ZPChannel& temporary, Error* error = nullptr) override;
    void removeAsTemporary() override;
    // An empty file gives empty contents.
    std::shared_ptr<const ZPContents> newInput(Error* error = nullptr) override;
    std::unique_ptr<ZPChannelOutput> newOutput(Error* error = nullptr) override;
    QString URL() const override { return m_path; }

private:
    QString resolvedPath() const;

    QString m_path;
};
