#include "SplitScan.h"

#include "ContentPattern.h"

#include "Dispatch.h"
#include "SLDatabase.h"

#include <sqlite3.h>

#include <atomic>
#include <memory>

namespace {

// Rows below which a second thread is not worth starting.
constexpr qint64 SmallestSplitRows = 4000;
// Statement steps between two looks at whether the upper half may stop.
constexpr int StepsBetweenChecks = 1000;

// The second connection and its thread, kept with the first connection.
struct SplitHelper {
    std::shared_ptr<SLDatabase> db;
    DispatchQueuePtr queue;
};

SplitHelper* splitHelperFor(SLDatabase& db)
{
    static const char key = 0;
    auto helper = std::static_pointer_cast<SplitHelper>(db.attachment(&key));
    if (!helper) {
        helper = std::make_shared<SplitHelper>();
        // A database in memory or in a temporary file has no second connection.
        const QString path = db.databasePath();
        auto second = path.isEmpty() ? nullptr : SLDatabase::databaseWithPath(path);
        if (second && second->openWithFlags(SQLITE_OPEN_READONLY)) {
            second->executeStatements(
                QStringLiteral("PRAGMA mmap_size=%1;").arg(db.longForQuery(QStringLiteral("PRAGMA mmap_size"))));
            ContentPattern::registerOn(*second);
            helper->db = std::move(second);
            helper->queue = DispatchQueue::createSerial(QStringLiteral("search.scan"));
        }
        db.setAttachment(&key, helper);
    }
    return helper->db ? helper.get() : nullptr;
}

// The upper half's outcome, handed from its thread.
struct Upper {
    std::function<bool()> cancelled;
    std::atomic<bool> stop {false};
    std::optional<std::vector<TextRow>> rows;
    std::atomic<bool> done {false};

    static int check(void* context)
    {
        const auto* upper = static_cast<const Upper*>(context);
        return upper->stop.load() || (upper->cancelled && upper->cancelled()) ? 1 : 0;
    }
};

} // namespace

std::optional<std::vector<TextRow>> SplitScan::rows(SLDatabase& db, const QString& condition,
                                                    const QVariantList& arguments, int limit,
                                                    const std::function<bool()>& cancelled)
{
    // Rows written in an open transaction are not seen by a second connection.
    sqlite3* const handle = db.sqliteHandle();
    if (!handle || !sqlite3_get_autocommit(handle) || limit <= 0)
        return std::nullopt;
    // Each end on its own: both in one query would read the whole table.
    SLResultSet bounds = db.executeQuery(
        QStringLiteral("SELECT (SELECT min(rowid) FROM notes_content), (SELECT max(rowid) FROM notes_content)"));
    const bool bounded = bounds.next();
    const qint64 low = bounded ? bounds.longForColumnIndex(0) : 0;
    const qint64 high = bounded ? bounds.longForColumnIndex(1) : 0;
    bounds.close();
    SplitHelper* const helper = high - low >= SmallestSplitRows ? splitHelperFor(db) : nullptr;
    if (!helper)
        return std::nullopt;

    const qint64 middle = low + (high - low) / 2;
    const QString sql = QStringLiteral("SELECT  c0key, c3folder FROM notes_content WHERE ") + condition +
                        QStringLiteral(" AND rowid %1 ? LIMIT ") + QString::number(limit);
    const QVariantList halfArguments = arguments + QVariantList{middle};
    auto upper = std::make_shared<Upper>();
    upper->cancelled = cancelled;
    helper->queue->async([second = helper->db, upper, sql = sql.arg(QLatin1Char('>')), halfArguments, limit] {
        sqlite3_progress_handler(second->sqliteHandle(), StepsBetweenChecks, &Upper::check, upper.get());
        upper->rows = readTextRows(*second, sql, halfArguments, limit, 2);
        sqlite3_progress_handler(second->sqliteHandle(), 0, nullptr, nullptr);
        upper->done.store(true);
        upper->done.notify_all();
    });
    std::optional<std::vector<TextRow>> rows = readTextRows(db, sql.arg(QStringLiteral("<=")), halfArguments, limit, 2);
    // The lower half alone fills the list: the upper half's rows would come after it.
    if (!rows || int(rows->size()) >= limit)
        upper->stop.store(true);
    upper->done.wait(false);
    if (!rows || int(rows->size()) >= limit)
        return rows;
    if (!upper->rows)
        return std::nullopt;
    for (size_t i = 0; i < upper->rows->size() && int(rows->size()) < limit; ++i)
        rows->push_back(std::move((*upper->rows)[i]));
    return rows;
}
