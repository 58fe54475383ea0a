#include "LoggingTestSupport.h"
#include "VGLogBound.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using LoggingEngine = LoggingTest;

TEST_F(LoggingEngine, RoutesByFlagAndLevel)
{
    auto all = addRecordingLogger();
    auto errorsOnly = std::make_shared<RecordingLogger>();
    auto nothing = std::make_shared<RecordingLogger>();
    VGLog::addLogger(errorsOnly, LogFlagError);
    VGLog::addLogger(nothing, 0);

    LogInfo("core:info");
    LogError("core:error");
    VGLog::log(true, LogLevelAll, 0, 0, __FILE__, __func__, __LINE__, QVariant(), QStringLiteral("no flag"));
    VGLog::log(true, LogLevelAll, LogFlagVerbose, 0, __FILE__, __func__, __LINE__, QVariant(), QStringLiteral("v"));
    VGLog::log(false, 31, 1, 0, __FILE__, __func__, __LINE__, QVariant(), QString()); // a null format logs nothing
    VGLog::flushLog();

    EXPECT_EQ(all->snapshot(), (QStringList {"core:info", "core:error", "v"}));
    EXPECT_EQ(errorsOnly->snapshot(), QStringList {"core:error"});
    EXPECT_TRUE(nothing->snapshot().isEmpty());
    // The message's own level travels along untouched.
    EXPECT_EQ(all->messages[0].logLevel(), 31);
    EXPECT_EQ(all->messages[0].logFlag(), LogFlagInfo);
    EXPECT_EQ(all->messages[1].logFlag(), LogFlagError);
    EXPECT_EQ(all->callsOffItsQueue + errorsOnly->callsOffItsQueue, 0);
}

TEST_F(LoggingEngine, CallSiteAndArgumentsReachTheMessage)
{
    auto logger = addRecordingLogger();
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
    const std::pair<const char*, const char*> names[] = {
        {"/src/Engine.log", "Engine"}, {"Makefile", "Makefile"}, {"/src/lib.d/README", "README"},
        {"/src/archive.tar.gz", "archive.tar"}};
    for (const auto& [file, name] : names)
        EXPECT_EQ(make(file).fileName(), name) << file;
    EXPECT_TRUE(make(nullptr).fileName().isNull());
    EXPECT_TRUE(make(nullptr).methodName().isNull());
    const VGLogMessage plain = makeMessage("x");
    EXPECT_EQ(plain.threadID(), QString::asprintf("%x", plain.machThreadID()));

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

    // The creator's queue label, else its thread name.
    std::optional<VGLogMessage> onQueue, named, unnamed;
    DispatchQueue::createSerial("test.label")->sync([&] { onQueue = makeMessage("x"); });
    EXPECT_EQ(onQueue->queueLabel(), "test.label");
    std::thread([&] {
        pthread_setname_np(pthread_self(), "worker-7");
        named = makeMessage("x");
    }).join();
    std::thread([&] { unnamed = makeMessage("x"); }).join();
    EXPECT_EQ(named->threadName(), "worker-7");
    EXPECT_TRUE(named->queueLabel().isEmpty());
    EXPECT_TRUE(unnamed->threadName().isEmpty());
}

TEST_F(LoggingEngine, SynchronousCallsWaitForEveryLoggerAsynchronousOnesDoNot)
{
    auto first = addRecordingLogger();
    auto second = addRecordingLogger();
    for (int i = 0; i < 200; ++i) {
        LogError("core:error %1", i);
        ASSERT_EQ(first->count(), size_t(i + 1));
        ASSERT_EQ(second->count(), size_t(i + 1));
    }
    first->hold();
    for (int i = 0; i < 10; ++i)
        LogInfo("core:info %1", i);
    EXPECT_EQ(first->count(), 200u);
    first->release();
    VGLog::flushLog();
    EXPECT_EQ(first->count(), 210u);
}

