#include "AppTestSupport.h"

#include "shell/AppDelegate.h"
#include "shell/HelpLinks.h"
#include "shell/HelpMail.h"

#include "TestSupport.h"
#include "VGLogFileManagerDefault.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const QString Rule = QString(40, QLatin1Char('-'));
constexpr qsizetype ArgumentLimit = 128 * 1024;

HelpMail::Facts facts()
{
    return {"1.2", "45", "abc123", "Debian (Linux 6.1)", "2048KB", QDateTime(QDate(2026, 3, 1), QTime(14, 34, 56, 500), QTimeZone(7200))};
}

// The SUBJECT and BODY of a mail URL as a mail application reads them back.
QMap<QString, QString> mailFields(const QString& url)
{
    EXPECT_FALSE(url.contains(QLatin1Char('#'))) << "a fragment would cut the body";
    const QStringList pieces = url.section(QLatin1Char('?'), 1).split(QLatin1Char('&'));
    QMap<QString, QString> fields;
    for (const QString& piece : pieces)
        fields[piece.section(QLatin1Char('='), 0, 0)] = QUrl::fromPercentEncoding(piece.section(QLatin1Char('='), 1).toLatin1());
    EXPECT_EQ(pieces.size(), 2) << qPrintable(url.left(200));
    return fields;
}

// A new log file of about the size given, each line naming its number; in the default logs folder
// unless another is named.
QString writeLog(qsizetype size, const QString& folder = QString())
{
    const QString path = VGLogFileManagerDefault(folder).createNewLogFile();
    QByteArray text;
    for (int line = 0; text.size() < size; ++line)
        text += "line " + QByteArray::number(line) + ": a #hashtag & a=b? 100% ünïcode\n";
    TestSupport::writeFile(path, text);
    return path;
}

TEST(ShellMail, ProblemReportBodyHasItsLinesInOrder)
{
    struct Case {
        const char* message;
        const char* log;
        const char* afterRule; // what follows the opening rule's empty line
        const char* ending;
    };
    const QString closing = "\n" + Rule + "\n";
    const Case cases[] = {
        {nullptr, nullptr, "App: BrindlewickMac 1.2 (45)\n", ""},
        {"Crash on save", nullptr, "Message: Crash on save\nApp: BrindlewickMac 1.2 (45)\n", ""},
        {"", "last line\n", "App: BrindlewickMac 1.2 (45)\n", "\nlast line\nLog file: /logs/a.log\n"},
        {"x", "no newline", "Message: x\nApp: ", "\nno newline\nLog file: /logs/a.log\n"},
        {"x", "", "Message: x\nApp: ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message ? c.message : "(none)");
        std::optional<HelpMail::LogTail> log;
        if (c.log)
            log = HelpMail::LogTail{"/logs/a.log", QString::fromUtf8(c.log)};
        const QString body = HelpMail::problemReportBody(QString::fromUtf8(c.message), facts(), log);
        const QString opening = "\n\n\n\n\n" + Rule + "\n\n";
        ASSERT_TRUE(body.startsWith(opening)) << qPrintable(body);
        EXPECT_TRUE(body.mid(opening.size()).startsWith(QString::fromUtf8(c.afterRule))) << qPrintable(body);
        EXPECT_TRUE(body.endsWith(closing + QString::fromUtf8(c.ending))) << qPrintable(body);
        EXPECT_TRUE(body.contains("\nGit: abc123\nSystem: Debian (Linux 6.1)\n"
                                  "Date: 2026-03-01 12:34:56 +0000 (1772368496.500000)\nMemory: 2048KB\n"))
            << qPrintable(body);
    }
    EXPECT_EQ(HelpMail::problemReportSubject(facts()), "Brindlewick Mac Problem Report (v1.2-45)");
    EXPECT_EQ(HelpMail::feedbackSubject(facts()), "Brindlewick Mac Feedback (v1.2-45)");
}

TEST(ShellMail, ReservedCharactersArriveWhole)
{
    for (const QString text : {"a # b & c = d ? e", "100% + 50%\nline\r\n", "café – ✓ 😀 %23", "/:;@,$!'()*[]"}) {
        const QString url = QString::fromLatin1(HelpMail::mailURL("support@brindlewick.net", "Re: " + text, text).toEncoded());
        EXPECT_TRUE(url.startsWith("mailto:support@brindlewick.net?SUBJECT=")) << qPrintable(url);
        const QMap<QString, QString> fields = mailFields(url);
        EXPECT_EQ(fields.value("SUBJECT"), "Re: " + text);
        EXPECT_EQ(fields.value("BODY"), text);
    }
}

// The mail that carries it is checked end to end below.
TEST(ShellMail, LogTailIsTheNewestLogsEndFromALineStart)
{
    const QString folder = TestSupport::home() + "/Logs";
    EXPECT_FALSE(HelpMail::latestLog(folder));
    const QString small = writeLog(300, folder);
    const QString big = writeLog(1024 * 1024, folder);
    ASSERT_NE(small, big);
    const std::optional<HelpMail::LogTail> tail = HelpMail::latestLog(folder);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->path, big);
    const QByteArray whole = TestSupport::readFile(big);
    const QByteArray kept = tail->text.toUtf8();
    EXPECT_LE(kept.size(), HelpMail::LogTailBytes);
    EXPECT_GT(kept.size(), HelpMail::LogTailBytes - 100);
    EXPECT_TRUE(whole.endsWith(kept));
    EXPECT_TRUE(kept.startsWith("line ")) << kept.left(40).constData();

    EXPECT_EQ(HelpMail::readLogTail(small)->text.toUtf8(), TestSupport::readFile(small));
    EXPECT_FALSE(HelpMail::readLogTail(TestSupport::home() + "/missing.log"));
}

