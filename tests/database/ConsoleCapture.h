#pragma once

#include "SLDatabase.h"
#include "TestSupport.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

// Collects what the console log writes to standard error while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() { testing::internal::CaptureStderr(); }
    ~ConsoleCapture() { text(); }
    QString text()
    {
        if (capturing_)
            captured_ = QString::fromStdString(testing::internal::GetCapturedStderr());
        capturing_ = false;
        return captured_;
    }

private:
    bool capturing_ = true;
    QString captured_;
};

// An open in-memory connection, after the given statements.
inline std::shared_ptr<SLDatabase> openMemory(const QString& statements = QString())
{
    auto db = SLDatabase::databaseWithPath();
    EXPECT_TRUE(db->open());
    if (!statements.isNull()) {
        EXPECT_TRUE(db->executeStatements(statements));
    }
    return db;
}

// A database file of the temporary home, removed first.
inline QString freshDatabaseFile(const QString& name)
{
    const QString path = TestSupport::home() + "/" + name + ".sqlite";
    QFile::remove(path);
    return path;
}

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A queue or pool made by the factory on a fresh file with a table t(a).
template <typename Factory>
auto withTable(Factory factory, const QString& name)
{
    auto runner = factory(freshDatabaseFile(name), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    EXPECT_TRUE(runner);
    runner->inDatabase([](SLDatabase& db) { EXPECT_TRUE(db.executeUpdate("create table t(a)")); });
    return runner;
}

template <typename Runner>
int rowCount(Runner& runner)
{
    int count = -1;
    runner.inDatabase([&](SLDatabase& db) { count = db.intForQuery("select count(*) from t"); });
    return count;
}

// Commit and roll-back of a queue's or pool's transactions and savepoints on table t.
template <typename Runner>
void expectTransactionsAndSavePoints(Runner& runner)
{
    const int before = rowCount(runner);
    EXPECT_TRUE(runner.inTransaction([](SLDatabase& db, bool&) {
        EXPECT_TRUE(db.inTransaction());
        db.executeUpdate("insert into t values (1)");
    }));
    EXPECT_TRUE(runner.inDeferredTransaction([](SLDatabase& db, bool& rollback) {
        db.executeUpdate("insert into t values (2)");
        rollback = true;
    }));
    EXPECT_EQ(rowCount(runner), before + 1);
    EXPECT_FALSE(
        runner.inSavePoint([](SLDatabase& db, bool&) { db.executeUpdate("insert into t values (3)"); }).has_value());
    EXPECT_FALSE(runner.inSavePoint([](SLDatabase& db, bool& rollback) {
        db.executeUpdate("insert into t values (4)");
        rollback = true;
    }).has_value());
    EXPECT_EQ(rowCount(runner), before + 2);
}

// With no usable connection neither a transaction nor a savepoint runs its block, and both report failure.
template <typename Runner>
void expectTransactionBlocksSkipped(Runner& runner)
{
    bool ranBlock = false;
    EXPECT_FALSE(runner.inTransaction([&](SLDatabase&, bool&) { ranBlock = true; }));
    EXPECT_TRUE(runner.inSavePoint([&](SLDatabase&, bool&) { ranBlock = true; }).has_value());
    EXPECT_FALSE(ranBlock);
}
