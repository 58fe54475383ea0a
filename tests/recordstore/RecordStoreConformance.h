#pragma once

// The behaviour every record store backend shares. A test program includes this
// after declaring `RecordStoreBackends`, a ::testing::Types<> of backends, each
// with:
//   static std::string name();
//   static constexpr int UnreachableCode;  // what openUnreachable() gives
//   void setUp();  // may skip the test when the backend is not at hand
//   BackendConfig config(const QString& clientID, std::shared_ptr<PushCenter> center);
//       (one fresh store per backend object, shared by every client of a test)
//   Error openUnreachable();   // the store cannot be reached at all
//   Error openDamaged();       // the store holds something that is no store
//   Error openNewerSchema();   // a newer program wrote the store
//   void backdatePushes(double seconds);  // ages every push kept in the store
//   void failWritesOf(const QString& name);  // the store fails on writing a new record of that name
//   void allowWrites();                       // ends failWritesOf

#include "Clock.h"
#include "Notification.h"
#include "RecordStoreClient.h"
#include "RecordStoreError.h"

using namespace RecordStoreTest;

struct RecordStoreBackendNames {
    template <typename Backend>
    static std::string GetName(int) { return Backend::name(); }
};

template <typename Backend>
class RecordStore : public ::testing::Test {
protected:
    void SetUp() override { backend.setUp(); }

    struct Client {
        QString clientID;
        std::shared_ptr<PushCenter> center = PushCenter::create();
        std::shared_ptr<PushRecorder> recorder = std::make_shared<PushRecorder>();
        std::shared_ptr<Container> container;
        Database& db() const { return *container->privateDatabase(); }
    };

    std::unique_ptr<Client> client(const QString& clientID)
    {
        auto made = std::make_unique<Client>();
        made->clientID = clientID;
        made->center->setDelegate(made->recorder);
        open(*made);
        return made;
    }

    void open(Client& client)
    {
        Error error;
        client.container = Container::open(QStringLiteral("net.brindlewick.notes"),
                                           backend.config(client.clientID, client.center), &error);
        ASSERT_TRUE(client.container) << qPrintable(error.localizedDescription());
    }

    void registerPush(Client& client)
    {
        const auto before = client.recorder->tokens.size();
        client.center->registerForRemoteNotifications();
        ASSERT_TRUE(waitUntil([&] { return client.recorder->tokens.size() > before; }));
        EXPECT_EQ(client.recorder->tokens.last(), client.clientID.toUtf8());
    }

    static Record note(const QString& name, const QDateTime& commitDate = {})
    {
        Record record(QStringLiteral("Notes"), RecordID {name});
        record.setValue(QStringLiteral("version"), int64_t(49));
        record.setValue(QStringLiteral("text"), QByteArray("body of ") + name.toUtf8());
        if (commitDate.isValid())
            record.setValue(QStringLiteral("commitDate"), commitDate);
        return record;
    }

    Record saved(Database& db, const Record& record)
    {
        const Fetched result = save(db, record);
        EXPECT_TRUE(result.error.isNull()) << qPrintable(result.error.localizedDescription());
        return result.record.value_or(Record());
    }

    static Subscription allNotes(int options)
    {
        Subscription subscription;
        subscription.recordType = QStringLiteral("Notes");
        subscription.options = options;
        subscription.notificationInfo.shouldSendContentAvailable = true;
        return subscription;
    }

    // Writes a marker record from the writer and waits until the reader's push
    // for it arrives: every push due to the reader before it has come by then.
    void syncPushes(Client& writer, Client& reader)
    {
        static int markers = 0;
        const QString name = QStringLiteral("marker-%1").arg(++markers);
        saved(writer.db(), note(name));
        ASSERT_TRUE(waitUntil([&] {
            return std::any_of(reader.recorder->received.begin(), reader.recorder->received.end(),
                               [&](const QVariantMap& push) {
                                   return Notification::fromRemoteNotificationDictionary(push).recordID().recordName
                                          == name;
                               });
        })) << "no push for " << qPrintable(name);
        reader.recorder->received.removeLast();
    }

    static QList<std::pair<QString, int>> pushes(const Client& client)
    {
        QList<std::pair<QString, int>> result;
        for (const QVariantMap& push : client.recorder->received) {
            const Notification notification = Notification::fromRemoteNotificationDictionary(push);
            EXPECT_EQ(notification.notificationType(), Notification::TypeQuery);
            result.append({notification.recordID().recordName, notification.queryNotificationReason()});
        }
        return result;
    }

