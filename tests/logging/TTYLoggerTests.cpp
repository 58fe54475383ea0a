#include "LoggingTestSupport.h"
#include "VGTTYColorPalette.h"
#include "VGTTYLoggerColorProfile.h"

#include <QDateTime>

namespace {

const QByteArray esc = "\033[";

class LoggingTTY : public LoggingTest {
protected:
    void SetUp() override
    {
        LoggingTest::SetUp();
        tty = sharedTTYLogger();
        tty->setLogFormatter(nullptr);
        tty->clearAllColors();
        tty->setAutomaticallyAppendNewlineForCustomFormatters(true);
        VGLog::addLogger(tty);
    }
    void TearDown() override
    {
        tty->setLogFormatter(nullptr);
        tty->setColorsEnabled(false); // loads the default profiles when there are none: clear after
        tty->clearAllColors();
        LoggingTest::TearDown();
    }

    // Logs synchronously (so the line is written on return) and answers what reached stderr.
    QByteArray write(const QString& text, int32_t flag = LogFlagError, int32_t context = 0, const QVariant& tag = {},
                     std::optional<double> timestamp = std::nullopt)
    {
        StderrCapture capture;
        VGLog::log(false, VGLogMessage(text, 31, flag, context, __FILE__, __func__, __LINE__, tag, 0, timestamp));
        return capture.text();
    }

    std::shared_ptr<VGTTYLogger> tty;
};

QByteArray code(const VGTTYColorPalette& palette, VGTTYColor color)
{
    return VGTTYLoggerColorProfile::create(color, std::nullopt, 1, 0, palette)->fgCode();
}

} // namespace

TEST_F(LoggingTTY, PlainLineFormat)
{
    const double timestamp = 1772442303.042; // a moment with milliseconds 042
    const QByteArray line = write("core:open db", LogFlagError, 0, {}, timestamp);
    const QString stamp = QDateTime::fromMSecsSinceEpoch(qint64(timestamp * 1000)).toString("yyyy-MM-dd HH:mm:ss:zzz");
    const QByteArray expected = stamp.toUtf8() + " " + QByteArray(program_invocation_short_name) + "["
        + QByteArray::number(getpid()) + ":" + QByteArray::number(uint(gettid()), 16) + "] core:open db\n";
    EXPECT_EQ(line, expected);
}

TEST_F(LoggingTTY, TextWrittenWholeWithOneNewline)
{
    const std::pair<QString, QByteArray> cases[] = {
        {"ends with newline\n", "] ends with newline\n"},
        {"caf\u00e9 \u2713", "] caf\xc3\xa9 \xe2\x9c\x93\n"},
        {QString(4095, 'x'), "] " + QByteArray(4095, 'x') + "\n"},
        {QString(4096, 'x'), "] " + QByteArray(4096, 'x') + "\n"},
        {QString(20000, 'x'), "] " + QByteArray(20000, 'x') + "\n"},
    };
    for (const auto& [text, ending] : cases) {
        const QByteArray line = write(text);
        EXPECT_TRUE(line.endsWith(ending)) << text.size();
        EXPECT_FALSE(line.endsWith("\n\n")) << text.size();
    }
}

// Lines are gathered and written in runs: a burst past the run's size limit
// arrives whole and in order, and a line that cannot be encoded leaves no piece behind.
TEST_F(LoggingTTY, BurstArrivesWholeAndInOrder)
{
    QStringList texts;
    for (int i = 0; i < 3000; ++i)
        texts.append(i == 1500 ? QStringLiteral("broken ") + QChar(0xD800) + QStringLiteral(" text")
                               : QStringLiteral("line %1 ").arg(i) + QString(i % 97, QLatin1Char('y')));
    StderrCapture capture;
    for (const QString& text : texts)
        VGLog::log(true, VGLogMessage(text, 31, LogFlagInfo, 0, __FILE__, __func__, __LINE__));
    VGLog::flushLog();
    texts.removeAt(1500);
    const QList<QByteArray> lines = capture.text().chopped(1).split('\n');
    ASSERT_EQ(lines.size(), texts.size());
    for (qsizetype at = 0; at < lines.size(); ++at) {
        EXPECT_EQ(lines[at].count("] "), 1) << at;
        EXPECT_TRUE(lines[at].endsWith("] " + texts[at].toUtf8())) << at;
    }
}

TEST_F(LoggingTTY, FormatterDecidesTheLine)
{
    const auto use = [&](FunctionFormatter::Function function) {
        tty->setLogFormatter(std::make_shared<FunctionFormatter>(std::move(function)));
    };
    use([](const VGLogMessage&) { return std::nullopt; });
    EXPECT_TRUE(write("dropped").isEmpty());

    // Handing back the message's own text keeps the full line with its time stamp.
    use([](const VGLogMessage& m) { return m.logMsg(); });
    const QByteArray same = write("same");
    EXPECT_TRUE(same.endsWith("] same\n"));
    EXPECT_TRUE(same.contains(program_invocation_short_name));

    use([](const VGLogMessage& m) { return "[" + m.logMsg() + "]"; });
    EXPECT_EQ(write("own"), "[own]\n");
    tty->setAutomaticallyAppendNewlineForCustomFormatters(false);
    EXPECT_EQ(write("own"), "[own]");
}

