#include "CloudTestSupport.h"

#include "../store/EventJournal.h"

#include "Cloud/NoteHistory.h"
#include "Cloud/SyncConflict.h"

#include "files/AtomicFile.h"
#include "files/FileDates.h"
#include "files/Trash.h"

#include <QFile>

#include <functional>

namespace {

const QString Key = QStringLiteral("Plan.txt");

bool repair(const QString& key)
{
    bool repaired = false;
    Core::shared().fileQueue()->sync([&] { repaired = SyncConflict::repairCutCommit(key, NoteStorageInbox); });
    return repaired;
}

} // namespace

using CloudLinks = CloudTest;

TEST_F(CloudLinks, DatesKeepTheirNanosecondsAndEqualCountsAsNewer)
{
    // A drive document's own date, down to the nanosecond.
    const QString document = TestSupport::home() + QStringLiteral("/drive/Plan.txt");
    TestSupport::writeFile(document, "text");
    ASSERT_TRUE(FileTimes::setModificationTime(document, {CloudNow, 123456789}));
    const FileTime date = *FileTimes::modificationTime(document);
    RecordLinks.write(Key, NoteServiceCloud, NoteStorageInbox, date); // the folder does not exist yet
    EXPECT_EQ(linkDate(NoteServiceCloud), date);
    EXPECT_EQ(QFileInfo(Note::linkFileForKey(Key, NoteServiceCloud, NoteStorageInbox)).size(), 0);

    for (const auto& [other, newerOrEqual] : {std::pair{date, true}, {{CloudNow, 123456788}, true},
                                              {{CloudNow, 123456790}, false}, {{CloudNow + 1, 0}, false}})
        EXPECT_EQ(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, other), newerOrEqual);
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageArchive, {0, 0}));

    // An existing link is re-dated either way; one whose date cannot be read is absent.
    RecordLinks.write(Key, NoteServiceCloud, NoteStorageInbox, FileTime{CloudNow - 50, 0});
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, date));
    const QString trash = Note::linkFileForKey(Key, NoteServiceTrash, NoteStorageInbox);
    Note::createImmediateDirectoryForFilePath(trash);
    ASSERT_TRUE(QFile::link(TestSupport::home() + QStringLiteral("/nowhere"), trash));
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceTrash, NoteStorageInbox, {0, 0}));
}

TEST_F(CloudLinks, AWriteWithoutADateLogsCreatesANewLinkNowAndKeepsAnOldOnesDate)
{
    const struct {
        LinkFiles::Owner owner;
        QString message;
    } owners[] = {{LinkFiles::Owner::AppleCloud, QStringLiteral("apcloud:writeLine error no changeDate")},
                  {LinkFiles::Owner::CKCloud, QStringLiteral("ckcloud:addlink error no changeDate")}};
    for (const auto& owner : owners) {
        QFile::remove(Note::linkFileForKey(Key, NoteServiceCloud, NoteStorageInbox));
        LinkFiles(owner.owner).write(Key, NoteServiceCloud, NoteStorageInbox, std::nullopt);
        // The project's clock (here the test's), not the file system's.
        EXPECT_EQ(linkDate(NoteServiceCloud), cloudSeconds(CloudNow));

        RecordLinks.write(Key, NoteServiceCloud, NoteStorageInbox, FileTime{CloudNow - 7, 5});
        LinkFiles(owner.owner).write(Key, NoteServiceCloud, NoteStorageInbox, std::nullopt);
        EXPECT_EQ(linkDate(NoteServiceCloud), (FileTime{CloudNow - 7, 5}));
        EXPECT_EQ(log->lines().count(owner.message), 2);
    }
}

