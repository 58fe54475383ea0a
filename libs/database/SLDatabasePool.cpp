#include "SLDatabasePool.h"

#include "ConsoleLog.h"
#include "SLDatabasePoolDelegate.h"

#include <atomic>
#include <stdexcept>

std::shared_ptr<SLDatabasePool> SLDatabasePool::databasePoolWithPath(const QString& path, int flags)
{
    return std::shared_ptr<SLDatabasePool>(new SLDatabasePool(path, flags));
}

SLDatabasePool::SLDatabasePool(const QString& path, int flags)
    : path_(path)
    , openFlags_(flags)
{
    lockQueue_ = DispatchQueue::createSerial(QStringLiteral("sldb.%1").arg(description()));
}

QString SLDatabasePool::description() const
{
    return QStringLiteral("<SLDatabasePool: 0x%1>").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

void SLDatabasePool::executeLocked(const DispatchBlock& block) const
{
    lockQueue_->sync(block);
}

QString SLDatabasePool::path() const
{
    QString path;
    executeLocked([&] { path = path_; });
    return path;
}

void SLDatabasePool::setPath(const QString& path)
{
    executeLocked([&] { path_ = path; });
}

std::shared_ptr<SLDatabasePoolDelegate> SLDatabasePool::delegate() const
{
    std::shared_ptr<SLDatabasePoolDelegate> delegate;
    executeLocked([&] { delegate = delegate_.lock(); });
    return delegate;
}

void SLDatabasePool::setDelegate(std::weak_ptr<SLDatabasePoolDelegate> delegate)
{
    executeLocked([&] { delegate_ = std::move(delegate); });
}

uint64_t SLDatabasePool::maximumNumberOfDatabasesToCreate() const
{
    uint64_t maximum = 0;
    executeLocked([&] { maximum = maximumNumberOfDatabasesToCreate_; });
    return maximum;
}

void SLDatabasePool::setMaximumNumberOfDatabasesToCreate(uint64_t maximum)
{
    executeLocked([&] { maximumNumberOfDatabasesToCreate_ = maximum; });
}

uint64_t SLDatabasePool::countOfCheckedInDatabases() const
{
    uint64_t count = 0;
    executeLocked([&] { count = uint64_t(databaseInPool_.size()); });
    return count;
}

uint64_t SLDatabasePool::countOfCheckedOutDatabases() const
{
    uint64_t count = 0;
    executeLocked([&] { count = uint64_t(databaseOutPool_.size()); });
    return count;
}

uint64_t SLDatabasePool::countOfOpenDatabases() const
{
    uint64_t count = 0;
    executeLocked([&] { count = uint64_t(databaseInPool_.size() + databaseOutPool_.size()); });
    return count;
}

void SLDatabasePool::releaseAllDatabases()
{
    executeLocked([&] {
        databaseInPool_.clear();
        databaseOutPool_.clear();
    });
}

std::shared_ptr<SLDatabase> SLDatabasePool::db()
{
    std::shared_ptr<SLDatabase> result;
    executeLocked([&] {
        std::shared_ptr<SLDatabase> db;
        const bool isNew = databaseInPool_.isEmpty();
        if (!isNew) {
            db = databaseInPool_.takeLast();
        } else {
            const uint64_t total = uint64_t(databaseInPool_.size() + databaseOutPool_.size());
            if (maximumNumberOfDatabasesToCreate_ && total >= maximumNumberOfDatabasesToCreate_) {
                consoleLog(QStringLiteral("Maximum number of databases (%1) has already been reached!").arg(total));
                return;
            }
            db = SLDatabase::databaseWithPath(path_);
        }
        // A connection that cannot serve is dropped from the pool rather than
        // left counted as checked out for ever.
        if (!db->openWithFlags(openFlags_)) {
            consoleLog(QStringLiteral("Could not open up the database at path %1").arg(db->databasePath()));
            return;
        }
        const auto delegate = delegate_.lock();
        if (delegate && !delegate->databasePoolShouldAddDatabaseToPool(*this, *db)) {
            db->close();
            return;
        }
        databaseOutPool_.append(db);
        if (isNew && delegate)
            delegate->databasePoolDidAddDatabase(*this, *db);
        result = std::move(db);
    });
    return result;
}

void SLDatabasePool::pushDatabaseBackInPool(const std::shared_ptr<SLDatabase>& db)
{
    if (!db)
        return;
    bool alreadyIn = false;
    executeLocked([&] {
        alreadyIn = databaseInPool_.contains(db);
        if (alreadyIn)
            return;
        databaseInPool_.append(db);
        databaseOutPool_.removeOne(db);
    });
    // Thrown here, not on the lock queue's thread.
    if (alreadyIn)
        throw std::logic_error(
            "Database already in pool: The SLDatabase being put back into the pool is already present in the pool");
}

void SLDatabasePool::inDatabase(const SLDatabaseBlock& block)
{
    const auto db = this->db();
    block(db ? *db : *SLDatabase::nullDatabase());
    pushDatabaseBackInPool(db);
}

bool SLDatabasePool::beginTransaction(bool deferred, const SLTransactionBlock& block)
{
    bool ok = false;
    inDatabase([&](SLDatabase& db) { ok = SLDatabaseBlocks::runTransaction(db, deferred, block); });
    return ok;
}

bool SLDatabasePool::inTransaction(const SLTransactionBlock& block)
{
    return beginTransaction(false, block);
}

bool SLDatabasePool::inDeferredTransaction(const SLTransactionBlock& block)
{
    return beginTransaction(true, block);
}

std::optional<Error> SLDatabasePool::inSavePoint(const SLTransactionBlock& block)
{
    static std::atomic<long> savePointIndex {0};
    const QString name = QStringLiteral("savePoint%1").arg(savePointIndex++);
    std::optional<Error> result;
    inDatabase([&](SLDatabase& db) { result = SLDatabaseBlocks::runSavePoint(db, name, block); });
    return result;
}
