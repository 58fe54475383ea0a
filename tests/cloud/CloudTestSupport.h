#pragma once

#include "../store/LogCapture.h"
#include "../store/StoreTestSupport.h"

#include "Cloud/LinkFiles.h"
#include "Cloud/NoteRecord.h"
#include "Cloud/StoreCKCloud.h"
#include "OfflineAppleCloud.h"

#include "Clock.h"
#include "Container.h"
#include "UserDefaults.h"

#include <QFile>
#include <QRegularExpression>

#include <future>

inline constexpr int64_t CloudNow = 1710491412;

inline FileTime cloudSeconds(int64_t s)
{
    return FileTime::fromWholeSeconds(s);
}

inline Record liveRecord(const QString& name, const QString& text, int64_t commit)
{
    Record record(NoteRecord::RecordType, RecordID{name});
    NoteRecord::setLive(record, NoteRecord::dataFromString(text), cloudSeconds(commit));
    return record;
}

inline std::optional<QString> textOf(const std::optional<Record>& record)
{
    return NoteRecord::stringFromData(record->data(NoteRecord::TextKey).value_or(QByteArray()),
                                      record->integer(NoteRecord::VersionKey).value_or(0));
}

inline std::optional<int64_t> stateOf(const std::optional<Record>& record)
{
    return record->integer(NoteRecord::StateKey);
}

inline Record tombstoneRecord(const QString& name, int64_t commit)
{
    Record record(NoteRecord::RecordType, RecordID{name});
    NoteRecord::setTombstone(record, cloudSeconds(commit));
    return record;
}

// The record store's links; the drive keeps its own.
inline const LinkFiles RecordLinks(LinkFiles::Owner::CKCloud);

// Nothing without a link.
inline std::optional<FileTime> linkDate(int service, const QString& key = QStringLiteral("Plan.txt"),
                                        int storage = NoteStorageInbox)
{
    return LinkFiles::modificationDate(key, service, storage);
}

// Waits for the one value a callback hands over.
template <typename T, typename Start>
T awaitValue(Start start)
{
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    start([promise](T value) { promise->set_value(std::move(value)); });
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        std::abort(); // the pending callback still refers to this frame
    return future.get();
}

// Another client of a store file, to look at or write records directly.
class StoreClient {
public:
    explicit StoreClient(const QString& path) : StoreClient(BackendConfig{path, QStringLiteral("observer"), {}, {}}) {}
    explicit StoreClient(const BackendConfig& backend) : db_(Container::open(QStringLiteral("observer"), backend)) {}
    std::optional<Record> fetch(const QString& name) const
    {
        return awaitValue<std::optional<Record>>([&](auto done) {
            db_->privateDatabase()->fetchRecord(RecordID{name}, [done](auto record, Error) { done(record); });
        });
    }
    bool save(const Record& record) const
    {
        return awaitValue<bool>(
            [&](auto done) { db_->privateDatabase()->saveRecord(record, [done](auto, Error e) { done(e.isNull()); }); });
    }
    std::shared_ptr<Container> db_;
};

// The shared Core with the cloud on, a fixed clock, empty store folders and a
// record store file per test, whose links the defaults say these are.
class CloudTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] {
            return std::make_shared<OfflineAppleCloud>(std::make_shared<StoreCKCloud>(storeConfiguration(corePath())));
        };
        sharedTestCore(configuration);
    }
    void SetUp() override
    {
        Core& core = Core::shared();
        core.closeDatabase();
        core.fileQueue()->sync([] {});
        Clock::setWallClock([] { return double(CloudNow); });
        for (const QString& folder : {core.documentDirectory(), core.cachesDirectory()})
            QDir(folder).removeRecursively();
        core.setEnabledAppleCloud(true);
        static int generation = 0;
        storePath = TestSupport::home() + QStringLiteral("/cloud-%1.sqlite").arg(++generation);
        store = std::make_unique<StoreClient>(storePath);
        defaults().setString(store->db_->containerID(), QString::fromLatin1(StoreCKCloud::StoreAccountKey));
        log = LogCapture::install();
    }
    void TearDown() override
    {
        log->uninstall();
        Clock::setWallClock({});
    }

    static QString corePath() { return TestSupport::home() + QStringLiteral("/cloud-core.sqlite"); }
    static UserDefaults& defaults()
    {
        static UserDefaults defaults(TestSupport::home() + QStringLiteral("/cloud-defaults.ini"));
        return defaults;
    }
    static StoreCKCloud::Configuration storeConfiguration(const QString& path, const QString& client = QStringLiteral("a"))
    {
        StoreCKCloud::Configuration configuration;
        configuration.backend = {path, client, {}, {}};
        configuration.defaults = &defaults();
        return configuration;
    }
    // Created 100 s before its update.
    static NotePtr note(const QString& key, const QString& text, int64_t updatedOn, int storage = NoteStorageInbox)
    {
        auto note = std::make_shared<Note>(key, storage);
        note->setText(text);
        note->setUpdatedOn(updatedOn);
        note->setCreatedOn(updatedOn - 100);
        return note;
    }
    static QStringList localKeys(int storage)
    {
        return QDir(Note::documentDirectoryForStorage(storage)).entryList(QDir::Files, QDir::Name);
    }
    // The text of the local note file; nothing without one.
    static std::optional<QString> localText(const QString& key, int storage = NoteStorageInbox)
    {
        QFile file(Note::documentFileForKey(key, storage));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return QString::fromUtf8(file.readAll());
    }
    // The texts of the storage's notes, sorted.
    static QStringList localTexts(int storage = NoteStorageInbox)
    {
        QStringList texts;
        for (const QString& key : localKeys(storage))
            texts << localText(key, storage).value_or(QString());
        texts.sort();
        return texts;
    }
    // The "ckcloud:" lines logged since the last forgetLog().
    QStringList cloudLines() const
    {
        return log->lines().mid(forgotten).filter(QRegularExpression(QStringLiteral("^ckcloud:")));
    }
    void forgetLog() { forgotten = log->lines().size(); }

    std::shared_ptr<LogCapture> log;
    qsizetype forgotten = 0;
    QString storePath;
    std::unique_ptr<StoreClient> store;
};
