#include "CKCloudTestSupport.h"

#include "Cloud/NoteHistory.h"

#include <QRandomGenerator>

namespace {

const QString Key = QStringLiteral("Plan.txt");
const QString Name = QStringLiteral("Inbox/Plan.txt");

} // namespace

class CKCloudWrite : public CKCloudTest {
protected:
    template <typename Start>
    static bool write(Start start)
    {
        return awaitValue<bool>(start);
    }
    bool save(const NotePtr& n) { return write([&](auto done) { cloud->saveNote(n, done); }); }
};

TEST_F(CKCloudWrite, ASaveWritesTheRecordAndStampsItsLinkOnlyOnSuccess)
{
    ASSERT_TRUE(save(note(Key, QStringLiteral("first"), CloudNow - 10)));
    auto record = store->fetch(Name);
    EXPECT_EQ(textOf(record), QStringLiteral("first"));
    EXPECT_EQ(record->integer(NoteRecord::FileSizeKey), record->data(NoteRecord::TextKey)->size());
    EXPECT_EQ(record->date(NoteRecord::CreatedDateKey), cloudSeconds(CloudNow - 110).toDateTime());
    EXPECT_EQ(linkDate(NoteServiceCloudKit), cloudSeconds(CloudNow - 10));

    // The same update again is refused and stamps nothing; a failed save leaves the link as it was.
    QFile::remove(Note::linkFileForKey(Key, NoteServiceCloudKit, NoteStorageInbox));
    EXPECT_FALSE(save(note(Key, QStringLiteral("second"), CloudNow - 10)));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 10));
    faults->failNext(Op::SaveRecord, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(save(note(Key, QStringLiteral("third"), CloudNow)));
    EXPECT_EQ(linkDate(NoteServiceCloudKit), cloudSeconds(CloudNow - 10));
    EXPECT_EQ(textOf(store->fetch(Name)), QStringLiteral("first"));
    EXPECT_EQ(cloudLines(), (QStringList{QStringLiteral("ckcloud:save ok Inbox/Plan.txt"),
                                         QStringLiteral("ckcloud:save resist save Inbox/Plan.txt (ckcloud)"),
                                         QStringLiteral("ckcloud:save save error injected failure")}));

    // Refused by date, but the record holds this very text: it is exchanged, linked at the record's date.
    QFile::remove(Note::linkFileForKey(Key, NoteServiceCloudKit, NoteStorageInbox));
    EXPECT_FALSE(save(note(Key, QStringLiteral("first"), CloudNow - 20)));
    EXPECT_EQ(linkDate(NoteServiceCloudKit), cloudSeconds(CloudNow - 10));
    EXPECT_EQ(textOf(store->fetch(Name)), QStringLiteral("first"));
}

TEST_F(CKCloudWrite, OfTwoStoresRacingToCreateARecordOneIsRefused)
{
    std::shared_ptr<FaultInjector> otherFaults;
    auto other = openCloud(otherFaults, QStringLiteral("b"));
    faults->hold(Op::FetchRecord); // both fetch before either saves
    otherFaults->hold(Op::FetchRecord);
    std::atomic<int> saved = 0;
    cloud->saveNote(note(Key, QStringLiteral("from a"), CloudNow), [&](bool ok) { saved += ok; });
    other->saveNote(note(Key, QStringLiteral("from b"), CloudNow), [&](bool ok) { saved += ok; });
    Dispatch::waitUntilIdle();
    faults->release(Op::FetchRecord);
    otherFaults->release(Op::FetchRecord);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(cloudLines().filter(QStringLiteral("ckcloud:save save error")).size(), 1);
}

