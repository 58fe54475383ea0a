#include "CrashTrial.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace CrashTrial {

namespace {

constexpr int JournalDescriptor = 3;

struct Child {
    pid_t pid = -1;
    int journal = -1;
};

Child spawn(const char* childTest, const char* role, uint32_t seed, const QString& store, bool withJournal)
{
    int pipe[2] = {-1, -1};
    if (withJournal && ::pipe2(pipe, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray log = QFile::encodeName(store + QStringLiteral("/%1.log").arg(QLatin1String(role)));
    posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (withJournal)
        posix_spawn_file_actions_adddup2(&actions, pipe[1], JournalDescriptor);
    QList<QByteArray> arguments{"/proc/self/exe", "--gtest_filter=" + QByteArray(childTest),
                                "--gtest_also_run_disabled_tests", "--crash-role", role, "--crash-seed",
                                QByteArray::number(seed), "--crash-store", QFile::encodeName(store)};
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (withJournal) {
        ::close(pipe[1]);
        child.journal = pipe[0];
    }
    return child;
}

} // namespace

QString argumentAfter(const QString& name, const QString& fallback)
{
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
}

QString role()
{
    return argumentAfter(QStringLiteral("--crash-role"), QString());
}

QString store()
{
    return argumentAfter(QStringLiteral("--crash-store"), QString());
}

uint32_t seed()
{
    return argumentAfter(QStringLiteral("--crash-seed"), QString()).toUInt();
}

void journal(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    // One write per line: the parent never sees half of one.
    if (::write(JournalDescriptor, bytes.constData(), size_t(bytes.size())) != bytes.size())
        std::_Exit(3);
}

QString run(const char* childTest, uint32_t seed, const QString& store, int killAfter, int killDelayMicroseconds)
{
    QDir(store).removeRecursively();
    QDir().mkpath(store);
    Child worker = spawn(childTest, "work", seed, store, true);
    if (worker.pid < 0)
        return QStringLiteral("cannot start the worker");
    // The worker goes on while the parent reads, so the kill lands anywhere
    // in what follows the chosen line.
    QByteArray journal;
    int lines = 0;
    bool killed = false;
    char buffer[4096];
    for (ssize_t n; (n = ::read(worker.journal, buffer, sizeof buffer)) > 0;) {
        journal.append(buffer, n);
        lines += int(std::count(buffer, buffer + n, '\n'));
        if (lines >= killAfter && !std::exchange(killed, true)) {
            if (killDelayMicroseconds > 0)
                ::usleep(useconds_t(killDelayMicroseconds));
            ::kill(worker.pid, SIGKILL);
        }
    }
    ::close(worker.journal);
    int status = 0;
    ::waitpid(worker.pid, &status, 0);
    const bool wasKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!wasKilled && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        return QStringLiteral("the worker failed (status %1), see %2/work.log").arg(status).arg(store);
    TestSupport::writeFile(store + QStringLiteral("/journal"), journal);

    Child verifier = spawn(childTest, "verify", seed, store, false);
    ::waitpid(verifier.pid, &status, 0);
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        return QString::fromUtf8(TestSupport::readFile(store + QStringLiteral("/verify.log")));
    QDir(store).removeRecursively();
    return QString();
}

QString runTrials(const QString& name, int defaultTrials,
                  const std::function<QString(uint32_t seed, const QString& store)>& trial)
{
    const int trials = argumentAfter(QStringLiteral("--trials"), QString::number(defaultTrials)).toInt();
    const uint32_t firstSeed = argumentAfter(QStringLiteral("--seed"), QStringLiteral("1")).toUInt();
    std::atomic<int> next = 0;
    std::mutex mutex;
    QStringList failures;
    const auto runSome = [&] {
        for (int i; (i = next++) < trials;) {
            const uint32_t seed = firstSeed + uint32_t(i);
            const QString failure = trial(seed, TestSupport::home() + QStringLiteral("/%1/%2").arg(name).arg(seed));
            std::lock_guard lock(mutex);
            std::printf("%s trial seed %u: %s\n", qPrintable(name), seed, failure.isEmpty() ? "whole" : "FAILED");
            if (!failure.isEmpty())
                failures << QStringLiteral("seed %1: %2").arg(seed).arg(failure);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency() / 2); ++i)
        workers.emplace_back(runSome);
    for (std::thread& worker : workers)
        worker.join();
    return failures.join(u'\n');
}

} // namespace CrashTrial
