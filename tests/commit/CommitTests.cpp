#include "CommitTestSupport.h"

#include "Store/NoteIndexMarker.h"
#include "files/AtomicFile.h"
#include "files/FileTimes.h"

#include <QDateTime>

#include <cerrno>

#include <sys/stat.h>

namespace {

QString utc(int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

// Every file under the store's two roots as "path size created modified",
// relative to the test home. Side records carry the time they were written,
// so only text files and tag links show their dates; the database is left out.
QStringList storeTree()
{
    QStringList lines;
    for (const QString& root : {Core::shared().documentDirectory(), Core::shared().cachesDirectory()}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(TestSupport::home()).relativeFilePath(path);
            if (relative.contains(QLatin1String("search.sqlite")) || relative.contains(QLatin1String("search-side.sqlite")))
                continue;
            const bool dated = relative.startsWith(QLatin1String("Documents/"))
                               || (relative.contains(QLatin1String("/Link/")) && !relative.endsWith(QLatin1String("/.meta")));
            const QString dates = dated ? utc(FileDates::creationDate(path)) + QLatin1Char(' ') + utc(FileDates::modificationDate(path))
                                        : QStringLiteral("-");
            lines.append(QStringLiteral("%1 %2 %3").arg(relative).arg(QFileInfo(path).size()).arg(dates));
        }
    }
    lines.sort();
    return lines;
}

} // namespace

TEST_F(CommitTest, NoteStoreCommitThreeTaggedNotesLeaveTheGoldenTree)
{
    const auto meeting = newNote(QStringLiteral("Meeting notes\nAgenda for #work with @anna"));
    meeting->setCreatedOn(1700000000);
    const auto groceries = newNote(QStringLiteral("Groceries list\nmilk and #home #Work"));
    const auto plan = newNote(QStringLiteral("Quarterly plan\n#URGENT review of #work"), NoteStorageArchive);
    for (const auto& note : {meeting, groceries, plan})
        ASSERT_TRUE(commit(note));

    EXPECT_EQ(meeting->key(), QStringLiteral("Meeting notes.txt"));
    EXPECT_EQ(meeting->createdOn(), 1700000000);
    EXPECT_EQ(meeting->updatedOn(), int64_t(CommitNow));
    EXPECT_EQ(groceries->createdOn(), int64_t(CommitNow));

    const QByteArray expected = TestSupport::readFile(QStringLiteral(TEST_DATA_DIR "/three-notes.tree"));
    EXPECT_EQ(storeTree().join(QLatin1Char('\n')).toStdString() + '\n', expected.toStdString());
}

TEST_F(CommitTest, NoteStoreCommitSearchRowHoldsTheCleanedNote)
{
    const auto note = newNote(QStringLiteral("# Meeting notes\n**Agenda**: plan (Q2) for #Work and @Anna\n"
                                             "-----\n> ## Quoted {x} [link](y) #todo_list"));
    ASSERT_TRUE(commit(note));

    ASSERT_EQ(rows().size(), 1);
    const QStringList row = rows().first().split(QLatin1Char('|'));
    EXPECT_EQ(row[0], QStringLiteral("inbox/Meeting notes.txt"));
    EXPECT_EQ(row[1], note->title());
    // Heading marks go, a quote prefix stays; runs of spaces, line breaks,
    // emphasis and brackets become one space; the rule disappears.
    EXPECT_EQ(row[2], QStringLiteral(" Meeting notes Agenda : plan Q2 for #Work and @Anna  > Quoted x link y #todo list"));
    EXPECT_EQ(row[3], QStringLiteral("inbox"));
    QStringList hashtags;
    QStringList mentions;
    Note::fillHashtags(&hashtags, &mentions, note->text(), true);
    EXPECT_EQ(row[4], hashtags.join(QLatin1Char(' ')).toLower());
    EXPECT_TRUE(row[4].startsWith(QLatin1String("work"))) << row[4].toStdString();
    EXPECT_EQ(row[5], QStringLiteral("anna"));
}