    Backend backend;
};

TYPED_TEST_SUITE(RecordStore, RecordStoreBackends, RecordStoreBackendNames);

TYPED_TEST(RecordStore, FetchSaveAndChangeTags)
{
    auto a = this->client("A");
    Database& db = a->db();
    EXPECT_EQ(fetch(db, RecordID {"Inbox/none.md"}).error.code, RecordStoreError::UnknownItem);

    Record record = this->note("Inbox/a.md", QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC));
    record.setValue("size", 2.5);
    record.setValue("title", QStringLiteral("Grüße"));
    const Record first = this->saved(db, record);
    EXPECT_FALSE(first.recordChangeTag().isEmpty());
    EXPECT_EQ(first.creationDate(), first.modificationDate());

    const Fetched read = fetch(db, RecordID {"Inbox/a.md"});
    ASSERT_TRUE(read.record);
    EXPECT_EQ(read.record->fields(), record.fields());
    EXPECT_EQ(read.record->recordChangeTag(), first.recordChangeTag());
    EXPECT_EQ(read.record->integer("version"), 49);
    EXPECT_FALSE(read.record->string("version")) << "getters are typed";

    const Record second = this->saved(db, *read.record);
    EXPECT_NE(second.recordChangeTag(), first.recordChangeTag());
    EXPECT_EQ(second.creationDate(), first.creationDate());

    Record gone("Notes", RecordID {"Inbox/gone.md"});
    gone.setSystemFields(first.recordChangeTag(), {}, {});
    const struct {
        const char* what;
        Record record;
        int code;
    } cases[] = {
        {"stale copy", first, RecordStoreError::ServerRecordChanged},
        {"new record whose name exists", record, RecordStoreError::ServerRecordChanged},
        {"saved copy of a record that is gone", gone, RecordStoreError::UnknownItem},
    };
    for (const auto& c : cases)
        EXPECT_EQ(save(db, c.record).error.code, c.code) << c.what;
    EXPECT_EQ(fetch(db, RecordID {"Inbox/a.md"}).record->recordChangeTag(), second.recordChangeTag())
        << "a refused save changed the record";
}

TYPED_TEST(RecordStore, TwoClientsRaceOneWins)
{
    auto a = this->client("A");
    auto b = this->client("B");
    for (int round = 0; round < 2; ++round) {
        // Round 0: both create the same name; round 1: both update the same copy.
        Record base = this->note("Inbox/race.md");
        if (round == 1)
            base = *fetch(a->db(), base.recordID()).record;
        auto pa = std::make_shared<std::promise<std::tuple<std::optional<Record>, Error>>>();
        auto pb = std::make_shared<std::promise<std::tuple<std::optional<Record>, Error>>>();
        auto fa = pa->get_future();
        auto fb = pb->get_future();
        a->db().saveRecord(base, completing<std::optional<Record>, Error>(pa, a->db().queue()));
        b->db().saveRecord(base, completing<std::optional<Record>, Error>(pb, b->db().queue()));
        const Error ea = std::get<1>(await(fa));
        const Error eb = std::get<1>(await(fb));
        EXPECT_NE(ea.isNull(), eb.isNull()) << "round " << round;
        EXPECT_EQ((ea.isNull() ? eb : ea).code, RecordStoreError::ServerRecordChanged) << "round " << round;
    }
}

