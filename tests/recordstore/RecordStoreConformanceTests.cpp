#include "Clock.h"
#include "Container.h"
#include "Notification.h"
#include "PostgresTestServer.h"
#include "PushCenter.h"
#include "RecordStoreClient.h"
#include "RecordStoreError.h"
#include "SLDatabase.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <string>

namespace {

// Each backend object owns one store file under the test home.
struct SqliteBackend {
    static std::string name() { return "Sqlite"; }
    static constexpr int UnreachableCode = RecordStoreError::BadContainer;

    SqliteBackend()
    {
        static int stores = 0;
        folder = TestSupport::home() + QStringLiteral("/stores/%1").arg(++stores);
        QDir().mkpath(folder);
        path = folder + QStringLiteral("/net.brindlewick.notes.sqlite");
    }

    void setUp() {}

    BackendConfig config(const QString& clientID, std::shared_ptr<PushCenter> center) const
    {
        return {path, clientID, std::move(center), {}};
    }

    static Error openAt(const QString& at)
    {
        Error error;
        EXPECT_FALSE(Container::open("net.brindlewick.notes", {at, "C", PushCenter::create(), {}}, &error));
        return error;
    }

    // A folder where the file should be: SQLite cannot open it.
    Error openUnreachable()
    {
        const QString at = folder + "/unreachable.sqlite";
        QDir().mkpath(at);
        return openAt(at);
    }

    Error openDamaged()
    {
        const QByteArray garbage = QByteArray("this is no database, ").repeated(400);
        const QString at = folder + "/damaged.sqlite";
        TestSupport::writeFile(at, garbage);
        const Error error = openAt(at);
        EXPECT_EQ(TestSupport::readFile(at), garbage) << "the damaged file was changed";
        EXPECT_FALSE(QFile::exists(at + "-wal"));
        return error;
    }

    Error openNewerSchema()
    {
        EXPECT_TRUE(Container::open("net.brindlewick.notes", config("C", PushCenter::create())));
        auto db = SLDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        EXPECT_TRUE(db->executeUpdate("UPDATE meta SET value = '2' WHERE key = 'schema_version'"));
        db->close();
        return openAt(path);
    }

    void backdatePushes(double seconds)
    {
        auto db = SLDatabase::databaseWithPath(path);
        ASSERT_TRUE(db->open());
        EXPECT_TRUE(db->executeUpdate("UPDATE notifications SET created = created - ?", qlonglong(seconds * 1000)));
        db->close();
    }

    void failWritesOf(const QString& name)
    {
        auto db = SLDatabase::databaseWithPath(path);
        ASSERT_TRUE(db->open());
        EXPECT_TRUE(db->executeUpdate(QStringLiteral("CREATE TRIGGER fail_writes BEFORE INSERT ON records WHEN "
                                                     "NEW.name = '%1' BEGIN SELECT RAISE(ABORT, 'no room'); END")
                                          .arg(name)));
        db->close();
    }

    void allowWrites()
    {
        auto db = SLDatabase::databaseWithPath(path);
        ASSERT_TRUE(db->open());
        EXPECT_TRUE(db->executeUpdate("DROP TRIGGER fail_writes"));
        db->close();
    }

    QString folder;
    QString path;
};

} // namespace

using RecordStoreBackends = ::testing::Types<SqliteBackend, PostgresTestBackend>;
#include "RecordStoreConformance.h"

namespace {

// Another machine writing to a shared file sends no inotify event here: the
// two-second poll on the dispatch clock picks its pushes up.
TEST(RecordStoreSqlite, PollDeliversPushesNoSignalAnnounced)
{
    TestSupport::VirtualTime time;
    SqliteBackend backend;
    const auto center = PushCenter::create();
    const auto recorder = std::make_shared<RecordStoreTest::PushRecorder>();
    center->setDelegate(recorder);
    const auto container = Container::open("net.brindlewick.notes", backend.config("B", center));
    ASSERT_TRUE(container);
    Subscription subscription;
    subscription.recordType = "Notes";
    subscription.options = Subscription::FiresOnRecordCreation;
    const QString sid = RecordStoreTest::subscribe(*container->privateDatabase(), subscription).first->subscriptionID;
    center->registerForRemoteNotifications();
    ASSERT_TRUE(RecordStoreTest::waitUntil([&] { return !recorder->tokens.isEmpty(); }));
    Dispatch::waitUntilIdle(); // the catch-up after registering runs before the remote write, not after it

    auto remote = SLDatabase::databaseWithPath(backend.path);
    ASSERT_TRUE(remote->open());
    ASSERT_TRUE(remote->executeUpdate("INSERT INTO notifications (sub_id, zone, name, reason, origin, created)"
                                      " VALUES (?, '_defaultZone', 'far', 1, 'Z', ?)",
                                      sid, qlonglong(Clock::nowPrecise() * 1000)));
    remote->close();
    time.advance(1.9);
    EXPECT_TRUE(recorder->received.isEmpty());
    time.advance(0.1);
    ASSERT_EQ(recorder->received.size(), 1);
    EXPECT_EQ(Notification::fromRemoteNotificationDictionary(recorder->received[0]).recordID().recordName, "far");
}

} // namespace
