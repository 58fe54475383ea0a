#include "LoggingTestSupport.h"
#include "VGASLLogCapture.h"
#include "VGASLLogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>

#include <cstring>

#include <sys/mount.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace {

const char journalRemote[] = "/usr/lib/systemd/systemd-journal-remote";

// One journal record in export form.
struct Record {
    qint64 microseconds;
    QByteArray fields; // "KEY=value\n" lines
};

class LoggingSystemLogCapture : public LoggingTest {
protected:
    void SetUp() override
    {
        if (!QFile::exists(journalRemote))
            GTEST_SKIP() << "systemd-journal-remote is not installed";
        LoggingTest::SetUp();
        QDir().mkpath(directory);
        Clock::setWallClock([this] { return double(start); });
        VGASLLogCapture::setJournalDirectory(directory);
        VGASLLogCapture::setCaptureLogLevel(LogLevelAll);
        logger = addRecordingLogger();
    }
    void TearDown() override
    {
        VGASLLogCapture::stop();
        Dispatch::waitUntilIdle();
        VGASLLogCapture::setJournalDirectory(QString());
        VGASLLogCapture::setCaptureLogLevel(LogLevelAll);
        LoggingTest::TearDown();
    }

    // A record of this process (unless fields name another _PID) at second + offset.
    Record record(qint64 offsetMicroseconds, const QByteArray& fields, bool ownPid = true) const
    {
        QByteArray all = fields;
        if (ownPid)
            all += "_PID=" + QByteArray::number(getpid()) + "\n";
        return {start * 1000000 + offsetMicroseconds, all};
    }
    // Writes the records as a new journal file of the folder.
    void writeJournal(const QList<Record>& records)
    {
        QByteArray text;
        for (const Record& r : records)
            text += "__REALTIME_TIMESTAMP=" + QByteArray::number(r.microseconds) + "\n__MONOTONIC_TIMESTAMP="
                + QByteArray::number(monotonic++) + "\n_BOOT_ID=fe452a51a3954cb38b3d2349517bc761\n" + r.fields + "\n";
        const QString name = QString("part-%1").arg(++files);
        TestSupport::writeFile(directory + "/" + name + ".export", text);
        QProcess remote;
        // Written elsewhere and moved in, so the reader never sees a half-made file.
        const QString staging = TestSupport::home() + "/" + name + ".journal";
        remote.start(journalRemote, {"--output=" + staging, directory + "/" + name + ".export"});
        ASSERT_TRUE(remote.waitForFinished(30000));
        ASSERT_EQ(remote.exitCode(), 0) << remote.readAllStandardError().constData();
        QFile::remove(directory + "/" + name + ".export");
        ASSERT_TRUE(QFile::rename(staging, directory + "/" + name + ".journal"));
    }

    int files = 0;
    // Runs on across files: the reader orders the records of one boot by it.
    qint64 monotonic = 1;
    qint64 start = 1800000000;
    QString directory = freshDirectory("journal");
    std::shared_ptr<RecordingLogger> logger;
};

} // namespace

TEST(LoggingSystemLog, LevelTables)
{
    const std::pair<int32_t, int> levels[] = {{1, 2}, {2, 3}, {4, 4}, {0, 5}, {3, 5}, {5, 5}, {8, 5}, {16, 5}, {31, 5}};
    for (const auto& [flag, level] : levels)
        EXPECT_EQ(VGASLLogger::levelForFlag(flag), level) << flag;

    const int32_t flags[] = {1, 1, 1, 2, 4, 8, 16, 16};
    for (int level = 0; level <= 7; ++level) {
        EXPECT_EQ(VGASLLogCapture::routingForLevel(level).flag, flags[level]) << level;
        EXPECT_EQ(VGASLLogCapture::routingForLevel(level).synchronous, level <= 2) << level;
    }
    EXPECT_EQ(VGASLLogCapture::routingForLevel(-1).flag, LogFlagVerbose);
    EXPECT_EQ(VGASLLogCapture::routingForLevel(9).flag, LogFlagVerbose);
    // Once the shared instance exists, no second one is made.
    ASSERT_TRUE(VGASLLogger::sharedInstance());
    EXPECT_EQ(VGASLLogger::create(), nullptr);
}

