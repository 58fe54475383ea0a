// Seeded random rounds of concurrent changes on two or three computers (each a
// sync-sim process) over one sync folder and one record store, the folder
// watch and pushes on as the window runs them: after every round's exchanges
// each computer holds the same notes, every text saved since is a note's text
// everywhere unless a computer holding it deleted its note, and no text is
// held twice. A round's edits run at once, half of them on the note another
// computer edits; each is made over the text the test saw, so a text arriving
// first turns it into a note of its own. A computer may go offline for a few
// edits, moves, deletions and new notes, carried once it is back.
// SYNC_ROUNDS=N and SYNC_SEED=S run other rounds or repeat a failed run (with CI=true and no
// SYNC_SEED the seed is CiSeed); SYNC_VERBOSE=1 keeps every computer's log of a failed run in /tmp.
#include "SyncMachine.h"
#include "TestSupport.h"

#include <QRandomGenerator>

#include <iostream>
#include <set>
#include <thread>

namespace {

constexpr quint32 CiSeed = 20261207;

struct Run {
    const char* backend;
    int computers;
    int rounds; // in CI
};

std::string runName(const ::testing::TestParamInfo<Run>& info)
{
    return std::string(info.param.backend) + std::to_string(info.param.computers) + "Computers";
}

// A text saved on a computer, and the text it was written over there, which it supersedes.
struct Saved {
    QString text;
    QString base;
};

class SyncProperty : public ::testing::TestWithParam<Run> {
protected:
    static constexpr int MaxExchanges = 8;

    void SetUp() override
    {
        if (!makeSharedPlace(QStringLiteral("property"), GetParam().backend, root, store, postgres))
            return;
        for (int i = 0; i < GetParam().computers; ++i) {
            const QString name = QString(QChar(u'A' + i));
            machines.push_back(std::make_unique<Machine>(name, root + QLatin1Char('/') + name));
            join(*machines.back());
        }
    }
    void TearDown() override
    {
        machines.clear();
        postgres.reset();
    }

    void join(Machine& machine)
    {
        machine.ok(QStringLiteral("clock %1").arg(clock));
        machine.ok(QStringLiteral("watch on"));
        machine.ok(QStringLiteral("pushnote on"));
        machine.ok(QStringLiteral("folder ") + root + QStringLiteral("/drive"));
        machine.ok(QStringLiteral("store ") + store);
        machine.ok(QStringLiteral("online"));
    }
    static QString storageWord(const QString& where) { return where.section(QLatin1Char('/'), 0, 0); }
    static QString keyWord(const QString& where) { return encoded(where.section(QLatin1Char('/'), 1)); }
    static QString line(const QString& text) { return QString(text).replace(QLatin1Char('\n'), QStringLiteral("\\n")); }

    void note(const Machine& machine, const QString& what) { journal << machine.name + QLatin1Char(' ') + what; }
    QString body(const Machine& machine, int round) { return QStringLiteral("r%1 %2 %3").arg(round).arg(machine.name).arg(++edits); }
    // A note of a new line of texts.
    void newNote(Machine& machine, int round, bool placeholderFirst)
    {
        awaitEdits();
        const QString title = QStringLiteral("Shared note %1").arg(++lines);
        const QString text = title + QLatin1Char('\n') + body(machine, round);
        if (placeholderFirst) { // a placeholder name first, then its title's
            const QString key = machine.ok(QStringLiteral("new Hi"));
            machine.ok(QStringLiteral("edit inbox %1 %2").arg(encoded(key), line(text)));
            machine.ok(QStringLiteral("rename inbox ") + encoded(key));
        } else {
            machine.ok(QStringLiteral("new ") + line(text));
        }
        note(machine, QStringLiteral("new ") + line(text));
        saved.push_back({text, QString()});
    }
    // The next text of the note at `at` of the computer's notes, made over the text it shows.
    Saved editOf(const Notes& notes, const QString& at, const QString& body) const
    {
        const QString title = notes.at(at).section(QLatin1Char('\n'), 0, 0);
        return {title + QLatin1Char('\n') + body, notes.at(at)};
    }
    static QString editCommand(const QString& at, const Saved& edit)
    {
        return QStringLiteral("edit-over %1 %2 %3 %4").arg(storageWord(at), keyWord(at), encoded(edit.base), line(edit.text));
    }
    static QString place(const QString& at) { return storageWord(at) + QLatin1Char(' ') + keyWord(at); }
    // The computer deletes the note as it shows it: the texts it saw there may go.
    void deleteNote(Machine& machine, const Notes& notes, const QString& at)
    {
        machine.ok(QStringLiteral("delete ") + place(at));
        seenDeleted.insert(notes.at(at));
    }
    QString anyOf(const Notes& notes)
    {
        auto at = notes.begin();
        std::advance(at, random.bounded(int(notes.size())));
        return at->first;
    }

