// A commit and the start-up rebuild visit only the tag folders that can hold
// the note's links, known from the note's row or from the folders read once
// and kept current since. Each case runs the same work that way and with the
// folders read afresh before every note, which sees every folder, and the
// tag trees and events must come out the same.
#include "CommitTestSupport.h"

#include "Store/Migrator.h"
#include "Store/NoteSearchRow.h"
#include "Store/TagLinkIndex.h"

#include <QRegularExpression>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Every entry under the tag folders, with a link's dates and a spelling's text.
QStringList linkTree()
{
    return cacheTree(Core::shared().cachesDirectory()).filter(QRegularExpression(QStringLiteral("^Link/")));
}

// What one run leaves: the tree and the events after every step.
struct Outcome {
    QList<QStringList> trees;
    QList<QStringList> events;
};

} // namespace

class TagLinkTest : public CommitTest {
protected:
    // Starts an empty store with a fresh event log, as the application starts.
    void restart()
    {
        emptyStore();
        Core::shared().removeNoteStorageListener(events.get());
        events = std::make_shared<EventJournal>();
        Core::shared().addNoteStorageListener(events);
        TagLinkIndex::shared().forget();
    }

    void record(Outcome& outcome) const
    {
        outcome.trees.append(linkTree());
        outcome.events.append(events->lines());
    }
};

TEST_F(TagLinkTest, NoteStoreCommitVisitingTheNotesTagsMatchesVisitingEveryTag)
{
    // Tags that differ only in case, strong and weak spellings, non-ASCII
    // names and names on either side of upper and lower case in code order.
    const QStringList pool{QStringLiteral("Plan"), QStringLiteral("PLAN"), QStringLiteral("plan"),
                           QStringLiteral("TODO"), QStringLiteral("work"), QStringLiteral("Work"),
                           QStringLiteral("Éclair"), QStringLiteral("東京"), QStringLiteral("a1"),
                           QStringLiteral("Zed"), QStringLiteral("_x"), QStringLiteral("B2")};
    // Two notes share a title in different storages, so their keys match.
    const QList<QPair<QString, int>> notes{{QStringLiteral("Weekly review notes"), NoteStorageInbox},
                                           {QStringLiteral("Shopping list for home"), NoteStorageInbox},
                                           {QStringLiteral("Weekly review notes"), NoteStorageArchive},
                                           {QStringLiteral("Travel ideas for spring"), NoteStorageInbox},
                                           {QStringLiteral("Old project outline"), NoteStorageArchive}};
    enum class Mode { RowsAndKeptFolders, KeptFoldersOnly, EveryFolderReadAfresh };

    const auto run = [&](Mode mode) {
        restart();
        // Left by an earlier run: a stale link under the key the first new
        // note takes, an emptied storage folder, a folder holding only its
        // spelling and a loose file; the first note's commit tidies them.
        const QString kindFolder = Note::linkDirectoryForTag(NoteTagHashtag);
        const QString stale = linkFile(NoteTagHashtag, QStringLiteral("gone"), NoteStorageInbox,
                                       QStringLiteral("Weekly review notes.txt"));
        TestSupport::writeFile(stale, "");
        FileDates::setCreationDate(stale, int64_t(CommitNow));
        FileDates::setModificationDate(stale, int64_t(CommitNow));
        // Its row too, left naming the tag: a commit that creates the text
        // reads no row, so the folders read must find the link.
        Core::shared().syncDatabase([](SLDatabase& db) {
            NoteSearchRow(NoteStorageInbox, QStringLiteral("Weekly review notes.txt"), QStringLiteral("Weekly"),
                          QStringLiteral("#gone"), {QStringLiteral("gone")}, {})
                .write(db);
        });
        QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("empty"), NoteStorageArchive));
        TestSupport::writeFile(Note::metaFileForTag(NoteTagMention, QStringLiteral("spelling")), "Spelling");
        TestSupport::writeFile(kindFolder + QStringLiteral("/loose"), "");
        std::mt19937 random(20240315);
        QList<NotePtr> live;
        for (const auto& [title, storage] : notes)
            live.append(newNote(title, storage));
        Outcome outcome;
        for (int step = 0; step < 80; ++step) {
            const NotePtr& note = live[int(random() % live.size())];
            QString text = note->text().section(QLatin1Char('\n'), 0, 0) + QLatin1Char('\n');
            const int count = int(random() % 5);
            for (int i = 0; i < count; ++i) {
                text += (random() % 3 == 0 ? QStringLiteral("@") : QStringLiteral("#")) + pool[int(random() % pool.size())]
                        + QLatin1Char(' ');
            }
            note->setText(text);
            note->setUpdatedOn(1710491412 + step);
            // Without its row a note's previous tags are unknown but to the
            // folders read.
            if (mode != Mode::RowsAndKeptFolders && !note->key().isNull()) {
                Core::shared().syncDatabase([&](SLDatabase& db) {
                    NoteSearchRow::remove(db, NoteSearchRow::searchKey(note->storage(), note->key()));
                });
            }
            if (mode == Mode::EveryFolderReadAfresh)
                TagLinkIndex::shared().forget();
            EXPECT_TRUE(commit(note));
            record(outcome);
        }
        return outcome;
    };

    const Outcome reference = run(Mode::EveryFolderReadAfresh);
    for (const Mode mode : {Mode::RowsAndKeptFolders, Mode::KeptFoldersOnly}) {
        const Outcome outcome = run(mode);
        ASSERT_EQ(outcome.trees.size(), reference.trees.size());
        for (qsizetype i = 0; i < outcome.trees.size(); ++i) {
            ASSERT_EQ(outcome.trees[i], reference.trees[i]) << "mode " << int(mode) << " after commit " << i;
            ASSERT_EQ(outcome.events[i], reference.events[i]) << "mode " << int(mode) << " after commit " << i;
        }
    }
    // The sequence did change tags, and the first commit tidied what was left.
    EXPECT_FALSE(reference.events.last().filter(QStringLiteral("tagDelete")).isEmpty());
    EXPECT_FALSE(reference.trees.last().isEmpty());
    const auto left = [](const QStringList& tree, const char* names) {
        return tree.filter(QRegularExpression(QStringLiteral("/(%1)(/|$)").arg(QLatin1String(names))));
    };
    EXPECT_EQ(left(reference.trees.first(), "empty|spelling|loose"), QStringList());
    EXPECT_EQ(left(reference.trees.last(), "gone"), QStringList());
}

