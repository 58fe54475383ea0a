#include "CommitTestSupport.h"
#include "../store/StoreConsistency.h"

#include "Store/Migrator.h"
#include "Store/NoteIndexMarker.h"
#include "Store/NoteHeaderFile.h"
#include "Store/NoteIndexRebuild.h"
#include "Store/NoteMetaFile.h"
#include "Store/NoteSearchIndex.h"
#include "Store/NoteSearchRow.h"
#include "files/FileTimes.h"
#include "files/UnicodeRegex.h"

#include <random>

namespace {

void writeNote(int storage, const QString& key, const QByteArray& text)
{
    TestSupport::writeFile(Note::documentFileForKey(key, storage), text);
}

bool indexed(int storage, const QString& key)
{
    return QFileInfo::exists(Note::indexFileForKey(key, storage));
}

// A step writes the rows of the next batch's notes, read ahead, but not their
// markers: a batch at most, each indexed once the next step returns.
class RowsAhead {
public:
    explicit RowsAhead(int batch) : batch_(batch) {}

    // After each step: the table's rows and the notes indexed (search keys).
    void check(const QStringList& table, const QSet<QString>& indexedKeys, int step)
    {
        QSet<QString> ahead;
        for (const QString& row : table) {
            const QString key = row.section(QLatin1Char('|'), 0, 0);
            if (!indexedKeys.contains(key))
                ahead.insert(key);
        }
        EXPECT_LE(ahead.size(), batch_) << "after step " << step;
        EXPECT_EQ(table.size(), indexedKeys.size() + ahead.size()) << "after step " << step;
        for (const QString& key : std::as_const(last_))
            EXPECT_TRUE(indexedKeys.contains(key)) << qPrintable(key) << " read ahead before step " << step;
        last_ = ahead;
    }
    // Once the run is over, none is left ahead.
    bool noneLeft() const { return last_.isEmpty(); }

private:
    int batch_;
    QSet<QString> last_;
};

} // namespace

// A note too large to read whole is listed and found by its head: its title,
// summary and tags come from there, its search row holds no more, and its
// marker spares the next start another read.
TEST_F(CommitTest, NoteStoreRebuildIndexesANoteTooLargeToReadWholeByItsHead)
{
    const QString key = QStringLiteral("Huge log.txt");
    QByteArray bytes = "Huge log\nStarts with words #early\n";
    const QByteArray line = "filler words of a long log\n";
    while (bytes.size() < 2 * Note::HeadOfLargeFile)
        bytes += line;
    bytes += "#late past the head\n";
    while (bytes.size() <= Note::MaximumTextFileSize)
        bytes += line;
    writeNote(NoteStorageInbox, key, bytes);

    rebuild();

    EXPECT_TRUE(indexed(NoteStorageInbox, key));
    NoteHeaderFile header;
    ASSERT_TRUE(header.read(TestSupport::readFile(Note::headerFileForKey(key, NoteStorageInbox))));
    EXPECT_EQ(header.title, QStringLiteral("Huge log"));
    EXPECT_TRUE(header.summary.startsWith(QStringLiteral("Starts with words #early filler words"))) << qPrintable(header.summary);
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("early"), NoteStorageInbox, key));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("late"))));
    const QStringList table = rows();
    ASSERT_EQ(table.size(), 1);
    const QString content = table[0].section(QLatin1Char('|'), 2, 2);
    EXPECT_TRUE(content.startsWith(QStringLiteral("Huge log Starts with words #early"))) << qPrintable(content.left(80));
    EXPECT_LE(content.size(), Note::HeadOfLargeFile);
    EXPECT_EQ(table[0].section(QLatin1Char('|'), 4, 4), QStringLiteral("early"));
}

TEST_F(CommitTest, NoteStoreRebuildIndexesOnlyUnindexedNotesAndNothingWithoutAnInboxFolder)
{
    writeNote(NoteStorageArchive, QStringLiteral("Old plan.txt"), "Old plan\n#work #URGENT");
    Migrator::build();
    EXPECT_FALSE(indexed(NoteStorageArchive, QStringLiteral("Old plan.txt")));
    EXPECT_TRUE(rows().isEmpty());

    writeNote(NoteStorageInbox, QStringLiteral("Groceries.txt"), "Groceries\nmilk #home @anna");
    writeNote(NoteStorageInbox, QStringLiteral(".DS_Store"), "junk");
    // Already indexed: its text must not be read, so no row appears for it.
    writeNote(NoteStorageInbox, QStringLiteral("Done.txt"), "Done\n#skipped");
    ASSERT_TRUE(std::make_shared<Note>(QStringLiteral("Done.txt"), NoteStorageInbox)->writeIndexFile());

    Migrator::build();

    QStringList keys = rowKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"archive/Old plan.txt", "inbox/Groceries.txt"}));
    EXPECT_TRUE(indexed(NoteStorageInbox, QStringLiteral("Groceries.txt")));
    EXPECT_TRUE(indexed(NoteStorageArchive, QStringLiteral("Old plan.txt")));
    EXPECT_FALSE(indexed(NoteStorageInbox, QStringLiteral(".DS_Store")));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("skipped"))));
    EXPECT_TRUE(linked(NoteTagMention, QStringLiteral("anna"), NoteStorageInbox, QStringLiteral("Groceries.txt")));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("urgent"), NoteStorageArchive, QStringLiteral("Old plan.txt")));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("work"))));
    // The header is written from the text when there was none.
    EXPECT_TRUE(QFileInfo::exists(Note::headerFileForKey(QStringLiteral("Groceries.txt"), NoteStorageInbox)));
}

