#include "Log.h"
#include "LoggingTestSupport.h"

#include <QThread>

#include <atomic>
#include <future>
#include <thread>

#include <unistd.h>

namespace {

class UpperFormatter : public VGLogFormatter {
public:
    std::optional<QString> formatLogMessage(const VGLogMessage& message) override { return message.logMsg().toUpper(); }
};

} // namespace

using LoggingEngine = LoggingTest;

TEST_F(LoggingEngine, RoutesByFlagAndLevel)
{
    auto all = std::make_shared<RecordingLogger>();
    auto errorsOnly = std::make_shared<RecordingLogger>();
    auto nothing = std::make_shared<RecordingLogger>();
    VGLog::addLogger(all);
    VGLog::addLogger(errorsOnly, LogFlagError);
    VGLog::addLogger(nothing, 0);

    LogInfo("core:info");
    LogError("core:error");
    VGLog::log(true, LogLevelAll, 0, 0, __FILE__, __func__, __LINE__, QVariant(), QStringLiteral("no flag"));
    VGLog::log(true, LogLevelAll, LogFlagVerbose, 0, __FILE__, __func__, __LINE__, QVariant(), QStringLiteral("v"));
    VGLog::flushLog();

    EXPECT_EQ(all->snapshot(), (QStringList {"core:info", "core:error", "v"}));
    EXPECT_EQ(errorsOnly->snapshot(), QStringList {"core:error"});
    EXPECT_TRUE(nothing->snapshot().isEmpty());
    // The message's own level travels along untouched.
    EXPECT_EQ(all->messages[0].logLevel(), 31);
    EXPECT_EQ(all->messages[0].logFlag(), LogFlagInfo);
    EXPECT_EQ(all->messages[1].logFlag(), LogFlagError);
}

TEST_F(LoggingEngine, CallSiteAndArgumentsReachTheMessage)
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    const QString key = QStringLiteral("Groceries %1.md");
    const int line = __LINE__ + 1;
    LogInfo("note:open %1 failed.", key);
    LogInfo("ckcloud:save ok %1 (%2 bytes, %3)", QByteArray("K"), 42, 1.5);
    VGLog::flushLog();

    ASSERT_EQ(logger->count(), 2u);
    // The value is put in place once: a "%1" inside it stays as it is.
    EXPECT_EQ(logger->texts[0], "note:open Groceries %1.md failed.");
    EXPECT_EQ(logger->texts[1], "ckcloud:save ok K (42 bytes, 1.5)");
    const VGLogMessage& message = logger->messages[0];
    EXPECT_EQ(message.lineNumber(), line);
    EXPECT_EQ(message.fileName(), "EngineTests");
    EXPECT_EQ(message.methodName(), "TestBody");
    EXPECT_EQ(message.logContext(), 0);
    EXPECT_FALSE(message.tag().isValid());
    EXPECT_EQ(message.machThreadID(), uint32_t(gettid()));
    EXPECT_EQ(message.queueLabel(), DispatchQueue::mainLabel());
}

TEST_F(LoggingEngine, MessageFieldsDerivedOnDemand)
{
    const auto make = [](const char* file) { return VGLogMessage("x", 31, 4, 0, file, nullptr, 1); };
    EXPECT_EQ(make("/src/Engine.log").fileName(), "Engine");
    EXPECT_EQ(make("Makefile").fileName(), "Makefile");
    EXPECT_EQ(make("/src/lib.d/README").fileName(), "README");
    EXPECT_EQ(make("/src/archive.tar.gz").fileName(), "archive.tar");
    EXPECT_TRUE(make(nullptr).fileName().isNull());
    EXPECT_TRUE(make(nullptr).methodName().isNull());

    const VGLogMessage message("x", 31, 4, 0, "f", "g", 1);
    EXPECT_EQ(message.threadID(), QString::asprintf("%x", message.machThreadID()));

    // Owned copies survive the caller's buffer; borrowed ones are the caller's pointer.
    char buffer[] = "/tmp/Owned.cpp";
    char function[] = "ownedFunction";
    const VGLogMessage owned("x", 31, 4, 0, buffer, function, 1, {}, VGLogMessage::CopyFile | VGLogMessage::CopyFunction);
    const VGLogMessage borrowed("x", 31, 4, 0, buffer, function, 1);
    const VGLogMessage copy = owned;
    std::fill(std::begin(buffer), std::end(buffer) - 1, 'z');
    std::fill(std::begin(function), std::end(function) - 1, 'z');
    EXPECT_EQ(copy.fileName(), "Owned");
    EXPECT_EQ(copy.methodName(), "ownedFunction");
    EXPECT_EQ(borrowed.file(), buffer);
}

