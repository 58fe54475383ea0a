#include "DriveTestSupport.h"

#include "CloudSetup.h"

#include "FaultInjector.h"

#include <QTemporaryDir>

#include <unistd.h>

using Op = FaultInjector::Operation;

class CloudSetupTest : public DriveCloudTest {};

TEST_F(CloudSetupTest, ADriveFolderIsRefusedWhenMissingUnwritableOrInsideTheNotes)
{
    Core& core = Core::shared();
    const QString file = TestSupport::home() + QStringLiteral("/plain.txt");
    TestSupport::writeFile(file, "x");
    const QString locked = TestSupport::home() + QStringLiteral("/Locked");
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QDir().mkpath(core.documentDirectory() + QStringLiteral("/Sub"));
    QDir().mkpath(core.cachesDirectory());
    struct Case {
        const char* name;
        QString path;
    } cases[] = {
        {"missing", TestSupport::home() + QStringLiteral("/Nowhere")},
        {"a file", file},
        {"the notes", core.documentDirectory()},
        {"inside the notes", core.documentDirectory() + QStringLiteral("/Sub")},
        {"the caches", core.cachesDirectory()},
        {"unwritable", locked},
    };
    for (const Case& c : cases) {
        if (QString::fromLatin1(c.name) == QStringLiteral("unwritable") && ::geteuid() == 0)
            continue; // the superuser writes anywhere
        Error error;
        EXPECT_FALSE(CloudSetup::setDriveFolder(*cloud, c.path, &error)) << c.name;
        EXPECT_TRUE(error.localizedDescription().contains(c.path)) << c.name;
        EXPECT_EQ(cloud->container().root(), root) << c.name;
    }

    const QString other = TestSupport::home() + QStringLiteral("/Other");
    QDir().mkpath(other);
    ASSERT_TRUE(CloudSetup::setDriveFolder(*cloud, other));
    EXPECT_EQ(cloud->container().root(), other);
    EXPECT_FALSE(cloud->container().identityToken().isEmpty());
}

TEST_F(CloudSetupTest, ARecordStoreIsCheckedBeforeTheRelayMovesOverToIt)
{
    StoreCKCloud relay(storeConfiguration(storePath));
    auto save = [&](const QString& key) {
        return awaitValue<bool>([&](auto done) { relay.saveNote(note(key, QStringLiteral("text"), CloudNow), done); });
    };
    ASSERT_TRUE(save(QStringLiteral("First.txt")));

    const QString folderAsFile = TestSupport::home() + QStringLiteral("/AFolder.sqlite");
    QDir().mkpath(folderAsFile);
    Error error;
    EXPECT_FALSE(CloudSetup::setRecordStore(relay, {folderAsFile, QStringLiteral("a"), {}, {}}, &error));
    EXPECT_TRUE(error.localizedDescription().contains(folderAsFile)) << error.description().toStdString();
    ASSERT_TRUE(save(QStringLiteral("Second.txt")));
    EXPECT_TRUE(store->fetch(NoteRecord::recordName(NoteStorageInbox, QStringLiteral("Second.txt"))));

    const QString next = TestSupport::home() + QStringLiteral("/next.sqlite");
    ASSERT_TRUE(CloudSetup::setRecordStore(relay, {next, QStringLiteral("a"), {}, {}}, &error));
    ASSERT_TRUE(save(QStringLiteral("Third.txt")));
    const QString third = NoteRecord::recordName(NoteStorageInbox, QStringLiteral("Third.txt"));
    EXPECT_TRUE(StoreClient(next).fetch(third));
    EXPECT_FALSE(store->fetch(third));
}

// Sync over a folder of its own and the test's record store, whose answers can be held.
class CloudSwitchTest : public DriveCloudTest {
protected:
    void SetUp() override
    {
        DriveCloudTest::SetUp();
        StoreCKCloud::Configuration configuration = storeConfiguration(storePath);
        configuration.wrapDatabase = [this](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
            return faults = std::make_shared<FaultInjector>(std::move(db));
        };
        relay = std::make_shared<StoreCKCloud>(std::move(configuration));
        cloud->stopQuery();
        cloud = std::make_shared<FolderAppleCloud>(relay, defaults());
        ASSERT_TRUE(cloud->container().chooseFolder(root));
    }
    void TearDown() override
    {
        DriveCloudTest::TearDown();
        relay.reset();
    }
    static QStringList links(int service)
    {
        QStringList names;
        for (const int storage : {NoteStorageInbox, NoteStorageArchive})
            names += QDir(Note::linkDirectoryForService(service, storage)).entryList(QDir::Files);
        return names;
    }

