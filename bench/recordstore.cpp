// The record store on the SQLite backend against raw sqlite3 running the same
// statements on a file of the same schema:
// - saving 10,000 records of 4 KB one at a time, and fetching them back by ID
//   (p50 of single calls, the store's queue hop and completion included);
// - a 500-record date window read in pages of 100;
// - push between two clients of one file: a save by one until the other's
//   delegate hears of it on the main thread (p50).
#include "Container.h"
#include "PushCenter.h"
#include "RecordStoreSchema.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <random>
#include <vector>

namespace {

constexpr int RecordCount = 10000;
constexpr int RecordBytes = 4096;
constexpr int64_t BaseMSecs = 1'700'000'000'000;

using Clock = std::chrono::steady_clock;

double micros(Clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[size_t(p * double(samples.size() - 1))];
}

QByteArray payload(int i) { return QByteArray(RecordBytes, char('a' + i % 26)); }

Record makeRecord(int i)
{
    Record record("Notes", RecordID {QStringLiteral("Inbox/note %1.md").arg(i)});
    record.setValue("version", int64_t(49));
    record.setValue("state", int64_t(0));
    record.setValue("commitDate", QDateTime::fromMSecsSinceEpoch(BaseMSecs + int64_t(i) * 1000, Qt::UTC));
    record.setValue("text", payload(i));
    return record;
}

// --- The store side

struct Store {
    QTemporaryDir dir;
    std::shared_ptr<Container> container;
    Database* db = nullptr;

    Store()
    {
        container = Container::open("net.brindlewick.bench", {dir.filePath("store.sqlite"), "A", PushCenter::create(), {}});
        db = container->privateDatabase().get();
    }

    template <typename Call>
    static void wait(Call call)
    {
        std::promise<void> done;
        call([&] { done.set_value(); });
        done.get_future().wait();
    }
};

Store& store()
{
    static Store instance;
    return instance;
}

// --- The raw side: the same statements through the C API

struct Raw {
    QTemporaryDir dir;
    sqlite3* db = nullptr;
    sqlite3_stmt* subscriptions = nullptr;
    sqlite3_stmt* selectTag = nullptr;
    sqlite3_stmt* upsert = nullptr;
    sqlite3_stmt* deleteFields = nullptr;
    sqlite3_stmt* insertField = nullptr;
    sqlite3_stmt* selectRecord = nullptr;
    sqlite3_stmt* selectFields = nullptr;

    Raw()
    {
        sqlite3_open(dir.filePath("raw.sqlite").toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db, RecordStoreSchema::ddl(RecordStoreSchema::sqlite()).toUtf8().constData(), nullptr, nullptr,
                     nullptr);
        prepare("SELECT id, record_type, predicate, options, content_available, alert_body FROM subscriptions ORDER BY id",
                subscriptions);
        prepare(RecordStoreSchema::SelectTag, selectTag);
        prepare(RecordStoreSchema::UpsertRecord, upsert);
        prepare(RecordStoreSchema::DeleteFields, deleteFields);
        prepare(RecordStoreSchema::InsertField, insertField);
        prepare(RecordStoreSchema::SelectRecord, selectRecord);
        prepare(RecordStoreSchema::SelectFields, selectFields);
    }

    void prepare(const char* sql, sqlite3_stmt*& statement) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }

    static void text(sqlite3_stmt* s, int at, const QByteArray& value)
    {
        sqlite3_bind_text(s, at, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    static void drain(sqlite3_stmt* s)
    {
        while (sqlite3_step(s) == SQLITE_ROW) {
        }
        sqlite3_reset(s);
    }

    void save(int i)
    {
        const QByteArray zone = "_defaultZone";
        const QByteArray name = QStringLiteral("Inbox/note %1.md").arg(i).toUtf8();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        drain(subscriptions);
        text(selectTag, 1, zone);
        text(selectTag, 2, name);
        drain(selectTag);
        const int64_t now = BaseMSecs + i;
        text(upsert, 1, zone);
        text(upsert, 2, name);
        text(upsert, 3, "Notes");
        text(upsert, 4, "0123456789abc");
        sqlite3_bind_int64(upsert, 5, now);
        sqlite3_bind_int64(upsert, 6, now);
        text(upsert, 7, "A");
        drain(upsert);
        text(deleteFields, 1, zone);
        text(deleteFields, 2, name);
        drain(deleteFields);
        const QByteArray body = payload(i);
        const struct {
            const char* key;
            int kind;
            int64_t value;
        } integers[] = {{"commitDate", 4, BaseMSecs + int64_t(i) * 1000}, {"state", 0, 0}, {"version", 0, 49}};
        for (const auto& field : integers) {
            sqlite3_clear_bindings(insertField);
            text(insertField, 1, zone);
            text(insertField, 2, name);
            text(insertField, 3, field.key);
            sqlite3_bind_int(insertField, 4, field.kind);
            sqlite3_bind_int64(insertField, 5, field.value);
            drain(insertField);
        }
        sqlite3_clear_bindings(insertField);
        text(insertField, 1, zone);
        text(insertField, 2, name);
        text(insertField, 3, "text");
        sqlite3_bind_int(insertField, 4, 2);
        sqlite3_bind_blob(insertField, 8, body.constData(), int(body.size()), SQLITE_TRANSIENT);
        drain(insertField);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }

    // Reads the row and the fields into Qt values in one snapshot, as the store does.
    int fetch(int i)
    {
        const QByteArray zone = "_defaultZone";
        const QByteArray name = QStringLiteral("Inbox/note %1.md").arg(i).toUtf8();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        text(selectRecord, 1, zone);
        text(selectRecord, 2, name);
        QString type;
        if (sqlite3_step(selectRecord) == SQLITE_ROW)
            type = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(selectRecord, 2)));
        sqlite3_reset(selectRecord);
        text(selectFields, 1, zone);
        text(selectFields, 2, name);
        int bytes = 0;
        while (sqlite3_step(selectFields) == SQLITE_ROW) {
            const QByteArray blob(static_cast<const char*>(sqlite3_column_blob(selectFields, 5)),
                                  sqlite3_column_bytes(selectFields, 5));
            bytes += int(blob.size()) + int(type.size());
        }
        sqlite3_reset(selectFields);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        return bytes;
    }
};