    // One random change on the computer; concurrent with the others' of the round.
    void change(Machine& machine, int round)
    {
        const int draw = random.bounded(100);
        if (draw >= 60) { // edits meet edits here; moves and deletes meet settled notes
            awaitEdits();
            exchange();
        }
        if (draw >= 89)
            return changeOffline(machine, round);
        const Notes notes = machine.notes();
        if (notes.empty() || draw < 12 || (notes.size() < 3 && draw < 30))
            return newNote(machine, round, draw % 4 == 0);
        const bool meet = notes.count(edited) && random.bounded(2) == 0;
        const QString at = meet ? edited : anyOf(notes);
        const Saved next = editOf(notes, at, body(machine, round));
        const QString edit = editCommand(at, next);
        const bool moves = draw >= 60 && draw < 70;
        const bool deletes = draw >= 70 && draw < 78 && notes.size() > 2;
        const QString command = moves ? QStringLiteral("move ") + place(at) : deletes ? QStringLiteral("delete ") + place(at) : edit;
        note(machine, QString::number(draw) + QLatin1Char(' ') + command);
        if (draw < 60) {
            machine.send(edit); // answered once every computer's edit of the round has started
            editing.push_back({&machine, next});
            edited = at;
        } else if (moves) {
            machine.ok(command);
        } else if (deletes) {
            deleteNote(machine, notes, at);
        } else {
            // Killed at a random moment of the edit: it counts once it is on the disk.
            machine.send(edit);
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(20000)));
            machine.killAndRestart();
            if (machine.notes().count(at) && machine.notes().at(at) == next.text)
                saved.push_back(next);
            join(machine);
        }
    }
    // The store and the folder out of reach until the exchanges: one to three
    // edits, moves, deletions and new notes meanwhile.
    void changeOffline(Machine& machine, int round)
    {
        machine.ok(QStringLiteral("offline"));
        offline.insert(&machine);
        note(machine, QStringLiteral("offline"));
        for (int i = random.bounded(1, 4); i > 0; --i) {
            const Notes notes = machine.notes();
            const int draw = random.bounded(100);
            if (notes.empty() || draw < 15) {
                newNote(machine, round, draw % 4 == 0);
                continue;
            }
            const QString at = anyOf(notes);
            if (draw < 35) {
                note(machine, QStringLiteral("move ") + place(at));
                machine.ok(QStringLiteral("move ") + place(at));
            } else if (draw < 50 && notes.size() > 2) {
                note(machine, QStringLiteral("delete ") + place(at));
                deleteNote(machine, notes, at);
            } else {
                const Saved next = editOf(notes, at, body(machine, round));
                note(machine, editCommand(at, next));
                machine.ok(editCommand(at, next));
                saved.push_back(next);
            }
        }
    }
    // A note can go (a fork its note holds again) between the look and the edit: then nothing was saved.
    void awaitEdits()
    {
        for (const auto& [machine, text] : editing) {
            const QString answer = machine->answer();
            if (answer.startsWith(QLatin1String("ok")))
                saved.push_back(text);
            else
                EXPECT_TRUE(answer.startsWith(QLatin1String("error no note"))) << qPrintable(machine->name) << ": edit -> " << qPrintable(answer);
        }
        editing.clear();
        edited.clear();
    }
    // Each computer looks at the folder and the store, again and again until
    // nothing changes any more (a conflict settles over a few exchanges).
    void exchange()
    {
        for (Machine* machine : offline)
            machine->ok(QStringLiteral("online"));
        offline.clear();
        std::vector<Notes> last;
        for (int i = 0; i < MaxExchanges; ++i) {
            std::vector<Notes> now;
            for (const auto& machine : machines) {
                machine->ok(QStringLiteral("pass"));
                machine->ok(QStringLiteral("fetch"));
            }
            for (const auto& machine : machines)
                now.push_back(machine->notes());
            if (now == last && std::all_of(now.begin(), now.end(), [&](const Notes& n) { return n == now.front(); }))
                return;
            last = std::move(now);
        }
    }
    static QString shown(const Notes& notes)
    {
        QStringList all;
        for (const auto& [where, text] : notes)
            all << where + QStringLiteral(": ") + line(text);
        return all.join(QStringLiteral(" | "));
    }
    // Empty when every computer agrees and keeps every text saved.
    QString fault()
    {
        const Notes first = machines.front()->notes();
        for (const auto& machine : machines) {
            const Notes notes = machine->notes();
            if (notes != first)
                return machine->name + QStringLiteral(" differs from A: ") + shown(notes) + QStringLiteral(" vs ")
                       + shown(first);
        }
        const QStringList held = texts(first);
        for (qsizetype i = 1; i < held.size(); ++i)
            if (held[i] == held[i - 1])
                return QStringLiteral("held twice: ") + held[i];
        std::set<QString> superseded;
        for (const Saved& text : saved)
            superseded.insert(text.base);
        for (const Saved& text : saved)
            if (!seenDeleted.count(text.text) && !superseded.count(text.text) && !held.contains(text.text))
                return QStringLiteral("lost: ") + line(text.text) + QStringLiteral(" of ") + shown(first);
        return QString();
    }

    QString root;
    QString store;
    std::unique_ptr<PostgresTestBackend> postgres;
    std::vector<std::unique_ptr<Machine>> machines;
    QRandomGenerator random;
    int lines = 0;
    int edits = 0;
    std::vector<Saved> saved;
    std::set<QString> seenDeleted; // texts a computer deleted the note of, holding them
    std::set<Machine*> offline;
    std::vector<std::pair<Machine*, Saved>> editing; // the round's edits under way
    QString edited; // the note the round's last edit is on
    QStringList journal; // the round's changes, shown with a failure
    int clock = 0;
};

