#include "NoteTestSupport.h"

#include "files/FileDates.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

namespace {

using NoteStoreSideFiles = NoteStoreTest;

QString metaPath(const QString& key, int storage = NoteStorageInbox)
{
    return Note::metaFileForKey(key, storage);
}

TEST_F(NoteStoreSideFiles, MetaFileBytesAndRoundTrip)
{
    const NotePtr note = makeNote(QStringLiteral("Plan.txt"), QStringLiteral("Plan"), NoteStorageInbox, 1710491412,
                                  1710495012);
    note->setScrollCaret(1234);
    note->setScrollCaretOffset(12.5);
    note->setSelectedCaret(56);
    note->setBranchSignature(QStringLiteral("branch-7"));
    ASSERT_TRUE(note->writeMetaFile());
    EXPECT_EQ(TestSupport::readFile(metaPath(QStringLiteral("Plan.txt"))), TestSupport::readFile(data("meta-v6.bin")));

    Note restored(QStringLiteral("Plan.txt"), NoteStorageInbox);
    ASSERT_TRUE(restored.restoreMeta());
    EXPECT_EQ(restored.scrollCaret(), 1234);
    EXPECT_EQ(restored.scrollCaretOffset(), 12.5);
    EXPECT_EQ(restored.selectedCaret(), 56);
    EXPECT_EQ(restored.createdOn(), 1710491412);
    EXPECT_EQ(restored.updatedOn(), 1710495012);
    EXPECT_EQ(restored.branchSignature(), QStringLiteral("branch-7"));

    // The offset travels as a 32-bit float.
    note->setScrollCaretOffset(12.3);
    ASSERT_TRUE(note->writeMetaFile());
    ASSERT_TRUE(restored.restoreMeta());
    EXPECT_EQ(restored.scrollCaretOffset(), double(12.3f));
    EXPECT_DOUBLE_EQ(restored.scrollCaretOffset(), 12.300000190734863);

    EXPECT_TRUE(note->removeMetaFile());
    EXPECT_FALSE(QFile::exists(metaPath(QStringLiteral("Plan.txt"))));
    EXPECT_TRUE(note->removeMetaFile());
    note->forkNote();
    EXPECT_FALSE(note->writeMetaFile());
}

// A note with every meta field set to a value no record holds.
NotePtr primed(const QString& key)
{
    const NotePtr note = makeNote(key, QString(), NoteStorageInbox, 11, 22);
    note->setScrollCaret(9);
    note->setScrollCaretOffset(9.5);
    note->setSelectedCaret(9);
    note->setBranchSignature(QStringLiteral("kept"));
    return note;
}

TEST_F(NoteStoreSideFiles, OlderAndShortMetaRecords)
{
    const QString key = QStringLiteral("Old.txt");
    TestSupport::writeFile(metaPath(key), TestSupport::readFile(data("meta-v1.bin")));
    NotePtr note = primed(key);
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->scrollCaret(), 77);
    EXPECT_EQ(note->scrollCaretOffset(), 2.5);
    EXPECT_EQ(note->selectedCaret(), 0);
    EXPECT_EQ(note->createdOn(), 1710491412);
    EXPECT_EQ(note->updatedOn(), 1710495012);
    EXPECT_EQ(note->branchSignature(), QStringLiteral("kept"));

    // Version 4: two reserved words, then the branch signature.
    QByteArray v4 = TestSupport::readFile(data("meta-v1.bin"));
    v4[0] = 4;
    v4.insert(14, QByteArray(2, '\0'));
    v4 += QByteArray("\x03\0\0\0abc", 7);
    TestSupport::writeFile(metaPath(key), v4);
    note = primed(key);
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->updatedOn(), 1710495012);
    EXPECT_EQ(note->branchSignature(), QStringLiteral("abc"));

    // Version 0 changes nothing.
    TestSupport::writeFile(metaPath(key), QByteArray(40, '\0'));
    note = primed(key);
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->scrollCaret(), 9);
    EXPECT_EQ(note->selectedCaret(), 9);
    EXPECT_EQ(note->createdOn(), 11);

    // A record cut inside its creation date keeps what came before it.
    TestSupport::writeFile(metaPath(key), TestSupport::readFile(data("meta-v6.bin")).left(24));
    note = primed(key);
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->scrollCaret(), 1234);
    EXPECT_EQ(note->selectedCaret(), 56);
    EXPECT_EQ(note->createdOn(), 11);
    EXPECT_EQ(note->updatedOn(), 22);
    EXPECT_EQ(note->branchSignature(), QStringLiteral("kept"));

    // A branch signature whose bytes are missing is not read.
    TestSupport::writeFile(metaPath(key), TestSupport::readFile(data("meta-v6.bin")).chopped(1));
    note = primed(key);
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->updatedOn(), 1710495012);
    EXPECT_EQ(note->branchSignature(), QStringLiteral("kept"));
}

