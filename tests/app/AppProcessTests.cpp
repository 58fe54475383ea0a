// The application as processes: the real program twice, and this test program run again as a child
// that starts the application delegate (to type into it, or to show it on the private X display).
#include "AppTestSupport.h"

#include "ProgramHome.h"
#include "X11Session.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/NoteTextView.h"

#include "TestSupport.h"

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

namespace {

const char* const ProbeVariable = "SHELL_APP_PROBE";
constexpr int WaitMs = 10000;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// In the child: the application as main.cpp starts it, without the one-instance lock. Typing runs
// until a signal ends it; the desktop probe says whether the window showed, filled the screen in
// full screen, and had its notification shown.
void runProbe(const QByteArray& probe)
{
    say("home: " + TestSupport::home());
    auto app = std::make_unique<AppDelegate>();
    app->applicationDidFinishLaunching();
    if (!QTest::qWaitFor([&] { return app->rootController()->hasLoadedList(); }, WaitMs))
        say("list: not loaded");
    RootWindow* window = app->rootWindow();
    if (probe == "typing") {
        NoteTextView* text = app->rootController()->noteController()->textView();
        text->setFocus();
        QTest::keyClicks(text, "Typed before the signal");
        say("typed");
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
    // The rest of the first output line that starts with the prefix.
    QString waitForLine(const QString& prefix)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WaitMs && (process.waitForReadyRead(100) || process.state() != QProcess::NotRunning))
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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ProbeVariable, "typing");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    child.process.setProcessEnvironment(environment);
    child.process.start(QCoreApplication::applicationFilePath(), {});
    const QString home = child.waitForLine("home: ");
    ASSERT_EQ(child.waitForLine("typed"), "") << child.process.readAllStandardError().constData();
    EXPECT_TRUE(child.terminate());
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
    EXPECT_EQ(child.waitForLine("desktop: "), "1 1 1") << "shown, full screen, notified\n" << child.process.readAllStandardError().constData();
    X11Session::run("dunstctl", {"close-all"});
    const QByteArray history = X11Session::run("dunstctl", {"history"});
    EXPECT_TRUE(history.contains("Sound Effect Activated")) << history.constData();
}

} // namespace
