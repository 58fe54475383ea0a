#include "files/FileCoordinator.h"
#include "files/InstanceLock.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Counts the threads inside one coordinated section and keeps the highest count.
struct Occupancy {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    void enter()
    {
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() { --inside; }
};

} // namespace

TEST(Files, CoordinationExcludesOtherThreadsFromTheSamePath)
{
    const QString path = TestSupport::home() + "/coord/Note.txt";
    // The same file under three spellings.
    const QStringList spellings{path, TestSupport::home() + "/coord/./Note.txt", TestSupport::home() + "/coord/x/../Note.txt"};
    Occupancy occupancy;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const auto access = FileCoordinator::coordinate(spellings[(t + i) % 3]);
                occupancy.enter();
                occupancy.leave();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(occupancy.most.load(), 1);
}

// A relative path is the file below the working folder: its spellings, the
// absolute one among them, exclude each other, alone or as a pair.
TEST(Files, CoordinationTakesRelativePathsFromTheWorkingFolder)
{
    const QString folder = TestSupport::home() + "/coord/relative";
    ASSERT_TRUE(QDir().mkpath(folder + "/x"));
    const QString working = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    const QStringList spellings{folder + "/Note.txt", "Note.txt", "./Note.txt", "x/../Note.txt"};
    Occupancy occupancy;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString& one = spellings[(t + i) % 4];
                const auto access = i % 2 ? FileCoordinator::coordinate(one)
                                          : FileCoordinator::coordinate(one, spellings[(t + i + 1) % 4]);
                occupancy.enter();
                // Long enough inside for another holder to show.
                std::this_thread::yield();
                occupancy.leave();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    QDir::setCurrent(working);
    EXPECT_EQ(occupancy.most.load(), 1);
}

TEST(Files, CoordinationOfTwoPathsInEitherOrderNeverDeadlocks)
{
    const QString a = TestSupport::home() + "/coord/A.txt";
    const QString b = TestSupport::home() + "/coord/B.txt";
    Occupancy onA, onB;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (i % 3 == 2) {
                    const auto access = FileCoordinator::coordinate(t % 2 ? a : b);
                    Occupancy& single = t % 2 ? onA : onB;
                    single.enter();
                    single.leave();
                    continue;
                }
                const auto access = t % 2 ? FileCoordinator::coordinate(a, b) : FileCoordinator::coordinate(b, a);
                onA.enter();
                onB.enter();
                onB.leave();
                onA.leave();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(onA.most.load(), 1);
    EXPECT_EQ(onB.most.load(), 1);
}

TEST(Files, CoordinationNestsOnOneThreadAndLeavesOtherPathsFree)
{
    const QString a = TestSupport::home() + "/coord/Nested.txt";
    const QString b = TestSupport::home() + "/coord/Other.txt";
    auto outer = FileCoordinator::coordinate(a);
    {
        const auto inner = FileCoordinator::coordinate(a, b);
        const auto again = FileCoordinator::coordinate(a);
    }
    // Another thread gets a different path while this one holds a …
    std::thread([&] { const auto other = FileCoordinator::coordinate(b); }).join();

    // … and gets a once every nested access and the moved one are gone.
    auto moved = std::move(outer);
    outer.release();
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        const auto access = FileCoordinator::coordinate(a);
        entered = true;
    });
    EXPECT_FALSE(entered);
    moved.release();
    waiter.join();
    EXPECT_TRUE(entered);
}

TEST(Files, InstanceLockRefusesSecondHolderInThisProcess)
{
    const QString folder = TestSupport::home() + "/.cache/brindlewick-same";
    InstanceLock first, second;
    ASSERT_TRUE(first.acquire(folder));
    Error error;
    EXPECT_FALSE(second.acquire(folder, &error));
    EXPECT_FALSE(second.isHeld());
    EXPECT_TRUE(error.localizedDescription().contains(QString::number(getpid()))) << qPrintable(error.localizedDescription());
    first.release();
    EXPECT_TRUE(second.acquire(folder));
}

// The lock is refused to another process while held, and the system frees it
// when its holder dies, even without a release.
TEST(Files, InstanceLockRefusedInSecondProcessAndFreedWhenHolderDies)
{
    const QString folder = TestSupport::home() + "/.cache/brindlewick-processes";
    {
        InstanceLock lock;
        ASSERT_TRUE(lock.acquire(folder));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            InstanceLock refused;
            Error error;
            const bool held = refused.acquire(folder, &error);
            _exit(held ? 0 : (error.localizedDescription().startsWith("Another Brindlewick process") ? 1 : 2));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }

    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        InstanceLock lock;
        const char answer = lock.acquire(folder) ? 'y' : 'n';
        (void)!write(toParent[1], &answer, 1);
        char ignored;
        (void)!read(toChild[0], &ignored, 1); // until the parent lets go
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(toParent[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');

    InstanceLock lock;
    Error error;
    EXPECT_FALSE(lock.acquire(folder, &error));
    EXPECT_TRUE(error.localizedDescription().contains(QString::number(holder))) << qPrintable(error.localizedDescription());

    kill(holder, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    for (const int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
        close(fd);
    EXPECT_TRUE(lock.acquire(folder, &error)) << qPrintable(error.localizedDescription());
}