TEST_F(CommitTest, NoteStoreRebuildReindexesNotesChangedOnDiskAndAfterTheIndexIsGone)
{
    const auto first = newNote(QStringLiteral("Groceries list\n#home"));
    const auto second = newNote(QStringLiteral("Spring plans\n#work"), NoteStorageArchive);
    ASSERT_TRUE(commit(first));
    ASSERT_TRUE(commit(second));
    first->setText(QStringLiteral("Groceries list\n#home changed on disk"));
    // Written behind the store's back: only a rebuild brings it into the row.
    TestSupport::writeFile(inbox(first->key()), first->text().toUtf8());

    rebuild();
    EXPECT_TRUE(rows().first().contains(QLatin1String("changed"))) << rows().first().toStdString();

    QDir(caches() + QStringLiteral("/Index")).removeRecursively();
    rebuild();

    const QStringList all = rows();
    ASSERT_EQ(all.size(), 2);
    EXPECT_TRUE(all.first().contains(QLatin1String("changed on disk"))) << all.first().toStdString();
    EXPECT_TRUE(indexed(NoteStorageInbox, first->key()));
    EXPECT_TRUE(indexed(NoteStorageArchive, second->key()));
}

TEST_F(CommitTest, NoteStoreRebuildLeavesTheFileQueueFreeBetweenBatches)
{
    for (int i = 0; i < 600; ++i)
        writeNote(NoteStorageInbox, QStringLiteral("Note number %1.txt").arg(i), QByteArray("Note number ") + QByteArray::number(i));
    Core::shared().buildTagLinkAndIndexFiles();
    int indexedWhenOtherWorkRan = -1;
    Core::shared().fileQueue()->async([&] {
        indexedWhenOtherWorkRan = int(QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size());
    });
    // Three batches: the run ends after the third block.
    for (int i = 0; i < 3; ++i)
        Core::shared().fileQueue()->sync([] {});

    EXPECT_GT(indexedWhenOtherWorkRan, 0);
    EXPECT_LT(indexedWhenOtherWorkRan, 600);
    EXPECT_EQ(QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size(), 600);
    EXPECT_EQ(rows().size(), 600);
}

TEST_F(CommitTest, NoteStoreRebuildOverATableHoldingSomeNotesIndexesExactlyTheRest)
{
    constexpr int Count = 300;
    for (int i = 0; i < Count; ++i)
        writeNote(NoteStorageInbox, QStringLiteral("Note %1.txt").arg(i), QByteArray("Note fresh ") + QByteArray::number(i));
    // Every third note has a stale row and no marker: its row is replaced, not doubled.
    Core::shared().syncDatabase([](SLDatabase& db) {
        for (int i = 0; i < Count; i += 3)
            ASSERT_TRUE(NoteSearchRow(NoteStorageInbox, QStringLiteral("Note %1.txt").arg(i), QStringLiteral("Old"),
                                      QStringLiteral("stale"), {}, {})
                            .write(db));
    });
    NoteIndexRebuild run(50);
    bool more = run.step();
    // A commit between two batches writes a row the run has not read.
    const QStringList markers = QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files);
    QString committed;
    for (int i = 1; committed.isNull(); i += 3) {
        if (!markers.contains(QStringLiteral("Note %1.txt").arg(i)))
            committed = QStringLiteral("Note %1.txt").arg(i);
    }
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ASSERT_TRUE(NoteSearchRow(NoteStorageInbox, committed, QStringLiteral("Committed"), QStringLiteral("x"), {}, {})
                        .write(db));
    });
    while (more)
        more = run.step();

    QStringList keys = rowKeys();
    EXPECT_EQ(keys.size(), Count);
    keys.removeDuplicates();
    EXPECT_EQ(keys.size(), Count);
    EXPECT_EQ(QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size(), Count);
    for (const QString& row : rows())
        ASSERT_TRUE(row.contains(QLatin1String("Note fresh"))) << qPrintable(row);
}

