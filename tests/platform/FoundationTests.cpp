#include "Clock.h"
#include "ConsoleLog.h"
#include "Error.h"
#include "Folders.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>

TEST(Platform, FoldersFollowTheRedirectedHome)
{
    const QString home = TestSupport::home();
    EXPECT_EQ(Folders::documents(), home + "/Documents/Brindlewick");
    EXPECT_EQ(Folders::caches(), home + "/.cache/brindlewick");
    EXPECT_EQ(Folders::library(), home + "/.local/state");
    EXPECT_EQ(Folders::data(), home + "/.local/share/brindlewick");
    EXPECT_TRUE(Folders::temporary().startsWith(home));
    EXPECT_EQ(Folders::queueLabel(".file"), "net.brindlewick.notes.file");

    qputenv("XDG_CACHE_HOME", "relative/not/allowed");
    EXPECT_EQ(Folders::caches(), home + "/.cache/brindlewick");
    qputenv("XDG_CACHE_HOME", qPrintable(home + "/.cache"));
}

TEST(Platform, ClockTruncatesAndCanBeReplaced)
{
    Clock::setWallClock([] { return 1700000000.999; });
    EXPECT_EQ(Clock::now(), 1700000000);
    Clock::setWallClock([] { return -1.5; });
    EXPECT_EQ(Clock::now(), -1); // toward zero, not down
    Clock::setWallClock({});
    EXPECT_GT(Clock::now(), 1700000000);

    const QString uuid = Clock::newUUID();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$").match(uuid).hasMatch())
        << qPrintable(uuid);
    EXPECT_NE(uuid, Clock::newUUID());
    Clock::setUUIDGenerator([] { return QStringLiteral("FIXED"); });
    EXPECT_EQ(Clock::newUUID(), "FIXED");
    Clock::setUUIDGenerator({});
}

TEST(Platform, ErrorCarriesDescriptionAndOptionalOutParameter)
{
    const Error error = Error::make("SLDatabase", 21, "parentDB does not exist");
    EXPECT_EQ(error.localizedDescription(), "parentDB does not exist");
    setError(nullptr, error); // no out-parameter: nothing happens
    Error out;
    EXPECT_TRUE(out.isNull());
    setError(&out, error);
    EXPECT_EQ(out.code, 21);
    EXPECT_FALSE(Error::make("Domain", 3, QString()).localizedDescription().isEmpty());
}

TEST(Platform, UserDefaultsReadMissingKeysAsZeroAndPersist)
{
    UserDefaults& defaults = UserDefaults::standard();
    EXPECT_EQ(defaults.integerForKey("theme"), 0);
    EXPECT_FALSE(defaults.boolForKey("icloud"));
    EXPECT_TRUE(defaults.stringForKey("selectedNoteKey").isNull());
    EXPECT_TRUE(defaults.dataForKey("ckfetch").isNull());

    defaults.setInteger(16, "theme");
    defaults.setBool(true, "icloud");
    defaults.setDouble(212.5, "folderWidth");
    defaults.setString("Ünïcode note.txt", "selectedNoteKey");
    defaults.setData(QByteArray("\x00\x01\xff", 3), "ckfetch");
    ASSERT_TRUE(defaults.synchronize());

    // Another reader of the same file sees every value with its type intact.
    UserDefaults reread(defaults.path());
    EXPECT_EQ(reread.integerForKey("theme"), 16);
    EXPECT_TRUE(reread.boolForKey("icloud"));
    EXPECT_DOUBLE_EQ(reread.doubleForKey("folderWidth"), 212.5);
    EXPECT_EQ(reread.stringForKey("selectedNoteKey"), "Ünïcode note.txt");
    EXPECT_EQ(reread.dataForKey("ckfetch"), QByteArray("\x00\x01\xff", 3));

    defaults.removeObject("theme");
    EXPECT_EQ(defaults.integerForKey("theme"), 0);
}

TEST(Platform, UserDefaultsSurviveConcurrentWriters)
{
    UserDefaults& defaults = UserDefaults::standard();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                defaults.setInteger(i, QStringLiteral("key%1").arg(t));
        });
    for (auto& writer : writers)
        writer.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("key%1").arg(t)), 199);
}

// Loggers write the line also while the process exits: from an exit handler that runs after
// the statics made later, Qt's among them, are destroyed, it is as whole as in the run.
TEST(Platform, ConsoleLogWritesOneStampedLineToStandardErrorEvenAtExit)
{
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} test_platform\\[[0-9]+:[0-9]+\\] ";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] { consoleLog("gone at exit"); });
            consoleLog("The SLDatabase x is not open.");
            std::exit(0);
        },
        testing::ExitedWithCode(0), stamp + "The SLDatabase x is not open\\.\n" + stamp + "gone at exit\n");
}
