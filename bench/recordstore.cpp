// The record store against its raw database library running the same
// statements: on SQLite a file of the same schema, and on PostgreSQL (when
// RS_PG_DSN names a server, e.g. one of scripts/pg-server) another schema over
// the same Unix socket:
// - saving records of 4 KB one at a time (10,000 on SQLite, 2,000 on
//   PostgreSQL), and fetching them back by ID (p50 of single calls, the store's
//   queue hop and completion included);
// - a 500-record date window read in pages of 100 (SQLite);
// - push between two clients of one store: a save by one until the other's
//   delegate hears of it on the main thread (p50).
#include "Clock.h"
#include "Container.h"
#include "PgConnection.h"
#include "PushCenter.h"
#include "RecordStoreSchema.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <random>
#include <vector>

namespace {

constexpr int RecordCount = 10000;
constexpr int PostgresRecordCount = 2000;
constexpr int RecordBytes = 4096;
constexpr int64_t BaseMSecs = 1'700'000'000'000;

using Steady = std::chrono::steady_clock;

double micros(Steady::time_point since)
{
    return std::chrono::duration<double, std::micro>(Steady::now() - since).count();
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
    std::function<BackendConfig(const QString& clientID, std::shared_ptr<PushCenter> center)> config;
    std::shared_ptr<Container> container;
    Database* db = nullptr;
    bool filled = false;

    explicit Store(decltype(config) configFor)
        : config(std::move(configFor))
        , container(Container::open("net.brindlewick.bench", config("A", PushCenter::create())))
        , db(container->privateDatabase().get())
    {
    }

    template <typename Call>
    static void wait(Call call)
    {
        std::promise<void> done;
        call([&] { done.set_value(); });
        done.get_future().wait();
    }
};

// The raw side of a benchmark: the store's statements through the C library.
struct Peer {
    virtual ~Peer() = default;
    virtual void save(int i) = 0;
    // Bytes read, 0 when the record is missing.
    virtual int fetch(int i) = 0;
};

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

Store& sqliteStore()
{
    static Store instance([](const QString& clientID, std::shared_ptr<PushCenter> center) {
        return BackendConfig {folder().filePath("store.sqlite"), clientID, std::move(center), {}};
    });
    return instance;
}

// --- PostgreSQL: two schemas, dropped at the end

QString postgresSchema(const QString& role)
{
    static const QString run = Clock::newUUID().remove(QLatin1Char('-')).left(12).toLower();
    return QStringLiteral("rs_bench_%1_%2").arg(role, run);
}

QString postgresDsn(const QString& role)
{
    return qEnvironmentVariable("RS_PG_DSN") + QStringLiteral(" options='-c search_path=%1'").arg(postgresSchema(role));
}

Store& postgresStore()
{
    static Store instance([](const QString& clientID, std::shared_ptr<PushCenter> center) {
        return BackendConfig {{}, clientID, std::move(center), postgresDsn("store")};
    });
    return instance;
}

// --- The raw side: the same statements through the C API

struct Raw final : Peer {
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
        sqlite3_open(folder().filePath("raw.sqlite").toUtf8().constData(), &db);
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

    void save(int i) override
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
    int fetch(int i) override
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

// Raw libpq over the same socket, in a schema of the same tables.
struct RawPostgres final : Peer {
    PGconn* conn = nullptr;