TEST_F(LoggingEngine, ALoggerHeldInsideItsCallHoldsNoOtherBack)
{
    if (Dispatch::allowedCores() < 2)
        GTEST_SKIP() << "on one core the loggers take turns";
    auto slow = addRecordingLogger();
    auto other = addRecordingLogger();
    for (const bool asynchronous : {true, false}) {
        const size_t before = other->count();
        slow->hold();
        // A synchronous caller waits for the slow logger too, so it logs on a thread of its own.
        auto caller = std::async(std::launch::async, [asynchronous] {
            VGLog::log(asynchronous, LogLevelAll, asynchronous ? LogFlagInfo : LogFlagError, 0, __FILE__, __func__,
                       __LINE__, QVariant(), QStringLiteral("core:slow"));
        });
        EXPECT_TRUE(other->receivedWithin(before + 1)) << asynchronous;
        EXPECT_EQ(slow->count(), before) << asynchronous;
        slow->release();
        caller.get();
        ASSERT_TRUE(slow->receivedWithin(before + 1)) << asynchronous;
    }
}

TEST_F(LoggingEngine, NoLoggerStartsAMessageBeforeEveryLoggerHandledTheOneBefore)
{
    // A logger that takes nothing; a block on its queue holds the engine while both messages are queued,
    // so that they reach the loggers together.
    auto gate = std::make_shared<RecordingLogger>();
    VGLog::addLogger(gate, 0);
    for (const bool firstIsHeld : {true, false}) {
        for (const int32_t flag : {LogFlagError, LogFlagWarning, LogFlagInfo, LogFlagDebug, LogFlagVerbose}) {
            const auto [first, second] = addWatchingPair();
            const auto held = firstIsHeld ? first : second;
            const auto other = firstIsHeld ? second : first;
            held->hold();
            std::promise<void> open;
            VGLog::performOnLoggerQueue(*gate, [opened = open.get_future().share()] { opened.wait(); });
            for (const char* text : {"one", "two"})
                VGLog::log(true, LogLevelAll, flag, 0, __FILE__, __func__, __LINE__, QVariant(), QString(text));
            open.set_value();
            held->waitUntilEntered(1);
            // With one core the loggers take turns: the other one waits for the held one.
            if (Dispatch::allowedCores() > 1) {
                EXPECT_TRUE(other->receivedWithin(1)) << flag << firstIsHeld;
            }
            EXPECT_FALSE(other->receivedWithin(2, std::chrono::milliseconds(300))) << flag << firstIsHeld;
            held->release();
            VGLog::flushLog();
            EXPECT_EQ(first->snapshot(), (QStringList {"one", "two"})) << flag << firstIsHeld;
            EXPECT_EQ(second->snapshot(), first->snapshot()) << flag << firstIsHeld;
            EXPECT_EQ(first->startedEarly + second->startedEarly, 0) << flag << firstIsHeld;
            VGLog::removeLogger(first);
            VGLog::removeLogger(second);
        }
    }
}

TEST_F(LoggingEngine, TheMessageAfterAThousandOutstandingWaits)
{
    auto logger = std::make_shared<RecordingLogger>();
    logger->hold();
    VGLog::addLogger(logger);
    for (int i = 0; i < VGLog::MaximumOutstandingMessages; ++i)
        LogInfo("core:info %1", i);
    logger->waitUntilEntered(1);

    auto next = std::async(std::launch::async, [] { LogInfo("core:one too many"); });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    logger->release();
    next.get();
    VGLog::flushLog();
    EXPECT_EQ(logger->count(), size_t(VGLog::MaximumOutstandingMessages + 1));
    EXPECT_EQ(logger->texts.last(), "core:one too many");
}

