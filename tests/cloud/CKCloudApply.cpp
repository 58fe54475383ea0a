#include "CKCloudTestSupport.h"

#include "Cloud/NoteHistory.h"
#include "Cloud/SyncConflict.h"

#include "files/FileDates.h"

#include <QDir>

namespace {

const int64_t Commit = CloudNow - 30;

} // namespace

class CKCloudApply : public CKCloudTest {};

TEST_F(CKCloudApply, ARecordIsWrittenOnlyWhenEveryReaderRuleTakesIt)
{
    const auto withValue = [](Record record, const QString& key, FieldValue value) {
        record.setValue(key, std::move(value));
        return record;
    };
    const QString text = QStringLiteral("Plan\nfor today");
    const struct {
        Record record;
        QString key;   // the local file looked at
        bool written;
        QString line;  // the one ckcloud line, if any
    } cases[] = {
        {withValue(withValue(liveRecord("Inbox/A.txt", text, Commit), NoteRecord::VersionKey, int64_t(49)),
                   NoteRecord::FileSizeKey, int64_t(899999)),
         "A.txt", true, "ckcloud:reload update ok (v49) Inbox/A.txt"},
        {withValue(liveRecord("Inbox/B.txt", text, Commit), NoteRecord::VersionKey, int64_t(50)), "B.txt", false,
         "ckcloud:reload error (version > 49)"},
        {withValue(liveRecord("Inbox/C.txt", text, Commit), NoteRecord::FileSizeKey, int64_t(900000)), "C.txt", false,
         "ckcloud:reload error too big file"},
        {withValue(liveRecord("Inbox/D.txt", text, Commit), NoteRecord::VersionKey, int64_t(39)), "D.txt", false, ""},
        {liveRecord("Home/E.txt", text, Commit), "E.txt", true, "ckcloud:reload update ok (v40) Inbox/E.txt"},
        {liveRecord("Desk/G.txt", text, Commit), "G.txt", false, "ckcloud:reload error garbage path Desk"},
        {liveRecord("Inbox/..", text, Commit), "..", false, "ckcloud:reload error garbage path Inbox"},
        {liveRecord("Inbox/H.txt", QString(), Commit), "H.txt", false,
         "ckcloud:reload resist update (file size <= 0) H.txt"},
        {withValue(liveRecord("Inbox/I.txt", text, Commit), NoteRecord::TextKey,
                   NoteRecord::gzipDeflate(QByteArray("\xFF\xFE", 2))),
         "I.txt", false, ""},
        {withValue(liveRecord("Inbox/K.txt", text, Commit), NoteRecord::StateKey, int64_t(7)), "K.txt", false,
         "ckcloud:reload update error: unknown state 7"},
        {withValue(tombstoneRecord("Inbox/L.txt", Commit), NoteRecord::FileSizeKey, int64_t(5)), "L.txt", false,
         "ckcloud:reload purge error (fileSize > 0) L.txt"},
    };
    for (const auto& c : cases) {
        forgetLog();
        reload(c.record);
        Dispatch::waitUntilIdle();
        const QString label = c.record.recordID().recordName;
        EXPECT_EQ(localText(c.key), c.written ? std::optional<QString>(text) : std::nullopt) << label.toStdString();
        EXPECT_EQ(cloudLines(), c.line.isEmpty() ? QStringList() : QStringList{c.line}) << label.toStdString();
        EXPECT_EQ(linkDate(NoteServiceCloudKit, c.key),
                  c.written ? std::optional<FileTime>(cloudSeconds(Commit)) : std::nullopt);
    }
    EXPECT_EQ(events().filter(QStringLiteral("update")).size(), 2);
}

TEST_F(CKCloudApply, ALinkDatedAtOrAfterTheCommitResists)
{
    const struct {
        int service;
        int64_t linkDate;
        QString line;
    } cases[] = {
        {NoteServiceCloudKit, Commit, "ckcloud:reload resist update (ckcloud) N.txt"},
        {NoteServiceTrash, Commit + 1, "ckcloud:reload resist update (trash) N.txt"},
        {NoteServiceCloud, Commit, "ckcloud:reload resist update (applecloud) N.txt"},
        {NoteServiceCloudKit, Commit - 1, "ckcloud:reload update ok (v40) Inbox/N.txt"},
    };
    for (const auto& c : cases) {
        for (const int service : {NoteServiceCloud, NoteServiceCloudKit, NoteServiceTrash})
            QDir(Note::linkDirectoryForService(service)).removeRecursively();
        forgetLog();
        RecordLinks.write(QStringLiteral("N.txt"), c.service, NoteStorageInbox, cloudSeconds(c.linkDate));
        reload(liveRecord("Inbox/N.txt", QStringLiteral("theirs"), Commit));
        EXPECT_EQ(cloudLines(), QStringList{c.line});
        EXPECT_EQ(localText(QStringLiteral("N.txt")).has_value(), c.line.contains(QStringLiteral("ok")));
    }
}

