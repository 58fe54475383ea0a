// The record-store cloud's incoming side, on SQLite, and on PostgreSQL as well
// when RS_PG_DSN names a server (scripts/pg-server start <folder> prints one):
// - fetching 500 changed records with every store call delayed 30 ms (target
//   3 s): the full records in batches of 100, beside the same records fetched
//   one call each; both apply every record to a note file;
// - a save on another client until the note file here holds its text,
//   through the push (target 2 s), beside the same reload started by hand;
// - the send pass after a fetch over 10,000 notes that changed nothing
//   (target 100 ms), beside a bare look at each note's and links' dates.
// The home lies on a memory file system when there is one (/dev/shm), so the
// figures leave out each note file's flush to disk.
#include "bench_support.h"

#include "Cloud/LinkFiles.h"
#include "Cloud/NoteRecord.h"
#include "Cloud/StoreCKCloud.h"
#include "Core.h"

#include "Clock.h"
#include "Dispatch.h"
#include "FaultInjector.h"
#include "PgConnection.h"
#include "PushCenter.h"
#include "files/FileDates.h"

#include <QDir>
#include <QFileInfo>

#include <future>

namespace {

const QString Identifier = QStringLiteral("iCloud.bench");
constexpr int FetchCount = 500;
constexpr double StoreCallDelay = 0.030;
constexpr int NoteCount = 10000;

QTemporaryDir* home = nullptr;

template <typename T, typename Start>
T await(Start start)
{
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    start([promise](T value) { promise->set_value(std::move(value)); });
    return future.get();
}

UserDefaults& benchDefaults()
{
    static UserDefaults defaults(home->filePath(QStringLiteral("cloud-defaults.ini")));
    return defaults;
}

QString sqlitePath(const QString& name)
{
    return home->filePath(name + QStringLiteral(".sqlite"));
}

QString postgresSchema()
{
    static const QString run = Clock::newUUID().remove(QLatin1Char('-')).left(12).toLower();
    return QStringLiteral("ck_bench_%1").arg(run);
}

using Backend = std::function<BackendConfig(const QString& clientID, std::shared_ptr<PushCenter> center)>;

Backend sqliteBackend(const QString& name)
{
    return [name](const QString& clientID, std::shared_ptr<PushCenter> center) {
        return BackendConfig{sqlitePath(name), clientID, std::move(center), {}};
    };
}

Backend postgresBackend()
{
    return [](const QString& clientID, std::shared_ptr<PushCenter> center) {
        const QString dsn =
            qEnvironmentVariable("RS_PG_DSN") + QStringLiteral(" options='-c search_path=%1'").arg(postgresSchema());
        return BackendConfig{{}, clientID, std::move(center), dsn};
    };
}

std::unique_ptr<StoreCKCloud> makeCloud(const Backend& backend, std::shared_ptr<FaultInjector>* injector = nullptr)
{
    StoreCKCloud::Configuration configuration;
    configuration.containerIdentifier = Identifier;
    configuration.backend = backend(QStringLiteral("here"), PushCenter::shared());
    configuration.defaults = &benchDefaults();
    if (injector) {
        configuration.wrapDatabase = [injector](std::shared_ptr<Database> db) -> std::shared_ptr<Database> {
            return *injector = std::make_shared<FaultInjector>(std::move(db));
        };
    }
    auto cloud = std::make_unique<StoreCKCloud>(std::move(configuration));
    await<int64_t>([&](auto done) { cloud->optimizeStorage([done](int64_t n, const Error&) { done(n); }); });
    return cloud;
}

Record liveRecord(const QString& key, const QString& text, int64_t commit)
{
    Record record(NoteRecord::RecordType, NoteRecord::recordID(NoteStorageInbox, key));
    NoteRecord::setLive(record, NoteRecord::dataFromString(text), FileTime::fromWholeSeconds(commit));
    return record;
}

// No note file, no link, no fetch done: everything comes in again.
void forgetLocalState()
{
    QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).removeRecursively();
    for (const int service : {NoteServiceCloud, NoteServiceCloudKit, NoteServiceTrash})
        QDir(Note::linkDirectoryForService(service)).removeRecursively();
    benchDefaults().removeObject(QStringLiteral("ckfetch"));
}

