#include "DriveTestSupport.h"

#include "Cloud/NoteHistory.h"
#include "Cloud/SyncConflict.h"

#include <QDir>
#include <QFile>

namespace {

using CommitAnswer = std::pair<QDateTime, Error>;

NotePtr makeNote(const QString& key, const QString& text, int storage = NoteStorageInbox)
{
    auto note = std::make_shared<Note>(key, storage);
    note->setText(text);
    return note;
}

// A CloudKit side whose wait hops through a queue of its own, as the real one does.
class QueuedCKCloud : public RecordingCKCloud {
public:
    void wait(std::function<void()> block) override
    {
        queue->async([block = std::move(block)] { Note::services()->fileQueue()->async(block); });
    }
    DispatchQueuePtr queue = DispatchQueue::createSerial(QStringLiteral("test.ckcloud"));
};

} // namespace

class AppleCloudWrite : public DriveCloudTest {
protected:
    void SetUp() override
    {
        DriveCloudTest::SetUp();
        sync(); // the folder's documents become known
    }
    using CommitCall = void (AppleCloud::*)(const NotePtr&, AppleCloud::CommitHandler);
    CommitAnswer commit(const NotePtr& note, CommitCall call = &AppleCloud::commitNote)
    {
        return awaitValue<CommitAnswer>([&](auto done) {
            ((*cloud).*call)(note, [done](const QDateTime& date, const Error& error) { done({date, error}); });
        });
    }
    Error rename(const NotePtr& from, const NotePtr& to)
    {
        return awaitValue<Error>([&](auto done) { cloud->renameNote(from, to, done); });
    }
    Error remove(const NotePtr& note)
    {
        return awaitValue<Error>([&](auto done) { cloud->deleteNote(note, done); });
    }
    QByteArray inboxDocument(const QString& key) const { return TestSupport::readFile(document(QStringLiteral("Inbox/") + key)); }
};

TEST_F(AppleCloudWrite, OffOrWithoutAFolderEveryHandlerAnswersAtOnceAndNothingIsWritten)
{
    const std::function<void()> switches[] = {
        [] { Core::shared().setEnabledAppleCloud(false); },
        [this] { ASSERT_TRUE(QFile::remove(root + QStringLiteral("/.account"))); }, // no account: no token
    };
    for (const auto& switchOff : switches) {
        switchOff();
        const NotePtr note = makeNote(QStringLiteral("a.txt"), QStringLiteral("text"));
        int answered = 0;
        auto commitHandler = [&](const QDateTime& date, const Error& error) {
            EXPECT_TRUE(date.isNull() && error.isNull());
            ++answered;
        };
        auto handler = [&](const Error& error) {
            EXPECT_TRUE(error.isNull());
            ++answered;
        };
        cloud->commitNote(note, commitHandler);
        cloud->commitAndCloseNote(note, commitHandler);
        cloud->prepareNote(note, commitHandler);
        cloud->renameNote(note, makeNote(QStringLiteral("b.txt"), QString()), handler);
        cloud->moveNote(note, makeNote(QStringLiteral("a.txt"), QString(), NoteStorageArchive), handler);
        cloud->deleteNote(note, handler);
        EXPECT_EQ(answered, 6);
        Dispatch::waitUntilIdle();
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/a.txt"))));
        EXPECT_FALSE(linkDate(NoteServiceCloud, QStringLiteral("a.txt")));
    }
}

