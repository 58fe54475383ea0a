// A note deleted from the editor while the record store does not answer, the
// Core's cloud being the sync folder over that store, as in the application.
#include "../cloud/CloudTestSupport.h"
#include "../warehouse/WarehouseTestSupport.h"

#include "Cloud/FolderAppleCloud.h"

#include "Dispatch.h"
#include "FaultInjector.h"
#include "files/Trash.h"

#include <QDirIterator>

using Op = FaultInjector::Operation;

namespace {

UserDefaults& sessionDefaults()
{
    static UserDefaults defaults(TestSupport::home() + QStringLiteral("/session-defaults.ini"));
    return defaults;
}

QString storePath()
{
    return TestSupport::home() + QStringLiteral("/session-store.sqlite");
}

// Made once with the Core, which never lets its cloud go.
std::shared_ptr<FaultInjector>& faults()
{
    static std::shared_ptr<FaultInjector> injector;
    return injector;
}

} // namespace

class CloudSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] {
            StoreCKCloud::Configuration records;
            records.backend = {storePath(), QStringLiteral("a"), {}, {}};
            records.defaults = &sessionDefaults();
            records.wrapDatabase = [](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
                return faults() = std::make_shared<FaultInjector>(std::move(db));
            };
            return std::make_shared<FolderAppleCloud>(std::make_shared<StoreCKCloud>(std::move(records)),
                                                      sessionDefaults());
        };
        sharedTestCore(configuration);
    }
    void SetUp() override
    {
        Core& core = Core::shared();
        core.setEnabledAppleCloud(true);
        cloud = std::dynamic_pointer_cast<FolderAppleCloud>(core.appleCloud());
        ASSERT_TRUE(cloud);
        root = TestSupport::home() + QStringLiteral("/Drive");
        QDir().mkpath(root);
        ASSERT_TRUE(cloud->container().chooseFolder(root));
        store = std::make_unique<StoreClient>(storePath());
        // The store answers once, so its links are this computer's before the test holds it.
        awaitValue<bool>([&](auto done) {
            cloud->ckCloud()->notifyDeleteNote(std::make_shared<Note>(QStringLiteral("Opening.txt"), NoteStorageInbox),
                                               FileTime::now(), done);
        });
        cloud->startQuery();
        Dispatch::waitUntilIdle();
        warehouse = Warehouse::create();
        editor = std::make_shared<FakeEditor>();
        warehouse->setEditingDelegate(editor);
        log = LogCapture::install();
    }
    void TearDown() override
    {
        log->uninstall();
        cloud->stopQuery();
        Dispatch::waitUntilIdle();
        warehouse.reset();
    }

    // The drive's passes over what the folder holds now.
    void pass()
    {
        Dispatch::waitUntilIdle();
        time.advance(FolderQuery::RescanInterval);
        Dispatch::waitUntilIdle();
    }
    QStringList driveTexts() const
    {
        QStringList texts;
        QDirIterator it(root + QStringLiteral("/Documents"), {QStringLiteral("*.txt")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            texts << QString::fromUtf8(TestSupport::readFile(it.next()));
        return texts;
    }
    static QStringList texts(const QString& folder)
    {
        QStringList texts;
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            texts << QString::fromUtf8(TestSupport::readFile(folder + QLatin1Char('/') + name));
        return texts;
    }
    static QStringList homeTexts()
    {
        return texts(Note::documentDirectoryForStorage(NoteStorageInbox))
               + texts(Note::documentDirectoryForStorage(NoteStorageArchive));
    }

    TestSupport::VirtualTime time;
    std::shared_ptr<FolderAppleCloud> cloud;
    QString root;
    std::unique_ptr<StoreClient> store;
    std::shared_ptr<Warehouse> warehouse;
    std::shared_ptr<FakeEditor> editor;
    std::shared_ptr<LogCapture> log;
};

TEST_F(CloudSession, ANoteDeletedBeforeItsFirstRecordReachedTheStoreStaysDeleted)
{
    for (const bool hangs : {true, false}) {
        const QString title = QStringLiteral("Delete me note %1").arg(hangs ? "held" : "answered");
        const QString text = title + QStringLiteral("\nwritten while the store hangs");
        if (hangs) {
            faults()->hold(Op::FetchRecord);
            faults()->hold(Op::SaveRecord);
        }

        // A new note: its first letter gives it a file under a placeholder name, its title a readable one.
        const auto note = std::make_shared<Note>();
        warehouse->startEditingNote(note, [] {});
        Dispatch::waitUntilIdle();
        editor->text = text.left(1);
        warehouse->addEditingChanges(1);
        Dispatch::waitUntilIdle();
        editor->text = text;
        warehouse->addEditingChanges(1);
        time.advance(Warehouse::AutoSaveMaxDelay);
        Dispatch::waitUntilIdle();
        ASSERT_EQ(note->key(), title + QStringLiteral(".txt")) << hangs;
        pass();
        ASSERT_EQ(driveTexts(), QStringList{text}) << hangs;

        // File ▸ Delete: the session ends, then the note goes.
        std::optional<Error> deleted;
        warehouse->endEditingNoteForMoveOrDelete([&] {
            Core::shared().fileQueue()->async([&] { note->deleteNote([&](const Error& error) { deleted = error; }); });
        });
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return deleted.has_value(); }, 10)) << hangs;
        EXPECT_TRUE(deleted->isNull()) << hangs;
        pass();
        if (hangs) {
            faults()->release(Op::FetchRecord);
            faults()->release(Op::SaveRecord);
        }
        awaitValue<bool>([&](auto done) { cloud->wait([done] { done(true); }); });
        pass();

        EXPECT_EQ(log->lines().filter(QStringLiteral("sync:fork")), QStringList()) << hangs;
        EXPECT_EQ(homeTexts(), QStringList()) << hangs;
        EXPECT_EQ(driveTexts(), QStringList()) << hangs;
        EXPECT_TRUE(texts(Trash::folder() + QStringLiteral("/files")).contains(text)) << hangs;
        const std::optional<Record> record = store->fetch(QStringLiteral("Inbox/") + note->key());
        ASSERT_TRUE(record) << hangs;
        EXPECT_EQ(record->integer(NoteRecord::StateKey), NoteRecord::StateDeleted) << hangs;
    }
}
