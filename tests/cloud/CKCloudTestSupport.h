#pragma once

#include "CloudTestSupport.h"

#include "../store/EventJournal.h"

#include "Dispatch.h"
#include "FaultInjector.h"
#include "RecordStoreError.h"

#include <QFile>

using Op = FaultInjector::Operation;

inline FileTime cloudSeconds(int64_t s)
{
    return FileTime::fromWholeSeconds(s);
}

inline Record liveRecord(const QString& name, const QString& text, int64_t commit)
{
    Record record(NoteRecord::RecordType, RecordID{name});
    NoteRecord::setLive(record, NoteRecord::dataFromString(text), cloudSeconds(commit));
    return record;
}

inline Record tombstoneRecord(const QString& name, int64_t commit)
{
    Record record(NoteRecord::RecordType, RecordID{name});
    NoteRecord::setTombstone(record, cloudSeconds(commit));
    return record;
}

// The text of the local note file; nothing without one.
inline std::optional<QString> localText(const QString& key, int storage = NoteStorageInbox)
{
    QFile file(Note::documentFileForKey(key, storage));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

// The test's store with a cloud of client "a" on it behind a fault injector,
// the other client ("observer", the second computer) and the note events.
class CKCloudTest : public CloudTest {
protected:
    void SetUp() override
    {
        CloudTest::SetUp();
        lines.clear();
        journal = std::make_shared<EventJournal>(QStringLiteral("E"), &lines);
        Core::shared().addNoteStorageListener(journal);
        makeCloud({});
        forgetLog();
    }
    void TearDown() override
    {
        Dispatch::waitUntilIdle();
        Core::shared().removeNoteStorageListener(journal.get());
        cloud.reset();
        CloudTest::TearDown();
    }

    void makeCloud(const std::function<void(StoreCKCloud::Configuration&)>& configure)
    {
        StoreCKCloud::Configuration configuration = storeConfiguration(storePath);
        configuration.wrapDatabase = [this](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
            return faults = std::make_shared<FaultInjector>(std::move(db));
        };
        if (configure)
            configure(configuration);
        cloud = std::make_unique<StoreCKCloud>(std::move(configuration));
        awaitValue<bool>([&](auto done) { // opens the store, so the injector is there
            cloud->notifyDeleteNote(CloudTest::note(QStringLiteral("Opening.txt"), QString(), 0), {}, done);
        });
    }

    // The other computer saves the record while the store's clock reads the time.
    void saveAt(const Record& record, double storeTime)
    {
        Clock::setWallClock([storeTime] { return storeTime; });
        ASSERT_TRUE(store->save(record));
        Clock::setWallClock([] { return double(CloudNow); });
    }
    void reload(const Record& record)
    {
        awaitValue<bool>([&](auto done) { cloud->_reloadNoteWithRecord(record, [done] { done(true); }); });
    }
    bool fetch()
    {
        const bool ok = awaitValue<bool>([&](auto done) { cloud->fetchStorage(done); });
        Dispatch::waitUntilIdle(); // the send pass after it
        return ok;
    }
    // The note events since SetUp, without their queue.
    QStringList events() const
    {
        Dispatch::waitUntilIdle();
        QStringList result;
        for (const QString& line : journal->lines())
            result << line.section(QLatin1Char('@'), 0, 0);
        return result;
    }

    std::unique_ptr<StoreCKCloud> cloud;
    std::shared_ptr<FaultInjector> faults;
    QStringList lines;
    std::shared_ptr<EventJournal> journal;
};