TEST_F(CKCloudApply, ALiveRecordKeepsItsDatesAndATombstoneTrashesTheNote)
{
    Record record = liveRecord("Archive/Plan.txt", QStringLiteral("Plan"), Commit);
    NoteRecord::setCreatedDate(record, cloudSeconds(CloudNow - 5000));
    reload(record);
    Note restored(QStringLiteral("Plan.txt"), NoteStorageArchive);
    restored.restoreMeta();
    EXPECT_EQ(restored.createdOn(), CloudNow - 5000);
    EXPECT_EQ(restored.updatedOn(), Commit);
    EXPECT_EQ(FileDates::modificationDate(Note::documentFileForKey(QStringLiteral("Plan.txt"), NoteStorageArchive)),
              Commit);

    reload(tombstoneRecord("Archive/Plan.txt", Commit + 10));
    reload(tombstoneRecord("Inbox/Missing.txt", Commit + 10));
    EXPECT_FALSE(localText(QStringLiteral("Plan.txt"), NoteStorageArchive));
    for (const auto& [key, storage] : {std::pair{"Plan.txt", NoteStorageArchive}, {"Missing.txt", NoteStorageInbox}}) {
        EXPECT_FALSE(linkDate(NoteServiceCloudKit, key, storage));
        EXPECT_EQ(linkDate(NoteServiceTrash, key, storage), cloudSeconds(Commit + 10));
    }
    EXPECT_EQ(events().filter(QRegularExpression(QStringLiteral("update|remoteDelete"))),
              (QStringList{"E update", "E remoteDelete", "E remoteDelete"}));
    EXPECT_EQ(cloudLines().filter(QStringLiteral("purge ok")),
              (QStringList{"ckcloud:reload purge ok Archive/Plan.txt", "ckcloud:reload purge ok Inbox/Missing.txt"}));
}

TEST_F(CKCloudApply, RecordDatesBecomeWholeSecondsCutTowardZero)
{
    const struct {
        FileTime date;
        int64_t seconds;
    } cases[] = {{{-2, 500'000'000}, -1}, {{1, 500'000'000}, 1}, {{-3, 0}, -3}};
    for (const auto& c : cases) {
        const QString key = QStringLiteral("At%1.txt").arg(c.seconds);
        Record record(NoteRecord::RecordType, RecordID{QStringLiteral("Inbox/") + key});
        NoteRecord::setLive(record, NoteRecord::dataFromString(QStringLiteral("dated")), c.date);
        NoteRecord::setCreatedDate(record, c.date);
        reload(record);
        Note restored(key, NoteStorageInbox);
        restored.restoreMeta();
        EXPECT_EQ(restored.updatedOn(), c.seconds) << c.date.seconds << "." << c.date.nanoseconds;
        EXPECT_EQ(restored.createdOn(), c.seconds) << c.date.seconds << "." << c.date.nanoseconds;
        EXPECT_EQ(linkDate(NoteServiceCloudKit, key), c.date); // the link keeps the record's date
    }
}

