// Two computers, each a sync-sim process with a home of its own, over one
// sync folder (or none) and one record store (SQLite or PostgreSQL).
#include "SyncMachine.h"

#include "files/FileTimes.h"

#include <QCryptographicHash>
#include <QSet>
#include <QThread>

#include <iostream>

namespace {

struct Setup {
    const char* backend;
    bool folder;
};

std::string setupName(const ::testing::TestParamInfo<Setup>& info)
{
    return std::string(info.param.backend) + (info.param.folder ? "WithFolder" : "StoreOnly");
}

class SyncE2E : public ::testing::TestWithParam<Setup> {
protected:
    void SetUp() override
    {
        if (!makeSharedPlace(QStringLiteral("e2e"), GetParam().backend, root, store, postgres))
            return;
        a = std::make_unique<Machine>(QStringLiteral("A"), root + QStringLiteral("/A"));
        b = std::make_unique<Machine>(QStringLiteral("B"), root + QStringLiteral("/B"));
        for (Machine* machine : {a.get(), b.get()})
            join(*machine);
    }
    void TearDown() override
    {
        a.reset();
        b.reset();
        postgres.reset();
    }

    void join(Machine& machine)
    {
        if (GetParam().folder)
            machine.ok(QStringLiteral("folder ") + root + QStringLiteral("/drive"));
        machine.ok(QStringLiteral("store ") + store);
        machine.ok(QStringLiteral("online"));
    }
    // What the other computer takes in when it looks: the folder, then the store.
    void exchange(Machine& machine)
    {
        if (GetParam().folder)
            machine.ok(QStringLiteral("pass"));
        machine.ok(QStringLiteral("fetch"));
    }
    Machine& other(Machine& machine) { return &machine == a.get() ? *b : *a; }
    // No folder watch, no pushes: changes come in at the exchanges only.
    void changesOnlyAtExchanges()
    {
        for (Machine* machine : {a.get(), b.get()}) {
            machine->ok(QStringLiteral("watch off"));
            machine->ok(QStringLiteral("pushnote off"));
        }
    }
    // Note dates are whole seconds: each change of a run gets a later one on both computers.
    void nextSecond()
    {
        offset += 2;
        for (Machine* machine : {a.get(), b.get()})
            machine->ok(QStringLiteral("clock %1").arg(offset));
    }

