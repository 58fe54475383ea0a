#include "Store/NoteStorage.h"

#include "EventJournal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

QStringList onMain(const QStringList& lines)
{
    QStringList out;
    for (const QString& line : lines)
        out.append(line + QLatin1Char('@') + DispatchQueue::mainLabel());
    return out;
}

} // namespace

TEST(NoteStoreRelay, EveryEventReachesListenersInRegistrationOrder)
{
    QStringList lines;
    NoteStorage storage;
    storage.noteDidAddToStorage(nullptr, NoteStorageInbox, QString()); // nobody listens yet
    for (const char* name : {"A", "B", "C"})
        storage.addNoteStorageListener(std::make_shared<EventJournal>(QString::fromLatin1(name), &lines));
    const NotePtr note = std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox);
    const NotePtr moved = std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageArchive);

    storage.noteDidUpdateFromRemoteServer(note);
    storage.noteDidDeleteFromRemoteServer(note);
    storage.noteDidAddToStorage(note, NoteStorageArchive, QString());
    storage.noteDidDeleteFromStorage(note, NoteTagMention, QStringLiteral("ann"));
    storage.noteDidMoveTo(note, moved);
    storage.noteWillMoveTo(note, note);
    storage.noteTagDidDeleteFromStorage(QStringLiteral("todo"), NoteTagHashtag);
    storage.noteTagDidAddToStorage(QStringLiteral("ann"), NoteTagMention);

    QStringList expected;
    for (const char* event : {"update", "remoteDelete", "add 1/a.txt 2 -", "delete 1/a.txt 5 ann",
                              "didMove 1/a.txt>2/a.txt on main", "willMove 1/a.txt>1/a.txt", "tagDelete todo 4",
                              "tagAdd ann 5"})
        for (const char* name : {"A", "B", "C"})
            expected.append(QStringLiteral("%1 %2").arg(QLatin1String(name), QLatin1String(event)));
    // Each call returned only after C had returned: every line is there.
    EXPECT_EQ(lines, onMain(expected));
}

TEST(NoteStoreRelay, RegistrationTwiceAndChangesDuringDelivery)
{
    QStringList lines;
    NoteStorage storage;
    auto a = std::make_shared<EventJournal>(QStringLiteral("A"), &lines);
    auto b = std::make_shared<EventJournal>(QStringLiteral("B"), &lines);
    auto c = std::make_shared<EventJournal>(QStringLiteral("C"), &lines);
    storage.addNoteStorageListener(a);
    storage.addNoteStorageListener(b);
    storage.addNoteStorageListener(a);
    // A leaves, taking both its entries, and brings C in while it is being called.
    a->onEvent = [&] {
        storage.removeNoteStorageListener(a.get());
        storage.addNoteStorageListener(c);
    };
    storage.noteTagDidAddToStorage(QStringLiteral("one"), NoteTagHashtag);
    a->onEvent = nullptr;
    storage.noteTagDidAddToStorage(QStringLiteral("two"), NoteTagHashtag);
    EXPECT_EQ(lines, onMain({"A tagAdd one 4", "B tagAdd one 4", "A tagAdd one 4", "B tagAdd two 4",
                             "C tagAdd two 4", "C tagAdd two 4"}));
}

TEST(NoteStoreRelay, ListenerRemovedOnAnotherThreadLivesUntilItsCallReturns)
{
    NoteStorage storage;
    QStringList lines;
    std::atomic<bool> entered = false;
    std::atomic<bool> release = false;
    std::weak_ptr<EventJournal> watch;
    {
        auto slow = std::make_shared<EventJournal>(QStringLiteral("slow"), &lines);
        slow->onEvent = [&] {
            entered = true;
            while (!release)
                std::this_thread::yield();
        };
        watch = slow;
        storage.addNoteStorageListener(slow);
    }
    std::thread sender([&] { storage.noteTagDidAddToStorage(QStringLiteral("t"), NoteTagHashtag); });
    while (!entered)
        std::this_thread::yield();
    storage.removeNoteStorageListener(watch.lock().get());
    storage.noteTagDidAddToStorage(QStringLiteral("u"), NoteTagHashtag); // nobody left
    EXPECT_FALSE(watch.expired());
    release = true;
    sender.join();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(lines, QStringList{"slow tagAdd t 4@"});
}
