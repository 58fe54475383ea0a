#include "Core.h"
#include "OfflineAppleCloud.h"

#include "Cloud/LinkFiles.h"

#include "EventJournal.h"
#include "LogCapture.h"
#include "ScriptedCloud.h"
#include "TestSupport.h"

#include "Clock.h"
#include "Folders.h"
#include "SLDatabase.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>

namespace {

// A Core on folders of its own under the test home, with its own defaults file.
class NoteStoreCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = TestSupport::home() + QStringLiteral("/core-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        defaults = std::make_unique<UserDefaults>(root + QStringLiteral("/defaults.ini"));
        capture = LogCapture::install();
    }

    void TearDown() override { capture->uninstall(); }

    std::unique_ptr<Core> makeCore(const QString& caches = QString())
    {
        Core::Configuration configuration;
        configuration.documentDirectory = root + QStringLiteral("/Documents");
        configuration.cachesDirectory = caches.isEmpty() ? root + QStringLiteral("/Caches/V5") : caches;
        configuration.defaults = defaults.get();
        return std::make_unique<Core>(configuration);
    }

    QString root;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<LogCapture> capture;
};

int rowCount(Core& core)
{
    int count = -1;
    core.syncDatabase([&](SLDatabase& db) { count = db.intForQuery(QStringLiteral("SELECT count(*) FROM notes")); });
    return count;
}

void insertRow(Core& core, const QString& key, const QString& content)
{
    core.syncDatabase([&](SLDatabase& db) {
        EXPECT_TRUE(db.executeUpdate(QStringLiteral("INSERT INTO notes (key, title, content, folder, hashtag, mention) "
                                                    "VALUES (?, ?, ?, 'inbox', '', '')"),
                                     key, key, content));
    });
}

// Every loaded setting in one line: theme, typeface, size, offset and sort,
// then sound, calculator, template, cloud and push.
QString settings(Core& core)
{
    QStringList values;
    for (const int64_t value : {core.colorTheme(), core.typeFace(), core.typeSize(), core.typeSizeOffset(),
                                core.noteSortOptions()})
        values.append(QString::number(value));
    for (const bool on : {core.enabledSoundEffect(), core.enabledCalculator(), core.enabledPostTemplate(),
                          core.enabledAppleCloud(), core.enabledPushNotification()})
        values.append(on ? QStringLiteral("on") : QStringLiteral("off"));
    return values.join(QLatin1Char(' '));
}

} // namespace

TEST_F(NoteStoreCore, StoredSettingsFollowTheLoadRules)
{
    // Cloud and push are forced on in the file too, not only in memory; nothing else is written.
    const auto expectForcedOnInTheFile = [&] {
        UserDefaults reread(defaults->path());
        EXPECT_TRUE(reread.boolForKey(QStringLiteral("icloud")));
        EXPECT_TRUE(reread.boolForKey(QStringLiteral("pushnote")));
        return reread.objectForKey(QStringLiteral("theme"));
    };
    EXPECT_EQ(settings(*makeCore()), QStringLiteral("0 0 0 0 0 on off on on on"));
    EXPECT_TRUE(expectForcedOnInTheFile().isNull());

    const struct {
        int64_t storedTheme, storedTypeface, theme, typeface;
    } cases[] = {
        {5, 3, 0, 0},     // neither is a theme or a typeface
        {16, 10, 16, 10}, // both are
        {-1, 11, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.storedTheme << "/" << c.storedTypeface);
        defaults->setInteger(c.storedTheme, QStringLiteral("theme"));
        defaults->setInteger(c.storedTypeface, QStringLiteral("typeface"));
        auto core = makeCore();
        EXPECT_EQ(core->colorTheme(), c.theme);
        EXPECT_EQ(core->typeFace(), c.typeface);
        // The reset lives in memory; the stored value is left alone.
        EXPECT_EQ(defaults->integerForKey(QStringLiteral("theme")), c.storedTheme);
    }

    defaults->setInteger(4, QStringLiteral("typesize"));
    defaults->setInteger(-3, QStringLiteral("typeoffset"));
    defaults->setInteger(2, QStringLiteral("notesort"));
    defaults->setBool(false, QStringLiteral("icloud"));
    defaults->setBool(false, QStringLiteral("pushnote"));
    defaults->setBool(true, QStringLiteral("nosfx"));
    defaults->setBool(true, QStringLiteral("calculator"));
    defaults->setBool(true, QStringLiteral("noposttemplate"));
    defaults->synchronize();
    auto core = makeCore();
    EXPECT_EQ(settings(*core), QStringLiteral("0 0 4 -3 2 off on off on on"));
    expectForcedOnInTheFile();

    // Setters change memory only.
    core->setColorTheme(3);
    core->setEnabledAppleCloud(false);
    core->setTypeFace(7);
    EXPECT_EQ(core->menuTypeFace(), 0);
    EXPECT_EQ(expectForcedOnInTheFile().toLongLong(), -1);
}

