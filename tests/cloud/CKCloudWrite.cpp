#include "CloudTestSupport.h"

#include "FaultInjector.h"

#include <QFile>
#include <QRandomGenerator>

#include <mutex>

namespace {

const QString Key = QStringLiteral("Plan.txt");
const QString Name = QStringLiteral("Inbox/Plan.txt");

std::optional<FileTime> linkDate(int service, const QString& key = Key, int storage = NoteStorageInbox)
{
    return LinkFiles::modificationDate(key, service, storage);
}

FileTime seconds(int64_t s)
{
    return FileTime::fromWholeSeconds(s);
}

std::optional<QString> textOf(const Record& record)
{
    return NoteRecord::stringFromData(record.data(NoteRecord::TextKey).value_or(QByteArray()),
                                      record.integer(NoteRecord::VersionKey).value_or(0));
}

// A record as another computer writes it.
Record liveRecord(const QString& name, const QString& text, int64_t commitDate)
{
    Record record(NoteRecord::RecordType, RecordID{name});
    NoteRecord::setLive(record, NoteRecord::dataFromString(text), seconds(commitDate));
    return record;
}

} // namespace

class CKCloudWrite : public CloudTest {
protected:
    // The cloud under test, on the test's store, with a fault injector in front.
    std::unique_ptr<StoreCKCloud> makeCloud(std::shared_ptr<FaultInjector>* injector = nullptr,
                                            const QString& client = QStringLiteral("client-a"))
    {
        StoreCKCloud::Configuration configuration = storeConfiguration(client);
        configuration.wrapDatabase = [injector](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
            auto wrapped = std::make_shared<FaultInjector>(std::move(db));
            if (injector)
                *injector = wrapped;
            return wrapped;
        };
        auto made = std::make_unique<StoreCKCloud>(std::move(configuration));
        // Opens the store now, so a test can reach the injector before its first write.
        answer([&](auto done) { made->notifyDeleteNote(note(QStringLiteral("Opening.txt"), QString(), 0), {0, 0}, done); });
        return made;
    }

    void SetUp() override
    {
        CloudTest::SetUp();
        cloud = makeCloud(&faults);
        forgetLog();
    }

    bool save(const NotePtr& n) { return answer([&](auto done) { cloud->saveNote(n, done); }); }

    std::unique_ptr<StoreCKCloud> cloud;
    std::shared_ptr<FaultInjector> faults;
};

