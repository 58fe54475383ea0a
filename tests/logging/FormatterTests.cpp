#include "LoggingTestSupport.h"
#include "VGContextBlacklistFilterLogFormatter.h"
#include "VGContextWhitelistFilterLogFormatter.h"
#include "VGDispatchQueueLogFormatter.h"
#include "VGLogTimestamp.h"
#include "VGMultiFormatter.h"

#include <QDateTime>

#include <cmath>

namespace {

VGLogMessage messageWithContext(int32_t context) { return makeMessage("core:open db", LogFlagInfo, context); }

// A message made on the given queue (or on a plain thread when there is none).
VGLogMessage messageOn(const DispatchQueuePtr& queue)
{
    std::optional<VGLogMessage> made;
    if (queue) {
        auto group = DispatchGroup::create();
        group->async(queue, [&] { made = makeMessage("text"); });
        group->wait();
    } else
        std::thread([&] { made = makeMessage("text"); }).join();
    return *made;
}

} // namespace

TEST(LoggingFormatters, ContextFilters)
{
    VGContextWhitelistFilterLogFormatter whitelist;
    VGContextBlacklistFilterLogFormatter blacklist;
    const VGLogMessage five = messageWithContext(5);
    const VGLogMessage zero = messageWithContext(0);
    EXPECT_FALSE(whitelist.formatLogMessage(five)); // empty whitelist: nothing passes
    EXPECT_EQ(blacklist.formatLogMessage(five), five.logMsg());

    whitelist.addToWhitelist(5);
    blacklist.addToBlacklist(5);
    const auto passed = whitelist.formatLogMessage(five);
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->constData(), five.logMsg().constData()); // the message's own text
    EXPECT_FALSE(whitelist.formatLogMessage(zero));
    EXPECT_FALSE(blacklist.formatLogMessage(five));
    EXPECT_EQ(blacklist.formatLogMessage(zero)->constData(), zero.logMsg().constData());

    whitelist.removeFromWhitelist(5);
    EXPECT_FALSE(whitelist.formatLogMessage(five));
}

TEST(LoggingFormatters, DispatchQueueLineAndLabels)
{
    VGDispatchQueueLogFormatter formatter;
    const VGLogMessage onMain("core:open db", 31, LogFlagInfo, 0, "f", "g", 1, {}, 0, 1772442303.042);
    const QString stamp = QDateTime::fromMSecsSinceEpoch(1772442303042).toString("yyyy-MM-dd HH:mm:ss:zzz");
    EXPECT_EQ(formatter.formatLogMessage(onMain), stamp + " [main] core:open db");

    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(messageOn(DispatchQueue::createSerial("net.x.file"))),
              "net.x.file");
    const VGLogMessage onGlobal = messageOn(DispatchQueue::global());
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onGlobal), onGlobal.threadID());
    const VGLogMessage plain = messageOn(nullptr);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(plain), plain.threadID());

    formatter.setMinQueueLength(8);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onMain), "main    ");
    formatter.setMaxQueueLength(3);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onMain), "mai");
    formatter.setMinQueueLength(0);
    formatter.setMaxQueueLength(0);

    formatter.setReplacementString(QString(), DispatchQueue::mainLabel());
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onMain), DispatchQueue::mainLabel());
    EXPECT_TRUE(formatter.replacementStringForQueueLabel(DispatchQueue::mainLabel()).isNull());

    // A cut never leaves half of a surrogate pair.
    formatter.setReplacementString(QStringLiteral("ab\U0001F600cd"), DispatchQueue::mainLabel());
    formatter.setMaxQueueLength(3);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onMain), "ab");
    formatter.setMaxQueueLength(4);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(onMain), QStringLiteral("ab\U0001F600"));
}