TEST_F(CommitTest, NoteStoreCommitTwiceUpdatesTheOneRow)
{
    const auto note = committed(QStringLiteral("Meeting notes\nfirst"));
    // A note whose key shares every word with the first one must keep its own row.
    const auto twin = newNote(QStringLiteral("Meeting notes.txt\nsecond"));
    twin->setKey(QStringLiteral("Meeting-notes.txt"));
    ASSERT_TRUE(commit(twin));
    note->setText(QStringLiteral("Meeting notes\nrevised"));
    ASSERT_TRUE(commit(note));

    const QStringList all = rows();
    ASSERT_EQ(all.size(), 2);
    EXPECT_TRUE(all[0].startsWith(QLatin1String("inbox/Meeting notes.txt|Meeting notes|Meeting notes revised|")))
        << all[0].toStdString();
    EXPECT_TRUE(all[1].startsWith(QLatin1String("inbox/Meeting-notes.txt|"))) << all[1].toStdString();
}

TEST_F(CommitTest, NoteStoreCommitArchivedNoteIsLinkedOnlyUnderStrongTags)
{
    const auto note = committed(QStringLiteral("Archived plans\n#Work #URGENT"), NoteStorageArchive);

    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("work"))));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("urgent"), NoteStorageArchive, QStringLiteral("Archived plans.txt")));
    ASSERT_EQ(rows().size(), 1);
    EXPECT_EQ(rows().first().section(QLatin1Char('|'), 3), QStringLiteral("archive|work urgent|"));
}

TEST_F(CommitTest, NoteStoreCommitEventsComeInOrder)
{
    const auto log = LogCapture::install();
    const auto note = committed(QStringLiteral("Meeting notes\n#work @anna"));
    note->setText(QStringLiteral("Meeting notes\n#home"));
    ASSERT_TRUE(commit(note));
    log->uninstall();

    EXPECT_EQ(events->lines(), (QStringList{"add 1/Meeting notes.txt 1 -", "tagAdd work 4",
        "add 1/Meeting notes.txt 4 work", "tagAdd anna 5", "add 1/Meeting notes.txt 5 anna", "tagDelete work 4",
        "delete 1/Meeting notes.txt 4 work", "tagAdd home 4", "add 1/Meeting notes.txt 4 home", "tagDelete anna 5",
        "delete 1/Meeting notes.txt 5 anna"}));
    EXPECT_EQ(log->lines().filter(QStringLiteral("note:commit new")), QStringList{"note:commit new Meeting notes.txt"});
}