TEST_F(AppleCloudWrite, ACommitSavesUtf8AndLinksTheDateAndTakesInATextChangedElsewhereFirst)
{
    const NotePtr note = makeNote(QStringLiteral("a.txt"), QStringLiteral("caf\u00e9"));
    const auto [date, error] = commit(note);
    ASSERT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_EQ(inboxDocument(QStringLiteral("a.txt")), QByteArray("caf\xC3\xA9"));
    const auto linked = linkDate(NoteServiceCloud, QStringLiteral("a.txt"));
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->toDateTime(), date);

    // Another machine's edit, newer than this one's last save, not imported yet:
    // the save waits, both texts stay, and the conflict rule picks the note's.
    writeDocument(QStringLiteral("Inbox/a.txt"), "theirs", {realNow() + 60, 0});
    note->setText(QStringLiteral("mine"));
    Core::shared().fileQueue()->sync([note] { note->_commitAndCloseLocalNote({}); });
    EXPECT_FALSE(commit(note).second.isNull());
    Dispatch::waitUntilIdle();

    const bool mineWins = NoteHistory::hashOf("mine") > NoteHistory::hashOf("theirs");
    EXPECT_EQ(localText(QStringLiteral("a.txt")), mineWins ? "mine" : "theirs");
    EXPECT_EQ(localTexts(), (QStringList{"mine", "theirs"}));
    EXPECT_EQ(log->lines().filter(QStringLiteral("apcloud:save takes in first a.txt")).size(), 1);
}

TEST_F(AppleCloudWrite, ASaveNeverWritesThroughALinkOrOverAFolder)
{
    const QString outside = TestSupport::home() + QStringLiteral("/outside.txt");
    TestSupport::writeFile(outside, "keep");
    QDir().mkpath(document(QStringLiteral("Inbox/folder.txt")));
    ASSERT_TRUE(QFile::link(outside, document(QStringLiteral("Inbox/link.txt"))));
    for (const QString& key : {QStringLiteral("link.txt"), QStringLiteral("folder.txt")}) {
        const auto [date, error] = commit(makeNote(key, QStringLiteral("text")));
        EXPECT_FALSE(error.isNull()) << key.toStdString();
        EXPECT_TRUE(date.isNull());
        EXPECT_FALSE(linkDate(NoteServiceCloud, key));
    }
    EXPECT_EQ(TestSupport::readFile(outside), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo(document(QStringLiteral("Inbox/folder.txt"))).isDir());
}

// A storage folder replaced by a link to a folder outside: nothing is written
// through it, and the document of a note moved there stays where it was.
TEST_F(AppleCloudWrite, AStorageFolderThatIsALinkIsLeftAlone)
{
    const QString outside = TestSupport::home() + QStringLiteral("/Outside");
    TestSupport::writeFile(outside + QStringLiteral("/theirs.txt"), "theirs");
    ASSERT_TRUE(QDir(document(QStringLiteral("Archive"))).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, document(QStringLiteral("Archive"))));
    const NotePtr moved = makeNote(QStringLiteral("moved.txt"), QStringLiteral("mine"));
    ASSERT_TRUE(commit(moved).second.isNull());
    const auto log = LogCapture::install();

    const NotePtr archived = makeNote(QStringLiteral("moved.txt"), QStringLiteral("mine"), NoteStorageArchive);
    EXPECT_TRUE(awaitValue<Error>([&](auto done) { cloud->moveNote(moved, archived, done); }).isNull());
    EXPECT_FALSE(commit(makeNote(QStringLiteral("saved.txt"), QStringLiteral("mine"), NoteStorageArchive)).second.isNull());
    const NotePtr theirs = makeNote(QStringLiteral("theirs.txt"), QStringLiteral("mine"), NoteStorageArchive);
    EXPECT_FALSE(commit(theirs).second.isNull());
    EXPECT_TRUE(rename(theirs, makeNote(QStringLiteral("renamed.txt"), QStringLiteral("mine"), NoteStorageArchive)).isNull());
    remove(theirs);
    log->uninstall();

    EXPECT_EQ(QDir(outside).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("theirs.txt")});
    EXPECT_EQ(TestSupport::readFile(outside + QStringLiteral("/theirs.txt")), QByteArray("theirs"));
    EXPECT_EQ(inboxDocument(QStringLiteral("moved.txt")), QByteArray("mine"));
    EXPECT_FALSE(log->lines().filter(QStringLiteral("/Documents/Archive is a link, left alone")).isEmpty());
}

