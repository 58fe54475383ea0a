#include "../support/TestSupport.h"

#include "Dispatch.h"
#include "UserDefaults.h"
#include "drive/DriveContainer.h"
#include "drive/FolderQuery.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUuid>

#include <chrono>
#include <thread>

namespace {

QString driveRoot()
{
    return TestSupport::home() + QStringLiteral("/Sync");
}

QString document(const QString& relative)
{
    return driveRoot() + QStringLiteral("/Documents/") + relative;
}

// Lets the watch's events arrive, then moves the clock past the quiet spell,
// until the condition holds or a few real seconds went by.
bool settle(const std::function<bool()>& condition, int rounds = 400)
{
    for (int i = 0; i < rounds; ++i) {
        Dispatch::waitUntilIdle();
        DispatchTime::advance(FolderQuery::Debounce);
        Dispatch::waitUntilIdle();
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

QStringList names(const std::vector<DriveItem>& items)
{
    QStringList names;
    for (const DriveItem& item : items)
        names << QDir(driveRoot() + QStringLiteral("/Documents")).relativeFilePath(item.path);
    return names;
}

class DriveFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(driveRoot()).removeRecursively();
        QDir().mkpath(driveRoot());
        QFile::remove(defaultsPath());
        defaults = std::make_unique<UserDefaults>(defaultsPath());
        container = std::make_unique<DriveContainer>(*defaults);
        ASSERT_TRUE(container->chooseFolder(driveRoot()));
    }
    // The same file, neither replaced nor cut first.
    static void writeInPlace(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static QString defaultsPath() { return TestSupport::home() + QStringLiteral("/drive-defaults.ini"); }
    // A document dated the given second.
    static void write(const QString& relative, const QByteArray& bytes, int64_t seconds)
    {
        TestSupport::writeFile(document(relative), bytes);
        ASSERT_TRUE(FileTimes::setModificationTime(document(relative), FileTime{seconds, 500}));
    }

    TestSupport::VirtualTime time;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<DriveContainer> container;
};

} // namespace

TEST_F(DriveFolder, ChoosingAFolderAdoptsItsAccountAndTheTokenFollowsTheFolder)
{
    const QString account = container->identityToken();
    ASSERT_FALSE(account.isEmpty());
    EXPECT_TRUE(QFileInfo(document(QStringLiteral("Inbox"))).isDir());
    EXPECT_TRUE(QFileInfo(document(QStringLiteral("Archive"))).isDir());

    // The other computer chooses the same folder: the same account.
    UserDefaults other(TestSupport::home() + QStringLiteral("/drive-other.ini"));
    DriveContainer second(other);
    ASSERT_TRUE(second.chooseFolder(driveRoot()));
    EXPECT_EQ(second.identityToken(), account);
    EXPECT_FALSE(second.chooseFolder(driveRoot() + QStringLiteral("/missing")));
    EXPECT_EQ(second.root(), QFileInfo(driveRoot()).absoluteFilePath());

    int calls = 0;
    container->setIdentityCallback([&] { ++calls; });
    const QString accountFile = driveRoot() + QStringLiteral("/.account");
    const QString moved = TestSupport::home() + QStringLiteral("/Moved");
    const QString documents = driveRoot() + QStringLiteral("/Documents");
    const QString elsewhere = TestSupport::home() + QStringLiteral("/Elsewhere");
    const struct {
        const char* what;
        std::function<void()> change;
        bool hasToken;
    } steps[] = {
        {"account file unreadable", [&] { QFile::rename(accountFile, accountFile + "~"); }, false},
        {"account file back", [&] { QFile::rename(accountFile + "~", accountFile); }, true},
        {"another account", [&] { TestSupport::writeFile(accountFile, QUuid::createUuid().toByteArray()); }, false},
        {"own account again", [&] { TestSupport::writeFile(accountFile, account.toUtf8()); }, true},
        {"folder moved away", [&] { QDir().rename(driveRoot(), moved); }, false},
        {"folder back", [&] { QDir().rename(moved, driveRoot()); }, true},
        {"documents gone", [&] { QDir(driveRoot() + QStringLiteral("/Documents")).removeRecursively(); }, false},
        {"documents a link to a folder beside another account",
         [&] {
             QDir().mkpath(elsewhere + QStringLiteral("/Documents"));
             TestSupport::writeFile(elsewhere + QStringLiteral("/.account"), QUuid::createUuid().toByteArray());
             QFile::link(elsewhere + QStringLiteral("/Documents"), documents);
         },
         true},
        {"documents a file", [&] { QFile::remove(documents); TestSupport::writeFile(documents, "not a folder"); }, false},
        {"documents a folder again", [&] { QFile::remove(documents); QDir().mkpath(documents); }, true},
    };
    int expectedCalls = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        container->check();
        container->check(); // an unchanged token calls nothing
        Dispatch::waitUntilIdle();
        EXPECT_EQ(container->identityToken().isEmpty(), !step.hasToken);
        EXPECT_EQ(calls, ++expectedCalls);
    }
}