    RawPostgres()
    {
        conn = PQconnectdb(postgresDsn("raw").toUtf8().constData());
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
        for (const QString& statement :
             RecordStoreSchema::ddl(RecordStoreSchema::postgres()).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            PQclear(PQexec(conn, statement.toUtf8().constData()));
    }
    ~RawPostgres() override { PQfinish(conn); }

    PGresult* exec(const char* sql, std::initializer_list<QByteArray> values, int binaryAt = -1)
    {
        std::vector<const char*> pointers;
        std::vector<int> lengths, formats;
        for (const QByteArray& value : values) {
            pointers.push_back(value.isNull() ? nullptr : value.constData());
            lengths.push_back(int(value.size()));
            formats.push_back(int(pointers.size()) - 1 == binaryAt);
        }
        return PQexecParams(conn, PgConnection::numbered(QString::fromLatin1(sql)).toUtf8().constData(),
                            int(pointers.size()), nullptr, pointers.data(), lengths.data(), formats.data(), 0);
    }

    void run(const char* sql, std::initializer_list<QByteArray> values = {}, int binaryAt = -1)
    {
        PQclear(exec(sql, values, binaryAt));
    }

    void save(int i) override
    {
        using namespace RecordStoreSchema;
        const QByteArray zone = "_defaultZone";
        const QByteArray name = QStringLiteral("Inbox/note %1.md").arg(i).toUtf8();
        run("BEGIN");
        run(SelectSubscriptions);
        PGresult* clock = exec("SELECT floor(extract(epoch FROM clock_timestamp()) * 1000)::bigint", {});
        const QByteArray now = PQgetvalue(clock, 0, 0);
        PQclear(clock);
        run(InsertNewRecord, {zone, name, "Notes", "0123456789abc", now, now, "A"});
        run(DeleteFields, {zone, name});
        const QByteArray none;
        run(InsertField, {zone, name, "commitDate", "4", QByteArray::number(BaseMSecs + int64_t(i) * 1000), none, none, none});
        run(InsertField, {zone, name, "state", "0", "0", none, none, none});
        run(InsertField, {zone, name, "text", "2", none, none, none, payload(i)}, 7);
        run(InsertField, {zone, name, "version", "0", "49", none, none, none});
        run("COMMIT");
    }

    // Reads the record with its fields into Qt values, as the store does.
    int fetch(int i) override
    {
        PGresult* rows = exec(RecordStoreSchema::SelectRecordWithFields,
                              {"_defaultZone", QStringLiteral("Inbox/note %1.md").arg(i).toUtf8()});
        int bytes = 0;
        for (int row = 0; row < PQntuples(rows); ++row) {
            const QString type = QString::fromUtf8(PQgetvalue(rows, row, 2));
            size_t length = 0;
            unsigned char* blob = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(rows, row, 11)),
                                                  &length);
            bytes += int(QByteArray(reinterpret_cast<const char*>(blob), qsizetype(length)).size()) + int(type.size());
            PQfreemem(blob);
        }
        PQclear(rows);
        return bytes;
    }
};

// For runs that skip the save benchmark: the same records, 500 per transaction.
void fill(Store& store, int count)
{
    for (int first = 0; !store.filled && first < count; first += 500) {
        QList<Record> batch;
        for (int i = first; i < first + 500; ++i)
            batch.append(makeRecord(i));
        Store::wait([&](auto done) { store.db->modifyRecords(batch, {}, [&](auto, auto, Error) { done(); }); });
    }
    store.filled = true;
}

void report(benchmark::State& state, const std::vector<double>& ours, const std::vector<double>& peer)
{
    const double p50 = percentile(ours, 0.5);
    const double peerP50 = percentile(peer, 0.5);
    state.counters["p50_us"] = p50;
    state.counters["raw_p50_us"] = peerP50;
    state.counters["ratio"] = peerP50 > 0 ? p50 / peerP50 : 0;
}

// Saves every record, taking turns with the raw side.
void saveRecords(benchmark::State& state, Store& store, Peer& peer, int count)
{
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        for (int i = 0; i < count; ++i) {
            const Record record = makeRecord(i);
            auto start = Steady::now();
            Store::wait([&](auto done) { store.db->saveRecord(record, [&](auto, Error) { done(); }); });
            ours.push_back(micros(start));
            start = Steady::now();
            peer.save(i);
            theirs.push_back(micros(start));
        }
    }
    store.filled = true;
    report(state, ours, theirs);
}

// Needs the save benchmark's records on both sides.
void fetchRecords(benchmark::State& state, Store& store, Peer& peer, int count)
{
    std::mt19937 random(7);
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        for (int n = 0; n < count; ++n) {
            const int i = int(random() % count);
            const RecordID id {QStringLiteral("Inbox/note %1.md").arg(i)};
            auto start = Steady::now();
            Store::wait([&](auto done) { store.db->fetchRecord(id, [&](auto, Error) { done(); }); });
            ours.push_back(micros(start));
            start = Steady::now();
            if (peer.fetch(i) == 0)
                return state.SkipWithError("run the save benchmark first");
            theirs.push_back(micros(start));
        }
    }
    report(state, ours, theirs);
}