TYPED_TEST(RecordStore, QueryComparesTypedValuesAtEqualDates)
{
    auto a = this->client("A");
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    for (int i = -1; i <= 1; ++i)
        this->saved(a->db(), this->note(QStringLiteral("n%1").arg(i + 1), t.addSecs(i)));
    Record other("Other", RecordID {"o"});
    other.setValue("commitDate", t);
    this->saved(a->db(), other);
    Record wrongType = this->note("w");
    wrongType.setValue("commitDate", int64_t(t.toMSecsSinceEpoch()));
    this->saved(a->db(), wrongType);

    using C = Predicate::Comparison;
    const struct {
        Predicate predicate;
        QStringList expected;
    } cases[] = {
        {Predicate::where("commitDate", C::GreaterOrEqual, t), {"n1", "n2"}},
        {Predicate::where("commitDate", C::Less, t), {"n0"}},
        {Predicate::where("commitDate", C::LessOrEqual, t), {"n0", "n1"}},
        {Predicate::where("commitDate", C::Greater, t), {"n2"}},
        {Predicate::where("commitDate", C::Equal, t), {"n1"}},
        {Predicate::where("commitDate", C::NotEqual, t), {"n0", "n2"}},
        {Predicate::where("commitDate", C::GreaterOrEqual, t).andWhere("text", C::Equal, QByteArray("body of n2")),
         {"n2"}},
        {Predicate::where("version", C::Equal, 49.0), {}},
        {Predicate::alwaysTrue(), {"n0", "n1", "n2", "w"}},
    };
    for (const auto& c : cases) {
        const Page page = query(a->db(), {"Notes", c.predicate});
        EXPECT_TRUE(page.error.isNull());
        QStringList found = names(page.records);
        found.sort();
        EXPECT_EQ(found, c.expected) << c.predicate.toJson().constData();
        for (const Record& record : page.records)
            EXPECT_TRUE(c.predicate.matches(record)) << "matches() disagrees with the store";
    }

    // The system modification date: everything saved up to the query's server time.
    const Page all = query(a->db(), {"Notes", Predicate::alwaysTrue()});
    const Page upTo = query(a->db(), {"Notes", Predicate::where(Predicate::modificationDateKey(), C::LessOrEqual,
                                                                all.serverTime)});
    EXPECT_EQ(names(upTo.records), names(all.records));
    EXPECT_EQ(query(a->db(), {"Notes", Predicate::where(Predicate::modificationDateKey(), C::Greater,
                                                        all.serverTime)})
                  .records.size(),
              0);
    EXPECT_EQ(query(a->db(), {"Notes", Predicate::where("bad key", C::Equal, int64_t(1))}).error.code,
              RecordStoreError::InvalidArguments);
}

TYPED_TEST(RecordStore, DesiredKeysAndCursorPaging)
{
    auto a = this->client("A");
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    QList<Record> saves;
    for (int i = 0; i < 5; ++i)
        saves.append(this->note(QStringLiteral("p%1").arg(i), t));
    ASSERT_TRUE(modify(a->db(), saves, {}).error.isNull());

    const Query all {"Notes", Predicate::alwaysTrue()};
    const Page one = query(a->db(), all, QStringList {"version", "recordID"});
    ASSERT_EQ(one.records.size(), 5);
    for (const Record& record : one.records) {
        EXPECT_EQ(record.integer("version"), 49);
        EXPECT_FALSE(record.value("text"));
        EXPECT_FALSE(record.value("commitDate"));
        EXPECT_FALSE(record.recordChangeTag().isEmpty());
    }

    QStringList paged;
    QList<int> sizes;
    Page page = query(a->db(), all, QStringList {"commitDate"}, 2);
    for (;;) {
        ASSERT_TRUE(page.error.isNull());
        sizes.append(page.records.size());
        paged += names(page.records);
        for (const Record& record : page.records)
            EXPECT_EQ(record.date("commitDate"), t);
        if (!page.cursor)
            break;
        ASSERT_LT(sizes.size(), 5) << "paging does not end";
        page = query(a->db(), all, QStringList {"commitDate"}, 2, page.cursor);
    }
    EXPECT_EQ(sizes, (QList<int> {2, 2, 1}));
    EXPECT_EQ(paged, names(one.records)) << "pages skip or repeat records";
    EXPECT_FALSE(query(a->db(), all, std::nullopt, 5).cursor) << "a full last page needs no cursor";
}

TYPED_TEST(RecordStore, ModifyDeletesPresentAndMissing)
{
    auto a = this->client("A");
    const Record kept = this->saved(a->db(), this->note("keep"));
    this->saved(a->db(), this->note("drop"));

    const Modified done = modify(a->db(), {this->note("new")}, {RecordID {"drop"}, RecordID {"never"}});
    ASSERT_TRUE(done.error.isNull());
    EXPECT_EQ(done.saved.size(), 1);
    EXPECT_FALSE(done.saved.value(0).recordChangeTag().isEmpty());
    EXPECT_EQ(done.deleted.size(), 2);
    EXPECT_EQ(fetch(a->db(), RecordID {"drop"}).error.code, RecordStoreError::UnknownItem);
    EXPECT_TRUE(fetch(a->db(), RecordID {"new"}).record);

    // One stale save fails the whole modification: the delete does not happen either.
    Record stale = kept;
    this->saved(a->db(), kept);
    const Modified refused = modify(a->db(), {stale}, {RecordID {"new"}});
    EXPECT_EQ(refused.error.code, RecordStoreError::ServerRecordChanged);
    EXPECT_TRUE(fetch(a->db(), RecordID {"new"}).record);
}

