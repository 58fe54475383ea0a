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

#include "Dispatch.h"
#include "Folders.h"
#include "files/AtomicFile.h"
#include "Store/Note.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "VGLog.h"
#include "VGLogMessage.h"
#include "VGLogger.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

const char* const TrialVariable = "SAVE_TRIAL_PROBE";
// The "shared" trial: the notes folder of both windows, and the word each types.
const char* const SharedDocumentsVariable = "SAVE_TRIAL_DOCUMENTS";
const char* const SharedWordVariable = "SAVE_TRIAL_WORD";
const char* const SaveOnNewsVariable = "SAVE_TRIAL_SAVE_ON_NEWS";
const QString SharedKey = QStringLiteral("Shared plan.txt");
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
// How long keys the X server has taken may still be on their way to the editor.
constexpr int TypedKeysMs = 15000;

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

// The X server's keyboard focus is on the window.
bool hasTheKeys(const QWidget& window)
{
    return X11Session::run("xdotool", {"getwindowfocus"}).trimmed().toULongLong() == window.winId();
}

// Until the editor has the keys, which come through the X server to the window it has given the focus.
void waitForEditorKeys(RootViewController& root, NoteTextView& text)
{
    root.rootWindow()->activateWindow();
    text.setFocus();
    waitFor("the editor's keys", [&] {
        return QApplication::focusWidget() == &text && root.rootWindow()->isActiveWindow() &&
               hasTheKeys(*root.rootWindow());
    });
}

// "full": the disk is full from the start; a new note is typed into through the X server (by the
// parent) and, once the parent has made the marker file, the disk takes files again.
void typeOnAFullDisk(RootViewController& root, NoteTextView& text)
{
    AtomicFile::setFaultCheck([](const QString& path) { return path.startsWith(Folders::documents()) ? ENOSPC : 0; });
    root.noteController()->newNoteDidTapFromMenu();
    waitForEditorKeys(root, text);
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

QByteArray outsideLines()
{
    QByteArray lines;
    for (int i = 0; i < 40; ++i)
        lines += "line " + QByteArray::number(i) + " of the note\n";
    return lines;
}

// The same lines with 16 characters more on line 2, as another program writes them.
QByteArray outsideChange() { return QByteArray(outsideLines()).insert(outsideLines().indexOf("line 2 ") + 6, "(sixteen more!) "); }

const QByteArray FallbackText = QByteArray("fallback note words ").repeated(100);

// "outside": with the caret at the end of line 30, another program (the parent) changes line 2 and types
// through the X server; then File ▸ Archive falls back to the other note, typed into the same way.
void typeAroundAnOutsideChange(RootViewController& root, NoteTextView& text)
{
    waitFor("the note", [&] { return text.string().toUtf8() == outsideLines(); });
    waitForEditorKeys(root, text);
    text.setSelectedRange({text.string().indexOf(QStringLiteral("\nline 31")), 0});
    say("file: " + inboxFile(QStringLiteral("Lines.txt")));
    waitFor("the outside change", [&] { return text.string().toUtf8() == outsideChange(); });
    say("reloaded");
    waitFor("the typing", [] { return QFile::exists(TestSupport::home() + QStringLiteral("/typed")); });
    say("line 30: " + text.string().section(QLatin1Char('\n'), 30, 30));
    root.archiveNote();
    waitFor("the fallback note", [&] { return text.string().toUtf8().endsWith(FallbackText); });
    waitForEditorKeys(root, text);
    say("fell back");
    waitFor("the typing", [] { return QFile::exists(TestSupport::home() + QStringLiteral("/typed again")); });
    say(QStringLiteral("typed at: %1").arg(text.string().indexOf(QStringLiteral("YARCH"))));
    bool quit = false;
    root.setTerminate([&] { quit = true; });
    root.terminateApp();
    waitFor("quit", [&] { return quit; });
    say(QStringLiteral("quit: %1").arg(quit));
}

// "delete": the delete confirmation, opened again and again; each time the parent finds it on screen
// and answers it with Escape through the X server. "click": twice, and the parent clicks the main
// window before it answers; the main window's taking the focus is told.
void confirmDeleteRepeatedly(RootViewController& root, int rounds)
{
    RootWindow* window = root.rootWindow();
    say(QStringLiteral("window: %1").arg(window->winId()));
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, window, [window](QWindow* focus) {
        if (focus && focus == window->windowHandle())
            say("main window focused");
    });
    root.listController()->tableView()->setFocus();
    for (int round = 0; round < rounds; ++round) {
        root.deleteNote();
        QPointer<QMessageBox> box;
        waitFor("the alert", [&] { return (box = window->findChild<QMessageBox*>()) && box->isVisible(); });
        if (!box)
            return;
        say(QStringLiteral("alert: %1").arg(box->winId()));
        waitFor("the answer", [&] { return box.isNull(); });
        say(QStringLiteral("answered: %1").arg(box.isNull()));
    }
    Dispatch::waitUntilIdle();
    say("done");
}

