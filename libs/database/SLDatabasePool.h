#pragma once

#include "Dispatch.h"
#include "SLDatabaseQueue.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class SLDatabasePoolDelegate;

// Connections to one database file shared between threads: each block gets an
// idle connection (or a new one) on the caller's thread and gives it back
// afterwards, so blocks on different threads run at the same time on different
// connections. Only the lists of connections are serialised, on a lock queue.
class SLDatabasePool {
public:
    // A null path gives every connection its own in-memory database.
    static std::shared_ptr<SLDatabasePool> databasePoolWithPath(const QString& path = QString(),
                                                                int flags = SLDatabaseQueue::DefaultFlags);
    SLDatabasePool(const SLDatabasePool&) = delete;
    SLDatabasePool& operator=(const SLDatabasePool&) = delete;

    uint64_t countOfCheckedInDatabases() const;
    uint64_t countOfCheckedOutDatabases() const;
    uint64_t countOfOpenDatabases() const;
    // Forgets every connection; each closes when its last user lets it go.
    void releaseAllDatabases();

    // When no connection can be had (the maximum is reached, it cannot open,
    // the delegate refuses it) the block receives the null database.
    void inDatabase(const SLDatabaseBlock& block);
    // False when the transaction could not begin (the block does not run) or end.
    bool inTransaction(const SLTransactionBlock& block);
    bool inDeferredTransaction(const SLTransactionBlock& block);
    bool beginTransaction(bool deferred, const SLTransactionBlock& block);
    std::optional<Error> inSavePoint(const SLTransactionBlock& block);

    // Checks an open connection out; null when none can be had.
    std::shared_ptr<SLDatabase> db();
    // Checks a connection back in; null is ignored. Throws std::logic_error
    // ("Database already in pool") for a connection that is already checked in.
    void pushDatabaseBackInPool(const std::shared_ptr<SLDatabase>& db);
    // Runs the block on the lock queue and waits; it must not call back into the pool.
    void executeLocked(const DispatchBlock& block) const;

    QString path() const;
    void setPath(const QString& path);
    std::shared_ptr<SLDatabasePoolDelegate> delegate() const;
    // Not retained.
    void setDelegate(std::weak_ptr<SLDatabasePoolDelegate> delegate);
    // 0: no limit.
    uint64_t maximumNumberOfDatabasesToCreate() const;
    void setMaximumNumberOfDatabasesToCreate(uint64_t maximum);
    int openFlags() const { return openFlags_; }
    QString description() const;

private:
    SLDatabasePool(const QString& path, int flags);

    DispatchQueuePtr lockQueue_;
    // Everything below is touched only on lockQueue_.
    QString path_;
    QList<std::shared_ptr<SLDatabase>> databaseInPool_;
    QList<std::shared_ptr<SLDatabase>> databaseOutPool_;
    std::weak_ptr<SLDatabasePoolDelegate> delegate_;
    uint64_t maximumNumberOfDatabasesToCreate_ = 0;
    const int openFlags_;
};
