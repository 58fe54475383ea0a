// The database layer against the raw SQLite C API on the same work: 100,000
// prepared inserts into a full-text table shaped like the note store's, and
// 100,000 prepared point selects reading two text columns. Both sides start
// from and end with QStrings, as every caller in the application does.
#include "SLDatabase.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int rowCount = 100000;

const char* const createSQL =
    "CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, hashtag, mention, tokenize=unicode61)";
const char* const insertSQL =
    "INSERT INTO notes(key, title, content, folder, hashtag, mention) VALUES(?, ?, ?, ?, ?, ?)";
const char* const selectSQL = "SELECT key, title FROM notes WHERE rowid = ?";

struct Row {
    QString key, title, content, folder, hashtag, mention;
};

const std::vector<Row>& rows()
{
    static const std::vector<Row> rows = [] {
        std::vector<Row> rows;
        rows.reserve(rowCount);
        for (int i = 0; i < rowCount; ++i) {
            const QString n = QString::number(i);
            rows.push_back({QStringLiteral("inbox/Note %1.md").arg(n), QStringLiteral("Note %1").arg(n),
                            QStringLiteral("Zeile %1 über Köln, a shopping list and #tag%2 for @friend%3")
                                .arg(n)
                                .arg(i % 50)
                                .arg(i % 7),
                            QStringLiteral("inbox"), QStringLiteral("#tag%1").arg(i % 50),
                            QStringLiteral("@friend%1").arg(i % 7)});
        }
        return rows;
    }();
    return rows;
}

std::shared_ptr<SLDatabase> layerDatabase()
{
    auto db = SLDatabase::databaseWithPath();
    db->open();
    db->setShouldCacheStatements(true);
    db->executeUpdate(QString::fromLatin1(createSQL));
    return db;
}

void insertWithLayer(SLDatabase& db)
{
    const QString sql = QString::fromLatin1(insertSQL);
    db.beginTransaction();
    for (const Row& row : rows())
        db.executeUpdate(sql, row.key, row.title, row.content, row.folder, row.hashtag, row.mention);
    db.commit();
}

sqlite3* rawDatabase()
{
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, createSQL, nullptr, nullptr, nullptr);
    return db;
}

void insertRaw(sqlite3* db)
{
    sqlite3_exec(db, "begin exclusive transaction", nullptr, nullptr, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, insertSQL, -1, &statement, nullptr);
    for (const Row& row : rows()) {
        const QByteArray values[] = {row.key.toUtf8(),    row.title.toUtf8(),   row.content.toUtf8(),
                                     row.folder.toUtf8(), row.hashtag.toUtf8(), row.mention.toUtf8()};
        for (int i = 0; i < 6; ++i)
            sqlite3_bind_text(statement, i + 1, values[i].constData(), int(values[i].size()), SQLITE_STATIC);
        sqlite3_step(statement);
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_exec(db, "commit transaction", nullptr, nullptr, nullptr);
}

void insertLayer(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto db = layerDatabase();
        state.ResumeTiming();
        insertWithLayer(*db);
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
}

void insertRawAPI(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3* db = rawDatabase();
        state.ResumeTiming();
        insertRaw(db);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
}

void selectLayer(benchmark::State& state)
{
    auto db = layerDatabase();
    insertWithLayer(*db);
    const QString sql = QString::fromLatin1(selectSQL);
    for (auto _ : state) {
        qsizetype characters = 0;
        for (int64_t rowid = 1; rowid <= rowCount; ++rowid) {
            SLResultSet rs = db->executeQuery(sql, rowid);
            if (rs.next())
                characters += rs.stringForColumnIndex(0).size() + rs.stringForColumnIndex(1).size();
            rs.close();
        }
        benchmark::DoNotOptimize(characters);
    }
}

void selectRawAPI(benchmark::State& state)
{
    sqlite3* db = rawDatabase();
    insertRaw(db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, selectSQL, -1, &statement, nullptr);
    for (auto _ : state) {
        qsizetype characters = 0;
        for (int64_t rowid = 1; rowid <= rowCount; ++rowid) {
            sqlite3_bind_int64(statement, 1, rowid);
            if (sqlite3_step(statement) == SQLITE_ROW) {
                for (int column = 0; column < 2; ++column) {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
                    characters += QString::fromUtf8(text, sqlite3_column_bytes(statement, column)).size();
                }
            }
            sqlite3_reset(statement);
        }
        benchmark::DoNotOptimize(characters);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

} // namespace

int main(int argc, char** argv)
{
    rows();
    const auto add = [](const char* name, void (*function)(benchmark::State&)) {
        registerFastestOfTen(name, function)->Iterations(1);
    };
    add("insert/raw", insertRawAPI);
    add("insert/layer", insertLayer);
    add("select/raw", selectRawAPI);
    add("select/layer", selectLayer);

    RatioReporter reporter;
    runInterleaved(argc, argv, reporter);
    for (const char* work : {"insert", "select"}) {
        const auto raw = reporter.fastest.find(std::string(work) + "/raw");
        const auto layer = reporter.fastest.find(std::string(work) + "/layer");
        if (raw == reporter.fastest.end() || layer == reporter.fastest.end())
            continue;
        const auto [rawReal, rawCPU] = raw->second;
        const auto [layerReal, layerCPU] = layer->second;
        std::printf("%s of %d rows (fastest of 10): raw %.1f ms, layer %.1f ms, layer/raw %.3f; "
                    "CPU: raw %.1f ms, layer %.1f ms, layer/raw %.3f\n",
                    work, rowCount, rawReal, layerReal, layerReal / rawReal, rawCPU, layerCPU, layerCPU / rawCPU);
    }
    benchmark::Shutdown();
    return 0;
}
