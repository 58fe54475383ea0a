#include "SLDatabaseQueue.h"

#include "ConsoleLog.h"
#include "Dispatch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
// Marks the serial queue of each SLDatabaseQueue with the object that owns it.
const char queueSpecificKey = 0;
} // namespace

namespace SLDatabaseBlocks {

bool runTransaction(SLDatabase& db, bool deferred, const SLTransactionBlock& block)
{
    if (!(deferred ? db.beginDeferredTransaction() : db.beginTransaction()))
        return false;
    bool shouldRollback = false;
    block(db, shouldRollback);
    if (shouldRollback)
        return db.rollback();
    if (db.commit())
        return true;
    db.rollback();
    return false;
}

std::optional<Error> runSavePoint(SLDatabase& db, const QString& name, const SLTransactionBlock& block)
{
    Error error;
    if (!db.startSavePointWithName(name, &error))
        return error;
    std::optional<Error> result;
    bool shouldRollback = false;
    block(db, shouldRollback);
    if (shouldRollback && !db.rollbackToSavePointWithName(name, &error))
        result = error;
    if (!db.releaseSavePointWithName(name, &error))
        result = error;
    return result;
}

} // namespace SLDatabaseBlocks

std::shared_ptr<SLDatabaseQueue> SLDatabaseQueue::databaseQueueWithPath(const QString& path, int flags)
{
    auto db = SLDatabase::databaseWithPath(path);
    if (!db->openWithFlags(flags)) {
        consoleLog(QStringLiteral("Could not create database queue for path %1").arg(path));
        return nullptr;
    }
    return std::shared_ptr<SLDatabaseQueue>(new SLDatabaseQueue(path, flags, std::move(db)));
}

SLDatabaseQueue::SLDatabaseQueue(const QString& path, int flags, std::shared_ptr<SLDatabase> db)
    : path_(path)
    , db_(std::move(db))
    , openFlags_(flags)
{
    queue_ = DispatchQueue::createSerial(QStringLiteral("sldb.%1").arg(description()));
    // Not owning: the queue lives inside this object.
    queue_->setSpecific(&queueSpecificKey, std::shared_ptr<void>(std::shared_ptr<void>(), this));
}

QString SLDatabaseQueue::description() const
{
    return QStringLiteral("<SLDatabaseQueue: 0x%1>").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

QString SLDatabaseQueue::path() const
{
    std::lock_guard lock(pathMutex_);
    return path_;
}

void SLDatabaseQueue::setPath(const QString& path)
{
    std::lock_guard lock(pathMutex_);
    path_ = path;
}

std::shared_ptr<SLDatabase> SLDatabaseQueue::database()
{
    if (!db_) {
        const QString currentPath = path();
        auto db = SLDatabase::databaseWithPath(currentPath);
        if (!db->openWithFlags(openFlags_)) {
            consoleLog(QStringLiteral("SLDatabaseQueue could not reopen database for path %1").arg(currentPath));
            return SLDatabase::nullDatabase();
        }
        db_ = std::move(db);
    }
    return db_;
}

void SLDatabaseQueue::close()
{
    queue_->sync([this] {
        if (db_)
            db_->close();
        db_.reset();
    });
}

void SLDatabaseQueue::inDatabase(const SLDatabaseBlock& block)
{
    // A synchronous dispatch from one of our own blocks would never return.
    if (DispatchQueue::currentSpecific(&queueSpecificKey).get() == this) {
        std::fprintf(stderr, "Assertion failed: %s\n",
                     "currentSyncQueue != self && \"inDatabase: was called reentrantly on the same queue, "
                     "which would lead to a deadlock\"");
        std::abort();
    }
    queue_->sync([&] {
        const auto db = database();
        block(*db);
        if (db->hasOpenResultSets())
            consoleLog(QStringLiteral("Warning: there is at least one open result set around after performing "
                                      "[SLDatabaseQueue inDatabase:]"));
    });
}

bool SLDatabaseQueue::beginTransaction(bool deferred, const SLTransactionBlock& block)
{
    bool ok = false;
    queue_->sync([&] { ok = SLDatabaseBlocks::runTransaction(*database(), deferred, block); });
    return ok;
}

bool SLDatabaseQueue::inTransaction(const SLTransactionBlock& block)
{
    return beginTransaction(false, block);
}

bool SLDatabaseQueue::inDeferredTransaction(const SLTransactionBlock& block)
{
    return beginTransaction(true, block);
}

std::optional<Error> SLDatabaseQueue::inSavePoint(const SLTransactionBlock& block)
{
    static std::atomic<long> savePointIndex {0};
    const QString name = QStringLiteral("savePoint%1").arg(savePointIndex++);
    std::optional<Error> result;
    queue_->sync([&] { result = SLDatabaseBlocks::runSavePoint(*database(), name, block); });
    return result;
}