    QString root;
    QString store;
    int offset = 0;
    std::unique_ptr<PostgresTestBackend> postgres;
    std::unique_ptr<Machine> a;
    std::unique_ptr<Machine> b;
};

TEST_P(SyncE2E, EveryChangeReachesTheOtherComputerBothWays)
{
    struct Step {
        char actor;
        const char* command; // "$key": the key the actor's last command answered
        const char* trashed; // the name the other computer's Trash must then hold
    } steps[] = {
        {'A', "new Garden plan\\nbeans", nullptr},
        {'B', "edit inbox Garden%20plan.txt Garden plan\\nbeans and peas", nullptr},
        {'A', "new Hi", nullptr},
        {'A', "edit inbox $key Reading list\\nbooks", nullptr},
        {'A', "rename inbox $key", nullptr},
        {'B', "move inbox Reading%20list.txt", nullptr},
        {'A', "delete inbox Garden%20plan.txt", "Garden plan.txt"},
        {'B', "new Yo", nullptr},
        {'B', "edit inbox $key Travel kit\\nsocks", nullptr},
        {'B', "rename inbox $key", nullptr},
        {'A', "move archive Reading%20list.txt", nullptr},
        {'B', "delete inbox Reading%20list.txt", "Reading list.txt"},
        {'A', "edit inbox Travel%20kit.txt Travel kit\\nsocks and a map", nullptr},
    };
    std::map<char, QString> lastKey;
    for (const Step& step : steps) {
        Machine& actor = step.actor == 'A' ? *a : *b;
        const QString command = QString::fromUtf8(step.command).replace(QStringLiteral("$key"), encoded(lastKey[step.actor]));
        nextSecond();
        lastKey[step.actor] = actor.ok(command);
        exchange(other(actor));
        const Notes theirs = other(actor).notes();
        EXPECT_EQ(theirs, actor.notes()) << step.actor << ": " << step.command;
        if (step.trashed) {
            EXPECT_TRUE(other(actor).trash().contains(QString::fromUtf8(step.trashed))) << step.command;
        }
    }
    const Notes expected{{QStringLiteral("inbox/Travel kit.txt"), QStringLiteral("Travel kit\nsocks and a map")}};
    EXPECT_EQ(a->notes(), expected);
}

TEST_P(SyncE2E, ConcurrentOfflineEditsEndAsTwoNotesOnBothComputers)
{
    a->ok(QStringLiteral("new Shared note\\nbase"));
    exchange(*b);
    nextSecond();
    ASSERT_EQ(b->notes().size(), 1u);
    for (Machine* machine : {a.get(), b.get()})
        machine->ok(QStringLiteral("offline"));
    a->ok(QStringLiteral("edit inbox Shared%20note.txt Shared note\\nfrom A"));
    nextSecond();
    b->ok(QStringLiteral("edit inbox Shared%20note.txt Shared note\\nfrom B"));
    a->ok(QStringLiteral("online"));
    b->ok(QStringLiteral("online"));
    for (Machine* machine : {a.get(), b.get(), a.get()})
        exchange(*machine);

    const QStringList both{QStringLiteral("Shared note\nfrom A"), QStringLiteral("Shared note\nfrom B")};
    for (Machine* machine : {a.get(), b.get()})
        EXPECT_EQ(texts(machine->notes()), both) << qPrintable(machine->name);
    EXPECT_EQ(a->notes(), b->notes());
}

TEST_P(SyncE2E, AnEditArrivesUnpromptedAndIsTimed)
{
    a->ok(QStringLiteral("new Timing note\\nfirst"));
    exchange(*b);
    nextSecond();
    const QString text = QStringLiteral("Timing note\nsecond");
    if (GetParam().folder)
        b->ok(QStringLiteral("pushnote off")); // the folder alone carries it
    // B watches from before A's edit, so the time covers all of it.
    b->send(QStringLiteral("await 10 inbox Timing%20note.txt Timing note\\nsecond"));
    a->ok(QStringLiteral("edit inbox Timing%20note.txt Timing note\\nsecond"));
    const QString waited = b->answer();
    ASSERT_TRUE(waited.startsWith(QLatin1String("ok"))) << qPrintable(waited);
    std::cout << "[ timing ] " << setupName({GetParam(), 0}) << ": edit on A in B's note file after " << waited.mid(3).toStdString()
              << " ms\n";
    EXPECT_EQ(b->notes().at(QStringLiteral("inbox/Timing note.txt")), text);
}

// A note moved back where another computer moved it from, in the second of
// that move: the name's tombstone must not hold it back on the computer that
// moved it away.
TEST_P(SyncE2E, ANoteMovedBackInTheSecondItWasMovedAwayStaysOnBoth)
{
    a->ok(QStringLiteral("new Seed list\\nradish"));
    exchange(*b);
    // Both moves early in one second, as far as the clocks tell.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (Machine* machine : {a.get(), b.get()})
        machine->ok(QStringLiteral("clock %1").arg(offset + 2 + double(1000 - now % 1000) / 1000));
    a->ok(QStringLiteral("move inbox Seed%20list.txt"));
    exchange(*b);
    b->ok(QStringLiteral("move archive Seed%20list.txt"));
    b->ok(QStringLiteral("wait"));
    exchange(*a);
    const Notes expected{{QStringLiteral("inbox/Seed list.txt"), QStringLiteral("Seed list\nradish")}};
    EXPECT_EQ(a->notes(), expected);
    EXPECT_EQ(b->notes(), expected);
}

// A move and a deletion made while sync was off go out once it is back on, and
// the other computer follows; an edit it made meanwhile, unseen by the mover,
// stays: the moved note beside it, the deleted one back with the edit.
TEST_P(SyncE2E, AMoveAndADeletionMadeOfflineReachTheOtherComputer)
{
    for (const bool editedMeanwhile : {false, true}) {
        SCOPED_TRACE(editedMeanwhile ? "edited on A meanwhile" : "untouched on A");
        const QString moved = QStringLiteral("Moved offline %1").arg(editedMeanwhile);
        const QString dropped = QStringLiteral("Dropped offline %1").arg(editedMeanwhile);
        for (const QString& title : {moved, dropped})
            a->ok(QStringLiteral("new %1\\nbase").arg(title));
        exchange(*b);
        nextSecond();
        b->ok(QStringLiteral("offline"));
        b->ok(QStringLiteral("move inbox ") + encoded(moved + QStringLiteral(".txt")));
        b->ok(QStringLiteral("delete inbox ") + encoded(dropped + QStringLiteral(".txt")));
        if (editedMeanwhile)
            for (const QString& title : {moved, dropped})
                a->ok(QStringLiteral("edit inbox %1 %2\\nedit").arg(encoded(title + QStringLiteral(".txt")), title));
        nextSecond();
        b->ok(QStringLiteral("online"));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);

        Notes expected{{QStringLiteral("archive/") + moved + QStringLiteral(".txt"), moved + QStringLiteral("\nbase")}};
        if (editedMeanwhile) {
            expected[QStringLiteral("inbox/") + moved + QStringLiteral(".txt")] = moved + QStringLiteral("\nedit");
            expected[QStringLiteral("inbox/") + dropped + QStringLiteral(".txt")] = dropped + QStringLiteral("\nedit");
        }
        for (Machine* machine : {a.get(), b.get()}) {
            Notes held;
            for (const auto& [where, text] : machine->notes())
                if (text.startsWith(moved) || text.startsWith(dropped))
                    held[where] = text;
            EXPECT_EQ(held, expected) << qPrintable(machine->name);
        }
        if (editedMeanwhile)
            continue;
        EXPECT_TRUE(a->trash().contains(dropped + QStringLiteral(".txt")));
        if (GetParam().folder) { // the folder holds what a computer joining now takes in
            const QString documents = root + QStringLiteral("/drive/Documents/");
            EXPECT_FALSE(QFileInfo::exists(documents + QStringLiteral("Inbox/") + moved + QStringLiteral(".txt")));
            EXPECT_FALSE(QFileInfo::exists(documents + QStringLiteral("Inbox/") + dropped + QStringLiteral(".txt")));
            EXPECT_TRUE(QFileInfo::exists(documents + QStringLiteral("Archive/") + moved + QStringLiteral(".txt")));
        }
    }
}