TYPED_TEST(RecordStore, FetchingManyAnswersWhatExistsInOrderAndNamesTheMissing)
{
    auto a = this->client("A");
    const Record first = this->saved(a->db(), this->note("first"));
    const Record second = this->saved(a->db(), this->note("second"));
    QStringList absent; // more than one statement asks for on some backends
    for (int i = 0; i < 2500; ++i)
        absent << QStringLiteral("absent-%1").arg(i);
    const struct {
        const char* what;
        QStringList asked;
        QStringList found;
        QStringList missing; // empty: no error at all
    } cases[] = {
        {"none asked", {}, {}, {}},
        {"all there", {"second", "first"}, {"second", "first"}, {}},
        {"none there", {"x", "y"}, {}, {"x", "y"}},
        {"mixed, one asked twice", {"x", "first", "y", "second", "first"}, {"first", "second", "first"}, {"x", "y"}},
        {"thousands, found at both ends", QStringList{"second"} + absent + QStringList{"first"}, {"second", "first"},
         absent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QList<RecordID> ids;
        for (const QString& name : c.asked)
            ids.append(RecordID {name});
        const FetchedMany got = fetchAll(a->db(), ids);
        EXPECT_EQ(names(got.records), c.found);
        for (const Record& record : got.records) {
            const Record& stored = record.recordID().recordName == "first" ? first : second;
            EXPECT_EQ(record.recordChangeTag(), stored.recordChangeTag());
            EXPECT_EQ(record.fields(), stored.fields());
        }
        if (c.missing.isEmpty()) {
            EXPECT_TRUE(got.error.isNull()) << qPrintable(got.error.localizedDescription());
            continue;
        }
        EXPECT_EQ(got.error.code, RecordStoreError::PartialFailure);
        EXPECT_EQ(got.error.userInfo.value("missing").toStringList(), c.missing);
    }
}

TYPED_TEST(RecordStore, SavingManyChecksEachRecordAlone)
{
    auto a = this->client("A");
    auto b = this->client("B");
    subscribe(a->db(), this->allNotes(Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate));
    this->registerPush(*b);
    const Record current = this->saved(a->db(), this->note("current"));
    const Record stale = this->saved(a->db(), this->note("stale"));
    const Record moved = this->saved(a->db(), stale);
    const Record existing = this->saved(a->db(), this->note("existing"));
    Record gone("Notes", RecordID {"gone"});
    gone.setSystemFields(current.recordChangeTag(), {}, {});
    Record invalid = this->note("invalid");
    invalid.setValue("bad key", int64_t(1));
    this->syncPushes(*a, *b);
    b->recorder->received.clear(); // the setting up's own

    const struct {
        const char* what;
        Record record;
        int code;
        QString storedTag; // what the store holds afterwards when refused; empty: nothing
    } cases[] = {
        {"new record", this->note("fresh"), 0, {}},
        {"current copy", current, 0, {}},
        {"stale copy", stale, RecordStoreError::ServerRecordChanged, moved.recordChangeTag()},
        {"new record whose name exists", this->note("existing"), RecordStoreError::ServerRecordChanged,
         existing.recordChangeTag()},
        {"saved copy of a record that is gone", gone, RecordStoreError::UnknownItem, {}},
        {"invalid field key", invalid, RecordStoreError::InvalidArguments, {}},
        {"second copy of the one saved before it", current, RecordStoreError::ServerRecordChanged, {}},
        {"new record after the refusals", this->note("fresh2"), 0, {}},
    };
    QList<Record> records;
    for (const auto& c : cases)
        records.append(c.record);
    const QList<Database::SaveOutcome> outcomes = saveAll(a->db(), records);
    ASSERT_EQ(outcomes.size(), records.size());
    QList<std::pair<QString, int>> expectedPushes;
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        const auto& c = cases[i];
        const auto& outcome = outcomes[i];
        const Fetched stored = fetch(a->db(), c.record.recordID());
        if (c.code != 0) {
            EXPECT_EQ(outcome.error.code, c.code) << c.what;
            EXPECT_FALSE(outcome.record) << c.what;
            if (!c.storedTag.isEmpty()) {
                EXPECT_EQ(stored.record.value_or(Record()).recordChangeTag(), c.storedTag) << c.what;
            } else if (c.record.recordID().recordName != "current") {
                EXPECT_EQ(stored.error.code, RecordStoreError::UnknownItem) << c.what;
            }
            continue;
        }
        ASSERT_TRUE(outcome.error.isNull()) << c.what << ": " << qPrintable(outcome.error.localizedDescription());
        ASSERT_TRUE(outcome.record) << c.what;
        EXPECT_NE(outcome.record->recordChangeTag(), c.record.recordChangeTag()) << c.what;
        ASSERT_TRUE(stored.record) << c.what;
        EXPECT_EQ(stored.record->recordChangeTag(), outcome.record->recordChangeTag()) << c.what;
        EXPECT_EQ(stored.record->fields(), c.record.fields()) << c.what;
        expectedPushes.append({c.record.recordID().recordName,
                               c.record.recordChangeTag().isEmpty() ? Notification::RecordCreated
                                                                    : Notification::RecordUpdated});
    }
    EXPECT_EQ(outcomes[1].record.value_or(Record()).creationDate(), current.creationDate());
    this->syncPushes(*a, *b);
    EXPECT_EQ(this->pushes(*b), expectedPushes) << "a push for each saved record, none for a refused one";
}