TEST_F(AppleCloudWrite, ARenameWithoutAnOldDocumentSucceedsAndTrashesTheOldName)
{
    const FileTime exchanged{realNow() - 100, 0};
    LinkFiles(LinkFiles::Owner::AppleCloud).write(QStringLiteral("old.txt"), NoteServiceCloud, NoteStorageInbox, exchanged);
    EXPECT_TRUE(rename(makeNote(QStringLiteral("old.txt"), QString()), makeNote(QStringLiteral("new.txt"), QString()))
                    .isNull());
    EXPECT_FALSE(linkDate(NoteServiceCloud, QStringLiteral("old.txt")));
    EXPECT_EQ(linkDate(NoteServiceTrash, QStringLiteral("old.txt")), exchanged);
    EXPECT_EQ(linkDate(NoteServiceCloud, QStringLiteral("new.txt")), exchanged);
    EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/new.txt"))));
}

TEST_F(AppleCloudWrite, ARenameMovesTheDocumentOrKeepsADifferentOneInTheWay)
{
    // The plain case: the document goes along with its link.
    const NotePtr first = makeNote(QStringLiteral("first.txt"), QStringLiteral("mine"));
    ASSERT_TRUE(commit(first).second.isNull());
    const auto saved = FileTimes::modificationTime(document(QStringLiteral("Inbox/first.txt")));
    const NotePtr last = makeNote(QStringLiteral("last.txt"), QStringLiteral("mine"));
    EXPECT_TRUE(rename(first, last).isNull());
    EXPECT_EQ(inboxDocument(QStringLiteral("last.txt")), QByteArray("mine"));
    EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/first.txt"))));
    EXPECT_EQ(linkDate(NoteServiceCloud, QStringLiteral("last.txt")), saved);

    // Another note's document in the way: the old one goes, and both texts stay.
    const NotePtr from = makeNote(QStringLiteral("old.txt"), QStringLiteral("mine too"));
    ASSERT_TRUE(commit(from).second.isNull());
    const NotePtr to = makeNote(QStringLiteral("new.txt"), QStringLiteral("mine too"));
    Core::shared().fileQueue()->sync([to] { to->_commitAndCloseLocalNote({}); }); // the note store renamed it
    writeDocument(QStringLiteral("Inbox/new.txt"), "another note", {realNow() - 10, 0});
    EXPECT_TRUE(rename(from, to).isNull());
    Dispatch::waitUntilIdle();
    EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/old.txt"))));
    EXPECT_EQ(localTexts(), (QStringList{"another note", "mine too"}));
}

TEST_F(AppleCloudWrite, TheMoveStepRefusesAnExistingDestination)
{
    const QString source = document(QStringLiteral("Inbox/a.txt"));
    const QString destination = document(QStringLiteral("Archive/a.txt"));
    TestSupport::writeFile(source, "moved");
    TestSupport::writeFile(destination, "there");
    const Error error = FolderAppleCloud::moveFile(source, destination);
    EXPECT_EQ(error.code, 512);
    EXPECT_EQ(error.domain, QStringLiteral("The document, already exists at path: %1").arg(destination));
    EXPECT_EQ(error.userInfo.value(QStringLiteral("FileURL")).toString(), destination);
    EXPECT_EQ(TestSupport::readFile(destination), QByteArray("there"));
    EXPECT_EQ(TestSupport::readFile(source), QByteArray("moved"));

    ASSERT_TRUE(QFile::remove(destination));
    EXPECT_TRUE(FolderAppleCloud::moveFile(source, destination).isNull());
    EXPECT_EQ(TestSupport::readFile(destination), QByteArray("moved"));
    EXPECT_TRUE(FolderAppleCloud::moveFile(source, destination).isNull()); // nothing left to move
}