Raw& raw()
{
    static Raw instance;
    return instance;
}

bool storeFilled = false;

// For runs that skip the save benchmark: the same records, 500 per transaction.
void fillStore()
{
    for (int first = 0; !storeFilled && first < RecordCount; first += 500) {
        QList<Record> batch;
        for (int i = first; i < first + 500; ++i)
            batch.append(makeRecord(i));
        Store::wait([&](auto done) { store().db->modifyRecords(batch, {}, [&](auto, auto, Error) { done(); }); });
    }
    storeFilled = true;
}

void report(benchmark::State& state, const std::vector<double>& ours, const std::vector<double>& peer)
{
    const double p50 = percentile(ours, 0.5);
    const double peerP50 = percentile(peer, 0.5);
    state.counters["p50_us"] = p50;
    state.counters["raw_p50_us"] = peerP50;
    state.counters["ratio"] = peerP50 > 0 ? p50 / peerP50 : 0;
}

// Saves all 10,000 records, taking turns with the raw side.
void saveRecords(benchmark::State& state)
{
    std::vector<double> ours, peer;
    for (auto _ : state) {
        for (int i = 0; i < RecordCount; ++i) {
            const Record record = makeRecord(i);
            auto start = Clock::now();
            Store::wait([&](auto done) { store().db->saveRecord(record, [&](auto, Error) { done(); }); });
            ours.push_back(micros(start));
            start = Clock::now();
            raw().save(i);
            peer.push_back(micros(start));
        }
    }
    storeFilled = true;
    report(state, ours, peer);
}

// Needs the save benchmark's records on both sides.
void fetchRecords(benchmark::State& state)
{
    std::mt19937 random(7);
    std::vector<double> ours, peer;
    for (auto _ : state) {
        for (int n = 0; n < RecordCount; ++n) {
            const int i = int(random() % RecordCount);
            const RecordID id {QStringLiteral("Inbox/note %1.md").arg(i)};
            auto start = Clock::now();
            Store::wait([&](auto done) { store().db->fetchRecord(id, [&](auto, Error) { done(); }); });
            ours.push_back(micros(start));
            start = Clock::now();
            if (raw().fetch(i) == 0)
                return state.SkipWithError("run the save benchmark first");
            peer.push_back(micros(start));
        }
    }
    report(state, ours, peer);
}

// Records committed in a 500-second window, read 100 at a time; target 20 ms.
void dateWindowInPages(benchmark::State& state)
{
    using C = Predicate::Comparison;
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(BaseMSecs + 5000 * 1000, Qt::UTC);
    const Query window {"Notes", Predicate::where("commitDate", C::GreaterOrEqual, from)
                                     .andWhere("commitDate", C::Less, from.addSecs(500))};
    fillStore();
    int records = 0;
    std::vector<double> totals;
    for (auto _ : state) {
        const auto start = Clock::now();
        records = 0;
        std::optional<QueryCursor> cursor;
        do {
            Store::wait([&](auto done) {
                const auto fetched = [&](const Record&) { ++records; };
                const auto completion = [&](std::optional<QueryCursor> next, QDateTime, Error) {
                    cursor = next;
                    done();
                };
                if (cursor)
                    store().db->continueQuery(*cursor, std::nullopt, 100, fetched, completion);
                else
                    store().db->addQueryOperation(window, std::nullopt, 100, fetched, completion);
            });
        } while (cursor);
        totals.push_back(micros(start) / 1000.0);
    }
    if (records != 500)
        state.SkipWithError("the window did not hold 500 records");
    state.counters["p50_ms"] = percentile(totals, 0.5);
    state.counters["target_ms"] = 20;
}

struct Listener : PushCenterDelegate {
    std::atomic<int> received {0};
    void didReceive(const QVariantMap&) override { ++received; }
};

// A saves, B's delegate hears of it; target 50 ms.
void pushBetweenClients(benchmark::State& state)
{
    const auto center = PushCenter::create();
    const auto listener = std::make_shared<Listener>();
    center->setDelegate(listener);
    const auto b = Container::open("net.brindlewick.bench", {store().dir.filePath("store.sqlite"), "B", center, {}});
    Subscription subscription;
    subscription.recordType = "Notes";
    subscription.options = Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate;
    Store::wait([&](auto done) { store().db->saveSubscription(subscription, [&](auto, Error) { done(); }); });
    center->registerForRemoteNotifications();
    DispatchQueue::runMainUntil([] { return false; }, 0.2); // registration settles

    std::vector<double> samples;
    int i = 0;
    for (auto _ : state) {
        const int before = listener->received;
        const Record record = makeRecord(RecordCount + i++);
        const auto start = Clock::now();
        store().db->saveRecord(record, [](auto, Error) {});
        if (!DispatchQueue::runMainUntil([&] { return listener->received > before; }, 5))
            state.SkipWithError("no push within 5 s");
        samples.push_back(micros(start) / 1000.0);
    }
    state.counters["p50_ms"] = percentile(samples, 0.5);
    state.counters["target_ms"] = 50;
}

} // namespace

BENCHMARK(saveRecords)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(fetchRecords)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(dateWindowInPages)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(pushBetweenClients)->Iterations(50)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