TEST_F(CKCloudApply, AnEditMadeBesideTheLocalOneKeepsBothOnceWhateverTheDates)
{
    const QString mine = QStringLiteral("mine, edited");
    const struct {
        Record record;
        QString theirs; // empty: a tombstone
        int arrivals = 1; // a push and a fetch may carry the same record at once
    } cases[] = {
        {liveRecord("Inbox/Plan.txt", QStringLiteral("theirs older"), CloudNow - 60), QStringLiteral("theirs older")},
        {liveRecord("Inbox/Plan.txt", QStringLiteral("theirs newer"), CloudNow + 60), QStringLiteral("theirs newer")},
        {liveRecord("Inbox/Plan.txt", QStringLiteral("theirs twice"), CloudNow + 60), QStringLiteral("theirs twice"), 3},
        {tombstoneRecord("Inbox/Plan.txt", CloudNow + 60), QString()},
        {tombstoneRecord("Inbox/Plan.txt", CloudNow + 60), QString(), 2},
        {liveRecord("Inbox/Plan.txt", mine, CloudNow + 60), mine},
    };
    for (const auto& c : cases) {
        QDir(Core::shared().documentDirectory()).removeRecursively();
        QDir(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/History")).removeRecursively();
        forgetLog();
        RecordLinks.write(QStringLiteral("Plan.txt"), NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 100));
        LinkFiles::remove(QStringLiteral("Plan.txt"), NoteServiceTrash, NoteStorageInbox);
        auto local = CloudTest::note(QStringLiteral("Plan.txt"), mine, CloudNow - 20);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { local->_commitAndCloseLocalNote(done); }));

        auto applied = std::make_shared<std::atomic<int>>(0);
        for (int i = 0; i < c.arrivals; ++i)
            cloud->_reloadNoteWithRecord(c.record, [applied] { ++*applied; });
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return *applied == c.arrivals; }, 10));
        Dispatch::waitUntilIdle();
        SCOPED_TRACE(c.theirs.isEmpty() ? "tombstone" : qPrintable(c.theirs));
        // The greater hash holds the note on every computer; the other text is kept once, named by its hash.
        const bool mineWins = !c.theirs.isEmpty() && NoteHistory::hashOf(mine) > NoteHistory::hashOf(c.theirs);
        const QString kept = c.theirs.isEmpty() ? mine : mineWins ? c.theirs : mine;
        QStringList expected{QStringLiteral("Plan.txt"), SyncConflict::forkKey(QStringLiteral("Plan.txt"), kept)};
        if (c.theirs.isEmpty())
            expected.removeFirst();
        if (c.theirs == mine)
            expected.removeLast();
        QStringList sorted = expected;
        sorted.sort();
        EXPECT_EQ(localKeys(NoteStorageInbox), sorted);
        if (!c.theirs.isEmpty()) {
            EXPECT_EQ(localText(QStringLiteral("Plan.txt")), mineWins || c.theirs == mine ? mine : c.theirs);
        }
        if (expected.size() == 2 || c.theirs.isEmpty()) {
            EXPECT_EQ(localText(expected.last()), kept);
        }
    }
}

TEST_F(CKCloudApply, ADeletionKeepsAsAForkOnlyATextItsComputerNeverHeld)
{
    for (const bool held : {true, false}) {
        QDir(Core::shared().documentDirectory()).removeRecursively();
        LinkFiles::remove(QStringLiteral("Plan.txt"), NoteServiceTrash, NoteStorageInbox);
        auto local = CloudTest::note(QStringLiteral("Plan.txt"), QStringLiteral("mine"), CloudNow - 20);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { local->_commitAndCloseLocalNote(done); }));
        RecordLinks.write(QStringLiteral("Plan.txt"), NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 10));
        Record tombstone = tombstoneRecord("Inbox/Plan.txt", CloudNow);
        tombstone.setValue(NoteRecord::HistoryKey, NoteHistory::hashOf(held ? "mine" : "older"));
        reload(tombstone);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(localKeys(NoteStorageInbox),
                  held ? QStringList() : QStringList{SyncConflict::forkKey(QStringLiteral("Plan.txt"), "mine")})
            << held;
    }
}

