#include "Clock.h"
#include "Container.h"
#include "Notification.h"
#include "PostgresBackend.h"
#include "PostgresListener.h"
#include "PostgresTestServer.h"
#include "RecordStoreClient.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

// Real server failures, not the fault injector.
namespace {

using namespace RecordStoreTest;

class RecordStorePostgres : public ::testing::Test {
protected:
    void SetUp() override { backend.setUp(); }

    // A client with a name of its own, so its connections can be found on the shared server.
    std::shared_ptr<Container> open(const QString& name, std::shared_ptr<PushCenter> center = PushCenter::create(),
                                     const QString& settings = {}, const QString& keywords = {}, Error* error = nullptr)
    {
        const QString clientID = name + QLatin1Char('-') + backend.schema;
        return Container::open("net.brindlewick.notes",
                               {{}, clientID, std::move(center),
                                PostgresTest::dsnFor(backend.schema, settings, keywords)},
                               error);
    }

    static Record note(const QString& name)
    {
        Record record("Notes", RecordID {name});
        record.setValue("version", int64_t(49));
        return record;
    }

    PostgresTestBackend backend;
};

TEST_F(RecordStorePostgres, ListenerReconnectsAfterItsBackendIsKilledAndCatchesUp)
{
    TestSupport::VirtualTime time;
    const auto a = open("A");
    const auto center = PushCenter::create();
    const auto recorder = std::make_shared<PushRecorder>();
    center->setDelegate(recorder);
    const auto b = open("B", center);
    ASSERT_TRUE(a && b);
    Subscription subscription;
    subscription.recordType = "Notes";
    subscription.options = Subscription::FiresOnRecordCreation;
    ASSERT_TRUE(subscribe(*a->privateDatabase(), subscription).second.isNull());
    center->registerForRemoteNotifications();
    ASSERT_TRUE(waitUntil([&] { return !recorder->tokens.isEmpty(); }));

    // Not a sequence number: logged and ignored, the listener carries on.
    PostgresTest::admin("SELECT pg_notify($1, 'garbage')", {PostgresBackend::channel(backend.schema)});
    ASSERT_TRUE(save(*a->privateDatabase(), note("before")).error.isNull());
    ASSERT_TRUE(waitUntil([&] { return recorder->received.size() == 1; }));

    ASSERT_EQ(PostgresTest::terminate("brindlewick push " + b->clientID()), 1);
    ASSERT_TRUE(save(*a->privateDatabase(), note("while-away")).error.isNull());
    // The first retry is due a second after the loss, on the dispatch clock.
    ASSERT_TRUE(waitUntil([&] {
        time.advance(PostgresListener::FirstRetry);
        return recorder->received.size() == 2;
    }));
    EXPECT_EQ(Notification::fromRemoteNotificationDictionary(recorder->received[1]).recordID().recordName,
              "while-away");
    ASSERT_TRUE(save(*a->privateDatabase(), note("after")).error.isNull());
    ASSERT_TRUE(waitUntil([&] { return recorder->received.size() == 3; })) << "the new LISTEN hears nothing";
}

TEST_F(RecordStorePostgres, LostConnectionFailsTheOperationInFlightAndTheNextReconnects)
{
    const auto a = open("A");
    ASSERT_TRUE(a);
    Database& db = *a->privateDatabase();
    ASSERT_TRUE(save(db, note("kept")).error.isNull());
    ASSERT_EQ(PostgresTest::terminate("brindlewick " + a->clientID()), 1);
    EXPECT_EQ(fetch(db, RecordID {"kept"}).error.code, RecordStoreError::NetworkFailure);
    EXPECT_TRUE(fetch(db, RecordID {"kept"}).record);
}

TEST_F(RecordStorePostgres, ServerFailuresMapToStoreCodes)
{
    const QString role = backend.schema + "_reader";
    PostgresTest::admin(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
    PostgresTest::admin(QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(backend.schema, role));
    const auto dropRole = qScopeGuard([&] {
        PostgresTest::admin(QStringLiteral("DROP OWNED BY ") + role);
        PostgresTest::admin(QStringLiteral("DROP ROLE ") + role);
    });
    ASSERT_TRUE(open("owner"));

    const struct {
        const char* what;
        QString settings;
        QString keywords;
        int code; // on opening, or on a fetch while another session locks the records
    } cases[] = {
        {"a role without privileges", {}, "user=" + role, RecordStoreError::PermissionFailure},
        {"statement_timeout", "-c statement_timeout=100", {}, RecordStoreError::OperationCancelled},
        {"lock_timeout", "-c lock_timeout=100", {}, RecordStoreError::ZoneBusy},
        {"a password in the string", {}, "password=secret", RecordStoreError::InvalidArguments},
        {"a malformed string", {}, "host='unterminated", RecordStoreError::InvalidArguments},
    };
    for (const auto& c : cases) {
        Error error;
        const auto container = open("C", PushCenter::create(), c.settings, c.keywords, &error);
        if (container) {
            PostgresTest::admin("BEGIN");
            PostgresTest::admin(QStringLiteral("LOCK TABLE %1.records").arg(backend.schema));
            error = fetch(*container->privateDatabase(), RecordID {"x"}).error;
            PostgresTest::admin("ROLLBACK");
        }
        EXPECT_EQ(error.code, c.code) << c.what << ": " << qPrintable(error.localizedDescription());
        EXPECT_FALSE(error.localizedDescription().isEmpty()) << c.what;
    }
}

TEST_F(RecordStorePostgres, ConnectionStringComesFromTheDefaults)
{
    const auto owner = open("A");
    ASSERT_TRUE(owner);
    UserDefaults::standard().setString(PostgresTest::dsnFor(backend.schema), Container::StoreConnectionKey);
    const auto restore = qScopeGuard([] { UserDefaults::standard().removeObject(Container::StoreConnectionKey); });
    const auto configured = Container::open("net.brindlewick.notes", {{}, "D", PushCenter::create(), {}});
    ASSERT_TRUE(configured);
    EXPECT_EQ(configured->containerID(), owner->containerID()) << "the defaults' store was not used";
}

// Machines whose clocks differ date their saves alike: by the server's clock.
TEST_F(RecordStorePostgres, DatesComeFromTheServerClock)
{
    const auto a = open("A");
    ASSERT_TRUE(a);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    Clock::setWallClock([] { return QDateTime::currentMSecsSinceEpoch() / 1000.0 + 86400; });
    const auto restore = qScopeGuard([] { Clock::setWallClock({}); });
    const Fetched saved = save(*a->privateDatabase(), note("n"));
    ASSERT_TRUE(saved.record);
    const QDateTime after = QDateTime::currentDateTimeUtc();
    EXPECT_GE(saved.record->modificationDate(), before.addMSecs(-1));
    EXPECT_LE(saved.record->modificationDate(), after);
    EXPECT_LE(a->privateDatabase()->serverTime(), after.addSecs(1));
}

} // namespace