TEST_F(CKCloudWrite, ASaveResistsALiveChangeThisComputerNeverTookIn)
{
    const int64_t theirs = CloudNow - 30;
    const struct {
        QString theirText;
        bool heldHere; // the note's history holds their text
        bool saved;
    } cases[] = {
        {QStringLiteral("theirs"), false, false},
        {QStringLiteral("mine"), false, true},
        {QStringLiteral("theirs"), true, true},
    };
    for (const auto& c : cases) {
        const QString key = QStringLiteral("Plan %1.txt").arg(&c - cases);
        const QString name = NoteRecord::recordName(NoteStorageInbox, key);
        ASSERT_TRUE(store->save(liveRecord(name, c.theirText, theirs)));
        if (c.heldHere) {
            NoteHistory history;
            history.add(NoteHistory::hashOf(c.theirText));
            history.save(key, NoteStorageInbox);
        }
        EXPECT_EQ(save(note(key, QStringLiteral("mine"), CloudNow)), c.saved) << key.toStdString();
        EXPECT_EQ(textOf(store->fetch(name)), c.saved ? QStringLiteral("mine") : c.theirText);
        EXPECT_EQ(cloudLines().contains(QStringLiteral("ckcloud:save resist save %1 (unseen)").arg(name)), !c.saved);
        if (c.saved) { // the record tells the next reader which texts it was written over
            EXPECT_TRUE(store->fetch(name)->string(NoteRecord::HistoryKey)->contains(NoteHistory::hashOf("mine")));
        }
    }
}

TEST_F(CKCloudWrite, AMoveTombstonesTheOldRecordAndStampsEachStepOnlyOnItsSuccess)
{
    ASSERT_TRUE(save(note(Key, QStringLiteral("Plan"), CloudNow - 10)));
    const auto from = note(Key, QString(), 0);
    const auto to = note(QStringLiteral("Plan 2.txt"), QString(), CloudNow - 5, NoteStorageArchive);
    const auto move = [&] { return write([&](auto done) { cloud->moveNote(from, to, done); }); };
    faults->failNext(Op::SaveRecord, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(move());
    EXPECT_EQ(stateOf(store->fetch(Name)), NoteRecord::StateLive);
    EXPECT_EQ(linkDate(NoteServiceCloudKit), cloudSeconds(CloudNow - 10));
    EXPECT_FALSE(linkDate(NoteServiceTrash));

    // The new record is too large for the store: the old one is gone, the new one unstamped.
    QString large;
    QRandomGenerator generator(3);
    for (int i = 0; i < 700000; ++i)
        large.append(QChar(char16_t(0x4E00 + generator.bounded(0x5000))));
    to->setText(large);
    EXPECT_FALSE(move());
    EXPECT_EQ(stateOf(store->fetch(Name)), NoteRecord::StateDeleted);
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    EXPECT_EQ(linkDate(NoteServiceTrash), cloudSeconds(CloudNow));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit, to->key(), NoteStorageArchive));

    // An empty text moves as a live record that no reader takes in.
    to->setText(QString());
    ASSERT_TRUE(move());
    const auto moved = store->fetch(QStringLiteral("Archive/Plan 2.txt"));
    EXPECT_EQ(NoteRecord::change(*moved), NoteRecord::Change::RefusedEmpty);
    EXPECT_EQ(moved->date(NoteRecord::CreatedDateKey), cloudSeconds(CloudNow - 105).toDateTime());
    EXPECT_EQ(linkDate(NoteServiceCloudKit, to->key(), NoteStorageArchive), cloudSeconds(CloudNow - 5));
}

TEST_F(CKCloudWrite, ADeleteOfAMissingRecordLeavesATombstoneThatASaveRevives)
{
    RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 90));
    Clock::setWallClock([] { return CloudNow - 50.75; });
    ASSERT_TRUE(write([&](auto done) { cloud->deleteNote(note(Key, QString(), 0), done); }));
    const QDateTime requested = QDateTime::fromMSecsSinceEpoch((CloudNow - 51) * 1000 + 250, Qt::UTC);
    EXPECT_EQ(stateOf(store->fetch(Name)), NoteRecord::StateDeleted);
    EXPECT_EQ(store->fetch(Name)->date(NoteRecord::CommitDateKey), requested);
    EXPECT_FALSE(linkDate(NoteServiceCloudKit));
    EXPECT_EQ(linkDate(NoteServiceTrash), (FileTime{CloudNow - 51, 250000000}));

    ASSERT_TRUE(save(note(Key, QStringLiteral("back"), CloudNow - 5)));
    EXPECT_EQ(textOf(store->fetch(Name)), QStringLiteral("back"));
    EXPECT_EQ(store->fetch(Name)->date(NoteRecord::CreatedDateKey), requested);
}

