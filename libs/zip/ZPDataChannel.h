#pragma once

#include "ZPChannel.h"

#include <QByteArray>

// An archive in a byte array shared with the caller. Read-only data can be read
// but gives no output, temporary channel or replacement.
class ZPDataChannel : public ZPChannel {
public:
    ZPDataChannel(std::shared_ptr<QByteArray> data, bool writable);

    std::shared_ptr<ZPChannel> temporaryChannel(Error* error = nullptr) override;
    // Replaces the contents of the same array, so every holder of it sees the new archive.
    bool replaceWithChannel(ZPChannel& temporary, Error* error = nullptr) override;
    void removeAsTemporary() override;
    std::shared_ptr<const ZPContents> newInput(Error* error = nullptr) override;
    std::unique_ptr<ZPChannelOutput> newOutput(Error* error = nullptr) override;
    QString URL() const override { return {}; }

private:
    bool writable(Error* error) const;

    std::shared_ptr<QByteArray> m_data;
    bool m_writable = false;
};
