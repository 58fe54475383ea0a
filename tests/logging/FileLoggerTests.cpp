#include "LoggingTestSupport.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"

#include <QDir>
#include <QRegularExpression>

namespace {

class LoggingFileLogger : public LoggingTest {
protected:
    // A logger writing bare lines (text and a line feed), installed.
    std::shared_ptr<VGFileLogger> install(uint64_t maximumFileSize = VGFileLogger::DefaultMaximumFileSize,
                                          bool doNotReuse = false)
    {
        auto logger = std::make_shared<VGFileLogger>(manager);
        logger->setLogFormatter(nullptr);
        logger->setMaximumFileSize(maximumFileSize);
        logger->setDoNotReuseLogFiles(doNotReuse);
        VGLog::addLogger(logger);
        return logger;
    }
    static void line(const QString& text) { VGLog::log(false, makeMessage(text, LogFlagError)); }

    // Oldest first.
    QList<VGLogFileInfo> files() const
    {
        QList<VGLogFileInfo> infos = manager->sortedLogFileInfos();
        std::reverse(infos.begin(), infos.end());
        return infos;
    }
    static QByteArray contents(const VGLogFileInfo& info) { return TestSupport::readFile(info.filePath()); }
    // The descriptors this process holds whose target passes the test.
    static int openDescriptors(const std::function<bool(const QString& target)>& counts)
    {
        int open = 0;
        for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
            open += counts(fd.symLinkTarget());
        return open;
    }
    // The files of the folder this process holds open, deleted ones included.
    int openFiles() const
    {
        const QString folder = QFileInfo(directory).canonicalFilePath() + QLatin1Char('/');
        return openDescriptors([&](const QString& target) { return target.startsWith(folder); });
    }
    static int fileWatches()
    {
        return openDescriptors([](const QString& target) { return target.endsWith(QStringLiteral("inotify")); });
    }

    // Logs until a line lands in a log file: the old one is gone from the listing.
    bool logUntilNewFile()
    {
        return eventually([&] {
            line("probe");
            for (const VGLogFileInfo& info : manager->sortedLogFileInfos()) {
                if (contents(info).contains("probe"))
                    return true;
            }
            return false;
        });
    }

    QString directory = freshDirectory("filelogger");
    std::shared_ptr<VGLogFileManagerDefault> manager = std::make_shared<VGLogFileManagerDefault>(directory);
};

} // namespace

TEST_F(LoggingFileLogger, RollsAfterTheWriteThatReachesTheMaximumSize)
{
    install(100);
    for (int i = 0; i < 10; ++i)
        line("123456789"); // 10 bytes with its line feed
    line("next");
    for (int i = 0; i < 4; ++i)
        line(QString(29, QLatin1Char('a'))); // 30 bytes: the fourth crosses 100
    line("last");
    VGLog::flushLog();

    const auto infos = files();
    ASSERT_EQ(infos.size(), 3);
    EXPECT_EQ(contents(infos[0]), QByteArray("123456789\n").repeated(10));
    EXPECT_EQ(contents(infos[1]), "next\n" + QByteArray(29, 'a').append('\n').repeated(4));
    EXPECT_EQ(contents(infos[2]), "last\n");
    EXPECT_TRUE(infos[0].isArchived());
    EXPECT_TRUE(infos[1].isArchived());
    EXPECT_FALSE(infos[2].isArchived());
    // Rolled files are closed; only the current one stays open.
    EXPECT_TRUE(eventually([&] { return openFiles() == 1; })) << openFiles();
}

// A roll closes the old file and its watch, and deletes the files beyond the
// count, partly on another thread: none of them stays open for long.
TEST_F(LoggingFileLogger, RollsLeaveOnlyTheCurrentFileAndItsWatchOpen)
{
    manager->setMaximumNumberOfLogFiles(2);
    Dispatch::waitUntilIdle();
    const int watchesBefore = fileWatches();
    install(100);
    for (int i = 0; i < 12; ++i)
        line(QString(29, QLatin1Char('a'))); // 30 bytes: a roll after every fourth
    line("last");
    VGLog::flushLog();

    const auto infos = files();
    ASSERT_EQ(infos.size(), 2);
    EXPECT_EQ(contents(infos[0]), QByteArray(29, 'a').append('\n').repeated(4));
    EXPECT_EQ(contents(infos[1]), "last\n");
    EXPECT_TRUE(eventually([&] { return openFiles() == 1 && fileWatches() == watchesBefore + 1; }))
        << openFiles() << " " << fileWatches() - watchesBefore;
}

TEST_F(LoggingFileLogger, DefaultFormatterAddsTheDateAndOneLineFeed)
{
    auto logger = std::make_shared<VGFileLogger>(manager);
    VGLog::addLogger(logger);
    line("core:open db");
    line("two lines\n");
    VGLog::flushLog();
    const QList<QByteArray> lines = contents(files().last()).split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  core:open db$)")
                    .match(QString::fromUtf8(lines[0]))
                    .hasMatch());
    EXPECT_TRUE(lines[1].endsWith("  two lines"));
    EXPECT_TRUE(lines[2].isEmpty());
    EXPECT_EQ(logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
}