TEST_F(AppleCloudWrite, PrepareSavesACloudKitNoteOnceUnlessTrashedSince)
{
    const FileTime received{realNow() - 50, 0};
    struct Case {
        const char* name;
        std::optional<FileTime> ckLink;
        std::optional<FileTime> trashLink;
        bool saved;
        // Read from a local file too large to read whole: only its head is the text.
        bool tooLarge = false;
    } cases[] = {
        {"no record link", std::nullopt, std::nullopt, false},
        {"record link", received, std::nullopt, true},
        {"trashed at the same time", received, received, false},
        {"trashed before", received, FileTime{received.seconds - 10, 0}, true},
        {"too large", received, std::nullopt, false, true},
    };
    const LinkFiles drive(LinkFiles::Owner::AppleCloud);
    for (const Case& c : cases) {
        const QString key = QString::fromLatin1(c.name) + QStringLiteral(".txt");
        if (c.ckLink)
            RecordLinks.write(key, NoteServiceCloudKit, NoteStorageInbox, c.ckLink);
        if (c.trashLink)
            drive.write(key, NoteServiceTrash, NoteStorageInbox, c.trashLink);
        const NotePtr note = makeNote(key, QStringLiteral("text"));
        if (c.tooLarge) {
            TestSupport::writeFile(Note::documentFileForKey(key, NoteStorageInbox),
                                   QByteArray(Note::MaximumTextFileSize + 1, 'a'));
            ASSERT_TRUE(note->restoreTextOrHead());
        }
        const auto [date, error] = commit(note, &AppleCloud::prepareNote);
        EXPECT_TRUE(error.isNull()) << c.name;
        EXPECT_EQ(!date.isNull(), c.saved) << c.name;
        EXPECT_EQ(QFileInfo::exists(document(QStringLiteral("Inbox/") + key)), c.saved) << c.name;
        if (!c.saved)
            continue;
        EXPECT_EQ(linkDate(NoteServiceCloud, key), c.ckLink) << c.name;
        EXPECT_TRUE(commit(note, &AppleCloud::prepareNote).first.isNull()) << c.name << ": the second time";
    }
}

TEST_F(AppleCloudWrite, DeleteRemovesTheDocumentAndTheCloudLink)
{
    const NotePtr kept = makeNote(QStringLiteral("a.txt"), QStringLiteral("text"));
    ASSERT_TRUE(commit(kept).second.isNull());
    LinkFiles(LinkFiles::Owner::AppleCloud).write(QStringLiteral("gone.txt"), NoteServiceCloud, NoteStorageInbox, FileTime{realNow(), 0});
    for (const QString& key : {QStringLiteral("a.txt"), QStringLiteral("gone.txt")}) {
        EXPECT_TRUE(remove(makeNote(key, QString())).isNull()) << key.toStdString();
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/") + key)));
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral(".history/Inbox/") + key))); // the side file too
        EXPECT_FALSE(linkDate(NoteServiceCloud, key));
    }
}

// The document may hold another computer's edit that came after this one's
// last look: its writer counts it as sent and takes the document's going for
// a deletion of it, so a text never held here stays, as a fork of the note.
TEST_F(AppleCloudWrite, ADeletionKeepsATextNeverHeldHereAsAForkOfTheNote)
{
    const struct {
        const char* key;
        const char* document; // what the folder's document holds when the deletion runs
        bool heldHere;
    } cases[] = {
        {"same.txt", "mine", true},
        {"older.txt", "older", true},
        {"theirs.txt", "theirs", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString key = QString::fromLatin1(c.key);
        ASSERT_TRUE(commit(makeNote(key, QString::fromLatin1(c.document))).second.isNull());
        NoteHistory history;
        history.add(NoteHistory::hashOf(QStringLiteral("mine")));
        if (c.heldHere)
            history.add(NoteHistory::hashOf(QString::fromLatin1(c.document)));
        history.save(key, NoteStorageInbox);
        EXPECT_TRUE(remove(makeNote(key, QString())).isNull());
        Dispatch::waitUntilIdle();
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/") + key)));
        const QStringList kept = QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files);
        EXPECT_EQ(kept, c.heldHere ? QStringList() : QStringList{SyncConflict::forkKey(key, QString::fromLatin1(c.document))});
        EXPECT_EQ(localTexts(), c.heldHere ? QStringList() : QStringList{QString::fromLatin1(c.document)});
        for (const QString& fork : kept)
            ASSERT_TRUE(QFile::remove(Note::documentFileForKey(fork, NoteStorageInbox)));
    }
}

