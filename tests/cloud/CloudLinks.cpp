#include "CloudTestSupport.h"

#include "Cloud/SyncConflict.h"

#include "files/FileDates.h"

#include <QFile>

namespace {

const QString Key = QStringLiteral("Plan.txt");

QString link(int service, int storage = NoteStorageInbox, const QString& key = Key)
{
    return Note::linkFileForKey(key, service, storage);
}

// A link file of the given date, written as the cloud classes write it.
void stamp(int service, const FileTime& date, const QString& key = Key)
{
    LinkFiles(LinkFiles::Owner::CKCloud).write(key, service, NoteStorageInbox, date);
}

} // namespace

using CloudLinks = CloudTest;

TEST_F(CloudLinks, DatesCompareToTheNanosecondAndEqualCountsAsNewer)
{
    const FileTime date{CloudNow, 123456789};
    stamp(NoteServiceCloud, date);
    EXPECT_TRUE(QFileInfo(Note::linkDirectoryForService(NoteServiceCloud, NoteStorageInbox)).isDir());
    EXPECT_EQ(QFileInfo(link(NoteServiceCloud)).size(), 0);
    EXPECT_EQ(LinkFiles::modificationDate(Key, NoteServiceCloud, NoteStorageInbox), date);

    const struct {
        FileTime other;
        bool newerOrEqual;
    } cases[] = {
        {date, true},
        {{CloudNow, 123456788}, true},
        {{CloudNow, 123456790}, false},
        {{CloudNow - 1, 999999999}, true},
        {{CloudNow + 1, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, c.other), c.newerOrEqual)
            << c.other.seconds << "." << c.other.nanoseconds;
    }
    // Another service, storage or key has no link.
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloudKit, NoteStorageInbox, {0, 0}));
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageArchive, {0, 0}));
    EXPECT_FALSE(LinkFiles::modificationDate(QStringLiteral("Other.txt"), NoteServiceCloud, NoteStorageInbox));
}

TEST_F(CloudLinks, ADocumentIsNotNewerThanTheLinkWrittenFromItsDate)
{
    const QString document = TestSupport::home() + QStringLiteral("/drive/Plan.txt");
    TestSupport::writeFile(document, "text");
    ASSERT_TRUE(FileTimes::setModificationTime(document, {CloudNow, 987654321}));
    const auto changed = FileTimes::modificationTime(document);
    ASSERT_TRUE(changed);
    stamp(NoteServiceCloud, *changed);
    EXPECT_TRUE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, *FileTimes::modificationTime(document)));
    // Re-dating an existing link moves it both ways.
    stamp(NoteServiceCloud, {CloudNow - 50, 0});
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceCloud, NoteStorageInbox, *changed));
}

TEST_F(CloudLinks, AnUnreadableLinkCountsAsAbsent)
{
    Note::createImmediateDirectoryForFilePath(link(NoteServiceTrash));
    ASSERT_TRUE(QFile::link(TestSupport::home() + QStringLiteral("/nowhere"), link(NoteServiceTrash)));
    EXPECT_FALSE(LinkFiles::modificationDate(Key, NoteServiceTrash, NoteStorageInbox));
    EXPECT_FALSE(LinkFiles::isNewerOrEqualTo(Key, NoteServiceTrash, NoteStorageInbox, {0, 0}));
    // Writing over it neither fails nor follows it out of the store.
    stamp(NoteServiceTrash, {CloudNow, 0});
    EXPECT_FALSE(QFileInfo::exists(TestSupport::home() + QStringLiteral("/nowhere")));
}

TEST_F(CloudLinks, KeysThatCouldLeaveTheirFolderWriteNothing)
{
    for (const QString& key : {QString(), QStringLiteral(".."), QStringLiteral("a/b"), QString(256, QLatin1Char('x'))}) {
        stamp(NoteServiceCloudKit, {CloudNow, 0}, key);
        EXPECT_FALSE(LinkFiles::modificationDate(key, NoteServiceCloudKit, NoteStorageInbox)) << key.left(8).toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Note::linkDirectoryForService(NoteServiceCloudKit)));
}

TEST_F(CloudLinks, AWriteWithoutADateLogsCreatesANewLinkNowAndKeepsAnOldOnesDate)
{
    const struct {
        LinkFiles::Owner owner;
        const char* message;
    } owners[] = {
        {LinkFiles::Owner::AppleCloud, "apcloud:writeLine error no changeDate"},
        {LinkFiles::Owner::CKCloud, "ckcloud:addlink error no changeDate"},
    };
    for (const auto& owner : owners) {
        const LinkFiles links(owner.owner);
        QFile::remove(link(NoteServiceCloud));
        const int64_t before = QDateTime::currentSecsSinceEpoch();
        links.write(Key, NoteServiceCloud, NoteStorageInbox, std::nullopt);
        const auto created = LinkFiles::modificationDate(Key, NoteServiceCloud, NoteStorageInbox);
        ASSERT_TRUE(created);
        // The file system dates by a coarse clock that may trail the precise one.
        EXPECT_GE(created->seconds, before - 1);
        EXPECT_LE(created->seconds, QDateTime::currentSecsSinceEpoch());

        stamp(NoteServiceCloud, {CloudNow - 7, 5});
        links.write(Key, NoteServiceCloud, NoteStorageInbox, std::nullopt);
        EXPECT_EQ(LinkFiles::modificationDate(Key, NoteServiceCloud, NoteStorageInbox), (FileTime{CloudNow - 7, 5}));
        EXPECT_EQ(log->lines().count(QString::fromLatin1(owner.message)), 2);
    }
}