TEST_F(LoggingSystemLogCapture, TakesOnlyThisProcesssOwnRecordsFromTheStartSecond)
{
    writeJournal({
        record(-1, "PRIORITY=4\nMESSAGE=before the start\n"),
        record(10, "PRIORITY=2\nMESSAGE=critical\n"),
        record(20, "PRIORITY=4\nMESSAGE=other process\n_PID=1\n", false),
        record(30, "PRIORITY=3\nMESSAGE=warning\n"),
        record(40, "PRIORITY=5\nMESSAGE=notice\n"),
        record(50, "PRIORITY=7\nMESSAGE=debug\n"),
        record(60, "MESSAGE=no priority\n"),
        record(70, "PRIORITY=4\n"),
        record(80, "PRIORITY=4\nMESSAGE=ours, written back\nVG_LOGGING=1\n"),
        record(90, "PRIORITY=4\nMESSAGE=our stderr\n_TRANSPORT=stdout\n"),
        record(100, "PRIORITY=4\nMESSAGE=info\n"),
    });
    VGASLLogCapture::start();
    VGASLLogCapture::start(); // already capturing: nothing more
    ASSERT_TRUE(eventually([&] { return logger->count() >= 5; }));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->snapshot(), (QStringList {"critical", "warning", "notice", "debug", "info"}));
    const int32_t flags[] = {1, 2, 8, 16, 4};
    for (int i = 0; i < 5; ++i) {
        const VGLogMessage& m = logger->messages[size_t(i)];
        EXPECT_EQ(m.logFlag(), flags[i]) << i;
        EXPECT_STREQ(m.file(), "VGASLLogCapture");
        EXPECT_EQ(m.logLevel(), LogLevelAll);
    }
    EXPECT_DOUBLE_EQ(logger->messages[0].timestamp(), double(start) + 10e-6);
}

TEST_F(LoggingSystemLogCapture, LaterPassesTakeOnlyNewRecords)
{
    const QStringList texts = {"first", "second", "third", "fourth"};
    for (qsizetype n = 1; n <= texts.size(); ++n) {
        // Before the last, stop and start again with nothing new: one registration, no repeats.
        if (n == texts.size()) {
            VGASLLogCapture::stop();
            VGASLLogCapture::start();
        }
        writeJournal({record(n * 10, "PRIORITY=4\nMESSAGE=" + texts[n - 1].toUtf8() + "\n")});
        if (n == 1)
            VGASLLogCapture::start();
        ASSERT_TRUE(eventually([&] { return qsizetype(logger->count()) >= n; }));
    }
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->snapshot(), texts);
}

TEST_F(LoggingSystemLogCapture, CaptureLevelFilters)
{
    writeJournal({record(10, "PRIORITY=1\nMESSAGE=alert\n"), record(20, "PRIORITY=4\nMESSAGE=info\n"),
                  record(30, "PRIORITY=3\nMESSAGE=error\n")});
    VGASLLogCapture::setCaptureLogLevel(LogFlagError);
    VGASLLogCapture::start();
    ASSERT_TRUE(eventually([&] { return logger->count() >= 1; }));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->snapshot(), QStringList {"alert"});
    EXPECT_EQ(logger->messages[0].logLevel(), LogFlagError);

    VGASLLogCapture::stop();
    VGASLLogCapture::setCaptureLogLevel(0);
    VGASLLogCapture::start();
    writeJournal({record(40, "PRIORITY=0\nMESSAGE=emergency\n")});
    // The file is read (the capture's queue goes idle after its pass) but nothing passes.
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->count(), 1u);
}

TEST_F(LoggingSystemLogCapture, ARecordReachesEachLoggerWhileAnotherIsHeld)
{
    if (Dispatch::allowedCores() < 2)
        GTEST_SKIP() << "on one core the loggers take turns";
    auto other = addRecordingLogger();
    size_t received = 0;
    for (const int level : {0, 1, 2, 3, 4, 5, 6, 7, 8, -1}) {
        logger->hold();
        writeJournal({record(qint64(received + 1) * 10, "PRIORITY=" + QByteArray::number(level) + "\nMESSAGE=level "
                                             + QByteArray::number(level) + "\n")});
        if (received == 0)
            VGASLLogCapture::start();
        ++received;
        EXPECT_TRUE(other->receivedWithin(received)) << level;
        EXPECT_EQ(logger->count(), received - 1) << level;
        logger->release();
        ASSERT_TRUE(logger->receivedWithin(received)) << level;
    }
    Dispatch::waitUntilIdle();
    EXPECT_EQ(other->snapshot(), logger->snapshot());
}

TEST_F(LoggingSystemLogCapture, NoLoggerTakesARecordBeforeEveryLoggerHandledTheOneBefore)
{
    VGLog::removeLogger(logger);
    const auto [held, other] = addWatchingPair();
    size_t received = 0;
    // The priorities whose records are passed on without waiting.
    for (const int level : {3, 4, 5, 6, 7, 8, -1}) {
        held->hold();
        QList<Record> records;
        for (const char* text : {"first", "second"})
            records << record(qint64(records.size() + received + 1) * 10,
                              "PRIORITY=" + QByteArray::number(level) + "\nMESSAGE=" + text + "\n");
        writeJournal(records);
        if (received == 0)
            VGASLLogCapture::start();
        held->waitUntilEntered(int(received + 1));
        EXPECT_FALSE(other->receivedWithin(received + 2, std::chrono::milliseconds(300))) << level;
        held->release();
        received += 2;
        ASSERT_TRUE(held->receivedWithin(received)) << level;
        ASSERT_TRUE(other->receivedWithin(received)) << level;
    }
    EXPECT_EQ(other->snapshot(), held->snapshot());
    EXPECT_EQ(held->startedEarly + other->startedEarly, 0);
}