TEST_F(TagLinkTest, NoteStoreRebuildVisitingLinkedTagsMatchesVisitingEveryTag)
{
    const QString kindFolder = Note::linkDirectoryForTag(NoteTagHashtag);
    const QString beta = QStringLiteral("Beta notes.txt");
    const QString alpha = QStringLiteral("Alpha notes.txt");
    // Unindexed notes, and tag folders left from an earlier index: links the
    // texts no longer carry, an emptied storage folder, a folder holding only
    // its spelling, a stray file, and links of notes the run does not touch.
    const auto seed = [&] {
        restart();
        // Fixed dates: the links carry them, whenever the seeding ran.
        const auto write = [](int storage, const QString& key, const QByteArray& text) {
            const QString path = Note::documentFileForKey(key, storage);
            TestSupport::writeFile(path, text);
            FileDates::setCreationDate(path, 1700000000);
            FileDates::setModificationDate(path, 1700003600);
        };
        write(NoteStorageInbox, alpha, "Alpha notes\n#plan #home @ann");
        write(NoteStorageInbox, beta, "Beta notes\n#work");
        write(NoteStorageInbox, QStringLiteral("Gamma notes.txt"), "Gamma notes\n#TODO #Plan");
        write(NoteStorageArchive, alpha, "Alpha notes\n#URGENT #plan");
        write(NoteStorageInbox, QStringLiteral("Indexed notes.txt"), "Indexed notes\n#old");
        ASSERT_TRUE(std::make_shared<Note>(QStringLiteral("Indexed notes.txt"), NoteStorageInbox)->writeIndexFile());
        for (const QString& link : {linkFile(NoteTagHashtag, QStringLiteral("home"), NoteStorageInbox, beta),
                                    linkFile(NoteTagHashtag, QStringLiteral("plan"), NoteStorageArchive, alpha),
                                    linkFile(NoteTagHashtag, QStringLiteral("old"), NoteStorageInbox, alpha),
                                    linkFile(NoteTagHashtag, QStringLiteral("old"), NoteStorageInbox,
                                             QStringLiteral("Indexed notes.txt")),
                                    linkFile(NoteTagHashtag, QStringLiteral("zed"), NoteStorageArchive,
                                             QStringLiteral("Other.txt")),
                                    linkFile(NoteTagMention, QStringLiteral("bob"), NoteStorageInbox,
                                             QStringLiteral("Gamma notes.txt"))}) {
            TestSupport::writeFile(link, "");
            // Both seeds give untouched links the same dates, whatever the clock did between them.
            FileDates::setCreationDate(link, int64_t(CommitNow));
            FileDates::setModificationDate(link, int64_t(CommitNow));
        }
        QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("zed"), NoteStorageInbox));
        TestSupport::writeFile(Note::metaFileForTag(NoteTagHashtag, QStringLiteral("spelling")), "Spelling");
        TestSupport::writeFile(kindFolder + QStringLiteral("/loose"), "");
    };

    seed();
    Migrator::build();
    Outcome visitingLinked;
    record(visitingLinked);

    // The same notes in the order the run takes them, each visiting every folder.
    seed();
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const QStringList names = QDir(Note::documentDirectoryForStorage(storage))
                                      .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
        for (const QString& name : names) {
            if (QFileInfo::exists(Note::indexFileForKey(name, storage)))
                continue;
            const auto note = std::make_shared<Note>(name, storage);
            ASSERT_TRUE(note->restoreText());
            // Header and dates as the run refreshes them.
            note->writeHeaderFile();
            note->restoreMeta();
            TagLinkIndex::shared().forget();
            note->writeTagLinkFiles(false, nullptr);
        }
    }
    Outcome visitingEvery;
    record(visitingEvery);

    EXPECT_EQ(visitingLinked.trees, visitingEvery.trees);
    EXPECT_EQ(visitingLinked.events, visitingEvery.events);
    // The stale links and untidy folders went; links of untouched notes stayed.
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("home"), NoteStorageInbox, beta));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("old"), NoteStorageInbox, alpha));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("old"), NoteStorageInbox,
                                           QStringLiteral("Indexed notes.txt")));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagMention, QStringLiteral("bob"))));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("zed"), NoteStorageInbox)));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("zed"), NoteStorageArchive,
                                           QStringLiteral("Other.txt")));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("spelling"))));
    EXPECT_FALSE(QFileInfo::exists(kindFolder + QStringLiteral("/loose")));
}

