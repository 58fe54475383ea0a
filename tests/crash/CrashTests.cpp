// A child process edits notes with faults of the worst kind: it is killed
// with SIGKILL at a random moment. A fresh process on the same folders then
// runs the start-up rebuild, and every note must be whole, no completed save
// lost, and every cache in line with the texts. 200 trials by default.
// Another child is killed inside the start-up rebuild itself, while notes
// change and go from outside between its steps; the next start must leave
// every cache in line with the texts, no row for a note that is gone.
#include "CrashTrial.h"

#include "../store/StoreConsistency.h"
#include "../warehouse/WarehouseTestSupport.h"

#include "OfflineAppleCloud.h"
#include "Store/Migrator.h"
#include "Store/NoteIndexRebuild.h"
#include "TestSupport.h"

#include <QRandomGenerator>

#include <map>

namespace {

using CrashTrial::journal;

constexpr int OperationsPerTrial = 36;

// --- The texts: each version of each note is known in full, so a text on
// disk shows exactly which (note, version) it is, or that it is damaged.

const QStringList Words{"plan", "milk", "river", "stone", "lamp", "#home", "#work", "#URGENT", "@anna", "@bob", "list",
                        "*bold*", "- item", "# Head", "[ ] task", "> quote"};

QString noteText(int id, int version)
{
    // A short first title gives a placeholder name, renamed once it grows.
    QString text = (id % 3 == 0 && version == 0) ? QStringLiteral("C%1\n").arg(id)
                                                 : QStringLiteral("Crash note %1\n").arg(id);
    text += QStringLiteral("version %1\n").arg(version);
    QRandomGenerator words(uint32_t(id * 7919 + version));
    const int count = int(words.bounded(1, 600));
    for (int i = 0; i < count; ++i)
        text += Words[int(words.bounded(Words.size()))] + (i % 12 == 11 ? u'\n' : u' ');
    return text;
}

// The (note, version) of a text, or {-1, -1} when it is none of them.
std::pair<int, int> identify(const QString& text)
{
    const QStringList lines = text.split(u'\n');
    if (lines.size() < 2 || !lines[1].startsWith(QLatin1String("version ")))
        return {-1, -1};
    const QString title = lines[0];
    const int id = title.startsWith(u'C') && !title.contains(u' ') ? title.mid(1).toInt()
                                                                    : title.section(u' ', 2).toInt();
    const int version = lines[1].mid(8).toInt();
    return noteText(id, version) == text ? std::pair{id, version} : std::pair{-1, -1};
}

void configureCore(const QString& store)
{
    Core::Configuration configuration;
    configuration.documentDirectory = store + QStringLiteral("/Documents");
    configuration.cachesDirectory = store + QStringLiteral("/Caches");
    static UserDefaults defaults(store + QStringLiteral("/defaults.ini"));
    configuration.defaults = &defaults;
    configuration.makeAppleCloud = [] { return std::make_shared<OfflineAppleCloud>(); };
    ASSERT_TRUE(Core::configure(configuration));
    Core::shared();
}

// --- The child that works until it is killed.

class Worker {
public:
    explicit Worker(uint32_t seed) : random_(seed) {}

    void run()
    {
        Core::shared().buildTagLinkAndIndexFiles();
        Dispatch::waitUntilIdle();
        warehouse_->setEditingDelegate(editor_);
        for (int i = 0; i < OperationsPerTrial; ++i)
            step();
        journal("end");
    }

private:
    void onFileQueue(const std::function<void()>& block) { Core::shared().fileQueue()->sync(block); }

    // The editing note's text as the last completed save left it.
    void saved(int id) { journal(QStringLiteral("D %1 %2").arg(id).arg(versions_[id])); }

    void endSession(bool forMoveOrDelete)
    {
        if (editing_ < 0)
            return;
        bool done = false;
        if (forMoveOrDelete)
            warehouse_->endEditingNoteForMoveOrDelete([&] { done = true; });
        else
            warehouse_->endEditingNote([&] { done = true; });
        Dispatch::waitUntilIdle();
        if (!done)
            std::_Exit(4);
        saved(editing_);
        editing_ = -1;
    }

    int anyNote() { return ids_.empty() ? -1 : ids_[random_.bounded(int(ids_.size()))]; }

    void step()
    {
        const int choice = int(random_.bounded(100));
        if (ids_.empty() || choice < 12)
            return newNote();
        if (choice < 62)
            return type();
        if (choice < 66)
            return redate(anyNote());
        if (choice < 70)
            return quit();
        const int id = anyNote();
        if (id == editing_)
            endSession(true);
        if (choice < 82)
            return move(id);
        if (choice < 90)
            return rename(id);
        return trash(id);
    }