TEST_F(NoteStoreCore, WhatEarlierVersionsLeftOpenToOthersIsMadePrivateAtStart)
{
    const QString caches = root + QStringLiteral("/Caches/V5");
    const QString documents = root + QStringLiteral("/Documents");
    TestSupport::writeFile(caches + QStringLiteral("/search.sqlite"), QByteArray());
    TestSupport::writeFile(caches + QStringLiteral("/Meta/Inbox/a.txt"), "meta");
    TestSupport::writeFile(documents + QStringLiteral("/Home/a.txt"), "note");
    const struct {
        QString path;
        int before;
        int after;
    } cases[] = {
        {Folders::caches(), 0755, 0700},
        {caches, 0755, 0700},
        {caches + QStringLiteral("/search.sqlite"), 0644, 0600},
        {Folders::config(), 0755, 0700},
        {root + QStringLiteral("/defaults.ini"), 0644, 0600},
        {Folders::data(), 0750, 0700},
        {Folders::library() + QStringLiteral("/Logs"), 0755, 0700},
        // Only the named paths: nothing below them is walked, and the notes keep their modes.
        {caches + QStringLiteral("/Meta/Inbox/a.txt"), 0644, 0644},
        {documents, 0755, 0755},
        {documents + QStringLiteral("/Home/a.txt"), 0644, 0644},
    };
    for (const auto& c : cases) {
        if (!QFileInfo(c.path).isFile()) {
            ASSERT_TRUE(QDir().mkpath(c.path));
        }
        ASSERT_EQ(::chmod(QFile::encodeName(c.path).constData(), mode_t(c.before)), 0) << qPrintable(c.path);
    }
    makeCore();
    for (const auto& c : cases)
        EXPECT_EQ(TestSupport::modeOf(c.path), c.after) << qPrintable(c.path);
}

TEST_F(NoteStoreCore, SearchDatabaseIsCreatedWithItsSchema)
{
    auto core = makeCore();
    EXPECT_FALSE(QDir(core->cachesDirectory()).exists()); // nothing is made before first use
    QString schema;
    core->syncDatabase([&](SLDatabase& db) {
        schema = db.stringForQuery(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'notes'"));
    });
    EXPECT_TRUE(QFile::exists(core->cachesDirectory() + QStringLiteral("/search.sqlite")));
    EXPECT_EQ(schema, QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, hashtag, "
                                     "mention, tokenize=unicode61)"));

    // unicode61 folds case and accents.
    insertRow(*core, QStringLiteral("inbox/Café.txt"), QStringLiteral("Crème brûlée at the CAFÉ"));
    QString found;
    core->syncDatabase([&](SLDatabase& db) {
        found = db.stringForQuery(QStringLiteral("SELECT key FROM notes WHERE notes MATCH 'cafe creme'"));
    });
    EXPECT_EQ(found, QStringLiteral("inbox/Café.txt"));
    EXPECT_TRUE(capture->lines().contains(QStringLiteral("core:open db")));
}