// Records committed in a 500-second window, read 100 at a time; target 20 ms.
void dateWindowInPages(benchmark::State& state)
{
    using C = Predicate::Comparison;
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(BaseMSecs + 5000 * 1000, Qt::UTC);
    const Query window {"Notes", Predicate::where("commitDate", C::GreaterOrEqual, from)
                                     .andWhere("commitDate", C::Less, from.addSecs(500))};
    Store& store = sqliteStore();
    fill(store, RecordCount);
    int records = 0;
    std::vector<double> totals;
    for (auto _ : state) {
        const auto start = Steady::now();
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
                    store.db->continueQuery(*cursor, std::nullopt, 100, fetched, completion);
                else
                    store.db->addQueryOperation(window, std::nullopt, 100, fetched, completion);
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

// A saves, B's delegate hears of it.
void pushBetweenClients(benchmark::State& state, Store& store, double targetMSecs)
{
    const auto center = PushCenter::create();
    const auto listener = std::make_shared<Listener>();
    center->setDelegate(listener);
    const auto b = Container::open("net.brindlewick.bench", store.config("B", center));
    Subscription subscription;
    subscription.recordType = "Notes";
    subscription.options = Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate;
    Store::wait([&](auto done) { store.db->saveSubscription(subscription, [&](auto, Error) { done(); }); });
    center->registerForRemoteNotifications();
    DispatchQueue::runMainUntil([] { return false; }, 0.2); // registration settles

    std::vector<double> samples;
    int i = 0;
    for (auto _ : state) {
        const int before = listener->received;
        const Record record = makeRecord(RecordCount + i++);
        const auto start = Steady::now();
        store.db->saveRecord(record, [](auto, Error) {});
        if (!DispatchQueue::runMainUntil([&] { return listener->received > before; }, 5))
            state.SkipWithError("no push within 5 s");
        samples.push_back(micros(start) / 1000.0);
    }
    state.counters["p50_ms"] = percentile(samples, 0.5);
    state.counters["target_ms"] = targetMSecs;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const auto unit = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->UseRealTime(); };
    unit(benchmark::RegisterBenchmark("saveRecords/Sqlite", [](benchmark::State& s) {
             saveRecords(s, sqliteStore(), raw(), RecordCount);
         })->Iterations(1));
    unit(benchmark::RegisterBenchmark("fetchRecords/Sqlite", [](benchmark::State& s) {
             fetchRecords(s, sqliteStore(), raw(), RecordCount);
         })->Iterations(1));
    unit(benchmark::RegisterBenchmark("dateWindowInPages/Sqlite", dateWindowInPages)->Iterations(20));
    unit(benchmark::RegisterBenchmark("pushBetweenClients/Sqlite", [](benchmark::State& s) {
             pushBetweenClients(s, sqliteStore(), 50);
         })->Iterations(50));
    const bool postgres = !qEnvironmentVariable("RS_PG_DSN").isEmpty();
    std::unique_ptr<PgConnection> admin;
    if (postgres) {
        Error error;
        admin = PgConnection::connect(qEnvironmentVariable("RS_PG_DSN"), "brindlewick bench", &error);
        if (!admin) {
            fprintf(stderr, "RS_PG_DSN: %s\n", qPrintable(error.localizedDescription()));
            return 1;
        }
        for (const char* role : {"store", "raw"})
            admin->exec(QStringLiteral("CREATE SCHEMA ") + postgresSchema(role));
        static std::unique_ptr<RawPostgres> peer;
        const auto rawPostgres = []() -> RawPostgres& {
            if (!peer)
                peer = std::make_unique<RawPostgres>();
            return *peer;
        };
        unit(benchmark::RegisterBenchmark("saveRecords/Postgres", [=](benchmark::State& s) {
                 saveRecords(s, postgresStore(), rawPostgres(), PostgresRecordCount);
             })->Iterations(1));
        unit(benchmark::RegisterBenchmark("fetchRecords/Postgres", [=](benchmark::State& s) {
                 fetchRecords(s, postgresStore(), rawPostgres(), PostgresRecordCount);
             })->Iterations(1));
        unit(benchmark::RegisterBenchmark("pushBetweenClients/Postgres", [](benchmark::State& s) {
                 pushBetweenClients(s, postgresStore(), 10);
             })->Iterations(50));
    } else {
        fprintf(stderr, "RS_PG_DSN is not set: no PostgreSQL figures (scripts/pg-server start <folder> prints one)\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (admin)
        for (const char* role : {"store", "raw"})
            admin->exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(postgresSchema(role)));
    return 0;
}