TEST_F(NoteStoreSideFiles, MissingMetaTakesTheTextFileDates)
{
    const NotePtr written = makeNote(QStringLiteral("Dated.txt"), QStringLiteral("text"), NoteStorageInbox,
                                     1600000000, 1600086400);
    written->writeText(nullptr);
    NotePtr note = primed(QStringLiteral("Dated.txt"));
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->scrollCaret(), 0);
    EXPECT_EQ(note->scrollCaretOffset(), 0.0);
    EXPECT_EQ(note->selectedCaret(), 9);
    EXPECT_EQ(note->createdOn(), 1600000000);
    EXPECT_EQ(note->updatedOn(), 1600086400);

    // An empty record, as a crash can leave one, counts as missing.
    TestSupport::writeFile(metaPath(QStringLiteral("Dated.txt")), QByteArray());
    note = primed(QStringLiteral("Dated.txt"));
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->scrollCaret(), 0);
    EXPECT_EQ(note->createdOn(), 1600000000);
    EXPECT_EQ(note->updatedOn(), 1600086400);

    note = primed(QStringLiteral("Nowhere.txt"));
    ASSERT_TRUE(note->restoreMeta());
    EXPECT_EQ(note->createdOn(), 1710491412);
    EXPECT_EQ(note->updatedOn(), 1710491412);
}

// Whether a record was there is told apart from where the dates came from:
// an empty record counts as none, one that reads as nothing still counts.
TEST_F(NoteStoreSideFiles, MetaRestoreTellsWhetherARecordWasThere)
{
    const NotePtr written = makeNote(QStringLiteral("Text.txt"), QStringLiteral("text"), NoteStorageInbox,
                                     1600000000, 1600086400);
    written->writeText(nullptr);
    ASSERT_TRUE(QDir().mkpath(Note::documentFileForKey(QStringLiteral("Folder.txt"), NoteStorageInbox)));
    struct Row {
        const char* key;
        QByteArray record; // null: no record
        bool hadRecord;
        int64_t created;
        int64_t updated;
    };
    const QByteArray v6 = TestSupport::readFile(data("meta-v6.bin"));
    const Row rows[] = {
        {"Text.txt", QByteArray(), false, 1600000000, 1600086400},
        {"Text.txt", QByteArray(""), false, 1600000000, 1600086400},
        {"Text.txt", v6, true, 1710491412, 1710495012},
        {"Text.txt", QByteArray(40, '\0'), true, 11, 22},
        {"Folder.txt", QByteArray(), false, 1710491412, 1710491412},
        {"Nowhere.txt", QByteArray(), false, 1710491412, 1710491412},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + std::to_string(row.record.size()));
        const QString key = QString::fromLatin1(row.key);
        QFile::remove(metaPath(key));
        if (!row.record.isNull())
            TestSupport::writeFile(metaPath(key), row.record);
        const NotePtr note = primed(key);
        bool hadRecord = !row.hadRecord;
        ASSERT_TRUE(note->restoreMeta(nullptr, &hadRecord));
        EXPECT_EQ(hadRecord, row.hadRecord);
        EXPECT_EQ(note->createdOn(), row.created);
        EXPECT_EQ(note->updatedOn(), row.updated);
    }
}

