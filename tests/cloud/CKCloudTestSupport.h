#pragma once

#include "CloudTestSupport.h"

#include "../store/EventJournal.h"

#include "Dispatch.h"
#include "FaultInjector.h"
#include "RecordStoreError.h"

using Op = FaultInjector::Operation;

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

    using Configure = std::function<void(StoreCKCloud::Configuration&)>;
    // A cloud of the client on the test's store behind its own fault injector, its store opened.
    std::unique_ptr<StoreCKCloud> openCloud(std::shared_ptr<FaultInjector>& injector,
                                            const QString& client = QStringLiteral("a"), const Configure& configure = {})
    {
        StoreCKCloud::Configuration configuration = storeConfiguration(storePath, client);
        configuration.wrapDatabase = [&injector](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
            return injector = std::make_shared<FaultInjector>(std::move(db));
        };
        if (configure)
            configure(configuration);
        auto made = std::make_unique<StoreCKCloud>(std::move(configuration));
        awaitValue<bool>([&](auto done) {
            made->notifyDeleteNote(CloudTest::note(QStringLiteral("Opening.txt"), QString(), 0), {}, done);
        });
        return made;
    }
    void makeCloud(const Configure& configure) { cloud = openCloud(faults, QStringLiteral("a"), configure); }

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