QString mountNamespace() { return QFileInfo("/proc/self/ns/mnt").symLinkTarget(); }

// The test below runs this one in a private mount namespace, where it may cover /run.
TEST(LoggingSystemLogPrivateJournal, DISABLED_Inner)
{
    const QString outer = qEnvironmentVariable("VG_LOGGING_PRIVATE_JOURNAL");
    if (outer.isEmpty() || outer == mountNamespace())
        GTEST_SKIP() << "runs only inside LoggingSystemLog.EndToEndWithAPrivateJournal";
    // Private /run and journal folders, then a journald of our own.
    ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, nullptr), 0) << strerror(errno);
    if (QFileInfo::exists("/var/log/journal")) {
        ASSERT_EQ(mount("tmpfs", "/var/log/journal", "tmpfs", 0, nullptr), 0) << strerror(errno);
    }
    QDir().mkpath("/run/systemd/journal");
    QDir().mkpath("/run/log/journal");
    QProcess journald;
    journald.start("/usr/lib/systemd/systemd-journald", {});
    ASSERT_TRUE(journald.waitForStarted());
    const auto stopJournald = qScopeGuard([&] {
        journald.kill();
        journald.waitForFinished();
    });
    ASSERT_TRUE(eventually([] { return QFileInfo::exists("/run/systemd/journal/socket"); }));

    auto recording = std::make_shared<RecordingLogger>();
    VGLog::addLogger(VGASLLogger::sharedInstance());
    VGLog::addLogger(recording);
    VGASLLogCapture::start();
    Dispatch::waitUntilIdle();

    LogInfo("core:open %1", "100% done");
    LogError("core:failed");
    sd_journal_send("MESSAGE=written by other means", "PRIORITY=4", nullptr);
    ASSERT_TRUE(eventually([&] { return recording->snapshot().contains("written by other means"); }));
    VGLog::flushLog();
    Dispatch::waitUntilIdle();
    // The library's own records are not taken back.
    EXPECT_EQ(recording->snapshot(), (QStringList {"core:open 100% done", "core:failed", "written by other means"}));
    EXPECT_STREQ(recording->messages[2].file(), "VGASLLogCapture");

    // What the journal holds from this process: our two records, marked, and the
    // captured one not written back.
    sd_journal* journal = nullptr;
    ASSERT_GE(sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY), 0);
    const QByteArray pid = "_PID=" + QByteArray::number(getpid());
    sd_journal_add_match(journal, pid.constData(), 0);
    QStringList seen;
    SD_JOURNAL_FOREACH(journal)
    {
        const auto get = [&](const char* name) {
            const void* data;
            size_t length;
            return sd_journal_get_data(journal, name, &data, &length) >= 0
                ? QString::fromUtf8(static_cast<const char*>(data), qsizetype(length))
                : QString();
        };
        seen << get("MESSAGE") + "|" + get("PRIORITY") + "|" + get("VG_LOGGING") + "|" + get("CODE_FILE");
    }
    sd_journal_close(journal);
    const QString file = "CODE_FILE=" + QString(__FILE__);
    EXPECT_EQ(seen, (QStringList {"MESSAGE=core:open 100% done|PRIORITY=4|VG_LOGGING=1|" + file,
                                  "MESSAGE=core:failed|PRIORITY=2|VG_LOGGING=1|" + file,
                                  "MESSAGE=written by other means|PRIORITY=4||" + file}));
    VGASLLogCapture::stop();
    VGLog::removeAllLoggers();
    VGLog::flushLog();
}

TEST(LoggingSystemLog, EndToEndWithAPrivateJournal)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a private mount namespace for a journald of its own";
    if (!QFile::exists("/usr/lib/systemd/systemd-journald") || !QFile::exists("/usr/bin/unshare"))
        GTEST_SKIP() << "systemd-journald or unshare is not installed";
    QProcess probe;
    probe.start("/usr/bin/unshare", {"--mount", "--propagation", "private", "true"});
    probe.waitForFinished();
    if (probe.exitCode() != 0)
        GTEST_SKIP() << "cannot make a mount namespace here: " << probe.readAllStandardError().constData();

    QProcess inner;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VG_LOGGING_PRIVATE_JOURNAL", mountNamespace());
    inner.setProcessEnvironment(environment);
    inner.start("/usr/bin/unshare", {"--mount", "--propagation", "private", QCoreApplication::applicationFilePath(),
                                     "--gtest_also_run_disabled_tests",
                                     "--gtest_filter=LoggingSystemLogPrivateJournal.DISABLED_Inner"});
    ASSERT_TRUE(inner.waitForFinished(60000));
    const QByteArray output = inner.readAllStandardOutput() + inner.readAllStandardError();
    EXPECT_EQ(inner.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    EXPECT_FALSE(output.contains("SKIPPED")) << output.constData();
}
