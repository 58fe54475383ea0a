// Full screen needs a real window manager: the test starts Xvfb and openbox on a free display and
// runs this test program again there, as an X11 client, to toggle a window.
#include "kit/Window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

namespace {

const char* const ProbeVariable = "KIT_FULLSCREEN_PROBE";
constexpr int WaitMs = 5000;

// In the X11 child: prints "probe: <events> <window size> <screen size> <entered> <left>" for entering
// and leaving full screen.
class Probe : public WindowDelegate {
public:
    void windowWillEnterFullScreen(Window&) override { events << "willEnter"; }
    void windowDidEnterFullScreen(Window&) override { events << "didEnter"; }
    void windowWillExitFullScreen(Window&) override { events << "willExit"; }
    void windowDidExitFullScreen(Window&) override { events << "didExit"; }
    QStringList events;

    static void run()
    {
        Probe probe;
        Window window;
        window.setDelegate(&probe);
        window.resize(400, 300);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window, WaitMs)) {
            std::printf("probe: window never exposed\n");
            return;
        }
        const QSize screen = window.screen()->geometry().size();
        window.toggleFullScreen();
        const bool full = QTest::qWaitFor([&] { return probe.events.contains("didEnter") && window.size() == screen; }, WaitMs);
        const QSize fullSize = window.size();
        window.toggleFullScreen();
        const bool left = QTest::qWaitFor([&] { return probe.events.contains("didExit") && window.size() != screen; }, WaitMs);
        std::printf("probe: %s %dx%d %dx%d %d %d\n", qPrintable(probe.events.join(',')), fullSize.width(), fullSize.height(),
                    screen.width(), screen.height(), full, left);
        std::fflush(stdout);
    }
};

class ProbeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet(ProbeVariable))
            return;
        Probe::run();
        GTEST_SKIP() << "the probe runs no tests";
    }
};

const auto* const probeEnvironment = ::testing::AddGlobalTestEnvironment(new ProbeEnvironment);

// A child process that is stopped when the object goes.
struct Child {
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (process.waitForFinished(WaitMs))
            return;
        process.kill();
        process.waitForFinished(WaitMs);
    }
    QProcess process;
};

bool displayInUse(int display)
{
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
           QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(display));
}

// Polls until done() answers true, the child exits or the wait runs out.
bool waitFor(QProcess& child, const std::function<bool()>& done)
{
    for (int waited = 0; waited < WaitMs; waited += 50) {
        if (done())
            return true;
        if (child.waitForFinished(50))
            return false;
    }
    return done();
}

// Starts Xvfb on a free display; the display number, or none.
std::optional<int> startServer(Child& server, const QString& xvfb)
{
    for (int display = 90; display < 140; ++display) {
        if (displayInUse(display))
            continue;
        server.process.start(xvfb, {QStringLiteral(":%1").arg(display), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!server.process.waitForStarted(WaitMs))
            return std::nullopt;
        if (waitFor(server.process, [&] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)); }))
            return display;
        server.process.kill();
        server.process.waitForFinished(WaitMs);
    }
    return std::nullopt;
}

bool windowManagerRunning(const QString& xprop, const QProcessEnvironment& environment)
{
    QProcess query;
    query.setProcessEnvironment(environment);
    query.start(xprop, {"-root", "_NET_SUPPORTING_WM_CHECK"});
    return query.waitForFinished(WaitMs) && query.exitCode() == 0 && query.readAllStandardOutput().contains("window id");
}

TEST(KitWindowX11, FullScreenReachesTheScreenSizeWithWillBeforeDid)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    const QString xprop = QStandardPaths::findExecutable("xprop");
    if (xvfb.isEmpty() || openbox.isEmpty() || xprop.isEmpty())
        GTEST_SKIP() << "needs Xvfb, openbox and xprop (scripts/install-deps)";
    Child server, manager, probe;
    const std::optional<int> display = startServer(server, xvfb);
    if (!display)
        GTEST_SKIP() << "Xvfb did not start on a free display: " << server.process.readAllStandardError().constData();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QStringLiteral(":%1").arg(*display));
    manager.process.setProcessEnvironment(environment);
    manager.process.start(openbox, {"--sm-disable"});
    if (!waitFor(manager.process, [&] { return windowManagerRunning(xprop, environment); }))
        GTEST_SKIP() << "openbox did not start: " << manager.process.readAllStandardError().constData();

    environment.insert(ProbeVariable, "1");
    probe.process.setProcessEnvironment(environment);
    probe.process.start(QCoreApplication::applicationFilePath(), {"-platform", "xcb"});
    ASSERT_TRUE(probe.process.waitForFinished(4 * WaitMs));
    ASSERT_EQ(probe.process.exitCode(), 0) << probe.process.readAllStandardError().constData();
    const QString output = QString::fromUtf8(probe.process.readAllStandardOutput());
    const qsizetype at = output.indexOf(QLatin1String("probe: "));
    ASSERT_GE(at, 0) << qPrintable(output);
    const QString line = output.mid(at + 7).section('\n', 0, 0);
    const QStringList fields = line.split(' ');
    ASSERT_EQ(fields.size(), 5) << qPrintable(line);
    EXPECT_EQ(fields[0], "willEnter,didEnter,willExit,didExit");
    EXPECT_EQ(fields[1], fields[2]) << "window and screen size";
    EXPECT_EQ(fields[3], "1");
    EXPECT_EQ(fields[4], "1");
}

} // namespace
