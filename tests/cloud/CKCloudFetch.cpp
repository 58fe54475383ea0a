#include "CKCloudTestSupport.h"

#include "Cloud/NoteHistory.h"

#include <chrono>
#include <thread>

namespace {

const QString FetchKey = QStringLiteral("ckfetch");
const QString SkipKey = QStringLiteral("ckskip");
constexpr int64_t Week = 604800;

QString name(const QString& key)
{
    return QStringLiteral("Inbox/") + key;
}

// The records the lines say were saved: one by one, or a batch's count and names.
QStringList savedNames(const QStringList& lines)
{
    static const QRegularExpression batch(QStringLiteral("^ckcloud:save ok (\\d+) in a batch: (.+)$"));
    static const QRegularExpression single(QStringLiteral("^ckcloud:save ok (.+)$"));
    QStringList names;
    for (const QString& line : lines) {
        if (const auto m = batch.match(line); m.hasMatch()) {
            const QStringList listed = m.captured(2).split(QStringLiteral(", "));
            EXPECT_EQ(listed.size(), m.captured(1).toInt()) << qPrintable(line);
            names += listed;
        } else if (const auto one = single.match(line); one.hasMatch()) {
            names << one.captured(1);
        }
    }
    return names;
}

} // namespace

class CKCloudFetch : public CKCloudTest {
protected:
    void SetUp() override
    {
        CKCloudTest::SetUp();
        defaults().removeObject(FetchKey);
        defaults().removeObject(SkipKey);
    }
    // The keys of the ckcloud lines that applied something, in order.
    QStringList applied() const
    {
        QStringList keys;
        for (const QString& line : cloudLines().filter(QRegularExpression(QStringLiteral("reload (update|purge) ok"))))
            keys << line.section(QLatin1Char('/'), -1);
        return keys;
    }
    int64_t pruneOnce()
    {
        return awaitValue<int64_t>([&](auto done) {
            cloud->optimizeStorage(
                [done](int64_t deleted, const Error& error) { done(error.isNull() ? deleted : -1); });
        });
    }