TEST_F(CKCloudWrite, ASaveWritesTheLiveRecordAndStampsItsLinkOnlyOnSuccess)
{
    ASSERT_TRUE(save(note(Key, QStringLiteral("Plan\nfirst"), CloudNow - 10)));
    auto record = store->fetch(Name);
    ASSERT_TRUE(record);
    EXPECT_EQ(textOf(*record), QStringLiteral("Plan\nfirst"));
    EXPECT_EQ(record->integer(NoteRecord::StateKey), NoteRecord::StateLive);
    EXPECT_EQ(record->integer(NoteRecord::FileSizeKey), record->data(NoteRecord::TextKey)->size());
    EXPECT_EQ(NoteRecord::commitDate(*record), seconds(CloudNow - 10));
    EXPECT_EQ(record->date(NoteRecord::CreatedDateKey), seconds(CloudNow - 110).toDateTime());
    EXPECT_EQ(linkDate(NoteServiceCloudKit), seconds(CloudNow - 10));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:save ok Inbox/Plan.txt")));

    // The same date again: refused, and no link is written.
    QFile::remove(Note::linkFileForKey(Key, NoteServiceCloudKit, NoteStorageInbox));
    EXPECT_FALSE(save(note(Key, QStringLiteral("Plan\nsecond"), CloudNow - 10)));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:save resist save Inbox/Plan.txt (ckcloud)")));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));

    // A failed save leaves the link as it was.
    LinkFiles(LinkFiles::Owner::CKCloud).write(Key, NoteServiceCloudKit, NoteStorageInbox, seconds(CloudNow - 10));
    faults->failNext(FaultInjector::Operation::SaveRecord, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(save(note(Key, QStringLiteral("Plan\nthird"), CloudNow)));
    EXPECT_EQ(linkDate(NoteServiceCloudKit), seconds(CloudNow - 10));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:save save error")).size(), 1);
    EXPECT_EQ(textOf(*store->fetch(Name)), QStringLiteral("Plan\nfirst"));

    faults->failNext(FaultInjector::Operation::FetchRecord, 1, RecordStoreError::NetworkUnavailable);
    EXPECT_FALSE(save(note(Key, QStringLiteral("Plan\nthird"), CloudNow)));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:save fetch error")).size(), 1);
}

TEST_F(CKCloudWrite, SavesThatCannotBeMadeAreRefusedBeforeTheStore)
{
    const struct {
        const char* name;
        NotePtr note;
        QString message;
    } cases[] = {
        {"placeholder name", note(QStringLiteral("Untitled Note 20240315-A.txt"), QStringLiteral("x"), CloudNow),
         QStringLiteral("ckcloud:save ignore unreadable file name Untitled Note 20240315-A.txt")},
        {"no key", note(QString(), QStringLiteral("x"), CloudNow), QStringLiteral("ckcloud:save ignore unreadable file name ")},
        {"hidden key", note(QStringLiteral(".Plan.txt"), QStringLiteral("x"), CloudNow),
         QStringLiteral("ckcloud:save ignore unreadable file name .Plan.txt")},
        {"empty text", note(Key, QString(), CloudNow), QStringLiteral("ckcloud:save error data.length <= 0")},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(save(c.note)) << c.name;
        EXPECT_TRUE(cloudLines().contains(c.message)) << c.name;
    }
    EXPECT_FALSE(store->fetch(Name));
}

TEST_F(CKCloudWrite, ASaveOverAnOlderTombstoneRevivesItKeepingItsCreationDate)
{
    Clock::setWallClock([] { return CloudNow - 50.5; });
    ASSERT_TRUE(answer([&](auto done) { cloud->deleteNote(note(Key, QString(), 0), done); }));
    Clock::setWallClock([] { return double(CloudNow); });
    const QDateTime created = *store->fetch(Name)->date(NoteRecord::CreatedDateKey);

    ASSERT_TRUE(save(note(Key, QStringLiteral("back"), CloudNow - 5)));
    const auto record = store->fetch(Name);
    EXPECT_EQ(record->integer(NoteRecord::StateKey), NoteRecord::StateLive);
    EXPECT_EQ(textOf(*record), QStringLiteral("back"));
    EXPECT_EQ(record->date(NoteRecord::CreatedDateKey), created);
    EXPECT_EQ(created, QDateTime::fromMSecsSinceEpoch((CloudNow - 50) * 1000 - 500, Qt::UTC));
}

TEST_F(CKCloudWrite, OfTwoStoresRacingToCreateARecordOneGetsChangedUnderIt)
{
    std::shared_ptr<FaultInjector> otherFaults;
    auto other = makeCloud(&otherFaults, QStringLiteral("client-b"));
    faults->hold(FaultInjector::Operation::FetchRecord);
    otherFaults->hold(FaultInjector::Operation::FetchRecord);

    std::mutex mutex;
    std::map<QString, bool> outcomes;
    auto promise = std::make_shared<std::promise<void>>();
    const auto done = [&, promise](const QString& who) {
        return [&, promise, who](bool ok) {
            std::lock_guard lock(mutex);
            outcomes[who] = ok;
            if (outcomes.size() == 2)
                promise->set_value();
        };
    };
    cloud->saveNote(note(Key, QStringLiteral("from a"), CloudNow), done(QStringLiteral("a")));
    other->saveNote(note(Key, QStringLiteral("from b"), CloudNow), done(QStringLiteral("b")));
    Dispatch::waitUntilIdle();
    ASSERT_EQ(faults->heldCount(FaultInjector::Operation::FetchRecord), 1);
    ASSERT_EQ(otherFaults->heldCount(FaultInjector::Operation::FetchRecord), 1);
    faults->release(FaultInjector::Operation::FetchRecord);
    otherFaults->release(FaultInjector::Operation::FetchRecord);
    ASSERT_EQ(promise->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    ASSERT_NE(outcomes[QStringLiteral("a")], outcomes[QStringLiteral("b")]);
    const QString winner = outcomes[QStringLiteral("a")] ? QStringLiteral("from a") : QStringLiteral("from b");
    EXPECT_EQ(textOf(*store->fetch(Name)), winner);
    const QStringList errors = cloudLines().filter(QStringLiteral("ckcloud:save save error"));
    EXPECT_EQ(errors.size(), 1);
}

TEST_F(CKCloudWrite, ASaveResistsALiveChangeThisComputerNeverTookIn)
{
    const int64_t theirs = CloudNow - 30;
    struct Link {
        int service;
        int64_t date;
    };
    const struct {
        const char* name;
        QString theirText;
        std::optional<Link> link;
        bool saved;
    } cases[] = {
        {"unseen", QStringLiteral("their text"), std::nullopt, false},
        {"same text", QStringLiteral("my text"), std::nullopt, true},
        {"taken in from the store", QStringLiteral("their text"), Link{NoteServiceCloudKit, theirs}, true},
        {"taken in from the drive later", QStringLiteral("their text"), Link{NoteServiceCloud, theirs + 1}, true},
        {"deleted here since", QStringLiteral("their text"), Link{NoteServiceTrash, theirs}, true},
        {"a link from before", QStringLiteral("their text"), Link{NoteServiceCloudKit, theirs - 1}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString key = QStringLiteral("Plan %1.txt").arg(++n);
        const QString name = NoteRecord::recordName(NoteStorageInbox, key);
        ASSERT_TRUE(store->save(liveRecord(name, c.theirText, theirs)));
        if (c.link)
            LinkFiles(LinkFiles::Owner::CKCloud).write(key, c.link->service, NoteStorageInbox, seconds(c.link->date));
        EXPECT_EQ(save(note(key, QStringLiteral("my text"), CloudNow)), c.saved) << c.name;
        EXPECT_EQ(textOf(*store->fetch(name)), c.saved ? QStringLiteral("my text") : c.theirText) << c.name;
        EXPECT_EQ(cloudLines().contains(QStringLiteral("ckcloud:save resist save Inbox/%1 (unseen)").arg(key)), !c.saved)
            << c.name;
    }
}

TEST_F(CKCloudWrite, AMoveTombstonesTheOldRecordAndWritesTheNewOne)
{
    ASSERT_TRUE(save(note(Key, QStringLiteral("Plan"), CloudNow - 10)));
    const auto to = note(QStringLiteral("Plan 2.txt"), QStringLiteral("Plan moved"), CloudNow - 5, NoteStorageArchive);
    ASSERT_TRUE(answer([&](auto done) { cloud->moveNote(note(Key, QString(), 0), to, done); }));

    const auto old = store->fetch(Name);
    EXPECT_EQ(old->integer(NoteRecord::StateKey), NoteRecord::StateDeleted);
    EXPECT_EQ(old->integer(NoteRecord::FileSizeKey), 0);
    EXPECT_EQ(NoteRecord::commitDate(*old), seconds(CloudNow));
    const auto moved = store->fetch(QStringLiteral("Archive/Plan 2.txt"));
    EXPECT_EQ(textOf(*moved), QStringLiteral("Plan moved"));
    EXPECT_EQ(moved->date(NoteRecord::CreatedDateKey), seconds(CloudNow - 105).toDateTime());
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    EXPECT_EQ(linkDate(NoteServiceTrash), seconds(CloudNow));
    EXPECT_EQ(linkDate(NoteServiceCloudKit, QStringLiteral("Plan 2.txt"), NoteStorageArchive), seconds(CloudNow - 5));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:move ok Inbox/Plan.txt -> Archive/Plan 2.txt")));

    // An empty text still moves, as a live record no reader takes in.
    ASSERT_TRUE(answer([&](auto done) {
        cloud->moveNote(to, note(QStringLiteral("Empty.txt"), QString(), CloudNow), done);
    }));
    EXPECT_EQ(store->fetch(QStringLiteral("Inbox/Empty.txt"))->integer(NoteRecord::FileSizeKey), 0);
    EXPECT_EQ(NoteRecord::change(*store->fetch(QStringLiteral("Inbox/Empty.txt"))), NoteRecord::Change::RefusedEmpty);
}

TEST_F(CKCloudWrite, AFailedMoveStopsWhereItFailedAndStampsNothingAfter)
{
    const auto from = note(Key, QString(), 0);
    const auto to = note(QStringLiteral("Plan 2.txt"), QStringLiteral("moved"), CloudNow, NoteStorageArchive);
    LinkFiles(LinkFiles::Owner::CKCloud).write(Key, NoteServiceCloudKit, NoteStorageInbox, seconds(CloudNow - 9));

    // The old record's tombstone fails: nothing else happens.
    faults->failNext(FaultInjector::Operation::SaveRecord, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(answer([&](auto done) { cloud->moveNote(from, to, done); }));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:move oldNote delete error: ")).size(), 1);
    EXPECT_FALSE(store->fetch(QStringLiteral("Archive/Plan 2.txt")));
    EXPECT_EQ(linkDate(NoteServiceCloudKit), seconds(CloudNow - 9));
    EXPECT_FALSE(linkDate(NoteServiceTrash));

    // The new record's save fails (too large for the store): the old note is
    // gone, the new one gets no link.
    QString large;
    QRandomGenerator generator(3);
    for (int i = 0; i < 700000; ++i)
        large.append(QChar(char16_t(0x4E00 + generator.bounded(0x5000))));
    to->setText(large);
    EXPECT_FALSE(answer([&](auto done) { cloud->moveNote(from, to, done); }));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:move newNote save error ")).size(), 1);
    EXPECT_EQ(store->fetch(Name)->integer(NoteRecord::StateKey), NoteRecord::StateDeleted);
    EXPECT_FALSE(store->fetch(QStringLiteral("Archive/Plan 2.txt")));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    EXPECT_EQ(linkDate(NoteServiceTrash), seconds(CloudNow));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit, QStringLiteral("Plan 2.txt"), NoteStorageArchive));

    EXPECT_FALSE(answer([&](auto done) {
        cloud->moveNote(from, note(QStringLiteral("Untitled Note 2.txt"), QStringLiteral("x"), CloudNow), done);
    }));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:move ignore unreadable file name Untitled Note 2.txt")));
}

TEST_F(CKCloudWrite, ADeleteLeavesATombstoneDatedByTheRequest)
{
    LinkFiles(LinkFiles::Owner::CKCloud).write(Key, NoteServiceCloudKit, NoteStorageInbox, seconds(CloudNow - 9));
    Clock::setWallClock([] { return CloudNow + 0.25; });
    ASSERT_TRUE(answer([&](auto done) { cloud->deleteNote(note(Key, QStringLiteral("gone"), CloudNow - 9), done); }));
    const auto record = store->fetch(Name);
    const QDateTime requested = QDateTime::fromMSecsSinceEpoch(CloudNow * 1000 + 250, Qt::UTC);
    EXPECT_EQ(record->integer(NoteRecord::StateKey), NoteRecord::StateDeleted);
    EXPECT_EQ(record->date(NoteRecord::CommitDateKey), requested);
    EXPECT_EQ(record->date(NoteRecord::CreatedDateKey), requested);
    EXPECT_EQ(record->data(NoteRecord::TextKey), QByteArray());
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    EXPECT_EQ(linkDate(NoteServiceTrash), (FileTime{CloudNow, 250000000}));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:delete ok: Inbox/Plan.txt")));

    // A delete the store refuses still marks the note deleted here.
    QFile::remove(Note::linkFileForKey(Key, NoteServiceTrash, NoteStorageInbox));
    faults->failNext(FaultInjector::Operation::SaveRecord, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(answer([&](auto done) { cloud->deleteNote(note(Key, QString(), 0), done); }));
    EXPECT_TRUE(linkDate(NoteServiceTrash));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:delete error: ")).size(), 1);
}

TEST_F(CKCloudWrite, NotifyDeleteTombstonesARecordNoNewerThanTheDate)
{
    ASSERT_TRUE(store->save(liveRecord(Name, QStringLiteral("text"), CloudNow - 10)));
    const auto gone = note(Key, QString(), 0);
    const auto notify = [&](const FileTime& date) {
        return answer([&](auto done) { cloud->notifyDeleteNote(gone, date, done); });
    };
    EXPECT_FALSE(notify({CloudNow - 11, 999000000}));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:notifyDelete resist update Inbox/Plan.txt")));
    EXPECT_EQ(store->fetch(Name)->integer(NoteRecord::StateKey), NoteRecord::StateLive);

    EXPECT_TRUE(notify(seconds(CloudNow - 10)));
    const auto record = store->fetch(Name);
    EXPECT_EQ(record->integer(NoteRecord::StateKey), NoteRecord::StateDeleted);
    EXPECT_EQ(NoteRecord::commitDate(*record), seconds(CloudNow - 10));
    EXPECT_FALSE(record->date(NoteRecord::CreatedDateKey));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:notifyDelete ok: Inbox/Plan.txt")));
    EXPECT_FALSE(linkDate(NoteServiceTrash));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));

    const auto missing = note(QStringLiteral("Missing.txt"), QString(), 0);
    EXPECT_FALSE(answer([&](auto done) { cloud->notifyDeleteNote(missing, seconds(CloudNow), done); }));
    EXPECT_TRUE(cloudLines().contains(QStringLiteral("ckcloud:notifyDelete not existed")));
    EXPECT_FALSE(store->fetch(QStringLiteral("Inbox/Missing.txt")));
}

TEST_F(CKCloudWrite, WithTheCloudOffEveryWriteAnswersNoAndOnlyTheSaveSaysSo)
{
    Core::shared().setEnabledAppleCloud(false);
    const auto n = note(Key, QStringLiteral("text"), CloudNow);
    bool called = false;
    EXPECT_FALSE(answer([&](auto done) { cloud->saveNote(n, done); }));
    EXPECT_FALSE(answer([&](auto done) { cloud->moveNote(n, n, done); }));
    EXPECT_FALSE(answer([&](auto done) { cloud->deleteNote(n, done); }));
    EXPECT_FALSE(answer([&](auto done) { cloud->notifyDeleteNote(n, seconds(CloudNow), done); }));
    cloud->saveNote(n, nullptr);
    cloud->wait([&] { called = true; });
    Dispatch::waitUntilIdle();
    EXPECT_TRUE(called);
    EXPECT_EQ(cloudLines(), QStringList(2, QStringLiteral("ckcloud:save error cloudkit disabled")));
    EXPECT_FALSE(store->fetch(Name));
}

TEST_F(CKCloudWrite, WaitRunsOnTheFileQueueAfterWorkQueuedBeforeIt)
{
    const DispatchQueuePtr fileQueue = Core::shared().fileQueue();
    std::mutex mutex;
    QStringList order;
    const auto mark = [&](const QString& what) {
        std::lock_guard lock(mutex);
        order.append(what);
    };
    fileQueue->async([&] { mark(QStringLiteral("file")); });
    // Work of the cloud's queue that itself queues file work comes first too.
    cloud->queue()->async([&] { fileQueue->async([&] { mark(QStringLiteral("file from cloud")); }); });
    auto promise = std::make_shared<std::promise<void>>();
    cloud->wait([&, promise] {
        EXPECT_TRUE(fileQueue->isCurrent());
        mark(QStringLiteral("wait"));
        promise->set_value();
    });
    ASSERT_EQ(promise->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(order, (QStringList{QStringLiteral("file"), QStringLiteral("file from cloud"), QStringLiteral("wait")}));
}

TEST_F(CKCloudWrite, AnotherStoreFirstDropsTheRecordLinksAndFetchState)
{
    const QString account = QString::fromLatin1(StoreCKCloud::StoreAccountKey);
    const auto prepare = [&] {
        LinkFiles(LinkFiles::Owner::CKCloud).write(Key, NoteServiceCloudKit, NoteStorageArchive, seconds(CloudNow));
        LinkFiles(LinkFiles::Owner::CKCloud).write(Key, NoteServiceCloud, NoteStorageInbox, seconds(CloudNow));
        defaults().setDouble(1700000000.5, QStringLiteral("ckfetch"));
        defaults().setBool(true, QStringLiteral("subscribed"));
    };
    // The same store: nothing is dropped.
    prepare();
    makeCloud();
    EXPECT_TRUE(linkDate(NoteServiceCloudKit, Key, NoteStorageArchive));
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("subscribed")));

    defaults().setString(QStringLiteral("another store"), account);
    makeCloud();
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForService(NoteServiceCloudKit)));
    EXPECT_TRUE(linkDate(NoteServiceCloud));
    EXPECT_FALSE(defaults().objectForKey(QStringLiteral("ckfetch")).isValid());
    EXPECT_FALSE(defaults().objectForKey(QStringLiteral("subscribed")).isValid());
    EXPECT_EQ(defaults().stringForKey(account), store->containerID());
}