TYPED_TEST(RecordStore, SavingManyFailingMidwaySavesNoneAndAnswersEach)
{
    auto a = this->client("A");
    const Record kept = this->saved(a->db(), this->note("kept"));
    Record stale = kept;
    stale.setSystemFields("0000000000000", kept.creationDate(), kept.modificationDate());
    const QList<Record> records {this->note("before"), kept, stale, this->note("poison"), this->note("after")};

    this->backend.failWritesOf("poison");
    const QList<Database::SaveOutcome> failed = saveAll(a->db(), records);
    ASSERT_EQ(failed.size(), records.size());
    const Error failure = failed[3].error;
    EXPECT_FALSE(failure.isNull());
    EXPECT_NE(failure.code, RecordStoreError::ServerRecordChanged);
    for (qsizetype i : {0, 1, 3, 4}) {
        EXPECT_EQ(failed[i].error.code, failure.code) << "record " << i;
        EXPECT_FALSE(failed[i].record) << "record " << i;
    }
    EXPECT_EQ(failed[2].error.code, RecordStoreError::ServerRecordChanged) << "a refusal keeps its own answer";
    for (const char* name : {"before", "poison", "after"})
        EXPECT_EQ(fetch(a->db(), RecordID {name}).error.code, RecordStoreError::UnknownItem) << name;
    EXPECT_EQ(fetch(a->db(), kept.recordID()).record.value_or(Record()).recordChangeTag(), kept.recordChangeTag());
    EXPECT_EQ(save(a->db(), this->note("poison")).error.code, failure.code) << "a single save answers the same";

    this->backend.allowWrites();
    const QList<Database::SaveOutcome> again = saveAll(a->db(), records);
    for (qsizetype i : {0, 1, 3, 4}) {
        EXPECT_TRUE(again.value(i).error.isNull()) << "record " << i;
        EXPECT_TRUE(fetch(a->db(), records[i].recordID()).record) << "record " << i;
    }
    EXPECT_TRUE(saveAll(a->db(), {}).isEmpty());
}