    // Starts the query, then a fetch of the store's changes that stops where
    // it asks for the records in full: a switch has to wait for it.
    void holdAFetch()
    {
        for (const char* key : {"Inbox/One.txt", "Inbox/Two.txt"})
            ASSERT_TRUE(store->save(liveRecord(QString::fromLatin1(key), QStringLiteral("theirs"), CloudNow - 10)));
        sync();
        awaitValue<bool>([&](auto done) { relay->notifyDeleteNote(note(QStringLiteral("Open.txt"), QString(), 0), {}, done); });
        faults->hold(Op::FetchRecords);
        relay->fetchStorage([this](bool ok) { fetched = ok; });
        Dispatch::waitUntilIdle();
        ASSERT_EQ(faults->heldCount(Op::FetchRecords), 1);
    }

    std::shared_ptr<StoreCKCloud> relay;
    std::shared_ptr<FaultInjector> faults;
    std::optional<bool> fetched;
};

TEST_F(CloudSwitchTest, AStoreSwitchedDuringAFetchEndsWithTheNewStoresLinksOnly)
{
    ASSERT_NO_FATAL_FAILURE(holdAFetch());

    const QString next = root + QStringLiteral("-switched.sqlite");
    std::optional<Error> switched;
    CloudSetup::changeRecordStore(cloud, {next, QStringLiteral("a"), {}, {}}, [&](const Error& e) { switched = e; });
    ASSERT_TRUE(DispatchQueue::runMainUntil([] { Dispatch::waitUntilIdle(); return true; }, 10));
    EXPECT_FALSE(switched) << "the swap waits for the fetch under way";
    // Writes asked for between the start of the switch and the swap, each after the note store's own:
    // a note the folder keeps is here too.
    for (const char* key : {"Saved.txt", "Moved.txt"})
        TestSupport::writeFile(Note::documentFileForKey(QString::fromLatin1(key), NoteStorageInbox), "mine");
    const auto write = [&](const QString& key) { return note(key, QStringLiteral("mine"), CloudNow); };
    std::optional<bool> saved, moved;
    relay->saveNote(write(QStringLiteral("Saved.txt")), [&](bool ok) { saved = ok; });
    relay->moveNote(write(QStringLiteral("Old.txt")), write(QStringLiteral("Moved.txt")), [&](bool ok) { moved = ok; });
    Dispatch::waitUntilIdle();
    faults->release(Op::FetchRecords);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return switched.has_value(); }, 10));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { Dispatch::waitUntilIdle(); return saved && moved; }, 10));

    EXPECT_TRUE(switched->isNull());
    EXPECT_EQ(fetched, true);
    // Both notes are also unexchanged with the new store, so the query's send pass may put the same text
    // there first and the write then answers that it sent nothing: the store's records say what arrived.
    static const struct {
        const char* key;
        std::optional<QString> text;
    } arrived[] = {{"Saved.txt", QStringLiteral("mine")}, {"Old.txt", std::nullopt}, {"Moved.txt", QStringLiteral("mine")}};
    for (const auto& [key, text] : arrived) {
        const QString name = NoteRecord::recordName(NoteStorageInbox, QString::fromUtf8(key));
        const std::optional<Record> record = StoreClient(next).fetch(name);
        ASSERT_TRUE(record) << key << " goes to the new store";
        EXPECT_EQ(stateOf(record), text ? NoteRecord::StateLive : NoteRecord::StateDeleted) << key;
        if (text) {
            EXPECT_EQ(textOf(record), text) << key;
        }
        EXPECT_FALSE(store->fetch(name)) << key << " never reaches the old one";
    }
    EXPECT_EQ(links(NoteServiceCloudKit), (QStringList{QStringLiteral("Moved.txt"), QStringLiteral("Saved.txt")}))
        << "only the new store's links";
    EXPECT_FALSE(defaults().objectForKey(QStringLiteral("ckfetch")).isValid()) << "its fetch date";
    EXPECT_EQ(defaults().stringForKey(QString::fromLatin1(StoreCKCloud::StoreAccountKey)),
              StoreClient(next).db_->containerID());
    EXPECT_NE(cloud->state(), FolderAppleCloud::Idle) << "the query runs again";
}

struct FolderSwitch {
    const char* name;
    bool queryRunning;
    // The new folder is a copy of the old one's account, so its token stays.
    bool sameAccount;
};

void PrintTo(const FolderSwitch& value, std::ostream* out)
{
    *out << value.name;
}

class CloudFolderSwitchTest : public CloudSwitchTest, public ::testing::WithParamInterface<FolderSwitch> {};

