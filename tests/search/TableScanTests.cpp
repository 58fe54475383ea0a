#include "SearchTestSupport.h"

#include "Store/ContentPattern.h"
#include "Store/SplitScan.h"
#include "Store/TitleScan.h"

#include <random>

namespace {

// A table larger than the title walk's reach and worth splitting, with rare
// words past the walk and content marks on both sides of the middle.
class SearchLargeTable : public SearchTest {
protected:
    static constexpr int Rows = 4500;

    void SetUp() override
    {
        SearchTest::SetUp();
        const QStringList words = {"Plan", "plane", QString::fromUtf8("\u00c9t\u00e9"), "ete", "oko", "t", "T2",
                                   "tea-time", "42nd", QString::fromUtf8("caf\u00e9"), "CAFE", "apple", "of"};
        std::mt19937 random(2612);
        Core::shared().syncDatabase([&](SLDatabase& db) {
            ASSERT_TRUE(db.beginTransaction());
            for (int i = 0; i < Rows; ++i) {
                QStringList title;
                for (int w = 1 + int(random() % 4); w > 0; --w)
                    title.append(words.at(qsizetype(random() % words.size())));
                if (i % 700 == 699)
                    title.append(QStringLiteral("Xylo"));
                QString content = QStringLiteral("filler words");
                if (i >= 3000 && i < 3010)
                    content += QStringLiteral(" mmqzxmm"); // upper half only
                if (i < 300)
                    content += QStringLiteral(" nnkvwnn"); // more than a list in the lower half
                if ((i >= 2150 && i < 2350) || (i >= 4000 && i < 4100))
                    content += QStringLiteral(" ppjyfpp"); // across the middle
                // Sparse ids: the table spans as many as a large store's.
                db.executeUpdate(QStringLiteral("INSERT INTO notes(docid, key, title, content, folder) VALUES(?, ?, ?, ?, ?)"),
                                 i * 10, QStringLiteral("inbox/N%1.txt").arg(i), title.join(QLatin1Char(' ')), content,
                                 i % 3 ? QStringLiteral("inbox") : QStringLiteral("archive"));
            }
            ASSERT_TRUE(db.commit());
            ContentPattern::registerOn(db);
        });
    }

    // Each row's columns joined, from rows read before or straight from the statement.
    static QStringList joined(const std::vector<TextRow>& rows)
    {
        QStringList out;
        for (const TextRow& row : rows)
            out.append(QStringList(row.columns.begin(), row.columns.end()).join(QLatin1Char('|')));
        return out;
    }
    static QStringList joined(SLDatabase& db, const QString& sql, const QVariantList& arguments, int columns)
    {
        return joined(*readTextRows(db, sql, arguments, 100000, columns));
    }
};

// The walk's rows are the index's, snippets included, whether it covers the
// table, stops at the rows wanted, or leaves the rest to the index.
TEST_F(SearchLargeTable, TitleWalkGivesTheIndexRowsForAPlainPrefix)
{
    const struct {
        const char* expression;
        int wanted;
    } cases[] = {{"t*", 200}, {"*t*", 1000}, {"pl*", 200}, {"PL*", 1000}, {"e*", 200}, {"\u00e9*", 200},
                 {"o*", 5000}, {"42*", 200}, {"c*", 1000}, {"x*", 200}, {"*x*", 1000}, {"*x*", 3}, {"zz*", 9}};
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const auto& c : cases) {
            for (const bool withSnippet : {true, false}) {
                const QString expression = QString::fromUtf8(c.expression);
                const auto walked = TitleScan::rows(db, expression, c.wanted, withSnippet);
                ASSERT_TRUE(walked) << c.expression;
                const QString columns = withSnippet ? QStringLiteral("key, title, folder, snippet(notes, '[', ']', '...', 1, 64)")
                                                    : QStringLiteral("key, title, folder");
                const QStringList expected = joined(db, QStringLiteral("SELECT %1 FROM notes WHERE title MATCH ? LIMIT ?").arg(columns),
                                                    {expression, c.wanted}, withSnippet ? 4 : 3);
                EXPECT_EQ(expected.isEmpty(), QByteArray(c.expression) == "zz*") << c.expression;
                EXPECT_EQ(joined(*walked), expected) << c.expression << " " << withSnippet;
            }
        }
        // Anything but a short plain prefix with its star is the index's.
        for (const char* other : {"pl", "pla*", "p t*", "\"p\"*", "t-*", "*", "t**", "OR x*"})
            EXPECT_FALSE(TitleScan::rows(db, QString::fromUtf8(other), 200, true)) << other;
    });
}

// The two halves together give the rows of one scan, in its order and up to
// its limit, wherever the matching notes lie and whatever test is used.
TEST_F(SearchLargeTable, SplitContentScanGivesTheRowsOfOneScan)
{
    const struct {
        const char* pattern;
        int limit;
    } cases[] = {{"%qzx%", 200}, {"%kvw%", 200}, {"%jyf%", 200}, {"%jyf%", 250}, {"%jyf%", 1}, {"%zzzz%", 200},
                 {"%filler%", 3}, {"%a_b%", 50}};
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const auto& c : cases) {
            const QString pattern = QString::fromUtf8(c.pattern);
            for (const char* test : {"c2content LIKE ?", "notecontains(c2content, ?)"}) {
                const QString condition = QString::fromUtf8(test);
                if (condition.startsWith(QLatin1String("notecontains")) && !ContentPattern::parse(c.pattern))
                    continue;
                const auto split = SplitScan::rows(db, condition, {pattern}, c.limit, {});
                ASSERT_TRUE(split) << c.pattern;
                EXPECT_EQ(joined(*split),
                          joined(db, QStringLiteral("SELECT c0key, c3folder FROM notes_content WHERE ") + condition +
                                         QStringLiteral(" LIMIT ?"), {pattern, c.limit}, 2))
                    << c.pattern << " " << c.limit << " " << test;
            }
        }
        // Rows of an open transaction are the connection's own: no second connection scans them.
        ASSERT_TRUE(db.beginTransaction());
        EXPECT_FALSE(SplitScan::rows(db, QStringLiteral("c2content LIKE ?"), {QStringLiteral("%qzx%")}, 200, {}));
        ASSERT_TRUE(db.rollback());
    });
    // Through the search: the fallback's rows, in table order, archived ones second.
    QStringList notes, archived;
    for (int i = 2150; i < 2350; ++i)
        (i % 3 ? notes : archived).append(QStringLiteral("3:N%1.txt").arg(i));
    const Results found = search(QStringLiteral("jyf"));
    EXPECT_EQ(rows(found.notes), notes);
    EXPECT_EQ(rows(found.archived), archived);
}

} // namespace