// --- Fetch of 500 changed records, every store call 30 ms late

void applyOneFetchEach(StoreCKCloud& cloud, Database& db)
{
    auto ids = std::make_shared<QList<RecordID>>();
    await<bool>([&](auto done) {
        db.addQueryOperation(Query{NoteRecord::RecordType, Predicate::alwaysTrue()}, QStringList(), 0,
                             [ids](const Record& record) { ids->append(record.recordID()); },
                             [done](auto, auto, Error) { done(true); });
    });
    for (const RecordID& id : *ids) {
        const auto record = await<std::optional<Record>>(
            [&](auto done) { db.fetchRecord(id, [done](std::optional<Record> r, Error) { done(std::move(r)); }); });
        if (record)
            await<bool>([&](auto done) { cloud._reloadNoteWithRecord(*record, [done] { done(true); }); });
    }
}

void fetchChanged(benchmark::State& state)
{
    const Backend backend = sqliteBackend(QStringLiteral("fetch"));
    auto writer = Container::open(Identifier, backend(QStringLiteral("writer"), PushCenter::create()));
    QList<Record> records;
    for (int i = 0; i < FetchCount; ++i)
        records << liveRecord(QStringLiteral("Fetched %1.txt").arg(i), syntheticNote(2000), Clock::now() - 60);
    await<bool>([&](auto done) {
        writer->privateDatabase()->modifyRecords(records, {}, [done](auto, auto, Error e) { done(e.isNull()); });
    });

    std::shared_ptr<FaultInjector> injector;
    auto cloud = makeCloud(backend, &injector);
    for (const auto op : {FaultInjector::Operation::Query, FaultInjector::Operation::FetchRecords,
                          FaultInjector::Operation::FetchRecord})
        injector->setDelay(op, StoreCallDelay);
    timeAgainstPeer(
        state, "oneFetchEach",
        [&] {
            forgetLocalState();
            await<bool>([&](auto done) { cloud->fetchStorage(done); });
        },
        [&] {
            forgetLocalState();
            applyOneFetchEach(*cloud, *injector);
        });
    Dispatch::waitUntilIdle();
}

// --- A save elsewhere until the note file here holds it

class Forwarder : public PushCenterDelegate {
public:
    CKCloud* cloud = nullptr;
    void didReceive(const QVariantMap& dictionary) override { cloud->handleRemoteNotification(dictionary); }
};

void pushToFile(benchmark::State& state, const Backend& backend)
{
    forgetLocalState();
    auto cloud = makeCloud(backend);
    auto forwarder = std::make_shared<Forwarder>();
    forwarder->cloud = cloud.get();
    PushCenter::shared()->setDelegate(forwarder);
    await<Error>([&](auto done) { cloud->subscribeUsingBlock(done); });
    CKCloud::registerUserNotification();
    Dispatch::waitUntilIdle();

    auto writer = Container::open(Identifier, backend(QStringLiteral("writer"), PushCenter::create()));
    const auto db = writer->privateDatabase();
    const QString key = QStringLiteral("Pushed.txt");
    Record current = liveRecord(key, QStringLiteral("start"), Clock::now());
    int round = 0;
    // Saves a new text elsewhere, starts the reload, and waits until the file here holds it.
    const auto roundTrip = [&](const std::function<void()>& startReload) {
        const QString text = QStringLiteral("pushed text %1").arg(++round);
        NoteRecord::setLive(
            current, NoteRecord::dataFromString(text), FileTime::fromWholeSeconds(Clock::now() + round));
        current = *await<std::optional<Record>>([&](auto done) {
            db->saveRecord(current, [done](std::optional<Record> r, Error) { done(std::move(r)); });
        });
        startReload();
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        DispatchQueue::runMainUntil(
            [&] {
                QFile file(path);
                return file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll()) == text;
            },
            10);
    };
    timeAgainstPeer(
        state, "byHand", [&] { roundTrip([] {}); },
        [&] { roundTrip([&] { cloud->_reloadNoteWithRecordID(current.recordID(), {}); }); });
    CKCloud::unregisterUserNotification();
    PushCenter::shared()->setDelegate({});
    Dispatch::waitUntilIdle();
}