// In a batch the links go to helpers and are made side by side; the tag trees
// must come out as from the same commits made one by one, with the same events
// (one by one, each at its own time; in a batch in any order across notes).
// With the helpers held up, the links wait for the batch's own waits and for
// other link work on its thread, which then come first.
TEST_F(TagLinkTest, NoteStoreLinksMadeBesideABatchMatchCommitsOneByOne)
{
    enum class Step { Commit, Remove, MakeLinks };
    struct Action {
        Step step;
        int note;
        const char* tags;
    };
    // Notes 0-7 in the inbox, 8-9 archived (linked only under capital tags).
    const QList<Action> actions{
        {Step::Commit, 0, "#plan #work @ann"}, {Step::Commit, 1, "#plan #trip"},  {Step::Commit, 2, "#new #work"},
        {Step::Commit, 3, "#new @ann @bob"},   {Step::Commit, 8, "#PLAN #idea"},  {Step::Commit, 9, "#IDEA #new"},
        // Committed again before its first links were made: the first go first.
        {Step::Commit, 0, "#work #fresh"},     {Step::Commit, 4, "#fresh #plan"}, {Step::Commit, 5, "#trip @bob"},
        {Step::MakeLinks, 0, ""},
        // Tags every note drops, so their folders go; a note taken out of the index, its links still held.
        // The note taken out comes last: a new note after it could take its free name.
        {Step::Commit, 1, "#trip"},            {Step::Commit, 3, "@ann"},         {Step::Commit, 6, "#gone #plan"},
        {Step::Commit, 2, "#work"},
        // Taken again once every note dropped it: across notes the links go in any order, and one made
        // before the drops would keep the folder, so the drops are waited for.
        {Step::MakeLinks, 0, ""},
        {Step::Commit, 7, "#new #idea @cy"},   {Step::Commit, 8, "#IDEA"},        {Step::Commit, 4, "#plan"},
        {Step::Remove, 6, ""},
    };
    QList<NotePtr> notes;
    enum class Mode { OneByOne, Batched, HelpersHeldBetweenWaits };
    const auto run = [&](Mode mode) -> Outcome {
        restart();
        std::unique_ptr<PoolHeld> held;
        if (mode == Mode::HelpersHeldBetweenWaits)
            held = std::make_unique<PoolHeld>();
        notes.clear();
        for (int i = 0; i < 10; ++i)
            notes.append(newNote(QStringLiteral("Note %1\n").arg(i), i < 8 ? NoteStorageInbox : NoteStorageArchive));
        Outcome outcome;
        {
            std::optional<Note::IndexBatch> batch;
            if (mode != Mode::OneByOne)
                batch.emplace();
            for (const Action& action : actions) {
                const NotePtr& note = notes[action.note];
                if (action.step == Step::Commit) {
                    note->setText(QStringLiteral("Note %1\n%2").arg(action.note).arg(QLatin1String(action.tags)));
                    EXPECT_TRUE(commit(note));
                } else if (action.step == Step::Remove) {
                    EXPECT_TRUE(QFile::remove(Note::documentFileForKey(note->key(), note->storage())));
                    note->removeFromIndex();
                } else {
                    if (held)
                        held->release();
                    if (batch)
                        batch->makeLinks();
                    if (held)
                        held = std::make_unique<PoolHeld>();
                    outcome.trees.append(linkTree());
                }
            }
        }
        outcome.trees.append(linkTree());
        QStringList events = this->events->lines();
        events.sort();
        events.removeDuplicates();
        outcome.events.append(events);
        return outcome;
    };
    const Outcome oneByOne = run(Mode::OneByOne);
    for (const Mode mode : {Mode::Batched, Mode::HelpersHeldBetweenWaits}) {
        const Outcome batched = run(mode);
        ASSERT_EQ(batched.trees.size(), 3);
        for (qsizetype i = 0; i < batched.trees.size(); ++i)
            EXPECT_EQ(batched.trees[i], oneByOne.trees[i]) << "mode " << int(mode) << " tree " << i;
        EXPECT_EQ(batched.events, oneByOne.events) << "mode " << int(mode);
    }
    // The sequence did what it says: note 0's first links went, its second came; a folder every note
    // dropped went; the note taken out of the index left no link; an archived note is under its capital tag.
    const auto key = [&](int note) { return notes[note]->key(); };
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, key(0)));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("fresh"), NoteStorageInbox, key(0)));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("gone"))));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, key(6)));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("idea"), NoteStorageArchive, key(8)));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageArchive, key(8)));
}

