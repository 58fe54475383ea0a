#include "ConsoleCapture.h"
#include "SLStatement.h"

namespace {

std::shared_ptr<SLDatabase> openWithTable(const QString& columns = "a, b")
{
    return openMemory("create table t(" + columns + ")");
}

// typeof() and quote() of column a of the only row.
QString typeAndValue(const std::shared_ptr<SLDatabase>& db)
{
    SLResultSet rs = db->executeQuery("select typeof(a) || ':' || quote(a) from t");
    const QString text = rs.next() ? rs.stringForColumnIndex(0) : QString();
    rs.close();
    db->executeUpdate("delete from t");
    return text;
}

} // namespace

TEST(Database, BindCountErrorLeavesConnectionUsable)
{
    for (const bool caching : {false, true}) {
        auto db = openWithTable();
        db->setShouldCacheStatements(caching);
        const QString insert = "insert into t values(?, ?)";
        ASSERT_TRUE(db->executeUpdate(insert, 1, 2));
        ConsoleCapture console;
        EXPECT_FALSE(db->executeUpdate(insert, 3));
        EXPECT_TRUE(db->executeQuery("select * from t where a = ? and b = ?", 1).isNull());
        const QString log = console.text();
        EXPECT_TRUE(log.contains(QStringLiteral("Error: the bind count (1) is not correct for the # of variables in "
                                                "the query (2) (%1) (executeUpdate)")
                                     .arg(insert)));
        EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));
        // The same text runs again, from the cache when caching is on.
        EXPECT_TRUE(db->executeUpdate(insert, 5, 6));
        EXPECT_TRUE(db->executeUpdate("insert into t values(7, 8)"));
        EXPECT_EQ(db->stringForQuery("select group_concat(a || '-' || b) from t"), "1-2,5-6,7-8");
    }
}

TEST(Database, ArgumentsBeyondThePlaceholdersAreNotRead)
{
    auto db = openWithTable("a");
    ASSERT_TRUE(db->executeUpdate("insert into t values(?)", 1, 2, 3));
    EXPECT_EQ(typeAndValue(db), "integer:1");
    // A null among the arguments is a NULL and does not end the list.
    ASSERT_TRUE(db->executeUpdate("insert into t values(? || ?)", nullptr, "x"));
    EXPECT_EQ(typeAndValue(db), "null:NULL");
    ASSERT_TRUE(db->executeUpdateWithArgumentsInArray("insert into t values(?)", {QVariant(), 2}));
    EXPECT_EQ(typeAndValue(db), "null:NULL");
}

TEST(Database, BindTable)
{
    auto db = openWithTable("a");
    const QString insert = "insert into t values(?)";
    const auto stored = [&](const QVariant& value) {
        EXPECT_TRUE(db->executeUpdate(insert, value));
        return typeAndValue(db);
    };
    EXPECT_EQ(stored(QByteArray()), "blob:X''");
    EXPECT_EQ(stored(QByteArray("\x01\xff", 2)), "blob:X'01FF'");
    EXPECT_EQ(stored(QVariant()), "null:NULL");
    EXPECT_EQ(stored(true), "integer:1");
    EXPECT_EQ(stored(false), "integer:0");
    EXPECT_EQ(stored(4000000000u), "integer:4000000000");
    EXPECT_EQ(stored(QVariant::fromValue(-7)), "integer:-7");
    EXPECT_EQ(stored(QVariant::fromValue(qint64(1) << 40)), "integer:1099511627776");
    EXPECT_EQ(stored(QVariant::fromValue(quint64(18446744073709551615ull))), "integer:-1");
    EXPECT_EQ(stored(QVariant::fromValue(short(-3))), "integer:-3");
    EXPECT_EQ(stored(2.5), "real:2.5");
    EXPECT_EQ(stored(QVariant::fromValue(0.25f)), "real:0.25");
    EXPECT_EQ(stored("Grüße"), "text:'Grüße'");
    EXPECT_EQ(stored(QString()), "text:''");

    // Text with an embedded NUL keeps every byte.
    const QString withNul = QString("ab") + QChar(0) + "cd";
    ASSERT_TRUE(db->executeUpdate(insert, withNul));
    EXPECT_EQ(db->intForQuery("select length(cast(a as blob)) from t"), 5);
    EXPECT_EQ(db->stringForQuery("select a from t"), withNul);
    db->executeUpdate("delete from t");

    const QDateTime date = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    EXPECT_EQ(stored(date), "real:981173106.0");
    db->setDateFormat("yyyy-MM-dd HH:mm:ss");
    EXPECT_EQ(stored(date.toOffsetFromUtc(3600)), "text:'2001-02-03 04:05:06'");
    ASSERT_TRUE(db->executeUpdate(insert, date));
    EXPECT_EQ(db->dateForQuery("select a from t"), date);
    db->setDateFormat(QString());
    EXPECT_EQ(db->dateForQuery("select 981173106.5"), date.addMSecs(500));
}

