#include "DriveTestSupport.h"

#include "Cloud/NoteHistory.h"
#include "Cloud/SyncConflict.h"

#include "SLDatabase.h"
#include "SLResultSet.h"
#include "files/AtomicFile.h"

#include <QProcess>

#include <atomic>
#include <future>
#include <mutex>

#include <unistd.h>

// This computer's drive cloud over a sync folder; the test plays the other computer.
class AppleCloudImport : public DriveCloudTest {
protected:
    qsizetype logged(const QString& line) const { return log->lines().mid(forgotten).count(line); }
    // Starts the query with the file queue held until each of the count
    // documents waits there: the imports are taken in at one turn.
    void syncTogether(int count)
    {
        std::promise<void> release;
        Core::shared().fileQueue()->async([released = release.get_future().share()] { released.wait(); });
        cloud->startQuery();
        const bool waiting = DispatchQueue::runMainUntil(
            [&] { return cloud->localizedStatus() == QStringLiteral("Download 0 / %1 ..").arg(count); }, 10);
        cloud->queue()->sync([] {}); // every worker has handed its document over
        release.set_value();
        Dispatch::waitUntilIdle();
        ASSERT_TRUE(waiting);
    }
    static QStringList cloudLinkedKeys()
    {
        return QDir(Note::linkDirectoryForService(NoteServiceCloud, NoteStorageInbox)).entryList(QDir::Files, QDir::Name);
    }
};

TEST_F(AppleCloudImport, OnlyRegularFilesOfTheNoteFoldersComeInOnce)
{
    const FileTime date{realNow() - 500, 123456789};
    writeDocument(QStringLiteral("Inbox/a.txt"), "alpha", date);
    writeDocument(QStringLiteral("Home/b.txt"), "beta", date);
    writeDocument(QStringLiteral("Archive/c.txt"), "gamma", date);
    const struct {
        const char* path;
        QByteArray bytes;
    } ignored[] = {{"Other/d.txt", "x"},
                   {"Inbox/.hidden.txt", "x"},
                   {"Inbox/deeper/e.txt", "x"},
                   {"Inbox/empty.txt", ""},
                   {"Inbox/undecodable.txt", QByteArray("\x81\x8D\x8F\x90\x9D", 5)},
                   {"Inbox/big.txt", QByteArray(FolderAppleCloud::MaxDocumentBytes + 1, 'a')}};
    for (const auto& document : ignored)
        writeDocument(QString::fromLatin1(document.path), document.bytes, date);
    TestSupport::writeFile(TestSupport::home() + QStringLiteral("/secret"), "private key");
    ASSERT_TRUE(QFile::link(TestSupport::home() + QStringLiteral("/secret"), document(QStringLiteral("Inbox/x.txt"))));
    sync();

    EXPECT_EQ(localKeys(NoteStorageInbox), (QStringList{"a.txt", "b.txt"}));
    EXPECT_EQ(localKeys(NoteStorageArchive), QStringList{"c.txt"});
    EXPECT_EQ(localText(QStringLiteral("c.txt"), NoteStorageArchive), QStringLiteral("gamma"));
    for (const char* nothing : {"empty.txt", "undecodable.txt", "big.txt"})
        EXPECT_FALSE(linkDate(NoteServiceCloud, QString::fromLatin1(nothing)));
    // The note's date in whole seconds, the link to the nanosecond.
    auto imported = std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox);
    imported->restoreMeta();
    EXPECT_EQ(imported->updatedOn(), date.seconds);
    EXPECT_EQ(linkDate(NoteServiceCloud, QStringLiteral("a.txt")), date);
    EXPECT_EQ(logged(QStringLiteral("apcloud:updateLocal update ok Inbox/a.txt")), 1);

    // Nothing new: nothing is read again. A rewrite in place comes in.
    forgetLog();
    sync();
    EXPECT_EQ(log->lines().mid(forgotten).filter(QStringLiteral("update ok")), QStringList());
    {
        QFile file(document(QStringLiteral("Inbox/a.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("alpha two");
    }
    sync();
    EXPECT_EQ(localText(QStringLiteral("a.txt")), QStringLiteral("alpha two"));
    EXPECT_EQ(records->tombstones.size(), 0u);
}

// More documents than workers: imports taken in together still leave each
// note its own row and a marker that matches its file.
TEST_F(AppleCloudImport, EveryImportedNoteIsIndexedWithAMarkerOfItsFile)
{
    constexpr int Documents = 3 * FolderAppleCloud::MaxWorkers;
    for (int i = 0; i < Documents; ++i)
        writeDocument(QStringLiteral("Inbox/n%1.txt").arg(i), QStringLiteral("Note %1\nbody #tag%1").arg(i).toUtf8(),
                      {realNow() - 500, 0});
    sync();

    QHash<QString, QString> contents;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        SLResultSet rows = db.executeQuery(QStringLiteral("SELECT key, content FROM notes"));
        while (rows.next())
            contents.insert(rows.stringForColumnIndex(0), rows.stringForColumnIndex(1));
    });
    EXPECT_EQ(contents.size(), Documents);
    for (int i = 0; i < Documents; ++i) {
        const QString key = QStringLiteral("n%1.txt").arg(i);
        EXPECT_EQ(contents.value(QStringLiteral("inbox/") + key), QStringLiteral("Note %1 body #tag%1").arg(i)) << qPrintable(key);
        const NoteIndexMarker::Stamp text = NoteIndexMarker::stampOf(Note::documentFileForKey(key, NoteStorageInbox));
        EXPECT_TRUE(text.regular) << qPrintable(key);
        EXPECT_EQ(NoteIndexMarker::stampOf(Note::indexFileForKey(key, NoteStorageInbox)), text) << qPrintable(key);
    }
}

