// The editor's saves and the window's alerts in the real window on the private X display: this test
// program run again as a child that starts the application delegate and types into it (or is typed
// into through the X server), ended by SIGKILL or by its own quit.
#include "X11Session.h"

#include "../panes/ShownRowText.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/ListViewController.h"
#include "panes/NoteTextView.h"
#include "panes/NoteViewController.h"

#include "Folders.h"
#include "files/AtomicFile.h"
#include "Store/Note.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace {

const char* const TrialVariable = "SAVE_TRIAL_PROBE";
constexpr int WaitMs = 180000; // only against a hang: the 50 MB trial takes a minute on a loaded machine
const QByteArray SmallText = "Small note\nprecious words";
const QString TypedText = QStringLiteral("Hello world again");
constexpr int AlertRounds = 50;
// How soon an alert is on screen with the keys.
constexpr int AlertDeadlineMs = 1000;
const QString PackingList = QStringLiteral("Packing list.txt");
const QByteArray OutsideText = "Packing list\n- boots from the other program";
// How long a row may take to show a note's new text.
constexpr int RowDeadlineMs = 10000;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Waits, saying so when the wait ran out (the parent then sees the line and stops).
template <typename Done>
void waitFor(const char* what, Done done)
{
    if (!QTest::qWaitFor(done, WaitMs))
        say(QStringLiteral("timed out: %1").arg(QLatin1String(what)));
}

QString inboxFile(const QString& key) { return Folders::documents() + QStringLiteral("/Home/") + key; }

QByteArray bigText()
{
    return "Big note\n" + QByteArray("a line of a very long note, one of a million or so\n").repeated(1'000'000);
}

// The letters typed in turn, so what reached the disk shows how far the typing got.
QChar letter(int index) { return QChar(u'a' + index % 26); }

std::unique_ptr<AppDelegate> launch()
{
    say("home: " + TestSupport::home());
    auto app = std::make_unique<AppDelegate>();
    app->applicationDidFinishLaunching();
    if (!QTest::qWaitForWindowExposed(app->rootWindow(), WaitMs))
        say("timed out: window");
    return app;
}

void selectAtStart(const QString& key)
{
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(NoteStorageInbox, QStringLiteral("selectedStorage"));
    defaults.setString(key, QStringLiteral("selectedNoteKey"));
    defaults.setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));
    defaults.synchronize();
}

// "full": the disk is full from the start; a new note is typed into through the X server (by the
// parent) and, once the parent has made the marker file, the disk takes files again.
void typeOnAFullDisk(RootViewController& root, NoteTextView& text)
{
    AtomicFile::setFaultCheck([](const QString& path) { return path.startsWith(Folders::documents()) ? ENOSPC : 0; });
    root.noteController()->newNoteDidTapFromMenu();
    // The keys come through the X server, to the window it has given the focus.
    root.rootWindow()->activateWindow();
    waitFor("the editor's keys", [&] {
        return QApplication::focusWidget() == &text && root.rootWindow()->isActiveWindow() &&
               X11Session::run("xdotool", {"getwindowfocus"}).trimmed().toULongLong() == root.rootWindow()->winId();
    });
    say("ready");
    waitFor("the typing", [] { return QFile::exists(TestSupport::home() + QStringLiteral("/typed")); });
    say(QStringLiteral("told: %1").arg(root.noteController()->saveFailureMessage()));
    say(QStringLiteral("editor: %1").arg(text.string()));
    AtomicFile::setFaultCheck({});
    waitFor("the save", [&] {
        QDirIterator it(Folders::documents(), {"*.txt"}, QDir::Files, QDirIterator::Subdirectories);
        return it.hasNext() && TestSupport::readFile(it.next()) == text.string().toUtf8();
    });
    say("saved");
}

// "delete": the delete confirmation, opened again and again; each time the parent finds it on screen
// and answers it with Escape through the X server.
void confirmDeleteRepeatedly(RootViewController& root)
{
    root.listController()->tableView()->setFocus();
    for (int round = 0; round < AlertRounds; ++round) {
        root.deleteNote();
        QPointer<QMessageBox> box;
        waitFor("the alert", [&] { return (box = root.rootWindow()->findChild<QMessageBox*>()) && box->isVisible(); });
        if (!box)
            return;
        say(QStringLiteral("alert: %1").arg(box->winId()));
        waitFor("the answer", [&] { return box.isNull(); });
        say(QStringLiteral("answered: %1").arg(box.isNull()));
    }
}