TEST_F(CloudLinks, AMoveHandsTheCloudDateToTheNewNameAndTheOldNamesTrashLink)
{
    const LinkFiles links(LinkFiles::Owner::AppleCloud);
    const FileTime date{CloudNow - 30, 250};
    RecordLinks.write(Key, NoteServiceCloud, NoteStorageInbox, date);
    links.moveCloudLink(Key, NoteStorageInbox, QStringLiteral("Plan 2.txt"), NoteStorageArchive);
    EXPECT_FALSE(linkDate(NoteServiceCloud));
    EXPECT_EQ(linkDate(NoteServiceCloud, QStringLiteral("Plan 2.txt"), NoteStorageArchive), date);
    EXPECT_EQ(linkDate(NoteServiceTrash), date);

    // Without an old link no document stands behind a new one: only the Trash link, dated now.
    links.moveCloudLink(QStringLiteral("Never.txt"), NoteStorageInbox, QStringLiteral("Now.txt"), NoteStorageInbox);
    EXPECT_FALSE(linkDate(NoteServiceCloud, QStringLiteral("Now.txt")));
    EXPECT_EQ(linkDate(NoteServiceTrash, QStringLiteral("Never.txt")), FileTime::fromWholeSeconds(CloudNow));
}

// A pass takes the link dates it read earlier only while this count stands, so every change counts.
TEST_F(CloudLinks, EveryChangeOfALinkMovesItsServicesCountAndReadsDoNot)
{
    LinkFiles links(LinkFiles::Owner::AppleCloud);
    const FileTime date{CloudNow - 40, 7};
    const struct {
        const char* what;
        std::function<void()> step;
        QList<int> changing; // the services whose count moves
    } cases[] = {
        {"a new link", [&] { links.write(Key, NoteServiceCloud, NoteStorageInbox, date); }, {NoteServiceCloud}},
        {"a link re-dated earlier",
         [&] { links.write(Key, NoteServiceCloud, NoteStorageInbox, FileTime{CloudNow - 90, 0}); }, {NoteServiceCloud}},
        {"a read", [&] { LinkFiles::modificationDate(Key, NoteServiceCloud, NoteStorageInbox); }, {}},
        {"a comparison", [&] { LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, date); }, {}},
        {"a record's link", [&] { RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageInbox, date); },
         {NoteServiceCloudKit}},
        {"a move", [&] { links.moveCloudLink(Key, NoteStorageInbox, QStringLiteral("Plan 2.txt"), NoteStorageInbox); },
         {NoteServiceCloud, NoteServiceTrash}},
        {"a removal", [&] { LinkFiles::remove(QStringLiteral("Plan 2.txt"), NoteServiceCloud, NoteStorageInbox); },
         {NoteServiceCloud}},
        {"another account", [&] { links.changeAccount(NoteServiceCloud); }, {NoteServiceCloud}},
    };
    const QList<int> services{NoteServiceCloud, NoteServiceCloudKit, NoteServiceTrash};
    for (const auto& c : cases) {
        QList<uint64_t> before;
        for (const int service : services)
            before.append(LinkFiles::changes(service));
        c.step();
        for (qsizetype i = 0; i < services.size(); ++i)
            EXPECT_EQ(LinkFiles::changes(services[i]) > before[i], c.changing.contains(services[i]))
                << c.what << " service " << services[i];
    }
}

TEST_F(CloudLinks, LocalChangesAreUnexchangedUntilALinkIsAsNewAsTheTextFile)
{
    const QString document = Note::documentFileForKey(Key, NoteStorageInbox);
    const int64_t changed = CloudNow - 10;
    const struct {
        const char* name;
        QList<std::pair<int, FileTime>> links;
        bool unexchanged;
    } cases[] = {
        {"never exchanged", {}, true},
        {"both older", {{NoteServiceCloud, {changed - 1, 0}}, {NoteServiceCloudKit, {changed - 1, 999999999}}}, true},
        {"drive as new", {{NoteServiceCloud, {changed, 0}}}, false},
        {"record newer", {{NoteServiceCloudKit, {changed, 1}}}, false},
        {"only trash", {{NoteServiceTrash, {changed + 5, 0}}}, true},
    };
    for (const auto& c : cases) {
        QDir(Note::cachesRoot() + QStringLiteral("/Link")).removeRecursively();
        TestSupport::writeFile(document, "text");
        ASSERT_TRUE(FileDates::setModificationDate(document, changed));
        for (const auto& [service, date] : c.links)
            RecordLinks.write(Key, service, NoteStorageInbox, date);
        EXPECT_EQ(SyncConflict::hasUnexchangedLocalChanges(Key, NoteStorageInbox), c.unexchanged) << c.name;
    }
    QFile::remove(document);
    EXPECT_FALSE(SyncConflict::hasUnexchangedLocalChanges(Key, NoteStorageInbox));
}