TEST_F(AppleCloudWrite, WaitRunsAfterEverythingQueuedBeforeOnAllThreeQueues)
{
    auto queued = std::make_shared<QueuedCKCloud>();
    cloud->stopQuery();
    cloud = std::make_shared<FolderAppleCloud>(queued, defaults());
    std::mutex mutex;
    QStringList order;
    auto mark = [&](const QString& what) {
        return [&, what] {
            std::lock_guard lock(mutex);
            order << what;
        };
    };
    // Held so that everything below is queued before any of it runs.
    std::promise<void> release;
    auto held = release.get_future().share();
    cloud->queue()->async([held] { held.wait(); });
    cloud->queue()->async(mark(QStringLiteral("cloud")));
    Core::shared().fileQueue()->async(mark(QStringLiteral("file")));
    queued->queue->async(mark(QStringLiteral("records")));
    const bool done = awaitValue<bool>([&](auto finish) {
        cloud->wait([&, finish] {
            mark(QStringLiteral("wait"))();
            finish(true);
        });
        release.set_value();
    });
    EXPECT_TRUE(done);
    EXPECT_EQ(order.size(), 4);
    EXPECT_EQ(order.last(), QStringLiteral("wait"));
}

TEST_F(AppleCloudWrite, AMoveToTheArchiveFallsBackLikeARenameButKeepsUpdatedOn)
{
    for (const bool occupied : {false, true}) {
        const QString key = occupied ? QStringLiteral("occupied.txt") : QStringLiteral("free.txt");
        const NotePtr from = makeNote(key, QStringLiteral("mine"));
        ASSERT_TRUE(commit(from).second.isNull());
        if (occupied)
            writeDocument(QStringLiteral("Archive/") + key, "mine", {realNow() - 10, 0});
        const NotePtr to = makeNote(key, QStringLiteral("mine"), NoteStorageArchive);
        to->setUpdatedOn(1000);
        EXPECT_TRUE(awaitValue<Error>([&](auto done) { cloud->moveNote(from, to, done); }).isNull());
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/") + key)));
        EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Archive/") + key)), QByteArray("mine"));
        EXPECT_TRUE(linkDate(NoteServiceCloud, key, NoteStorageArchive));
        EXPECT_FALSE(linkDate(NoteServiceCloud, key));
        EXPECT_EQ(to->updatedOn(), 1000);
    }
}

// The computers that saw the document leave its storage hold it back there up to
// the date it had; moved back, it must be dated later: at the move, or after its
// last write when that was in the move's second or later.
TEST_F(AppleCloudWrite, AMovedDocumentIsDatedAtTheMoveAfterItsLastWrite)
{
    for (const bool movedLater : {true, false}) {
        const QString key = movedLater ? QStringLiteral("later.txt") : QStringLiteral("same.txt");
        ASSERT_TRUE(commit(makeNote(key, QStringLiteral("mine"))).second.isNull());
        const FileTime written = *FileTimes::modificationTime(document(QStringLiteral("Inbox/") + key));
        const NotePtr to = makeNote(key, QStringLiteral("mine"), NoteStorageArchive);
        to->setUpdatedOn(movedLater ? written.seconds + 60 : written.seconds);
        EXPECT_TRUE(awaitValue<Error>([&](auto done) { cloud->moveNote(makeNote(key, QStringLiteral("mine")), to, done); })
                        .isNull());
        const FileTime dated = *FileTimes::modificationTime(document(QStringLiteral("Archive/") + key));
        EXPECT_EQ(dated, FileTime::fromWholeSeconds(written.seconds + (movedLater ? 60 : 1))) << movedLater;
        EXPECT_EQ(linkDate(NoteServiceCloud, key, NoteStorageArchive), dated) << movedLater;
        EXPECT_LT(*linkDate(NoteServiceTrash, key), dated) << movedLater;
    }
}