// A fork made where a move or delete met an edit, and the note then back with
// that very text (taken in, or kept over another computer's): the fork goes,
// unless it was edited since or holds another text, or was set aside for a
// text the one taken in was not sent over.
TEST_F(CKCloudApply, AForkWhoseTextTheNoteHoldsAgainGoesUnlessItDiffers)
{
    // Kept over the incoming text: the local one wins the tie-break.
    const bool firstWins = NoteHistory::hashOf("first") > NoteHistory::hashOf("second");
    const QString winner = QString::fromLatin1(firstWins ? "first" : "second");
    const QString loser = QString::fromLatin1(firstWins ? "second" : "first");
    const struct {
        const char* what;
        QString local;  // the note's text here; empty: none
        QString incoming;
        QString forkOf; // the fork's name comes from this text
        QString forkText;
        bool forkGoes;
        bool forkComesIn = false; // the record is the fork's, not the note's
        const char* setAsideFor = nullptr; // the text the fork's history names besides its own
        bool sentOverIt = false; // the incoming record's history names that text too
    } cases[] = {
        {"taken in", QString(), winner, winner, winner, true},
        {"kept over another", winner, loser, winner, winner, true},
        {"fork edited since", QString(), winner, winner, QStringLiteral("edited"), false},
        {"fork of another text", QString(), winner, loser, loser, false},
        {"taken in over another", loser, winner, winner, winner, true},
        // Here the note may yet be deleted by a move that never saw its text: the fork is what stays then.
        {"the fork comes in", winner, winner, winner, winner, false, true},
        // Set aside where the incoming text's history had not come yet.
        {"set aside for a text the one taken in was sent over", QString(), winner, winner, winner, true, false, "older", true},
        {"set aside for a text the one taken in never saw", QString(), winner, winner, winner, false, false, "older", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(Core::shared().documentDirectory()).removeRecursively();
        QDir(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/History")).removeRecursively();
        const QString fork = SyncConflict::forkKey(QStringLiteral("Plan.txt"), c.forkOf);
        for (const QString& key : {QStringLiteral("Plan.txt"), fork})
            for (const int service : {NoteServiceTrash, NoteServiceCloudKit})
                LinkFiles::remove(key, service, NoteStorageInbox);
        std::vector<NotePtr> notes;
        if (!c.forkComesIn)
            notes.push_back(CloudTest::note(fork, c.forkText, CloudNow - 40));
        if (!c.local.isEmpty())
            notes.push_back(CloudTest::note(QStringLiteral("Plan.txt"), c.local, CloudNow - 20));
        for (const NotePtr& note : notes)
            ASSERT_TRUE(awaitValue<bool>([&](auto done) { note->_commitAndCloseLocalNote(done); }));
        Record record = liveRecord(qPrintable(QStringLiteral("Inbox/") + (c.forkComesIn ? fork : QStringLiteral("Plan.txt"))),
                                   c.incoming, CloudNow - 10);
        if (c.setAsideFor) {
            NoteHistory forkHistory;
            forkHistory.add(NoteHistory::hashOf(c.forkText));
            forkHistory.add(NoteHistory::hashOf(c.setAsideFor));
            forkHistory.save(fork, NoteStorageInbox);
        }
        if (c.sentOverIt)
            record.setValue(NoteRecord::HistoryKey,
                            NoteHistory::hashOf(c.incoming) + QLatin1Char(' ') + NoteHistory::hashOf(c.setAsideFor));
        reload(record);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(localText(fork).has_value(), !c.forkGoes);
        QStringList held = localTexts();
        held.removeDuplicates();
        // A fork that stays with the note's own text holds it twice, as it should.
        const bool twice = !c.forkGoes && c.forkText == c.incoming;
        if (!c.forkComesIn) {
            EXPECT_EQ(held.size() + (twice ? 1 : 0), localTexts().size()) << qPrintable(localTexts().join(" | "));
        }
        EXPECT_TRUE(held.contains(c.incoming) && held.contains(c.forkText));
    }
}

// The fork went once (its note held the text again), then a deletion that never
// saw the text makes it again: dated after it went, so no trash link refuses it.
TEST_F(CKCloudApply, AForkMadeAgainAfterItWentIsDatedAfterItWent)
{
    for (const int64_t went : {CloudNow - 40, CloudNow + 50}) {
        QDir(Core::shared().documentDirectory()).removeRecursively();
        LinkFiles::remove(QStringLiteral("Plan.txt"), NoteServiceTrash, NoteStorageInbox);
        const QString fork = SyncConflict::forkKey(QStringLiteral("Plan.txt"), "mine");
        RecordLinks.write(fork, NoteServiceTrash, NoteStorageInbox, cloudSeconds(went));
        auto local = CloudTest::note(QStringLiteral("Plan.txt"), QStringLiteral("mine"), CloudNow - 20);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { local->_commitAndCloseLocalNote(done); }));
        RecordLinks.write(QStringLiteral("Plan.txt"), NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 10));
        Record tombstone = tombstoneRecord("Inbox/Plan.txt", CloudNow);
        tombstone.setValue(NoteRecord::HistoryKey, NoteHistory::hashOf("older"));
        reload(tombstone);
        Dispatch::waitUntilIdle();
        ASSERT_EQ(localText(fork), QStringLiteral("mine")) << went;
        Note kept(fork, NoteStorageInbox);
        kept.restoreMeta();
        EXPECT_EQ(kept.updatedOn(), std::max(CloudNow - 20, went + 1)) << went;
    }
}