TEST_F(LoggingEngine, QueueLabelAndThreadNameOfTheCreator)
{
    auto queue = DispatchQueue::createSerial("test.label");
    std::optional<VGLogMessage> onQueue;
    queue->sync([&] { onQueue.emplace("x", 31, 4, 0, "f", "g", 1); });
    EXPECT_EQ(onQueue->queueLabel(), "test.label");

    std::optional<VGLogMessage> named;
    std::optional<VGLogMessage> plain;
    std::thread([&] {
        pthread_setname_np(pthread_self(), "worker-7");
        named.emplace("x", 31, 4, 0, "f", "g", 1);
    }).join();
    std::thread([&] { plain.emplace("x", 31, 4, 0, "f", "g", 1); }).join();
    EXPECT_EQ(named->threadName(), "worker-7");
    EXPECT_TRUE(named->queueLabel().isEmpty());
    EXPECT_TRUE(plain->threadName().isEmpty());
}

TEST_F(LoggingEngine, NullFormatLogsNothing)
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    VGLog::log(false, 31, 1, 0, __FILE__, __func__, __LINE__, QVariant(), QString());
    VGLog::flushLog();
    EXPECT_EQ(logger->count(), 0u);
}

TEST_F(LoggingEngine, SynchronousCallReturnsAfterEveryLoggerWrote)
{
    auto first = std::make_shared<RecordingLogger>();
    auto second = std::make_shared<RecordingLogger>();
    VGLog::addLogger(first);
    VGLog::addLogger(second);
    for (int i = 0; i < 200; ++i) {
        LogError("core:error %1", i);
        ASSERT_EQ(first->count(), size_t(i + 1));
        ASSERT_EQ(second->count(), size_t(i + 1));
    }
}

TEST_F(LoggingEngine, AsynchronousCallDoesNotWaitForALogger)
{
    auto logger = std::make_shared<RecordingLogger>();
    logger->hold();
    VGLog::addLogger(logger);
    for (int i = 0; i < 10; ++i)
        LogInfo("core:info %1", i);
    EXPECT_LE(logger->count(), 0u);
    logger->release();
    VGLog::flushLog();
    EXPECT_EQ(logger->count(), 10u);
}

TEST_F(LoggingEngine, TheMessageAfterAThousandOutstandingWaits)
{
    auto logger = std::make_shared<RecordingLogger>();
    logger->hold();
    VGLog::addLogger(logger);
    for (int i = 0; i < VGLog::MaximumOutstandingMessages; ++i)
        LogInfo("core:info %1", i);
    logger->waitUntilEntered(1);

    std::atomic<bool> returned {false};
    auto next = std::async(std::launch::async, [&] {
        LogInfo("core:one too many");
        returned = true;
    });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_FALSE(returned);
    logger->release();
    next.get();
    VGLog::flushLog();
    EXPECT_EQ(logger->count(), size_t(VGLog::MaximumOutstandingMessages + 1));
    EXPECT_EQ(logger->texts.last(), "core:one too many");
}

TEST_F(LoggingEngine, SameLoggerTwiceGetsEachMessageTwice)
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    VGLog::addLogger(logger);
    LogError("twice");
    VGLog::removeLogger(logger);
    LogError("once");
    VGLog::flushLog();
    EXPECT_EQ(logger->snapshot(), (QStringList {"twice", "twice", "once"}));
    EXPECT_EQ(VGLog::allLoggers().size(), 1);
}

TEST_F(LoggingEngine, AllLoggersInOrderOfAddition)
{
    auto a = std::make_shared<RecordingLogger>();
    auto b = std::make_shared<RecordingLogger>();
    VGLog::addLogger(a);
    VGLog::addLogger(b);
    EXPECT_EQ(VGLog::allLoggers(), (QList<VGLoggerPtr> {a, b}));
    VGLog::removeLogger(a);
    EXPECT_EQ(VGLog::allLoggers(), QList<VGLoggerPtr> {b});
    VGLog::removeAllLoggers();
    EXPECT_TRUE(VGLog::allLoggers().isEmpty());
}

