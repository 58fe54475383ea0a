#pragma once

#include "CloudTestSupport.h"

#include "Cloud/FolderAppleCloud.h"

// The record store as the drive side sees it: every write succeeds, and the
// deletions the trash pass reports are kept.
class RecordingCKCloud : public CKCloud {
public:
    void saveNote(const NotePtr&, Completion block) override { finish(block); }
    void moveNote(const NotePtr&, const NotePtr&, Completion block) override { finish(block); }
    void deleteNote(const NotePtr&, Completion block) override { finish(block); }
    void notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block) override
    {
        std::lock_guard lock(mutex);
        tombstones[note->key()] = date;
        finish(block);
    }
    void wait(std::function<void()> block) override { block(); }
    void fetchStorage(Completion block) override { finish(block); }
    void optimizeStorageIfLucky() override {}
    void subscribeUsingBlock(ErrorBlock block) override { block(Error()); }
    void unsubscribeUsingBlock(ErrorBlock block) override { block(Error()); }
    bool handleRemoteNotification(const QVariantMap&) override { return false; }

    std::mutex mutex;
    std::map<QString, FileTime> tombstones;

private:
    static void finish(const Completion& block)
    {
        if (block)
            block(true);
    }
};

// The real clock: the drive's documents carry file-system dates.
inline int64_t realNow()
{
    return QDateTime::currentSecsSinceEpoch();
}

// This computer's drive cloud over a sync folder.
class DriveCloudTest : public CloudTest {
protected:
    void SetUp() override
    {
        CloudTest::SetUp();
        static int generation = 0;
        root = TestSupport::home() + QStringLiteral("/Drive-%1").arg(++generation);
        QDir().mkpath(root);
        defaults().removeObject(QString::fromLatin1(FolderAppleCloud::LinkedAccountKey));
        records = std::make_shared<RecordingCKCloud>();
        cloud = std::make_shared<FolderAppleCloud>(records, defaults());
        ASSERT_TRUE(cloud->container().chooseFolder(root));
    }
    void TearDown() override
    {
        cloud->stopQuery();
        Dispatch::waitUntilIdle();
        cloud.reset();
        CloudTest::TearDown();
    }

    QString document(const QString& relative) const { return root + QStringLiteral("/Documents/") + relative; }
    void writeDocument(const QString& relative, const QByteArray& bytes, const FileTime& date)
    {
        TestSupport::writeFile(document(relative), bytes);
        ASSERT_TRUE(FileTimes::setModificationTime(document(relative), date));
    }
    // Starts the query when idle, then lets every pass the folder calls for run.
    void sync()
    {
        cloud->startQuery();
        Dispatch::waitUntilIdle();
        time.advance(FolderQuery::RescanInterval);
        Dispatch::waitUntilIdle();
    }
    // Local notes as an earlier exchange with the folder left them.
    void makeLinkedNotes(int count)
    {
        exchanged = {realNow() - 900, 0};
        for (int i = 0; i < count; ++i) {
            const QString key = QStringLiteral("N%1.txt").arg(i, 3, 10, QLatin1Char('0'));
            const QString local = Note::documentFileForKey(key, NoteStorageInbox);
            TestSupport::writeFile(local, "text");
            ASSERT_TRUE(FileTimes::setModificationTime(local, {realNow() - 1000, 0}));
            writeDocument(QStringLiteral("Inbox/") + key, "text", exchanged);
            LinkFiles(LinkFiles::Owner::AppleCloud).write(key, NoteServiceCloud, NoteStorageInbox, exchanged);
        }
        defaults().setString(cloud->container().identityToken(), QString::fromLatin1(FolderAppleCloud::LinkedAccountKey));
    }

    TestSupport::VirtualTime time;
    // The date of the links makeLinkedNotes left.
    FileTime exchanged;
    QString root;
    std::shared_ptr<RecordingCKCloud> records;
    std::shared_ptr<FolderAppleCloud> cloud;
};