// Once the parent has typed (its marker file holds what it typed), what the editor holds: the wait
// ends early when the editor holds all of it.
void sayTheEditorAfterTheTyping(const NoteTextView& text)
{
    const QString marker = TestSupport::home() + QStringLiteral("/typed");
    waitFor("the typing", [&] { return QFile::exists(marker); });
    const QString typed = QString::fromUtf8(TestSupport::readFile(marker));
    QFile::remove(marker);
    static_cast<void>(QTest::qWaitFor([&] { return text.string().endsWith(typed); }, TypedKeysMs));
    say(QStringLiteral("editor: %1").arg(QString(text.string()).replace(QLatin1Char('\n'), QStringLiteral("\\n"))));
}

// "shift-tab": the parent makes a new note with Ctrl+N and types a list into it, Shift-Tab among it.
void typeAList(RootViewController& root, const NoteTextView& text)
{
    root.searchField()->setText(QStringLiteral("Other"));
    root.rootWindow()->activateWindow();
    waitFor("the editor's keys", [&] { return QApplication::focusWidget() == &text && hasTheKeys(*root.rootWindow()); });
    say("ready");
    sayTheEditorAfterTheTyping(text);
    say(QStringLiteral("search: %1").arg(root.searchField()->text()));
}

// "intro": the first launch, whose intro the parent types into; then the intro once more, closed
// with Return by the parent, who goes on typing at once.
void typeIntoTheIntro(AppDelegate& app, const NoteTextView& text)
{
    for (int round = 0; round < 2; ++round) {
        if (round > 0)
            app.showIntro();
        QPointer<QWidget> intro = app.introWindow();
        // Shown, and the keys settled on one of the two windows.
        waitFor("the intro", [&] {
            return !intro || (intro->isVisible() && (hasTheKeys(*intro) || hasTheKeys(*app.rootWindow())));
        });
        say(QStringLiteral("intro: %1").arg(!intro.isNull()));
        sayTheEditorAfterTheTyping(text);
        const bool closed = QTest::qWaitFor([&] { return intro.isNull() || !intro->isVisible(); }, TypedKeysMs);
        say(QStringLiteral("closed: %1").arg(closed));
    }
}

// "shared": one of two windows over one notes folder. Each round, once the parent has made its "go-N"
// file, the shared note is chosen again and the window's word is typed at its end, then left to the
// autosave; meanwhile the window says what it shows whenever that changes.
// The second window saves as soon as its folder watch starts taking the other window's save in: the
// save and the news of the other text then meet, as they do now and then when the timing falls so.
class SaveOnNews : public VGLogger {
public:
    explicit SaveOnNews(std::function<void()> save) : save_(std::move(save)) {}
    void logMessage(const VGLogMessage& message) override
    {
        if (message.logMsg().startsWith(QLatin1String("watch:outside change")))
            DispatchQueue::main()->async(save_);
    }
    VGLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(VGLogFormatterPtr) override {}

private:
    std::function<void()> save_;
};