// Most notes gone from a computer's folder while it was offline look like a
// folder gone wrong, not like deletions: none goes anywhere else.
TEST_P(SyncE2E, NotesLostFromAFolderWhileOfflineAreDeletedNowhereElse)
{
    for (int i = 1; i <= 7; ++i)
        a->ok(QStringLiteral("new Kept note %1\\nbase").arg(i));
    exchange(*b);
    const Notes before = a->notes();
    ASSERT_EQ(b->notes(), before);
    b->ok(QStringLiteral("offline"));
    const QString documents = root + QStringLiteral("/B/Documents");
    for (const QString& app : QDir(documents).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QDir inbox(documents + QLatin1Char('/') + app + QStringLiteral("/Home"));
        for (const QString& name : inbox.entryList(QDir::Files))
            ASSERT_TRUE(inbox.remove(name));
    }
    ASSERT_TRUE(b->notes().empty());
    b->ok(QStringLiteral("online"));
    for (Machine* machine : {b.get(), a.get(), b.get(), a.get()})
        exchange(*machine);
    EXPECT_EQ(a->notes(), before);
    EXPECT_TRUE(a->trash().isEmpty());
}

// An emptied note is saved blank, its old text kept once in the Trash; a save the disk does not take
// is answered with an error.
TEST_P(SyncE2E, AnEmptiedNoteIsSavedBlankWithOneBackupAndAFailedSaveIsNoOk)
{
    changesOnlyAtExchanges();
    const QString key = a->ok(QStringLiteral("new Emptied note\\nwords to keep"));
    ASSERT_EQ(key, QStringLiteral("Emptied note.txt"));
    nextSecond();
    for (int blanking = 0; blanking < 2; ++blanking)
        a->ok(QStringLiteral("edit inbox Emptied%20note.txt "));
    EXPECT_EQ(a->notes(), Notes({{QStringLiteral("inbox/Emptied note.txt"), QString()}}));
    EXPECT_EQ(a->trashTexts(), QStringList{QStringLiteral("Emptied note\nwords to keep")});

    // A folder where the text file was: nothing can be written there.
    const QString path = root + QStringLiteral("/A/Documents/Brindlewick/Home/Emptied note.txt");
    ASSERT_TRUE(QFile::remove(path) && QDir().mkpath(path + QStringLiteral("/inside")));
    a->send(QStringLiteral("edit inbox Emptied%20note.txt new words"));
    EXPECT_TRUE(a->answer().startsWith(QLatin1String("error")));
}