// Notes dropping the tag they share, their links made side by side once the
// held helpers go: each note's removal is told, whichever of them took the
// emptied folder away, and the folder's going is told once.
TEST_F(TagLinkTest, NoteStoreLinksDroppedSideBySideTellEveryNote)
{
    restart();
    QList<NotePtr> notes;
    for (int i = 0; i < 4; ++i)
        notes.append(newNote(QStringLiteral("Shared note %1\n").arg(i)));
    const auto tagged = [&](bool shared) {
        for (qsizetype i = 0; i < notes.size(); ++i) {
            notes[i]->setText(QStringLiteral("Shared note %1\n%2").arg(i).arg(shared ? "#shared" : "#own"));
            EXPECT_TRUE(commit(notes[i]));
        }
    };
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        tagged(true);
        events->clear();
        {
            PoolHeld held;
            Note::IndexBatch batch;
            tagged(false);
            held.release();
        }
        const QStringList sent = events->lines();
        for (const NotePtr& note : std::as_const(notes)) {
            EXPECT_TRUE(sent.contains(QStringLiteral("delete %1/%2 %3 shared")
                                          .arg(NoteStorageInbox)
                                          .arg(note->key())
                                          .arg(NoteTagHashtag)))
                << qPrintable(note->key());
        }
        EXPECT_EQ(sent.count(QStringLiteral("tagDelete shared %1").arg(NoteTagHashtag)), 1);
        EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("shared"))));
    }
}

