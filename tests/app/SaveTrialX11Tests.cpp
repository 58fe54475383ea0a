// The editor's saves in the real window on the private X display: this test program run again as a
// child that starts the application delegate and types into it, ended by SIGKILL or by its own quit.
#include "X11Session.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/ListViewController.h"
#include "panes/NoteTextView.h"
#include "panes/NoteViewController.h"

#include "Folders.h"
#include "Store/Note.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const char* const TrialVariable = "SAVE_TRIAL_PROBE";
constexpr int WaitMs = 60000;
const QByteArray SmallText = "Small note\nprecious words";

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

// "typing": a new note, typed into without a pause until the process is killed.
// "race": a 50 MB note selected at start; while it is shown another row is chosen, and keys and
// Ctrl+S go to the editor at once; then the application quits as the user would.
void runTrial(const QByteArray& trial)
{
    if (trial == "race") {
        QDir().mkpath(Folders::documents() + QStringLiteral("/Home"));
        TestSupport::writeFile(inboxFile(QStringLiteral("Big.txt")), bigText());
        TestSupport::writeFile(inboxFile(QStringLiteral("Small note.txt")), SmallText);
        UserDefaults& defaults = UserDefaults::standard();
        defaults.setInteger(NoteStorageInbox, QStringLiteral("selectedStorage"));
        defaults.setString(QStringLiteral("Big.txt"), QStringLiteral("selectedNoteKey"));
        defaults.setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));
        defaults.synchronize();
    }
    const auto app = launch();
    RootViewController* root = app->rootController();
    waitFor("list", [&] { return root->hasLoadedList(); });
    NoteTextView* text = root->noteController()->textView();
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