TEST_F(CommitTest, NoteStoreCommitFailedTextWriteTouchesNoSideFileAndCompletesAtOnceWithTheCloudOff)
{
    // A folder where the text file should be: the write cannot replace it.
    QDir().mkpath(inbox(QStringLiteral("Meeting notes.txt")));
    const auto note = newNote(QStringLiteral("Meeting notes\n#work"));
    note->setKey(QStringLiteral("Meeting notes.txt"));
    QStringList order;
    note->commitNote([&](bool ok) { order.append(QStringLiteral("local %1").arg(ok)); },
                     [&](const QDateTime& date) { order.append(QStringLiteral("cloud %1").arg(date.isNull())); });

    // The failed local write is still the local outcome; the drive is not asked.
    EXPECT_EQ(order, (QStringList{"local 0", "cloud 1"}));
    EXPECT_TRUE(driveCalls().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Note::metaFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_FALSE(QFileInfo::exists(Note::indexFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForTag(NoteTagHashtag)));
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(CommitTest, NoteStoreCommitIndexMarkerFollowsTheRow)
{
    // A folder in place of the database: no row can go in, so no marker.
    closeDatabase();
    QDir().mkpath(caches() + QStringLiteral("/search.sqlite"));
    const auto note = committed(QStringLiteral("Meeting notes\nbody"));
    EXPECT_TRUE(QFileInfo::exists(Note::headerFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_FALSE(QFileInfo::exists(Note::indexFileForKey(note->key(), NoteStorageInbox)));

    QDir(caches() + QStringLiteral("/search.sqlite")).removeRecursively();
    ASSERT_TRUE(commit(note));
    EXPECT_TRUE(QFileInfo::exists(Note::indexFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_EQ(rowKeys(), QStringList{"inbox/Meeting notes.txt"});
}

// --- The blank-note backup

TEST_F(CommitTest, NoteStoreCommitOnlyAShortBlankOfAReadableNoteBacksUpThePreviousFile)
{
    const struct {
        const char* text;
        QString blank;
        bool backedUp;
    } cases[] = {
        {"Meeting notes\nkeep this", QStringLiteral(" \n\t\n"), true},
        {"Emptied note\nkeep this", QString(), true}, // an editor emptied by select-all and delete
        {"short", QStringLiteral("  "), false}, // a placeholder name
        {"Longer blank\nkeep this", QString(21, QLatin1Char(' ')), false},
    };
    for (const auto& c : cases) {
        QDir(trash()).removeRecursively();
        const auto note = committed(QString::fromLatin1(c.text));
        ASSERT_EQ(Note::isReadableFileName(note->key()), QByteArray(c.text) != "short");
        note->setText(c.blank);
        ASSERT_TRUE(commit(note));

        EXPECT_EQ(TestSupport::readFile(inbox(note->key())), c.blank.toUtf8()) << c.text;
        EXPECT_EQ(trashedNames(), c.backedUp ? QStringList{note->key()} : QStringList()) << c.text;
        if (c.backedUp) {
            EXPECT_EQ(TestSupport::readFile(trash() + QStringLiteral("/files/") + note->key()), QByteArray(c.text));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(Folders::temporary() + QStringLiteral("/Meeting notes.txt")));
}

// A blank save the disk refused is retried: the file it kept is in the Trash once, and the retry
// empties the file.
TEST_F(CommitTest, NoteStoreCommitBlankSaveRetriedAfterAFailedWriteKeepsOneBackup)
{
    const auto note = committed(QStringLiteral("Meeting notes\nkeep this"));
    note->setText(QString());
    AtomicFile::setFaultCheck([](const QString& path) { return path.endsWith(QLatin1String(".txt")) ? ENOSPC : 0; });
    EXPECT_FALSE(commit(note));
    EXPECT_FALSE(commit(note));
    AtomicFile::setFaultCheck({});
    EXPECT_EQ(TestSupport::readFile(inbox(note->key())), QByteArray("Meeting notes\nkeep this"));
    ASSERT_TRUE(commit(note));

    EXPECT_EQ(TestSupport::readFile(inbox(note->key())), QByteArray());
    EXPECT_EQ(trashedNames(), QStringList{note->key()});
    // Saved blank again: the blank file holds nothing to keep.
    const auto reread = std::make_shared<Note>(note->key(), NoteStorageInbox);
    ASSERT_TRUE(reread->restoreText());
    ASSERT_TRUE(commit(reread));
    EXPECT_EQ(trashedNames(), QStringList{note->key()});
    // The next blanking of another text keeps that one too.
    note->setText(QStringLiteral("Meeting notes\nsecond"));
    ASSERT_TRUE(commit(note));
    note->setText(QStringLiteral(" "));
    ASSERT_TRUE(commit(note));
    EXPECT_EQ(trashedNames().size(), 2);
}

// A note that never read its file has no text to write: neither the file nor the Trash changes.
TEST_F(CommitTest, NoteStoreCommitOfANoteNeverReadKeepsItsFile)
{
    const auto written = committed(QStringLiteral("Meeting notes\nkeep this"));
    const auto unread = std::make_shared<Note>(written->key(), NoteStorageInbox);
    EXPECT_FALSE(commit(unread));
    EXPECT_EQ(TestSupport::readFile(inbox(written->key())), QByteArray("Meeting notes\nkeep this"));
    EXPECT_EQ(trashedNames(), QStringList());
}

TEST_F(CommitTest, NoteStoreCommitBlankBackupAvoidsATakenTemporaryName)
{
    // A stamp and an identifier after a name of 255 bytes cut it to fit.
    const QString longKey = QString(251, QLatin1Char('m')) + QStringLiteral(".txt");
    for (const QString& key : {QStringLiteral("Meeting notes.txt"), longKey}) {
        QDir(trash()).removeRecursively();
        const auto note = newNote(QStringLiteral("Meeting notes\nkeep this"));
        note->setKey(key);
        ASSERT_TRUE(commit(note));
        TestSupport::writeFile(Folders::temporary() + QLatin1Char('/') + key, "someone else's");
        const auto log = LogCapture::install();
        note->setText(QStringLiteral(""));
        ASSERT_TRUE(commit(note));
        log->uninstall();

        const QStringList backups = log->lines().filter(QStringLiteral("backup"));
        ASSERT_EQ(backups.size(), 1);
        const QString backup = backups.first().section(QLatin1Char('/'), 1);
        const qsizetype stamp = backup.indexOf(QStringLiteral("-20240315-083012250-0A1B2C3D-0000-4000-8000-"));
        EXPECT_TRUE(stamp >= std::min<qsizetype>(key.size(), 150) && key.startsWith(backup.left(stamp))) << backup.toStdString();
        EXPECT_LE(backup.toUtf8().size(), 255);
        ASSERT_EQ(trashedNames().size(), 1);
        const QString trashed = trashedNames().first();
        if (key.size() < 100) {
            EXPECT_EQ(trashed, backup);
        }
        EXPECT_EQ(TestSupport::readFile(trash() + QStringLiteral("/files/") + trashed), QByteArray("Meeting notes\nkeep this"));
        EXPECT_EQ(TestSupport::readFile(Folders::temporary() + QLatin1Char('/') + key), QByteArray("someone else's"));
    }
}

TEST_F(CommitTest, NoteStoreCommitBlankBackupRunsBeforeAQueuedMove)
{
    const auto note = committed(QStringLiteral("Meeting notes\nkeep this"));
    note->setText(QStringLiteral("\n"));
    const DispatchQueuePtr queue = Core::shared().fileQueue();
    bool committed = false;
    bool moved = false;
    queue->async([&] { note->_commitLocalNote([&](bool ok) { committed = ok; }); });
    queue->async([&] { moved = note->moveNoteToStorage(NoteStorageArchive); });
    queue->sync([] {});

    EXPECT_TRUE(committed);
    EXPECT_TRUE(moved);
    EXPECT_FALSE(QFileInfo::exists(inbox(QStringLiteral("Meeting notes.txt"))));
    EXPECT_TRUE(QFileInfo::exists(archive(note->key())));
    EXPECT_EQ(trashedNames().size(), 1);
}

// --- The cloud hand-off

TEST_F(CommitTest, NoteStoreCommitHandsTheNoteToTheDriveWhenTheCloudIsOn)
{
    Core::shared().setEnabledAppleCloud(true);
    cloud().commitDate = QDateTime::fromSecsSinceEpoch(1710491500, Qt::UTC);
    cloud().error = Error::make(QStringLiteral("Drive"), 7, QStringLiteral("offline"));
    QStringList order;
    const auto note = newNote(QStringLiteral("Meeting notes\nbody"));
    note->commitNote([&](bool ok) { order.append(QStringLiteral("local %1").arg(ok)); },
                     [&](const QDateTime& date) { order.append(QStringLiteral("cloud %1").arg(date.toSecsSinceEpoch())); });
    note->commitAndCloseNote([&](bool ok) { order.append(QStringLiteral("local %1").arg(ok)); });

    EXPECT_EQ(order, (QStringList{"local 1", "cloud 1710491500", "local 1"}));
    EXPECT_EQ(driveCalls(), (QStringList{"commit", "commitAndClose"}));
}

TEST_F(CommitTest, NoteStoreCommitLeavesOneRowPerKey)
{
    // Two rows of one key, as an interrupted older write could leave them.
    const auto insertStale = [](const QString& key) {
        Core::shared().syncDatabase([&](SLDatabase& db) {
            for (int i = 0; i < 2; ++i)
                db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag, mention) "
                                                "VALUES(?, 'stale', 'stale', 'inbox', '', '')"),
                                 key);
        });
    };
    insertStale(QStringLiteral("inbox/Meeting notes.txt"));
    insertStale(QStringLiteral("inbox/Groceries list.txt"));
    const auto note = committed(QStringLiteral("Meeting notes\nfresh"));
    // The rebuild writes its rows in batches, through one pass over the keys.
    TestSupport::writeFile(inbox(QStringLiteral("Groceries list.txt")), "Groceries list\nfresh too");
    rebuild();

    QStringList all = rows();
    all.sort();
    ASSERT_EQ(all.size(), 2);
    EXPECT_TRUE(all[0].startsWith(QLatin1String("inbox/Groceries list.txt|Groceries list|Groceries list fresh too|")))
        << all[0].toStdString();
    EXPECT_TRUE(all[1].startsWith(QLatin1String("inbox/Meeting notes.txt|Meeting notes|Meeting notes fresh|")))
        << all[1].toStdString();
}

// A note another program wrote, indexed at start, saved again by this program
// with a new date (as sync does once it starts) or with new text.
TEST_F(CommitTest, NoteStoreCommitOfTheBytesOnDiskOnlyDatesTheFile)
{
    const struct {
        const char* key;
        const char* saved;
        bool markerLost; // a commit cut short after the marker went
        bool rewritten;
        const char* tag;
    } cases[] = {
        {"Same.txt", "Plans\n#work", false, false, "work"},
        {"Same, marker lost.txt", "Plans\n#work", true, false, "work"},
        {"New text.txt", "Plans\n#home", false, true, "home"},
    };
    for (const auto& c : cases)
        TestSupport::writeFile(inbox(c.key), "Plans\n#work");
    rebuild();
    const int64_t updated = int64_t(CommitNow) + 60;
    const auto inode = [](const QString& path) {
        struct stat info {};
        ::stat(qPrintable(path), &info);
        return info.st_ino;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString path = inbox(c.key);
        if (c.markerLost)
            QFile::remove(Note::indexFileForKey(c.key, NoteStorageInbox));
        const ino_t before = inode(path);
        const auto note = std::make_shared<Note>(c.key, NoteStorageInbox);
        note->restoreMeta();
        ASSERT_TRUE(note->restoreText());
        note->setText(c.saved);
        note->setUpdatedOn(updated);
        ASSERT_TRUE(commit(note));

        EXPECT_EQ(inode(path) != before, c.rewritten);
        EXPECT_EQ(TestSupport::readFile(path), QByteArray(c.saved));
        const std::optional<FileTime> written = FileTimes::modificationTime(path);
        ASSERT_TRUE(written);
        EXPECT_EQ(written->seconds, updated);
        EXPECT_EQ(written->nanoseconds, 0);
        EXPECT_EQ(NoteIndexMarker::stampOf(Note::indexFileForKey(c.key, NoteStorageInbox)), NoteIndexMarker::stampOf(path));
        EXPECT_EQ(rows().filter(QStringLiteral("inbox/%1|Plans|Plans %2|inbox|%3|").arg(c.key, c.saved + 6, c.tag)).size(), 1)
            << rows().join('\n').toStdString();
        ASSERT_TRUE(linked(NoteTagHashtag, c.tag, NoteStorageInbox, c.key));
        EXPECT_EQ(FileDates::modificationDate(linkFile(NoteTagHashtag, c.tag, NoteStorageInbox, c.key)), updated);
        EXPECT_EQ(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageInbox, c.key), !c.rewritten);
    }
    EXPECT_EQ(rows().size(), 3);
}

// A spelling file that already says the tag's spelling is left as it is.
TEST_F(CommitTest, NoteStoreCommitKeepsATagSpellingThatHoldsTheSpellingAlready)
{
    const NotePtr note = committed(QStringLiteral("Plans\n#Garden"));
    const QString spelling = Note::metaFileForTag(NoteTagHashtag, QStringLiteral("garden"));
    ASSERT_EQ(TestSupport::readFile(spelling), QByteArray("Garden"));
    ASSERT_TRUE(FileDates::setModificationDate(spelling, 1000000000));

    note->setText(QStringLiteral("Plans\n#Garden and more"));
    ASSERT_TRUE(commit(note));
    EXPECT_EQ(FileDates::modificationDate(spelling), 1000000000);

    // Another weak spelling still replaces it.
    note->setText(QStringLiteral("Plans\n#garDen"));
    ASSERT_TRUE(commit(note));
    EXPECT_EQ(TestSupport::readFile(spelling), QByteArray("garDen"));
}