// Every wait for the disk is paid per turn: a turn starts only once the
// documents already handed to the workers are read, so it takes all of them.
TEST_F(AppleCloudImport, EachTurnTakesEveryDocumentTheWorkersHaveRead)
{
    constexpr int Documents = 2 * FolderAppleCloud::MaxWorkers + 3;
    for (int i = 0; i < Documents; ++i)
        writeDocument(QStringLiteral("Inbox/n%1.txt").arg(i), QStringLiteral("Note %1").arg(i).toUtf8(), {realNow() - 500, 0});
    const QString notes = QFileInfo(Note::documentDirectoryForStorage(NoteStorageInbox)).absoluteFilePath();
    std::atomic<int> flushes = 0;
    AtomicFile::setFlushWatch([&](const QString& folder) { flushes += folder == notes ? 1 : 0; });
    sync();
    AtomicFile::setFlushWatch({});

    EXPECT_EQ(localKeys(NoteStorageInbox).size(), Documents);
    EXPECT_EQ(flushes.load(), 3);
}

// A link to a text that a crash took would have the trash pass delete its
// document: the notes' folder is flushed once for a turn's imports, and before
// any of them is linked.
TEST_F(AppleCloudImport, ImportsTakenInTogetherAreLinkedOnlyAfterOneFlushOfTheirFolder)
{
    constexpr int Count = FolderAppleCloud::MaxWorkers;
    for (int i = 0; i < Count; ++i)
        writeDocument(QStringLiteral("Inbox/t%1.txt").arg(i), QStringLiteral("Note %1").arg(i).toUtf8(), {realNow() - 500, 0});
    const QString notes = QFileInfo(Note::documentDirectoryForStorage(NoteStorageInbox)).absoluteFilePath();
    std::mutex mutex;
    int flushes = 0;
    QStringList flushedTexts;
    QStringList linkedEarly;
    AtomicFile::setFlushWatch([&](const QString& folder) {
        if (folder != notes)
            return;
        std::lock_guard lock(mutex);
        ++flushes;
        for (const QString& key : cloudLinkedKeys()) {
            if (!flushedTexts.contains(key))
                linkedEarly.append(key);
        }
        flushedTexts = localKeys(NoteStorageInbox);
    });
    syncTogether(Count);
    AtomicFile::setFlushWatch({});

    EXPECT_EQ(flushes, 1);
    EXPECT_EQ(linkedEarly, QStringList());
    EXPECT_EQ(flushedTexts.size(), Count);
    EXPECT_EQ(cloudLinkedKeys(), flushedTexts);
    EXPECT_EQ(log->lines().filter(QStringLiteral("apcloud:updateLocal update ok")).size(), Count);
}