void typeIntoTheSharedNote(RootViewController& root, NoteTextView& text)
{
    const QString word = qEnvironmentVariable(SharedWordVariable);
    bool unsaved = false;
    if (qEnvironmentVariableIsSet(SaveOnNewsVariable))
        VGLog::addLogger(std::make_shared<SaveOnNews>([&] {
            if (std::exchange(unsaved, false))
                QTest::keyClick(&text, Qt::Key_S, Qt::ControlModifier);
        }));
    QString shown;
    const auto tellShown = [&] {
        const NotePtr note = root.noteController()->warehouse()->editingNote();
        const QString now = (note ? note->key() : QString()) + QLatin1Char('|') + text.string();
        if (now != shown)
            say(QStringLiteral("shows: %1").arg(QString::fromLatin1(QUrl::toPercentEncoding(shown = now))));
    };
    for (int round = 0;; ++round) {
        const QString go = TestSupport::home() + QStringLiteral("/go-%1").arg(round);
        while (!QFile::exists(go)) {
            tellShown();
            QTest::qWait(50);
        }
        root.listController()->selectNote(std::make_shared<Note>(SharedKey, NoteStorageInbox));
        waitFor("the shared note", [&] {
            const NotePtr note = root.noteController()->warehouse()->editingNote();
            // The keys wait for the note's own text: while it is being read the editor takes none.
            return note && note->key() == SharedKey && text.string().toUtf8() == TestSupport::readFile(inboxFile(SharedKey));
        });
        QTest::keyClick(&text, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(&text, QStringLiteral(" %1%2").arg(word).arg(round));
        unsaved = true;
        say(QStringLiteral("typed: %1").arg(round));
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
    // A user past the first launch, but for the intro's own trial.
    if (trial != "intro") {
        UserDefaults::standard().setInteger(1, QStringLiteral("macguide"));
        UserDefaults::standard().synchronize();
    }
    if (trial == "race" || trial == "delete" || trial == "click" || trial == "shift-tab" || trial == "fork" ||
        trial == "outside")
        QDir().mkpath(Folders::documents() + QStringLiteral("/Home"));
    if (trial == "race") {
        TestSupport::writeFile(inboxFile(QStringLiteral("Big.txt")), bigText());
        TestSupport::writeFile(inboxFile(QStringLiteral("Small note.txt")), SmallText);
        selectAtStart(QStringLiteral("Big.txt"));
    }
    if (trial == "shift-tab")
        TestSupport::writeFile(inboxFile(QStringLiteral("Other zz.txt")), "Other zz\nwords");
    if (trial == "delete" || trial == "click") {
        TestSupport::writeFile(inboxFile(QStringLiteral("Small note.txt")), SmallText);
        selectAtStart(QStringLiteral("Small note.txt"));
    }
    if (trial == "shared") {
        qputenv("XDG_DOCUMENTS_DIR", qgetenv(SharedDocumentsVariable));
        selectAtStart(SharedKey);
    }
    if (trial == "outside") {
        TestSupport::writeFile(inboxFile(QStringLiteral("Lines.txt")), outsideLines());
        TestSupport::writeFile(inboxFile(QStringLiteral("Fallback.txt")), FallbackText);
        selectAtStart(QStringLiteral("Lines.txt"));
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
    if (trial == "delete" || trial == "click")
        return confirmDeleteRepeatedly(*root, trial == "delete" ? AlertRounds : 2);
    if (trial == "intro")
        return typeIntoTheIntro(*app, *text);
    if (trial == "shift-tab")
        return typeAList(*root, *text);
    if (trial == "shared")
        return typeIntoTheSharedNote(*root, *text);
    if (trial == "outside")
        return typeAroundAnOutsideChange(*root, *text);
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
    explicit Trial(const QByteArray& name, const QMap<QString, QString>& settings = {})
    {
        QProcessEnvironment environment = X11Session::environment();
        environment.insert(TrialVariable, QString::fromLatin1(name));
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            environment.insert(it.key(), it.value());
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
    QString nextLine(const QString& prefix, int waitMs = WaitMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < waitMs && process.state() != QProcess::NotRunning) {
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

// Another program's change above the caret moves the caret with its text, so typing lands where the user
// left it; after File ▸ Archive the note the window falls back to is typed into at its start, not at the
// caret the archived note had.
TEST(SaveTrialX11, TypingLandsWhereTheCaretStoodAfterAnOutsideChangeAndAnArchive)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("outside");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    const QString file = trial.nextLine("file: ");
    ASSERT_FALSE(file.isNull()) << trial.process.readAllStandardError().right(3000).constData();
    // Written again until the window has it: a write while the start-up work still runs may be taken as
    // part of what the window found at start.
    bool reloaded = false;
    for (QElapsedTimer clock; !reloaded && (!clock.isValid() || clock.elapsed() < WaitMs);) {
        if (!clock.isValid())
            clock.start();
        TestSupport::writeFile(file, outsideChange());
        reloaded = !trial.nextLine("reloaded", 2000).isNull();
    }
    ASSERT_TRUE(reloaded) << trial.process.readAllStandardError().right(3000).constData();
    X11Session::run("xdotool", {"type", "--delay", "60", "XCARET"});
    TestSupport::writeFile(trial.home + QStringLiteral("/typed"), QByteArray());
    EXPECT_EQ(trial.nextLine("line 30: "), QStringLiteral("line 30 of the noteXCARET"));
    ASSERT_FALSE(trial.nextLine("fell back").isNull()) << trial.process.readAllStandardError().right(3000).constData();
    X11Session::run("xdotool", {"type", "--delay", "60", "YARCH"});
    TestSupport::writeFile(trial.home + QStringLiteral("/typed again"), QByteArray());
    EXPECT_EQ(trial.nextLine("typed at: "), QStringLiteral("0"));
    ASSERT_EQ(trial.nextLine("quit: "), "1") << trial.process.readAllStandardError().right(3000).constData();
    trial.process.waitForFinished(WaitMs);
    const QMap<QString, QByteArray> notes = trial.notes();
    EXPECT_EQ(notes.value(QStringLiteral("Lines.txt")),
              QByteArray(outsideChange()).replace("line 30 of the note\n", "line 30 of the noteXCARET\n"));
    EXPECT_EQ(notes.value(QStringLiteral("Fallback.txt")), "YARCH" + FallbackText);
}

} // namespace

namespace {

// On the first launch the intro has the keys: what is typed into it goes on to the editor, as does
// what is typed right after Return closes it.
TEST(SaveTrialX11, NothingTypedIntoTheIntroOrRightAfterItIsLost)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("intro");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    const QString first = QStringLiteral("Dear diary, the first words");
    // Return presses "Get Started"; it types nothing.
    const QString keys[] = {first, QStringLiteral("\n and keeps typing")};
    QString editor;
    for (const QString& typed : keys) {
        SCOPED_TRACE(qPrintable(typed));
        ASSERT_EQ(trial.nextLine("intro: "), "1") << trial.process.readAllStandardError().right(3000).constData();
        X11Session::run("xdotool", {"type", "--delay", "60", typed});
        editor += QString(typed).remove(QLatin1Char('\n'));
        TestSupport::writeFile(trial.home + QStringLiteral("/typed"), QString(typed).remove(QLatin1Char('\n')).toUtf8());
        ASSERT_EQ(trial.nextLine("editor: "), editor);
        ASSERT_EQ(trial.nextLine("closed: "), "1");
    }
}

} // namespace

namespace {

// The X server's keyboard focus reaches the window within the deadline.
bool getsTheKeys(const QString& id, int deadlineMs)
{
    QElapsedTimer clock;
    clock.start();
    while (X11Session::run("xdotool", {"getwindowfocus"}).trimmed() != id.toLatin1()) {
        if (clock.elapsed() > deadlineMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// A click on the main window while the delete confirmation is open leaves the keys with the
// confirmation: Escape keeps the note, Return deletes it.
TEST(SaveTrialX11, TheDeleteConfirmationKeepsTheKeysWhenTheWindowIsClicked)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("click");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    const QString window = trial.nextLine("window: ");
    for (const char* key : {"Escape", "Return"}) {
        SCOPED_TRACE(key);
        const QString id = trial.nextLine("alert: ");
        ASSERT_FALSE(id.isNull()) << trial.process.readAllStandardError().right(3000).constData();
        ASSERT_TRUE(getsTheKeys(id, TypedKeysMs)) << "never shown with the keys";
        X11Session::run("xdotool", {"mousemove", "--window", window, "20", "300", "click", "1"});
        ASSERT_FALSE(trial.nextLine("main window focused").isNull());
        ASSERT_TRUE(getsTheKeys(id, TypedKeysMs)) << "the keys stayed with the main window";
        X11Session::run("xdotool", {"key", key});
        ASSERT_EQ(trial.nextLine("answered: "), "1");
        if (std::strcmp(key, "Escape") == 0) {
            EXPECT_EQ(trial.notes().value(QStringLiteral("Small note.txt")), SmallText) << "Escape deletes nothing";
        }
    }
    ASSERT_FALSE(trial.nextLine("done").isNull());
    EXPECT_FALSE(trial.notes().contains(QStringLiteral("Small note.txt"))) << "Return deletes the note";
}

} // namespace

namespace {

// Shift-Tab on a list line takes back the indent Tab gave it, and the keys stay in the note: none
// go to the search field, and no other note takes them.
TEST(SaveTrialX11, ShiftTabInAListKeepsTheTypingInTheNote)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    Trial trial("shift-tab");
    ASSERT_FALSE(trial.home.isEmpty()) << trial.process.readAllStandardError().constData();
    ASSERT_FALSE(trial.nextLine("ready").isNull()) << trial.process.readAllStandardError().right(3000).constData();
    X11Session::run("xdotool", {"key", "--delay", "80", "ctrl+n", "minus", "space", "a", "Return", "Tab", "b", "Return",
                                "shift+Tab", "z", "z"});
    TestSupport::writeFile(trial.home + QStringLiteral("/typed"), "zz");
    EXPECT_EQ(trial.nextLine("editor: "), QStringLiteral("- a\\n\t- b\\n- zz"));
    EXPECT_EQ(trial.nextLine("search: "), QStringLiteral("Other"));
    EXPECT_EQ(trial.notes().value(QStringLiteral("Other zz.txt")), "Other zz\nwords");
}

} // namespace

namespace {

// What a window of the "shared" trial last said it shows: its note's key and text.
struct Shown {
    QString key;
    QString text;
};

// The latest "shows:" line the trial has written so far; the last one kept when none is new.
Shown latestShown(Trial& trial, const Shown& before)
{
    Shown shown = before;
    while (trial.process.canReadLine()) {
        const QString line = QString::fromUtf8(trial.process.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("shows: ")))
            continue;
        const QString decoded = QUrl::fromPercentEncoding(line.mid(7).toLatin1());
        shown = {decoded.section(QLatin1Char('|'), 0, 0), decoded.section(QLatin1Char('|'), 1)};
    }
    return shown;
}

// Two windows (separate homes, one notes folder) type into the same note, the second's save a fraction
// of a second after the first's: no typed word is lost, and each window shows what its note's file holds.
TEST(SaveTrialX11, TwoWindowsOverOneFolderLoseNoTextAndEachShowsItsFile)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    const QString documents = TestSupport::home() + QStringLiteral("/shared-documents");
    const QString home = documents + QStringLiteral("/Brindlewick/Home");
    QDir(documents).removeRecursively();
    TestSupport::writeFile(home + QLatin1Char('/') + SharedKey, "Shared plan\nthe base text of the plan, long enough");
    Trial first("shared", {{SharedDocumentsVariable, documents}, {SharedWordVariable, QStringLiteral("alpha")}});
    Trial second("shared", {{SharedDocumentsVariable, documents},
                            {SharedWordVariable, QStringLiteral("bravo")},
                            {SaveOnNewsVariable, QStringLiteral("1")}});
    for (Trial* trial : {&first, &second})
        ASSERT_FALSE(trial->home.isEmpty()) << trial->process.readAllStandardError().right(3000).constData();
    const auto filesHold = [&](const QString& word) {
        for (QDirIterator it(home, {"*.txt"}, QDir::Files); it.hasNext();)
            if (TestSupport::readFile(it.next()).contains(word.toUtf8()))
                return true;
        return false;
    };
    Shown shown[2];
    // The second save comes 0.1 to 0.9 s after the first: around the time the folder watch tells of it.
    const int laterBy[] = {100, 300, 400, 500, 600, 700, 900};
    for (int round = 0; round < int(std::size(laterBy)); ++round) {
        SCOPED_TRACE(QStringLiteral("round %1, later by %2 ms").arg(round).arg(laterBy[round]).toStdString());
        TestSupport::writeFile(first.home + QStringLiteral("/go-%1").arg(round), QByteArray());
        QTest::qWait(laterBy[round]);
        TestSupport::writeFile(second.home + QStringLiteral("/go-%1").arg(round), QByteArray());
        // Settled: every word typed so far is in a file, and each window shows its note's file.
        QStringList words;
        for (int typed = 0; typed <= round; ++typed)
            words << QStringLiteral("alpha%1").arg(typed) << QStringLiteral("bravo%1").arg(typed);
        const auto settled = [&] {
            shown[0] = latestShown(first, shown[0]);
            shown[1] = latestShown(second, shown[1]);
            for (const QString& word : words)
                if (!filesHold(word))
                    return false;
            for (const Shown& window : shown)
                if (window.key.isEmpty() || QString::fromUtf8(TestSupport::readFile(home + QLatin1Char('/') + window.key)) != window.text)
                    return false;
            return true;
        };
        const bool ok = QTest::qWaitFor(settled, 30000);
        QStringList files;
        for (QDirIterator it(home, {"*.txt"}, QDir::Files); it.hasNext();) {
            const QString path = it.next();
            files << QFileInfo(path).fileName() + ": " + QString::fromUtf8(TestSupport::readFile(path));
        }
        ASSERT_TRUE(ok) << "files: " << qPrintable(files.join(" || ")) << "\nfirst shows " << qPrintable(shown[0].key)
                        << ": " << qPrintable(shown[0].text) << "\nsecond shows " << qPrintable(shown[1].key) << ": "
                        << qPrintable(shown[1].text) << "\nsecond's log: "
                        << second.process.readAllStandardError().right(4000).constData();
    }
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
