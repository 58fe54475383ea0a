#include "CKCloudTestSupport.h"

#include "Notification.h"
#include "PushCenter.h"

namespace {

const QString SubscribedKey = QStringLiteral("subscribed");

QVariantMap push(const QString& recordName, const QVariantMap& aps)
{
    return {{"ck", QVariantMap{{"qry", QVariantMap{{"rid", recordName}, {"zid", RecordID::defaultZoneName()}}}}},
            {"aps", aps}};
}

// Hands the process's pushes to the cloud, as the application does.
class Forwarder : public PushCenterDelegate {
public:
    explicit Forwarder(CKCloud* cloud) : cloud_(cloud) {}
    void didReceive(const QVariantMap& dictionary) override { cloud_->handleRemoteNotification(dictionary); }

private:
    CKCloud* cloud_;
};

} // namespace

class CKCloudPush : public CKCloudTest {
protected:
    int subscriptionCount() const
    {
        return awaitValue<int>([&](auto done) {
            store->db_->privateDatabase()->fetchAllSubscriptions(
                [done](QList<Subscription> found, Error) { done(int(found.size())); });
        });
    }
    Error subscribe()
    {
        return awaitValue<Error>([&](auto done) { cloud->subscribeUsingBlock(done); });
    }
    Error unsubscribe()
    {
        return awaitValue<Error>([&](auto done) { cloud->unsubscribeUsingBlock(done); });
    }
};

TEST_F(CKCloudPush, OneSubscriptionServesEveryCallAndUnsubscribingWaitsForEachDeletion)
{
    // A failed save reaches the block and marks nothing; a failed look-up counts as none found.
    faults->failNext(Op::SaveSubscription, 1, RecordStoreError::QuotaExceeded);
    EXPECT_EQ(subscribe().code, RecordStoreError::QuotaExceeded);
    EXPECT_FALSE(defaults().objectForKey(SubscribedKey).isValid());
    faults->failNext(Op::FetchAllSubscriptions, 1, RecordStoreError::NetworkFailure);
    EXPECT_TRUE(subscribe().isNull());
    EXPECT_TRUE(subscribe().isNull());
    EXPECT_EQ(subscriptionCount(), 1);
    EXPECT_TRUE(defaults().boolForKey(SubscribedKey));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:subscribe existed (1)")));

    // A second one made elsewhere: one deletion fails, and the caller hears of it.
    Subscription extra;
    extra.recordType = NoteRecord::RecordType;
    awaitValue<bool>([&](auto done) {
        store->db_->privateDatabase()->saveSubscription(extra, [done](auto, Error) { done(true); });
    });
    faults->hold(Op::DeleteSubscription);
    faults->failNext(Op::DeleteSubscription, 1, RecordStoreError::NetworkFailure);
    std::promise<Error> answered;
    cloud->unsubscribeUsingBlock([&](const Error& error) { answered.set_value(error); });
    auto future = answered.get_future();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    faults->release(Op::DeleteSubscription);
    EXPECT_EQ(future.get().code, RecordStoreError::NetworkFailure);
    EXPECT_TRUE(defaults().boolForKey(SubscribedKey));
    EXPECT_EQ(subscriptionCount(), 1);

    EXPECT_TRUE(unsubscribe().isNull());
    EXPECT_EQ(subscriptionCount(), 0);
    EXPECT_FALSE(defaults().objectForKey(SubscribedKey).isValid());
}

TEST_F(CKCloudPush, OnlyAQueryPushWithoutAnotherAlertStartsAReload)
{
    saveAt(liveRecord("Inbox/Plan.txt", "Plan", CloudNow - 10), CloudNow - 10);
    const QVariantMap silent{{"content-available", 1}};
    const struct {
        const char* label;
        QVariantMap push;
        bool handled;
    } cases[] = {
        {"other alert", push("Inbox/Plan.txt", {{"alert", "Hello"}}), false},
        {"zone push", {{"ck", QVariantMap{{"fet", QVariantMap{{"zid", "_defaultZone"}}}}}, {"aps", silent}}, false},
        {"no ck", {{"aps", silent}}, false},
        {"ck not a map", {{"ck", "qry"}, {"aps", silent}}, false},
        {"rid not text", {{"ck", QVariantMap{{"qry", QVariantMap{{"rid", 5}}}}}}, false},
        {"alert not text", push("Inbox/Plan.txt", {{"alert", QVariantList{1}}}), false},
        {"commit alert", push("Inbox/Plan.txt", {{"alert", "NOTE_DID_COMMIT"}}), true},
        {"silent", push("Inbox/Plan.txt", silent), true},
        {"empty", push("Inbox/Plan.txt", {}), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cloud->handleRemoteNotification(c.push), c.handled) << c.label;
    Dispatch::waitUntilIdle();
    EXPECT_EQ(localText(QStringLiteral("Plan.txt")), QStringLiteral("Plan"));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("malformed")).size(), 4);
    EXPECT_EQ(cloudLines().filter(QStringLiteral("update ok")).size(), 1); // the rest were resisted

    awaitValue<bool>([&](auto done) { // a record gone meanwhile still ends the reload
        cloud->_reloadNoteWithRecordID(RecordID{QStringLiteral("Inbox/None.txt")}, [done] { done(true); });
    });
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:reload error")).size(), 1);

    Core::shared().setEnabledAppleCloud(false);
    EXPECT_FALSE(cloud->handleRemoteNotification(push("Inbox/Plan.txt", silent)));
}

TEST_F(CKCloudPush, AnotherClientsSaveArrivesHereThroughThePush)
{
    auto forwarder = std::make_shared<Forwarder>(cloud.get());
    PushCenter::shared()->setDelegate(forwarder);
    ASSERT_TRUE(subscribe().isNull());
    CKCloud::registerUserNotification();
    Dispatch::waitUntilIdle();
    saveAt(liveRecord("Inbox/Plan.txt", "written elsewhere", CloudNow - 5), CloudNow - 5);
    const bool arrived = DispatchQueue::runMainUntil(
        [] { return localText(QStringLiteral("Plan.txt")) == QStringLiteral("written elsewhere"); }, 10);
    CKCloud::unregisterUserNotification();
    PushCenter::shared()->setDelegate({});
    EXPECT_TRUE(arrived);
}

TEST_F(CKCloudPush, StoreErrorCodesHaveTheirTextsAndOthersTheirDescription)
{
    EXPECT_EQ(CKCloud::localizedErrorString(RecordStoreError::make(1, "described")), "Internal Error");
    EXPECT_EQ(CKCloud::localizedErrorString(RecordStoreError::make(28, "described")), "User Deleted Zone");
    for (const Error& error : {RecordStoreError::make(0, "zero"), RecordStoreError::make(29, "beyond"),
                               Error::make("OtherDomain", 3, "foreign")})
        EXPECT_EQ(CKCloud::localizedErrorString(error), error.localizedDescription());
}
