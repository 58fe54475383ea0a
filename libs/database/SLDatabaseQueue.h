#pragma once

#include "Error.h"
#include "SLDatabase.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class DispatchQueue;

// Block shapes shared with SLDatabasePool. A block always receives a connection
// object to call: where no connection can be had, the inert null database, on
// which its work simply fails.
using SLDatabaseBlock = std::function<void(SLDatabase& db)>;
// Setting rollback undoes the block's work.
using SLTransactionBlock = std::function<void(SLDatabase& db, bool& rollback)>;

namespace SLDatabaseBlocks {
// Runs the block inside a transaction, only when it could begin. True when the
// block ran and its commit (or the roll-back it asked for) took effect; a
// failed commit is rolled back so the connection is not left in a transaction.
bool runTransaction(SLDatabase& db, bool deferred, const SLTransactionBlock& block);
// Runs the block inside the named savepoint, only when it could start; the
// error of the last step that failed, if any.
std::optional<Error> runSavePoint(SLDatabase& db, const QString& name, const SLTransactionBlock& block);
} // namespace SLDatabaseBlocks

// One connection used by one block at a time: every block runs on a private
// serial queue while the caller waits, so blocks from different threads never
// overlap. Calling inDatabase from one of the queue's own blocks stops the process.
class SLDatabaseQueue {
public:
    static constexpr int DefaultFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

    // Null (with a log line) when the database cannot be opened. A null path
    // is an in-memory database.
    static std::shared_ptr<SLDatabaseQueue> databaseQueueWithPath(const QString& path = QString(),
                                                                  int flags = DefaultFlags);
    SLDatabaseQueue(const SLDatabaseQueue&) = delete;
    SLDatabaseQueue& operator=(const SLDatabaseQueue&) = delete;

    // Closes the connection; the next block reopens it with the same path and flags.
    void close();
    void inDatabase(const SLDatabaseBlock& block);
    // False when the transaction could not begin (the block does not run) or end.
    bool inTransaction(const SLTransactionBlock& block);
    bool inDeferredTransaction(const SLTransactionBlock& block);
    bool beginTransaction(bool deferred, const SLTransactionBlock& block);
    std::optional<Error> inSavePoint(const SLTransactionBlock& block);

    QString path() const;
    void setPath(const QString& path);
    int openFlags() const { return openFlags_; }
    QString description() const;

private:
    SLDatabaseQueue(const QString& path, int flags, std::shared_ptr<SLDatabase> db);
    // On the queue: the connection, reopened after close; the null database
    // when it cannot be reopened.
    std::shared_ptr<SLDatabase> database();

    mutable std::mutex pathMutex_;
    QString path_;
    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<SLDatabase> db_; // only touched on queue_
    const int openFlags_;
};
