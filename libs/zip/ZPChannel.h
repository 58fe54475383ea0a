#pragma once

#include "Error.h"
#include "ZPChannelOutput.h"
#include "ZPContents.h"

#include <QString>

#include <memory>

// Where an archive lives: its whole bytes for reading, an output for writing,
// and a temporary place of the same kind in which a new archive is built.
class ZPChannel {
public:
    virtual ~ZPChannel() = default;

    // An empty place in which a whole new archive can be written.
    virtual std::shared_ptr<ZPChannel> temporaryChannel(Error* error = nullptr) = 0;
    // This channel's archive becomes the other channel's bytes.
    virtual bool replaceWithChannel(ZPChannel& temporary, Error* error = nullptr) = 0;
    // Discards a temporary channel's storage; failures are ignored.
    virtual void removeAsTemporary() = 0;
    virtual std::shared_ptr<const ZPContents> newInput(Error* error = nullptr) = 0;
    virtual std::unique_ptr<ZPChannelOutput> newOutput(Error* error = nullptr) = 0;
    // The archive's file path; empty for data in memory.
    virtual QString URL() const = 0;
};