// A run into an empty table fills the search side indexes once, after its
// last rows; one into a table holding rows follows each transaction. A title
// search between two steps finds the notes indexed so far, and when the run
// ends the indexes hold every note, marked as following them.
TEST_F(CommitTest, NoteStoreRebuildLeavesTheSideIndexesFollowingEveryNote)
{
    constexpr int Count = 25;
    const auto titled = [] {
        int found = -1;
        Core::shared().syncDatabase([&](SLDatabase& db) {
            const auto rows = NoteSearchIndex::titleRows(db, QStringLiteral("trip"), 1000, false);
            found = rows ? int(rows->size()) : -1;
        });
        return found;
    };
    const struct {
        bool holdingARow;
        bool searchBetweenSteps;
    } cases[] = {{false, false}, {false, true}, {true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.holdingARow << c.searchBetweenSteps);
        emptyStore();
        for (int i = 0; i < Count; ++i)
            writeNote(NoteStorageInbox, QStringLiteral("Trip %1.txt").arg(i), QByteArray("Trip day") + QByteArray::number(i));
        if (c.holdingARow) {
            Core::shared().syncDatabase([](SLDatabase& db) {
                ASSERT_TRUE(NoteSearchRow(NoteStorageInbox, QStringLiteral("Other.txt"), QStringLiteral("Other"),
                                          QStringLiteral("x"), {}, {})
                                .write(db));
            });
        }
        NoteIndexRebuild run(10);
        ASSERT_TRUE(run.step());
        // The first batch and the next, read ahead.
        if (c.searchBetweenSteps) {
            EXPECT_EQ(titled(), 20);
        }
        while (run.step()) {
        }
        // Read before any search, which would fill an index left behind.
        Core::shared().syncDatabase([&](SLDatabase& db) {
            EXPECT_GE(db.intForQuery(QStringLiteral("SELECT count(*) FROM notes_side")), 2);
            EXPECT_EQ(db.intForQuery(QStringLiteral("SELECT count(*) FROM notes_titles")), Count + c.holdingARow);
        });
        EXPECT_EQ(titled(), Count);
    }
}

// Filled a part at a time beside the run, the side indexes end as a fill
// afresh leaves them, and marked as following the notes: whether the parts
// divide the notes evenly or not, and when a search (which fills them
// afresh) or a commit (a write the run did not make) comes between steps.
TEST_F(CommitTest, NoteStoreRebuildFillingTheSideIndexesInPartsMatchesAFillAfresh)
{
    constexpr int Count = 23;
    const struct {
        int part;
        bool searchBetweenSteps;
        bool commitBetweenSteps;
    } cases[] = {{1, false, false}, {7, false, false}, {10, false, false}, {100, false, false},
                 {7, true, false},  {7, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.part << c.searchBetweenSteps << c.commitBetweenSteps);
        emptyStore();
        for (int i = 0; i < Count; ++i)
            writeNote(NoteStorageInbox, QStringLiteral("Trip %1.txt").arg(i),
                      "Trip day " + QByteArray::number(i) + "\nwords of day " + QByteArray::number(i * 7));
        NoteIndexRebuild run(5, c.part);
        for (int steps = 0; run.step(); ++steps) {
            if (steps != 2)
                continue;
            if (c.searchBetweenSteps) {
                Core::shared().syncDatabase([](SLDatabase& db) {
                    EXPECT_TRUE(NoteSearchIndex::titleRows(db, QStringLiteral("trip"), 1000, false));
                });
            }
            if (c.commitBetweenSteps) {
                // A note indexed already, changed and committed.
                const QString key = QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).first();
                const auto note = std::make_shared<Note>(key, NoteStorageInbox);
                ASSERT_TRUE(note->restoreText());
                note->setText(QStringLiteral("Trip changed\nother words entirely"));
                ASSERT_TRUE(commit(note));
            }
        }
        const QStringList parted = sideIndexRows();
        Core::shared().syncDatabase([](SLDatabase& db) {
            EXPECT_EQ(db.intForQuery(QStringLiteral("SELECT count(DISTINCT written) FROM notes_side")), 1);
            EXPECT_EQ(db.intForQuery(QStringLiteral("SELECT count(*) FROM notes_side")), 3);
            // Marked as following: the first search fills nothing afresh.
            const int64_t changes = db.totalChanges();
            EXPECT_TRUE(NoteSearchIndex::titleRows(db, QStringLiteral("trip"), 1000, false));
            EXPECT_EQ(db.totalChanges(), changes);
            NoteSearchIndex::leaveBehind(db);
            NoteSearchIndex::create(db);
        });
        EXPECT_EQ(parted, sideIndexRows());
        EXPECT_EQ(std::count_if(parted.cbegin(), parted.cend(),
                                [](const QString& row) { return row.contains(QLatin1String("|inbox/Trip")); }),
                  Count);
    }
}

