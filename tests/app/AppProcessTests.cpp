// The application as processes: the real program twice, and this test program run again as a child
// that starts the application delegate (to type into it, or to show it on the private X display).
#include "AppTestSupport.h"

#include "ProgramHome.h"
#include "X11Session.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/NoteTextView.h"

#include "Container.h"
#include "Folders.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

const char* const ProbeVariable = "SHELL_APP_PROBE";
constexpr int WaitMs = 10000;
// Notes the quitting probe leaves to the start-up indexing.
constexpr int UnindexedNotes = 8000;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// A record store that never answers: a PostgreSQL socket that takes connections into its backlog
// and is never read. Open for the life of the process.
void listenWithoutAnswering(const QString& folder)
{
    QDir().mkpath(folder);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(folder + "/.s.PGSQL.5432");
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0)
        say("store: no socket");
}

// In the child, before the application starts: the store set to that socket, and notes enough that
// the start-up indexing is still at work when the signal comes.
void prepareSlowStartUp()
{
    const QString socket = TestSupport::home() + "/pg";
    listenWithoutAnswering(socket);
    UserDefaults::standard().setString("host=" + socket + " port=5432 dbname=notes", Container::StoreConnectionKey);
    UserDefaults::standard().synchronize();
    const QString inbox = Folders::documents() + "/Home";
    QDir().mkpath(inbox);
    for (int i = 0; i < UnindexedNotes; ++i) {
        QString text = QStringLiteral("Waiting note %1\n").arg(i);
        for (int tag = 0; tag < 5; ++tag)
            text += QStringLiteral("#topic%1 ").arg((i + tag) % 400);
        TestSupport::writeFile(inbox + QStringLiteral("/Waiting note %1.txt").arg(i), text.toUtf8());
    }
}

// In the child: the application as main.cpp starts it, without the one-instance lock. Typing runs
// until a signal ends it; the desktop probe says whether the window showed, filled the screen in
// full screen, and had its notification shown.
void runProbe(const QByteArray& probe)
{
    say("home: " + TestSupport::home());
    if (probe == "quitting")
        prepareSlowStartUp();
    auto app = std::make_unique<AppDelegate>();
    app->applicationDidFinishLaunching();
    // A busy start-up indexing may hold the list back.
    const int patience = probe == "quitting" ? 6 * WaitMs : WaitMs;
    if (!QTest::qWaitFor([&] { return app->rootController()->hasLoadedList(); }, patience))
        say("list: not loaded");
    RootWindow* window = app->rootWindow();
    if (probe == "typing" || probe == "quitting") {
        NoteTextView* text = app->rootController()->noteController()->textView();
        // With notes, the list opens its first one: typing waits until the editor shows it.
        const auto showsANote = [&] {
            const NotePtr note = app->rootController()->warehouse()->editingNote();
            return note && !note->key().isEmpty() && !text->toPlainText().isEmpty();
        };
        if (probe == "quitting" && !QTest::qWaitFor(showsANote, patience))
            say("editor: no note shown");
        text->setFocus();
        QTest::keyClicks(text, "Typed before the signal");
        say("typed: yes");
        QApplication::exec();
        app.reset();
        std::_Exit(0);
    }
    const bool exposed = QTest::qWaitForWindowExposed(window, WaitMs);
    window->toggleFullScreen();
    const bool full = QTest::qWaitFor([&] { return window->isFullScreen() && window->size() == window->screen()->size(); }, WaitMs);
    app->handleURLEvent("brindlewick://settings?sound=yes");
    const bool shown = QTest::qWaitFor([] { return X11Session::run("dunstctl", {"count", "displayed"}).trimmed() != "0"; }, WaitMs);
    say(QStringLiteral("desktop: %1 %2 %3").arg(exposed).arg(full).arg(shown));
}

class ProbeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (const QByteArray probe = qgetenv(ProbeVariable); !probe.isEmpty()) {
            runProbe(probe);
            GTEST_SKIP() << "the probe runs no tests";
        }
    }
};

const auto* const probeEnvironment = ::testing::AddGlobalTestEnvironment(new ProbeEnvironment);

// A process stopped when the object goes.
struct Child {
    ~Child()
    {
        process.kill();
        process.waitForFinished(WaitMs);
    }
    // The rest of the first output line that starts with the prefix; null when none came in time.
    QString waitForLine(const QString& prefix, int waitMs = WaitMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < waitMs && (process.waitForReadyRead(100) || process.state() != QProcess::NotRunning))
            while (process.canReadLine())
                if (const QString line = QString::fromUtf8(process.readLine()).trimmed(); line.startsWith(prefix))
                    return line.mid(prefix.size());
        return QString();
    }
    // Ends the process with SIGTERM: whether it exited normally with 0.
    bool terminate()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(WaitMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    // Starts this test program as the offscreen probe of that name, off the session bus: its home.
    QString startProbe(const char* probe)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(ProbeVariable, probe);
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), {});
        return waitForLine("home: ");
    }
    QProcess process;
};

TEST(ShellProcess, ASecondStartHandsItsLinkToTheFirstAndEnds)
{
    const QString program = QCoreApplication::applicationDirPath() + "/../desktop/brindlewick";
    const QString home = TestSupport::home() + "/two-instances";
    Child first, second;
    first.process.setProcessEnvironment(programHome(home));
    first.process.start(program, {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(home + "/run/brindlewick/instance.sock"); }, WaitMs));

    second.process.setProcessEnvironment(programHome(home));
    second.process.start(program, {"brindlewick://archive?meeting%20notes"});
    ASSERT_TRUE(second.process.waitForFinished(WaitMs));
    EXPECT_EQ(second.process.exitCode(), 0) << second.process.readAllStandardError().constData();
    const QString settings = home + "/.config/brindlewick/defaults.ini";
    EXPECT_TRUE(QTest::qWaitFor([&] { return QSettings(settings, QSettings::IniFormat).value("selectedStorage").toInt() == 2; }, WaitMs))
        << "the first instance did not select the archive";

    EXPECT_TRUE(first.terminate()) << first.process.readAllStandardError().right(3000).constData();
    EXPECT_FALSE(QFileInfo::exists(home + "/run/brindlewick/instance.sock"));
}

