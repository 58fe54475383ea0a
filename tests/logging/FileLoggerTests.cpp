#include "LoggingTestSupport.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"

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
    EXPECT_EQ(logger->loggerName(), "vg.logging.fileLogger");
    EXPECT_EQ(logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
}

TEST_F(LoggingFileLogger, StartContinuesASmallYoungUnarchivedFile)
{
    const QString existing = manager->createNewLogFile();
    TestSupport::writeFile(existing, "earlier\n");
    install();
    line("later");
    VGLog::flushLog();
    ASSERT_EQ(files().size(), 1);
    EXPECT_EQ(TestSupport::readFile(existing), "earlier\nlater\n");
}

TEST_F(LoggingFileLogger, StartArchivesABigOldOrArchivedNewestFile)
{
    // Too big.
    const QString big = manager->createNewLogFile();
    TestSupport::writeFile(big, QByteArray(100, 'x'));
    install(100);
    line("after big");
    VGLog::flushLog();
    EXPECT_TRUE(VGLogFileInfo(big).isArchived());
    EXPECT_EQ(TestSupport::readFile(big), QByteArray(100, 'x'));
    EXPECT_EQ(files().size(), 2);
    LoggingTest::reset(); // removal rolls: the newest file is archived now

    // Archived: never continued.
    install();
    line("after archived");
    VGLog::flushLog();
    EXPECT_EQ(files().size(), 3);
    EXPECT_EQ(contents(files().last()), "after archived\n");
    VGLog::removeAllLoggers();
    VGLog::flushLog();

    // Too old: the wall clock says two days have passed.
    const QString young = manager->createNewLogFile();
    Clock::setWallClock([] { return double(std::time(nullptr)) + 2 * 86400; });
    install();
    line("after old");
    VGLog::flushLog();
    EXPECT_TRUE(VGLogFileInfo(young).isArchived());
    EXPECT_EQ(contents(files().last()), "after old\n");
}

TEST_F(LoggingFileLogger, DoNotReuseMakesANewFileAtEveryStart)
{
    const QString existing = manager->createNewLogFile();
    install(VGFileLogger::DefaultMaximumFileSize, true);
    line("fresh");
    VGLog::flushLog();
    ASSERT_EQ(files().size(), 2);
    EXPECT_TRUE(TestSupport::readFile(existing).isEmpty());
    EXPECT_EQ(contents(files().last()), "fresh\n");
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