TEST_F(CloudLinks, AForkIsNamedByItsNoteAndTextSoKeepingItTwiceKeepsOneNote)
{
    // The shared Core's store outlives a repetition of the test: a title of its own each time.
    static int run = 0;
    const QString text = QStringLiteral("Plans for the whole week %1\nmine").arg(++run);
    const auto keep = [](const QString& text) {
        Core::shared().fileQueue()->sync(
            [&] { SyncConflict::keepAsFork(Key, NoteStorageInbox, text, CloudNow - 20, CloudNow - 120); });
        Dispatch::waitUntilIdle();
    };
    keep(text);
    const QString fork = SyncConflict::forkKey(Key, text);
    EXPECT_TRUE(fork.startsWith(QStringLiteral("Plan ")) && fork.endsWith(QStringLiteral(".txt"))) << qPrintable(fork);
    auto forked = std::make_shared<Note>(fork, NoteStorageInbox);
    forked->restoreMeta();
    EXPECT_EQ(forked->createdOn(), CloudNow - 120);
    EXPECT_EQ(forked->updatedOn(), CloudNow - 20);
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(fork, NoteStorageInbox)), text.toUtf8());
    const auto record = StoreClient(corePath()).fetch(NoteRecord::recordName(NoteStorageInbox, fork));
    ASSERT_TRUE(record);
    EXPECT_EQ(NoteRecord::stringFromData(*record->data(NoteRecord::TextKey), NoteRecord::Version), text);

    // Kept again (by this or another computer): the same note. Another text: another fork.
    keep(text);
    keep(text + QStringLiteral(" and more"));
    QStringList forks{fork, SyncConflict::forkKey(Key, text + QStringLiteral(" and more"))};
    forks.sort();
    EXPECT_EQ(localKeys(NoteStorageInbox), forks);
}