// The original's row once it shows the other program's text, or as it stands at the deadline.
QString rowWithOutsideText(ListViewController& list)
{
    if (!QTest::qWaitFor([&] { return shownRowText(list, PackingList).contains("boots"); }, RowDeadlineMs))
        say("the row kept its text");
    return shownRowText(list, PackingList).simplified();
}

// "fork": a stored note typed into, then written by another program before the pause's save; the
// window forks the typed text off. The original's row is read once the fork is in, and again once
// the original is open.
void forkByAnOutsideChange(RootViewController& root, NoteTextView& text)
{
    ListViewController& list = *root.listController();
    waitFor("the note", [&] { return !text.string().isEmpty(); });
    text.setFocus();
    text.moveCursor(QTextCursor::End);
    QTest::keyClick(&text, Qt::Key_Return);
    QTest::keyClicks(&text, "- typed gloves");
    waitFor("the typed row", [&] { return shownRowText(list, PackingList).contains("gloves"); });
    TestSupport::writeFile(inboxFile(PackingList), OutsideText);
    waitFor("the fork", [] { return QFile::exists(inboxFile(QStringLiteral("Packing list 2.txt"))); });
    say(QStringLiteral("row: %1").arg(rowWithOutsideText(list)));
    list.selectNote(std::make_shared<Note>(PackingList, NoteStorageInbox));
    waitFor("the original", [&] { return text.string() == QString::fromUtf8(OutsideText); });
    say(QStringLiteral("opened: %1").arg(rowWithOutsideText(list)));
}

// "typing": a new note, typed into without a pause until the process is killed.
// "race": a 50 MB note selected at start; while it is shown another row is chosen, and keys and
// Ctrl+S go to the editor at once; then the application quits as the user would.
void runTrial(const QByteArray& trial)
{
    // A user past the first launch: its intro window takes the keys whenever it maps, which under
    // load can be after the editor has them.
    UserDefaults::standard().setInteger(1, QStringLiteral("macguide"));
    UserDefaults::standard().synchronize();
    if (trial == "race" || trial == "delete" || trial == "fork")
        QDir().mkpath(Folders::documents() + QStringLiteral("/Home"));
    if (trial == "race") {
        TestSupport::writeFile(inboxFile(QStringLiteral("Big.txt")), bigText());
        TestSupport::writeFile(inboxFile(QStringLiteral("Small note.txt")), SmallText);
        selectAtStart(QStringLiteral("Big.txt"));
    }
    if (trial == "delete") {
        TestSupport::writeFile(inboxFile(QStringLiteral("Small note.txt")), SmallText);
        selectAtStart(QStringLiteral("Small note.txt"));
    }
    if (trial == "fork") {
        TestSupport::writeFile(inboxFile(PackingList), "Packing list\n- socks");
        selectAtStart(PackingList);
    }
    const auto app = launch();
    RootViewController* root = app->rootController();
    waitFor("list", [&] { return root->hasLoadedList(); });
    NoteTextView* text = root->noteController()->textView();
    if (trial == "full")
        return typeOnAFullDisk(*root, *text);
    if (trial == "delete")
        return confirmDeleteRepeatedly(*root);
    if (trial == "fork")
        return forkByAnOutsideChange(*root, *text);
    if (trial == "typing") {
        root->noteController()->newNoteDidTapFromMenu();
        QApplication::processEvents();
        text->setFocus();
        for (int typed = 0;; ++typed) {
            QTest::keyClick(text, letter(typed).toLatin1());
            if (typed % 10 == 9)
                say(QStringLiteral("typed: %1").arg(typed + 1));
            QTest::qWait(50);
        }
    }
    waitFor("the large note", [&] { return !text->string().isEmpty(); });
    root->listController()->selectNote(std::make_shared<Note>(QStringLiteral("Small note.txt"), NoteStorageInbox));
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(text, " typed");
    QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
    say("typed");
    waitFor("the small note", [&] { return text->string().startsWith(QString::fromUtf8(SmallText.left(10))); });
    bool quit = false;
    root->setTerminate([&] { quit = true; });
    root->terminateApp();
    waitFor("quit", [&] { return quit; });
    say(QStringLiteral("quit: %1").arg(quit));
}

class TrialEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (const QByteArray trial = qgetenv(TrialVariable); !trial.isEmpty()) {
            runTrial(trial);
            std::_Exit(0);
        }
    }
};

const auto* const trialEnvironment = ::testing::AddGlobalTestEnvironment(new TrialEnvironment);

struct Trial {
    explicit Trial(const QByteArray& name)
    {
        QProcessEnvironment environment = X11Session::environment();
        environment.insert(TrialVariable, QString::fromLatin1(name));
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), {"-platform", "xcb"});
        home = nextLine("home: ");
    }
    ~Trial()
    {
        process.kill();
        process.waitForFinished(WaitMs);
        if (!home.isEmpty())
            QDir(home).removeRecursively();
    }
    // The rest of the next output line that starts with the prefix; null when none came in time.
    QString nextLine(const QString& prefix)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WaitMs && process.state() != QProcess::NotRunning) {
            while (process.canReadLine())
                if (const QString line = QString::fromUtf8(process.readLine()).trimmed(); line.startsWith(prefix))
                    return line.mid(prefix.size());
            process.waitForReadyRead(100);
        }
        return QString();
    }
    // The texts of the notes in the child's Documents, by file name.
    QMap<QString, QByteArray> notes() const
    {
        QMap<QString, QByteArray> texts;
        for (QDirIterator it(home + "/Documents", {"*.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            texts.insert(QFileInfo(path).fileName(), TestSupport::readFile(path));
        }
        return texts;
    }

    QProcess process;
    QString home;
};

// Killed while typing without a pause: what is on disk is what was typed, less at most the last ten
// seconds.
TEST(SaveTrialX11, AKillWhileTypingLosesAtMostTheLastTenSeconds)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("typing");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    QElapsedTimer clock;
    QList<std::pair<qint64, int>> reports; // (ms since the first report, characters typed)
    while (true) {
        const QString typed = trial.nextLine("typed: ");
        ASSERT_FALSE(typed.isNull()) << trial.process.readAllStandardError().right(3000).constData();
        if (reports.isEmpty())
            clock.start();
        reports.append({clock.elapsed(), typed.toInt()});
        if (clock.elapsed() >= 15000)
            break;
    }
    trial.process.kill();
    ASSERT_TRUE(trial.process.waitForFinished(WaitMs));
    const qint64 killedAt = clock.elapsed();
    int typedTenSecondsBefore = 0;
    for (const auto& [at, typed] : reports)
        if (at <= killedAt - 10000)
            typedTenSecondsBefore = typed;
    ASSERT_GT(typedTenSecondsBefore, 20);

    const QMap<QString, QByteArray> notes = trial.notes();
    ASSERT_EQ(notes.size(), 1) << qPrintable(QStringList(notes.keys()).join("|"));
    const QByteArray saved = notes.first();
    QByteArray expected;
    for (int i = 0; i < saved.size(); ++i)
        expected += letter(i).toLatin1();
    EXPECT_EQ(saved, expected) << "what is on disk is what was typed, in order";
    EXPECT_GE(saved.size(), typedTenSecondsBefore);
    std::printf("[   NOTE   ] %d characters typed, %lld on disk when killed\n", reports.last().second,
                static_cast<long long>(saved.size()));
}

