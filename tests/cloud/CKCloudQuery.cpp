#include "CloudTestSupport.h"

#include "../recordstore/PostgresTestServer.h"

#include "PushCenter.h"

// The relay's operations that read the whole store, on each backend.
class CKCloudQuery : public CloudTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        CloudTest::SetUp();
        defaults().removeObject(QStringLiteral("ckfetch"));
        BackendConfig backend{storePath, QStringLiteral("a"), {}, {}};
        if (QLatin1String(GetParam()) == QLatin1String("Postgres")) {
            postgres = std::make_unique<PostgresTestBackend>();
            postgres->setUp();
            if (IsSkipped() || HasFatalFailure())
                return;
            backend = postgres->config(QStringLiteral("a"), PushCenter::create());
            BackendConfig observer = postgres->config(QStringLiteral("observer"), PushCenter::create());
            store = std::make_unique<StoreClient>(observer);
        }
        StoreCKCloud::Configuration configuration = storeConfiguration(storePath);
        configuration.backend = backend;
        cloud = std::make_unique<StoreCKCloud>(std::move(configuration));
    }
    void TearDown() override
    {
        Dispatch::waitUntilIdle();
        cloud.reset();
        store.reset();
        postgres.reset();
        CloudTest::TearDown();
    }
    // Two live notes, a tombstone and a record too new to read.
    void saveRecords()
    {
        Record tooNew = liveRecord(QStringLiteral("Inbox/New.txt"), "new", CloudNow - 30);
        tooNew.setValue(NoteRecord::VersionKey, int64_t(50));
        for (const Record& record : {liveRecord(QStringLiteral("Inbox/A.txt"), "alpha", CloudNow - 50),
                                     liveRecord(QStringLiteral("Archive/B.txt"), "beta", CloudNow - 40),
                                     tombstoneRecord(QStringLiteral("Inbox/C.txt"), CloudNow - 20), tooNew})
            ASSERT_TRUE(store->save(record));
    }

    std::unique_ptr<PostgresTestBackend> postgres;
    std::unique_ptr<StoreCKCloud> cloud;
};

TEST_P(CKCloudQuery, ABackgroundFetchAppliesWhatItSortedAndCountsIt)
{
    saveRecords();
    const auto [sorted, error] = awaitValue<std::pair<int64_t, Error>>([&](auto done) {
        cloud->backgroundFetchStorage([done](int64_t sorted, const Error& error) { done({sorted, error}); });
    });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(sorted, 3);
    EXPECT_TRUE(error.isNull()) << qPrintable(error.localizedDescription());
    EXPECT_EQ(localText(QStringLiteral("A.txt")), QStringLiteral("alpha"));
    EXPECT_EQ(localText(QStringLiteral("B.txt"), NoteStorageArchive), QStringLiteral("beta"));
    EXPECT_EQ(linkDate(NoteServiceTrash, QStringLiteral("C.txt")), cloudSeconds(CloudNow - 20));
    EXPECT_NE(defaults().doubleForKey(QStringLiteral("ckfetch")), 0.0);
}

TEST_P(CKCloudQuery, AQueryHandsOverEveryRecordWithItsCommitDateAlone)
{
    saveRecords();
    const auto [records, error] = awaitValue<std::pair<std::optional<QList<Record>>, Error>>([&](auto done) {
        cloud->queryWithCompletionHandler(
            [done](std::optional<QList<Record>> records, const Error& error) { done({records, error}); });
    });
    ASSERT_TRUE(records) << qPrintable(error.localizedDescription());
    std::map<QString, FileTime> dates;
    for (const Record& record : *records) {
        EXPECT_EQ(record.fields().size(), 1u) << qPrintable(record.recordID().recordName);
        dates[record.recordID().recordName] = NoteRecord::commitDate(record).value_or(FileTime());
    }
    const std::map<QString, FileTime> expected{{"Archive/B.txt", cloudSeconds(CloudNow - 40)},
                                               {"Inbox/A.txt", cloudSeconds(CloudNow - 50)},
                                               {"Inbox/C.txt", cloudSeconds(CloudNow - 20)},
                                               {"Inbox/New.txt", cloudSeconds(CloudNow - 30)}};
    EXPECT_EQ(dates, expected);
}

INSTANTIATE_TEST_SUITE_P(Backends, CKCloudQuery, ::testing::Values("Sqlite", "Postgres"),
                         [](const auto& info) { return std::string(info.param); });