TEST_F(CKCloudWrite, NotifyDeleteTombstonesARecordNoNewerThanTheDate)
{
    ASSERT_TRUE(store->save(liveRecord(Name, QStringLiteral("text"), CloudNow - 10)));
    const auto notify = [&](const QString& key, const FileTime& date) {
        return write([&](auto done) { cloud->notifyDeleteNote(note(key, QString(), 0), date, done); });
    };
    EXPECT_FALSE(notify(Key, {CloudNow - 11, 999000000}));
    EXPECT_TRUE(notify(Key, cloudSeconds(CloudNow - 10)));
    EXPECT_EQ(stateOf(store->fetch(Name)), NoteRecord::StateDeleted);
    EXPECT_FALSE(linkDate(NoteServiceTrash));
    EXPECT_FALSE(notify(QStringLiteral("Missing.txt"), cloudSeconds(CloudNow)));
    EXPECT_FALSE(store->fetch(QStringLiteral("Inbox/Missing.txt")));
    EXPECT_EQ(cloudLines(), (QStringList{QStringLiteral("ckcloud:notifyDelete resist update Inbox/Plan.txt"),
                                         QStringLiteral("ckcloud:notifyDelete ok: Inbox/Plan.txt"),
                                         QStringLiteral("ckcloud:notifyDelete not existed")}));
}

TEST_F(CKCloudWrite, WithTheCloudOffEveryWriteAnswersNoAndOnlyTheSaveSaysSo)
{
    Core::shared().setEnabledAppleCloud(false);
    const auto n = note(Key, QStringLiteral("text"), CloudNow);
    EXPECT_FALSE(write([&](auto done) { cloud->saveNote(n, done); }));
    EXPECT_FALSE(write([&](auto done) { cloud->moveNote(n, n, done); }));
    EXPECT_FALSE(write([&](auto done) { cloud->deleteNote(n, done); }));
    EXPECT_FALSE(write([&](auto done) { cloud->notifyDeleteNote(n, cloudSeconds(CloudNow), done); }));
    EXPECT_EQ(cloudLines(), QStringList{QStringLiteral("ckcloud:save error cloudkit disabled")});
}

TEST_F(CKCloudWrite, WaitRunsOnTheFileQueueAfterWorkQueuedAndWritesStartedBeforeIt)
{
    std::atomic<int> answered = 0;
    std::atomic<int> answeredBeforeWait = -1;
    faults->hold(Op::FetchRecord); // every write asks for the record first
    cloud->saveNote(note(Key, QStringLiteral("text"), CloudNow), [&](bool) { ++answered; });
    cloud->deleteNote(note(QStringLiteral("Other.txt"), QString(), CloudNow), [&](bool) { ++answered; });
    cloud->wait([&] { answeredBeforeWait = answered.load(); });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(faults->heldCount(Op::FetchRecord), 2);
    EXPECT_EQ(answeredBeforeWait, -1);
    faults->release(Op::FetchRecord);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return answeredBeforeWait >= 0; }, 10));
    EXPECT_EQ(answeredBeforeWait, 2);

    const DispatchQueuePtr fileQueue = Core::shared().fileQueue();
    QStringList order; // touched on the file queue only
    fileQueue->async([&] { order << QStringLiteral("file"); });
    cloud->queue()->async([&] { fileQueue->async([&] { order << QStringLiteral("file from cloud"); }); });
    EXPECT_TRUE(awaitValue<bool>([&](auto done) { cloud->wait([&, done] { done(fileQueue->isCurrent()); }); }));
    EXPECT_EQ(order, (QStringList{QStringLiteral("file"), QStringLiteral("file from cloud")}));
}

TEST_F(CKCloudWrite, AnotherStoreFirstDropsTheRecordLinksAndFetchState)
{
    RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageArchive, cloudSeconds(CloudNow));
    RecordLinks.write(Key, NoteServiceCloud, NoteStorageInbox, cloudSeconds(CloudNow));
    defaults().setDouble(1700000000.5, QStringLiteral("ckfetch"));
    defaults().setBool(true, QStringLiteral("subscribed"));
    std::shared_ptr<FaultInjector> unused;
    openCloud(unused, QStringLiteral("b")); // the same store
    EXPECT_TRUE(linkDate(NoteServiceCloudKit, Key, NoteStorageArchive));

    const QString account = QString::fromLatin1(StoreCKCloud::StoreAccountKey);
    defaults().setString(QStringLiteral("another store"), account);
    openCloud(unused, QStringLiteral("b"));
    EXPECT_FALSE(linkDate(NoteServiceCloudKit, Key, NoteStorageArchive));
    EXPECT_TRUE(linkDate(NoteServiceCloud));
    EXPECT_FALSE(defaults().objectForKey(QStringLiteral("ckfetch")).isValid());
    EXPECT_FALSE(defaults().objectForKey(QStringLiteral("subscribed")).isValid());
    EXPECT_EQ(defaults().stringForKey(account), store->db_->containerID());
}