TEST_F(NoteStoreSideFiles, HeaderFileBytesRestoreAndRebuild)
{
    const QString key = QStringLiteral("Shopping list.txt");
    const NotePtr note = makeNote(key, QStringLiteral("# Shopping list\nmilk\neggs"));
    ASSERT_TRUE(note->writeHeaderFile());
    const QString path = Note::headerFileForKey(key, NoteStorageInbox);
    EXPECT_EQ(TestSupport::readFile(path), TestSupport::readFile(data("header-v6.bin")));

    Note restored(key, NoteStorageInbox);
    ASSERT_TRUE(restored.restoreHeader());
    EXPECT_EQ(restored.title(), QStringLiteral("Shopping list"));
    EXPECT_EQ(restored.summary(), QStringLiteral("milk eggs"));
    EXPECT_TRUE(restored.text().isNull());

    // Without a header file the text is read and the header written.
    ASSERT_TRUE(note->removeHeaderFile());
    note->writeText(nullptr);
    Note rebuilt(key, NoteStorageInbox);
    ASSERT_TRUE(rebuilt.restoreHeader());
    EXPECT_EQ(rebuilt.title(), QStringLiteral("Shopping list"));
    EXPECT_EQ(TestSupport::readFile(path), TestSupport::readFile(data("header-v6.bin")));

    // So is an empty one, as a crash can leave it.
    TestSupport::writeFile(path, QByteArray());
    Note emptied(key, NoteStorageInbox);
    ASSERT_TRUE(emptied.restoreHeader());
    EXPECT_EQ(emptied.title(), QStringLiteral("Shopping list"));
    EXPECT_EQ(TestSupport::readFile(path), TestSupport::readFile(data("header-v6.bin")));

    // An unreadable text gives an empty header.
    Note missing(QStringLiteral("Missing.txt"), NoteStorageInbox);
    ASSERT_TRUE(missing.restoreHeader());
    EXPECT_EQ(TestSupport::readFile(Note::headerFileForKey(QStringLiteral("Missing.txt"), NoteStorageInbox)),
              QByteArray("\x06\0\0\0\0\0\0\0\0\0\0\0", 12));

    // A short or version 0 record leaves the fields as they were.
    TestSupport::writeFile(path, TestSupport::readFile(data("header-v6.bin")).left(25));
    Note shortRecord(key, NoteStorageInbox);
    shortRecord.setSummary(QStringLiteral("before"));
    ASSERT_TRUE(shortRecord.restoreHeader());
    EXPECT_EQ(shortRecord.title(), QStringLiteral("Shopping list"));
    EXPECT_EQ(shortRecord.summary(), QStringLiteral("before"));
}

TEST_F(NoteStoreSideFiles, TagEventsInOrder)
{
    const NotePtr note = makeNote(QStringLiteral("A.txt"), QStringLiteral("x"));
    ASSERT_TRUE(note->writeTag(NoteTagHashtag, {QStringLiteral("Plan"), QStringLiteral("home")}, NoteStorageInbox, true));
    EXPECT_EQ(events->lines(), (QStringList{"tagAdd Plan 4", "add 1/A.txt 4 plan", "tagAdd home 4", "add 1/A.txt 4 home"}));
    const QString link = Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox) +
                         QStringLiteral("/A.txt");
    EXPECT_EQ(FileDates::creationDate(link), 1700000000);
    EXPECT_EQ(FileDates::modificationDate(link), 1700003600);

    // Rewriting the same tags refreshes the link's dates and says nothing.
    events->clear();
    note->setUpdatedOn(1700007200);
    ASSERT_TRUE(note->writeTag(NoteTagHashtag, {QStringLiteral("Plan"), QStringLiteral("home")}, NoteStorageInbox, false));
    EXPECT_TRUE(events->lines().isEmpty());
    EXPECT_EQ(FileDates::modificationDate(link), 1700007200);

    // Losing its only note removes the tag: the folder goes before the note's event.
    ASSERT_TRUE(note->writeTag(NoteTagHashtag, {QStringLiteral("home")}, NoteStorageInbox, false));
    EXPECT_EQ(events->lines(), (QStringList{"tagDelete plan 4", "delete 1/A.txt 4 plan"}));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("plan"))));

    events->clear();
    ASSERT_TRUE(note->writeTag(NoteTagHashtag, {}, NoteStorageInbox, false));
    EXPECT_EQ(events->lines(), (QStringList{"tagDelete home 4", "delete 1/A.txt 4 home"}));
    EXPECT_TRUE(QDir(Note::linkDirectoryForTag(NoteTagHashtag)).isEmpty());

    // A note without a key has no links to write.
    events->clear();
    const NotePtr unsaved = std::make_shared<Note>();
    EXPECT_TRUE(unsaved->writeTag(NoteTagMention, {QStringLiteral("Ann")}, NoteStorageInbox, true));
    EXPECT_TRUE(events->lines().isEmpty());
}