TYPED_TEST(RecordStore, BadInputIsRefusedAndNothingWritten)
{
    auto a = this->client("A");
    const auto named = [&](const QString& name) { return this->note(name); };
    const auto withField = [&](const QString& key, FieldValue value) {
        Record record = this->note("bad");
        record.setValue(key, std::move(value));
        return record;
    };
    const struct {
        const char* what;
        Record record;
        int code;
    } cases[] = {
        {"empty name", named(""), RecordStoreError::InvalidArguments},
        {"NUL in name", named(QString("a") + QChar(0) + "b"), RecordStoreError::InvalidArguments},
        {"256 UTF-8 bytes", named(QString(128, QChar(0xe9))), RecordStoreError::InvalidArguments},
        {"NaN", withField("size", std::nan("")), RecordStoreError::InvalidArguments},
        {"invalid date", withField("commitDate", QDateTime()), RecordStoreError::InvalidArguments},
        {"non-ASCII key", withField("tïtle", int64_t(1)), RecordStoreError::InvalidArguments},
        {"over 1 MiB", withField("text", QByteArray(Record::MaximumSize, 'x')), RecordStoreError::LimitExceeded},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(save(a->db(), c.record).error.code, c.code) << c.what;
        EXPECT_EQ(modify(a->db(), {this->note("side"), c.record}, {}).error.code, c.code) << c.what;
        EXPECT_EQ(fetch(a->db(), c.record.recordID().recordName.isEmpty() ? RecordID {"x"} : c.record.recordID())
                      .error.code,
                  RecordStoreError::UnknownItem)
            << c.what;
    }
    EXPECT_EQ(fetch(a->db(), RecordID {"side"}).error.code, RecordStoreError::UnknownItem);
    EXPECT_EQ(modify(a->db(), {}, {RecordID {"x", ""}}).error.code, RecordStoreError::InvalidArguments);
    EXPECT_TRUE(save(a->db(), named(QString(127, QChar(0xe9)) + "x")).error.isNull()) << "255 bytes is allowed";
}

TYPED_TEST(RecordStore, SubscriptionsCreateFetchReplaceDelete)
{
    auto a = this->client("A");
    Subscription wanted = this->allNotes(Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate);
    wanted.predicate = Predicate::where("version", Predicate::Comparison::GreaterOrEqual, int64_t(40));
    const auto [created, error] = subscribe(a->db(), wanted);
    ASSERT_TRUE(error.isNull());
    ASSERT_FALSE(created->subscriptionID.isEmpty());

    auto [list, listError] = subscriptions(a->db());
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].subscriptionID, created->subscriptionID);
    EXPECT_EQ(list[0].options, 3);
    EXPECT_TRUE(list[0].notificationInfo.shouldSendContentAvailable);
    EXPECT_TRUE(list[0].notificationInfo.alertBody.isEmpty());
    EXPECT_EQ(list[0].predicate.toJson(), wanted.predicate.toJson());

    Subscription replaced = *created;
    replaced.notificationInfo.alertBody = "NOTE_DID_COMMIT";
    ASSERT_TRUE(subscribe(a->db(), replaced).second.isNull());
    std::tie(list, listError) = subscriptions(a->db());
    ASSERT_EQ(list.size(), 1) << "saving an existing ID made a second subscription";
    EXPECT_EQ(list[0].notificationInfo.alertBody, "NOTE_DID_COMMIT");

    EXPECT_TRUE(unsubscribe(a->db(), created->subscriptionID).isNull());
    EXPECT_EQ(unsubscribe(a->db(), created->subscriptionID).code, RecordStoreError::UnknownItem);
    EXPECT_TRUE(subscriptions(a->db()).first.isEmpty());
    for (int options : {0, 8})
        EXPECT_EQ(subscribe(a->db(), this->allNotes(options)).second.code, RecordStoreError::InvalidArguments)
            << "options " << options;
}

TYPED_TEST(RecordStore, PushReachesOtherClientsOnly)
{
    auto a = this->client("A");
    auto b = this->client("B");
    Subscription subscription = this->allNotes(Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate);
    subscription.notificationInfo.alertBody = "NOTE_DID_COMMIT";
    const QString sid = subscribe(a->db(), subscription).first->subscriptionID;
    this->registerPush(*a);
    this->registerPush(*b);

    const Record first = this->saved(a->db(), this->note("Inbox/n.md"));
    ASSERT_TRUE(waitUntil([&] { return b->recorder->received.size() == 1; }));
    this->saved(a->db(), first);
    ASSERT_TRUE(waitUntil([&] { return b->recorder->received.size() == 2; }));
    ASSERT_TRUE(modify(a->db(), {}, {first.recordID()}).error.isNull()); // options 3: no push
    this->syncPushes(*a, *b);
    this->syncPushes(*b, *a);

    using Pushes = QList<std::pair<QString, int>>;
    EXPECT_EQ(this->pushes(*b), (Pushes {{"Inbox/n.md", Notification::RecordCreated},
                                         {"Inbox/n.md", Notification::RecordUpdated}}));
    EXPECT_TRUE(a->recorder->received.isEmpty()) << "a client heard its own change";
    const Notification n = Notification::fromRemoteNotificationDictionary(b->recorder->received.first());
    EXPECT_EQ(n.alertBody(), "NOTE_DID_COMMIT");
    EXPECT_TRUE(n.contentAvailable());
    EXPECT_EQ(n.subscriptionID(), sid);
    EXPECT_EQ(n.recordID(), first.recordID());
}