// A cut text under a note's name would pass for an edit made here: a turn's
// new texts are all on disk before the first takes its name, and each name
// gets the text that was flushed for it.
TEST_F(AppleCloudImport, ImportsTakenInTogetherTakeTheirNamesOnlyOnceEveryTextIsOnDisk)
{
    constexpr int Count = FolderAppleCloud::MaxWorkers;
    QStringList texts;
    for (int i = 0; i < Count; ++i) {
        texts.append(QStringLiteral("Note %1\nbody #tag%1").arg(i));
        writeDocument(QStringLiteral("Inbox/t%1.txt").arg(i), texts.last().toUtf8(), {realNow() - 500, 0});
    }
    const QString notes = QFileInfo(Note::documentDirectoryForStorage(NoteStorageInbox)).absoluteFilePath();
    std::mutex mutex;
    QStringList flushedTexts;
    QStringList namedEarly;
    AtomicFile::setFlushWatch([&](const QString& path) {
        // The texts' temporaries: the folder's own flush has another parent.
        if (QFileInfo(path).absolutePath() != notes)
            return;
        std::lock_guard lock(mutex);
        namedEarly += localKeys(NoteStorageInbox);
        flushedTexts.append(QString::fromUtf8(TestSupport::readFile(path)));
    });
    syncTogether(Count);
    AtomicFile::setFlushWatch({});

    EXPECT_EQ(namedEarly, QStringList());
    flushedTexts.sort();
    EXPECT_EQ(flushedTexts, texts);
    EXPECT_EQ(localKeys(NoteStorageInbox).size(), Count);
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(localText(QStringLiteral("t%1.txt").arg(i)), texts.at(i));
}

// Taken in together as one after the other: the note's own import drops no
// fork of its text that came in beside it.
TEST_F(AppleCloudImport, ANoteAndAForkOfItsTextTakenInTogetherAreBothKept)
{
    const QString key = QStringLiteral("Plan.txt");
    const QString text = QStringLiteral("The plan");
    const QString fork = SyncConflict::forkKey(key, text);
    for (const QString& name : {key, fork})
        writeDocument(QStringLiteral("Inbox/") + name, text.toUtf8(), {realNow() - 500, 0});
    syncTogether(2);

    EXPECT_EQ(localText(key), text);
    EXPECT_EQ(localText(fork), text);
    QStringList both{key, fork};
    both.sort();
    EXPECT_EQ(cloudLinkedKeys(), both);
    EXPECT_TRUE(QFile::exists(document(QStringLiteral("Inbox/") + fork)));
}

TEST_F(AppleCloudImport, StoppingTheQueryEndsAPassAndASecondStartDoesNothing)
{
    constexpr int Count = 20;
    for (int i = 0; i < Count; ++i)
        writeDocument(QStringLiteral("Inbox/%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x", {realNow() - 500 + i, 0});
    // Holds the imports in flight at the file queue.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Core::shared().fileQueue()->async([released] { released.wait(); });

    cloud->startQuery();
    cloud->startQuery();
    const QString inFlight = QStringLiteral("Download 0 / %1 ..").arg(Count);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cloud->localizedStatus() == inFlight; }, 10));
    cloud->queue()->sync([] {}); // every worker has started
    cloud->stopQuery();
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Idle);
    release.set_value();
    Dispatch::waitUntilIdle();

    EXPECT_EQ(localKeys(NoteStorageInbox).size(), qsizetype(FolderAppleCloud::MaxWorkers));
    EXPECT_EQ(logged(QStringLiteral("apcloud:startQuery start")), 1);
    EXPECT_EQ(cloud->localizedStatus(), QStringLiteral("Cannot start query"));
}

