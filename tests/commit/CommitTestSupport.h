#pragma once

#include "../store/EventJournal.h"
#include "../store/LogCapture.h"
#include "../store/ScriptedCloud.h"
#include "../store/StoreTestSupport.h"

#include "Core.h"
#include "Store/Note.h"

#include "Clock.h"
#include "Dispatch.h"
#include "Folders.h"
#include "SLDatabase.h"
#include "SLResultSet.h"
#include "files/FileDates.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

// 2024-03-15 08:30:12.250 UTC.
inline constexpr double CommitNow = 1710491412.25;

// Every test runs on the shared Core, with a scripted cloud, a fixed clock and
// counting UUIDs, in empty store folders and an empty Trash.
class CommitTest : public ::testing::Test {
protected:
    static ScriptedAppleCloud& cloud()
    {
        static ScriptedAppleCloud* const scripted = new ScriptedAppleCloud; // never destroyed
        return *scripted;
    }

    static void SetUpTestSuite()
    {
        Core::Configuration configuration;
        // The scripted cloud outlives Core: Core is never released.
        configuration.makeAppleCloud = [] { return std::shared_ptr<ScriptedAppleCloud>(&cloud(), [](auto*) {}); };
        sharedTestCore(configuration);
    }

    void SetUp() override
    {
        Core& core = Core::shared();
        // The database file goes with the caches folder: close it first.
        closeDatabase();
        Clock::setWallClock([] { return CommitNow; });
        static std::atomic<int> uuids = 0;
        Clock::setUUIDGenerator([] { return QStringLiteral("0A1B2C3D-0000-4000-8000-%1").arg(++uuids, 12, 10, QLatin1Char('0')); });
        for (const QString& folder : {documents(), caches(), Folders::temporary(), trash()})
            QDir(folder).removeRecursively();
        cloud().commitDate = QDateTime();
        cloud().error = Error();
        cloud().scriptedCKCloud->result = true;
        driveCallsBefore = cloud().calls().size();
        recordCallsBefore = cloud().scriptedCKCloud->calls().size();
        core.setEnabledAppleCloud(false);
        events = std::make_shared<EventJournal>();
        core.addNoteStorageListener(events);
    }

    void TearDown() override
    {
        // Events still queued for the main queue belong to this test.
        DispatchQueue::drainMain();
        Core::shared().removeNoteStorageListener(events.get());
        Clock::setUUIDGenerator({});
    }

    // The close goes through the file queue: waited for, so that no write
    // goes into a file about to be removed, or the new one misses rows.
    static void closeDatabase()
    {
        Core::shared().closeDatabase();
        Core::shared().fileQueue()->sync([] {});
    }
    // An empty store, its database closed first.
    static void emptyStore()
    {
        closeDatabase();
        for (const QString& folder : {documents(), caches()})
            QDir(folder).removeRecursively();
    }

    static QString documents() { return Core::shared().documentDirectory(); }
    static QString caches() { return Core::shared().cachesDirectory(); }
    static QString trash() { return TestSupport::home() + QStringLiteral("/.local/share/Trash"); }
    static QString inbox(const QString& key) { return Note::documentFileForKey(key, NoteStorageInbox); }
    static QString archive(const QString& key) { return Note::documentFileForKey(key, NoteStorageArchive); }

    // A note as the editing session hands it to a commit.
    static NotePtr newNote(const QString& text, int storage = NoteStorageInbox)
    {
        auto note = std::make_shared<Note>();
        note->setStorage(storage);
        note->setText(text);
        return note;
    }
    static bool commit(const NotePtr& note)
    {
        bool outcome = false;
        note->_commitLocalNote([&](bool ok) { outcome = ok; });
        return outcome;
    }
    // A new note, committed.
    static NotePtr committed(const QString& text, int storage = NoteStorageInbox)
    {
        const NotePtr note = newNote(text, storage);
        EXPECT_TRUE(commit(note)) << qPrintable(text);
        return note;
    }

    // Every row of the search table as "key|title|content|folder|hashtag|mention".
    static QStringList rows()
    {
        QStringList rows;
        Core::shared().syncDatabase([&](SLDatabase& db) {
            SLResultSet r = db.executeQuery(
                QStringLiteral("SELECT key, title, content, folder, hashtag, mention FROM notes ORDER BY rowid"));
            while (r.next()) {
                QStringList columns;
                for (int i = 0; i < 6; ++i)
                    columns.append(r.stringForColumnIndex(i));
                rows.append(columns.join(QLatin1Char('|')));
            }
        });
        return rows;
    }
    static QStringList rowKeys()
    {
        QStringList keys;
        for (const QString& row : rows())
            keys.append(row.section(QLatin1Char('|'), 0, 0));
        return keys;
    }

    static QString linkFile(int kind, const QString& tag, int storage, const QString& key)
    {
        return Note::linkDirectoryForTag(kind, tag, storage) + QLatin1Char('/') + key;
    }
    static bool linked(int kind, const QString& tag, int storage, const QString& key)
    {
        return QFileInfo::exists(linkFile(kind, tag, storage, key));
    }
    // The start-up rebuild, run to its end.
    static void rebuild()
    {
        Core::shared().buildTagLinkAndIndexFiles();
        Core::shared().fileQueue()->sync([] {});
    }

    // The files of the trash, by name.
    static QStringList trashedNames()
    {
        return QDir(trash() + QStringLiteral("/files")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The calls of this test to the drive and to the record store.
    QStringList driveCalls() const { return cloud().calls().mid(driveCallsBefore); }
    QStringList recordCalls() const { return cloud().scriptedCKCloud->calls().mid(recordCallsBefore); }

    std::shared_ptr<EventJournal> events;
    qsizetype driveCallsBefore = 0;
    qsizetype recordCallsBefore = 0;
};

// Every helper of the pool kept busy until release(): work handed to them waits.
class PoolHeld {
public:
    PoolHeld()
    {
        // More tasks than the pool has threads: the rest queue ahead of anything later.
        for (int i = 0; i < 256; ++i)
            DispatchQueue::global()->async([state = state_] {
                std::unique_lock lock(state->mutex);
                state->changed.wait(lock, [&] { return state->released; });
            });
    }
    ~PoolHeld() { release(); }
    void release()
    {
        std::lock_guard lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