TEST_F(CKCloudWrite, TheFirstSaveOnAnotherStoreKeepsItsLink)
{
    defaults().setString(QStringLiteral("another store"), QString::fromLatin1(StoreCKCloud::StoreAccountKey));
    StoreCKCloud fresh(storeConfiguration(storePath, QStringLiteral("b")));
    // Its first write opens the store, which drops the old store's links before this save's is written.
    ASSERT_TRUE(awaitValue<bool>([&](auto done) { fresh.saveNote(note(Key, QStringLiteral("first"), CloudNow), done); }));
    EXPECT_EQ(linkDate(NoteServiceCloudKit), cloudSeconds(CloudNow));
    Dispatch::waitUntilIdle();
}

// A text taken in between a note's local save and its record's save (kept
// as a fork by the conflict rule) is not written over by that save; a text
// made over the record's goes out whatever the record's date.
TEST_F(CKCloudWrite, ASaveSendsOnlyTheTextTheNoteHoldsAndGoesOverATextItWasMadeOver)
{
    const struct {
        QString local;    // the note's file, none when empty
        int64_t recorded; // the record's date, holding "before"
        bool saved;
    } cases[] = {
        {QStringLiteral("taken meanwhile"), CloudNow - 30, false},
        {QStringLiteral("mine"), CloudNow - 30, true},
        {QStringLiteral("mine"), CloudNow + 30, true},
        {QString(), CloudNow + 30, false},
    };
    for (const auto& c : cases) {
        const QString key = QStringLiteral("Held %1.txt").arg(&c - cases);
        const QString name = NoteRecord::recordName(NoteStorageInbox, key);
        ASSERT_TRUE(store->save(liveRecord(name, QStringLiteral("before"), c.recorded)));
        NoteHistory history;
        history.add(NoteHistory::hashOf(QStringLiteral("before")));
        history.save(key, NoteStorageInbox);
        if (!c.local.isEmpty()) {
            auto held = note(key, c.local, CloudNow);
            ASSERT_TRUE(awaitValue<bool>([&](auto done) { held->_commitAndCloseLocalNote(done); }));
        }
        EXPECT_EQ(save(note(key, QStringLiteral("mine"), CloudNow)), c.saved) << key.toStdString();
        EXPECT_EQ(textOf(store->fetch(name)), c.saved ? QStringLiteral("mine") : QStringLiteral("before"));
    }
    EXPECT_EQ(cloudLines().filter(QStringLiteral("(written over here)")).size(), 1);
}

// A note deleted while its first record waits on a store that does not answer
// (a hung network): when the store answers, the deletion is what stays, in
// whichever order the two writes reach it.
TEST_F(CKCloudWrite, ANoteDeletedWhileItsRecordWaitsOnTheStoreStaysDeleted)
{
    for (const Op held : {Op::FetchRecord, Op::SaveRecord}) {
        const QString key = QStringLiteral("Delete me %1.txt").arg(int(held));
        const QString name = QStringLiteral("Inbox/") + key;
        const NotePtr n = note(key, QStringLiteral("Delete me\nsome text"), CloudNow);
        faults->hold(held);
        std::atomic<int> answered = 0;
        cloud->saveNote(n, [&](bool) { ++answered; });
        Dispatch::waitUntilIdle();
        cloud->deleteNote(note(key, QString(), CloudNow), [&](bool) { ++answered; });
        Dispatch::waitUntilIdle();
        faults->release(held);
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return answered == 2; }, 10)) << int(held);
        EXPECT_EQ(stateOf(store->fetch(name)), NoteRecord::StateDeleted) << int(held);
        EXPECT_TRUE(linkDate(NoteServiceTrash, key)) << int(held);
    }
}