TEST_F(LoggingEngine, FlushWritesEverythingQueuedBefore)
{
    VGLog::flushLog(); // with no logger it just returns
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    for (int i = 0; i < 5000; ++i)
        LogInfo("n %1", i);
    VGLog::flushLog();
    EXPECT_EQ(logger->count(), 5000u);
    EXPECT_EQ(logger->flushes, 1);
}

TEST_F(LoggingEngine, RemovedLoggerStillHandlesWhatWasQueuedForIt)
{
    // Reports how many messages it had handled when it went away.
    struct Reporting : RecordingLogger {
        explicit Reporting(std::shared_ptr<std::atomic<int>> out) : out(std::move(out)) {}
        ~Reporting() override { *out = int(messages.size()); }
        std::shared_ptr<std::atomic<int>> out;
    };
    auto handledAtDestruction = std::make_shared<std::atomic<int>>(-1);
    {
        auto logger = std::make_shared<Reporting>(handledAtDestruction);
        logger->hold();
        VGLog::addLogger(logger);
        for (int i = 0; i < 50; ++i)
            LogInfo("n %1", i);
        VGLog::removeLogger(logger);
        logger->release();
    }
    // Flushing covers loggers still draining after their removal; the last
    // reference then drops on the logger's own queue.
    VGLog::flushLog();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(handledAtDestruction->load(), 50);
}

TEST_F(LoggingEngine, FormatterChangeAppliesToLaterMessages)
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    logger->hold();
    LogInfo("before");
    auto formatter = std::make_shared<UpperFormatter>();
    logger->setLogFormatter(formatter);
    LogInfo("after");
    // Read back at once from another thread: the new one.
    VGLogFormatterPtr seen;
    std::thread reader([&] { seen = logger->logFormatter(); });
    logger->release();
    reader.join();
    EXPECT_EQ(seen, formatter);
    VGLog::flushLog();
    EXPECT_EQ(logger->snapshot(), (QStringList {"before", "AFTER"}));
}

TEST_F(LoggingEngine, WaitingCallsFromALoggersOwnQueueDoNotHang)
{
    auto logger = std::make_shared<RecordingLogger>();
    VGLog::addLogger(logger);
    VGLog::flushLog();
    bool done = false;
    logger->loggerQueue()->sync([&] {
        LogError("from the logger's queue");
        VGLog::flushLog();
        EXPECT_EQ(logger->logFormatter(), nullptr);
        done = true;
    });
    EXPECT_TRUE(done);
    VGLog::flushLog();
    EXPECT_EQ(logger->snapshot(), QStringList {"from the logger's queue"});

    VGLog::loggingQueue()->sync([&] { LogError("from the logging queue"); });
    EXPECT_EQ(logger->count(), 2u);
}

TEST_F(LoggingEngine, RegisteredClassesByName)
{
    int32_t level = 4;
    VGLog::registerClass("Note", [&] { return level; }, [&](int32_t value) { level = value; });
    EXPECT_TRUE(VGLog::isRegisteredClass("Note"));
    EXPECT_TRUE(VGLog::registeredClassNames().contains("Note"));
    EXPECT_EQ(VGLog::logLevelForClassWithName("Note"), 4);
    VGLog::setLogLevelForClassWithName(31, "Note");
    EXPECT_EQ(level, 31);
    EXPECT_FALSE(VGLog::isRegisteredClass("Nothing"));
    EXPECT_EQ(VGLog::logLevelForClassWithName("Nothing"), -1);
    VGLog::setLogLevelForClassWithName(1, "Nothing");
    EXPECT_EQ(level, 31);
}

TEST_F(LoggingEngine, EveryLoggerSeesOneOrderAcrossThreads)
{
    auto first = std::make_shared<RecordingLogger>();
    auto second = std::make_shared<RecordingLogger>();
    VGLog::addLogger(first);
    VGLog::addLogger(second);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                if (i % 100 == 0)
                    LogError("t%1 %2", t, i);
                else
                    LogInfo("t%1 %2", t, i);
            }
        });
    for (auto& thread : threads)
        thread.join();
    VGLog::flushLog();
    ASSERT_EQ(first->count(), 8000u);
    EXPECT_EQ(first->snapshot(), second->snapshot());
    std::vector<int> last(4, -1);
    for (const QString& text : first->snapshot()) {
        const int t = text.mid(1, 1).toInt();
        const int i = text.section(' ', 1).toInt();
        ASSERT_EQ(i, last[t] + 1) << qPrintable(text);
        last[t] = i;
    }
}