INSTANTIATE_TEST_SUITE_P(Backends, SyncE2E,
                         ::testing::Values(Setup{"Sqlite", true}, Setup{"Sqlite", false}, Setup{"Postgres", true},
                                           Setup{"Postgres", false}),
                         setupName);

class SyncE2EFolder : public SyncE2E {};

TEST_P(SyncE2EFolder, AFolderMovedAwayDeletesNothingAnywhere)
{
    for (const char* text : {"new First note\\none", "new Second note\\ntwo", "new Third note\\nthree"})
        a->ok(QString::fromUtf8(text));
    exchange(*b);
    const Notes before = a->notes();
    ASSERT_EQ(b->notes(), before);

    ASSERT_TRUE(QDir().rename(root + QStringLiteral("/drive"), root + QStringLiteral("/drive-away")));
    for (Machine* machine : {a.get(), b.get()}) {
        machine->send(QStringLiteral("pass")); // refused or empty: the folder has gone
        machine->answer();
        machine->ok(QStringLiteral("fetch"));
    }
    for (Machine* machine : {a.get(), b.get()}) {
        EXPECT_EQ(machine->notes(), before) << qPrintable(machine->name);
        EXPECT_TRUE(machine->trash().isEmpty()) << qPrintable(machine->name);
    }
}

TEST_P(SyncE2EFolder, EditsOfOneNoteInTheSameSecondEndAsTheNoteAndOneForkOnBoth)
{
    changesOnlyAtExchanges();
    a->ok(QStringLiteral("new Shared plan\\nbase"));
    exchange(*b);
    for (int round = 1; round <= 8; ++round) {
        nextSecond(); // the same second on both
        const QString theirs = QStringLiteral("Shared plan\nA %1").arg(round);
        const QString mine = QStringLiteral("Shared plan\nB %1").arg(round);
        a->ok(QStringLiteral("edit inbox Shared%20plan.txt ") + QString(theirs).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        b->ok(QStringLiteral("edit inbox Shared%20plan.txt ") + QString(mine).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        for (int i = 0; i < 2; ++i)
            for (Machine* machine : {a.get(), b.get()})
                exchange(*machine);
        const Notes notes = a->notes();
        EXPECT_EQ(b->notes(), notes) << "round " << round;
        const QStringList all = texts(notes);
        EXPECT_TRUE(all.contains(theirs) && all.contains(mine)) << "round " << round << ": " << qPrintable(all.join(" | "));
        EXPECT_EQ(all.size(), round + 1) << "round " << round; // the note and one fork per round
        EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), all.size()) << "round " << round;
    }
}