TEST_P(CloudFolderSwitchTest, WritesAskedForDuringTheSwitchGoToTheNewFolderOnly)
{
    ASSERT_NO_FATAL_FAILURE(holdAFetch());
    if (!GetParam().queryRunning)
        cloud->stopQuery();
    const QString next = root + QStringLiteral("-Next");
    for (const QString& folder : {root, next})
        for (const char* key : {"From.txt", "Gone.txt"})
            TestSupport::writeFile(folder + QStringLiteral("/Documents/Inbox/") + QString::fromLatin1(key), "theirs");
    const QString account = cloud->container().identityToken();
    if (GetParam().sameAccount) {
        ASSERT_TRUE(QFile::copy(root + QStringLiteral("/.account"), next + QStringLiteral("/.account")));
    }
    std::optional<Error> switched;
    CloudSetup::changeDriveFolder(cloud, next, [&](const Error& e) { switched = e; });
    ASSERT_TRUE(DispatchQueue::runMainUntil([] { Dispatch::waitUntilIdle(); return true; }, 10));
    ASSERT_FALSE(switched) << "the swap waits for the fetch under way";

    // Writes asked for between the start of the switch and the swap, each after the note store's own:
    // a note the folder keeps is here too.
    for (const char* key : {"Saved.txt", "Moved.txt"})
        TestSupport::writeFile(Note::documentFileForKey(QString::fromLatin1(key), NoteStorageInbox), "mine");
    const auto write = [&](const char* key) { return note(QString::fromLatin1(key), QStringLiteral("mine"), CloudNow); };
    int answered = 0;
    const auto count = [&](auto&&...) { ++answered; };
    cloud->commitNote(write("Saved.txt"), count);
    cloud->moveNote(write("From.txt"), write("Moved.txt"), count);
    cloud->deleteNote(write("Gone.txt"), count);
    Dispatch::waitUntilIdle();
    faults->release(Op::FetchRecords);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { Dispatch::waitUntilIdle(); return switched && answered == 3; }, 10));
    EXPECT_TRUE(switched->isNull()) << switched->description().toStdString();
    EXPECT_EQ(fetched, true);

    struct Case {
        const char* key;
        bool inOld;
        bool inNew;
    } cases[] = {
        {"Saved.txt", false, true},
        {"From.txt", true, false},
        {"Moved.txt", false, true},
        {"Gone.txt", true, false},
    };
    for (const Case& c : cases) {
        const QString relative = QStringLiteral("/Documents/Inbox/") + QString::fromLatin1(c.key);
        EXPECT_EQ(QFileInfo::exists(root + relative), c.inOld) << c.key << " in the folder given up";
        EXPECT_EQ(QFileInfo::exists(next + relative), c.inNew) << c.key << " in the new folder";
    }
    EXPECT_EQ(cloud->container().identityToken() == account, GetParam().sameAccount);
    EXPECT_EQ(defaults().stringForKey(QString::fromLatin1(FolderAppleCloud::LinkedAccountKey)),
              cloud->container().identityToken())
        << "the links speak of the new folder's account";
    EXPECT_TRUE(linkDate(NoteServiceCloud, QStringLiteral("Saved.txt")));
}
INSTANTIATE_TEST_SUITE_P(Cloud, CloudFolderSwitchTest,
                         ::testing::Values(FolderSwitch{"QueryRunning", true, false},
                                           FolderSwitch{"QueryStopped", false, false},
                                           FolderSwitch{"QueryRunningSameAccount", true, true},
                                           FolderSwitch{"QueryStoppedSameAccount", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CloudSetupTest, AnUnreachableStoreOpensNothingAtStartAndTheFetchReportsIt)
{
    QTemporaryDir nowhere;
    const QString key = QString::fromLatin1(Container::StoreConnectionKey);
    UserDefaults::standard().setString(QStringLiteral("host=%1 port=5432 dbname=none user=none").arg(nowhere.path()), key);
    forgetLog();
    const std::shared_ptr<AppleCloud> made = CloudSetup::makeAppleCloud();
    EXPECT_EQ(cloudLines(), QStringList()) << "nothing opened while starting";
    auto* relay = dynamic_cast<StoreCKCloud*>(made->ckCloud().get());
    ASSERT_TRUE(relay);
    EXPECT_FALSE(awaitValue<bool>([&](auto done) { relay->fetchStorage(done); }));
    EXPECT_TRUE(relay->lastFetchFailure().localizedDescription().contains(nowhere.path()))
        << relay->lastFetchFailure().description().toStdString();
    UserDefaults::standard().removeObject(key);
}