TEST_F(AppleCloudWrite, AMoveCarriesTheDocumentOnlyWithTheMovedTextAndItsSideFileGoesAlong)
{
    const struct {
        const char* key;
        const char* document;   // what the folder's document holds when the move runs
        bool heldHere;          // this computer had held that text
        QStringList inboxAfter; // local inbox texts after the move: a fork of a text never held here
    } cases[] = {
        {"same.txt", "mine", true, {}},
        {"older.txt", "older", true, {}},
        {"theirs.txt", "theirs", false, {"theirs"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString key = QString::fromLatin1(c.key);
        ASSERT_TRUE(commit(makeNote(key, QString::fromLatin1(c.document))).second.isNull()); // with its side file
        NoteHistory history;
        if (c.heldHere)
            history.add(NoteHistory::hashOf(QString::fromLatin1(c.document)));
        history.save(key, NoteStorageInbox);
        const NotePtr to = makeNote(key, QStringLiteral("mine"), NoteStorageArchive);
        EXPECT_TRUE(awaitValue<Error>([&](auto done) { cloud->moveNote(makeNote(key, QStringLiteral("mine")), to, done); })
                        .isNull());
        Dispatch::waitUntilIdle();
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral("Inbox/") + key)));
        EXPECT_EQ(TestSupport::readFile(document(QStringLiteral("Archive/") + key)), QByteArray("mine"));
        // The side file under the old name is gone; the one under the new name speaks for "mine".
        EXPECT_FALSE(QFileInfo::exists(document(QStringLiteral(".history/Inbox/") + key)));
        EXPECT_TRUE(TestSupport::readFile(document(QStringLiteral(".history/Archive/") + key))
                        .startsWith(NoteHistory::hashOf(QStringLiteral("mine")).toLatin1() + '\n'));
        EXPECT_EQ(localTexts(), c.inboxAfter);
        for (const QString& fork : QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files))
            EXPECT_EQ(fork, SyncConflict::forkKey(key, QString::fromLatin1(c.document)));
        for (const QString& fork : QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files))
            ASSERT_TRUE(QFile::remove(Note::documentFileForKey(fork, NoteStorageInbox)));
    }
}

// A text taken in after the note's local save is not written over by the
// folder's save of the text it replaced.
TEST_F(AppleCloudWrite, ASaveOfATextTheNoteNoLongerHoldsLeavesTheDocument)
{
    ASSERT_TRUE(commit(makeNote(QStringLiteral("b.txt"), QStringLiteral("before"))).second.isNull());
    const NotePtr taken = makeNote(QStringLiteral("b.txt"), QStringLiteral("taken meanwhile"));
    Core::shared().fileQueue()->sync([taken] { taken->_commitAndCloseLocalNote({}); });
    EXPECT_FALSE(commit(makeNote(QStringLiteral("b.txt"), QStringLiteral("mine"))).second.isNull());
    EXPECT_EQ(inboxDocument(QStringLiteral("b.txt")), QByteArray("before"));
    EXPECT_TRUE(commit(taken).second.isNull());
    EXPECT_EQ(inboxDocument(QStringLiteral("b.txt")), QByteArray("taken meanwhile"));
}

// A note dated ahead of the clock (an edit a second after its last exchange)
// is saved at its own second; saved again in that second with another text,
// the document must still change date, or a computer linked to the first
// document takes the second for it and never reads it.
TEST_F(AppleCloudWrite, ADocumentReplacedWithinItsSecondIsDatedAfterTheOneItReplaces)
{
    const int64_t ahead = realNow() + 60;
    std::optional<FileTime> before;
    for (const char* text : {"first", "second"}) {
        const NotePtr note = makeNote(QStringLiteral("c.txt"), QString::fromLatin1(text));
        note->setUpdatedOn(ahead);
        Core::shared().fileQueue()->sync([note] { note->_commitAndCloseLocalNote({}); });
        ASSERT_TRUE(commit(note).second.isNull()) << text;
        EXPECT_EQ(inboxDocument(QStringLiteral("c.txt")), QByteArray(text));
        const auto linked = linkDate(NoteServiceCloud, QStringLiteral("c.txt"));
        ASSERT_TRUE(linked) << text;
        EXPECT_EQ(FileTimes::modificationTime(document(QStringLiteral("Inbox/c.txt"))), linked) << text;
        EXPECT_GE(linked->seconds, ahead) << text;
        if (before) {
            EXPECT_GT(*linked, *before);
        }
        before = linked;
    }
}