TEST_P(SyncE2EFolder, AnEditSavedOnAKilledComputerTravelsAfterItsRestart)
{
    a->ok(QStringLiteral("new Kill plan\\nfirst"));
    exchange(*b);
    const QString at = QStringLiteral("inbox/Kill plan.txt");
    for (int round = 1; round <= 8; ++round) {
        nextSecond();
        const QString edit = QStringLiteral("inbox Kill%20plan.txt Kill plan\\nedit %1").arg(round);
        if (round % 2) {
            a->send(QStringLiteral("crash ") + edit); // saved here, never handed on
            a->answer();
        } else {
            a->send(QStringLiteral("edit ") + edit); // killed at some moment of the edit
            QThread::msleep(round * 2);
        }
        a->killAndRestart();
        a->ok(QStringLiteral("clock %1").arg(offset));
        const QString saved = a->notes().at(at);
        if (round % 2) {
            EXPECT_EQ(saved, QStringLiteral("Kill plan\nedit %1").arg(round));
        }
        join(*a);
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);
        EXPECT_EQ(b->notes(), a->notes()) << "round " << round;
        EXPECT_EQ(b->notes()[at], saved) << "round " << round;
    }
}

TEST_P(SyncE2EFolder, AGarbledOrCutDocumentIsNeverTakenForTextAndAReplacedTextIsKept)
{
    // Written here and replaced by an edit made over it elsewhere: the old text waits in the Trash.
    a->ok(QStringLiteral("new Garden list\\nbeans"));
    exchange(*b);
    nextSecond();
    b->ok(QStringLiteral("edit inbox Garden%20list.txt Garden list\\nbeans, peas and lettuce\\nsnow peas"));
    exchange(*a);
    EXPECT_TRUE(a->trashTexts().contains(QStringLiteral("Garden list\nbeans")));
    EXPECT_TRUE(b->trashTexts().isEmpty()); // there it had only come in

    const QString old = QStringLiteral("Garden list\nbeans, peas and lettuce\nsnow peas");
    const QString document = root + QStringLiteral("/drive/Documents/Inbox/Garden list.txt");
    const struct {
        const char* what;
        QByteArray bytes;
        bool takenIn;
    } cases[] = {
        {"garbage", QByteArray("\x81\xFEgarden\x00\x13\xC0\xAF\xFF\x10", 12), false},
        {"cut inside a character", QByteArray("Garden list\nbeans, p\xC3"), false},
        {"cut between words", QByteArray("Garden list\nbeans, peas"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestSupport::writeFile(document, c.bytes);
        ASSERT_TRUE(FileTimes::setModificationTime(document, FileTime::fromSeconds(QDateTime::currentSecsSinceEpoch() + offset + 30)));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);
        // A readable cut was written beside the note's text by no computer of
        // the note: both texts stay, one as a fork.
        const QStringList expected = c.takenIn ? QStringList{QString::fromUtf8(c.bytes), old} : QStringList{old};
        EXPECT_EQ(texts(a->notes()), expected);
        EXPECT_EQ(b->notes(), a->notes());
    }
}

// An edit only the store took (the folder was away) must still reach the folder:
// a later move carries the folder's document to the other computers.
TEST_P(SyncE2EFolder, AnEditOnlyTheStoreTookReachesTheFolderBeforeAMoveCarriesIt)
{
    changesOnlyAtExchanges();
    a->ok(QStringLiteral("new Moved plan\\nbase"));
    exchange(*b);
    nextSecond();
    const QString drive = root + QStringLiteral("/drive");
    ASSERT_TRUE(QDir().rename(drive, drive + QStringLiteral("-away")));
    a->send(QStringLiteral("edit inbox Moved%20plan.txt Moved plan\\nedit")); // the folder's half fails
    a->answer();
    a->ok(QStringLiteral("wait"));
    ASSERT_TRUE(QDir().rename(drive + QStringLiteral("-away"), drive));
    a->ok(QStringLiteral("pass"));
    QFile document(drive + QStringLiteral("/Documents/Inbox/Moved plan.txt"));
    ASSERT_TRUE(document.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(document.readAll()), QStringLiteral("Moved plan\nedit"));
    exchange(*b);
    b->ok(QStringLiteral("move inbox Moved%20plan.txt"));
    for (Machine* machine : {a.get(), b.get(), a.get(), b.get()}) {
        machine->ok(QStringLiteral("fetch")); // the store first: its text must not meet a stale document
        machine->ok(QStringLiteral("pass"));
    }
    const Notes moved{{QStringLiteral("archive/Moved plan.txt"), QStringLiteral("Moved plan\nedit")}};
    EXPECT_EQ(a->notes(), moved);
    EXPECT_EQ(b->notes(), moved);
}

// A note moved offline whose last text came in through the folder alone: the
// store's link still dates the text before it, yet the record is the text the
// mover saw, and the move reaches a computer that reads the store alone.
TEST_P(SyncE2EFolder, AMoveMadeOfflineOverATextTheFolderBroughtReachesTheStore)
{
    changesOnlyAtExchanges();
    Machine storeOnly(QStringLiteral("C"), root + QStringLiteral("/C"));
    storeOnly.ok(QStringLiteral("store ") + store);
    for (const char* command : {"online", "watch off", "pushnote off"})
        storeOnly.ok(QString::fromLatin1(command));
    a->ok(QStringLiteral("new Carried plan\\nbase"));
    exchange(*b);
    nextSecond();
    b->ok(QStringLiteral("edit inbox Carried%20plan.txt Carried plan\\nedit"));
    a->ok(QStringLiteral("pass")); // the folder first: its link then holds the record back
    a->ok(QStringLiteral("fetch"));
    storeOnly.ok(QStringLiteral("fetch"));
    nextSecond();
    a->ok(QStringLiteral("offline"));
    a->ok(QStringLiteral("move inbox Carried%20plan.txt"));
    nextSecond();
    a->ok(QStringLiteral("online"));
    // B does not look yet: its trash pass would carry the deletion to the store on A's behalf.
    for (int i = 0; i < 2; ++i) {
        exchange(*a);
        storeOnly.ok(QStringLiteral("fetch"));
    }
    exchange(*b);
    const Notes moved{{QStringLiteral("archive/Carried plan.txt"), QStringLiteral("Carried plan\nedit")}};
    for (Machine* machine : {a.get(), b.get(), &storeOnly})
        EXPECT_EQ(machine->notes(), moved) << qPrintable(machine->name);
}

// A note moved on one computer while the other edits it: the edit ends as the
// moved note's text or as a fork beside it, on both, however far it had got
// (the folder and the store, or the store alone) and whichever looks first.
TEST_P(SyncE2EFolder, AnEditMadeWhileTheNoteIsMovedElsewhereIsKeptBesideIt)
{
    changesOnlyAtExchanges();
    const QString drive = root + QStringLiteral("/drive");
    const struct {
        const char* what;
        bool folderAway; // during the edit: only the store takes it
        bool storeFirst; // the exchanges fetch before they pass
    } cases[] = {
        {"folder and store, folder first", false, false},
        {"folder and store, store first", false, true},
        {"store alone, folder first", true, false},
        {"store alone, store first", true, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString title = QStringLiteral("Move plan %1").arg(++n);
        const QString key = encoded(title + QStringLiteral(".txt"));
        a->ok(QStringLiteral("new %1\\nbase").arg(title));
        exchange(*b);
        nextSecond();
        if (c.folderAway) {
            ASSERT_TRUE(QDir().rename(drive, drive + QStringLiteral("-away")));
        }
        a->send(QStringLiteral("edit inbox %1 %2\\nedit").arg(key, title));
        a->answer();
        a->ok(QStringLiteral("wait"));
        if (c.folderAway) {
            ASSERT_TRUE(QDir().rename(drive + QStringLiteral("-away"), drive));
        }
        b->ok(QStringLiteral("move inbox ") + key); // B has not seen the edit
        b->ok(QStringLiteral("wait"));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()}) {
            machine->ok(QString::fromLatin1(c.storeFirst ? "fetch" : "pass"));
            machine->ok(QString::fromLatin1(c.storeFirst ? "pass" : "fetch"));
        }
        const Notes notes = a->notes();
        EXPECT_EQ(b->notes(), notes);
        QStringList held;
        for (const auto& [where, text] : notes)
            if (text.startsWith(title + QLatin1Char('\n')))
                held << text;
        held.sort();
        EXPECT_EQ(held, QStringList({title + QStringLiteral("\nbase"), title + QStringLiteral("\nedit")}));
        EXPECT_EQ(notes.count(QStringLiteral("archive/") + title + QStringLiteral(".txt")), 1u);
    }
}

