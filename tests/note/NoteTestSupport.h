#pragma once

#include "Core.h"
#include "Store/Note.h"
#include "Store/NoteStorageListener.h"

#include "Clock.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <mutex>

// The wall clock of every note test: 2024-03-15 08:30:12.250 UTC, 09:30:12 CET.
inline constexpr double FixedNow = 1710491412.25;

// Writes one line per note event, in the order they came.
class EventLog : public NoteStorageListener {
public:
    QStringList lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

    void noteDidUpdateFromRemoteServer(const NotePtr&) override { add(QStringLiteral("update")); }
    void noteDidDeleteFromRemoteServer(const NotePtr&) override { add(QStringLiteral("remoteDelete")); }
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("add %1 %2 %3").arg(keyOf(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("delete %1 %2 %3").arg(keyOf(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidMoveTo(const NotePtr&, const NotePtr&) override { add(QStringLiteral("didMove")); }
    void noteWillMoveTo(const NotePtr&, const NotePtr&) override { add(QStringLiteral("willMove")); }
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagDelete %1 %2").arg(name).arg(tag));
    }
    void noteTagDidAddToStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagAdd %1 %2").arg(name).arg(tag));
    }

private:
    static QString keyOf(const NotePtr& note) { return note ? note->key() : QStringLiteral("<none>"); }
    void add(const QString& line)
    {
        std::lock_guard lock(mutex_);
        lines_.append(line);
    }

    mutable std::mutex mutex_;
    QStringList lines_;
};

// A note with text, key and dates, as a commit would leave it.
inline NotePtr makeNote(const QString& key, const QString& text, int storage = NoteStorageInbox,
                        int64_t created = 1700000000, int64_t updated = 1700003600)
{
    auto note = std::make_shared<Note>(key, storage);
    note->setText(text);
    note->setCreatedOn(created);
    note->setUpdatedOn(updated);
    return note;
}

// Every note test runs on the shared Core, pointed at folders under the test
// home, with a fixed clock, fixed UUIDs and the Paris time zone; the store's
// folders start empty and the events are logged.
class NoteStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            qputenv("TZ", "Europe/Paris");
            tzset();
            static UserDefaults defaults(TestSupport::home() + QStringLiteral("/note-defaults.ini"));
            Core::Configuration configuration;
            configuration.documentDirectory = TestSupport::home() + QStringLiteral("/Documents/Brindlewick");
            configuration.cachesDirectory = TestSupport::home() + QStringLiteral("/Caches/V5");
            configuration.defaults = &defaults;
            configuration.wallClock = [] { return FixedNow; };
            configuration.uuidGenerator = [] { return QStringLiteral("0A1B2C3D-0000-4000-8000-00000000CAFE"); };
            ASSERT_TRUE(Core::configure(configuration));
            Core::shared();
        });
    }

    void SetUp() override
    {
        Clock::setWallClock([] { return FixedNow; });
        QDir(documents()).removeRecursively();
        QDir(caches()).removeRecursively();
        events = std::make_shared<EventLog>();
        Core::shared().addNoteStorageListener(events);
    }

    void TearDown() override { Core::shared().removeNoteStorageListener(events.get()); }

    static QString documents() { return Core::shared().documentDirectory(); }
    static QString caches() { return Core::shared().cachesDirectory(); }
    static QString data(const QString& name) { return QStringLiteral(TEST_DATA_DIR "/") + name; }

    std::shared_ptr<EventLog> events;
};
