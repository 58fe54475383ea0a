#include "DriveTestSupport.h"

#include "CloudSetup.h"

#include <unistd.h>

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
