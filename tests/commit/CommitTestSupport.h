#pragma once

#include "../store/LogCapture.h"
#include "../store/ScriptedCloud.h"

#include "Core.h"
#include "Store/Note.h"
#include "Store/NoteStorageListener.h"

#include "Clock.h"
#include "Dispatch.h"
#include "Folders.h"
#include "SLDatabase.h"
#include "SLResultSet.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "files/FileDates.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <mutex>

// Failures show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// 2024-03-15 08:30:12.250 UTC.
inline constexpr double CommitNow = 1710491412.25;

// One line per note event, in the order they came; a tag event names the tag.
class CommitEvents : public NoteStorageListener {
public:
    QStringList lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    void noteDidUpdateFromRemoteServer(const NotePtr&) override { add(QStringLiteral("update")); }
    void noteDidDeleteFromRemoteServer(const NotePtr&) override { add(QStringLiteral("remoteDelete")); }
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("add %1 %2 %3").arg(key(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("delete %1 %2 %3").arg(key(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        add(QStringLiteral("didMove %1>%2 on %3")
                .arg(key(before), key(after), DispatchQueue::main()->isCurrent() ? QStringLiteral("main")
                                                                                 : QStringLiteral("other")));
    }
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        add(QStringLiteral("willMove %1>%2").arg(key(before), key(after)));
    }
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagDelete %1 %2").arg(name).arg(tag));
    }
    void noteTagDidAddToStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagAdd %1 %2").arg(name).arg(tag));
    }

private:
    static QString key(const NotePtr& note)
    {
        return note ? QString::number(note->storage()) + QLatin1Char('/') + note->key() : QStringLiteral("<none>");
    }
    void add(const QString& line)
    {
        std::lock_guard lock(mutex_);
        lines_.append(line);
    }

    mutable std::mutex mutex_;
    QStringList lines_;
};

// Every test runs on the shared Core, with a scripted cloud, a fixed clock and
// counting UUIDs, in empty store folders and an empty Trash.
class CommitTest : public ::testing::Test {
protected:
    static ScriptedAppleCloud& cloud()
    {
        static const auto scripted = std::make_shared<ScriptedAppleCloud>();
        return *scripted;
    }

    static void SetUpTestSuite()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            static UserDefaults defaults(TestSupport::home() + QStringLiteral("/commit-defaults.ini"));
            Core::Configuration configuration;
            configuration.documentDirectory = TestSupport::home() + QStringLiteral("/Documents/Brindlewick");
            configuration.cachesDirectory = TestSupport::home() + QStringLiteral("/Caches/V5");
            configuration.defaults = &defaults;
            configuration.makeAppleCloud = [] {
                // The scripted cloud outlives Core: Core is never released.
                static std::shared_ptr<ScriptedAppleCloud> shared(&cloud(), [](ScriptedAppleCloud*) {});
                return shared;
            };
            ASSERT_TRUE(Core::configure(configuration));
            Core::shared();
        });
    }

    void SetUp() override
    {
        Core& core = Core::shared();
        // The database file goes with the caches folder: close it first.
        core.closeDatabase();
        core.fileQueue()->sync([] {});
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
        events = std::make_shared<CommitEvents>();
        core.addNoteStorageListener(events);
    }

    void TearDown() override
    {
        // Events still queued for the main queue belong to this test.
        DispatchQueue::drainMain();
        Core::shared().removeNoteStorageListener(events.get());
        Clock::setUUIDGenerator({});
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

    // The files of the trash, by name.
    static QStringList trashedNames()
    {
        return QDir(trash() + QStringLiteral("/files")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The calls of this test to the drive and to the record store.
    QStringList driveCalls() const { return cloud().calls().mid(driveCallsBefore); }
    QStringList recordCalls() const { return cloud().scriptedCKCloud->calls().mid(recordCallsBefore); }

    std::shared_ptr<CommitEvents> events;
    qsizetype driveCallsBefore = 0;
    qsizetype recordCallsBefore = 0;
};
