#include "NoteTestSupport.h"

#include "files/FileDates.h"

#include <QFileInfo>

#include <atomic>
#include <thread>

namespace {

using NoteStoreModel = NoteStoreTest;

// Copies a fixture into the inbox under the key.
NotePtr inboxNoteFromFixture(const QString& fixture, const QString& key)
{
    const QString path = Note::documentFileForKey(key, NoteStorageInbox);
    TestSupport::writeFile(path, TestSupport::readFile(QStringLiteral(TEST_DATA_DIR "/") + fixture));
    return std::make_shared<Note>(key, NoteStorageInbox);
}

TEST_F(NoteStoreModel, ConstructorsSetKeyStorageAndDates)
{
    const Note fresh;
    EXPECT_TRUE(fresh.key().isNull());
    EXPECT_EQ(fresh.storage(), NoteStorageInbox);
    EXPECT_EQ(fresh.createdOn(), 1710491412);
    EXPECT_EQ(fresh.updatedOn(), 1710491412);
    EXPECT_TRUE(fresh.text().isNull());
    EXPECT_TRUE(fresh.title().isNull());

    // A note of an existing file takes its dates from the file, later.
    const Note existing(QStringLiteral("A.txt"), NoteStorageArchive);
    EXPECT_EQ(existing.createdOn(), 0);
    EXPECT_EQ(existing.updatedOn(), 0);

    const struct {
        const char* path;
        int storage;
    } urls[] = {{"/x/Archive/A.txt", 2}, {"/x/Home/A.txt", 1}, {"/x/Inbox/A.txt", 1}, {"/x/Other/A.txt", 0}};
    for (const auto& url : urls) {
        const Note fromURL(QUrl::fromLocalFile(QString::fromUtf8(url.path)));
        EXPECT_EQ(fromURL.key(), QStringLiteral("A.txt")) << url.path;
        EXPECT_EQ(fromURL.storage(), url.storage) << url.path;
        EXPECT_EQ(fromURL.createdOn(), 0) << url.path;
    }
}

TEST_F(NoteStoreModel, ReadsEveryAcceptedEncoding)
{
    const struct {
        const char* fixture;
        const char* text;
    } cases[] = {
        {"utf8.txt", "Café 東京 plan notes\nline two\n"},
        {"utf16-bom.txt", "Café 東京 plan\n"},
        {"utf16-nobom.txt", "Café au lait\n"},
        {"latin1.txt", "Crème brûlée déjà vu\n"},
    };
    for (const auto& c : cases) {
        const NotePtr note = inboxNoteFromFixture(QString::fromUtf8(c.fixture), QStringLiteral("Fixture.txt"));
        EXPECT_TRUE(note->restoreText()) << c.fixture;
        EXPECT_EQ(note->text(), QString::fromUtf8(c.text)) << c.fixture;
        EXPECT_EQ(Note::newTextFromURL(QUrl::fromLocalFile(data(QString::fromUtf8(c.fixture)))), QString::fromUtf8(c.text))
            << c.fixture;
    }
}

TEST_F(NoteStoreModel, UnreadableFileFailsEachReadInItsOwnWay)
{
    const NotePtr note = inboxNoteFromFixture(QStringLiteral("undecodable.bin"), QStringLiteral("Bad.txt"));
    note->setText(QStringLiteral("kept"));
    Error error;
    EXPECT_FALSE(note->restoreTextFromURL(QUrl::fromLocalFile(Note::documentFileForKey(QStringLiteral("Bad.txt"), 1)),
                                          &error));
    EXPECT_FALSE(error.isNull());
    EXPECT_EQ(note->text(), QStringLiteral("kept"));

    bool opened = true;
    int calls = 0;
    note->_openLocalNote([&](bool ok) {
        opened = ok;
        ++calls;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(opened);
    EXPECT_EQ(note->text(), QStringLiteral("kept"));

    EXPECT_FALSE(note->restoreText());
    EXPECT_TRUE(note->text().isEmpty());
    EXPECT_FALSE(note->text().isNull());

    Error missing;
    EXPECT_TRUE(Note::newTextFromURL(QUrl::fromLocalFile(data(QStringLiteral("absent.txt"))), &missing).isNull());
    EXPECT_FALSE(missing.isNull());
}

TEST_F(NoteStoreModel, WriteTextCarriesDatesAndAnnouncesOnlyNewFiles)
{
    const NotePtr note = makeNote(QStringLiteral("Weekly plan.txt"), QStringLiteral("Weekly plan\n- a"),
                                  NoteStorageArchive, 1600000000, 1600086400);
    std::vector<bool> results;
    note->writeText([&](bool ok) { results.push_back(ok); });
    const QString path = Note::documentFileForKey(QStringLiteral("Weekly plan.txt"), NoteStorageArchive);
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("Weekly plan\n- a"));
    EXPECT_EQ(FileDates::creationDate(path), 1600000000);
    EXPECT_EQ(FileDates::modificationDate(path), 1600086400);

    note->setText(QStringLiteral("Weekly plan\n- b"));
    note->setUpdatedOn(1600090000);
    note->writeText([&](bool ok) { results.push_back(ok); });
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("Weekly plan\n- b"));
    EXPECT_EQ(FileDates::creationDate(path), 1600000000);
    EXPECT_EQ(FileDates::modificationDate(path), 1600090000);

    EXPECT_EQ(results, (std::vector<bool>{true, true}));
    EXPECT_EQ(events->lines(), QStringList{"add 2/Weekly plan.txt 2 -"});
}

TEST_F(NoteStoreModel, WriteTextFailuresReportFalseAndLeaveTheOldFile)
{
    // A note never read must not empty its file.
    const NotePtr unread = std::make_shared<Note>(QStringLiteral("Kept.txt"), NoteStorageInbox);
    const QString path = Note::documentFileForKey(QStringLiteral("Kept.txt"), NoteStorageInbox);
    TestSupport::writeFile(path, "old text");
    bool ok = true;
    unread->writeText([&](bool result) { ok = result; });
    EXPECT_FALSE(ok);
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("old text"));