    // Notes changed here and never sent, then a fetch whose send pass is
    // stopped at its first batch's save; the notes' keys.
    QStringList sendPassHeldAtItsFirstBatch(int batchSize, int notes, const QString& prefix)
    {
        makeCloud([&](StoreCKCloud::Configuration& configuration) { configuration.sendBatchSize = batchSize; });
        QStringList keys;
        for (int i = 0; i < notes; ++i) {
            keys << prefix + QStringLiteral(" %1.txt").arg(i);
            auto n = CloudTest::note(keys.last(), QStringLiteral("text of ") + keys.last(), CloudNow - 10);
            EXPECT_TRUE(awaitValue<bool>([&](auto done) { n->_commitAndCloseLocalNote(done); }));
        }
        faults->hold(Op::SaveRecords);
        EXPECT_TRUE(awaitValue<bool>([&](auto done) { cloud->fetchStorage(done); }));
        for (int tries = 0; faults->heldCount(Op::SaveRecords) == 0 && tries < 1000; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(faults->heldCount(Op::SaveRecords), 1);
        return keys;
    }
};

TEST_F(CKCloudFetch, TheWindowOpensAWeekBackThenJustBeforeTheLastFetchStarted)
{
    saveAt(liveRecord(name("AtStart.txt"), "at start", CloudNow - 1), CloudNow - Week);
    saveAt(liveRecord(name("Before.txt"), "before", CloudNow - 1), CloudNow - Week - 0.001);
    ASSERT_TRUE(fetch());
    EXPECT_EQ(applied(), QStringList{"AtStart.txt"});
    EXPECT_EQ(defaults().doubleForKey(FetchKey), double(CloudNow));

    // Saved late or offline: the store's time counts, not the commit date.
    saveAt(liveRecord(name("Late.txt"), "late", CloudNow - 86400), CloudNow - 300);
    saveAt(liveRecord(name("Older.txt"), "older", CloudNow), CloudNow - 300.001);
    Clock::setWallClock([] { return CloudNow + 1000.5; });
    forgetLog();
    ASSERT_TRUE(fetch());
    EXPECT_EQ(applied(), QStringList{"Late.txt"});
    EXPECT_EQ(localText(QStringLiteral("Late.txt")), QStringLiteral("late"));
    EXPECT_EQ(defaults().doubleForKey(FetchKey), CloudNow + 1000.5);
}

TEST_F(CKCloudFetch, EveryPageIsAppliedLiveFirstEachListFromItsLast)
{
    makeCloud([](StoreCKCloud::Configuration& configuration) { configuration.fetchPageSize = 2; });
    forgetLog();
    const QStringList order = {"L1.txt", "T1.txt", "L2.txt", "L3.txt", "T2.txt", "L4.txt"};
    for (const QString& key : order) {
        Record record = key.startsWith(QLatin1Char('L')) ? liveRecord(name(key), key, CloudNow - 50)
                                                         : tombstoneRecord(name(key), CloudNow - 50);
        NoteRecord::setCreatedDate(record, cloudSeconds(CloudNow - 9000));
        saveAt(record, CloudNow - 100 + (&key - order.data()));
    }
    ASSERT_TRUE(fetch());
    EXPECT_EQ(applied(), (QStringList{"L4.txt", "L3.txt", "L2.txt", "L1.txt", "T2.txt", "T1.txt"}));
    Note restored(QStringLiteral("L2.txt"), NoteStorageInbox);
    restored.restoreMeta();
    EXPECT_EQ(restored.createdOn(), CloudNow - 9000);
}

TEST_F(CKCloudFetch, AnyFailureKeepsTheWindowAndOnlyAFailedQueryAnswersNo)
{
    saveAt(liveRecord(name("Live.txt"), "live", CloudNow - 50), CloudNow - 50);
    saveAt(tombstoneRecord(name("Gone.txt"), CloudNow - 50), CloudNow - 50);
    defaults().setDouble(CloudNow - 200, FetchKey);

    faults->failNext(Op::Query, 1, RecordStoreError::NetworkFailure);
    EXPECT_FALSE(fetch());
    EXPECT_EQ(applied(), QStringList());

    faults->failNext(Op::FetchRecords, 1, RecordStoreError::NetworkFailure);
    EXPECT_TRUE(fetch());
    EXPECT_EQ(applied(), QStringList{"Gone.txt"});
    EXPECT_FALSE(localText(QStringLiteral("Live.txt")));
    EXPECT_EQ(defaults().doubleForKey(FetchKey), double(CloudNow - 200));

    forgetLog();
    EXPECT_TRUE(fetch());
    EXPECT_EQ(applied(), QStringList{"Live.txt"}); // Gone.txt's Trash link holds its commit now
    EXPECT_EQ(defaults().doubleForKey(FetchKey), double(CloudNow));
}

TEST_F(CKCloudFetch, ARecordWhoseFullFetchFailsCostsOnlyItself)
{
    for (const char* key : {"L1.txt", "L2.txt", "L3.txt", "L4.txt"})
        saveAt(liveRecord(name(key), key, CloudNow - 50), CloudNow - 50);
    defaults().setDouble(CloudNow - 200, FetchKey);
    // The batch of four fails, then the half holding L4 and L3, then L4 alone.
    faults->failNext(Op::FetchRecords, 3, RecordStoreError::NetworkFailure);
    EXPECT_TRUE(fetch());
    EXPECT_EQ(applied(), (QStringList{"L3.txt", "L2.txt", "L1.txt"}));
    EXPECT_FALSE(localText(QStringLiteral("L4.txt")));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("fetch:worker error")).size(), 1);
    EXPECT_EQ(defaults().doubleForKey(FetchKey), double(CloudNow - 200)); // L4 comes with the next fetch

    forgetLog();
    EXPECT_TRUE(fetch());
    EXPECT_EQ(applied(), QStringList{"L4.txt"});
}

