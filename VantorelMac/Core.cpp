#include "Core.h"

#include "OfflineAppleCloud.h"

#include "Cloud/LinkFiles.h"
#include "Cloud/StoreCKCloud.h"
#include "Store/NoteSearchIndex.h"
#include "Store/TagLinkIndex.h"

#include "Clock.h"
#include "Folders.h"
#include "Log.h"
#include "SLDatabase.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace {

const QString SearchDatabaseName = QStringLiteral("search.sqlite");
// The name an older layout used; dropping removes it too.
const QString OldSearchDatabaseName = QStringLiteral("search-v3.sqlite");
const QString CreateSearchTable = QStringLiteral(
    "CREATE VIRTUAL TABLE IF NOT EXISTS notes USING fts4(key, title, content, folder, hashtag, mention, "
    "tokenize=unicode61);");
// Reads straight from the mapped file: a scan of every note's content (the
// LIKE fallback) then no longer copies each page through SQLite's own cache.
// A larger page cache gained nothing. The file is a cache that can be rebuilt.
//
// A commit appends to the write-ahead log and flushes it once, where the
// rollback journal was made, flushed twice with its folder, then the file
// itself: four waits for the disk at every note saved or taken in.
const QString MapDatabaseFile = QStringLiteral("PRAGMA mmap_size=268435456; PRAGMA journal_mode=WAL;");
constexpr int CacheVersion = 5;

std::mutex& configurationMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::optional<Core::Configuration>& pendingConfiguration()
{
    static std::optional<Core::Configuration> configuration;
    return configuration;
}

bool& sharedCreated()
{
    static bool created = false;
    return created;
}

// The notes' database with the side indexes' file beside it.
void removeDatabaseFiles(const QString& path)
{
    SLDatabase::removeDatabaseFiles(path);
    SLDatabase::removeDatabaseFiles(NoteSearchIndex::sideDatabasePath(path));
}

} // namespace

bool Core::configure(Configuration configuration)
{
    std::lock_guard lock(configurationMutex());
    if (sharedCreated())
        return false;
    pendingConfiguration() = std::move(configuration);
    return true;
}

Core& Core::shared()
{
    static Core* const instance = [] {
        Configuration configuration;
        {
            std::lock_guard lock(configurationMutex());
            sharedCreated() = true;
            if (pendingConfiguration())
                configuration = std::move(*pendingConfiguration());
        }
        if (configuration.wallClock)
            Clock::setWallClock(configuration.wallClock);
        if (configuration.uuidGenerator)
            Clock::setUUIDGenerator(configuration.uuidGenerator);
        auto* core = new Core(std::move(configuration));
        Note::setRootDirectories(core->documentDirectory(), core->cachesDirectory());
        Note::setEventRelay(core);
        Note::setServices(core);
        return core;
    }();
    return *instance;
}

Core::Core() : Core(Configuration()) {}

Core::Core(Configuration configuration)
    : documentDirectory_(configuration.documentDirectory.isEmpty() ? Folders::documents()
                                                                   : configuration.documentDirectory)
    , cachesDirectory_(configuration.cachesDirectory.isEmpty()
                           ? QDir(Folders::caches()).filePath(QString::asprintf("V%d", CacheVersion))
                           : configuration.cachesDirectory)
    , defaults_(configuration.defaults ? configuration.defaults : &UserDefaults::standard())
    , fileQueue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".file"))))
    , dbQueue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".db"))))
{
    LogInfo("core:init documents:%1", documentDirectory_);
    LogInfo("core:init cache:%1", cachesDirectory_);
    // Earlier versions left these readable by others; whatever is made now is private from the start.
    Folders::makePrivate({Folders::caches(), cachesDirectory_, QDir(cachesDirectory_).filePath(SearchDatabaseName),
                          Folders::config(), defaults_->path(), Folders::data(),
                          Folders::library() + QStringLiteral("/Logs")});
    appleCloud_ = configuration.makeAppleCloud ? configuration.makeAppleCloud() : nullptr;
    if (!appleCloud_) {
        StoreCKCloud::Configuration records;
        records.defaults = defaults_;
        appleCloud_ = std::make_shared<OfflineAppleCloud>(std::make_shared<StoreCKCloud>(std::move(records)));
    }
    loadConfigs();
}

Core::~Core()
{
    // Blocks still queued may use this object; let them finish first.
    fileQueue_->sync([] {});
    dbQueue_->sync([this] { closeOpenDatabase(); });
}

void Core::loadConfigs()
{
    UserDefaults& defaults = *defaults_;
    typeFace_ = defaults.integerForKey(QStringLiteral("typeface"));
    typeSize_ = defaults.integerForKey(QStringLiteral("typesize"));
    colorTheme_ = defaults.integerForKey(QStringLiteral("theme"));
    typeSizeOffset_ = defaults.integerForKey(QStringLiteral("typeoffset"));
    if (Themeset::resourceNameForTheme(colorTheme_).isEmpty())
        colorTheme_ = 0;
    if (Typeset::localizedNameForTypeface(typeFace_).isEmpty())
        typeFace_ = 0;
    noteSortOptions_ = defaults.integerForKey(QStringLiteral("notesort"));
    enabledAppleCloud_ = defaults.boolForKey(QStringLiteral("icloud"));
    enabledSoundEffect_ = !defaults.boolForKey(QStringLiteral("nosfx"));
    enabledCalculator_ = defaults.boolForKey(QStringLiteral("calculator"));
    enabledPostTemplate_ = !defaults.boolForKey(QStringLiteral("noposttemplate"));
    enabledPushNotification_ = defaults.boolForKey(QStringLiteral("pushnote"));

    if (!enabledAppleCloud_) {
        defaults.setBool(true, QStringLiteral("icloud"));
        defaults.synchronize();
        enabledAppleCloud_ = true;
    }
    if (!enabledPushNotification_) {
        defaults.setBool(true, QStringLiteral("pushnote"));
        defaults.synchronize();
        enabledPushNotification_ = true;
    }
}

