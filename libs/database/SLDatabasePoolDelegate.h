#pragma once

class SLDatabase;
class SLDatabasePool;

// Told about the connections an SLDatabasePool hands out. Called on the pool's
// lock queue: an answer must not call back into the pool.
class SLDatabasePoolDelegate {
public:
    virtual ~SLDatabasePoolDelegate() = default;

    // Asked each time a connection is handed out, reused ones included; false
    // refuses it: the connection closes and leaves the pool.
    virtual bool databasePoolShouldAddDatabaseToPool(SLDatabasePool& /*pool*/, SLDatabase& /*database*/)
    {
        return true;
    }
    // Told when a newly made connection is handed out for the first time.
    virtual void databasePoolDidAddDatabase(SLDatabasePool& /*pool*/, SLDatabase& /*database*/) {}
};
