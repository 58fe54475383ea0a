// The application as processes: the real program twice, and this test program run again as a child
// that starts the application delegate (to type into it, or to show it on the private X display).
#include "AppTestSupport.h"

#include "ProgramHome.h"
#include "X11Session.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/NoteTextView.h"

#include "Store/Note.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

namespace {

const char* const ProbeVariable = "SHELL_APP_PROBE";
constexpr int WaitMs = 10000;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// In the child: the application as main.cpp starts it, without the one-instance lock.
std::unique_ptr<AppDelegate> launch()
{
    auto app = std::make_unique<AppDelegate>();
    app->applicationDidFinishLaunching();
    if (!QTest::qWaitFor([&] { return app->rootController()->hasLoadedList(); }, WaitMs))
        say("the list never loaded");
    return app;
}

// Types into the editor, says so, and runs until a signal ends the application. The home stays for
// the parent to look into.
void typingProbe()
{
    say("home: " + TestSupport::home());
    auto app = launch();
    NoteTextView* text = app->rootController()->noteController()->textView();
    text->setFocus();
    QTest::keyClicks(text, "Typed before the signal");
    say("typed");
    QApplication::exec();
    app.reset();
    std::_Exit(0);
}

// Shows the window on the private display, fills the screen with it, and sends a notification.
void desktopProbe()
{
    auto app = launch();
    RootWindow* window = app->rootWindow();
    const bool exposed = QTest::qWaitForWindowExposed(window, WaitMs);
    const QSize screen = window->screen()->geometry().size();
    window->toggleFullScreen();
    const bool full = QTest::qWaitFor([&] { return window->isFullScreen() && window->size() == screen; }, WaitMs);
    app->handleURLEvent("brindlewick://settings?sound=yes");
    const bool shown = QTest::qWaitFor([] { return X11Session::run("dunstctl", {"count", "displayed"}).trimmed() != "0"; }, WaitMs);
    say(QStringLiteral("desktop: %1 %2 %3 %4x%5 %6x%7")
            .arg(exposed)
            .arg(full)
            .arg(shown)
            .arg(window->width())
            .arg(window->height())
            .arg(screen.width())
            .arg(screen.height()));
}

class ProbeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const QByteArray probe = qgetenv(ProbeVariable);
        if (probe == "typing")
            typingProbe();
        else if (probe == "desktop")
            desktopProbe();
        if (!probe.isEmpty())
            GTEST_SKIP() << "the probe runs no tests";
    }
};

const auto* const probeEnvironment = ::testing::AddGlobalTestEnvironment(new ProbeEnvironment);

// A process stopped when the object goes.
struct Child {
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(WaitMs);
    }
    // Reads standard output until a line starts with the prefix; the rest of that line.
    QString waitForLine(const QString& prefix)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WaitMs) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith(prefix))
                    return line.mid(prefix.size());
            }
            if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
                break;
        }
        return QString();
    }
    QProcess process;
};

TEST(ShellProcess, ASecondStartHandsItsLinkToTheFirstAndEnds)
{
    const QString program = QCoreApplication::applicationDirPath() + "/../desktop/brindlewick";
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << qPrintable(program);
    const QString home = TestSupport::home() + "/two-instances";
    const QProcessEnvironment environment = programHome(home);
    Child first, second;
    first.process.setProcessEnvironment(environment);
    first.process.start(program, {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(home + "/run/brindlewick/instance.sock"); }, WaitMs));

    second.process.setProcessEnvironment(environment);
    second.process.start(program, {"brindlewick://archive?meeting%20notes"});
    ASSERT_TRUE(second.process.waitForFinished(WaitMs));
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 0) << second.process.readAllStandardError().constData();

    const QString settings = home + "/.config/brindlewick/defaults.ini";
    EXPECT_TRUE(QTest::qWaitFor([&] { return QSettings(settings, QSettings::IniFormat).value("selectedStorage").toInt() == 2; }, WaitMs))
        << "the first instance did not select the archive";

    ::kill(pid_t(first.process.processId()), SIGTERM);
    ASSERT_TRUE(first.process.waitForFinished(WaitMs));
    EXPECT_EQ(first.process.exitStatus(), QProcess::NormalExit) << first.process.readAllStandardError().right(3000).constData();
    EXPECT_EQ(first.process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(home + "/run/brindlewick/instance.sock"));
}

TEST(ShellProcess, ATermSignalWhileTypingKeepsTheNote)
{
    Child child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ProbeVariable, "typing");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    child.process.setProcessEnvironment(environment);
    child.process.start(QCoreApplication::applicationFilePath(), {});
    const QString home = child.waitForLine("home: ");
    ASSERT_FALSE(home.isEmpty()) << child.process.readAllStandardError().constData();
    ASSERT_EQ(child.waitForLine("typed"), "") << child.process.readAllStandardError().constData();
    ::kill(pid_t(child.process.processId()), SIGTERM);
    ASSERT_TRUE(child.process.waitForFinished(WaitMs));
    EXPECT_EQ(child.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.process.exitCode(), 0);

    QStringList texts;
    for (QDirIterator it(home + "/Documents", {"*.md", "*.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        texts << QString::fromUtf8(TestSupport::readFile(it.next()));
    EXPECT_TRUE(texts.contains("Typed before the signal")) << qPrintable(texts.join("|"));
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
    const QStringList fields = child.waitForLine("desktop: ").split(' ');
    ASSERT_TRUE(child.process.waitForFinished(WaitMs));
    ASSERT_EQ(fields.size(), 5) << child.process.readAllStandardError().constData();
    EXPECT_EQ(fields[0], "1") << "the window never showed";
    EXPECT_EQ(fields[1], "1") << "full screen did not fill the screen";
    EXPECT_EQ(fields[3], fields[4]);
    EXPECT_EQ(fields[2], "1") << "no notification was shown";
    X11Session::run("dunstctl", {"close-all"});
    const QByteArray history = X11Session::run("dunstctl", {"history"});
    EXPECT_TRUE(history.contains("Sound Effect Activated")) << history.constData();
}

} // namespace