TEST_F(LoggingTTY, PaletteChosenByTerminalType)
{
    const QByteArray savedTerm = qgetenv("TERM");
    const auto paletteFor = [](const char* term) {
        qputenv("TERM", term);
        return VGTTYColorPalette::fromEnvironment();
    };
    const VGTTYColor red {1, 0, 0};
    const std::pair<const char*, QByteArray> codes[] = {
        {"xterm-256color", esc + "38;5;196m"}, {"xterm-color", esc + "1;31m"}, {"XTERM-COLOR", esc + "1;31m"},
        {"dumb", ""}};
    for (const auto& [term, expected] : codes)
        EXPECT_EQ(code(paletteFor(term), red), expected) << term;
    const auto none = VGTTYLoggerColorProfile::create(red, red, 1, 0, paletteFor("dumb"));
    EXPECT_TRUE(none->bgCode().isEmpty());
    EXPECT_TRUE(none->resetCode().isEmpty());

    qputenv("XcodeColors", "YES");
    const auto xcode = VGTTYLoggerColorProfile::create(red, VGTTYColor {0, 0, 1}, 1, 0, paletteFor("xterm-256color"));
    qunsetenv("XcodeColors");
    EXPECT_EQ(xcode->fgCode(), esc + "fg255,0,0;");
    EXPECT_EQ(xcode->bgCode(), esc + "bg0,0,255;");
    EXPECT_EQ(xcode->resetCode(), esc + ";");
    qputenv("TERM", savedTerm);
}

TEST_F(LoggingTTY, PalettesHoldTheTerminalColours)
{
    const auto p16 = VGTTYColorPalette::ansi16();
    ASSERT_EQ(p16.colors().size(), 16);
    EXPECT_EQ(p16.backgroundCodes()[7], "47m");
    const auto p256 = VGTTYColorPalette::ansi256();
    ASSERT_EQ(p256.colors().size(), 240);
    EXPECT_EQ(p256.backgroundCodes()[239], "48;5;255m");
    // Each exact palette colour maps back to its own entry.
    for (int number : {16, 21, 46, 100, 196, 226, 231, 232, 244, 255})
        EXPECT_EQ(p256.codeIndexForColor(p256.colors()[number - 16]), size_t(number - 16)) << number;
    // Equal distances: the lowest index wins.
    EXPECT_EQ(VGTTYColorPalette::none().codeIndexForColor({0.5, 0.5, 0.5}), 0u);
}

TEST_F(LoggingTTY, ColoursByFlagContextAndTag)
{
    const auto& palette = VGTTYLogger::palette();
    ASSERT_EQ(palette.mode(), VGTTYColorPalette::Mode::ANSI);
    const VGTTYColor red {1, 0, 0}, green {0, 1, 0}, blue {0, 0, 1};
    tty->setColorsEnabled(true); // loads the defaults: flags 1 and 2
    const QByteArray errorLine = write("e", LogFlagError);
    EXPECT_TRUE(errorLine.startsWith(code(palette, VGTTYColor::fromBytes(214, 57, 30))));
    EXPECT_TRUE(errorLine.endsWith("] e\n" + esc + "0m"));
    EXPECT_FALSE(write("i", LogFlagInfo).contains(esc));

    tty->clearAllColors();
    tty->setForegroundColor(red, std::nullopt, LogFlagError);
    tty->setForegroundColor(green, std::nullopt, LogFlagError, 5);
    EXPECT_TRUE(write("any", LogFlagError, 0).startsWith(code(palette, red)));
    EXPECT_TRUE(write("five", LogFlagError, 5).startsWith(code(palette, green)));

    tty->setForegroundColorForTag(blue, red, QStringLiteral("net"));
    const QByteArray tagged = write("tagged", LogFlagError, 5, QStringLiteral("net"));
    EXPECT_TRUE(tagged.startsWith(code(palette, blue) + esc + "48;5;"));

    // Context 0 is not "every context".
    tty->clearColorsForFlag(LogFlagError);
    EXPECT_TRUE(write("still", LogFlagError, 0).startsWith(code(palette, red)));
    tty->clearColorsForFlag(LogFlagError, VGTTYLoggerColorProfile::AnyContext);
    EXPECT_FALSE(write("gone", LogFlagError, 0).contains(esc));
    EXPECT_TRUE(write("five", LogFlagError, 5).startsWith(code(palette, green)));
    tty->clearColorsForTag(QStringLiteral("net"));
    EXPECT_TRUE(write("untagged", LogFlagError, 5, QStringLiteral("net")).startsWith(code(palette, green)));

    // Turning colours off keeps the profiles but writes plain lines.
    tty->setColorsEnabled(false);
    EXPECT_FALSE(write("off", LogFlagError, 5).contains(esc));
}

// Whichever logger comes first fixes the class palette; later ones keep it.
TEST(LoggingTTYPalette, SetOnceByTheFirstLogger)
{
    qputenv("TERM", "xterm-256color");
    const auto made = VGTTYLogger::create();
    const VGTTYColorPalette* const first = &VGTTYLogger::palette();
    EXPECT_EQ(first->mode(), VGTTYColorPalette::Mode::ANSI);
    qputenv("TERM", "dumb");
    EXPECT_TRUE(VGTTYLogger::sharedInstance());
    EXPECT_EQ(VGTTYLogger::create(), nullptr); // one instance only
    EXPECT_EQ(&VGTTYLogger::palette(), first);
    EXPECT_EQ(VGTTYLogger::palette().mode(), VGTTYColorPalette::Mode::ANSI);
}
