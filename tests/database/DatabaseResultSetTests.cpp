#include "ConsoleCapture.h"

#include <QObject>

TEST(Database, ResultSetNextAfterTheEnd)
{
    auto db = openMemory("create table t(a)");
    SLResultSet rs = db->executeQuery("select a from t");
    ASSERT_FALSE(rs.isNull());
    EXPECT_TRUE(db->hasOpenResultSets());
    Error error;
    EXPECT_FALSE(rs.nextWithError(&error));
    EXPECT_TRUE(error.isNull()) << "running out of rows is no error";
    EXPECT_FALSE(db->hasOpenResultSets()) << "the last step closes the cursor";

    ConsoleCapture console;
    EXPECT_FALSE(rs.nextWithError(&error));
    EXPECT_EQ(error.domain, "SLDatabase");
    EXPECT_EQ(error.code, SQLITE_MISUSE);
    EXPECT_EQ(error.localizedDescription(), "parentDB does not exist");
    EXPECT_TRUE(console.text().contains("Error calling sqlite3_step (21: "));
}

TEST(Database, ResultSetNullAndEmptyBlobColumns)
{
    auto db = openMemory();
    SLResultSet rs = db->executeQuery("select null as n, x'' as e, x'00ff' as b, 'txt' as s, 2.5 as d, 7 as i");
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.intForColumnIndex(0), 0);
    EXPECT_EQ(rs.doubleForColumnIndex(0), 0.0);
    EXPECT_TRUE(rs.stringForColumnIndex(0).isNull());
    EXPECT_TRUE(rs.dataForColumnIndex(0).isNull());
    EXPECT_FALSE(rs.dateForColumnIndex(0).isValid());
    EXPECT_EQ(rs.UTF8StringForColumnIndex(0), nullptr);
    EXPECT_TRUE(rs.objectForColumnIndex(0).isNull());
    EXPECT_TRUE(rs.columnIndexIsNull(0));

    EXPECT_TRUE(rs.dataForColumnIndex(1).isNull());
    const QByteArray noCopy = rs.dataNoCopyForColumnIndex(1);
    EXPECT_FALSE(noCopy.isNull());
    EXPECT_TRUE(noCopy.isEmpty());
    EXPECT_TRUE(rs.objectForColumnIndex(1).isNull());
    EXPECT_FALSE(rs.columnIndexIsNull(1));

    EXPECT_EQ(rs.dataForColumn("B"), QByteArray("\x00\xff", 2));
    EXPECT_EQ(rs.objectForColumnIndex(2), QVariant(QByteArray("\x00\xff", 2)));
    EXPECT_EQ(rs["s"], QVariant("txt"));
    EXPECT_EQ(rs[4].typeId(), QMetaType::Double);
    EXPECT_EQ(rs[5], QVariant::fromValue(qlonglong(7)));
    EXPECT_EQ(qstrcmp(rs.UTF8StringForColumnName("s"), "txt"), 0);

    const QVariantMap row = rs.resultDictionary();
    EXPECT_EQ(row.size(), 6);
    EXPECT_TRUE(row.value("n").isNull());
    EXPECT_EQ(row.value("d"), QVariant(2.5));
}

TEST(Database, ResultSetColumnNamesIgnoreCase)
{
    auto db = openMemory();
    SLResultSet rs = db->executeQuery("select 1 as Name, 2 as NAME, -5 as Big");
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.columnCount(), 3);
    EXPECT_EQ(rs.columnNameForIndex(2), "Big");
    EXPECT_TRUE(rs.columnNameForIndex(3).isNull());
    EXPECT_TRUE(rs.columnNameForIndex(-1).isNull());
    EXPECT_EQ(rs.intForColumn("name"), 2) << "the later column wins";
    EXPECT_EQ(rs.columnIndexForName("bIG"), 2);
    EXPECT_EQ(rs.unsignedLongLongIntForColumn("big"), uint64_t(-5));

    ConsoleCapture console;
    EXPECT_TRUE(rs.stringForColumn("Missing").isNull());
    EXPECT_EQ(rs.intForColumn("missing"), 0);
    EXPECT_TRUE(console.text().contains("Warning: I could not find the column named 'missing'."));
}