TEST_F(CloudLinks, AnIncomingTextMeetsTheLocalOneByWhatEachSideHadHeld)
{
    // A name of its own: the shared Core's store keeps other tests' records of "Plan.txt".
    const QString Key = QStringLiteral("Meeting.txt");
    const QString mine = QStringLiteral("Plan\nmine");
    const QString theirs = QStringLiteral("Plan\ntheirs");
    const QString older = QStringLiteral("Plan\nolder");
    const QString hMine = NoteHistory::hashOf(mine);
    const QString hTheirs = NoteHistory::hashOf(theirs);
    const QString hOlder = NoteHistory::hashOf(older);
    const bool mineWins = hMine > hTheirs;
    using O = SyncConflict::Outcome;
    const struct {
        const char* what;
        bool local;
        QStringList held;   // the local history
        bool mineCameIn;    // the local text was taken in unchanged
        QStringList theirHistory;
        O outcome;
        bool trashed;       // the local text copied into the Trash
        QString forked;     // the text kept as a fork, if any
    } cases[] = {
        {"no local note", false, {}, false, {hTheirs}, O::Take, false, {}},
        {"written over mine", true, {hMine}, false, {hTheirs, hMine}, O::Take, true, {}},
        {"written over mine, which had come in", true, {hMine}, true, {hTheirs, hMine}, O::Take, false, {}},
        {"an old text of mine", true, {hMine, hTheirs}, false, {hTheirs}, O::KeepLocal, false, {}},
        {"news over a text that came in", true, {hMine, hOlder}, true, {hTheirs, hOlder}, O::Take, false, {}},
        {"written beside mine", true, {hMine, hOlder}, false, {hTheirs, hOlder}, mineWins ? O::KeepLocal : O::Take,
         false, mineWins ? theirs : mine},
        // A history is written without waiting for the disk: a crash may leave it empty. An old text of
        // mine then looks written beside mine, and is kept as a fork rather than lost.
        {"an old text of mine, the history emptied by a crash", true, {}, false, {hTheirs},
         mineWins ? O::KeepLocal : O::Take, false, mineWins ? theirs : mine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Dispatch::waitUntilIdle(); // what an earlier case sent on
        QDir(Core::shared().documentDirectory()).removeRecursively();
        QDir(Trash::folder()).removeRecursively();
        QDir(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/History")).removeRecursively();
        if (c.local) {
            ASSERT_TRUE(awaitValue<bool>([&](auto done) { note(Key, mine, CloudNow - 20)->_commitAndCloseLocalNote(done); }));
            NoteHistory history;
            history.hashes = c.held;
            history.received = c.mineCameIn ? hMine : QString();
            history.save(Key, NoteStorageInbox);
            if (c.held.isEmpty()) {
                ASSERT_TRUE(AtomicFile::write(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path()
                                                  + QStringLiteral("/History/")
                                                  + Note::resourceNameForStorage(NoteStorageInbox) + '/' + Key,
                                              {}));
            }
        }
        O outcome = O::Same;
        Core::shared().fileQueue()->sync([&] {
            outcome = SyncConflict::meet({Key, NoteStorageInbox, theirs, CloudNow - 10, 0, c.theirHistory});
        });
        Dispatch::waitUntilIdle();
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(QDir(Trash::folder() + QStringLiteral("/files")).entryList(QDir::Files).size(), c.trashed ? 1 : 0);
        QStringList keys{Key};
        if (!c.forked.isEmpty())
            keys << SyncConflict::forkKey(Key, c.forked);
        keys.sort();
        EXPECT_EQ(localKeys(NoteStorageInbox), c.local ? keys : QStringList());
        if (!c.forked.isEmpty()) {
            EXPECT_EQ(localText(SyncConflict::forkKey(Key, c.forked)), c.forked);
        }
        if (outcome == O::KeepLocal) { // sent again, dated after theirs
            Note kept(Key, NoteStorageInbox);
            kept.restoreMeta();
            EXPECT_EQ(kept.updatedOn(), CloudNow - 9);
            EXPECT_TRUE(NoteHistory::load(Key, NoteStorageInbox).contains(hTheirs));
        }
    }
    // The same text: nothing changes but what the history knows.
    Core::shared().fileQueue()->sync([&] {
        EXPECT_EQ(SyncConflict::meet({Key, NoteStorageInbox, mine, CloudNow, 0, {hMine, hOlder}}), O::Same);
    });
    EXPECT_TRUE(NoteHistory::load(Key, NoteStorageInbox).contains(hOlder));
}

TEST_F(CloudLinks, ACommitCutShortIsCommittedAgainAsALocalChange)
{
    // Dated in the second the file was written, rounded up (the order by date stays), and after the last
    // exchange, so the send passes take it.
    const struct {
        const char* what;
        std::optional<int64_t> exchanged;
        bool lookedExchanged; // before the repair
        int64_t dated;
    } cases[] = {
        {"exchanged before the cut", CloudNow - 70, false, CloudNow - 59},
        {"exchanged after the file's date", CloudNow - 50, true, CloudNow - 49},
        {"never exchanged: another program's file", std::nullopt, false, CloudNow - 59},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString key = QStringLiteral("Cut short %1.txt").arg(&c - cases);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { note(key, "cut", CloudNow - 80)->_commitAndCloseLocalNote(done); }));
        if (c.exchanged)
            RecordLinks.write(key, NoteServiceCloudKit, NoteStorageInbox, cloudSeconds(*c.exchanged));
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        EXPECT_FALSE(repair(key)); // a whole second: a finished commit
        ASSERT_TRUE(FileTimes::setModificationTime(path, FileTime{CloudNow - 60, 250}));
        EXPECT_EQ(SyncConflict::hasUnexchangedLocalChanges(key, NoteStorageInbox), !c.lookedExchanged);
        EXPECT_FALSE(repair(QStringLiteral(".save-1.tmp")));
        EXPECT_TRUE(repair(key));
        EXPECT_EQ(FileTimes::modificationTime(path), cloudSeconds(c.dated));
        EXPECT_TRUE(SyncConflict::hasUnexchangedLocalChanges(key, NoteStorageInbox)); // the send passes take it
        EXPECT_EQ(localText(key), QStringLiteral("cut"));
    }
}

