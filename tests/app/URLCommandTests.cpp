#include "AppTestSupport.h"

#include "shell/URLCommand.h"

#include <gtest/gtest.h>

namespace {

using Kind = URLCommand::Kind;

struct ParseCase {
    const char* url;
    Kind kind;
    int storage;
    const char* tag;
    const char* query;
};

TEST(ShellURL, LinksSelectStoragesTagsAndSearches)
{
    const ParseCase cases[] = {
        {"brindlewick://inbox", Kind::SelectStorage, 1, "", ""},
        {"brindlewick://archive?meeting%20notes", Kind::SelectStorage, 2, "", "meeting notes"},
        {"brindlewick://hashtag/Work%20Log", Kind::SelectStorage, 4, "work log", ""},
        {"brindlewick://mention/Anna?plans", Kind::SelectStorage, 5, "anna", "plans"},
        {"brindlewick://hashtag/a/b%2Fc", Kind::SelectStorage, 4, "a/b/c", ""},
        {"brindlewick://inbox?caf%C3%A9#top", Kind::SelectStorage, 1, "", "café"},
        {"brindlewick://inbox?%FF%FE", Kind::SelectStorage, 1, "", ""}, // not UTF-8: empty query
        {"brindlewick://guide", Kind::Guide, 0, "", ""},
        {"brindlewick://bugreport?Crash%20on%20save", Kind::BugReport, 0, "", "Crash on save"},
        {"brindlewick://bugreport", Kind::BugReport, 0, "", ""},
        // Nothing: no tag, unknown or differently cased hosts and schemes, not a URL.
        {"brindlewick://hashtag", Kind::Nothing, 0, "", ""},
        {"brindlewick://mention/", Kind::Nothing, 0, "", ""},
        {"brindlewick://foo", Kind::Nothing, 0, "", ""},
        {"brindlewick://Inbox", Kind::Nothing, 0, "", ""},
        {"Brindlewick://inbox", Kind::Nothing, 0, "", ""},
        {"https://brindlewick.net/inbox", Kind::Nothing, 0, "", ""},
        {"brindlewick://inbox?a b", Kind::Nothing, 0, "", ""},
        {"brindlewick://inbox?%zz", Kind::Nothing, 0, "", ""},
        {"", Kind::Nothing, 0, "", ""},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.url);
        const URLCommand command = URLCommand::parse(QString::fromUtf8(c.url));
        EXPECT_EQ(command.kind, c.kind);
        EXPECT_EQ(command.storage, c.storage);
        EXPECT_EQ(command.tag, QString::fromUtf8(c.tag));
        EXPECT_EQ(command.query, QString::fromUtf8(c.query));
    }
}

TEST(ShellURL, FileURLsOpenTheirPathAndSettingsKeepRawParameters)
{
    const URLCommand file = URLCommand::parse(QStringLiteral("file:///home/anna/My%20Notes/plan.md"));
    EXPECT_EQ(file.kind, Kind::OpenFile);
    EXPECT_EQ(file.filePath, QStringLiteral("/home/anna/My Notes/plan.md"));

    const URLCommand settings = URLCommand::parse(QStringLiteral("brindlewick://settings?sound=yes&calculator=0&&x&a=b=c&sound=on%20"));
    EXPECT_EQ(settings.kind, Kind::Settings);
    const QList<URLCommand::Parameter> expected = {
        {"sound", "yes"}, {"calculator", "0"}, {"a", "b=c"}, {"sound", "on%20"}};
    EXPECT_EQ(settings.parameters, expected);
    EXPECT_TRUE(URLCommand::parse(QStringLiteral("brindlewick://settings")).parameters.isEmpty());
    EXPECT_TRUE(URLCommand::parse(QStringLiteral("brindlewick://settings?sound")).parameters.isEmpty());
}

TEST(ShellURL, ValuesAreOnWhenTheyOccurInTheOnList)
{
    const std::pair<const char*, bool> cases[] = {
        {"ON", true}, {"True", true}, {"yes", true}, {"1", true}, {"n", true}, {"e", true}, {"|", true},
        {"on|yes", true}, {"off", false}, {"no", false}, {"false", false}, {"0", false}, {"2", false},
        {"", false}, {"on%20", false}, {"yess", false},
    };
    for (const auto& [value, on] : cases)
        EXPECT_EQ(URLCommand::isOn(QString::fromUtf8(value)), on) << value;
}

} // namespace