    // A folder where the file should go: the write fails, nothing is announced.
    const NotePtr blocked = makeNote(QStringLiteral("Folder.txt"), QStringLiteral("text"));
    QDir().mkpath(Note::documentFileForKey(QStringLiteral("Folder.txt"), NoteStorageInbox));
    ok = true;
    blocked->writeText([&](bool result) { ok = result; });
    EXPECT_FALSE(ok);

    const NotePtr unnamed = std::make_shared<Note>();
    unnamed->setText(QStringLiteral("text"));
    ok = true;
    unnamed->writeText([&](bool result) { ok = result; });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(events->lines().isEmpty());
}

TEST_F(NoteStoreModel, ForkForgetsOnlyTheKey)
{
    const NotePtr note = makeNote(QStringLiteral("Weekly plan.txt"), QStringLiteral("Weekly plan\nitems"));
    note->setScrollCaret(12);
    note->_reloadHeader();
    note->forkNote();
    EXPECT_TRUE(note->key().isNull());
    EXPECT_EQ(note->text(), QStringLiteral("Weekly plan\nitems"));
    EXPECT_EQ(note->storage(), NoteStorageInbox);
    EXPECT_EQ(note->createdOn(), 1700000000);
    EXPECT_EQ(note->scrollCaret(), 12);
    EXPECT_EQ(note->title(), QStringLiteral("Weekly plan"));
}

TEST_F(NoteStoreModel, FileUtilities)
{
    const QString deep = TestSupport::home() + QStringLiteral("/u1/u2/u3/file.txt");
    Note::createImmediateDirectoryForFilePath(deep);
    EXPECT_TRUE(QFileInfo(TestSupport::home() + QStringLiteral("/u1/u2/u3")).isDir());
    EXPECT_FALSE(QFileInfo::exists(deep));

    EXPECT_TRUE(Note::writeText(QStringLiteral("Zoë\n"), QUrl::fromLocalFile(deep)));
    EXPECT_EQ(TestSupport::readFile(deep), QString::fromUtf8("Zoë\n").toUtf8());

    EXPECT_TRUE(Note::removeItemIfExistsAtPath(deep));
    EXPECT_FALSE(QFileInfo::exists(deep));
    EXPECT_TRUE(Note::removeItemIfExistsAtPath(deep));
    EXPECT_TRUE(Note::removeItemIfExistsAtPath(TestSupport::home() + QStringLiteral("/u1")));
    EXPECT_FALSE(QFileInfo::exists(TestSupport::home() + QStringLiteral("/u1")));
}

// The file queue and the main thread use one note at once.
TEST_F(NoteStoreModel, FieldsStayWholeUnderConcurrentUse)
{
    const NotePtr note = makeNote(QStringLiteral("Busy.txt"), QStringLiteral("a"));
    const QString longText(4096, QLatin1Char('x'));
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            note->setText(i % 2 ? longText : QStringLiteral("a"));
            note->setKey(i % 2 ? QStringLiteral("Long.txt") : QStringLiteral("Busy.txt"));
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        const QString text = note->text();
        torn += text != longText && text != QStringLiteral("a");
        note->_reloadHeader();
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(NoteStoreModel, AChangeIsDatedAfterTheNotesLastExchange)
{
    constexpr int64_t Now = 1800000000;
    const struct {
        const char* what;
        int64_t drive;  // the link dates, 0: no link
        int64_t record;
        int64_t dated;
    } cases[] = {
        {"never exchanged", 0, 0, Now},
        {"exchanged before", Now - 5, Now - 1, Now},
        {"the drive's link in this second", Now, 0, Now + 1},
        {"the store's link a second ahead", Now - 5, Now + 1, Now + 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString key = QString::fromLatin1(c.what) + QStringLiteral(".txt");
        for (const auto& [service, date] : {std::pair{NoteServiceCloud, c.drive}, std::pair{NoteServiceCloudKit, c.record}}) {
            if (!date)
                continue;
            const QString link = Note::linkFileForKey(key, service, NoteStorageInbox);
            TestSupport::writeFile(link, QByteArray());
            ASSERT_TRUE(FileDates::setModificationDate(link, date));
        }
        Note note(key, NoteStorageInbox);
        note.setUpdatedOnForChange(Now);
        EXPECT_EQ(note.updatedOn(), c.dated);
    }
    Note unsaved; // no name, no links
    unsaved.setUpdatedOnForChange(Now);
    EXPECT_EQ(unsaved.updatedOn(), Now);
}

} // namespace