// The 50 MB note is shown when another row is chosen, and keys and Ctrl+S follow at once: neither
// note's file takes the other's text, and "precious words" survive.
TEST(SaveTrialX11, ChoosingANoteWhileALargeOneIsShownWritesNothingAcross)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("race");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    ASSERT_FALSE(trial.nextLine("typed").isNull()) << trial.process.readAllStandardError().right(3000).constData();
    ASSERT_EQ(trial.nextLine("quit: "), "1") << trial.process.readAllStandardError().right(3000).constData();
    trial.process.waitForFinished(WaitMs);
    const QMap<QString, QByteArray> notes = trial.notes();
    const QByteArray small = notes.value(QStringLiteral("Small note.txt"));
    EXPECT_TRUE(small == SmallText || small == SmallText + " typed") << small.left(200).constData();
    EXPECT_EQ(notes.value(QStringLiteral("Big.txt")).size(), bigText().size());
    EXPECT_EQ(notes.size(), 2) << qPrintable(QStringList(notes.keys()).join("|"));
}

} // namespace

namespace {

// Typing goes on while a save fails: nothing typed goes astray, the failure is told, and once the
// disk takes files again the note holds every character.
TEST(SaveTrialX11, TypingThroughAFailedSaveLosesNoKey)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("full");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    ASSERT_FALSE(trial.nextLine("ready").isNull()) << trial.process.readAllStandardError().right(3000).constData();
    X11Session::run("xdotool", {"type", "--delay", "60", TypedText});
    TestSupport::writeFile(trial.home + QStringLiteral("/typed"), QByteArray());
    const QString told = trial.nextLine("told: ");
    EXPECT_TRUE(told.contains(QStringLiteral("could not be saved"))) << qPrintable(told);
    EXPECT_EQ(trial.nextLine("editor: "), TypedText) << "in the editor";
    ASSERT_FALSE(trial.nextLine("saved").isNull()) << trial.process.readAllStandardError().right(3000).constData();
    const QMap<QString, QByteArray> notes = trial.notes();
    ASSERT_EQ(notes.size(), 1) << qPrintable(QStringList(notes.keys()).join("|"));
    EXPECT_EQ(QString::fromUtf8(notes.first()), TypedText);
}

// The delete confirmation is on screen with the keys within a second, every time it opens.
TEST(SaveTrialX11, TheDeleteConfirmationIsShownWithTheKeysEveryTime)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("delete");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    int ready = 0;
    qint64 slowest = 0;
    for (int round = 0; round < AlertRounds; ++round) {
        const QString id = trial.nextLine("alert: ");
        ASSERT_FALSE(id.isNull()) << "round " << round << trial.process.readAllStandardError().right(3000).constData();
        QElapsedTimer clock;
        clock.start();
        const auto viewableWithKeys = [&] {
            return X11Session::run("xwininfo", {"-id", id}).contains("Map State: IsViewable") &&
                   X11Session::run("xdotool", {"getwindowfocus"}).trimmed() == id.toLatin1();
        };
        bool shown = false;
        while (!(shown = viewableWithKeys()) && clock.elapsed() < AlertDeadlineMs)
            QTest::qWait(20);
        slowest = std::max(slowest, clock.elapsed());
        ready += shown;
        // Answered blind when it never showed, as a user would end a window they cannot see.
        X11Session::run("xdotool", {"key", "Escape"});
        ASSERT_EQ(trial.nextLine("answered: "), "1") << "round " << round;
    }
    EXPECT_EQ(ready, AlertRounds);
    std::printf("[   NOTE   ] %d of %d alerts shown with the keys, the slowest after %lld ms\n", ready, AlertRounds,
                static_cast<long long>(slowest));
    EXPECT_EQ(trial.notes().value(QStringLiteral("Small note.txt")), SmallText) << "Escape deletes nothing";
}

TEST(SaveTrialX11, AnOutsideChangeThatForksTheOpenNoteLeavesItsRowWithTheFilesText)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("fork");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    const QString row = trial.nextLine("row: ");
    ASSERT_FALSE(row.isNull()) << trial.process.readAllStandardError().right(3000).constData();
    EXPECT_TRUE(row.contains("boots") && !row.contains("gloves")) << qPrintable(row);
    const QString opened = trial.nextLine("opened: ");
    EXPECT_TRUE(opened.contains("boots") && !opened.contains("gloves")) << qPrintable(opened);
    const QMap<QString, QByteArray> notes = trial.notes();
    EXPECT_EQ(notes.value(PackingList), OutsideText);
    EXPECT_TRUE(notes.value(QStringLiteral("Packing list 2.txt")).endsWith("- typed gloves"));
}

} // namespace