TEST_F(AppleCloudImport, TheTrashPassDeletesOnlyWhatAHealthyFolderLost)
{
    const QString elsewhere = TestSupport::home() + QStringLiteral("/Elsewhere");
    const struct {
        const char* what;
        int missing;
        std::function<void()> breakFolder;
        bool deletes;
    } cases[] = {
        {"one document deleted elsewhere", 1, {}, true},
        {"a third of them gone", 30, {}, false},
        {"the folder moved", 0, [&] { QDir().rename(root, elsewhere); }, false},
        {"the account file gone", 1, [&] { QFile::remove(root + "/.account"); }, false},
        {"a storage folder gone", 0, [&] { QDir(document("Inbox")).removeRecursively(); }, false},
        {"a document kept in the Home folder", 0, [&] {
             QDir().mkpath(document("Home"));
             QFile::rename(document("Inbox/N000.txt"), document("Home/N000.txt"));
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        makeLinkedNotes(100);
        // A note never sent to the folder stays whatever happens.
        auto unlinked = note(QStringLiteral("Unlinked.txt"), "mine", realNow() - 1000);
        Core::shared().fileQueue()->sync([unlinked] { unlinked->_commitAndCloseLocalNote({}); });
        const FileTime linked = *linkDate(NoteServiceCloud, QStringLiteral("N000.txt"));
        for (int i = 0; i < c.missing; ++i)
            QFile::remove(document(QStringLiteral("Inbox/N%1.txt").arg(i, 3, 10, QLatin1Char('0'))));
        if (c.breakFolder)
            c.breakFolder();
        sync();

        const QStringList keys = localKeys(NoteStorageInbox);
        EXPECT_TRUE(keys.contains(QStringLiteral("Unlinked.txt")));
        EXPECT_EQ(keys.size(), c.deletes ? 101 - c.missing : 101);
        EXPECT_EQ(records->tombstones.size(), c.deletes ? size_t(c.missing) : 0u);
        if (c.deletes) {
            EXPECT_EQ(records->tombstones[QStringLiteral("N000.txt")], linked);
            EXPECT_EQ(linkDate(NoteServiceTrash, QStringLiteral("N000.txt")), linked);
            EXPECT_FALSE(linkDate(NoteServiceCloud, QStringLiteral("N000.txt")));
            EXPECT_FALSE(QFile::exists(document(QStringLiteral("Inbox/N000.txt")))); // not sent back
        }
        TearDown();
        QDir(elsewhere).removeRecursively();
    }
    SetUp();
}

TEST_F(AppleCloudImport, AnOfflineEditMeetingARemoteChangeKeepsBothTexts)
{
    makeLinkedNotes(1);
    const QString key = QStringLiteral("N000.txt");
    const QString account = root + QStringLiteral("/.account");

    // The folder's account is away while the note is edited here.
    ASSERT_TRUE(QFile::rename(account, account + QStringLiteral("~")));
    sync();
    auto edited = note(key, "edited here", realNow() + 100);
    Core::shared().fileQueue()->sync([edited] { edited->_commitAndCloseLocalNote({}); });
    // Meanwhile the other computer changed the same note.
    writeDocument(QStringLiteral("Inbox/") + key, "edited there", {realNow() + 200, 0});
    ASSERT_TRUE(QFile::rename(account + QStringLiteral("~"), account));
    sync();

    EXPECT_EQ(localTexts(), (QStringList{"edited here", "edited there"}));
    EXPECT_EQ(localText(key), QStringLiteral("edited there"));
}

// A link dated ahead of the clock (a conflict re-send) makes a later save elsewhere look older.
TEST_F(AppleCloudImport, ADocumentSentOverTheNotesTextPassesALinkDatedAfterIt)
{
    const QString key = QStringLiteral("N000.txt");
    const QString mine = QStringLiteral("mine");
    const QString theirs = QStringLiteral("theirs");
    ASSERT_LT(NoteHistory::hashOf(mine), NoteHistory::hashOf(theirs)); // the greater hash holds the note
    for (const bool knowsMine : {true, false}) {
        makeLinkedNotes(1);
        const QString local = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(local, mine.toUtf8());
        ASSERT_TRUE(FileTimes::setModificationTime(local, {realNow() - 1000, 0}));
        NoteHistory history;
        history.add(NoteHistory::hashOf(theirs));
        history.add(NoteHistory::hashOf(mine));
        history.received = NoteHistory::hashOf(theirs);
        history.save(key, NoteStorageInbox);
        LinkFiles(LinkFiles::Owner::AppleCloud).write(key, NoteServiceCloud, NoteStorageInbox, FileTime{realNow() - 800, 0});
        writeDocument(QStringLiteral("Inbox/") + key, theirs.toUtf8(), {realNow() - 801, 500000000});
        const QString sent = NoteHistory::hashOf(theirs) + QLatin1Char(' ')
                             + (knowsMine ? NoteHistory::hashOf(mine) : QStringLiteral("0123456789abcdef"));
        TestSupport::writeFile(document(QStringLiteral(".history/Inbox/") + key),
                               (NoteHistory::hashOf(theirs) + QLatin1Char('\n') + sent).toLatin1());
        sync();

        EXPECT_EQ(localText(key), knowsMine ? theirs : mine) << knowsMine;
        cloud->stopQuery();
        Dispatch::waitUntilIdle();
    }
}

TEST_F(AppleCloudImport, AnotherAccountDropsTheCloudLinksAndReceivesEveryNote)
{
    makeLinkedNotes(3);
    cloud->stopQuery();
    // The setting now names a folder of another account, which has none of the documents.
    const QString other = TestSupport::home() + QStringLiteral("/Other");
    QDir(other).removeRecursively();
    QDir().mkpath(other);
    ASSERT_TRUE(cloud->container().chooseFolder(other));
    root = other;
    sync();

    EXPECT_EQ(localKeys(NoteStorageInbox).size(), 3);
    EXPECT_TRUE(records->tombstones.empty());
    EXPECT_EQ(QDir(document(QStringLiteral("Inbox"))).entryList(QDir::Files).size(), 3);
}

TEST_F(AppleCloudImport, ABrokenCloudLinkStillTrashesTheNoteDatedByItsMeta)
{
    makeLinkedNotes(10);
    const int64_t updated = realNow() - 2000;
    auto broken = note(QStringLiteral("Broken.txt"), "broken", updated);
    Core::shared().fileQueue()->sync([broken] { broken->_commitAndCloseLocalNote({}); });
    const QString link = Note::linkFileForKey(QStringLiteral("Broken.txt"), NoteServiceCloud, NoteStorageInbox);
    ASSERT_TRUE(QFile::link(TestSupport::home() + QStringLiteral("/nowhere"), link));
    sync();

    EXPECT_FALSE(localText(QStringLiteral("Broken.txt")));
    EXPECT_EQ(records->tombstones[QStringLiteral("Broken.txt")], cloudSeconds(updated));
    EXPECT_EQ(linkDate(NoteServiceTrash, QStringLiteral("Broken.txt")), cloudSeconds(updated));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(logged(QStringLiteral("apcloud:trash use meta update Inbox/Broken.txt")), 1);
    EXPECT_EQ(localKeys(NoteStorageInbox).size(), 10);
}

TEST_F(AppleCloudImport, AnEditThatWentNowhereOutlivesItsDocumentDeletedElsewhere)
{
    makeLinkedNotes(10);
    const QString local = Note::documentFileForKey(QStringLiteral("N003.txt"), NoteStorageInbox);
    TestSupport::writeFile(local, "edited offline");
    ASSERT_TRUE(FileTimes::setModificationTime(local, {realNow() - 100, 0}));
    QFile::remove(document(QStringLiteral("Inbox/N003.txt")));
    QFile::remove(document(QStringLiteral("Inbox/N004.txt")));
    sync();
    const QString fork = SyncConflict::forkKey(QStringLiteral("N003.txt"), QStringLiteral("edited offline"));
    EXPECT_FALSE(localText(QStringLiteral("N003.txt")));
    EXPECT_FALSE(localText(QStringLiteral("N004.txt"))); // unchanged here: simply gone
    EXPECT_EQ(localText(fork), QStringLiteral("edited offline"));
}

// The pass at every start sends only texts changed here since their exchange; a
// file another program wrote (a date with nanoseconds) is committed again first.
TEST_F(AppleCloudImport, TheUploadPassSendsOnlyTextsChangedHereSinceTheirExchange)
{
    makeLinkedNotes(4);
    const auto rewriteLocal = [](const QString& key, const QByteArray& text, const FileTime& date) {
        const QString local = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(local, text);
        ASSERT_TRUE(FileTimes::setModificationTime(local, date));
    };
    rewriteLocal(QStringLiteral("N001.txt"), "written by another program", {realNow() - 100, 250});
    rewriteLocal(QStringLiteral("N002.txt"), "an edit of the same second", exchanged);
    QFile::remove(document(QStringLiteral("Inbox/N003.txt")));
    sync();

    EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Inbox/N000.txt"))), "text");
    EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Inbox/N001.txt"))), "written by another program");
    EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Inbox/N002.txt"))), "text"); // the link covers its second
    EXPECT_FALSE(QFile::exists(document(QStringLiteral("Inbox/N003.txt"))));
    EXPECT_FALSE(localText(QStringLiteral("N003.txt"))); // gone elsewhere, unchanged here
}

// The choice dates a Cloud link from the record store's; the upload pass right after it compares with that date,
// not with the one the choice read.
TEST_F(AppleCloudImport, TheUploadPassComparesWithTheLinkTheChoiceReDated)
{
    makeLinkedNotes(1);
    const QString key = QStringLiteral("N000.txt");
    const FileTime held{realNow() - 500, 0};
    writeDocument(QStringLiteral("Inbox/") + key, "text", held);
    RecordLinks.write(key, NoteServiceCloudKit, NoteStorageInbox, held);
    const QString local = Note::documentFileForKey(key, NoteStorageInbox);
    TestSupport::writeFile(local, "edited here since");
    ASSERT_TRUE(FileTimes::setModificationTime(local, {realNow() - 100, 0}));
    sync();

    EXPECT_EQ(logged(QStringLiteral("apcloud:file resist update (ckcloud) Inbox/N000.txt")), 1);
    EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Inbox/") + key)), "edited here since");
    EXPECT_EQ(localText(key), QStringLiteral("edited here since"));
}

// "Home" and "Inbox" hold one note: the link the choice re-dates for the newer document is the one the older meets.
TEST_F(AppleCloudImport, TheChoiceMeetsTheLinkItReDatedForTheSameNoteInTheOtherFolder)
{
    makeLinkedNotes(1); // the account's links, their folder among them
    const QString key = QStringLiteral("x.txt");
    const FileTime older{realNow() - 600, 0};
    const FileTime newer{realNow() - 500, 0};
    writeDocument(QStringLiteral("Inbox/") + key, "inbox text", older);
    QDir().mkpath(document(QStringLiteral("Home")));
    writeDocument(QStringLiteral("Home/") + key, "home text", newer);
    RecordLinks.write(key, NoteServiceCloudKit, NoteStorageInbox, newer);
    sync();

    EXPECT_EQ(logged(QStringLiteral("apcloud:file resist update (ckcloud) Inbox/x.txt")), 1);
    EXPECT_EQ(linkDate(NoteServiceCloud, key), newer);
    EXPECT_FALSE(localText(key));
}

TEST_F(AppleCloudImport, AnOpenDocumentIsLeftToItsOwnImportUntilDeletedFromOutside)
{
    sync();
    const QString path = document(QStringLiteral("Inbox/Open.txt"));
    const FileTime date{realNow() - 300, 42};
    writeDocument(QStringLiteral("Inbox/Open.txt"), "opened", date);
    auto open = std::make_shared<AppleDocument>(*AppleDocument::open(path));
    cloud->presentDocument(open);
    sync();
    EXPECT_FALSE(localText(QStringLiteral("Open.txt")));
    EXPECT_EQ(cloud->openingFiles(), QStringList{path});

    const auto update = [&](const AppleDocument& document, std::optional<int> key) {
        awaitValue<bool>([&](auto done) {
            const auto finished = [done] { done(true); };
            key ? cloud->updateFile(document, *key, finished) : cloud->updateLocalFile(document, finished);
        });
        Dispatch::waitUntilIdle();
    };
    update(*open, -1); // a pass long over
    EXPECT_FALSE(localText(QStringLiteral("Open.txt")));
    update(*open, std::nullopt);
    EXPECT_EQ(localText(QStringLiteral("Open.txt")), QStringLiteral("opened"));
    EXPECT_EQ(linkDate(NoteServiceCloud, QStringLiteral("Open.txt")), date);
    forgetLog();
    update(*open, std::nullopt);
    EXPECT_EQ(logged(QStringLiteral("apcloud:localfile resist update (applecloud) Inbox/Open.txt")), 1);
    AppleDocument blank(document(QStringLiteral("Inbox/Blank.txt")));
    ASSERT_TRUE(blank.save());
    update(blank, std::nullopt);
    EXPECT_FALSE(localText(QStringLiteral("Blank.txt")));

    // Deleted from outside: the document lets go, and the note goes as any other.
    QFile::remove(path);
    sync();
    EXPECT_EQ(logged(QStringLiteral("apdoc:delete me!?")), 1);
    EXPECT_EQ(cloud->openingFiles(), QStringList());
    EXPECT_FALSE(localText(QStringLiteral("Open.txt")));
}

TEST_F(AppleCloudImport, ADocumentThisComputerCannotWriteIsLoggedAndStillComesIn)
{
    writeDocument(QStringLiteral("Inbox/Fixed.txt"), "fixed", {realNow() - 100, 0});
    const QString path = document(QStringLiteral("Inbox/Fixed.txt"));
    // Read-only for everybody but root, which only an immutable file stops.
    const auto setFixed = [&](bool on) {
        if (::geteuid() != 0)
            return QFile::setPermissions(path, on ? QFile::ReadOwner : QFile::ReadOwner | QFile::WriteOwner);
        return QProcess::execute(QStringLiteral("chattr"), {on ? QStringLiteral("+i") : QStringLiteral("-i"), path}) == 0;
    };
    if (!setFixed(true))
        GTEST_SKIP() << "cannot make a file unwritable here";
    sync();
    setFixed(false);
    EXPECT_EQ(logged(QStringLiteral("apcloud:file uploadError:The file cannot be written. Inbox/Fixed.txt ")), 1);
    EXPECT_EQ(localText(QStringLiteral("Fixed.txt")), QStringLiteral("fixed"));
}

TEST_F(AppleCloudImport, ALockedQueryWaitsForItsUnlockAndAnEmergencyStopActsAtOnce)
{
    cloud->lockQuery();
    cloud->startQuery();
    cloud->stopQuery();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Locked);
    EXPECT_EQ(cloud->localizedStatus(), QStringLiteral("Locked"));
    EXPECT_EQ(awaitValue<QString>([&](auto done) { cloud->fileURLForNote(note("Plan.txt", "x", 1), done); }), QString());

    cloud->unlockAndStartQuery();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Running);
    cloud->lockQuery(); // only from idle
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Running);
    EXPECT_EQ(awaitValue<QString>([&](auto done) { cloud->fileURLForNote(note("Plan.txt", "x", 1, NoteStorageArchive), done); }),
              document(QStringLiteral("Archive/Plan.txt")));

    cloud->emergencyStopQuery();
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Idle);
    EXPECT_EQ(logged(QStringLiteral("apcloud:emergencyStopQuery stop.. ok")), 1);
    writeDocument(QStringLiteral("Inbox/Late.txt"), "late", {realNow() - 10, 0});
    time.advance(FolderQuery::RescanInterval);
    Dispatch::waitUntilIdle();
    EXPECT_FALSE(localText(QStringLiteral("Late.txt"))); // nobody watches
    cloud->unlockAndStartQuery(); // not locked: nothing
    Dispatch::waitUntilIdle();
    EXPECT_EQ(cloud->state(), FolderAppleCloud::Idle);

    Core::shared().setEnabledAppleCloud(false);
    bool answered = false;
    cloud->fileURLForNote(note("Plan.txt", "x", 1), [&](const QString& path) { answered = path.isEmpty(); });
    EXPECT_TRUE(answered); // at once
}