TEST(Database, ResultSetReadsNothingWithoutACurrentRow)
{
    auto db = openMemory();
    SLResultSet rs = db->executeQuery("select 42, 'x'");
    EXPECT_EQ(rs.intForColumnIndex(0), 0) << "before the first step";
    EXPECT_TRUE(rs.stringForColumnIndex(1).isNull());
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.intForColumnIndex(0), 42);
    EXPECT_EQ(rs.intForColumnIndex(2), 0);
    EXPECT_TRUE(rs.objectForColumnIndex(-1).isNull());
    EXPECT_TRUE(rs.hasAnotherRow());
    EXPECT_FALSE(rs.next());
    EXPECT_FALSE(rs.hasAnotherRow());
    EXPECT_EQ(rs.intForColumnIndex(0), 0);

    ConsoleCapture console;
    EXPECT_TRUE(rs.resultDictionary().isEmpty());
    EXPECT_TRUE(console.text().contains("Warning: There seem to be no columns in this set."));

    SLResultSet empty;
    EXPECT_FALSE(empty.next());
    EXPECT_EQ(empty.longForColumnIndex(0), 0);
    EXPECT_TRUE(empty.resultDictionary().isEmpty());
}

TEST(Database, ResultSetLifetimeFollowsItsHandles)
{
    auto db = openMemory();
    {
        SLResultSet rs = db->executeQuery("select 1 union all select 2");
        SLResultSet copy = rs;
        ASSERT_TRUE(rs.next());
        EXPECT_EQ(copy.intForColumnIndex(0), 1) << "copies share one cursor";
        rs = SLResultSet();
        EXPECT_TRUE(db->hasOpenResultSets());
    }
    EXPECT_FALSE(db->hasOpenResultSets()) << "the last handle closes the cursor";

    SLResultSet detached = db->executeQuery("select 1");
    detached.setParentDB(nullptr);
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_TRUE(detached.next());
}

TEST(Database, ResultSetKeepsItsBoundArgumentsAlive)
{
    auto db = openMemory();
    db->setShouldCacheStatements(true);
    const auto longText = [](char letter) { return QString(300, QLatin1Char(letter)); };
    // The arguments are temporaries gone before the first step; the columns
    // read them straight from the bound bytes.
    SLResultSet rs = db->executeQuery("select ?, ?", longText('a'), QByteArray(200, 'b'));
    SLResultSet second = db->executeQuery("select ?, ?", longText('c'), QByteArray(10, 'd'));
    ASSERT_TRUE(rs.next());
    ASSERT_TRUE(second.next());
    EXPECT_EQ(rs.stringForColumnIndex(0), longText('a'));
    EXPECT_EQ(rs.dataForColumnIndex(1), QByteArray(200, 'b'));
    EXPECT_EQ(second.stringForColumnIndex(0), longText('c'));
    rs.close();
    SLResultSet reused = db->executeQuery("select ?, ?", longText('e'), QByteArray());
    ASSERT_TRUE(reused.next());
    EXPECT_EQ(reused.stringForColumnIndex(0), longText('e'));
    EXPECT_EQ(db->cachedStatements().value("select ?, ?").size(), 2);
}

TEST(Database, ResultSetSetsTextColumnsAsProperties)
{
    auto db = openMemory();
    SLResultSet rs = db->executeQuery("select 'Ada' as objectName, null as note, 3 as count");
    ASSERT_TRUE(rs.next());
    QObject object;
    rs.kvcMagic(&object);
    EXPECT_EQ(object.objectName(), "Ada");
    EXPECT_FALSE(object.property("note").isValid());
    EXPECT_EQ(object.property("count"), QVariant("3"));
}

TEST(Database, Fts4Unicode61RoundTripOnATemporaryFile)
{
    auto db = SLDatabase::databaseWithPath("");
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate(QStringLiteral(
        "CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, hashtag, mention, tokenize=unicode61)")));
    const QString insert = "INSERT INTO notes(key, title, content, folder, hashtag, mention) VALUES(?, ?, ?, ?, ?, ?)";
    ASSERT_TRUE(db->executeUpdate(insert, "inbox/Trip.md", "Trip", "Ein Café in Köln am Rhein", "inbox", "#travel", ""));
    ASSERT_TRUE(db->executeUpdate(insert, "inbox/Other.md", "Other", "Nothing here", "inbox", "", "@bob"));

    SLResultSet rs = db->executeQuery("SELECT key, snippet(notes) FROM notes WHERE notes MATCH ? ORDER BY key", "koln");
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.stringForColumnIndex(0), "inbox/Trip.md");
    EXPECT_EQ(rs.stringForColumnIndex(1), "Ein Café in <b>Köln</b> am Rhein");
    EXPECT_FALSE(rs.next());

    EXPECT_EQ(db->stringForQuery("SELECT key FROM notes WHERE content MATCH ?", "CAFE"), "inbox/Trip.md");
    EXPECT_EQ(db->intForQuery("SELECT count(*) FROM notes WHERE notes MATCH ?", "rhein OR nothing"), 2);

    // The full-text table's own statements are not leaks of ours.
    ConsoleCapture console;
    EXPECT_TRUE(db->close());
    EXPECT_TRUE(console.text().isEmpty());
}