TEST_P(SyncProperty, EveryRoundEndsInStepWithNoEditLost)
{
    if (machines.empty())
        return;
    const int rounds = qEnvironmentVariableIsSet("SYNC_ROUNDS") ? qEnvironmentVariableIntValue("SYNC_ROUNDS")
                                                                 : GetParam().rounds / TestSupport::SlowerBuild;
    // CI repeats one seed, so that its verdict is about the change under test; by hand each run draws its own.
    const quint32 seed = qEnvironmentVariableIsSet("SYNC_SEED") ? quint32(qEnvironmentVariable("SYNC_SEED").toULong())
                         : qEnvironmentVariable("CI") == QLatin1String("true") ? CiSeed
                                                                                : QRandomGenerator::system()->generate();
    random.seed(seed);
    std::cout << "[ seed ] " << runName({GetParam(), 0}) << ": SYNC_SEED=" << seed << " SYNC_ROUNDS=" << rounds << std::endl;
    for (int round = 1; round <= rounds; ++round) {
        journal.clear();
        clock = round * 2; // one second for all: ties
        for (const auto& machine : machines)
            machine->ok(QStringLiteral("clock %1").arg(clock));
        for (const auto& machine : machines)
            if (random.bounded(100) < 70)
                change(*machine, round);
        awaitEdits();
        exchange();
        const QString found = fault();
        if (!found.isEmpty() || HasFailure()) {
            if (qEnvironmentVariableIsSet("SYNC_VERBOSE")) // the computers' logs outlive the run
                QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), root, QStringLiteral("/tmp/sync-property-%1").arg(seed)});
            ADD_FAILURE() << "SYNC_SEED=" << seed << " round " << round << ": " << qPrintable(found) << "\n  after "
                          << qPrintable(journal.join(QStringLiteral("\n  ")));
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SyncProperty,
                         ::testing::Values(Run{"Sqlite", 2, 150}, Run{"Sqlite", 3, 80}, Run{"Postgres", 2, 150},
                                           Run{"Postgres", 3, 80}),
                         runName);

} // namespace
