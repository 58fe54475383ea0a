#include "ConsoleCapture.h"

namespace {

std::shared_ptr<SLDatabase> openWithRows()
{
    return openMemory("create table Things(Name text, Size integer, Data blob);"
                      "insert into Things values('one', 1, x'01'); insert into Things values('two', 2, null);");
}

} // namespace

TEST(Database, SingleValueQueries)
{
    auto db = openWithRows();
    EXPECT_EQ(db->intForQuery("select size from things where name = ?", "two"), 2);
    EXPECT_EQ(db->longForQuery("select 1 << 40"), int64_t(1) << 40);
    EXPECT_TRUE(db->boolForQuery("select size from things where size = ?", 1));
    EXPECT_EQ(db->doubleForQuery("select 0.5"), 0.5);
    EXPECT_EQ(db->dataForQuery("select data from things where name = 'one'"), QByteArray("\x01"));
    EXPECT_EQ(db->stringForQuery("select name from things order by size"), "one");
    EXPECT_FALSE(db->hasOpenResultSets()) << "only the first row is read and the cursor is closed";

    EXPECT_EQ(db->intForQuery("select size from things where name = ?", "none"), 0);
    EXPECT_TRUE(db->stringForQuery("select name from things where size > 9").isNull());
    EXPECT_TRUE(db->dataForQuery("select data from things where name = 'two'").isNull());
    EXPECT_FALSE(db->dateForQuery("select null").isValid());
    ConsoleCapture console;
    EXPECT_EQ(db->intForQuery("select nonsense from things"), 0);
    EXPECT_FALSE(db->hasOpenResultSets());
}

TEST(Database, SchemaQuestions)
{
    auto db = openWithRows();
    EXPECT_TRUE(db->tableExists("things"));
    EXPECT_TRUE(db->tableExists("THINGS"));
    EXPECT_FALSE(db->tableExists("thing"));
    EXPECT_TRUE(db->columnExists("name", "things"));
    EXPECT_TRUE(db->columnExists("SIZE", "Things"));
    EXPECT_FALSE(db->columnExists("colour", "things"));

    // A table name with quotes is bound, not pasted into the SQL.
    const QString odd = "it's \"odd\"";
    ASSERT_TRUE(db->executeUpdate("create table \"it's \"\"odd\"\"\"(Weird text)"));
    EXPECT_TRUE(db->columnExists("weird", odd));
    SLResultSet info = db->getTableSchema(odd);
    ASSERT_TRUE(info.next());
    EXPECT_EQ(info.stringForColumn("name"), "Weird");
    EXPECT_EQ(info.intForColumn("cid"), 0);
    EXPECT_FALSE(info.next());
    EXPECT_FALSE(db->columnExists("x", "x') union select 1,'x',1,1,1,1 --"));

    ASSERT_TRUE(db->executeUpdate("create index ThingsBySize on Things(Size)"));
    QStringList schema;
    SLResultSet rs = db->getSchema();
    while (rs.next())
        schema << rs.stringForColumn("type") + QLatin1Char(':') + rs.stringForColumn("name");
    EXPECT_EQ(schema, QStringList({"table:Things", "index:ThingsBySize", "table:it's \"odd\""}));
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
    db->setApplicationIDString("BwNt");
    EXPECT_EQ(db->applicationID(), 0x42774e74u);
    EXPECT_EQ(db->applicationIDString(), "BwNt");

    ConsoleCapture console;
    db->setApplicationIDString("abc");
    EXPECT_TRUE(console.text().contains("setApplicationIDString: string passed is not exactly 4 chars long. (was 3)"));
    EXPECT_EQ(db->applicationIDString(), "abc ");
}

TEST(Database, ValidateSQLCompilesWithoutRunning)
{
    auto db = openWithRows();
    Error error;
    EXPECT_FALSE(db->validateSQL("selec * from things", &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "near \"selec\": syntax error");
    EXPECT_TRUE(db->validateSQL("insert into things values('three', 3, null)", &error));
    EXPECT_EQ(db->intForQuery("select count(*) from things"), 2);
}
