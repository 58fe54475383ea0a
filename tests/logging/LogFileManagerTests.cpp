#include "LoggingTestSupport.h"
#include "VGLogFileFormatterDefault.h"
#include "VGLogFileInfo.h"
#include "VGLogFileManagerDefault.h"

#include <QDateTime>
#include <QDir>

#include <sys/xattr.h>

namespace {

// 14:05 UTC on 2 March 2015.
const double march2 = QDateTime(QDate(2015, 3, 2), QTime(14, 5, 30), Qt::UTC).toSecsSinceEpoch();

class LoggingFileManager : public LoggingTest {
protected:
    // A file of the given size; the files made later are the newer ones.
    QString make(const QString& name, int size = 0)
    {
        const QString path = directory + "/" + name;
        TestSupport::writeFile(path, QByteArray(size, 'x'));
        return path;
    }
    QStringList namesOnDisk() const
    {
        QStringList names = QDir(directory).entryList(QDir::Files);
        names.sort();
        return names;
    }

    QString directory = freshDirectory("logs");
    QString app = VGLogFileManagerDefault::applicationName();
};

} // namespace

TEST_F(LoggingFileManager, ListsOnlyLogFilesOfThisApplication)
{
    for (const QString& name : QStringList {app + " 2015-03-02 14-05.log", app + " 2015-03-02 14-05 2.log",
                                            app + ".log", "Other 2015-03-02 14-05.log", app + " abcd-ef-gh ij-kl.log",
                                            app + " 2015-03-02 14-05 2 3.log", app + " 2015-03-02 14-05.txt"})
        make(name);
    VGLogFileManagerDefault manager(directory);
    QStringList names = manager.unsortedLogFileNames();
    names.sort();
    EXPECT_EQ(names, (QStringList {app + " 2015-03-02 14-05 2.log", app + " 2015-03-02 14-05.log"}));
    EXPECT_EQ(manager.unsortedLogFilePaths().size(), 2);
    EXPECT_TRUE(manager.unsortedLogFilePaths().first().startsWith(directory + "/"));
}

TEST_F(LoggingFileManager, NewFilesOfOneMinuteAreNumberedAndTheOldestGoBeyondTheCount)
{
    Clock::setWallClock([] { return march2; });
    VGLogFileManagerDefault manager(directory);
    manager.setMaximumNumberOfLogFiles(3);
    Dispatch::waitUntilIdle();
    QStringList made;
    for (int i = 0; i < 4; ++i)
        made << QFileInfo(manager.createNewLogFile()).fileName();
    EXPECT_EQ(made, (QStringList {app + " 2015-03-02 14-05.log", app + " 2015-03-02 14-05 2.log",
                                  app + " 2015-03-02 14-05 3.log", app + " 2015-03-02 14-05 4.log"}));
    QStringList expected = made.mid(1);
    expected.sort();
    EXPECT_EQ(namesOnDisk(), expected);
    // The folder is made when missing, and listing sorts the newest first.
    EXPECT_EQ(manager.sortedLogFileNames().first(), made.last());
    EXPECT_EQ(manager.sortedLogFileNames().last(), made[1]);

    VGLogFileManagerDefault unlimited(directory);
    unlimited.setMaximumNumberOfLogFiles(0);
    unlimited.setLogFilesDiskQuota(0);
    for (int i = 0; i < 4; ++i)
        unlimited.createNewLogFile();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(namesOnDisk().size(), 7);
}

TEST_F(LoggingFileManager, QuotaKeepsTheNewestUnarchivedFile)
{
    make(app + " 2015-03-02 14-01.log", 10);
    make(app + " 2015-03-02 14-02.log", 10);
    const QString newest = make(app + " 2015-03-02 14-03.log", 150);
    VGLogFileManagerDefault manager(directory);
    manager.setMaximumNumberOfLogFiles(0);
    manager.setLogFilesDiskQuota(100);
    manager.deleteOldLogFiles();
    EXPECT_EQ(namesOnDisk(), QStringList {app + " 2015-03-02 14-03.log"});

    VGLogFileInfo(newest).setIsArchived(true);
    manager.deleteOldLogFiles();
    EXPECT_TRUE(namesOnDisk().isEmpty());
}