// Notes changed on disk once the side indexes follow the notes are indexed
// again with the indexes following each transaction: each note's old words
// go out of them and its new ones in, so the indexes end as a fill afresh
// leaves them, texts of the same size included.
TEST_F(CommitTest, NoteStoreRebuildOfNotesChangedOnDiskKeepsTheSideIndexesAsAFillAfresh)
{
    constexpr int Count = 12;
    const auto key = [](int i) { return QStringLiteral("Walk %1.txt").arg(i); };
    for (int i = 0; i < Count; ++i)
        writeNote(NoteStorageInbox, key(i), "Walk " + QByteArray::number(i) + "\nalong the river");
    Migrator::build();
    const QStringList before = sideIndexRows();
    for (int i = 0; i < Count; i += 3) {
        writeNote(NoteStorageInbox, key(i), "Walk " + QByteArray::number(i) + "\nunder the trees");
        // Later, so that its marker no longer matches.
        FileDates::setModificationDate(Note::documentFileForKey(key(i), NoteStorageInbox), 2'000'000'000 + i);
    }
    NoteIndexRebuild run(5);
    while (run.step()) {
    }
    const QStringList rebuilt = sideIndexRows();
    Core::shared().syncDatabase([](SLDatabase& db) {
        NoteSearchIndex::leaveBehind(db);
        NoteSearchIndex::create(db);
    });
    EXPECT_EQ(rebuilt, sideIndexRows());
    EXPECT_NE(rebuilt, before);
    EXPECT_EQ(rebuilt.filter(QStringLiteral("tre|")).size(), (Count + 2) / 3);
}

// Whatever the batch size, batches that run from the inbox into the archive
// included, a step leaves exactly its batch's notes whole when it returns:
// row and title, header and meta files, links, and a marker that matches the
// text file; of the next batch's, only rows. Work done beside the run must not
// trail behind the step.
TEST_F(CommitTest, NoteStoreRebuildLeavesEachBatchWholeWhenItsStepReturns)
{
    struct Seeded {
        int storage;
        QString key;
        QString title;
        QString tag;
    };
    QList<Seeded> notes;
    for (int i = 0; i < 9; ++i)
        notes.append({NoteStorageInbox, QStringLiteral("Plan %1.txt").arg(i), QStringLiteral("Plan number %1").arg(i),
                      QStringLiteral("weekly")});
    for (int i = 0; i < 6; ++i)
        notes.append({NoteStorageArchive, QStringLiteral("Old %1.txt").arg(i), QStringLiteral("Old outline %1").arg(i),
                      QStringLiteral("plan")});
    const auto whole = [](const Seeded& n, const QStringList& rows) {
        const QString row = Note::searchNameForStorage(n.storage) + QLatin1Char('/') + n.key + QLatin1Char('|') + n.title
                            + QLatin1Char('|');
        const bool hasRow = std::any_of(rows.cbegin(), rows.cend(), [&](const QString& r) { return r.startsWith(row); });
        return hasRow && QFileInfo::exists(Note::headerFileForKey(n.key, n.storage))
               && QFileInfo::exists(Note::metaFileForKey(n.key, n.storage))
               && linked(NoteTagHashtag, n.tag, n.storage, n.key)
               && NoteIndexMarker::stampOf(Note::indexFileForKey(n.key, n.storage))
                      == NoteIndexMarker::stampOf(Note::documentFileForKey(n.key, n.storage));
    };

    for (const int batch : {1, 2, 4, 9, 10, 50}) {
        SCOPED_TRACE(batch);
        emptyStore();
        for (const Seeded& n : notes)
            writeNote(n.storage, n.key, (n.title + QStringLiteral("\nsome words #") +
                                         (n.storage == NoteStorageInbox ? n.tag : n.tag.toUpper())).toUtf8());
        NoteIndexRebuild run(batch);
        RowsAhead ahead(batch);
        for (int steps = 1;; ++steps) {
            const bool more = run.step();
            const QStringList table = rows();
            QSet<QString> done;
            for (const Seeded& n : notes) {
                if (!indexed(n.storage, n.key))
                    continue;
                done.insert(NoteSearchRow::searchKey(n.storage, n.key));
                EXPECT_TRUE(whole(n, table)) << qPrintable(n.key) << " after step " << steps;
            }
            EXPECT_EQ(done.size(), std::min<qsizetype>(notes.size(), qsizetype(steps) * batch))
                << "after step " << steps;
            ahead.check(table, done, steps);
            EXPECT_TRUE(more || ahead.noneLeft());
            if (!more)
                break;
            ASSERT_LT(steps, 100);
        }
    }
}

// Links are made side by side: a note whose old link leaves a tag folder empty, while other notes
// are being linked into it, takes nothing of theirs with it.
TEST_F(CommitTest, NoteStoreRebuildLinksEveryNoteUnderItsOwnTagsOnly)
{
    constexpr int Notes = 400;
    constexpr int Tags = 4;
    const auto tag = [](int i) { return QStringLiteral("t%1").arg(i % Tags); };
    const auto key = [](int i) { return QStringLiteral("Note %1.txt").arg(i); };
    for (int i = 0; i < Notes; ++i) {
        writeNote(NoteStorageInbox, key(i), QStringLiteral("Note %1\n#%2 @%2").arg(i).arg(tag(i)).toUtf8());
        // Left from before: under a tag the note no longer carries, and under one no note does.
        for (const int kind : {NoteTagHashtag, NoteTagMention}) {
            TestSupport::writeFile(linkFile(kind, tag(i + 1), NoteStorageInbox, key(i)), {});
            TestSupport::writeFile(linkFile(kind, QStringLiteral("gone"), NoteStorageInbox, key(i)), {});
        }
    }

    Migrator::build();

    for (const int kind : {NoteTagHashtag, NoteTagMention}) {
        SCOPED_TRACE(kind);
        int misplaced = 0;
        for (int i = 0; i < Notes; ++i)
            misplaced += !linked(kind, tag(i), NoteStorageInbox, key(i)) || linked(kind, tag(i + 1), NoteStorageInbox, key(i));
        EXPECT_EQ(misplaced, 0);
        EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(kind, QStringLiteral("gone"))));
        for (int t = 0; t < Tags; ++t)
            EXPECT_EQ(QDir(Note::linkDirectoryForTag(kind, tag(t), NoteStorageInbox)).entryList(QDir::Files).size(),
                      Notes / Tags);
    }
}