TEST_F(CKCloudApply, ASaveRefusedOverAnUnseenChangeTakesItInAndKeepsTheLocalText)
{
    saveAt(liveRecord("Inbox/Plan.txt", QStringLiteral("theirs"), CloudNow - 30), CloudNow - 30);
    auto mine = CloudTest::note(QStringLiteral("Plan.txt"), QStringLiteral("mine"), CloudNow - 10);
    ASSERT_TRUE(awaitValue<bool>([&](auto done) { mine->_commitAndCloseLocalNote(done); }));
    EXPECT_FALSE(awaitValue<bool>([&](auto done) { cloud->saveNote(mine, done); }));
    Dispatch::waitUntilIdle();
    const bool mineWins = NoteHistory::hashOf("mine") > NoteHistory::hashOf("theirs");
    EXPECT_EQ(localText(QStringLiteral("Plan.txt")), mineWins ? "mine" : "theirs");
    EXPECT_EQ(localTexts(), (QStringList{"mine", "theirs"}));
}

// Two computers saving one note in one second date both texts alike, and a
// record may be saved after a later save of another text to the folder: a
// Cloud or CloudKit link holds back only a text this computer held.
TEST_F(CKCloudApply, ALinkAtOrAfterTheCommitResistsOnlyATextHeldHere)
{
    const struct {
        int service;
        int64_t linkDate;
        bool held;    // the note's history holds the record's text
        bool history; // the record carries one
        QString line;
    } cases[] = {
        {NoteServiceCloudKit, Commit, true, true, "ckcloud:reload resist update (ckcloud) N.txt"},
        {NoteServiceCloudKit, Commit, false, true, "ckcloud:reload update ok (v40) Inbox/N.txt"},
        {NoteServiceCloud, Commit + 5, true, true, "ckcloud:reload resist update (applecloud) N.txt"},
        {NoteServiceCloud, Commit + 5, false, true, "ckcloud:reload update ok (v40) Inbox/N.txt"},
        {NoteServiceCloud, Commit, false, false, "ckcloud:reload resist update (applecloud) N.txt"},
        {NoteServiceTrash, Commit + 5, false, true, "ckcloud:reload resist update (trash) N.txt"},
    };
    const QString theirs = QStringLiteral("theirs");
    for (const auto& c : cases) {
        const auto label = &c - cases;
        for (const int service : {NoteServiceCloud, NoteServiceCloudKit, NoteServiceTrash})
            QDir(Note::linkDirectoryForService(service)).removeRecursively();
        QFile::remove(Note::documentFileForKey(QStringLiteral("N.txt"), NoteStorageInbox));
        NoteHistory history;
        history.add(NoteHistory::hashOf(c.held ? theirs : QStringLiteral("another")));
        history.save(QStringLiteral("N.txt"), NoteStorageInbox);
        forgetLog();
        RecordLinks.write(QStringLiteral("N.txt"), c.service, NoteStorageInbox, cloudSeconds(c.linkDate));
        Record record = liveRecord("Inbox/N.txt", theirs, Commit);
        if (c.history)
            record.setValue(NoteRecord::HistoryKey, NoteHistory::hashOf(theirs) + QStringLiteral(" 0123456789abcdef"));
        reload(record);
        EXPECT_EQ(cloudLines(), QStringList{c.line}) << label;
        EXPECT_EQ(localText(QStringLiteral("N.txt")).has_value(), c.line.contains(QStringLiteral("ok"))) << label;
    }
}