    void newNote()
    {
        const int id = nextId_++;
        auto note = std::make_shared<Note>();
        note->setText(noteText(id, 0));
        journal(QStringLiteral("B %1 0").arg(id));
        bool ok = false;
        onFileQueue([&] { note->commitNote([&](bool committed) { ok = committed; }); });
        if (!ok)
            std::_Exit(5);
        notes_[id] = note;
        versions_[id] = 0;
        ids_.push_back(id);
        journal(QStringLiteral("D %1 0").arg(id));
    }

    // Typing into a note, autosaved when the pause is long enough.
    void type()
    {
        const int id = anyNote();
        if (id != editing_) {
            endSession(false);
            bool started = false;
            warehouse_->startEditingNote(notes_[id], [&] { started = true; });
            Dispatch::waitUntilIdle();
            if (!started)
                std::_Exit(6);
            editing_ = id;
        }
        const int version = ++versions_[id];
        journal(QStringLiteral("B %1 %2").arg(id).arg(version));
        editor_->text = noteText(id, version);
        warehouse_->addEditingChanges(1);
        if (random_.bounded(2) == 0) {
            time_.advance(Warehouse::AutoSaveDelay);
            Dispatch::waitUntilIdle();
            if (warehouse_->editingChanges() == 0)
                saved(id);
        }
    }

    void quit()
    {
        if (editing_ < 0)
            return;
        warehouse_->emergencyCommitEditingNote({});
        saved(editing_);
        Dispatch::waitUntilIdle();
    }

    // Saved again with the bytes on disk and a later date, as sync does with a
    // note another program wrote: only dates, records and the marker change.
    void redate(int id)
    {
        if (id == editing_)
            endSession(false);
        const NotePtr& note = notes_[id];
        journal(QStringLiteral("E %1").arg(id));
        onFileQueue([&] {
            auto again = std::make_shared<Note>(note->key(), note->storage());
            again->restoreMeta();
            if (!again->restoreText())
                std::_Exit(8);
            again->setUpdatedOnForChange(again->updatedOn() + 1);
            again->_commitAndCloseLocalNote({});
        });
    }

    void move(int id)
    {
        const NotePtr& note = notes_[id];
        const int target = note->storage() == NoteStorageInbox ? NoteStorageArchive : NoteStorageInbox;
        journal(QStringLiteral("M %1").arg(id));
        onFileQueue([&] { note->moveNoteToStorage(target); });
    }

    void rename(int id)
    {
        journal(QStringLiteral("R %1").arg(id));
        onFileQueue([&] { notes_[id]->makeReadableFileNameUsingBlock([](const Error&) {}); });
    }

    void trash(int id)
    {
        journal(QStringLiteral("T %1").arg(id));
        Error error;
        onFileQueue([&] { notes_[id]->trashNote([&](const Error& e) { error = e; }); });
        if (!error.isNull())
            std::_Exit(7);
        ids_.erase(std::find(ids_.begin(), ids_.end(), id));
        journal(QStringLiteral("X %1").arg(id));
    }

    QRandomGenerator random_;
    TestSupport::VirtualTime time_;
    std::shared_ptr<Warehouse> warehouse_ = Warehouse::create();
    std::shared_ptr<FakeEditor> editor_ = std::make_shared<FakeEditor>();
    std::map<int, NotePtr> notes_;
    std::map<int, int> versions_;
    std::vector<int> ids_;
    int nextId_ = 1;
    int editing_ = -1;
};

// --- The restarted process: rebuild, then judge the store by the journal.

struct Expectation {
    int begun = -1;     // highest version whose save began
    int saved = -1;     // highest version whose save completed
    bool trashBegun = false;
    bool trashed = false;
};

std::map<int, Expectation> readJournal(const QString& path)
{
    std::map<int, Expectation> notes;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 2)
            continue;
        Expectation& e = notes[parts[1].toInt()];
        const char kind = parts[0].at(0);
        if (kind == 'B')
            e.begun = std::max(e.begun, parts[2].toInt());
        else if (kind == 'D')
            e.saved = std::max(e.saved, parts[2].toInt());
        else if (kind == 'T')
            e.trashBegun = true;
        else if (kind == 'X')
            e.trashed = true;
    }
    return notes;
}

