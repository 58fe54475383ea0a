#pragma once

#include "../store/EventJournal.h"
#include "../store/StoreTestSupport.h"

#include "Core.h"
#include "Store/Note.h"

#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The wall clock of every note test: 2024-03-15 08:30:12.250 UTC, 09:30:12 CET.
inline constexpr double FixedNow = 1710491412.25;

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
        qputenv("TZ", "Europe/Paris");
        tzset();
        Core::Configuration configuration;
        configuration.wallClock = [] { return FixedNow; };
        configuration.uuidGenerator = [] { return QStringLiteral("0A1B2C3D-0000-4000-8000-00000000CAFE"); };
        sharedTestCore(configuration);
    }

    void SetUp() override
    {
        Clock::setWallClock([] { return FixedNow; });
        QDir(documents()).removeRecursively();
        QDir(caches()).removeRecursively();
        events = std::make_shared<EventJournal>();
        Core::shared().addNoteStorageListener(events);
    }

    void TearDown() override { Core::shared().removeNoteStorageListener(events.get()); }

    static QString documents() { return Core::shared().documentDirectory(); }
    static QString caches() { return Core::shared().cachesDirectory(); }
    static QString data(const QString& name) { return QStringLiteral(TEST_DATA_DIR "/") + name; }

    std::shared_ptr<EventJournal> events;
};