TEST_F(NoteStoreCore, DatabaseBlocksNeverOverlap)
{
    auto core = makeCore();
    std::atomic<int> inside = 0;
    std::atomic<int> overlaps = 0;
    std::atomic<int> runs = 0;
    const auto block = [&](SLDatabase&) {
        if (++inside != 1)
            ++overlaps;
        std::this_thread::yield();
        --inside;
        ++runs;
    };
    constexpr int PerThread = 300;
    const auto caller = [&] {
        for (int i = 0; i < PerThread; ++i) {
            core->syncDatabase(block);
            core->asyncDatabase(block);
        }
    };
    std::thread first(caller);
    std::thread second(caller);
    first.join();
    second.join();
    core->syncDatabase([](SLDatabase&) {});
    EXPECT_EQ(runs.load(), 4 * PerThread);
    EXPECT_EQ(overlaps.load(), 0);
}

// A search waits for its block anyway: on an idle queue it runs on the
// caller's thread, behind queued work it waits its turn.
TEST_F(NoteStoreCore, AWaitedDatabaseBlockRunsOnTheCallerUnlessWorkIsQueued)
{
    auto core = makeCore();
    std::thread::id ranOn;
    core->syncDatabase([&](SLDatabase&) { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    std::atomic<bool> release = false;
    QStringList order;
    core->asyncDatabase([&](SLDatabase&) {
        while (!release)
            std::this_thread::yield();
        order << QStringLiteral("queued");
    });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    core->syncDatabase([&](SLDatabase&) { order << QStringLiteral("waited"); });
    releaser.join();
    EXPECT_EQ(order, (QStringList{"queued", "waited"}));
}

TEST_F(NoteStoreCore, UnopenableDatabaseGivesNoRowsAndOpensLater)
{
    // A file where the caches folder should be: neither the folder nor the
    // database can be made.
    const QString blocker = root + QStringLiteral("/blocker");
    TestSupport::writeFile(blocker, QByteArray("not a folder"));
    auto core = makeCore(blocker + QStringLiteral("/V5"));

    std::atomic<bool> ran = false;
    core->asyncDatabase([&](SLDatabase& db) {
        EXPECT_FALSE(db.executeUpdate(QStringLiteral("INSERT INTO notes (key) VALUES ('x')")));
        SLResultSet rows = db.executeQuery(QStringLiteral("SELECT * FROM notes"));
        EXPECT_FALSE(rows.next());
        ran = true;
    });
    core->syncDatabase([](SLDatabase&) {});
    EXPECT_TRUE(ran);
    EXPECT_EQ(rowCount(*core), 0);
    const QStringList lines = capture->lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith("db:error "); }));
    EXPECT_FALSE(lines.contains(QStringLiteral("core:open db")));

    ASSERT_TRUE(QFile::remove(blocker));
    insertRow(*core, QStringLiteral("inbox/a.txt"), QStringLiteral("alpha"));
    EXPECT_EQ(rowCount(*core), 1);
    EXPECT_TRUE(capture->lines().contains(QStringLiteral("core:open db")));
}

TEST_F(NoteStoreCore, UnreadableDatabaseIsReplacedAndNotesAreReindexed)
{
    auto core = makeCore();
    const QString caches = core->cachesDirectory();
    TestSupport::writeFile(caches + QStringLiteral("/search.sqlite"), QByteArray(4096, 'x'));
    TestSupport::writeFile(caches + QStringLiteral("/Index/Inbox/a.txt"), QByteArray());

    insertRow(*core, QStringLiteral("inbox/b.txt"), QStringLiteral("beta"));
    EXPECT_EQ(rowCount(*core), 1);
    // Without its marker the start-up rebuild indexes the note again.
    EXPECT_FALSE(QFile::exists(caches + QStringLiteral("/Index/Inbox/a.txt")));
}