// A conflict dates the text it sends again a second ahead, and with it the links
// of both computers: an edit made within that second, online or offline, must
// still be sent and taken in, and once the other computer moves the note, the
// editor must not keep it as an edit that never went out.
TEST_P(SyncE2EFolder, AnEditInTheSecondAConflictWasSettledInReachesTheOtherComputer)
{
    changesOnlyAtExchanges();
    const struct {
        char editor;
        bool offline;
    } cases[] = {{'A', false}, {'B', false}, {'A', true}, {'B', true}};
    int round = 0;
    for (const auto& c : cases) {
        ++round;
        SCOPED_TRACE(std::string(1, c.editor) + (c.offline ? " offline" : " online"));
        const QString title = QStringLiteral("Busy plan %1").arg(round);
        const QString edit = QStringLiteral("edit inbox %1 %2\\n").arg(encoded(title + QStringLiteral(".txt")), title);
        a->ok(QStringLiteral("new %1\\nbase").arg(title));
        exchange(*b);
        nextSecond(); // everything below in this one second
        a->ok(edit + QStringLiteral("A"));
        b->ok(edit + QStringLiteral("B"));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);
        ASSERT_EQ(a->notes(), b->notes());
        Machine& editor = c.editor == 'A' ? *a : *b;
        if (c.offline)
            editor.ok(QStringLiteral("offline"));
        editor.ok(edit + QStringLiteral("later"));
        if (c.offline)
            editor.ok(QStringLiteral("online"));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);
        const QString later = title + QStringLiteral("\nlater");
        EXPECT_EQ(a->notes(), b->notes());
        EXPECT_EQ(other(editor).notes()[QStringLiteral("inbox/") + title + QStringLiteral(".txt")], later);

        other(editor).ok(QStringLiteral("move inbox ") + encoded(title + QStringLiteral(".txt")));
        for (Machine* machine : {a.get(), b.get(), a.get(), b.get()})
            exchange(*machine);
        EXPECT_EQ(a->notes(), b->notes());
        EXPECT_EQ(texts(a->notes()).count(later), 1);
    }
}