// The application quitting stops a step before its next read: the notes it
// read are indexed whole, none after them, and a later run takes the rest.
TEST_F(CommitTest, NoteStoreRebuildStoppedReadsNoMoreNotesAndTheNextRunTakesTheRest)
{
    constexpr int Notes = 12;
    constexpr int Batch = 4;
    for (const int stepsBeforeStop : {0, 1, 2}) {
        SCOPED_TRACE(stepsBeforeStop);
        emptyStore();
        for (int i = 0; i < Notes; ++i)
            writeNote(NoteStorageInbox, QStringLiteral("Note %1.txt").arg(i, 2, 10, QLatin1Char('0')),
                      QStringLiteral("Note %1\n#weekly").arg(i).toUtf8());
        const auto indexedCount = [] {
            int count = 0;
            for (int i = 0; i < Notes; ++i)
                count += indexed(NoteStorageInbox, QStringLiteral("Note %1.txt").arg(i, 2, 10, QLatin1Char('0')));
            return count;
        };
        std::atomic<bool> stopped {false};
        {
            NoteIndexRebuild run(Batch);
            for (int step = 0; step < stepsBeforeStop; ++step)
                ASSERT_TRUE(run.step(&stopped));
            stopped = true;
            EXPECT_TRUE(run.step(&stopped)) << "a stopped run is not over";
            EXPECT_EQ(indexedCount(), stepsBeforeStop * Batch);
            // With the rows of the batch the last step read ahead.
            EXPECT_EQ(rows().size(), stepsBeforeStop == 0 ? 0 : (stepsBeforeStop + 1) * Batch);
        }
        NoteIndexRebuild next(Notes);
        while (next.step()) {
        }
        EXPECT_EQ(indexedCount(), Notes);
        EXPECT_EQ(rows().size(), Notes);
    }
}

// Notes that cannot be read take no place in a batch: each step still
// leaves exactly its batch of readable notes whole, and none of the others
// marked, whatever the batch size and wherever the unreadable ones fall.
TEST_F(CommitTest, NoteStoreRebuildFillsEachBatchWithReadableNotesOnly)
{
    const QByteArray undecodable("\x81\x8D\x8F\x90\x9D", 5);
    struct Seeded {
        int storage;
        QString key;
        bool readable;
    };
    QList<Seeded> notes;
    for (int i = 0; i < 45; ++i) {
        const int storage = i < 33 ? NoteStorageInbox : NoteStorageArchive;
        // Runs of unreadable notes, long ones included, and lone ones.
        const bool readable = !(i % 7 == 3 || (i >= 10 && i < 20) || i == 44);
        notes.append({storage, QStringLiteral("Note %1.txt").arg(i), readable});
    }
    const qsizetype readable = std::count_if(notes.cbegin(), notes.cend(), [](const Seeded& n) { return n.readable; });
    for (const int batch : {1, 3, 4, 16, 31, 33, 40}) {
        SCOPED_TRACE(batch);
        emptyStore();
        for (const Seeded& n : notes)
            writeNote(n.storage, n.key, n.readable ? (n.key + QStringLiteral("\nwords #plan")).toUtf8() : undecodable);
        NoteIndexRebuild run(batch);
        RowsAhead ahead(batch);
        for (int steps = 1;; ++steps) {
            const bool more = run.step();
            QSet<QString> done;
            for (const Seeded& n : notes) {
                if (!indexed(n.storage, n.key))
                    continue;
                done.insert(NoteSearchRow::searchKey(n.storage, n.key));
                EXPECT_TRUE(n.readable) << qPrintable(n.key) << " after step " << steps;
            }
            EXPECT_EQ(done.size(), std::min<qsizetype>(readable, qsizetype(steps) * batch)) << "after step " << steps;
            ahead.check(rows(), done, steps);
            EXPECT_TRUE(more || ahead.noneLeft());
            if (!more)
                break;
            ASSERT_LT(steps, 100);
        }
    }
}