TEST_F(NoteStoreCore, CloseDropAndDropLinkFiles)
{
    auto core = makeCore();
    const QString caches = core->cachesDirectory();
    insertRow(*core, QStringLiteral("inbox/a.txt"), QStringLiteral("alpha"));

    core->closeDatabase();
    core->fileQueue()->sync([] {});
    EXPECT_TRUE(capture->lines().contains(QStringLiteral("core:close db")));
    EXPECT_EQ(rowCount(*core), 1); // opened again, rows kept

    TestSupport::writeFile(caches + QStringLiteral("/Index/Archive/a.txt"), QByteArray());
    TestSupport::writeFile(caches + QStringLiteral("/search-v3.sqlite"), QByteArray("old"));
    TestSupport::writeFile(caches + QStringLiteral("/Link/Hashtag/work/.meta"), QByteArray("Work"));
    TestSupport::writeFile(caches + QStringLiteral("/Meta/Inbox/a.txt"), QByteArray("meta"));
    core->dropDatabase();
    core->fileQueue()->sync([] {});
    EXPECT_FALSE(QDir(caches + QStringLiteral("/Index")).exists());
    EXPECT_FALSE(QFile::exists(caches + QStringLiteral("/search-v3.sqlite")));
    EXPECT_FALSE(QFile::exists(caches + QStringLiteral("/search.sqlite")));
    EXPECT_FALSE(QFile::exists(caches + QStringLiteral("/search-side.sqlite")));
    EXPECT_EQ(rowCount(*core), 0);

    const uint64_t cloudLinkChanges = LinkFiles::changes(NoteServiceCloud);
    core->dropLinkFiles();
    core->fileQueue()->sync([] {});
    EXPECT_FALSE(QDir(caches + QStringLiteral("/Link")).exists());
    // A pass that read link dates before no longer takes them for the disk's.
    EXPECT_GT(LinkFiles::changes(NoteServiceCloud), cloudLinkChanges);
    EXPECT_TRUE(QFile::exists(caches + QStringLiteral("/Meta/Inbox/a.txt")));
}

TEST_F(NoteStoreCore, SyncDatabaseFromTheDatabaseQueueIsCaught)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto core = makeCore();
    EXPECT_DEATH(core->syncDatabase([&](SLDatabase&) { core->syncDatabase([](SLDatabase&) {}); }),
                 "net\\.brindlewick\\.notes\\.db");
}

TEST_F(NoteStoreCore, EventsPassThroughOnTheCallersQueue)
{
    auto core = makeCore();
    QStringList lines;
    auto journal = std::make_shared<EventJournal>(QStringLiteral("L"), &lines);
    core->addNoteStorageListener(journal);
    const NotePtr note = std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox);
    core->fileQueue()->sync([&] {
        core->noteWillMoveTo(note, note);
        core->noteDidAddToStorage(note, NoteTagHashtag, QStringLiteral("work"));
        core->noteDidDeleteFromStorage(note, NoteStorageArchive, QString());
        core->noteTagDidAddToStorage(QStringLiteral("work"), NoteTagHashtag);
        core->noteTagDidDeleteFromStorage(QStringLiteral("ann"), NoteTagMention);
    });
    core->noteDidMoveTo(note, std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageArchive));
    core->noteDidUpdateFromRemoteServer(note);
    core->noteDidDeleteFromRemoteServer(note);
    core->removeNoteStorageListener(journal.get());
    core->noteDidUpdateFromRemoteServer(note);

    const QString file = QLatin1Char('@') + core->fileQueue()->label();
    const QString main = QLatin1Char('@') + DispatchQueue::mainLabel();
    EXPECT_EQ(lines, (QStringList{"L willMove 1/a.txt>1/a.txt" + file, "L add 1/a.txt 4 work" + file,
                                  "L delete 1/a.txt 2 -" + file, "L tagAdd work 4" + file, "L tagDelete ann 5" + file,
                                  "L didMove 1/a.txt>2/a.txt on main" + main, "L update" + main,
                                  "L remoteDelete" + main}));
}

