#include "Container.h"
#include "Notification.h"
#include "Predicate.h"
#include "PushCenter.h"
#include "RecordStoreError.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QUuid>

#include <cmath>

namespace {

using C = Predicate::Comparison;

TEST(RecordStorePredicate, JsonKeepsEveryTypeAndComparison)
{
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);
    const Predicate predicate = Predicate::where("n", C::NotEqual, int64_t(-9'007'199'254'740'993))
                                    .andWhere("r", C::Less, 0.1)
                                    .andWhere("d", C::GreaterOrEqual, QByteArray("\0\xff", 2))
                                    .andWhere("s", C::Greater, QStringLiteral("Grüße"))
                                    .andWhere("t", C::LessOrEqual, date);
    const auto back = Predicate::fromJson(predicate.toJson());
    ASSERT_TRUE(back);
    ASSERT_EQ(back->conditions().size(), predicate.conditions().size());
    for (int i = 0; i < predicate.conditions().size(); ++i) {
        EXPECT_EQ(back->conditions()[i].key, predicate.conditions()[i].key);
        EXPECT_EQ(back->conditions()[i].comparison, predicate.conditions()[i].comparison);
        EXPECT_EQ(back->conditions()[i].value, predicate.conditions()[i].value) << i;
    }
    for (const char* bad : {"", "{}", R"([{"key":"a","op":9,"type":"int","value":"1"}])",
                            R"([{"key":"a","op":0,"type":"money","value":"1"}])",
                            R"([{"key":"a","op":0,"type":"int","value":"x"}])"})
        EXPECT_FALSE(Predicate::fromJson(bad)) << bad;
}

TEST(RecordStorePredicate, MatchesOrderStringsByBytesAndNeedsTheField)
{
    Record record("Notes", RecordID {"r"});
    record.setValue("s", QString::fromUtf16(u"\U0001F600")); // a surrogate pair sorts above U+FFFD in UTF-8
    record.setValue("n", int64_t(5));
    EXPECT_TRUE(Predicate::where("s", C::Greater, QString(QChar(0xfffd))).matches(record));
    EXPECT_FALSE(Predicate::where("missing", C::NotEqual, int64_t(5)).matches(record));
    EXPECT_FALSE(Predicate::where("n", C::Equal, 5.0).matches(record)) << "values compare within one type";
    EXPECT_TRUE(Predicate::alwaysTrue().matches(record));
    EXPECT_EQ(Predicate::where(Predicate::modificationDateKey(), C::Less, int64_t(1)).validate()->code,
              RecordStoreError::InvalidArguments);
    EXPECT_EQ(Predicate::where("r", C::Less, std::nan("")).validate()->code, RecordStoreError::InvalidArguments);
}

TEST(RecordStoreNotification, ReadsPushDictionaries)
{
    const RecordID id {"Inbox/a.md", "zone"};
    const QVariantMap made =
        Notification::remoteNotificationDictionary("S1", id, Notification::RecordUpdated, {true, "NOTE_DID_COMMIT"});
    const Notification n = Notification::fromRemoteNotificationDictionary(made);
    EXPECT_EQ(n.notificationType(), Notification::TypeQuery);
    EXPECT_EQ(n.recordID(), id);
    EXPECT_EQ(n.queryNotificationReason(), Notification::RecordUpdated);
    EXPECT_EQ(n.subscriptionID(), "S1");
    EXPECT_EQ(n.alertBody(), "NOTE_DID_COMMIT");
    EXPECT_TRUE(n.contentAvailable());

    const QVariantMap silent = Notification::remoteNotificationDictionary("S", RecordID {"b"}, Notification::RecordCreated, {});
    EXPECT_FALSE(silent.value("aps").toMap().contains("alert"));
    EXPECT_FALSE(silent.value("aps").toMap().contains("content-available"));
    EXPECT_EQ(Notification::fromRemoteNotificationDictionary(silent).recordID().zoneName, RecordID::defaultZoneName());

    const QVariantMap foreign {{"aps", QVariantMap {{"alert", "hello"}}}, {"ck", QVariantMap {{"fet", 1}}}};
    const Notification other = Notification::fromRemoteNotificationDictionary(foreign);
    EXPECT_EQ(other.notificationType(), Notification::TypeUnknown);
    EXPECT_EQ(other.alertBody(), "hello");
    EXPECT_EQ(Notification::fromRemoteNotificationDictionary({}).notificationType(), Notification::TypeUnknown);
}

TEST(RecordStoreContainer, DefaultLocationIdentityAndUnsafeIdentifiers)
{
    Error error;
    const auto first = Container::open("net.brindlewick.default", {}, &error);
    ASSERT_TRUE(first) << qPrintable(error.localizedDescription());
    const auto second = Container::open("net.brindlewick.default", {{}, {}, PushCenter::create(), {}});
    ASSERT_TRUE(second);
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/brindlewick/cloud/net.brindlewick.default.sqlite"));
    EXPECT_EQ(first->clientID(), second->clientID()) << "one installation, one client";
    EXPECT_EQ(first->containerID(), second->containerID()) << "the container ID lives in the store";
    EXPECT_EQ(QUuid::fromString(first->containerID()).isNull(), false);

    for (const char* bad : {"", "../escape", ".hidden", "a/b", "with space"}) {
        Error refused;
        EXPECT_FALSE(Container::open(bad, {}, &refused)) << bad;
        EXPECT_EQ(refused.code, RecordStoreError::BadContainer) << bad;
    }
}

} // namespace