// The loggers free places a run at a time: one run lets in as many waiting
// callers as it freed places, and no more.
TEST_F(LoggingEngine, ARunOfFreedPlacesLetsInAsManyWaitingCallers)
{
    VGLogBound bound(1);
    ASSERT_TRUE(bound.tryTake());
    EXPECT_FALSE(bound.tryTake());
    std::atomic<int> admitted {0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i)
        callers.emplace_back([&] {
            bound.take();
            ++admitted;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(admitted.load(), 0);
    bound.give(2);
    EXPECT_TRUE(eventually([&] { return admitted.load() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(admitted.load(), 2);
    bound.give(1);
    for (auto& caller : callers)
        caller.join();
    EXPECT_FALSE(bound.tryTake());
}

// Handled messages go back to a logging caller's thread to be freed in runs;
// none may stay held once enough later messages went through, whether it
// reached one logger or several, asynchronously or not.
// Keeps no message, so a message's tag lives only as long as the engine holds it.
struct CountingLogger : VGAbstractLogger {
    CountingLogger() : VGAbstractLogger(QStringLiteral("test.counting")) {}
    void logMessage(const VGLogMessage&) override { ++count; }
    std::atomic<int> count {0};
};

TEST_F(LoggingEngine, HandledMessagesAreLetGoWithinARunOfLaterOnes)
{
    using Counting = CountingLogger;
    struct Case {
        int loggers;
        bool asynchronous;
    };
    for (const Case c : {Case {1, true}, Case {2, true}, Case {3, false}}) {
        std::vector<std::shared_ptr<Counting>> loggers;
        for (int i = 0; i < c.loggers; ++i) {
            loggers.push_back(std::make_shared<Counting>());
            VGLog::addLogger(loggers.back());
        }
        auto held = std::make_shared<int>(7);
        const std::weak_ptr<int> watch = held;
        VGLog::log(c.asynchronous, VGLogMessage(QStringLiteral("core:tagged"), LogLevelAll, LogFlagInfo, 0, __FILE__,
                                                __func__, __LINE__, QVariant::fromValue(held)));
        held.reset();
        for (int i = 0; i < 2000; ++i)
            LogInfo("core:later %1", i);
        VGLog::flushLog();
        for (const auto& logger : loggers)
            EXPECT_EQ(logger->count.load(), 2001) << c.loggers;
        EXPECT_TRUE(watch.expired()) << c.loggers << " loggers";
        reset();
    }
}

// Several threads take runs of handled messages to free at once: none is
// freed twice or skipped, whether the threads keep logging or end.
TEST_F(LoggingEngine, HandledMessagesFromSeveralThreadsAreEachLetGo)
{
    auto logger = std::make_shared<CountingLogger>();
    VGLog::addLogger(logger);
    struct Case {
        int threads;
        int laterPerThread;
    };
    for (const Case c : {Case {2, 300}, Case {4, 1000}, Case {8, 2000}}) {
        std::vector<std::weak_ptr<int>> watches;
        std::vector<std::shared_ptr<int>> held;
        for (int t = 0; t < c.threads; ++t) {
            held.push_back(std::make_shared<int>(t));
            watches.push_back(held.back());
        }
        std::vector<std::thread> workers;
        for (int t = 0; t < c.threads; ++t)
            workers.emplace_back([&, t] {
                VGLog::log(true, VGLogMessage(QStringLiteral("core:tagged"), LogLevelAll, LogFlagInfo, 0, __FILE__,
                                              __func__, __LINE__, QVariant::fromValue(held[size_t(t)])));
                for (int i = 0; i < c.laterPerThread; ++i)
                    LogInfo("core:later %1", i);
            });
        for (auto& worker : workers)
            worker.join();
        held.clear();
        VGLog::flushLog();
        // What the ended threads left in the shared list goes with this thread's later messages.
        for (int i = 0; i < 2000; ++i)
            LogInfo("core:after %1", i);
        VGLog::flushLog();
        EXPECT_EQ(logger->count.exchange(0), c.threads * (1 + c.laterPerThread) + 2000) << c.threads;
        for (size_t t = 0; t < watches.size(); ++t)
            EXPECT_TRUE(watches[t].expired()) << c.threads << " threads, thread " << t;
    }
}

TEST_F(LoggingEngine, LoggerListInOrderOfAdditionAndTwiceGetsEachMessageTwice)
{
    auto logger = addRecordingLogger();
    VGLog::addLogger(logger);
    auto other = addRecordingLogger();
    EXPECT_EQ(VGLog::allLoggers(), (QList<VGLoggerPtr> {logger, logger, other}));
    LogError("twice");
    VGLog::removeLogger(logger);
    EXPECT_EQ(VGLog::allLoggers(), (QList<VGLoggerPtr> {logger, other}));
    LogError("once");
    VGLog::flushLog();
    EXPECT_EQ(logger->snapshot(), (QStringList {"twice", "twice", "once"}));
    VGLog::removeAllLoggers();
    EXPECT_TRUE(VGLog::allLoggers().isEmpty());
}

TEST_F(LoggingEngine, FlushWritesEverythingQueuedBefore)
{
    VGLog::flushLog(); // with no logger it just returns
    auto logger = addRecordingLogger();
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
    auto logger = addRecordingLogger();
    logger->hold();
    LogInfo("before");
    auto formatter = std::make_shared<FunctionFormatter>([](const VGLogMessage& m) { return m.logMsg().toUpper(); });
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
    auto logger = addRecordingLogger();
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
    // Callers racing the loggers for their mailboxes: nothing lost, doubled or
    // reordered, whether the mailbox is rarely or always contended.
    auto first = addRecordingLogger();
    auto second = addRecordingLogger();
    const std::pair<int, int> loads[] = {{1, 3000}, {4, 2000}, {8, 1000}};
    for (const auto& [threads, perThread] : loads) {
        const qsizetype before = first->snapshot().size();
        logFromThreads(threads, perThread);
        VGLog::flushLog();
        const QStringList seen = first->snapshot().mid(before);
        ASSERT_EQ(seen.size(), threads * perThread) << threads;
        EXPECT_EQ(seen, second->snapshot().mid(before)) << threads;
        std::vector<int> next(size_t(threads), 0);
        for (const QString& text : seen) {
            const QStringList words = text.split(' ');
            const int thread = words[1].mid(1).toInt();
            EXPECT_EQ(words[2].mid(1).toInt(), next[size_t(thread)]++) << text.toStdString();
        }
    }
}

TEST_F(LoggingEngine, ALoggerSeesWhatWasQueuedWhileItWasInstalled)
{
    // Records its addition ('+') and removal ('-') among the texts.
    struct Marking : RecordingLogger {
        void didAddLogger() override { mark("+"); }
        void willRemoveLogger() override { mark("-"); }
        void mark(const QString& event)
        {
            std::lock_guard lock(mutex);
            texts << event;
        }
    };
    // The script: 'a' adds the logger, 'r' removes it, a digit logs itself.
    // Another logger is held on its first message meanwhile, so the whole
    // script waits in line before any of it is handled.
    struct Case {
        const char* script;
        const char* seen;
    };
    const Case cases[] = {
        {"1a2r3", "+2-"},
        {"a12r3a4", "+12-+4"},
        {"a1rr2", "+1-"},
        {"ara1", "+-+1"},
        {"12r3", ""},
        {"a", "+"},
    };
    for (const Case& c : cases) {
        auto blocker = addRecordingLogger();
        blocker->hold();
        LogInfo("0");
        blocker->waitUntilEntered(1);
        auto logger = std::make_shared<Marking>();
        for (const char* op = c.script; *op; ++op) {
            if (*op == 'a')
                VGLog::addLogger(logger);
            else if (*op == 'r')
                VGLog::removeLogger(logger);
            else
                VGLog::log(true, LogLevelAll, LogFlagInfo, 0, __FILE__, __func__, __LINE__, QVariant(), QString(*op));
        }
        blocker->release();
        VGLog::flushLog();
        EXPECT_EQ(logger->snapshot().join(QString()), QString::fromLatin1(c.seen)) << c.script;
        EXPECT_EQ(logger->callsOffItsQueue, 0) << c.script;
        reset();
    }
}

TEST_F(LoggingEngine, ARemovedLoggerGoesOnItsOwnQueue)
{
    // A logger's teardown writes out what it holds: on its queue, like every other call.
    struct Reporting : RecordingLogger {
        explicit Reporting(std::shared_ptr<std::atomic<int>> onQueue) : onQueue(std::move(onQueue)) {}
        ~Reporting() override { *onQueue = isOnInternalLoggerQueue() ? 1 : 0; }
        std::shared_ptr<std::atomic<int>> onQueue;
    };
    // Whether the logger takes a block of its own before it goes.
    for (const bool withBlock : {false, true}) {
        auto onQueue = std::make_shared<std::atomic<int>>(-1);
        auto blocker = addRecordingLogger();
        blocker->hold();
        LogInfo("held");
        blocker->waitUntilEntered(1);
        {
            auto logger = std::make_shared<Reporting>(onQueue);
            VGLog::addLogger(logger);
            LogInfo("queued");
            if (withBlock)
                VGLog::performOnLoggerQueue(*logger, [logger] { logger->flush(); });
            VGLog::removeLogger(logger);
        }
        blocker->release();
        VGLog::flushLog();
        Dispatch::waitUntilIdle();
        EXPECT_EQ(onQueue->load(), 1) << withBlock;
        reset();
    }
}