TEST(ShellProcess, ATermSignalWhileTypingKeepsTheNote)
{
    Child child;
    const QString home = child.startProbe("typing");
    ASSERT_EQ(child.waitForLine("typed: "), "yes") << child.process.readAllStandardError().constData();
    EXPECT_TRUE(child.terminate());
    QStringList texts;
    for (QDirIterator it(home + "/Documents", {"*.md", "*.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        texts << QString::fromUtf8(TestSupport::readFile(it.next()));
    EXPECT_TRUE(texts.contains("Typed before the signal")) << qPrintable(texts.join("|"));
    QDir(home).removeRecursively();
}

// The record store never answers and the start-up indexing is busy: the process is gone within two
// seconds of the signal, the typed text saved and the indexing left for the next start.
TEST(ShellProcess, ATermSignalEndsWithinTwoSecondsWhateverTheStoreAndTheIndexingDo)
{
    Child child;
    const QString home = child.startProbe("quitting");
    // Writing the notes and opening one takes a while on a busy machine.
    ASSERT_EQ(child.waitForLine("typed: ", 6 * WaitMs), "yes") << child.process.readAllStandardError().constData();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(child.terminate());
    EXPECT_LE(clock.elapsed(), 2000) << child.process.readAllStandardError().right(3000).constData();
    QStringList texts;
    for (QDirIterator it(home + "/Documents", {"*.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        if (const QString text = QString::fromUtf8(TestSupport::readFile(it.next())); text.contains("Typed"))
            texts << text;
    EXPECT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts.value(0).contains("Typed before the signal")) << qPrintable(texts.join("|"));
    int indexed = 0;
    for (QDirIterator it(home + "/.cache", QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        indexed += it.next().contains("/Index/");
    EXPECT_LT(indexed, UnindexedNotes) << "the indexing had ended before the signal";
    QDir(home).removeRecursively();
}

// The peak of the process's resident memory, in bytes; 0 when it cannot be read.
qint64 peakResidentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// A note far larger than any text a note holds (a sparse file, so it costs no disk) among the notes:
// the program indexes it by its head and opens it read-only, its memory staying far below the file's
// size, under a cap it would otherwise run into.
TEST(ShellProcess, AHugeNoteKeepsTheProgramsMemoryBounded)
{
    constexpr qint64 NoteSize = qint64(1) << 30;
    const QString home = TestSupport::home() + "/huge-note";
    QProcessEnvironment environment = programHome(home);
    const QString inbox = home + "/Documents/Brindlewick/Home";
    QDir().mkpath(inbox);
    {
        QFile note(inbox + "/Huge log.txt");
        ASSERT_TRUE(note.open(QIODevice::WriteOnly));
        note.write("Huge log\nThe start of a log that goes on #early\n");
        ASSERT_TRUE(note.resize(NoteSize));
    }
    Child child;
    // A sanitizer's shadow memory takes more address space than any cap would allow, and it keeps
    // freed memory resident for a while (256 MB of it): a small quarantine lets the peak show what the
    // program itself holds.
#ifdef __SANITIZE_ADDRESS__
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":quarantine_size_mb=16");
#endif
    child.process.setProcessEnvironment(environment);
#ifndef __SANITIZE_ADDRESS__
    child.process.setChildProcessModifier([] {
        constexpr rlim_t AddressSpaceCap = rlim_t(6) << 30;
        const rlimit cap{AddressSpaceCap, AddressSpaceCap};
        ::setrlimit(RLIMIT_AS, &cap);
    });
#endif
    child.process.start(QCoreApplication::applicationDirPath() + "/../desktop/brindlewick", {});
    ASSERT_TRUE(child.process.waitForStarted(WaitMs));
    const auto markerWritten = [&] {
        for (QDirIterator it(home + "/.cache", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            if (it.next().endsWith("/Index/Inbox/Huge log.txt"))
                return true;
        return false;
    };
    QByteArray log;
    const auto openedReadOnly = [&] {
        log += child.process.readAllStandardError();
        return log.contains("read-only Huge log.txt");
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return child.process.state() != QProcess::Running || (openedReadOnly() && markerWritten()); }, 6 * WaitMs));
    ASSERT_EQ(child.process.state(), QProcess::Running) << log.right(3000).constData();
    const qint64 peak = peakResidentBytes(child.process.processId());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, NoteSize / 4) << "peak resident memory " << peak;
    EXPECT_TRUE(child.terminate());
    QDir(home).removeRecursively();
}

TEST(ShellDesktopX11, TheWindowShowsFillsTheScreenAndNotifies)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    X11Session::run("dunstctl", {"history-clear"});
    Child child;
    QProcessEnvironment environment = X11Session::environment();
    environment.insert(ProbeVariable, "desktop");
    child.process.setProcessEnvironment(environment);
    child.process.start(QCoreApplication::applicationFilePath(), {"-platform", "xcb"});
    EXPECT_EQ(child.waitForLine("desktop: "), "1 1 1") << "shown, full screen, notified\n" << child.process.readAllStandardError().constData();
    X11Session::run("dunstctl", {"close-all"});
    const QByteArray history = X11Session::run("dunstctl", {"history"});
    EXPECT_TRUE(history.contains("Sound Effect Activated")) << history.constData();
}

} // namespace
