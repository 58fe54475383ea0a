#pragma once

#include "../store/LogCapture.h"
#include "../store/StoreTestSupport.h"

#include "Cloud/LinkFiles.h"
#include "Cloud/NoteRecord.h"
#include "Cloud/StoreCKCloud.h"
#include "OfflineAppleCloud.h"

#include "Clock.h"
#include "Container.h"
#include "Dispatch.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

// A second client of the test's store, to look at or write records directly.
class StoreClient {
public:
    explicit StoreClient(const QString& path)
    {
        BackendConfig config;
        config.sqlitePath = path;
        config.clientID = QStringLiteral("observer");
        container_ = Container::open(QStringLiteral("observer"), config);
        EXPECT_TRUE(container_);
    }

    QString containerID() const { return container_->containerID(); }

    std::optional<Record> fetch(const QString& recordName) const
    {
        return call<std::optional<Record>>([&](auto done) {
            db().fetchRecord(RecordID{recordName}, [done](std::optional<Record> record, Error) { done(record); });
        });
    }
    bool save(const Record& record) const
    {
        return call<bool>([&](auto done) { db().saveRecord(record, [done](auto, Error e) { done(e.isNull()); }); });
    }

private:
    Database& db() const { return *container_->privateDatabase(); }
    template <typename T, typename Start>
    static T call(Start start)
    {
        auto promise = std::make_shared<std::promise<T>>();
        auto future = promise->get_future();
        start([promise](T value) { promise->set_value(std::move(value)); });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return future.get();
    }

    std::shared_ptr<Container> container_;
};

// 2024-03-15 08:30:12 UTC.
inline constexpr int64_t CloudNow = 1710491412;

// Every test runs on the shared Core with the cloud on, a fixed clock, empty
// store folders and a record store of its own.
class CloudTest : public ::testing::Test {
protected:
    static StoreCKCloud::Configuration storeConfiguration(const QString& client = QStringLiteral("client-a"))
    {
        StoreCKCloud::Configuration configuration;
        configuration.backend.sqlitePath = storePath();
        configuration.backend.clientID = client;
        configuration.defaults = &defaults();
        return configuration;
    }

    static void SetUpTestSuite()
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] {
            StoreCKCloud::Configuration records = storeConfiguration();
            records.backend.sqlitePath = coreStorePath();
            return std::make_shared<OfflineAppleCloud>(std::make_shared<StoreCKCloud>(std::move(records)));
        };
        sharedTestCore(configuration);
    }

    void SetUp() override
    {
        Core& core = Core::shared();
        core.closeDatabase();
        core.fileQueue()->sync([] {});
        Clock::setWallClock([] { return double(CloudNow); });
        for (const QString& folder : {core.documentDirectory(), core.cachesDirectory()})
            QDir(folder).removeRecursively();
        core.setEnabledAppleCloud(true);
        ++storeGeneration();
        store = std::make_unique<StoreClient>(storePath());
        // The links of this test belong to its store.
        defaults().setString(store->containerID(), QString::fromLatin1(StoreCKCloud::StoreAccountKey));
        log = LogCapture::install();
    }

    void TearDown() override
    {
        log->uninstall();
        Clock::setWallClock({});
    }

    // A fresh store file per test.
    static int& storeGeneration()
    {
        static int generation = 0;
        return generation;
    }
    // The shared Core's record store, the same for every test.
    static QString coreStorePath() { return TestSupport::home() + QStringLiteral("/cloud-core.sqlite"); }
    static QString storePath()
    {
        return TestSupport::home() + QStringLiteral("/cloud-%1.sqlite").arg(storeGeneration());
    }
    static UserDefaults& defaults()
    {
        static UserDefaults defaults(TestSupport::home() + QStringLiteral("/cloud-defaults.ini"));
        return defaults;
    }

    static NotePtr note(const QString& key, const QString& text, int64_t updatedOn, int storage = NoteStorageInbox)
    {
        auto note = std::make_shared<Note>(key, storage);
        note->setText(text);
        note->setUpdatedOn(updatedOn);
        note->setCreatedOn(updatedOn - 100);
        return note;
    }

    // Runs one write and waits for its one answer.
    template <typename Start>
    static bool answer(Start start)
    {
        auto promise = std::make_shared<std::promise<bool>>();
        auto future = promise->get_future();
        start([promise](bool ok) { promise->set_value(ok); });
        if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the write never answered";
            std::abort(); // the pending block still refers to this frame
        }
        return future.get();
    }

    // The lines of "ckcloud:" logged since the last forgetLog().
    QStringList cloudLines() const
    {
        return log->lines().mid(forgotten).filter(QRegularExpression(QStringLiteral("^ckcloud:")));
    }
    void forgetLog() { forgotten = log->lines().size(); }

    std::shared_ptr<LogCapture> log;
    qsizetype forgotten = 0;
    std::unique_ptr<StoreClient> store;
};