// Two writes within one tick of the file system's clock leave the same dates.
TEST_F(DriveFolder, TheTokenFollowsAnAccountFileRewrittenInPlaceAtOnce)
{
    const QString account = container->identityToken();
    const QString accountFile = driveRoot() + QStringLiteral("/.account");
    writeInPlace(accountFile, account.toUtf8());
    ASSERT_EQ(container->identityToken(), account);
    writeInPlace(accountFile, QUuid::createUuid().toByteArray(QUuid::WithoutBraces));
    EXPECT_EQ(container->identityToken(), QString());
    writeInPlace(accountFile, account.toUtf8());
    EXPECT_EQ(container->identityToken(), account);
}

TEST_F(DriveFolder, AScanListsRegularFilesOneLevelDownOldestFirst)
{
    write(QStringLiteral("Inbox/b.txt"), "b", 300);
    write(QStringLiteral("Archive/a.txt"), "a", 100);
    write(QStringLiteral("Home/c.txt"), "c", 200);
    write(QStringLiteral("Other/d.txt"), "d", 50);
    write(QStringLiteral("Inbox/deeper/e.txt"), "e", 10);
    write(QStringLiteral("top.txt"), "f", 10);
    ASSERT_TRUE(QFile::link(TestSupport::home() + QStringLiteral("/secret"), document(QStringLiteral("Inbox/x.txt"))));
    TestSupport::writeFile(TestSupport::home() + QStringLiteral("/secret"), "key");

    const std::vector<DriveItem> items = FolderQuery::scan(driveRoot() + QStringLiteral("/Documents"));
    EXPECT_EQ(names(items), (QStringList{"Other/d.txt", "Archive/a.txt", "Home/c.txt", "Inbox/b.txt"}));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].changeDate, (FileTime{100, 500}));
    EXPECT_EQ(items[1].downloadingStatus, QStringLiteral("current"));
}

// A folder of many documents is looked at in slices side by side: the scan still finds each once, dated as its own.
TEST_F(DriveFolder, AScanOfAFullFolderFindsEveryDocumentOnce)
{
    constexpr int Documents = 700;
    QStringList expected;
    for (int i = Documents - 1; i >= 0; --i)
        expected << QStringLiteral("Inbox/%1.txt").arg(i);
    for (int i = 0; i < Documents; ++i)
        write(QStringLiteral("Inbox/%1.txt").arg(i), "text", 2000 - i);
    QDir().mkpath(document(QStringLiteral("Inbox/folder")));
    ASSERT_TRUE(QFile::link(document(QStringLiteral("Inbox/1.txt")), document(QStringLiteral("Inbox/link.txt"))));

    const std::vector<DriveItem> items = FolderQuery::scan(driveRoot() + QStringLiteral("/Documents"));
    ASSERT_EQ(names(items), expected);
    for (int i = 0; i < Documents; ++i)
        ASSERT_EQ(items[size_t(i)].changeDate, (FileTime{2000 - (Documents - 1 - i), 500})) << i;
}