// Whatever records a note had when it is indexed again, the rebuild leaves a
// header of its text and a meta record no older than the text, and nothing
// of its saves beside them.
TEST_F(CommitTest, NoteStoreRebuildWritesTheRecordsOfEachNoteOverWhatWasThere)
{
    constexpr int64_t TextTime = 1700000000;
    const NoteMetaFile newer{3, 0, 0, TextTime - 50, TextTime + 100, QString()};
    const struct {
        const char* key;
        QByteArray header; // null: none
        QByteArray meta;
        int64_t updatedOn; // what the meta record holds afterwards
        bool metaKept;
        int32_t textNanoseconds = 0; // another program's date has a fraction
    } cases[] = {
        {"None.txt", QByteArray(), QByteArray(), TextTime, false},
        {"Empty.txt", "", "", TextTime, false},
        {"Stale.txt", NoteHeaderFile{"Old title", "old words"}.data(),
         NoteMetaFile{7, 0, 0, TextTime - 90, TextTime - 10, QString()}.data(), TextTime, false},
        {"Newer.txt", NoteHeaderFile{"Old title", "old words"}.data(), newer.data(), TextTime + 100, true},
        // A fraction dates a new record at the next second, never before its file.
        {"Foreign.txt", QByteArray(), QByteArray(), TextTime + 1, false, 250'000'000},
        {"Foreign stale.txt", QByteArray(), NoteMetaFile{7, 0, 0, TextTime - 90, TextTime - 10, QString()}.data(),
         TextTime + 1, false, 1},
        {"Foreign same second.txt", QByteArray(), NoteMetaFile{7, 0, 0, TextTime - 90, TextTime, QString()}.data(),
         TextTime, true, 999'999'999},
    };
    for (const auto& c : cases) {
        const QString key = QString::fromLatin1(c.key);
        writeNote(NoteStorageInbox, key, "Fresh title " + QByteArray(c.key) + "\nnew words");
        ASSERT_TRUE(FileTimes::setModificationTime(inbox(key), {TextTime, c.textNanoseconds}));
        if (!c.header.isNull())
            TestSupport::writeFile(Note::headerFileForKey(key, NoteStorageInbox), c.header);
        if (!c.meta.isNull())
            TestSupport::writeFile(Note::metaFileForKey(key, NoteStorageInbox), c.meta);
    }
    rebuild();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString key = QString::fromLatin1(c.key);
        NoteHeaderFile header;
        ASSERT_TRUE(header.read(TestSupport::readFile(Note::headerFileForKey(key, NoteStorageInbox))));
        EXPECT_EQ(header.title, QStringLiteral("Fresh title ") + key);
        const QByteArray metaRecord = TestSupport::readFile(Note::metaFileForKey(key, NoteStorageInbox));
        NoteMetaFile meta;
        ASSERT_TRUE(meta.read(metaRecord));
        EXPECT_EQ(meta.updatedOn, c.updatedOn);
        if (c.metaKept) {
            EXPECT_EQ(metaRecord, c.meta);
        }
        EXPECT_TRUE(indexed(NoteStorageInbox, key));
    }
    for (const QString& folder : {Note::headerDirectoryForStorage(NoteStorageInbox), Note::metaDirectoryForStorage(NoteStorageInbox)})
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"Empty.txt", "Foreign same second.txt", "Foreign stale.txt", "Foreign.txt",
                               "Newer.txt", "None.txt", "Stale.txt"}));
}