// The run keeps the kind folders open across notes; one missing when it starts
// is made by the first note that needs it and serves the notes after it.
TEST_F(TagLinkTest, NoteStoreRebuildMakingTheKindFoldersMatchesNotesWrittenOneByOne)
{
    const QList<QList<int>> present{{}, {NoteTagHashtag}, {NoteTagMention}, {NoteTagHashtag, NoteTagMention}};
    for (const QList<int>& kinds : present) {
        SCOPED_TRACE(kinds.size() == 2 ? "both" : kinds.isEmpty() ? "none" : kinds[0] == NoteTagHashtag ? "hashtag" : "mention");
        const auto seed = [&] {
            restart();
            for (const int kind : kinds)
                ASSERT_TRUE(QDir().mkpath(Note::linkDirectoryForTag(kind)));
            for (int i = 0; i < 40; ++i) {
                const int storage = i % 5 == 4 ? NoteStorageArchive : NoteStorageInbox;
                const QString key = QStringLiteral("Note %1.txt").arg(i, 2, 10, QLatin1Char('0'));
                // Untagged notes first, then hashtags, then mentions too, some archived.
                const QByteArray tags = i < 10 ? QByteArray() : i < 25 ? "#tag" + QByteArray::number(i % 3) + " #ALL"
                                                                       : "#ALL @who" + QByteArray::number(i % 4);
                const QString path = Note::documentFileForKey(key, storage);
                TestSupport::writeFile(path, "Note " + QByteArray::number(i) + "\n" + tags);
                FileDates::setCreationDate(path, 1700000000 + i);
                FileDates::setModificationDate(path, 1700003600 + i);
            }
        };
        seed();
        Migrator::build();
        Outcome kept;
        record(kept);

        seed();
        for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
            for (const QString& name : QDir(Note::documentDirectoryForStorage(storage)).entryList(QDir::Files, QDir::Unsorted)) {
                const auto note = std::make_shared<Note>(name, storage);
                ASSERT_TRUE(note->restoreText());
                note->writeHeaderFile();
                note->restoreMeta();
                note->writeTagLinkFiles(false, nullptr);
            }
        }
        Outcome oneByOne;
        record(oneByOne);

        EXPECT_EQ(kept.trees, oneByOne.trees);
        EXPECT_EQ(kept.events, oneByOne.events);
        EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("all"), NoteStorageArchive, QStringLiteral("Note 39.txt")));
        EXPECT_TRUE(linked(NoteTagMention, QStringLiteral("who2"), NoteStorageInbox, QStringLiteral("Note 38.txt")));
    }
}

// A tag tree replaced while the store runs (dropped and built again) is read
// afresh: what was left in the new tree is tidied like at a start.
TEST_F(TagLinkTest, NoteStoreCommitReadsAReplacedTagTreeAfresh)
{
    restart();
    ASSERT_TRUE(commit(newNote(QStringLiteral("First note of the day\n#plan"))));
    QDir(Core::shared().cachesDirectory() + QStringLiteral("/Link")).removeRecursively();
    const QString key = QStringLiteral("Second note of the day.txt");
    TestSupport::writeFile(linkFile(NoteTagHashtag, QStringLiteral("gone"), NoteStorageInbox, key), "");
    QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("empty"), NoteStorageArchive));

    const NotePtr second = newNote(QStringLiteral("Second note of the day\n#work"));
    ASSERT_TRUE(commit(second));
    ASSERT_EQ(second->key(), key);
    const QStringList sent = events->lines();
    for (const char* tag : {"gone", "empty"}) {
        EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QLatin1String(tag)))) << tag;
        EXPECT_TRUE(sent.contains(QStringLiteral("tagDelete %1 %2").arg(QLatin1String(tag)).arg(NoteTagHashtag)))
            << tag << " in " << sent.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageInbox, key));
}

