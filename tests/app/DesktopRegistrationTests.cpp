#include "AppTestSupport.h"

#include "shell/DesktopRegistration.h"

#include "TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

TEST(ShellDesktopEntry, ExecNamesTheProgramQuoted)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/brindlewick", R"(Exec=/usr/bin/brindlewick %U)"},
        {"/opt/b-1.2/bin/brindlewick", R"(Exec=/opt/b-1.2/bin/brindlewick %U)"},
        {"/opt/my apps/brindlewick", R"(Exec="/opt/my apps/brindlewick" %U)"},
        {R"(/home/a"b/$x`y\z)", R"(Exec="/home/a\\"b/\\$x\\`y\\\\z" %U)"},
    };
    for (const auto& [program, exec] : cases) {
        const QStringList lines = DesktopRegistration::entryText(QString::fromUtf8(program)).split('\n');
        EXPECT_TRUE(lines.contains(QString::fromUtf8(exec))) << program;
        EXPECT_TRUE(lines.contains("MimeType=x-scheme-handler/brindlewick;text/plain;text/markdown;"));
        EXPECT_EQ(lines.filter(QRegularExpression("^Exec=")).size(), 1);
    }
}

class ShellRegistration : public DesktopHandlerTest {};

TEST_F(ShellRegistration, LinksReachTheRegisteredProgram)
{
    QString failure;
    ASSERT_TRUE(DesktopRegistration::registerForUser(recorder, &failure)) << qPrintable(failure);
    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          "/applications/" + DesktopRegistration::EntryName;
    EXPECT_EQ(TestSupport::readFile(entry), DesktopRegistration::entryText(recorder).toUtf8());

    QProcess open;
    open.start("xdg-open", {"brindlewick://archive?meeting%20notes"});
    ASSERT_TRUE(open.waitForFinished(10000));
    EXPECT_EQ(open.exitCode(), 0) << open.readAllStandardError().constData();
    EXPECT_EQ(received(), "brindlewick://archive?meeting%20notes");
}

} // namespace