TEST(ShellMail, AWideLogWithAByteOrderMarkIsReadInItsEncoding)
{
    QString lines;
    for (int line = 0; lines.size() < 64 * 1024; ++line)
        lines += QStringLiteral("line %1: caf\u00e9 \u65e5\u672c \U0001F600\n").arg(line);
    const struct {
        const char* name;
        QStringConverter::Encoding encoding;
        qsizetype length; // characters written
    } cases[] = {
        {"UTF-16LE", QStringConverter::Utf16LE, 300},
        {"UTF-16LE, longer than the tail", QStringConverter::Utf16LE, lines.size()},
        {"UTF-16BE", QStringConverter::Utf16BE, 300},
        {"UTF-32LE, longer than the tail", QStringConverter::Utf32LE, lines.size()},
        {"UTF-8", QStringConverter::Utf8, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString written = lines.left(lines.lastIndexOf(u'\n', c.length - 1) + 1);
        QStringEncoder encoder(c.encoding, QStringEncoder::Flag::WriteBom);
        const QString path = TestSupport::home() + QStringLiteral("/wide.log");
        TestSupport::writeFile(path, encoder(written));
        const std::optional<HelpMail::LogTail> tail = HelpMail::readLogTail(path);
        ASSERT_TRUE(tail);
        EXPECT_TRUE(written.endsWith(tail->text));
        EXPECT_TRUE(tail->text.startsWith(QStringLiteral("line "))) << tail->text.left(20).toStdString();
        EXPECT_EQ(tail->text == written, c.length < 1000);
    }
}

TEST(ShellMail, MemoryComesFromResidentPages)
{
    const QString path = TestSupport::home() + "/statm";
    const std::pair<const char*, QString> cases[] = {
        {"5000 300 20 1 0 100 0\n", QStringLiteral("%1KB").arg((300 * ::sysconf(_SC_PAGESIZE)) >> 10)},
        {"5000\n", "N/A"},
        {"5000 lots 20\n", "N/A"},
    };
    for (const auto& [statm, expected] : cases) {
        TestSupport::writeFile(path, statm);
        EXPECT_EQ(HelpMail::memoryText(path), expected) << statm;
    }
    EXPECT_EQ(HelpMail::memoryText(TestSupport::home() + "/none"), "N/A");
}

// The help menu's mails, pages and document reach the user's applications for them: recorders
// registered in this test's own home, started by the real xdg-open.
class ShellHelpMenu : public DesktopHandlerTest {};

TEST_F(ShellHelpMenu, MailsPagesAndTheAcknowledgementsReachTheUsersApplications)
{
    for (const char* type : {"x-scheme-handler/mailto", "x-scheme-handler/https", "application/pdf"})
        registerRecorder(QString::fromLatin1(type));
    const QString log = writeLog(1024 * 1024); // the newest in the default folder
    AppDelegate app;
    app.handleURLEvent("brindlewick://bugreport?%231%20%26%20%232%20failed");
    const QString url = received();
    EXPECT_LT(url.size(), ArgumentLimit);
    const QMap<QString, QString> fields = mailFields(url);
    EXPECT_TRUE(fields.value("SUBJECT").startsWith("Brindlewick Mac Problem Report (v")) << qPrintable(fields.value("SUBJECT"));
    const QString body = fields.value("BODY");
    EXPECT_TRUE(body.contains("\n\nMessage: #1 & #2 failed\nApp: BrindlewickMac ")) << qPrintable(body.left(300));
    EXPECT_TRUE(body.endsWith(": a #hashtag & a=b? 100% ünïcode\nLog file: " + log + "\n"));
    QFile::remove(log);

    const QString pdf = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/brindlewick/Acknowledgement.pdf");
    ASSERT_TRUE(TestSupport::readFile(pdf).startsWith("%PDF-")) << qPrintable(pdf);
    const std::pair<const char*, QString> actions[] = {
        {"showSendUsAMessage:", "BODY="},
        {"showAcknowledgement:", pdf},
        {"showSyntax:", "https://brindlewick.net/help/syntax"},
    };
    for (const auto& [action, opened] : actions) {
        ASSERT_TRUE(app.tryToPerform(Selector(action), nullptr)) << action;
        EXPECT_TRUE(received().endsWith(opened)) << action;
    }
}

} // namespace