// --- The send pass over notes that changed nothing

void sendPass(benchmark::State& state)
{
    forgetLocalState();
    // Opened first: a store new to this computer drops the record links.
    auto cloud = makeCloud(sqliteBackend(QStringLiteral("send")));
    const QString folder = Note::documentDirectoryForStorage(NoteStorageInbox);
    QDir().mkpath(folder);
    const LinkFiles links(LinkFiles::Owner::CKCloud);
    const int64_t exchanged = Clock::now() - 3600;
    for (int i = 0; i < NoteCount; ++i) {
        const QString key = QStringLiteral("Unchanged %1.txt").arg(i);
        Note::writeText(QStringLiteral("text"), QUrl::fromLocalFile(Note::documentFileForKey(key, NoteStorageInbox)));
        FileDates::setModificationDate(Note::documentFileForKey(key, NoteStorageInbox), exchanged);
        links.write(key, NoteServiceCloudKit, NoteStorageInbox, FileTime::fromWholeSeconds(exchanged));
    }
    Dispatch::waitUntilIdle();
    // The pass runs on its own once the fetch has answered: timed from there until all is idle.
    double oursTotal = 0, peerTotal = 0;
    for (auto _ : state) {
        benchDefaults().removeObject(QStringLiteral("ckfetch"));
        await<bool>([&](auto done) { cloud->fetchStorage(done); });
        const double ms = millisecondsOf([] { Dispatch::waitUntilIdle(); });
        state.SetIterationTime(ms / 1000);
        oursTotal += ms;
        peerTotal += millisecondsOf([&] {
            int64_t newest = 0;
            for (const QString& key : QDir(folder).entryList(QDir::Files, QDir::NoSort)) {
                newest = std::max(newest, FileDates::modificationDate(folder + QLatin1Char('/') + key));
                for (const int service : {NoteServiceCloud, NoteServiceCloudKit})
                    newest = std::max(newest, FileDates::modificationDate(
                                                  Note::linkFileForKey(key, service, NoteStorageInbox)));
            }
            benchmark::DoNotOptimize(newest);
        });
    }
    state.counters["ours_ms"] = oursTotal / double(state.iterations());
    state.counters["statOnly_ms"] = peerTotal / double(state.iterations());
    state.counters["ratio"] = oursTotal / peerTotal;
}

} // namespace

int main(int argc, char** argv)
{
    // Every applied note is flushed to disk; on a memory file system the figures leave that out.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable() && qEnvironmentVariableIsEmpty("TMPDIR"))
        qputenv("TMPDIR", "/dev/shm");
    return runWithOffscreenCore(argc, argv, [](QTemporaryDir& folder) {
        home = &folder;
        Core::shared().setEnabledAppleCloud(true);
        const auto unit = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->UseManualTime(); };
        unit(benchmark::RegisterBenchmark("fetch500Changed/Sqlite", fetchChanged)->Iterations(1));
        unit(benchmark::RegisterBenchmark("pushToFile/Sqlite", [](benchmark::State& s) {
                 pushToFile(s, sqliteBackend(QStringLiteral("push")));
             })->Iterations(20));
        unit(benchmark::RegisterBenchmark("sendPass10000Unchanged/Sqlite", sendPass)->Iterations(5));
        if (qEnvironmentVariable("RS_PG_DSN").isEmpty()) {
            fprintf(stderr, "RS_PG_DSN is not set: no PostgreSQL figures\n");
            return;
        }
        Error error;
        static std::unique_ptr<PgConnection> admin =
            PgConnection::connect(qEnvironmentVariable("RS_PG_DSN"), QStringLiteral("brindlewick bench"), &error);
        if (!admin) {
            fprintf(stderr, "RS_PG_DSN: %s\n", qPrintable(error.localizedDescription()));
            return;
        }
        admin->exec(QStringLiteral("CREATE SCHEMA ") + postgresSchema());
        std::atexit([] { admin->exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(postgresSchema())); });
        unit(benchmark::RegisterBenchmark("pushToFile/Postgres", [](benchmark::State& s) {
                 pushToFile(s, postgresBackend());
             })->Iterations(20));
    });
}