// The links counted per storage folder follow the folders as read and the
// store's own writes; a write repeated or of a link the index never knew
// leaves the count alone.
TEST_F(TagLinkTest, TagLinkIndexTellsWhichStorageFoldersHoldLinks)
{
    restart();
    const QString kindFolder = Note::linkDirectoryForTag(NoteTagHashtag);
    for (const QString& link : {linkFile(NoteTagHashtag, QStringLiteral("a"), NoteStorageInbox, QStringLiteral("x.txt")),
                                linkFile(NoteTagHashtag, QStringLiteral("a"), NoteStorageInbox, QStringLiteral("y.txt")),
                                linkFile(NoteTagHashtag, QStringLiteral("b"), NoteStorageArchive, QStringLiteral("x.txt"))})
        TestSupport::writeFile(link, "");
    ASSERT_TRUE(QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("a"), NoteStorageArchive)));
    TagLinkIndex& index = TagLinkIndex::shared();
    const int fd = ::open(qPrintable(kindFolder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    enum Op { Read, Linked, Unlinked };
    struct Row {
        const char* what;
        Op op;
        int storage;
        const char* key;
        const char* tag;
        // a in the inbox, a in the archive, b in the inbox, b in the archive
        std::array<bool, 4> holds;
    };
    const int in = NoteStorageInbox;
    const int ar = NoteStorageArchive;
    const Row rows[] = {
        {"as read", Read, in, "x.txt", "", {true, false, false, true}},
        {"one of two gone", Unlinked, in, "x.txt", "a", {true, false, false, true}},
        {"the same again", Unlinked, in, "x.txt", "a", {true, false, false, true}},
        {"the last gone", Unlinked, in, "y.txt", "a", {false, false, false, true}},
        {"into the empty folder", Linked, ar, "z.txt", "a", {false, true, false, true}},
        {"the same again", Linked, ar, "z.txt", "a", {false, true, false, true}},
        {"out again, once", Unlinked, ar, "z.txt", "a", {false, false, false, true}},
        {"a link never known", Unlinked, ar, "q.txt", "b", {false, false, false, true}},
        {"a new tag folder", Linked, in, "q.txt", "b", {false, false, true, true}},
        {"read afresh", Read, in, "x.txt", "", {true, false, false, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString key = QString::fromLatin1(row.key);
        const QString tag = QString::fromLatin1(row.tag);
        switch (row.op) {
        case Read:
            index.forget();
            index.foldersFor(kindFolder, fd, row.storage, key);
            break;
        case Linked:
            index.linked(kindFolder, row.storage, key, {tag});
            break;
        case Unlinked:
            index.unlinked(kindFolder, row.storage, key, {tag});
            break;
        }
        const std::array<bool, 4> holds{index.holdsLinks(kindFolder, QStringLiteral("a"), in),
                                        index.holdsLinks(kindFolder, QStringLiteral("a"), ar),
                                        index.holdsLinks(kindFolder, QStringLiteral("b"), in),
                                        index.holdsLinks(kindFolder, QStringLiteral("b"), ar)};
        EXPECT_EQ(holds, row.holds);
    }
    ::close(fd);
    index.forget();
}

// A storage folder is known missing as read, when a removal took it or found
// none, and present again once made or linked into; the folders of a tag
// never seen are missing.
TEST_F(TagLinkTest, TagLinkIndexTellsWhichStorageFoldersAreMissing)
{
    restart();
    const QString kindFolder = Note::linkDirectoryForTag(NoteTagHashtag);
    TestSupport::writeFile(linkFile(NoteTagHashtag, QStringLiteral("a"), NoteStorageInbox, QStringLiteral("x.txt")), "");
    TagLinkIndex& index = TagLinkIndex::shared();
    const int fd = ::open(qPrintable(kindFolder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    index.foldersFor(kindFolder, fd, NoteStorageInbox, QStringLiteral("x.txt"));

    enum Op { None, Removed, Made, Linked };
    struct Row {
        const char* what;
        Op op;
        const char* tag;
        int storage;
        // a in the inbox, a in the archive, c in the inbox
        std::array<bool, 3> mayHold;
    };
    const int in = NoteStorageInbox;
    const int ar = NoteStorageArchive;
    const Row rows[] = {
        {"as read", None, "", in, {true, false, false}},
        {"removed", Removed, "a", in, {false, false, false}},
        {"made", Made, "a", ar, {false, true, false}},
        {"linked into a new tag", Linked, "c", in, {false, true, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString tag = QString::fromLatin1(row.tag);
        if (row.op == Removed || row.op == Made)
            index.folderPresent(kindFolder, tag, row.storage, row.op == Made);
        else if (row.op == Linked)
            index.linked(kindFolder, row.storage, QStringLiteral("y.txt"), {tag});
        const std::array<bool, 3> mayHold{index.mayHoldFolder(kindFolder, QStringLiteral("a"), in),
                                          index.mayHoldFolder(kindFolder, QStringLiteral("a"), ar),
                                          index.mayHoldFolder(kindFolder, QStringLiteral("c"), in)};
        EXPECT_EQ(mayHold, row.mayHold);
    }
    ::close(fd);
    index.forget();
}

// A tag folder is kept by its links alone while no storage folder of it lies
// empty: only then may a note's links leave it without a look.
TEST_F(TagLinkTest, TagLinkIndexTellsWhichTagFoldersTheirLinksKeep)
{
    restart();
    const QString kindFolder = Note::linkDirectoryForTag(NoteTagHashtag);
    const int in = NoteStorageInbox;
    const int ar = NoteStorageArchive;
    enum Folder { Missing, Empty, Holding };
    struct Row {
        const char* tag;
        Folder inbox;
        Folder archive;
        bool kept;
    };
    const Row rows[] = {
        {"inbox-only", Holding, Missing, true},
        {"both", Holding, Holding, true},
        {"archive-inbox-empty", Empty, Holding, false},
        {"inbox-archive-empty", Holding, Empty, false},
        {"both-empty", Empty, Empty, false},
        {"spelling-only", Missing, Missing, false},
        {"never-seen", Missing, Missing, false},
    };
    for (const Row& row : rows) {
        const QString tag = QString::fromLatin1(row.tag);
        if (tag == QLatin1String("spelling-only"))
            TestSupport::writeFile(Note::metaFileForTag(NoteTagHashtag, tag), "Spelling");
        for (const auto& [storage, folder] : {std::pair{in, row.inbox}, std::pair{ar, row.archive}}) {
            if (folder == Empty)
                ASSERT_TRUE(QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, tag, storage)));
            else if (folder == Holding)
                TestSupport::writeFile(linkFile(NoteTagHashtag, tag, storage, QStringLiteral("x.txt")), "");
        }
    }
    TagLinkIndex& index = TagLinkIndex::shared();
    const int fd = ::open(qPrintable(kindFolder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    index.foldersFor(kindFolder, fd, in, QStringLiteral("x.txt"));
    QStringList tags;
    QList<bool> expected;
    for (const Row& row : rows) {
        tags.append(QString::fromLatin1(row.tag));
        expected.append(row.kept);
    }
    EXPECT_EQ(index.keptByLinks(kindFolder, tags), expected);
    // Linked into its empty folder, or the empty folder gone: kept again.
    index.linked(kindFolder, in, QStringLiteral("y.txt"), {QStringLiteral("archive-inbox-empty")});
    index.folderPresent(kindFolder, QStringLiteral("inbox-archive-empty"), ar, false);
    EXPECT_EQ(index.keptByLinks(kindFolder, {QStringLiteral("archive-inbox-empty"), QStringLiteral("inbox-archive-empty")}),
              (QList<bool>{true, true}));
    ::close(fd);
    index.forget();
}

// A storage folder made behind the index's back, after the folders were read,
// keeps its tag folder and its links when a note leaves the tag.
TEST_F(TagLinkTest, NoteStoreCommitKeepsAStorageFolderTheIndexDidNotSeeMade)
{
    restart();
    const NotePtr note = newNote(QStringLiteral("Plans for the week\n#plan"));
    // The first commit makes the kind's folder, the second reads it.
    ASSERT_TRUE(commit(note));
    ASSERT_TRUE(commit(note));
    const QString other = QStringLiteral("Made elsewhere.txt");
    TestSupport::writeFile(linkFile(NoteTagHashtag, QStringLiteral("plan"), NoteStorageArchive, other), "");

    note->setText(QStringLiteral("Plans for the week\nno tags now"));
    ASSERT_TRUE(commit(note));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageInbox, note->key()));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("plan"), NoteStorageArchive, other));
    EXPECT_TRUE(QFileInfo::exists(Note::metaFileForTag(NoteTagHashtag, QStringLiteral("plan"))));
    EXPECT_FALSE(events->lines().contains(QStringLiteral("tagDelete plan %1").arg(NoteTagHashtag)));
}

// A note of more tags than the limit is linked under the first forms of each
// kind as written, and its row names those; the rest cost no entry, however
// many, and the links an earlier version left under them go. The strong forms
// linked in the archive come from the same first forms.
TEST_F(TagLinkTest, NoteStoreANoteOfMoreTagsThanTheLimitIsLinkedUnderItsFirstOnes)
{
    const int limit = Note::MaximumTagsPerKind;
    const QString key = QStringLiteral("Many tags.txt");
    restart();
    QString text = QStringLiteral("Many tags\n@ann ");
    QStringList first;
    for (int i = 0; i < limit + limit / 4; ++i) {
        const QString tag = QStringLiteral("t%1").arg(i);
        text += QLatin1Char('#') + tag + QLatin1Char(i % 10 == 9 ? '\n' : ' ');
        if (i < limit)
            first.append(tag);
        if (i >= limit - 5)
            TestSupport::writeFile(linkFile(NoteTagHashtag, tag, NoteStorageInbox, key), "");
    }
    text += QStringLiteral("#T1 #LATE");
    TestSupport::writeFile(Note::documentFileForKey(key, NoteStorageInbox), text.toUtf8());
    rebuild();

    const QStringList folders = QDir(Note::linkDirectoryForTag(NoteTagHashtag)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList expected = first;
    expected.sort();
    EXPECT_EQ(folders, expected);
    EXPECT_EQ(rows().value(0).section(QLatin1Char('|'), 4, 4), first.join(QLatin1Char(' ')));
    // A folder, its storage folder, the link and the spelling per tag; the
    // folder of links and one per kind.
    EXPECT_EQ(linkTree().size(), 4 * (limit + 1) + 3);
    EXPECT_TRUE(linked(NoteTagMention, QStringLiteral("ann"), NoteStorageInbox, key));

    QStringList hashtags, mentions;
    Note::fillHashtags(&hashtags, &mentions, text, false);
    EXPECT_EQ(hashtags, QStringList{QStringLiteral("T1")});
}

// A spelling file remembered as read must not hide what was done to it since:
// each tag of one note meets another change, and the next commit writes the
// spelling the note asks for as if nothing had been remembered.
TEST_F(TagLinkTest, NoteStoreCommitSeesSpellingFilesChangedSinceTheyWereRead)
{
    const auto meta = [](const char* tag) { return Note::metaFileForTag(NoteTagHashtag, QLatin1String(tag)); };
    const auto writeInPlace = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(bytes);
    };
    struct Case {
        const char* tag;
        const char* spelled; // in the note's last version
        std::function<void()> change;
        const char* expected;
        bool tagAdded;
    };
    const QList<Case> cases{
        {"work", "Work", [] {}, "Work", false},
        {"plan", "Plan", [&] { TestSupport::writeFile(meta("plan"), "pLAN"); }, "Plan", false},
        {"home", "Home", [&] { writeInPlace(meta("home"), "HOME"); }, "Home", false},
        {"trip", "Trip", [&] { QFile::remove(meta("trip")); }, "Trip", false},
        {"idea", "Idea", [] { QDir(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("idea"))).removeRecursively(); },
         "Idea", true},
        {"read", "Read",
         [&] {
             const QString other = meta("read") + QStringLiteral(".new");
             TestSupport::writeFile(other, "Other");
             ::rename(QFile::encodeName(other).constData(), QFile::encodeName(meta("read")).constData());
         },
         "Read", false},
        // Renamed in the note: the spelling remembered is the old one.
        {"soon", "soon", [] {}, "soon", false},
        // Missing when an archived note links the tag: its strong form is written.
        {"late", "Late",
         [&] {
             QFile::remove(meta("late"));
             EXPECT_TRUE(commit(newNote(QStringLiteral("Archived plans\n#LATE"), NoteStorageArchive)));
             EXPECT_EQ(TestSupport::readFile(meta("late")), "late");
         },
         "Late", false},
    };

    restart();
    QString text = QStringLiteral("Spellings of many tags\n");
    for (const Case& c : cases)
        text += QStringLiteral("#%1 ").arg(QString::fromLatin1(c.tag).left(1).toUpper() + QLatin1String(c.tag + 1));
    const NotePtr note = newNote(text);
    ASSERT_TRUE(commit(note));
    // Only a spelling file older than the file clock's doubt is remembered.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_TRUE(commit(note));
    ASSERT_TRUE(commit(note));

    text = QStringLiteral("Spellings of many tags\n");
    for (const Case& c : cases) {
        c.change();
        text += QStringLiteral("#%1 ").arg(QLatin1String(c.spelled));
    }
    const qsizetype before = events->lines().size();
    note->setText(text);
    ASSERT_TRUE(commit(note));
    const QStringList sent = events->lines().mid(before);
    for (const Case& c : cases) {
        EXPECT_EQ(TestSupport::readFile(meta(c.tag)), QByteArray(c.expected)) << c.tag;
        EXPECT_TRUE(linked(NoteTagHashtag, QLatin1String(c.tag), NoteStorageInbox, note->key())) << c.tag;
        EXPECT_EQ(sent.contains(QStringLiteral("tagAdd %1 %2").arg(QLatin1String(c.spelled)).arg(NoteTagHashtag)), c.tagAdded)
            << c.tag << " in " << sent.join(QLatin1Char('|')).toStdString();
    }
}