TEST_F(LoggingFileLogger, StartContinuesOnlyASmallYoungUnarchivedNewestFile)
{
    const struct {
        const char* name;
        QByteArray text;
        bool archived;
        double age;
        bool doNotReuse;
        bool continued;
        bool archivedAfter;
    } cases[] = {
        {"small and young", "earlier\n", false, 0, false, true, false},
        {"too big", QByteArray(100, 'x'), false, 0, false, false, true},
        {"archived", "", true, 0, false, false, true},
        {"too old", "", false, 2 * 86400, false, false, true},
        {"never reused", "", false, 0, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(directory).removeRecursively();
        const QString existing = manager->createNewLogFile();
        TestSupport::writeFile(existing, c.text);
        VGLogFileInfo(existing).setIsArchived(c.archived);
        Clock::setWallClock([age = c.age] { return double(std::time(nullptr)) + age; });
        install(100, c.doNotReuse);
        line("later");
        VGLog::flushLog();
        EXPECT_EQ(VGLogFileInfo(existing).isArchived(), c.archivedAfter);
        if (c.continued) {
            EXPECT_EQ(files().size(), 1);
            EXPECT_EQ(TestSupport::readFile(existing), c.text + "later\n");
        } else {
            EXPECT_EQ(files().size(), 2);
            EXPECT_EQ(TestSupport::readFile(existing), c.text);
            EXPECT_EQ(contents(files().last()), "later\n");
        }
        LoggingTest::reset(); // removal rolls: the file in use is archived
        EXPECT_TRUE(files().last().isArchived());
    }
}

TEST_F(LoggingFileLogger, NewFileAfterTheOpenOneIsDeletedOrRenamed)
{
    install();
    line("first");
    VGLog::flushLog();
    const QString first = files().last().filePath();
    ASSERT_TRUE(QFile::remove(first));
    ASSERT_TRUE(logUntilNewFile());

    const QString second = files().last().filePath();
    const QString moved = directory + "/moved-away.txt";
    ASSERT_TRUE(QFile::rename(second, moved));
    ASSERT_TRUE(logUntilNewFile());
    EXPECT_TRUE(TestSupport::readFile(moved).startsWith("probe\n"));
}

TEST_F(LoggingFileLogger, AgeTimerCountsFromTheFileCreation)
{
    TestSupport::VirtualTime time;
    const QString existing = manager->createNewLogFile();
    const double created = *VGLogFileInfo(existing).creationDate();
    // The file was made 23 hours before the first message.
    Clock::setWallClock([created] { return created + 23 * 3600 + DispatchTime::now(); });
    install();
    line("first");
    VGLog::flushLog();
    time.advance(3600 - 1);
    EXPECT_FALSE(VGLogFileInfo(existing).isArchived());
    time.advance(1);
    EXPECT_TRUE(VGLogFileInfo(existing).isArchived());
    line("second");
    VGLog::flushLog();
    EXPECT_EQ(files().size(), 2);
    EXPECT_EQ(contents(files().last()), "second\n");
}

TEST_F(LoggingFileLogger, ZeroLimitsTurnRollingOff)
{
    TestSupport::VirtualTime time;
    const double start = double(std::time(nullptr));
    Clock::setWallClock([start] { return start + DispatchTime::now(); });
    auto logger = install(10);
    logger->setRollingFrequency(0);
    logger->setMaximumFileSize(0);
    for (int i = 0; i < 5; ++i)
        line("more than ten bytes");
    VGLog::flushLog();
    time.advance(3 * 86400);
    EXPECT_EQ(files().size(), 1);
    EXPECT_FALSE(files().first().isArchived());
    // A frequency set later rolls a file already old enough at once.
    logger->setRollingFrequency(60);
    VGLog::flushLog();
    EXPECT_TRUE(files().first().isArchived());
}

TEST_F(LoggingFileLogger, RollWithCompletionOnTheMainQueue)
{
    auto logger = install();
    bool called = false;
    logger->rollLogFileWithCompletionBlock([&] { called = DispatchQueue::main()->isCurrent(); });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return called; }, 10));

    line("open");
    VGLog::flushLog();
    called = false;
    logger->rollLogFileWithCompletionBlock([&] { called = true; });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return called; }, 10));
    EXPECT_TRUE(files().last().isArchived());
}

TEST_F(LoggingFileLogger, OnlyTheFirstTenWriteFailuresAreReported)
{
    // Every write to this "file" fails for want of space.
    struct FullDisk : VGLogFileManagerDefault {
        using VGLogFileManagerDefault::VGLogFileManagerDefault;
        QList<VGLogFileInfo> sortedLogFileInfos() override { return {}; }
        QString createNewLogFile() override { return QStringLiteral("/dev/full"); }
    };
    auto logger = std::make_shared<VGFileLogger>(std::make_shared<FullDisk>(directory));
    logger->setRollingFrequency(0);
    VGLog::addLogger(logger);
    StderrCapture capture;
    for (int i = 0; i < 15; ++i)
        line("lost");
    VGLog::flushLog();
    const QByteArray reported = capture.text();
    EXPECT_EQ(reported.count("VGFileLogger.logMessage: "), 11);
    EXPECT_TRUE(reported.contains("VGFileLogger.logMessage: Too many exceptions -- will not log any more of them."));
}