// A third computer moves or deletes the note while two others edit it, none
// having seen the others' changes: whichever edit the conflict keeps as the
// note, every text ends held once, on all three. The conflict keeps the text
// with the greater hash, so each kind runs with either editor's text kept.
TEST_P(SyncE2EFolder, AMoveOrDeleteMeetingTwoEditsLeavesEachTextOnce)
{
    changesOnlyAtExchanges();
    Machine c(QStringLiteral("C"), root + QStringLiteral("/C"));
    join(c);
    c.ok(QStringLiteral("watch off"));
    c.ok(QStringLiteral("pushnote off"));
    const auto hash = [](const QString& text) { return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex(); };
    const struct {
        const char* what;
        const char* change; // B's, on the note as all three last saw it
        bool firstEditorKept;
    } cases[] = {
        {"move, the first editor's text kept", "move", true},
        {"move, the last editor's text kept", "move", false},
        {"delete, the first editor's text kept", "delete", true},
        {"delete, the last editor's text kept", "delete", false},
    };
    int n = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        const QString title = QStringLiteral("Triple plan %1").arg(++n);
        const QString key = encoded(title + QStringLiteral(".txt"));
        a->ok(QStringLiteral("new %1\\nbase").arg(title));
        for (Machine* machine : {b.get(), &c})
            exchange(*machine);
        nextSecond();
        c.ok(QStringLiteral("clock %1").arg(offset));
        QString first = title + QStringLiteral("\nleft");
        QString last = title + QStringLiteral("\nright");
        if ((hash(first) > hash(last)) != row.firstEditorKept)
            std::swap(first, last);
        a->ok(QStringLiteral("edit inbox %1 %2").arg(key, QString(first).replace(QLatin1Char('\n'), QStringLiteral("\\n"))));
        a->ok(QStringLiteral("wait"));
        b->ok(QStringLiteral("%1 inbox %2").arg(QString::fromLatin1(row.change), key));
        b->ok(QStringLiteral("wait"));
        c.ok(QStringLiteral("edit inbox %1 %2").arg(key, QString(last).replace(QLatin1Char('\n'), QStringLiteral("\\n"))));
        c.ok(QStringLiteral("wait"));
        for (int i = 0; i < 4; ++i)
            for (Machine* machine : {a.get(), b.get(), &c})
                exchange(*machine);
        const Notes notes = a->notes();
        EXPECT_EQ(b->notes(), notes);
        EXPECT_EQ(c.notes(), notes);
        QStringList held;
        for (const auto& [where, text] : notes)
            if (text.startsWith(title + QLatin1Char('\n')))
                held << text;
        held.sort();
        QStringList expected{first, last};
        if (QLatin1String(row.change) == QLatin1String("move"))
            expected << title + QStringLiteral("\nbase");
        expected.sort();
        EXPECT_EQ(held, expected);
    }
}

