#include "CommitTestSupport.h"

#include "Store/NoteIndexMarker.h"

#include <functional>

namespace {

bool markedCurrent(const QString& key, int storage)
{
    const NoteIndexMarker::Stamp text = NoteIndexMarker::stampOf(Note::documentFileForKey(key, storage));
    return text.regular && NoteIndexMarker::stampOf(Note::indexFileForKey(key, storage)) == text;
}

} // namespace

// Rows held back by an open batch go in when it closes, each with its marker,
// unless the note's text file changed in between.
TEST_F(CommitTest, IndexBatchWritesTheRowsAndMarkersOfTheNotesStillAsIndexed)
{
    struct Case {
        const char* name;
        std::function<void(const NotePtr&)> meanwhile;
        QStringList rows;
        QString marked; // search key of the one note left marked, empty for none
    };
    const Case cases[] = {
        {"left alone", [](const NotePtr&) {}, {"inbox/Meeting notes.txt"}, "inbox/Meeting notes.txt"},
        {"committed again",
         [](const NotePtr& note) {
             note->setText(QStringLiteral("Meeting notes\nsecond"));
             EXPECT_TRUE(commit(note));
         },
         {"inbox/Meeting notes.txt"}, "inbox/Meeting notes.txt"},
        {"written by another program",
         [](const NotePtr& note) { TestSupport::writeFile(inbox(note->key()), "Meeting notes\nfrom elsewhere"); },
         {}, ""},
        {"moved to the archive",
         [](const NotePtr& note) { EXPECT_TRUE(note->moveNoteToStorage(NoteStorageArchive)); },
         {"archive/Meeting notes.txt"}, "archive/Meeting notes.txt"},
        {"removed from the index", [](const NotePtr& note) { note->removeFromIndex(); }, {}, ""},
    };
    for (const Case& c : cases) {
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
            EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, note->key()));
            c.meanwhile(note);
        }
        QStringList keys = rowKeys();
        keys.removeAll(QStringLiteral("inbox/Groceries list.txt"));
        EXPECT_EQ(keys, c.rows);
        EXPECT_TRUE(markedCurrent(QStringLiteral("Groceries list.txt"), NoteStorageInbox));
        for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
            const bool marked = c.marked == Note::searchNameForStorage(storage) + QStringLiteral("/Meeting notes.txt");
            EXPECT_EQ(markedCurrent(QStringLiteral("Meeting notes.txt"), storage), marked) << storage;
        }
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
