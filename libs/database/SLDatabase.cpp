#include "SLDatabase.h"

#include "ConsoleLog.h"
#include "Folders.h"
#include "SLStatement.h"

#include <QFile>
#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <utility>
#include <cstdio>
#include <cstdlib>

namespace {

const QString domain = QStringLiteral("SLDatabase");

// Busy waits are measured on a clock that a change of the wall clock cannot move.
double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QLocale storeableLocale()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

} // namespace

SLDatabase::SLDatabase(const QString& path, bool inert)
    : databasePath_(path)
    , inert_(inert)
{
    if (!sqlite3_threadsafe()) {
        std::fprintf(stderr, "Assertion failed: sqlite3_threadsafe()\n");
        std::abort();
    }
}

std::shared_ptr<SLDatabase> SLDatabase::databaseWithPath(const QString& path)
{
    return std::shared_ptr<SLDatabase>(new SLDatabase(path, false));
}

void SLDatabase::removeDatabaseFiles(const QString& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

std::shared_ptr<SLDatabase> SLDatabase::nullDatabase()
{
    return std::shared_ptr<SLDatabase>(new SLDatabase(QString(), true));
}

SLDatabase::~SLDatabase()
{
    close();
}

QString SLDatabase::SLDBUserVersion()
{
    return QStringLiteral("2.5");
}

uint32_t SLDatabase::SLDBVersion()
{
    static const uint32_t version = [] {
        QString text = SLDBUserVersion();
        if (text.split(QLatin1Char('.')).size() < 3)
            text += QStringLiteral(".0");
        text.remove(QLatin1Char('.'));
        return text.toUInt(nullptr, 16);
    }();
    return version;
}

QString SLDatabase::sqliteLibVersion()
{
    return QString::fromUtf8(sqlite3_libversion());
}

bool SLDatabase::isSQLiteThreadSafe()
{
    return sqlite3_threadsafe() != 0;
}

QByteArray SLDatabase::sqlitePath() const
{
    if (databasePath_.isNull())
        return QByteArrayLiteral(":memory:");
    if (databasePath_.isEmpty())
        return QByteArray("");
    return QFile::encodeName(databasePath_);
}

QString SLDatabase::description() const
{
    return QStringLiteral("<SLDatabase: 0x%1>").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

// --- Opening and closing

bool SLDatabase::open()
{
    return openHandle(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool SLDatabase::openWithFlags(int flags)
{
    return openHandle(flags);
}

bool SLDatabase::openHandle(int flags)
{
    if (db_)
        return true;
    if (inert_)
        return false;
    // Counting the memory in use, which nothing here reads, takes one lock
    // of the whole process at every allocation: connections on two threads
    // would wait on each other. Set once, before SQLite starts.
    [[maybe_unused]] static const int uncounted = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    const QByteArray path = sqlitePath();
    // The application's databases hold the notes' text and the records: the
    // user's alone, and so are the journals SQLite gives the file's mode.
    if ((flags & SQLITE_OPEN_CREATE) && !(flags & SQLITE_OPEN_MEMORY) && !databasePath_.isEmpty() &&
        databasePath_ != QLatin1String(":memory:") && !databasePath_.startsWith(QLatin1String("file:")))
        Folders::createPrivateFile(databasePath_);
    const int rc = sqlite3_open_v2(path.constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        consoleLog(QStringLiteral("error opening!: %1").arg(rc));
        // Keep what went wrong, but not the dead handle: every statement on it
        // would fail, and the next open must really try again.
        openErrorCode_ = db_ ? sqlite3_errcode(db_) : rc;
        openErrorMessage_ = QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    openErrorCode_ = SQLITE_OK;
    openErrorMessage_.clear();
    if (maxBusyRetryTimeInterval_ > 0.0)
        setMaxBusyRetryTimeInterval(maxBusyRetryTimeInterval_);
    return true;
}

bool SLDatabase::close()
{
    clearCachedStatements();
    closeOpenResultSets();
    if (!db_)
        return true;
    // A plain close first: it disconnects virtual tables, which finalize
    // statements of their own that are no leak of ours.
    int rc = sqlite3_close(db_);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        finalizeLeakedStatements();
        // close_v2 never leaves the handle open behind our back.
        rc = sqlite3_close_v2(db_);
    }
    if (rc != SQLITE_OK)
        consoleLog(QStringLiteral("error closing!: %1").arg(rc));
    db_ = nullptr;
    inTransaction_ = false;
    functionNames_.clear();
    attachments_.clear();
    return true;
}

void SLDatabase::finalizeLeakedStatements()
{
    while (sqlite3_stmt* statement = sqlite3_next_stmt(db_, nullptr)) {
        consoleLog(QStringLiteral("Closing leaked statement"));
        sqlite3_finalize(statement);
    }
}

bool SLDatabase::databaseExists() const
{
    if (db_)
        return true;
    if (!inert_)
        consoleLog(QStringLiteral("The SLDatabase %1 is not open.").arg(description()));
    return false;
}

bool SLDatabase::enterUse()
{
    if (isExecutingStatement_) {
        consoleLog(QStringLiteral("The SLDatabase %1 is currently in use.").arg(description()));
        return false;
    }
    isExecutingStatement_ = true;
    return true;
}

// --- Busy handling

void SLDatabase::setMaxBusyRetryTimeInterval(double seconds)
{
    maxBusyRetryTimeInterval_ = seconds;
    if (!db_)
        return;
    if (seconds > 0.0)
        sqlite3_busy_handler(db_, &SLDatabase::busyHandler, this);
    else
        sqlite3_busy_handler(db_, nullptr, nullptr);
}

int SLDatabase::busyHandler(void* context, int count)
{
    auto* self = static_cast<SLDatabase*>(context);
    const double now = monotonicSeconds();
    if (count == 0) {
        self->startBusyRetryTime_ = now;
        return 1;
    }
    if (self->maxBusyRetryTimeInterval_ > now - self->startBusyRetryTime_) {
        const int requested = static_cast<int>(QRandomGenerator::global()->bounded(50)) + 50;
        const int actual = sqlite3_sleep(requested);
        if (actual != requested)
            consoleLog(QStringLiteral("WARNING: Requested sleep of %1 milliseconds, but SQLite returned %2. "
                                      "Maybe SQLite wasn't built with HAVE_USLEEP=1?")
                           .arg(requested)
                           .arg(actual));
        return 1;
    }
    return 0;
}

int SLDatabase::busyRetryTimeout() const
{
    consoleLog(QStringLiteral("%1:%2").arg(QStringLiteral("-[SLDatabase busyRetryTimeout]")).arg(271));
    consoleLog(QStringLiteral("SLDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval"));
    return -1;
}

void SLDatabase::setBusyRetryTimeout(int)
{
    consoleLog(QStringLiteral("%1:%2").arg(QStringLiteral("-[SLDatabase setBusyRetryTimeout:]")).arg(277));
    consoleLog(QStringLiteral("SLDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:"));
}

// --- Errors

int SLDatabase::lastErrorCode() const
{
    return db_ ? sqlite3_errcode(db_) : openErrorCode_;
}

QString SLDatabase::lastErrorMessage() const
{
    if (db_)
        return QString::fromUtf8(sqlite3_errmsg(db_));
    return openErrorCode_ != SQLITE_OK ? openErrorMessage_ : QString::fromUtf8(sqlite3_errstr(SQLITE_OK));
}

bool SLDatabase::hadError() const
{
    const int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

Error SLDatabase::errorWithMessage(const QString& message) const
{
    return Error::make(domain, lastErrorCode(), message);
}

Error SLDatabase::lastError() const
{
    return errorWithMessage(lastErrorMessage());
}

// --- Result sets and functions

bool SLDatabase::hasOpenResultSets() const
{
    return !openResultSets_.empty();
}

void SLDatabase::closeOpenResultSets()
{
    if (openResultSets_.empty())
        return;
    // Each result set lets go of this connection; stay alive until the end.
    const auto self = shared_from_this();
    const auto open = std::exchange(openResultSets_, {});
    for (SLResultSet::Private* resultSet : open)
        SLResultSet::detachAndClose(resultSet);
}

void SLDatabase::resultSetDidClose(const SLResultSet::Private* resultSet)
{
    const auto it = std::find(openResultSets_.begin(), openResultSets_.end(), resultSet);
    if (it != openResultSets_.end())
        openResultSets_.erase(it);
}

void SLDatabase::makeFunctionNamed(const QString& name, int maximumArguments, FunctionBlock block)
{
    if (!databaseExists())
        return;
    openFunctions_.push_back(std::make_unique<FunctionBlock>(std::move(block)));
    const auto call = [](sqlite3_context* context, int argc, sqlite3_value** argv) {
        (*static_cast<FunctionBlock*>(sqlite3_user_data(context)))(context, argc, argv);
    };
    if (sqlite3_create_function(db_, name.toUtf8().constData(), maximumArguments, SQLITE_UTF8,
                                openFunctions_.back().get(), call, nullptr, nullptr) == SQLITE_OK)
        functionNames_.insert(name);
}

// --- Dates and keys

void SLDatabase::setDateFormat(const QString& format)
{
    dateFormat_ = format;
}

QDateTime SLDatabase::dateFromString(const QString& text) const
{
    if (dateFormat_.isEmpty())
        return QDateTime();
    QDateTime date = storeableLocale().toDateTime(text, dateFormat_);
    if (!date.isValid())
        return QDateTime();
    date.setTimeSpec(Qt::UTC);
    return date;
}

QString SLDatabase::stringFromDate(const QDateTime& date) const
{
    if (dateFormat_.isEmpty())
        return QString();
    return storeableLocale().toString(date.toUTC(), dateFormat_);
}

bool SLDatabase::setKey(const QString& key)
{
    return setKeyWithData(key.toUtf8());
}

bool SLDatabase::rekey(const QString& key)
{
    return rekeyWithData(key.toUtf8());
}

bool SLDatabase::setKeyWithData(const QByteArray&)
{
    return false;
}

bool SLDatabase::rekeyWithData(const QByteArray&)
{
    return false;
}