TEST_F(CKCloudFetch, ABackgroundFetchRunsBesideAFetchAndReportsCountAndError)
{
    saveAt(liveRecord(name("Live.txt"), "live", CloudNow - 50), CloudNow - 50);
    saveAt(tombstoneRecord(name("Gone.txt"), CloudNow - 50), CloudNow - 50);
    Record tooNew = liveRecord(name("New.txt"), "new", CloudNow - 50);
    tooNew.setValue(NoteRecord::VersionKey, int64_t(50));
    saveAt(tooNew, CloudNow - 50);
    const auto background = [&] {
        return awaitValue<std::pair<int64_t, Error>>([&](auto done) {
            cloud->backgroundFetchStorage([done](int64_t sorted, const Error& error) { done({sorted, error}); });
        });
    };

    faults->hold(Op::Query);
    std::promise<bool> first;
    cloud->fetchStorage([&](bool ok) { first.set_value(ok); });
    Dispatch::waitUntilIdle();
    const int oneQuery = faults->heldCount(Op::Query);
    std::promise<std::pair<int64_t, Error>> second;
    cloud->backgroundFetchStorage([&](int64_t sorted, const Error& error) { second.set_value({sorted, error}); });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(faults->heldCount(Op::Query), 2 * oneQuery); // no guard between them
    faults->release(Op::Query);
    EXPECT_TRUE(first.get_future().get());
    const auto [sorted, error] = second.get_future().get();
    EXPECT_EQ(sorted, 2);
    EXPECT_TRUE(error.isNull());
    Dispatch::waitUntilIdle();
    EXPECT_EQ(localText(QStringLiteral("Live.txt")), QStringLiteral("live"));
    for (const char* line : {"ckcloud:bgfetch error (version > 49)", "ckcloud:bgfetch done!"})
        EXPECT_TRUE(cloudLines().contains(QString::fromLatin1(line))) << line;

    faults->failNext(Op::Query, 1, RecordStoreError::NetworkFailure);
    const auto failed = background();
    EXPECT_EQ(failed.first, 0);
    EXPECT_EQ(failed.second.code, RecordStoreError::NetworkFailure);

    Core::shared().setEnabledAppleCloud(false);
    const auto off = background();
    EXPECT_EQ(off.first, 0);
    EXPECT_TRUE(off.second.isNull());
}

TEST_F(CKCloudFetch, AFetchWhileOneRunsAnswersNoWithoutAQueryAndWithTheCloudOffYes)
{
    faults->hold(Op::Query);
    std::promise<bool> first;
    cloud->fetchStorage([&](bool ok) { first.set_value(ok); });
    Dispatch::waitUntilIdle();
    EXPECT_FALSE(awaitValue<bool>([&](auto done) { cloud->fetchStorage(done); }));
    EXPECT_EQ(faults->heldCount(Op::Query), 1);
    faults->release(Op::Query);
    EXPECT_TRUE(first.get_future().get());
    EXPECT_TRUE(fetch()); // free again

    // With the cloud off there is nothing to do, and that is no failure.
    Core::shared().setEnabledAppleCloud(false);
    defaults().removeObject(FetchKey);
    EXPECT_TRUE(fetch());
    EXPECT_EQ(pruneOnce(), 0);
    EXPECT_FALSE(defaults().objectForKey(FetchKey).isValid());
}

TEST_F(CKCloudFetch, AGoodFetchSendsTheNotesChangedHereThatNoServiceTook)
{
    const struct {
        QString key;
        int64_t linkDate; // 0: no link
        bool sent;
        bool folderTookIt = false; // the sync folder's link is as new as the text
        bool cameIn = false;       // the text was taken in from elsewhere, unchanged
    } cases[] = {
        {"Offline.txt", 0, true},
        {"Edited.txt", CloudNow - 60, true},
        {"Exchanged.txt", CloudNow - 10, false},
        {Note::uniqueClassicKeyFromURL(), 0, false},
        // The folder's taking an edit made here does not carry it into the store.
        {"Folder only.txt", CloudNow - 60, true, true},
        {"Folder first.txt", 0, true, true},
        // A text that came in through the folder is its sender's to send.
        {"Came in.txt", CloudNow - 60, false, true, true},
    };
    for (const auto& c : cases) {
        const QString text = QStringLiteral("text of ") + c.key;
        auto n = CloudTest::note(c.key, text, CloudNow - 10);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { n->_commitAndCloseLocalNote(done); }));
        if (c.linkDate)
            RecordLinks.write(c.key, NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(c.linkDate));
        if (c.folderTookIt)
            LinkFiles(LinkFiles::Owner::AppleCloud).write(c.key, NoteServiceCloud, NoteStorageInbox, cloudSeconds(CloudNow - 10));
        NoteHistory history;
        history.add(NoteHistory::hashOf(text));
        if (c.cameIn)
            history.received = NoteHistory::hashOf(text);
        history.save(c.key, NoteStorageInbox);
    }
    ASSERT_TRUE(fetch());
    for (const auto& c : cases) {
        const auto record = store->fetch(name(c.key));
        EXPECT_EQ(record.has_value(), c.sent) << c.key.toStdString();
        if (record) {
            EXPECT_EQ(NoteRecord::commitDate(*record), cloudSeconds(CloudNow - 10));
        }
    }
}