TEST(LoggingFormatters, MultiFormatterChainsAndStopsAtADrop)
{
    VGMultiFormatter multi;
    const VGLogMessage five = messageWithContext(5);
    EXPECT_EQ(multi.formatLogMessage(five), five.logMsg());

    auto whitelist = std::make_shared<VGContextWhitelistFilterLogFormatter>();
    whitelist->addToWhitelist(5);
    auto queueFormatter = std::make_shared<VGDispatchQueueLogFormatter>();
    multi.addFormatter(whitelist);
    multi.addFormatter(queueFormatter);
    EXPECT_EQ(multi.formatters(), (QList<VGLogFormatterPtr> {whitelist, queueFormatter}));

    const auto line = multi.formatLogMessage(five);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->endsWith(" [main] core:open db"));
    EXPECT_FALSE(multi.formatLogMessage(messageWithContext(0)));

    // Each formatter sees the text the one before made.
    auto second = std::make_shared<VGDispatchQueueLogFormatter>();
    multi.addFormatter(second);
    EXPECT_EQ(multi.formatLogMessage(five)->count(" [main] "), 2);

    multi.removeFormatter(whitelist);
    EXPECT_TRUE(multi.formatLogMessage(messageWithContext(0)));
    multi.removeAllFormatters();
    EXPECT_TRUE(multi.formatters().isEmpty());

    // The chain runs on the formatter's own queue, whoever asks.
    QStringList labels;
    multi.addFormatter(std::make_shared<FunctionFormatter>([&](const VGLogMessage& m) -> std::optional<QString> {
        labels << DispatchQueue::currentLabel();
        return m.logMsg();
    }));
    multi.formatLogMessage(five);
    auto elsewhere = DispatchQueue::createSerial(QStringLiteral("test.logger"));
    elsewhere->sync([&] { multi.formatLogMessage(five); });
    EXPECT_EQ(labels, QStringList(2, QStringLiteral("vg.logging.multiformatter")));
}

TEST(LoggingFormatters, FormatterOnTwoLoggersAtOnce)
{
    auto formatter = std::make_shared<VGDispatchQueueLogFormatter>();
    auto first = std::make_shared<RecordingLogger>();
    auto second = std::make_shared<RecordingLogger>();
    first->setLogFormatter(formatter);
    second->setLogFormatter(formatter);
    VGLog::addLogger(first);
    VGLog::addLogger(second);
    for (int i = 0; i < 2000; ++i)
        VGLog::log(true, VGLogMessage(QString::number(i), 31, LogFlagInfo, 0, "f", "g", 1, {}, 0, 1e9 + (i + 0.5) / 1000.0));
    VGLog::flushLog();
    EXPECT_EQ(first->snapshot(), second->snapshot());
    ASSERT_EQ(first->snapshot().size(), 2000);
    EXPECT_TRUE(first->snapshot()[1999].endsWith(":999 [main] 1999"));
    VGLog::removeAllLoggers();
    VGLog::flushLog();
}

// Stamps written in turn with both separators, within one second, across
// seconds, back in time and before 1970, each as the calendar writes it.
TEST(LoggingFormatters, TimestampsAcrossSecondsAndSeparators)
{
    const double second = 1772442303; // a Monday morning in March 2026
    const struct {
        double timestamp;
        char separator;
    } cases[] = {
        {second, '-'},
        {second + 0.5, '/'},
        {second + 0.125, '-'},
        {second + 0.9990234375, '/'},
        {second + 1, '-'},
        {second + 1.25, '/'},
        {second, '-'}, // back a second
        {second + 86400 * 31 + 0.5, '-'}, // another month, then the cached one again
        {second + 0.25, '/'},
        {second + 0.25, '-'},
        {-0.5, '/'},
        {4102444800.75, '-'}, // the year 2100
    };
    for (const auto& c : cases) {
        char text[VGLogTimestamp::Length + 1] = {};
        VGLogTimestamp::write(text, c.timestamp, c.separator);
        const auto msecs = qint64(std::floor(c.timestamp * 1000));
        const QString format = QStringLiteral("yyyy%1MM%1dd HH:mm:ss:zzz").arg(QChar::fromLatin1(c.separator));
        EXPECT_EQ(QString::fromLatin1(text), QDateTime::fromMSecsSinceEpoch(msecs).toString(format))
            << c.timestamp << ' ' << c.separator;
    }
}