TEST_F(NoteStoreCore, WithoutAnAccountEveryCloudCallAnswersAtOnceWithEmptyValues)
{
    auto core = makeCore();
    AppleCloud& cloud = *core->appleCloud();
    const NotePtr note = std::make_shared<Note>();
    int calls = 0;
    const auto commit = [&](const QDateTime& date, const Error& error) {
        ++calls;
        EXPECT_FALSE(date.isValid());
        EXPECT_TRUE(error.isNull());
    };
    const auto plain = [&](const Error& error) {
        ++calls;
        EXPECT_TRUE(error.isNull());
    };
    cloud.commitNote(note, commit);
    cloud.commitAndCloseNote(note, commit);
    cloud.renameNote(note, note, plain);
    cloud.moveNote(note, note, plain);
    cloud.deleteNote(note, plain);
    EXPECT_EQ(calls, 5);

    std::vector<bool> answers;
    CKCloud& ck = *cloud.ckCloud();
    ck.saveNote(note, [&](bool ok) { answers.push_back(ok); });
    ck.moveNote(note, note, [&](bool ok) { answers.push_back(ok); });
    ck.deleteNote(note, [&](bool ok) { answers.push_back(ok); });
    ck.saveNote(note, nullptr);
    EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(capture->lines().count(QStringLiteral("ckcloud:save error cloudkit disabled")), 2);
}

TEST(NoteStoreCoreShared, ConfiguredOnceForTheProcessAndSetsTheNoteRoots)
{
    const QString root = TestSupport::home() + QStringLiteral("/shared");
    auto cloud = std::make_shared<ScriptedAppleCloud>();
    Core::Configuration configuration;
    configuration.documentDirectory = root + QStringLiteral("/Documents");
    configuration.cachesDirectory = root + QStringLiteral("/Caches");
    configuration.makeAppleCloud = [cloud] { return cloud; };
    configuration.wallClock = [] { return 1700000000.75; };
    configuration.uuidGenerator = [] { return QStringLiteral("00000000-0000-0000-0000-000000000001"); };
    if (!Core::configure(configuration))
        GTEST_SKIP() << "the shared Core was made by an earlier repetition of this process";

    Core& core = Core::shared();
    EXPECT_FALSE(Core::configure({}));
    EXPECT_EQ(core.documentDirectory(), root + QStringLiteral("/Documents"));
    EXPECT_EQ(Note::documentRoot(), root + QStringLiteral("/Documents"));
    EXPECT_EQ(Note::cachesRoot(), root + QStringLiteral("/Caches"));
    EXPECT_EQ(Note::documentFileForKey(QStringLiteral("a.txt"), NoteStorageInbox),
              root + QStringLiteral("/Documents/Home/a.txt"));
    EXPECT_EQ(Clock::now(), 1700000000);
    EXPECT_EQ(Clock::newUUID(), QStringLiteral("00000000-0000-0000-0000-000000000001"));
    EXPECT_EQ(core.fileQueue()->label(), QStringLiteral("net.brindlewick.notes.file"));
    EXPECT_EQ(core.dbQueue()->label(), QStringLiteral("net.brindlewick.notes.db"));

    // The store reaches the cloud only through the object the configuration made.
    EXPECT_EQ(core.appleCloud(), cloud);
}

TEST(NoteStoreCoreShared, UnconfiguredItTakesTheUsersFoldersInTheTestHome)
{
    Core core;
    EXPECT_EQ(core.documentDirectory(), Folders::documents());
    EXPECT_EQ(core.cachesDirectory(), Folders::caches() + QStringLiteral("/V5"));
    EXPECT_TRUE(core.documentDirectory().startsWith(TestSupport::home()));
    EXPECT_TRUE(core.cachesDirectory().startsWith(TestSupport::home()));
    EXPECT_NE(dynamic_cast<OfflineAppleCloud*>(core.appleCloud().get()), nullptr);
}
