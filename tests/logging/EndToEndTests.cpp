#include "LoggingTestSupport.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>

using LoggingEndToEnd = LoggingTest;

TEST_F(LoggingEndToEnd, FourThreadsThroughTerminalAndRollingFiles)
{
    const double minute = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 0), Qt::UTC).toSecsSinceEpoch();
    Clock::setWallClock([minute] { return minute; });
    const QString directory = TestSupport::home() + "/end-to-end";
    auto manager = std::make_shared<VGLogFileManagerDefault>(directory);
    manager->setMaximumNumberOfLogFiles(3);
    auto file = std::make_shared<VGFileLogger>(manager);
    file->setMaximumFileSize(64 * 1024);
    file->setRollingFrequency(86400);

    StderrCapture terminal;
    VGLog::addLogger(sharedTTYLogger());
    VGLog::addLogger(file);
    constexpr int threads = 4;
    constexpr int perThread = 5000;
    logFromThreads(threads, perThread);
    VGLog::flushLog();
    const QByteArray terminalText = terminal.text();

    EXPECT_EQ(terminalText.count('\n'), threads * perThread);

    // Oldest first; all made in the one minute, so told apart by their numbers.
    QList<VGLogFileInfo> infos = manager->sortedLogFileInfos();
    std::reverse(infos.begin(), infos.end());
    ASSERT_EQ(infos.size(), 3);
    const QString prefix = VGLogFileManagerDefault::applicationName() + " 2026-03-02 09-05";
    const QRegularExpression name("^" + QRegularExpression::escape(prefix) + "( \\d+)?\\.log$");
    QSet<QString> names;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(name.match(infos[i].fileName()).hasMatch()) << qPrintable(infos[i].fileName());
        names << infos[i].fileName();
        EXPECT_EQ(infos[i].isArchived(), i < 2) << i;
    }
    EXPECT_EQ(names.size(), 3);

    // Each thread's lines in order and complete: on the terminal all of them, in the
    // kept files from each thread's first kept line to its last.
    const QRegularExpression pattern(R"(test:line t(\d) n(\d+))");
    const auto checkOrder = [&](const QList<QByteArray>& lines, bool complete) {
        std::vector<int> last(threads, -1);
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            const auto match = pattern.match(QString::fromUtf8(line));
            ASSERT_TRUE(match.hasMatch()) << line.constData();
            const int t = match.captured(1).toInt();
            const int n = match.captured(2).toInt();
            if (last[t] >= 0 || complete) {
                ASSERT_EQ(n, last[t] + 1) << line.constData();
            }
            last[t] = n;
        }
        for (int t = 0; t < threads; ++t) {
            if (complete || last[t] >= 0) {
                EXPECT_EQ(last[t], perThread - 1) << t;
            }
        }
    };
    checkOrder(terminalText.split('\n'), true);
    QList<QByteArray> kept;
    for (const VGLogFileInfo& info : infos)
        kept << TestSupport::readFile(info.filePath()).split('\n');
    checkOrder(kept, false);
    EXPECT_GT(kept.size(), 1000);
    EXPECT_LE(TestSupport::readFile(infos[0].filePath()).size(), 64 * 1024 + 100);
}