TEST_F(NoteStoreSideFiles, TagSpellings)
{
    const auto spelling = [](const QString& tag) {
        return QString::fromUtf8(TestSupport::readFile(Note::metaFileForTag(NoteTagHashtag, tag)));
    };
    const NotePtr first = makeNote(QStringLiteral("First.txt"), QStringLiteral("x"));
    const NotePtr second = makeNote(QStringLiteral("Second.txt"), QStringLiteral("x"));
    const NotePtr third = makeNote(QStringLiteral("Third.txt"), QStringLiteral("x"));

    first->writeTag(NoteTagHashtag, {QStringLiteral("Plan")}, NoteStorageInbox, true);
    EXPECT_EQ(spelling(QStringLiteral("plan")), QStringLiteral("Plan"));
    second->writeTag(NoteTagHashtag, {QStringLiteral("PLAN")}, NoteStorageInbox, true);
    EXPECT_EQ(spelling(QStringLiteral("plan")), QStringLiteral("Plan"));
    third->writeTag(NoteTagHashtag, {QStringLiteral("plaN")}, NoteStorageInbox, false);
    EXPECT_EQ(spelling(QStringLiteral("plan")), QStringLiteral("Plan"));
    third->writeTag(NoteTagHashtag, {QStringLiteral("plaN")}, NoteStorageInbox, true);
    EXPECT_EQ(spelling(QStringLiteral("plan")), QStringLiteral("plaN"));

    first->writeTag(NoteTagHashtag, {QStringLiteral("TODO")}, NoteStorageInbox, true);
    EXPECT_EQ(spelling(QStringLiteral("todo")), QStringLiteral("todo"));
    second->writeTag(NoteTagHashtag, {QStringLiteral("Todo")}, NoteStorageInbox, true);
    EXPECT_EQ(spelling(QStringLiteral("todo")), QStringLiteral("Todo"));

    // The strong spelling announces the tag in lower case.
    EXPECT_TRUE(events->lines().contains(QStringLiteral("tagAdd todo 4")));
}

// Keys are unique only within a storage: the archive's "Same.txt" is another note.
TEST_F(NoteStoreSideFiles, CleanUpStaysInTheNotesOwnStorage)
{
    const NotePtr inboxNote = makeNote(QStringLiteral("Same.txt"), QStringLiteral("x"), NoteStorageInbox);
    const NotePtr archiveNote = makeNote(QStringLiteral("Same.txt"), QStringLiteral("x"), NoteStorageArchive);
    archiveNote->writeTag(NoteTagHashtag, {QStringLiteral("work")}, NoteStorageArchive, true);
    inboxNote->writeTag(NoteTagHashtag, {QStringLiteral("work")}, NoteStorageInbox, true);
    events->clear();

    inboxNote->writeTag(NoteTagHashtag, {}, NoteStorageInbox, false);
    EXPECT_EQ(events->lines(), QStringList{"delete 1/Same.txt 4 work"});
    const QString work = Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("work"));
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/Inbox")));
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/Archive/Same.txt")));
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/.meta")));
}

TEST_F(NoteStoreSideFiles, TreeOfSideFilesForNotesWithTags)
{
    const NotePtr notes[] = {
        makeNote(QStringLiteral("Meeting notes.txt"), QStringLiteral("Meeting notes #Work @Ann\nagenda #plan"),
                 NoteStorageInbox, 1700000000, 1700003600),
        makeNote(QStringLiteral("Ideas.txt"), QStringLiteral("Ideas #work #TODO"), NoteStorageInbox, 1700100000,
                 1700200000),
        makeNote(QStringLiteral("Old.txt"), QStringLiteral("Old #TODO #misc"), NoteStorageArchive, 1690000000,
                 1690003600),
    };
    for (const NotePtr& note : notes) {
        // The archive keeps links for strong tags only.
        const bool inbox = note->storage() == NoteStorageInbox;
        QStringList hashtags;
        QStringList mentions;
        Note::fillHashtags(&hashtags, &mentions, note->text(), inbox);
        ASSERT_TRUE(note->writeMetaFile());
        ASSERT_TRUE(note->writeHeaderFile());
        ASSERT_TRUE(note->writeTag(NoteTagHashtag, hashtags, note->storage(), true));
        ASSERT_TRUE(note->writeTag(NoteTagMention, mentions, note->storage(), true));
        // The marker records the text file: none without one.
        EXPECT_FALSE(note->writeIndexFile());
        TestSupport::writeFile(Note::documentFileForKey(note->key(), note->storage()), note->text().toUtf8());
        ASSERT_TRUE(note->writeIndexFile());
    }
    QStringList expected =
        QString::fromUtf8(TestSupport::readFile(data("tree.txt"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    expected.sort();
    EXPECT_EQ(cacheTree(caches()).join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
}

} // namespace
