#pragma once

#include "Clock.h"
#include "Log.h"
#include "TestSupport.h"
#include "VGAbstractLogger.h"
#include "VGLog.h"
#include "VGLogMessage.h"
#include "VGTTYLogger.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include <unistd.h>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) { *out << '[' << texts.join("|").toStdString() << ']'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

// Keeps what it receives; can hold its queue until released.
class RecordingLogger : public VGAbstractLogger {
public:
    explicit RecordingLogger(const QString& name = QStringLiteral("test.recording")) : VGAbstractLogger(name) {}

    void logMessage(const VGLogMessage& message) override
    {
        {
            std::unique_lock lock(mutex);
            ++entered;
            changed.notify_all();
            changed.wait(lock, [&] { return !held; });
        }
        std::optional<QString> text = message.logMsg();
        if (!isOnInternalLoggerQueue())
            ++callsOffItsQueue;
        if (formatter_)
            text = formatter_->formatLogMessage(message);
        std::lock_guard lock(mutex);
        messages.push_back(message);
        if (text)
            texts << *text;
        changed.notify_all();
    }
    void flush() override
    {
        std::lock_guard lock(mutex);
        ++flushes;
    }

    void hold()
    {
        std::lock_guard lock(mutex);
        held = true;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
    void waitUntilEntered(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered >= count; });
    }
    // False when the count is not reached in time (a few seconds unless told):
    // for a wait that must not depend on the engine going idle.
    bool receivedWithin(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return messages.size() >= count; });
    }
    QStringList snapshot()
    {
        std::lock_guard lock(mutex);
        return texts;
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return messages.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int entered = 0;
    int callsOffItsQueue = 0;
    int flushes = 0;
    std::vector<VGLogMessage> messages;
    QStringList texts;
};

// Counts the messages it starts before each of its peers had handled as many.
class OrderWatchingLogger : public RecordingLogger {
public:
    void logMessage(const VGLogMessage& message) override
    {
        const size_t before = count();
        for (const auto& weak : peers) {
            const auto peer = weak.lock();
            if (peer && peer->count() < before)
                ++startedEarly;
        }
        RecordingLogger::logMessage(message);
    }

    // Weak: a pair watching each other would otherwise keep both alive.
    std::vector<std::weak_ptr<RecordingLogger>> peers;
    std::atomic<int> startedEarly {0};
};

// Two order-watching loggers installed in this order, each the other's peer.
inline std::pair<std::shared_ptr<OrderWatchingLogger>, std::shared_ptr<OrderWatchingLogger>> addWatchingPair()
{
    auto first = std::make_shared<OrderWatchingLogger>();
    auto second = std::make_shared<OrderWatchingLogger>();
    first->peers = {second};
    second->peers = {first};
    VGLog::addLogger(first);
    VGLog::addLogger(second);
    return {first, second};
}

// Installs a fresh recording logger for every level.
inline std::shared_ptr<RecordingLogger> addRecordingLogger()
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    return logger;
}

// Every test starts and ends with no logger installed, nothing in flight and the real wall clock.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override
    {
        reset();
        Clock::setWallClock({});
    }
    static void reset()
    {
        VGLog::flushLog();
        VGLog::removeAllLoggers();
        Dispatch::waitUntilIdle();
    }
};

// A folder of the temporary home that no earlier test used.
inline QString freshDirectory(const QString& prefix)
{
    static int counter = 0;
    return TestSupport::home() + "/" + prefix + "-" + QString::number(++counter);
}

// Waits (in real time, for an event, not a timer) until the condition holds.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        Dispatch::waitUntilIdle();
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Collects what reaches standard error while it lives.
class StderrCapture {
public:
    StderrCapture() { testing::internal::CaptureStderr(); }
    ~StderrCapture() { text(); }
    QByteArray text()
    {
        if (capturing_)
            captured_ = QByteArray::fromStdString(testing::internal::GetCapturedStderr());
        capturing_ = false;
        return captured_;
    }

private:
    bool capturing_ = true;
    QByteArray captured_;
};

// The shared terminal logger, made with a 256-colour terminal type.
inline std::shared_ptr<VGTTYLogger> sharedTTYLogger()
{
    qputenv("TERM", "xterm-256color");
    return VGTTYLogger::sharedInstance();
}

// A message of the given flag and context with a throwaway call site.
inline VGLogMessage makeMessage(const QString& text, int32_t flag = LogFlagInfo, int32_t context = 0)
{
    return VGLogMessage(text, 31, flag, context, "f", "g", 1);
}

// A formatter made of a function.
class FunctionFormatter : public VGLogFormatter {
public:
    using Function = std::function<std::optional<QString>(const VGLogMessage&)>;
    explicit FunctionFormatter(Function function) : function_(std::move(function)) {}
    std::optional<QString> formatLogMessage(const VGLogMessage& message) override { return function_(message); }

private:
    Function function_;
};

// Logs "test:line t<thread> n<number>" lines from several threads at once, an error every 100th.
inline void logFromThreads(int threads, int perThread)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t, perThread] {
            for (int i = 0; i < perThread; ++i) {
                if (i % 100 == 0)
                    LogError("test:line t%1 n%2 error", t, i);
                else
                    LogInfo("test:line t%1 n%2", t, i);
            }
        });
    for (auto& worker : workers)
        worker.join();
}