TEST_F(LoggingFileManager, ChangingALimitDeletesOnTheLoggingQueue)
{
    for (int minute = 1; minute <= 6; ++minute)
        make(app + QString(" 2015-03-02 14-0%1.log").arg(minute));
    VGLogFileManagerDefault manager(directory);
    // The value it has already (5): no deletion, though one file is over it.
    manager.setMaximumNumberOfLogFiles(VGLogFileManagerDefault::DefaultMaximumNumberOfLogFiles);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(namesOnDisk().size(), 6);

    manager.setMaximumNumberOfLogFiles(2);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(namesOnDisk(), (QStringList {app + " 2015-03-02 14-05.log", app + " 2015-03-02 14-06.log"}));
}

TEST_F(LoggingFileManager, ArchivedFlagIsAnAttributeOfTheFile)
{
    const QString path = make(app + " 2015-03-02 14-05.log");
    VGLogFileInfo info(path);
    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(true);
    EXPECT_TRUE(VGLogFileInfo(path).isArchived());
    EXPECT_EQ(getxattr(QFile::encodeName(path).constData(), "user.vg.log.archived", nullptr, 0), 0);
    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived());
    {
        StderrCapture capture;
        info.setIsArchived(false); // absent already: nothing to report
        EXPECT_TRUE(capture.text().isEmpty());
    }
}

TEST_F(LoggingFileManager, InfoReadsAndCachesAttributes)
{
    const QString path = make(app + " 2015-03-02 14-05.log", 42);
    VGLogFileInfo info(path);
    EXPECT_EQ(info.fileName(), app + " 2015-03-02 14-05.log");
    EXPECT_EQ(info.fileSize(), 42u);
    ASSERT_TRUE(info.creationDate());
    EXPECT_NEAR(*info.creationDate(), QFileInfo(path).birthTime().toMSecsSinceEpoch() / 1000.0, 1.0);
    Clock::setWallClock([created = *info.creationDate()] { return created + 90; });
    EXPECT_NEAR(info.age(), 90, 1e-6);
    EXPECT_FALSE(VGLogFileInfo(directory + "/missing.log").creationDate());
    EXPECT_EQ(VGLogFileInfo(directory + "/missing.log").fileSize(), 0u);
    EXPECT_EQ(VGLogFileManagerDefault::dateInLogFileName(app + " 2015-03-02 14-05 3.log"), march2 - 30);
}

TEST_F(LoggingFileManager, RenameReplacesAFileOfTheNewName)
{
    const QString path = make(app + " 2015-03-02 14-05.log", 5);
    make("taken.log", 9);
    VGLogFileInfo info(path);
    info.renameFile(info.fileName()); // same name: nothing
    EXPECT_EQ(info.filePath(), path);
    info.renameFile("taken.log");
    EXPECT_EQ(info.filePath(), directory + "/taken.log");
    EXPECT_EQ(namesOnDisk(), QStringList {"taken.log"});
    EXPECT_EQ(TestSupport::readFile(directory + "/taken.log"), QByteArray(5, 'x'));
}

TEST_F(LoggingFileManager, DefaultLineFormat)
{
    const double at = QDateTime(QDate(2015, 3, 1), QTime(9, 3, 4, 5)).toMSecsSinceEpoch() / 1000.0;
    VGLogFileFormatterDefault formatter;
    const VGLogMessage message("core:open db", 31, 4, 0, "f", "g", 1, {}, 0, at);
    EXPECT_EQ(formatter.formatLogMessage(message), "2015/03/01 09:03:04:005  core:open db");

    VGLogFileFormatterDefault custom([](double) { return QStringLiteral("T"); });
    EXPECT_EQ(custom.formatLogMessage(message), "T  core:open db");
    EXPECT_FALSE(custom.appendsLines());

    // The line appended to a batch is the formatted text in UTF-8, byte for byte.
    ASSERT_TRUE(formatter.appendsLines());
    const QString texts[] = {"", "caf\u00e9 \u2713\n", QString(300, 'x'), QStringLiteral("half ") + QChar(0xD800),
                             QChar(0xDC00) + QStringLiteral(" low"), QString::fromUtf8("\U0001F970 pair")};
    QByteArray batch = "earlier line\n";
    for (const QString& text : texts) {
        const VGLogMessage m(text, 31, 4, 0, "f", "g", 1, {}, 0, at);
        const QByteArray before = batch;
        formatter.appendLine(m, batch);
        EXPECT_EQ(batch, before + formatter.formatLogMessage(m)->toUtf8()) << text.size();
    }
}

TEST_F(LoggingFileManager, DefaultFolderFollowsTheStateHome)
{
    EXPECT_EQ(VGLogFileManagerDefault::defaultLogsDirectory(),
              qEnvironmentVariable("XDG_STATE_HOME") + "/Logs/" + program_invocation_short_name);
}
