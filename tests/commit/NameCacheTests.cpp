#include "CommitTestSupport.h"

#include "Store/FolderNameCache.h"
#include "Store/NoteIndexRebuild.h"

#include <random>

namespace {

// Whether the cache holds the name as taken in the folder.
bool cachedAsTaken(const QString& folder, const QString& name)
{
    return FolderNameCache::shared().firstFree(folder, [&](int n) { return n == 0 ? name : QString(); }).isNull();
}

QSet<QString> foldedEntries(const QString& folder)
{
    QSet<QString> names;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                      QDir::NoDotAndDotDot))
        names.insert(FolderNameCache::folded(name));
    return names;
}

} // namespace

TEST_F(CommitTest, NoteStoreCachedNamesAgreeWithTheFolderAfterAnyMixOfChanges)
{
    const QStringList titles = {QStringLiteral("Shopping list"), QStringLiteral("SHOPPING LIST"),
                                QStringLiteral("Weekly review"), QString::fromUtf8("Cafe\u0301 au lait"),
                                QString::fromUtf8("Caf\u00e9 au lait"), QStringLiteral("Hi")};
    std::mt19937 random(17);
    const auto pick = [&](const auto& list) { return list.at(qsizetype(random() % list.size())); };
    const int storages[] = {NoteStorageInbox, NoteStorageArchive};
    QList<NotePtr> notes;
    QStringList probes;
    for (const QString& title : titles)
        probes << title + QStringLiteral(".txt") << title + QStringLiteral(" 2.txt") << title.toLower() + QStringLiteral(".txt");
    probes << QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt");

    for (int step = 0; step < 120; ++step) {
        const int storage = storages[random() % 2];
        const QString folder = Note::documentDirectoryForStorage(storage);
        const QStringList present = QDir(folder).entryList(QDir::Files);
        switch (random() % 8) {
        case 0:
        case 1:
            notes.append(committed(pick(titles) + QStringLiteral("\nbody"), storage));
            break;
        case 2:
            if (!notes.isEmpty()) {
                const NotePtr& note = pick(notes);
                note->moveNoteToStorage(note->storage() == NoteStorageInbox ? NoteStorageArchive : NoteStorageInbox);
            }
            break;
        case 3:
            if (!notes.isEmpty())
                notes.takeAt(qsizetype(random() % notes.size()))->trashNote({});
            break;
        case 4: // Written from outside.
            QDir().mkpath(folder);
            TestSupport::writeFile(folder + QLatin1Char('/') + pick(probes), "outside");
            break;
        case 5: // Deleted from outside.
            if (!present.isEmpty())
                QFile::remove(folder + QLatin1Char('/') + pick(present));
            break;
        case 6: // Renamed from outside.
            if (!present.isEmpty())
                QFile::rename(folder + QLatin1Char('/') + pick(present), folder + QLatin1Char('/') + pick(probes));
            break;
        case 7: { // A start: the rebuild lists the storage folders for the cache.
            NoteIndexRebuild run;
            while (run.step()) {
            }
            break;
        }
        }
        for (const int s : storages) {
            const QString dir = Note::documentDirectoryForStorage(s);
            const QSet<QString> onDisk = foldedEntries(dir);
            QStringList names = probes + QDir(dir).entryList(QDir::Files);
            for (const QString& name : std::as_const(names))
                ASSERT_EQ(cachedAsTaken(dir, name), onDisk.contains(FolderNameCache::folded(name)))
                    << step << " " << qPrintable(dir) << " " << qPrintable(name);
        }
    }
}

TEST_F(CommitTest, NoteStoreNewNoteNeverReplacesAFileThatAppearedAfterTheFolderWasListed)
{
    // The folder is known to the cache, then a file of the note's name appears.
    committed(QStringLiteral("Other note\nbody"));
    const NotePtr note = newNote(QStringLiteral("Shopping list\nmilk"));
    ASSERT_EQ(note->findUnusedReadableFileNameForDirectory(Note::documentDirectoryForStorage(NoteStorageInbox)),
              QStringLiteral("Shopping list.txt"));
    TestSupport::writeFile(inbox(QStringLiteral("Shopping list.txt")), "theirs");
    ASSERT_TRUE(commit(note));
    EXPECT_EQ(note->key(), QStringLiteral("Shopping list 2.txt"));
    EXPECT_EQ(TestSupport::readFile(inbox(QStringLiteral("Shopping list.txt"))), QByteArray("theirs"));
    EXPECT_EQ(TestSupport::readFile(inbox(QStringLiteral("Shopping list 2.txt"))), QByteArray("Shopping list\nmilk"));
}