// A note named by another program with all of a file name's 255 bytes: an edit
// kept beside it and each computer's edit reach both computers and the folder,
// through the store alone as well.
TEST_P(SyncE2EFolder, ANoteWithANameOf255BytesKeepsAndCarriesEveryEdit)
{
    changesOnlyAtExchanges();
    const QString key = QString(251, QLatin1Char('n')) + QStringLiteral(".txt");
    const QString at = QStringLiteral("inbox/") + key;
    const QString document = root + QStringLiteral("/drive/Documents/Inbox/") + key;
    TestSupport::writeFile(document, "Long name\nbase");
    for (Machine* machine : {a.get(), b.get()})
        exchange(*machine);
    ASSERT_EQ(a->notes()[at], QStringLiteral("Long name\nbase"));

    nextSecond();
    const QString fork = a->ok(QStringLiteral("edit-over inbox %1 %2 Long name\\nedit over").arg(encoded(key), encoded(QStringLiteral("Long name\nother"))));
    EXPECT_EQ(a->notes()[QStringLiteral("inbox/") + fork], QStringLiteral("Long name\nedit over"));
    exchange(*b);
    EXPECT_EQ(b->notes(), a->notes());

    const struct {
        Machine* editor;
        const char* text;
    } edits[] = {{a.get(), "Long name\\nfrom A"}, {b.get(), "Long name\\nfrom B"}};
    for (const auto& edit : edits) {
        nextSecond();
        edit.editor->ok(QStringLiteral("edit inbox %1 %2").arg(encoded(key), QString::fromUtf8(edit.text)));
        const QString text = QString::fromUtf8(edit.text).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        EXPECT_EQ(TestSupport::readFile(document), text.toUtf8());
        Machine& reader = other(*edit.editor);
        reader.ok(QStringLiteral("fetch")); // the store alone
        EXPECT_EQ(reader.notes()[at], text);
        reader.ok(QStringLiteral("pass"));
        EXPECT_EQ(reader.notes(), edit.editor->notes());
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SyncE2EFolder,
                         ::testing::Values(Setup{"Sqlite", true}, Setup{"Postgres", true}), setupName);

} // namespace