// A step reads the next batch's notes ahead while its own writes finish.
// Each is taken as read only when its file is as it was: a note edited in
// place, replaced by another file of the same size and time, removed or made
// unreadable between the steps is indexed as it is then (or not at all, and
// the row written ahead goes), a note committed meanwhile keeps its commit's
// row, and a meta record saved meanwhile is kept.
TEST_F(CommitTest, NoteStoreRebuildTakesNotesChangedBetweenStepsAsTheyAreThen)
{
    constexpr int Count = 24;
    constexpr int64_t TextTime = 1700000000;
    const auto key = [](int i) { return QStringLiteral("Note %1.txt").arg(i, 2, 10, QLatin1Char('0')); };
    for (int i = 0; i < Count; ++i)
        writeNote(NoteStorageInbox, key(i), "Note first " + QByteArray::number(i) + "\n#before");
    const NoteMetaFile saved{7, 0, 0, TextTime - 50, TextTime + 100, QString()};
    enum Change { Edited, Replaced, Removed, CaretSaved, Undecodable, Committed, Changes };
    QHash<QString, Change> changes;
    NoteIndexRebuild run(6);
    ASSERT_TRUE(run.step());
    for (int i = 0; i < Count; ++i) {
        const QString path = inbox(key(i));
        if (indexed(NoteStorageInbox, key(i)))
            continue;
        const auto change = Change(changes.size() % Changes);
        changes.insert(key(i), change);
        switch (change) {
        case Edited:
            TestSupport::writeFile(path, "Note edited " + QByteArray::number(i) + "\n#after more");
            break;
        case Replaced: {
            const auto before = FileTimes::modificationTime(path);
            ASSERT_TRUE(before);
            const QString other = path + QStringLiteral(".new");
            TestSupport::writeFile(other, "Note fresh " + QByteArray::number(i) + "\n#before");
            ASSERT_TRUE(FileTimes::setModificationTime(other, *before));
            ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
            break;
        }
        case Removed:
            ASSERT_TRUE(QFile::remove(path));
            break;
        case CaretSaved:
            ASSERT_TRUE(FileTimes::setModificationTime(path, {TextTime, 0}));
            TestSupport::writeFile(Note::metaFileForKey(key(i), NoteStorageInbox), saved.data());
            break;
        case Undecodable:
            TestSupport::writeFile(path, QByteArray("\x81\x8D\x8F\x90\x9D", 5));
            break;
        case Committed: {
            const auto note = std::make_shared<Note>(key(i), NoteStorageInbox);
            ASSERT_TRUE(note->restoreText());
            note->setText(QStringLiteral("Note committed %1\n#before").arg(i));
            ASSERT_TRUE(commit(note));
            break;
        }
        case Changes:
            break;
        }
    }
    ASSERT_EQ(changes.size(), Count - 6);
    while (run.step()) {
    }

    const QStringList table = rows();
    const auto rowOf = [&](const QString& k) {
        const auto found = std::find_if(table.cbegin(), table.cend(),
                                        [&](const QString& r) { return r.startsWith(QStringLiteral("inbox/") + k); });
        return found == table.cend() ? QString() : *found;
    };
    for (auto c = changes.cbegin(); c != changes.cend(); ++c) {
        SCOPED_TRACE(qPrintable(c.key()));
        const QString row = rowOf(c.key());
        if (c.value() == Removed || c.value() == Undecodable) {
            EXPECT_TRUE(row.isNull());
            EXPECT_FALSE(indexed(NoteStorageInbox, c.key()));
            EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("before"), NoteStorageInbox, c.key()));
            continue;
        }
        const char* expected[] = {"Note edited", "Note fresh", "", "Note first", "", "Note committed"};
        EXPECT_TRUE(row.contains(QLatin1String(expected[c.value()]))) << qPrintable(row);
        EXPECT_EQ(NoteIndexMarker::stampOf(Note::indexFileForKey(c.key(), NoteStorageInbox)),
                  NoteIndexMarker::stampOf(inbox(c.key())));
        EXPECT_EQ(linked(NoteTagHashtag, QStringLiteral("after"), NoteStorageInbox, c.key()), c.value() == Edited);
        EXPECT_EQ(linked(NoteTagHashtag, QStringLiteral("before"), NoteStorageInbox, c.key()), c.value() != Edited);
        if (c.value() == CaretSaved) {
            EXPECT_EQ(TestSupport::readFile(Note::metaFileForKey(c.key(), NoteStorageInbox)), saved.data());
        }
    }
    EXPECT_EQ(table.size(), Count - std::count(changes.cbegin(), changes.cend(), Removed)
                                - std::count(changes.cbegin(), changes.cend(), Undecodable));
}

// A note indexed before and changed on disk is read ahead, its row written,
// then committed by the note store before its step: the commit's row and
// marker stand, the run taking nothing away.
TEST_F(CommitTest, NoteStoreRebuildKeepsTheRowOfANoteCommittedAfterItWasReadAhead)
{
    const auto key = [](int i) { return QStringLiteral("Note %1.txt").arg(i); };
    for (int i = 0; i < 4; ++i)
        writeNote(NoteStorageInbox, key(i), "Note " + QByteArray::number(i) + "\nfirst words");
    Migrator::build();
    for (int i = 0; i < 4; ++i) {
        writeNote(NoteStorageInbox, key(i), "Note " + QByteArray::number(i) + "\nchanged on disk");
        FileDates::setModificationDate(Note::documentFileForKey(key(i), NoteStorageInbox), 2'000'000'000 + i);
    }
    NoteIndexRebuild run(2);
    ASSERT_TRUE(run.step());
    // One of the next batch: its new row in, its marker still the old one.
    QString ahead;
    for (int i = 0; i < 4 && ahead.isEmpty(); ++i) {
        const bool marked = NoteIndexMarker::stampOf(Note::indexFileForKey(key(i), NoteStorageInbox))
                            == NoteIndexMarker::stampOf(inbox(key(i)));
        const QString row = rows().filter(QStringLiteral("inbox/") + key(i)).join(QString());
        if (!marked && row.contains(QLatin1String("changed on disk")))
            ahead = key(i);
    }
    ASSERT_FALSE(ahead.isEmpty());
    const auto note = std::make_shared<Note>(ahead, NoteStorageInbox);
    ASSERT_TRUE(note->restoreText());
    note->setText(QStringLiteral("Note ahead\ncommitted words"));
    ASSERT_TRUE(commit(note));
    while (run.step()) {
    }
    const QStringList found = rows().filter(QStringLiteral("inbox/") + ahead);
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found.first().contains(QLatin1String("committed words"))) << qPrintable(found.first());
    EXPECT_EQ(NoteIndexMarker::stampOf(Note::indexFileForKey(ahead, NoteStorageInbox)),
              NoteIndexMarker::stampOf(inbox(ahead)));
}

