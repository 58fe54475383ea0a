#include "SearchTestSupport.h"

#include "Store/NoteSearchRow.h"

namespace {

// The list of every row's key is read around the mapped file and leaves the
// connection's mapping as it found it, for the searches that scan through it.
TEST_F(SearchTest, KeysAreEveryRowsAndLeaveTheMappingAsItWas)
{
    QStringList expected;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const char* name : {"inbox/A.txt", "archive/B.txt", "inbox/C d.txt"}) {
            NoteSearchRow row;
            row.key = QString::fromUtf8(name);
            row.content = QStringLiteral("text of ") + row.key;
            ASSERT_TRUE(row.write(db));
            expected.append(row.key);
        }
        for (const int64_t mapped : {int64_t(0), int64_t(1) << 20, int64_t(268435456)}) {
            ASSERT_TRUE(db.executeStatements(QStringLiteral("PRAGMA mmap_size=%1").arg(mapped)));
            const int64_t before = db.longForQuery(QStringLiteral("PRAGMA mmap_size"));
            QStringList keys = NoteSearchRow::keys(db);
            keys.sort();
            expected.sort();
            EXPECT_EQ(keys, expected) << mapped;
            EXPECT_EQ(db.longForQuery(QStringLiteral("PRAGMA mmap_size")), before) << mapped;
        }
    });
}

} // namespace