TEST(Database, UpdateOutcomes)
{
    auto db = openWithTable("a");
    ASSERT_TRUE(db->executeUpdate("insert into t values(1)"));
    EXPECT_EQ(db->lastInsertRowId(), 1);
    EXPECT_TRUE(db->executeUpdate("update t set a = 2 where a = 99"));
    EXPECT_EQ(db->changes(), 0);
    EXPECT_TRUE(db->executeUpdate("update t set a = 2 where a = 1"));
    EXPECT_EQ(db->changes(), 1);

    ConsoleCapture console;
    EXPECT_FALSE(db->executeUpdate("select a from t"));
    const QString log = console.text();
    EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (100: "));
    EXPECT_TRUE(log.contains(") eu"));
    EXPECT_TRUE(log.contains("DB Query: select a from t"));
}

TEST(Database, ParameterDictionary)
{
    auto db = openWithTable();
    ConsoleCapture console;
    ASSERT_TRUE(db->executeUpdateWithParameterDictionary("insert into t values(:first, :second)",
        {{"second", 2}, {"first", "one"}, {"zzz", 3}}));
    EXPECT_TRUE(console.text().contains("Could not find index for zzz"));
    SLResultSet rs = db->executeQueryWithParameterDictionary("select a, b from t where b = :b",
                                                             {{"b", 2}});
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.stringForColumnIndex(0), "one");
    EXPECT_FALSE(rs.next());
}

TEST(Database, FormatConversion)
{
    QString sql;
    QVariantList arguments;
    SLDatabase::extractSQL("a=%@ b=%d c=%s d=%ld e=%llu f=%hi g=%g h=%c i=%@ 100%% %hx %lx %q",
                           {"x", 42, "text", 7, 9, 70000, 0.5, 65, QVariant()}, sql, arguments);
    EXPECT_EQ(sql, "a=? b=? c=? d=? e=? f=? g=? h=? i=NULL 100% hx lx q");
    ASSERT_EQ(arguments.size(), 8);
    EXPECT_EQ(arguments[0], QVariant("x"));
    EXPECT_EQ(arguments[1].typeId(), QMetaType::Int);
    EXPECT_EQ(arguments[3].typeId(), QMetaType::Long);
    EXPECT_EQ(arguments[4].typeId(), QMetaType::ULongLong);
    EXPECT_EQ(arguments[5], QVariant::fromValue(short(70000 - 65536)));
    EXPECT_EQ(arguments[6].typeId(), QMetaType::Float);
    EXPECT_EQ(arguments[7], QVariant("A"));

    auto db = openWithTable("a, b, c");
    ASSERT_TRUE(db->executeUpdateWithFormat("insert into t values(%@, %d, %s)", nullptr, 42, "it's"));
    SLResultSet rs = db->executeQueryWithFormat("select a is null, b, c from t where b = %d", 42);
    ASSERT_TRUE(rs.next());
    EXPECT_TRUE(rs.boolForColumnIndex(0));
    EXPECT_EQ(rs.intForColumnIndex(1), 42);
    EXPECT_EQ(rs.stringForColumnIndex(2), "it's");
}