TYPED_TEST(RecordStore, PushFollowsSubscriptionOptions)
{
    const struct {
        int options;
        QList<int> reasons;
    } cases[] = {
        {Subscription::FiresOnRecordDeletion, {Notification::RecordDeleted}},
        {Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordDeletion,
         {Notification::RecordCreated, Notification::RecordDeleted}},
        {Subscription::FiresOnRecordUpdate, {Notification::RecordUpdated}},
    };
    auto a = this->client("A");
    auto b = this->client("B");
    this->registerPush(*a);
    this->registerPush(*b);
    // The markers come from a subscription of their own.
    Subscription markers = this->allNotes(Subscription::FiresOnRecordCreation);
    markers.predicate = Predicate::where("version", Predicate::Comparison::Equal, int64_t(49));
    subscribe(a->db(), markers);
    for (const auto& c : cases) {
        Subscription only = this->allNotes(c.options);
        only.predicate = Predicate::where("version", Predicate::Comparison::Equal, int64_t(1));
        const QString sid = subscribe(a->db(), only).first->subscriptionID;
        Record record("Notes", RecordID {"x"});
        record.setValue("version", int64_t(1));
        this->saved(a->db(), this->saved(a->db(), record));
        modify(a->db(), {}, {RecordID {"x"}});
        this->syncPushes(*a, *b);
        QList<int> reasons;
        for (const auto& [name, reason] : this->pushes(*b))
            reasons.append(reason);
        EXPECT_EQ(reasons, c.reasons) << "options " << c.options;
        b->recorder->received.clear();
        unsubscribe(a->db(), sid);
    }
}

TYPED_TEST(RecordStore, PushSkipsUnregisteredAndCatchesUpAfterStopWithinAWeek)
{
    auto a = this->client("A");
    auto b = this->client("B");
    subscribe(a->db(), this->allNotes(Subscription::FiresOnRecordCreation));
    this->registerPush(*b);

    b->center->unregisterForRemoteNotifications();
    Dispatch::waitUntilIdle();
    this->saved(a->db(), this->note("while-unregistered"));
    this->registerPush(*b);
    this->syncPushes(*a, *b);
    EXPECT_TRUE(b->recorder->received.isEmpty()) << "an unregistered client collected pushes";

    b->container.reset(); // stopped, still registered
    Dispatch::waitUntilIdle();
    this->saved(a->db(), this->note("pruned"));
    this->backend.backdatePushes(7 * 86400 + 1); // pushes older than a week are dropped
    this->saved(a->db(), this->note("while-stopped"));
    this->open(*b);
    ASSERT_TRUE(waitUntil([&] { return !b->recorder->received.isEmpty(); }));
    this->syncPushes(*a, *b);
    using Pushes = QList<std::pair<QString, int>>;
    EXPECT_EQ(this->pushes(*b), (Pushes {{"while-stopped", Notification::RecordCreated}}));
}

TYPED_TEST(RecordStore, OpenErrorsMapToStoreCodes)
{
    const struct {
        const char* what;
        Error (TypeParam::*open)();
        int code;
    } cases[] = {
        {"unreachable", &TypeParam::openUnreachable, TypeParam::UnreachableCode},
        {"damaged", &TypeParam::openDamaged, RecordStoreError::BadDatabase},
        {"newer schema", &TypeParam::openNewerSchema, RecordStoreError::IncompatibleVersion},
    };
    for (const auto& c : cases) {
        const Error error = (this->backend.*c.open)();
        EXPECT_EQ(error.domain, RecordStoreError::Domain) << c.what;
        EXPECT_EQ(error.code, c.code) << c.what;
        EXPECT_FALSE(error.localizedDescription().isEmpty()) << c.what;
    }
}