// A note gone here (moved or deleted while the store was off) whose record this computer last
// exchanged becomes a tombstone at the next good fetch; one whose record changed since, beyond the
// fetch's window, comes back with that change. A note still here is left alone.
TEST_F(CKCloudFetch, AGoodFetchCarriesANoteGoneHereUnlessItsRecordChangedSince)
{
    const struct {
        const char* key;
        int64_t recordDate;
        bool here;
        bool tombstone;
    } cases[] = {
        {"Unchanged.txt", CloudNow - 100, false, true},
        {"Changed.txt", CloudNow - 50, false, false},
        {"Kept.txt", CloudNow - 100, true, false},
    };
    for (const auto& c : cases) {
        const QString key = QString::fromLatin1(c.key);
        const QString text = QStringLiteral("text of ") + key;
        if (c.here) {
            auto n = CloudTest::note(key, text, CloudNow - 100);
            ASSERT_TRUE(awaitValue<bool>([&](auto done) { n->_commitAndCloseLocalNote(done); }));
        }
        saveAt(liveRecord(name(key), text, c.recordDate), CloudNow - 2 * Week);
        RecordLinks.write(key, NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 100));
    }
    ASSERT_TRUE(fetch());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString key = QString::fromLatin1(c.key);
        const auto record = store->fetch(name(key));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->integer(NoteRecord::StateKey) == NoteRecord::StateDeleted, c.tombstone);
        EXPECT_EQ(localText(key), c.tombstone ? std::nullopt : std::optional(QStringLiteral("text of ") + key));
        EXPECT_EQ(linkDate(NoteServiceCloudKit, key).has_value(), !c.tombstone);
        EXPECT_EQ(linkDate(NoteServiceTrash, key).has_value(), c.tombstone);
    }
}

// More notes than one batch takes; the store's records of two of them predate the fetch window.
TEST_F(CKCloudFetch, ManyUnsentNotesGoOutInBatchesAndWhatABatchCannotTakeGoesAlone)
{
    makeCloud([](StoreCKCloud::Configuration& configuration) { configuration.sendBatchSize = 8; });
    forgetLog();
    constexpr int Plain = 20;
    const struct {
        const char* what;
        Op operation;
        int code;
        bool singleSavesFail; // so nothing but the batch can have sent the plain notes
    } cases[] = {
        {"fetch of the batch fails", Op::FetchRecords, RecordStoreError::NetworkFailure, false},
        {"batch saves", Op::SaveRecord, 0, true},
        {"batch refused", Op::SaveRecords, RecordStoreError::ServerRecordChanged, false},
        {"batch fails", Op::SaveRecords, RecordStoreError::ZoneBusy, false},
    };
    int round = 0;
    for (const auto& c : cases) {
        const QString prefix = QStringLiteral("R%1-").arg(++round);
        QStringList plain;
        for (int i = 0; i < Plain; ++i)
            plain << prefix + QStringLiteral("%1.txt").arg(i);
        const QString newer = prefix + "Newer.txt", older = prefix + "Older.txt";
        for (const QString& key : plain + QStringList{newer, older}) {
            auto n = CloudTest::note(key, QStringLiteral("text of ") + key, CloudNow - 10);
            ASSERT_TRUE(awaitValue<bool>([&](auto done) { n->_commitAndCloseLocalNote(done); }));
        }
        // The same texts, committed elsewhere later and earlier than here.
        saveAt(liveRecord(name(newer), QStringLiteral("text of ") + newer, CloudNow), CloudNow - 2 * Week);
        saveAt(liveRecord(name(older), QStringLiteral("text of ") + older, CloudNow - 100), CloudNow - 2 * Week);
        if (c.singleSavesFail)
            faults->failNext(Op::SaveRecord, 1000, RecordStoreError::NetworkFailure);
        else
            faults->failNext(c.operation, 1, c.code);
        forgetLog();
        ASSERT_TRUE(fetch()) << c.what;
        faults->failNext(Op::SaveRecord, 0, 0);

        for (const QString& key : plain + QStringList{older}) {
            const auto record = store->fetch(name(key));
            ASSERT_TRUE(record) << c.what << " " << key.toStdString();
            EXPECT_EQ(NoteRecord::commitDate(*record), cloudSeconds(CloudNow - 10)) << c.what << " " << key.toStdString();
            EXPECT_EQ(linkDate(NoteServiceCloudKit, key), cloudSeconds(CloudNow - 10)) << c.what << " " << key.toStdString();
        }
        EXPECT_EQ(NoteRecord::commitDate(store->fetch(name(newer)).value_or(Record())), cloudSeconds(CloudNow))
            << c.what << ": a later commit elsewhere is not overwritten";
        EXPECT_EQ(cloudLines().filter(QStringLiteral("save resist save Inbox/") + newer + " (ckcloud)").size(), 1)
            << c.what;
        QStringList expected;
        for (const QString& key : plain + QStringList{older})
            expected << name(key);
        QStringList saved = savedNames(cloudLines());
        saved.sort();
        expected.sort();
        EXPECT_EQ(saved, expected) << c.what << ": each note is sent once";
    }
}

