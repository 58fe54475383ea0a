#pragma once

#include "AppleCloud.h"

#include "Dispatch.h"

#include <functional>
#include <memory>

class SLDatabase;

// What the note store needs of the process-wide Core, which lives a layer
// above it: the file queue, the search database and the cloud. Core provides
// them and installs itself with Note::setServices().
class NoteServices {
public:
    using DatabaseBlock = std::function<void(SLDatabase& db)>;

    virtual ~NoteServices() = default;

    virtual const DispatchQueuePtr& fileQueue() const = 0;
    // Runs on the database queue; called from a block of that queue it stops the process.
    virtual void syncDatabase(const DatabaseBlock& block) = 0;
    virtual void asyncDatabase(DatabaseBlock block) = 0;
    virtual bool enabledAppleCloud() const = 0;
    virtual const std::shared_ptr<AppleCloud>& appleCloud() const = 0;
    // A cloud service wrote or removed a note locally; Core passes the event on.
    virtual void noteDidUpdateFromRemoteServer(const NotePtr& note) = 0;
    virtual void noteDidDeleteFromRemoteServer(const NotePtr& note) = 0;
};
