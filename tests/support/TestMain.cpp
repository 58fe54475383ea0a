// Every test process gets its own temporary home before Qt starts, so no test
// reads or writes the real user's files, and Qt runs on the offscreen platform.
#include "Dispatch.h"
#include "Folders.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

void redirectHome(const QString& root)
{
    Folders::placeInHome(root);
    const auto set = [&](const char* variable, const QString& sub) {
        const QString path = root + sub;
        QDir().mkpath(path);
        qputenv(variable, path.toLocal8Bit());
    };
    set("XDG_RUNTIME_DIR", QStringLiteral("/.run"));
    // Child processes (some killed on purpose) make their homes inside ours, so nothing outlives the run.
    set("TMPDIR", QStringLiteral("/tmp"));
    chmod(qPrintable(root + QStringLiteral("/.run")), 0700);
}

// Settings made during the tests live in statics, which are destroyed after
// main returns and write their files once more: the home goes after them.
QString& homeToRemove()
{
    static QString path;
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/brindlewick-test-XXXXXX"));
    if (!home.isValid()) {
        fprintf(stderr, "cannot create a temporary home\n");
        return 2;
    }
    redirectHome(home.path());
    homeToRemove() = home.path();
    home.setAutoRemove(false);
    std::atexit([] { QDir(homeToRemove()).removeRecursively(); });
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Work a test left queued ends before the statics it may use are destroyed.
    Dispatch::waitUntilIdle();
    return result;
}