void verify(const QString& store)
{
    Core::shared().buildTagLinkAndIndexFiles();
    Dispatch::waitUntilIdle();
    Core::shared().fileQueue()->sync([] {});
    EXPECT_EQ(storeDisagreements(), QStringList());

    std::map<int, Expectation> expected = readJournal(store + QStringLiteral("/journal"));
    std::map<int, int> found;
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const QDir folder(Note::documentDirectoryForStorage(storage));
        for (const QString& key : folder.entryList(QDir::Files)) {
            const auto [id, version] = identify(QString::fromUtf8(TestSupport::readFile(folder.filePath(key))));
            EXPECT_GE(id, 0) << "damaged text in " << qPrintable(key);
            EXPECT_FALSE(found.count(id)) << "note " << id << " twice, again in " << qPrintable(key);
            found[id] = version;
        }
    }
    for (const auto& [id, e] : expected) {
        const bool present = found.count(id) > 0;
        if (e.trashed) {
            EXPECT_FALSE(present) << "note " << id << " came back from the trash";
        } else if (e.saved >= 0 && !e.trashBegun) {
            EXPECT_TRUE(present) << "note " << id << " is gone";
        }
        if (present) {
            EXPECT_GE(found[id], e.saved) << "note " << id << " lost a completed save";
            EXPECT_LE(found[id], e.begun) << "note " << id << " holds a version never written";
        }
    }
    for (const auto& [id, version] : found)
        EXPECT_TRUE(expected.count(id)) << "note " << id << " was never begun";
}

// --- A child killed inside the start-up rebuild: small batches, so the kill
// lands while the next batch's rows are written ahead; between steps another
// program edits or removes a note not indexed yet.

constexpr int RebuildNotes = 120;
constexpr int RebuildBatch = 6;

QString rebuiltKey(int i)
{
    return QStringLiteral("Rebuilt %1.txt").arg(i);
}

void rebuildWork(const QString& store, uint32_t seed)
{
    configureCore(store);
    for (int i = 0; i < RebuildNotes; ++i) {
        const int storage = i % 5 == 4 ? NoteStorageArchive : NoteStorageInbox;
        TestSupport::writeFile(Note::documentFileForKey(rebuiltKey(i), storage), noteText(i, 0).toUtf8());
    }
    QRandomGenerator random(seed);
    NoteIndexRebuild run(RebuildBatch);
    for (bool more = true; more;) {
        Core::shared().fileQueue()->sync([&] { more = run.step(); });
        journal(QStringLiteral("step"));
        const int i = int(random.bounded(RebuildNotes));
        const QString path = Note::documentFileForKey(rebuiltKey(i), NoteStorageInbox);
        if (i % 5 == 4 || QFileInfo::exists(Note::indexFileForKey(rebuiltKey(i), NoteStorageInbox)))
            continue;
        if (random.bounded(2) == 0)
            QFile::remove(path);
        else
            TestSupport::writeFile(path, noteText(i, 1).toUtf8());
    }
}

void rebuildVerify(const QString& store)
{
    configureCore(store);
    Core::shared().buildTagLinkAndIndexFiles();
    Dispatch::waitUntilIdle();
    Core::shared().fileQueue()->sync([] {});
    EXPECT_EQ(storeDisagreements(), QStringList());
}

// --- The parent.

// One trial; empty when it passed, else what went wrong. Killed after a
// random number of journal lines.
QString runTrial(uint32_t seed, const QString& store)
{
    const int killAfter = int(QRandomGenerator(seed).bounded(1, OperationsPerTrial * 2));
    return CrashTrial::run("StoreCrash.DISABLED_Child", seed, store, killAfter);
}

} // namespace

// Run only by the test below, in a process of its own.
TEST(StoreCrash, DISABLED_Child)
{
    const QString role = CrashTrial::role();
    const QString store = CrashTrial::store();
    ASSERT_FALSE(role.isEmpty() || store.isEmpty());
    configureCore(store);
    if (role == QLatin1String("work"))
        Worker(CrashTrial::seed()).run();
    else
        verify(store);
}

// Run only by the test below, in a process of its own.
TEST(StoreCrash, DISABLED_RebuildChild)
{
    const QString store = CrashTrial::store();
    ASSERT_FALSE(CrashTrial::role().isEmpty() || store.isEmpty());
    if (CrashTrial::role() == QLatin1String("work"))
        rebuildWork(store, CrashTrial::seed());
    else
        rebuildVerify(store);
}

TEST(StoreCrash, KilledInsideTheStartUpRebuildLeavesEveryCacheInLine)
{
    const auto trial = [](uint32_t seed, const QString& store) {
        QRandomGenerator random(seed);
        const int killAfter = int(random.bounded(1, RebuildNotes / RebuildBatch + 2));
        return CrashTrial::run("StoreCrash.DISABLED_RebuildChild", seed, store, killAfter, int(random.bounded(3000)));
    };
    const QString failures = CrashTrial::runTrials(QStringLiteral("rebuild-crash"), 40, trial);
    EXPECT_TRUE(failures.isEmpty()) << qPrintable(failures);
}

TEST(StoreCrash, KilledAtRandomMomentsLosesNothing)
{
    const QString failures = CrashTrial::runTrials(QStringLiteral("crash"), 200 / TestSupport::SlowerBuild, runTrial);
    EXPECT_TRUE(failures.isEmpty()) << qPrintable(failures);
}