// --- The search database

std::shared_ptr<SLDatabase> Core::database()
{
    if (db_)
        return db_;
    // SQLite creates the file but not its folder; without this, rows written
    // before the first side file would be lost.
    Folders::ensure(cachesDirectory_);
    db_ = openDatabase(true);
    if (db_) {
        dbOpen_ = true;
        LogInfo("core:open db");
    }
    return db_;
}

std::shared_ptr<SLDatabase> Core::openDatabase(bool replaceUnreadable)
{
    const QString path = QDir(cachesDirectory_).filePath(SearchDatabaseName);
    auto db = SLDatabase::databaseWithPath(path);
    if (!db->open()) {
        LogError("db:error %1 %2", db->lastErrorCode(), db->lastErrorMessage());
        return nullptr;
    }
    if (db->executeUpdate(CreateSearchTable)) {
        db->executeStatements(MapDatabaseFile);
        NoteSearchIndex::create(*db);
        return db;
    }
    const int code = db->lastErrorCode() & 0xff;
    if (replaceUnreadable && (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)) {
        // The database is a cache of the notes: start it afresh and drop the
        // index markers, so the next rebuild indexes every note again.
        LogError("db:error %1 %2", db->lastErrorCode(), db->lastErrorMessage());
        db->close();
        removeDatabaseFiles(path);
        QDir(QDir(cachesDirectory_).filePath(QStringLiteral("Index"))).removeRecursively();
        return openDatabase(false);
    }
    return db;
}

void Core::closeOpenDatabase()
{
    if (!db_)
        return;
    db_->close();
    db_.reset();
    dbOpen_ = false;
    LogInfo("core:close db");
}

void Core::syncDatabase(const DatabaseBlock& block)
{
    // On the caller's thread when the queue is idle: a search typed on a busy
    // machine then waits for no other thread to be given a core, twice.
    dbQueue_->runOnCaller([this, &block] {
        const auto db = database();
        block(db ? *db : *SLDatabase::nullDatabase());
    });
}

void Core::asyncDatabase(DatabaseBlock block)
{
    dbQueue_->async([this, block = std::move(block)] {
        const auto db = database();
        block(db ? *db : *SLDatabase::nullDatabase());
    });
}

void Core::closeOnFileQueue()
{
    dbQueue_->sync([this] { closeOpenDatabase(); });
}

void Core::closeDatabase()
{
    if (!dbOpen_)
        return;
    fileQueue_->async([this] { closeOnFileQueue(); });
}

void Core::dropDatabase()
{
    fileQueue_->async([this] {
        const QDir caches(cachesDirectory_);
        // Closed and removed in one step, so no database block reopens the
        // file in between.
        dbQueue_->sync([this, &caches] {
            closeOpenDatabase();
            removeDatabaseFiles(caches.filePath(SearchDatabaseName));
            removeDatabaseFiles(caches.filePath(OldSearchDatabaseName));
        });
        QDir(caches.filePath(QStringLiteral("Index"))).removeRecursively();
    });
}

void Core::dropLinkFiles()
{
    fileQueue_->async([this] {
        QDir(QDir(cachesDirectory_).filePath(QStringLiteral("Link"))).removeRecursively();
        // A pass holding link dates read before, and the tag folders known
        // to be there, would otherwise trust what is gone.
        LinkFiles::droppedAll();
        TagLinkIndex::shared().forget();
    });
}

// --- Note events

void Core::addNoteStorageListener(const NoteStorageListenerPtr& listener)
{
    noteStorage_.addNoteStorageListener(listener);
}

void Core::removeNoteStorageListener(const NoteStorageListener* listener)
{
    noteStorage_.removeNoteStorageListener(listener);
}

void Core::noteDidUpdateFromRemoteServer(const NotePtr& note)
{
    noteStorage_.noteDidUpdateFromRemoteServer(note);
}

void Core::noteDidDeleteFromRemoteServer(const NotePtr& note)
{
    noteStorage_.noteDidDeleteFromRemoteServer(note);
}

void Core::noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag)
{
    noteStorage_.noteDidAddToStorage(note, storage, tag);
}

void Core::noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag)
{
    noteStorage_.noteDidDeleteFromStorage(note, storage, tag);
}

void Core::noteDidMoveTo(const NotePtr& before, const NotePtr& after)
{
    noteStorage_.noteDidMoveTo(before, after);
}

void Core::noteWillMoveTo(const NotePtr& before, const NotePtr& after)
{
    noteStorage_.noteWillMoveTo(before, after);
}

void Core::noteTagDidDeleteFromStorage(const QString& name, int tag)
{
    noteStorage_.noteTagDidDeleteFromStorage(name, tag);
}

void Core::noteTagDidAddToStorage(const QString& name, int tag)
{
    noteStorage_.noteTagDidAddToStorage(name, tag);
}

void Core::playSound(int) {}
