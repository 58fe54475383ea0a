#include "CommitTestSupport.h"

#include "Store/NoteIndexMarker.h"

#include <functional>
#include <future>

namespace {

bool markedCurrent(const QString& key, int storage)
{
    const NoteIndexMarker::Stamp text = NoteIndexMarker::stampOf(Note::documentFileForKey(key, storage));
    return text.regular && NoteIndexMarker::stampOf(Note::indexFileForKey(key, storage)) == text;
}

struct BatchCase {
    const char* name;
    std::function<void(const NotePtr&)> meanwhile;
    QStringList rows;
    QString marked; // search key of the one note left marked, empty for none
    QStringList rowsHandedOff; // when the change comes after the rows were handed off
};

std::vector<BatchCase> batchCases()
{
    return {
        {"left alone", [](const NotePtr&) {}, {"inbox/Meeting notes.txt"}, "inbox/Meeting notes.txt",
         {"inbox/Meeting notes.txt"}},
        {"committed again",
         [](const NotePtr& note) {
             note->setText(QStringLiteral("Meeting notes\nsecond"));
             bool committed = false;
             note->_commitLocalNote([&](bool ok) { committed = ok; });
             EXPECT_TRUE(committed);
         },
         {"inbox/Meeting notes.txt"}, "inbox/Meeting notes.txt", {"inbox/Meeting notes.txt"}},
        // Handed off, the row was taken before the change: unmarked, it is indexed again.
        {"written by another program",
         [](const NotePtr& note) { TestSupport::writeFile(Note::documentFileForKey(note->key(), NoteStorageInbox), "Meeting notes\nfrom elsewhere"); },
         {}, "", {"inbox/Meeting notes.txt"}},
        {"moved to the archive",
         [](const NotePtr& note) { EXPECT_TRUE(note->moveNoteToStorage(NoteStorageArchive)); },
         {"archive/Meeting notes.txt"}, "archive/Meeting notes.txt", {"archive/Meeting notes.txt"}},
        {"removed from the index", [](const NotePtr& note) { note->removeFromIndex(); }, {}, "", {}},
    };
}

void expectMarked(const QString& marked)
{
    EXPECT_TRUE(markedCurrent(QStringLiteral("Groceries list.txt"), NoteStorageInbox));
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const bool expected = marked == Note::searchNameForStorage(storage) + QStringLiteral("/Meeting notes.txt");
        EXPECT_EQ(markedCurrent(QStringLiteral("Meeting notes.txt"), storage), expected) << storage;
    }
}

QStringList meetingRows(QStringList keys)
{
    keys.removeAll(QStringLiteral("inbox/Groceries list.txt"));
    return keys;
}

} // namespace

// Rows held back by an open batch go in when it closes, each with its marker,
// unless the note's text file changed in between.
TEST_F(CommitTest, IndexBatchWritesTheRowsAndMarkersOfTheNotesStillAsIndexed)
{
    for (const BatchCase& c : batchCases()) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        NotePtr note;
        {
            Note::IndexBatch batch;
            note = committed(QStringLiteral("Meeting notes\nfirst #plan"));
            const NotePtr other = committed(QStringLiteral("Groceries list\nmilk"));
            EXPECT_TRUE(rows().isEmpty());
            EXPECT_FALSE(markedCurrent(note->key(), NoteStorageInbox));
            // The links do not wait for the row.
            batch.makeLinks();
            EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, note->key()));
            c.meanwhile(note);
        }
        EXPECT_EQ(meetingRows(rowKeys()), c.rows);
        expectMarked(c.marked);
    }
}

// Handed to the database queue, the rows go in without the committer waiting;
// a change made before the markers are written leaves none that lies.
TEST_F(CommitTest, IndexBatchHandedOffMarksOnlyTheNotesStillAsIndexed)
{
    for (const BatchCase& c : batchCases()) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        // The markers are written on the file queue: held, they come after the change.
        std::promise<void> release;
        Core::shared().fileQueue()->async([held = release.get_future().share()] { held.wait(); });
        NotePtr note;
        {
            Note::IndexBatch batch;
            note = committed(QStringLiteral("Meeting notes\nfirst #plan"));
            const NotePtr other = committed(QStringLiteral("Groceries list\nmilk"));
            batch.handOff();
        }
        c.meanwhile(note);
        release.set_value();
        EXPECT_EQ(meetingRows(rowKeys()), c.rowsHandedOff);
        Core::shared().fileQueue()->sync([] {});
        expectMarked(c.marked);
    }
}

TEST_F(CommitTest, IndexBatchRowHoldsTheLastTextCommittedInIt)
{
    {
        Note::IndexBatch batch;
        const NotePtr note = committed(QStringLiteral("Meeting notes\nfirst"));
        note->setText(QStringLiteral("Meeting notes\nsecond"));
        ASSERT_TRUE(commit(note));
    }
    const QStringList all = rows();
    ASSERT_EQ(all.size(), 1);
    EXPECT_TRUE(all[0].startsWith(QLatin1String("inbox/Meeting notes.txt|Meeting notes|Meeting notes second|")))
        << all[0].toStdString();
}

// Hand-offs that meet a busy database queue go in together; each note is
// still marked as its own hand-off and later changes say.
TEST_F(CommitTest, IndexBatchHandOffsMeetingABusyDatabaseAreEachMarkedAsTheirNotesStand)
{
    std::promise<void> release;
    Core::shared().asyncDatabase([held = release.get_future().share()](SLDatabase&) { held.wait(); });
    QList<NotePtr> notes;
    for (const char* texts : {"Alpha notes\none|Beta notes\ntwo", "Gamma notes\nthree|Delta notes\nfour|Epsilon notes\nfive"}) {
        Note::IndexBatch batch;
        for (const QString& text : QString::fromLatin1(texts).split(QLatin1Char('|')))
            notes.append(committed(text));
        batch.handOff();
    }
    // Beta leaves the index and Delta's file is rewritten while their rows wait.
    notes[1]->removeFromIndex();
    TestSupport::writeFile(inbox(notes[3]->key()), "Delta notes\nfrom elsewhere");
    release.set_value();
    Core::shared().syncDatabase([](SLDatabase&) {});
    Core::shared().fileQueue()->sync([] {});

    EXPECT_EQ(rowKeys(), (QStringList{"inbox/Alpha notes.txt", "inbox/Gamma notes.txt", "inbox/Delta notes.txt",
                                    "inbox/Epsilon notes.txt"}));
    const std::vector<bool> marked{true, false, true, false, true};
    for (qsizetype i = 0; i < notes.size(); ++i)
        EXPECT_EQ(markedCurrent(notes[i]->key(), NoteStorageInbox), marked[size_t(i)]) << i;
}

// A marker says the note is indexed, links included: markers written while
// the batch's helpers are held up make the links first.
TEST_F(CommitTest, IndexBatchMarkersOfAHandOffComeAfterItsLinks)
{
    PoolHeld held;
    Note::IndexBatch batch;
    const NotePtr note = committed(QStringLiteral("Meeting notes\n#plan @ann"));
    batch.handOff();
    Core::shared().syncDatabase([](SLDatabase&) {});
    Core::shared().fileQueue()->sync([] {});

    EXPECT_TRUE(markedCurrent(note->key(), NoteStorageInbox));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, note->key()));
    EXPECT_TRUE(linked(NoteTagMention, QStringLiteral("ann"), NoteStorageInbox, note->key()));
}