TEST_F(CloudLinks, AMoveHandsTheCloudDateToTheNewNameAndTheOldNamesTrashLink)
{
    const QString newKey = QStringLiteral("Plan 2.txt");
    const LinkFiles links(LinkFiles::Owner::AppleCloud);
    const FileTime date{CloudNow - 30, 250};
    stamp(NoteServiceCloud, date);
    links.moveCloudLink(Key, NoteStorageInbox, newKey, NoteStorageArchive);
    EXPECT_FALSE(QFileInfo::exists(link(NoteServiceCloud)));
    EXPECT_EQ(LinkFiles::modificationDate(newKey, NoteServiceCloud, NoteStorageArchive), date);
    EXPECT_EQ(LinkFiles::modificationDate(Key, NoteServiceTrash, NoteStorageInbox), date);

    // With no old link, no document stands behind a new one: only the Trash link, dated now.
    links.moveCloudLink(QStringLiteral("Never.txt"), NoteStorageInbox, QStringLiteral("Now.txt"), NoteStorageInbox);
    EXPECT_FALSE(LinkFiles::modificationDate(QStringLiteral("Now.txt"), NoteServiceCloud, NoteStorageInbox));
    EXPECT_EQ(LinkFiles::modificationDate(QStringLiteral("Never.txt"), NoteServiceTrash, NoteStorageInbox),
              FileTime::fromWholeSeconds(CloudNow));
    EXPECT_TRUE(log->lines().filter(QStringLiteral("no changeDate")).isEmpty());
}

TEST_F(CloudLinks, LocalChangesAreUnexchangedUntilALinkIsAsNewAsTheTextFile)
{
    const QString document = Note::documentFileForKey(Key, NoteStorageInbox);
    const int64_t changed = CloudNow - 10;
    struct Link {
        int service;
        FileTime date;
    };
    const struct {
        const char* name;
        QList<Link> links;
        bool unexchanged;
    } cases[] = {
        {"never exchanged", {}, true},
        {"both older", {{NoteServiceCloud, {changed - 1, 0}}, {NoteServiceCloudKit, {changed - 1, 999999999}}}, true},
        {"drive as new", {{NoteServiceCloud, {changed, 0}}}, false},
        {"record newer", {{NoteServiceCloudKit, {changed, 1}}}, false},
        {"only trash", {{NoteServiceTrash, {changed + 5, 0}}}, true},
    };
    for (const auto& c : cases) {
        QDir(Note::linkDirectoryForService(NoteServiceCloud)).removeRecursively();
        QDir(Note::linkDirectoryForService(NoteServiceCloudKit)).removeRecursively();
        QDir(Note::linkDirectoryForService(NoteServiceTrash)).removeRecursively();
        TestSupport::writeFile(document, "text");
        ASSERT_TRUE(FileDates::setModificationDate(document, changed));
        for (const Link& l : c.links)
            stamp(l.service, l.date);
        EXPECT_EQ(SyncConflict::hasUnexchangedLocalChanges(Key, NoteStorageInbox), c.unexchanged) << c.name;
    }
    QFile::remove(document);
    EXPECT_FALSE(SyncConflict::hasUnexchangedLocalChanges(Key, NoteStorageInbox));
}

TEST_F(CloudLinks, AForkKeepsTheLocalTextAsANewNoteAndSavesItsRecord)
{
    // The shared Core's store outlives a repetition of the test: a title of its own each time.
    static int run = 0;
    const QString text = QStringLiteral("Plans for the whole week %1\nmine").arg(++run);
    const auto local = note(Key, text, CloudNow - 20);
    bool committed = false;
    local->_commitAndCloseLocalNote([&](bool ok) { committed = ok; });
    ASSERT_TRUE(committed);

    auto promise = std::make_shared<std::promise<NotePtr>>();
    auto future = promise->get_future();
    SyncConflict::forkLocalNote(Key, NoteStorageInbox, [promise](const NotePtr& forked) { promise->set_value(forked); });
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const NotePtr forked = future.get();
    ASSERT_TRUE(forked);
    EXPECT_NE(forked->key(), Key);
    EXPECT_EQ(forked->storage(), NoteStorageInbox);
    EXPECT_EQ(forked->createdOn(), CloudNow - 120);
    EXPECT_EQ(forked->updatedOn(), CloudNow - 20);
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(forked->key(), NoteStorageInbox)), text.toUtf8());
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(Key, NoteStorageInbox)), text.toUtf8());

    const auto record = StoreClient(coreStorePath()).fetch(NoteRecord::recordName(NoteStorageInbox, forked->key()));
    ASSERT_TRUE(record);
    EXPECT_EQ(NoteRecord::stringFromData(*record->data(NoteRecord::TextKey), NoteRecord::Version), text);
    EXPECT_EQ(LinkFiles::modificationDate(forked->key(), NoteServiceCloudKit, NoteStorageInbox),
              FileTime::fromWholeSeconds(CloudNow - 20));

    bool called = false;
    SyncConflict::forkLocalNote(QStringLiteral("Missing.txt"), NoteStorageInbox, [&](const NotePtr& forked) {
        called = true;
        EXPECT_FALSE(forked);
    });
    EXPECT_TRUE(called);
}