// The repair makes another program's text the store's own, so the folder watch will not report it:
// the repair tells of it instead, and of a text the watch took in already it tells nothing again.
TEST_F(CloudLinks, ARepairTellsOfAnotherProgramsTextOnce)
{
    QStringList told;
    const auto journal = std::make_shared<EventJournal>(QString(), &told);
    Core::shared().addNoteStorageListener(journal);
    const struct {
        const char* what;
        bool takenInByTheWatch;
        QStringList told;
    } cases[] = {
        {"written by another program", false, {QStringLiteral("update")}},
        {"already taken in by the folder watch", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString key = QStringLiteral("Outside %1.txt").arg(&c - cases);
        ASSERT_TRUE(awaitValue<bool>([&](auto done) { note(key, "ours", CloudNow - 80)->_commitAndCloseLocalNote(done); }));
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(path, "theirs");
        ASSERT_TRUE(FileTimes::setModificationTime(path, FileTime{CloudNow - 60, 250}));
        if (c.takenInByTheWatch) {
            Note seen(key, NoteStorageInbox);
            ASSERT_TRUE(seen.restoreText());
            ASSERT_TRUE(seen.writeTagLinkAndIndexFiles(true));
        }
        journal->clear();
        EXPECT_TRUE(repair(key));
        EXPECT_EQ(journal->lines(), c.told);
        EXPECT_EQ(localText(key), QStringLiteral("theirs"));
    }
    Core::shared().removeNoteStorageListener(journal.get());
}

TEST_F(CloudLinks, AWriteMakesTheLinkWhereNoneIsAndRedatesOnlyARealOne)
{
    const QString path = Note::linkFileForKey(Key, NoteServiceCloudKit, NoteStorageInbox);
    const QString nowhere = TestSupport::home() + QStringLiteral("/nowhere");
    const FileTime old{CloudNow - 90, 7}, date{CloudNow - 3, 123456789};
    const struct {
        const char* what;
        std::function<void()> before;
        bool file;                      // a plain file there afterwards
        std::optional<FileTime> dated;  // its date afterwards
    } cases[] = {
        {"no folder yet", [&] { QDir(QFileInfo(path).path()).removeRecursively(); }, true, date},
        {"folder, no link", [&] { QDir().mkpath(QFileInfo(path).path()); }, true, date},
        {"a link there", [&] { RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageInbox, old); }, true, date},
        {"a symbolic link to nothing", [&] { ASSERT_TRUE(QFile::link(nowhere, path)); }, false, std::nullopt},
        {"a folder there, left a folder", [&] { QDir().mkpath(path); }, false, date},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(Note::cachesRoot() + QStringLiteral("/Link")).removeRecursively();
        QDir().mkpath(QFileInfo(path).path());
        c.before();
        RecordLinks.write(Key, NoteServiceCloudKit, NoteStorageInbox, date);
        const QFileInfo info(path);
        EXPECT_EQ(info.isFile() && !info.isSymLink(), c.file);
        EXPECT_EQ(linkDate(NoteServiceCloudKit), c.dated);
        EXPECT_FALSE(QFileInfo::exists(nowhere)) << "written through a dangling link";
        if (c.file) {
            EXPECT_EQ(info.size(), 0);
        }
    }
}

TEST_F(CloudLinks, AHistoryReadsBackAsSavedFirstTimeAndOverAnOldOne)
{
    const auto saved = [](const QStringList& hashes, const QString& received) {
        NoteHistory history;
        history.hashes = hashes;
        history.received = received;
        history.save(Key, NoteStorageInbox);
    };
    const struct {
        const char* what;
        QStringList hashes;
        QString received;
    } steps[] = {
        {"first save", {"aaaa", "bbbb"}, ""},
        {"over it, longer", {"cccc", "aaaa", "bbbb"}, "cccc"},
        {"over it, shorter", {"dddd"}, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        saved(step.hashes, step.received);
        const NoteHistory read = NoteHistory::load(Key, NoteStorageInbox);
        EXPECT_EQ(read.hashes, step.hashes);
        EXPECT_EQ(read.received, step.received);
    }
    EXPECT_TRUE(NoteHistory::load(Key, NoteStorageArchive).hashes.isEmpty());
}