// A wait started while the notes changed here go out ends after their last batch, not between two.
TEST_F(CKCloudFetch, AWaitDuringTheSendPassEndsOnlyAfterItsLastBatch)
{
    const QStringList keys = sendPassHeldAtItsFirstBatch(4, 12, QStringLiteral("Batch"));
    ASSERT_FALSE(HasFailure());
    const qsizetype sentWhenTheWaitEnded = awaitValue<qsizetype>([&](auto done) {
        cloud->wait([&, done] {
            qsizetype sent = 0;
            for (const QString& key : keys)
                sent += store->fetch(name(key)).has_value();
            done(sent);
        });
        faults->release(Op::SaveRecords);
    });
    EXPECT_EQ(sentWhenTheWaitEnded, keys.size());
}

// A note's text and date go out as one save left them: the pass reads a
// batch only while no save runs on the file queue.
TEST_F(CKCloudFetch, TheSendPassReadsItsNotesOnlyBetweenSaves)
{
    const QStringList keys = sendPassHeldAtItsFirstBatch(2, 4, QStringLiteral("Between"));
    ASSERT_FALSE(HasFailure());
    // The second batch is looked at meanwhile; then a save holds the file queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic<bool> saved = false;
    Note::services()->fileQueue()->async([&] {
        while (!saved)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const qsizetype before = log->lines().size();
    faults->release(Op::SaveRecords);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log->lines().mid(before).filter(QStringLiteral("note:open")), QStringList());
    saved = true;
    Dispatch::waitUntilIdle();
    for (const QString& key : keys)
        EXPECT_TRUE(store->fetch(name(key)).has_value()) << key.toStdString();
}

TEST_F(CKCloudFetch, ALuckyDrawOrTwoHundredSkipsPrune)
{
    uint32_t draw = 0;
    makeCloud([&](StoreCKCloud::Configuration& configuration) { configuration.random = [&] { return draw; }; });
    const struct {
        int64_t skipped;
        uint32_t draw;
        int64_t after;
    } cases[] = {{0, 2, 1}, {200, 52, 201}, {201, 49, 0}, {7, 51, 0}, {0, 100, 0}};
    for (const auto& c : cases) {
        defaults().setInteger(c.skipped, SkipKey);
        draw = c.draw;
        forgetLog();
        cloud->optimizeStorageIfLucky();
        Dispatch::waitUntilIdle();
        EXPECT_EQ(defaults().integerForKey(SkipKey), c.after) << c.skipped << " " << c.draw;
        EXPECT_EQ(cloudLines().filter(QStringLiteral("already clean")).size(), c.after == 0 ? 1 : 0);
    }
}

TEST_F(CKCloudFetch, PruningDeletesWhatTheStoreKeptSinceBeforeTheDayAWeekAgo)
{
    const QDateTime cutoff = QDateTime::fromSecsSinceEpoch(CloudNow - Week).date().startOfDay();
    const double cut = double(cutoff.toMSecsSinceEpoch()) / 1000;
    saveAt(liveRecord(name("AtCut.txt"), "at", CloudNow - 2 * Week), cut);
    saveAt(tombstoneRecord(name("Gone.txt"), CloudNow), cut - 0.001);
    saveAt(liveRecord(name("Old.txt"), "old", CloudNow), cut - 3600);
    EXPECT_EQ(pruneOnce(), 2);
    EXPECT_TRUE(store->fetch(name("AtCut.txt")));
    EXPECT_FALSE(store->fetch(name("Gone.txt")));
    EXPECT_EQ(pruneOnce(), 0);
    EXPECT_EQ(cloudLines().filter(QStringLiteral("optimizeStorage delete ok (2)")).size(), 1);
    EXPECT_EQ(cloudLines().filter(QStringLiteral("optimizeStorage ok (already clean)")).size(), 1);

    faults->failNext(Op::ModifyRecords, 1, RecordStoreError::NetworkFailure);
    saveAt(liveRecord(name("Old.txt"), "old", CloudNow), cut - 3600);
    EXPECT_EQ(pruneOnce(), -1);
    EXPECT_TRUE(store->fetch(name("Old.txt")));
}

