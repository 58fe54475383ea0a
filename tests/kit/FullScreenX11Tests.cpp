// Full screen needs a real window manager: the test runs this test program again in the private X
// session, as an X11 client, to toggle a window.
#include "X11Session.h"

#include "kit/Window.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

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

TEST(KitWindowX11, FullScreenReachesTheScreenSizeWithWillBeforeDid)
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    QProcessEnvironment environment = X11Session::environment();
    QProcess probe;
    environment.insert(ProbeVariable, "1");
    probe.setProcessEnvironment(environment);
    probe.start(QCoreApplication::applicationFilePath(), {"-platform", "xcb"});
    ASSERT_TRUE(probe.waitForFinished(4 * WaitMs));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().constData();
    const QString output = QString::fromUtf8(probe.readAllStandardOutput());
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