TEST(NoteStoreSearchRow, ContentCollapsesMarksAndWhiteSpaceAsTheExpressionDoes)
{
    // Every kind of white space, the mark characters, and look-alikes that are neither.
    const QString alphabet = QString::fromUtf8("a\u00e9 \t\r\n\u00a0\u2028\u3000\u180e\u200b*_\"[](){}-=#>~");
    const QRegularExpression marks =
        UnicodeRegex::expression(QStringLiteral("[\\s\\*\\_\"\\[\\]\\(\\)\\{\\}\\n]+"));
    std::mt19937 random(5);
    for (int round = 0; round < 2000; ++round) {
        QString text;
        for (int i = int(random() % 12); i > 0; --i)
            text += alphabet.at(qsizetype(random() % alphabet.size()));
        // With the headings and rules left out, only the marks change the text.
        if (text.contains(QLatin1Char('#')) || text.contains(QLatin1Char('-')) || text.contains(QLatin1Char('=')))
            continue;
        ASSERT_EQ(NoteSearchRow::cleanedContent(text), UnicodeRegex::replace(text, marks, QStringLiteral(" ")))
            << qPrintable(text);
    }
}

// --- Migration

TEST_F(CommitTest, NoteStoreMigrationRaisesTheLevelOnlyUpwards)
{
    UserDefaults& defaults = UserDefaults::standard();
    const std::pair<std::optional<int64_t>, int64_t> cases[] = {{std::nullopt, 9}, {12, 12}, {4, 9}};
    for (const auto& [stored, raised] : cases) {
        if (stored)
            defaults.setInteger(*stored, QStringLiteral("migrate"));
        else
            defaults.removeObject(QStringLiteral("migrate"));
        Migrator::migrateInMainThread();
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("migrate")), raised) << stored.value_or(-1);
    }
}

TEST_F(CommitTest, NoteStoreMigrationForceMakeDirectoryKeepsAPlainFileAside)
{
    QDir(TestSupport::home() + QStringLiteral("/migrate")).removeRecursively();
    const QString path = TestSupport::home() + QStringLiteral("/migrate/X");
    TestSupport::writeFile(path, "old file");
    Migrator::forceMakeDirectory(path);
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_TRUE(QDir(path).isEmpty());
    EXPECT_EQ(TestSupport::readFile(path + QStringLiteral(".backup")), QByteArray("old file"));

    // An existing directory stays as it is.
    TestSupport::writeFile(path + QStringLiteral("/inside"), "kept");
    Migrator::forceMakeDirectory(path);
    EXPECT_EQ(TestSupport::readFile(path + QStringLiteral("/inside")), QByteArray("kept"));
}

TEST_F(CommitTest, NoteStoreMigrationCopyFileNeverOverwrites)
{
    QDir(TestSupport::home() + QStringLiteral("/copy")).removeRecursively();
    const QString from = TestSupport::home() + QStringLiteral("/copy/from");
    const QString to = TestSupport::home() + QStringLiteral("/copy/deep/to");
    TestSupport::writeFile(from + QStringLiteral("/a.txt"), "new a");
    TestSupport::writeFile(from + QStringLiteral("/b.txt"), "new b");
    TestSupport::writeFile(to + QStringLiteral("/b.txt"), "old b");
    Migrator::copyFile(QStringLiteral("a.txt"), from, to);
    Migrator::copyFile(QStringLiteral("b.txt"), from, to);
    Migrator::copyFile(QStringLiteral("missing.txt"), from, to);
    EXPECT_EQ(TestSupport::readFile(to + QStringLiteral("/a.txt")), QByteArray("new a"));
    EXPECT_EQ(TestSupport::readFile(to + QStringLiteral("/b.txt")), QByteArray("old b"));
    EXPECT_FALSE(QFileInfo::exists(to + QStringLiteral("/missing.txt")));
}
