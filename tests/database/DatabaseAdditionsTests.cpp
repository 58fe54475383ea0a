#include "ConsoleCapture.h"
#include "SLDatabase.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<SLDatabase> openWithRows()
{
    auto db = SLDatabase::databaseWithPath();
    EXPECT_TRUE(db->open());
    EXPECT_TRUE(db->executeStatements(QStringLiteral(
        "create table Things(Name text, Size integer, Data blob);"
        "insert into Things values('one', 1, x'01'); insert into Things values('two', 2, null);")));
    return db;
}

} // namespace

TEST(Database, SingleValueQueries)
{
    auto db = openWithRows();
    EXPECT_EQ(db->intForQuery(QStringLiteral("select size from things where name = ?"), "two"), 2);
    EXPECT_EQ(db->longForQuery(QStringLiteral("select 1 << 40")), int64_t(1) << 40);
    EXPECT_TRUE(db->boolForQuery(QStringLiteral("select size from things where size = ?"), 1));
    EXPECT_EQ(db->doubleForQuery(QStringLiteral("select 0.5")), 0.5);
    EXPECT_EQ(db->dataForQuery(QStringLiteral("select data from things where name = 'one'")), QByteArray("\x01"));
    EXPECT_EQ(db->stringForQuery(QStringLiteral("select name from things order by size")), QStringLiteral("one"));
    EXPECT_FALSE(db->hasOpenResultSets()) << "only the first row is read and the cursor is closed";

    EXPECT_EQ(db->intForQuery(QStringLiteral("select size from things where name = ?"), "none"), 0);
    EXPECT_TRUE(db->stringForQuery(QStringLiteral("select name from things where size > 9")).isNull());
    EXPECT_TRUE(db->dataForQuery(QStringLiteral("select data from things where name = 'two'")).isNull());
    EXPECT_FALSE(db->dateForQuery(QStringLiteral("select null")).isValid());
    ConsoleCapture console;
    EXPECT_EQ(db->intForQuery(QStringLiteral("select nonsense from things")), 0);
    EXPECT_FALSE(db->hasOpenResultSets());
}

TEST(Database, SchemaQuestions)
{
    auto db = openWithRows();
    EXPECT_TRUE(db->tableExists(QStringLiteral("things")));
    EXPECT_TRUE(db->tableExists(QStringLiteral("THINGS")));
    EXPECT_FALSE(db->tableExists(QStringLiteral("thing")));
    EXPECT_TRUE(db->columnExists(QStringLiteral("name"), QStringLiteral("things")));
    EXPECT_TRUE(db->columnExists(QStringLiteral("SIZE"), QStringLiteral("Things")));
    EXPECT_FALSE(db->columnExists(QStringLiteral("colour"), QStringLiteral("things")));

    // A table name with quotes is bound, not pasted into the SQL.
    const QString odd = QStringLiteral("it's \"odd\"");
    ASSERT_TRUE(db->executeUpdate(QStringLiteral("create table \"it's \"\"odd\"\"\"(Weird text)")));
    EXPECT_TRUE(db->columnExists(QStringLiteral("weird"), odd));
    SLResultSet info = db->getTableSchema(odd);
    ASSERT_TRUE(info.next());
    EXPECT_EQ(info.stringForColumn(QStringLiteral("name")), QStringLiteral("Weird"));
    EXPECT_EQ(info.intForColumn(QStringLiteral("cid")), 0);
    EXPECT_FALSE(info.next());
    EXPECT_FALSE(db->columnExists(QStringLiteral("x"), QStringLiteral("x') union select 1,'x',1,1,1,1 --")));

    ASSERT_TRUE(db->executeUpdate(QStringLiteral("create index ThingsBySize on Things(Size)")));
    QStringList schema;
    SLResultSet rs = db->getSchema();
    while (rs.next())
        schema << rs.stringForColumn(QStringLiteral("type")) + QLatin1Char(':') + rs.stringForColumn(QStringLiteral("name"));
    EXPECT_EQ(schema, QStringList({QStringLiteral("table:Things"), QStringLiteral("index:ThingsBySize"),
                                   QStringLiteral("table:it's \"odd\"")}));
}

TEST(Database, HeaderValues)
{
    auto db = openWithRows();
    EXPECT_EQ(db->userVersion(), 0u);
    db->setUserVersion(7);
    EXPECT_EQ(db->userVersion(), 7u);

    EXPECT_EQ(db->applicationID(), 0u);
    EXPECT_EQ(db->applicationIDString(), QString());
    db->setApplicationID(0xfffffffe);
    EXPECT_EQ(db->applicationID(), 0xfffffffeu);
    db->setApplicationIDString(QStringLiteral("BwNt"));
    EXPECT_EQ(db->applicationID(), 0x42774e74u);
    EXPECT_EQ(db->applicationIDString(), QStringLiteral("BwNt"));

    ConsoleCapture console;
    db->setApplicationIDString(QStringLiteral("abc"));
    EXPECT_TRUE(console.text().contains(
        QStringLiteral("setApplicationIDString: string passed is not exactly 4 chars long. (was 3)")));
    EXPECT_EQ(db->applicationIDString(), QStringLiteral("abc "));
}

TEST(Database, ValidateSQLCompilesWithoutRunning)
{
    auto db = openWithRows();
    Error error;
    EXPECT_FALSE(db->validateSQL(QStringLiteral("selec * from things"), &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("near \"selec\": syntax error"));
    EXPECT_TRUE(db->validateSQL(QStringLiteral("insert into things values('three', 3, null)"), &error));
    EXPECT_EQ(db->intForQuery(QStringLiteral("select count(*) from things")), 2);
}