// "theirs" came in here, then "mine" from elsewhere; the writer of "theirs" has
// since sent it over "mine" (its history knows it): the link gives way to the
// conflict rule, which keeps both. A "theirs" that never knew "mine" is held back.
TEST_F(CKCloudApply, ATextHeldHereSentOverTheNotesPresentTextPassesTheLink)
{
    const QString mine = QStringLiteral("mine");
    const QString theirs = QStringLiteral("theirs");
    ASSERT_LT(NoteHistory::hashOf(mine), NoteHistory::hashOf(theirs)); // the greater hash holds the note
    for (const bool knowsMine : {true, false}) {
        QDir(Core::shared().documentDirectory()).removeRecursively();
        auto local = CloudTest::note(QStringLiteral("N.txt"), mine, Commit);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { local->_commitAndCloseLocalNote(done); }));
        NoteHistory history;
        history.add(NoteHistory::hashOf(theirs));
        history.add(NoteHistory::hashOf(mine));
        history.received = NoteHistory::hashOf(mine);
        history.save(QStringLiteral("N.txt"), NoteStorageInbox);
        RecordLinks.write(QStringLiteral("N.txt"), NoteServiceCloud, NoteStorageInbox, cloudSeconds(Commit + 5));
        Record record = liveRecord("Inbox/N.txt", theirs, Commit);
        record.setValue(NoteRecord::HistoryKey, NoteHistory::hashOf(theirs) + QLatin1Char(' ')
                                                    + (knowsMine ? NoteHistory::hashOf(mine) : QStringLiteral("0123456789abcdef")));
        reload(record);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(localText(QStringLiteral("N.txt")), knowsMine ? theirs : mine) << knowsMine;
        EXPECT_EQ(localTexts(), knowsMine ? QStringList({mine, theirs}) : QStringList{mine}) << knowsMine;
    }
}

// Three computers edit one note at once. The greatest text's computer sets the
// middle one aside as a fork and sends its own over it; where the least was
// written, that fork comes in before the middle text wins over the least as
// the note. The note then goes on to the greatest text: the middle one must
// still be held, as the fork.
TEST_F(CKCloudApply, ATextSetAsideElsewhereOutlivesItsNoteHoldingItForAWhile)
{
    QStringList edits{QStringLiteral("left"), QStringLiteral("middle"), QStringLiteral("right")};
    std::sort(edits.begin(), edits.end(), [](const QString& x, const QString& y) {
        return NoteHistory::hashOf(x) > NoteHistory::hashOf(y);
    });
    const QString& greatest = edits[0];
    const QString& middle = edits[1];
    const QString& least = edits[2];
    const QString base = NoteHistory::hashOf(QStringLiteral("base"));
    const QString fork = SyncConflict::forkKey(QStringLiteral("Plan.txt"), middle);
    const auto sent = [](const QString& name, const QString& text, int64_t commit, const QString& history) {
        Record record = liveRecord(qPrintable(QStringLiteral("Inbox/") + name), text, commit);
        record.setValue(NoteRecord::HistoryKey, history);
        return record;
    };
    // Here, as the computer of one edit over the base.
    const auto editedHere = [&](const QString& text) {
        QDir(Core::shared().documentDirectory()).removeRecursively();
        QDir(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/History")).removeRecursively();
        RecordLinks.write(QStringLiteral("Plan.txt"), NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(CloudNow - 100));
        auto local = CloudTest::note(QStringLiteral("Plan.txt"), text, CloudNow - 20);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { local->_commitAndCloseLocalNote(done); }));
        NoteHistory history;
        history.add(base);
        history.received = base;
        history.add(NoteHistory::hashOf(text));
        history.save(QStringLiteral("Plan.txt"), NoteStorageInbox);
    };
    const QString middleSent = NoteHistory::hashOf(middle) + QLatin1Char(' ') + base;

    editedHere(greatest);
    reload(sent(QStringLiteral("Plan.txt"), middle, CloudNow - 10, middleSent));
    Dispatch::waitUntilIdle();
    ASSERT_EQ(localText(fork), middle);
    const QString forkSent = SyncConflict::sending(fork, NoteStorageInbox, middle);
    const QString greatestSent = SyncConflict::sending(QStringLiteral("Plan.txt"), NoteStorageInbox, greatest);

    editedHere(least);
    reload(sent(fork, middle, CloudNow - 15, forkSent));
    reload(sent(QStringLiteral("Plan.txt"), middle, CloudNow - 10, middleSent));
    reload(sent(QStringLiteral("Plan.txt"), greatest, CloudNow - 5, greatestSent));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(localText(QStringLiteral("Plan.txt")), greatest);
    QStringList expected = edits;
    expected.sort();
    QStringList held = localTexts();
    held.sort();
    EXPECT_EQ(held, expected);
}