TEST(Database, TransactionsAndSavepoints)
{
    auto db = openWithTable("a");
    ASSERT_TRUE(db->beginDeferredTransaction());
    EXPECT_TRUE(db->inTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t values(1)"));
    ASSERT_TRUE(db->rollback());
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);

    const QString name = "it's a 'name'";
    Error error;
    ASSERT_TRUE(db->startSavePointWithName(name, &error));
    ASSERT_TRUE(db->executeUpdate("insert into t values(2)"));
    ASSERT_TRUE(db->rollbackToSavePointWithName(name, &error));
    ASSERT_TRUE(db->releaseSavePointWithName(name, &error));
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);

    ConsoleCapture console;
    EXPECT_FALSE(db->releaseSavePointWithName("never", &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "no such savepoint: never");

    EXPECT_FALSE(db->inSavePoint([&](bool& rollback) {
        db->executeUpdate("insert into t values(3)");
        rollback = true;
    }));
    EXPECT_FALSE(db->inSavePoint([&](bool&) { db->executeUpdate("insert into t values(4)"); }));
    EXPECT_EQ(db->stringForQuery("select group_concat(a) from t"), "4");
}

TEST(Database, StatementCacheHandsOutIdleStatementsOnly)
{
    auto db = openWithTable("a");
    db->setShouldCacheStatements(true);
    const QString select = "select a from t order by a";
    ASSERT_TRUE(db->executeUpdate("insert into t values(?)", 1));
    ASSERT_TRUE(db->executeUpdate("insert into t values(?)", 2));
    EXPECT_EQ(db->cachedStatements().value("insert into t values(?)").size(), 1);
    EXPECT_EQ(db->cachedStatements().value("insert into t values(?)").first()->useCount(), 2);

    SLResultSet outer = db->executeQuery(select);
    ASSERT_TRUE(outer.next());
    SLResultSet inner = db->executeQuery(select);
    ASSERT_TRUE(inner.next());
    ASSERT_TRUE(inner.next());
    EXPECT_EQ(inner.intForColumnIndex(0), 2);
    EXPECT_EQ(outer.intForColumnIndex(0), 1) << "the outer cursor is not disturbed";
    EXPECT_EQ(db->cachedStatements().value(select).size(), 2);
    outer.close();
    inner.close();

    SLResultSet again = db->executeQuery(select);
    ASSERT_TRUE(again.next());
    EXPECT_EQ(again.intForColumnIndex(0), 1);
    EXPECT_EQ(db->cachedStatements().value(select).size(), 2);

    db->setShouldCacheStatements(false);
    EXPECT_TRUE(db->cachedStatements().isEmpty());
    ASSERT_TRUE(again.next()) << "a cursor keeps its statement when caching stops";
    EXPECT_EQ(again.intForColumnIndex(0), 2);
}

TEST(Database, ExecuteStatementsRunsEveryStatement)
{
    auto db = openWithTable("a");
    EXPECT_TRUE(db->executeStatements("insert into t values(1); insert into t values(null);"));
    QList<QVariantMap> rows;
    EXPECT_TRUE(db->executeStatements("select a, 'x' as b from t order by a", [&](const QVariantMap& row) {
        rows.append(row);
        return 0;
    }));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].value("a").isNull());
    EXPECT_EQ(rows[1].value("a"), QVariant("1"));
    EXPECT_EQ(rows[1].value("b"), QVariant("x"));

    int seen = 0;
    EXPECT_FALSE(db->executeStatements("select a from t", [&](const QVariantMap&) { return ++seen; }));
    EXPECT_EQ(seen, 1);

    ConsoleCapture console;
    EXPECT_FALSE(db->executeStatements("insert into t values(2); bogus;"));
    EXPECT_TRUE(console.text().contains("Error inserting batch: near \"bogus\": syntax error"));
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 3);
    EXPECT_TRUE(db->goodConnection());
}