TEST_F(DriveFolder, UpdatesArePostedOnMainWithASnapshotAndHeldWhileDisabled)
{
    write(QStringLiteral("Inbox/a.txt"), "a", 100);
    auto query = FolderQuery::create(driveRoot() + QStringLiteral("/Documents"));
    int gathered = 0;
    int updates = 0;
    query->setDidFinishGathering([&] { ++gathered; });
    query->setDidUpdate([&] { ++updates; });
    EXPECT_FALSE(FolderQuery::create(driveRoot() + QStringLiteral("/none"))->start());
    ASSERT_TRUE(query->start());
    ASSERT_TRUE(settle([&] { return gathered == 1; }));
    EXPECT_EQ(names(query->results()), QStringList{"Inbox/a.txt"});

    // A rewrite in place, as an editor or a sync tool saves.
    {
        QFile file(document(QStringLiteral("Inbox/a.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("changed");
    }
    ASSERT_TRUE(settle([&] { return updates == 1; }));
    EXPECT_NE(query->results().at(0).changeDate, (FileTime{100, 500}));

    // While disabled the readers keep the old snapshot; two changes post once.
    query->disableUpdates();
    query->disableUpdates();
    TestSupport::writeFile(document(QStringLiteral("Archive/b.txt")), "b");
    DispatchTime::advance(FolderQuery::RescanInterval); // the periodic rescan finds it even without events
    settle([] { return false; }, 20);
    TestSupport::writeFile(document(QStringLiteral("Inbox/c.txt")), "c");
    DispatchTime::advance(FolderQuery::RescanInterval);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(query->results().size(), 1u);
    query->enableUpdates();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(updates, 1);
    query->enableUpdates();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(query->results().size(), 3u);

    query->stop();
    TestSupport::writeFile(document(QStringLiteral("Inbox/d.txt")), "d");
    DispatchTime::advance(FolderQuery::RescanInterval);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(updates, 2);
}

// Between full listings the query looks again only at the files events name:
// after each change what it posts must be what a full listing finds.
TEST_F(DriveFolder, ChangesTakenInOneByOneMatchAFullListing)
{
    write(QStringLiteral("Inbox/a.txt"), "a", 100);
    write(QStringLiteral("Inbox/b.txt"), "b", 100);
    write(QStringLiteral("Archive/c.txt"), "c", 200);
    const QString documents = driveRoot() + QStringLiteral("/Documents");
    auto query = FolderQuery::create(documents);
    bool gathered = false;
    query->setDidFinishGathering([&] { gathered = true; });
    ASSERT_TRUE(query->start());
    ASSERT_TRUE(settle([&] { return gathered; }));

    const struct {
        const char* what;
        std::function<void()> change;
    } steps[] = {
        {"dated anew", [] { FileTimes::setModificationTime(document("Inbox/a.txt"), FileTime{300, 7}); }},
        {"rewritten", [] { TestSupport::writeFile(document("Inbox/b.txt"), "longer b"); }},
        {"added", [] { TestSupport::writeFile(document("Inbox/d.txt"), "d"); }},
        {"renamed", [] { QFile::rename(document("Inbox/d.txt"), document("Inbox/e.txt")); }},
        {"moved across folders", [] { QFile::rename(document("Inbox/e.txt"), document("Archive/e.txt")); }},
        {"removed", [] { QFile::remove(document("Archive/c.txt")); }},
        {"made unwritable", [] { QFile::setPermissions(document("Inbox/b.txt"), QFile::ReadOwner); }},
        {"replaced by a folder", [] { QFile::remove(document("Inbox/a.txt")); QDir().mkpath(document("Inbox/a.txt")); }},
        {"folder added", [] { TestSupport::writeFile(document("Notes/f.txt"), "f"); }},
        {"file in the new folder", [] { TestSupport::writeFile(document("Notes/g.txt"), "g"); }},
        {"folder moved", [&] { QDir().rename(document("Notes"), document("Moved")); }},
        {"folder removed", [&] { QDir(document("Archive")).removeRecursively(); }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        // Well within the minute after which a full rescan would find the change anyway.
        EXPECT_TRUE(settle([&] { return query->results() == FolderQuery::scan(documents); }, 100))
            << names(query->results()).join(' ').toStdString();
    }
    EXPECT_EQ(names(query->results()), (QStringList{"Inbox/b.txt", "Moved/f.txt", "Moved/g.txt"}));
    QFile::setPermissions(document("Inbox/b.txt"), QFile::ReadOwner | QFile::WriteOwner);
    query->stop();
}

// Changes every 0.2 s never leave the quiet spell: the scan waits for it only
// up to the bound, then posts them; a lone change posts after the spell.
TEST_F(DriveFolder, ALongRunOfChangesIsPostedWithinTheLongestWait)
{
    write(QStringLiteral("Inbox/a.txt"), "a", 100);
    auto query = FolderQuery::create(driveRoot() + QStringLiteral("/Documents"));
    bool gathered = false;
    int updates = 0;
    query->setDidFinishGathering([&] { gathered = true; });
    query->setDidUpdate([&] { ++updates; });
    ASSERT_TRUE(query->start());
    ASSERT_TRUE(settle([&] { return gathered; }));

    const auto changeAndWait = [&](int i, double seconds) {
        TestSupport::writeFile(document(QStringLiteral("Inbox/%1.txt").arg(i)), "x");
        std::this_thread::sleep_for(std::chrono::milliseconds(30 * TestSupport::SlowerBuild)); // the event reaches the query
        Dispatch::waitUntilIdle();
        DispatchTime::advance(seconds);
        Dispatch::waitUntilIdle();
    };
    double waited = 0;
    for (int i = 0; updates == 0 && waited < 2 * FolderQuery::LongestWait; ++i) {
        changeAndWait(i, 0.2);
        waited += 0.2;
    }
    EXPECT_EQ(updates, 1);
    EXPECT_GT(waited, FolderQuery::LongestWait - 0.3);
    EXPECT_LT(waited, FolderQuery::LongestWait + 0.3);

    changeAndWait(100, FolderQuery::Debounce - 0.1);
    EXPECT_EQ(updates, 1);
    DispatchTime::advance(0.1);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(updates, 2);
    query->stop();
}
