#include "SearchTestSupport.h"

#include "Store/ContentPattern.h"
#include "Store/NoteSearchIndex.h"
#include "Store/SplitScan.h"

#include <random>

namespace {

// A table worth splitting, with rare title words, a title longer than a
// snippet and content marks on both sides of the middle.
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
                if (i == 1234)
                    title = QStringList(40, QStringLiteral("of")) + QStringList{"Plan", "tea-time"} +
                            QStringList(40, QStringLiteral("of"));
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

// The index of titles gives the word table's title rows, snippets included,
// for prefixes, words, phrases and the query syntax, up to the limit; an
// expression naming a column is left to the word table.
TEST_F(SearchLargeTable, TitleIndexGivesTheWordTableTitleRows)
{
    const struct {
        const char* expression;
        int limit;
    } cases[] = {{"t*", 200},      {"*t*", 1000},       {"pl*", 200},          {"PL*", 1000},     {"e*", 200},
                 {"\u00e9*", 200}, {"o*", 5000},        {"42*", 200},          {"c*", 1000},      {"*x*", 3},
                 {"zz*", 9},       {"pla*", 200},       {"plan tea*", 200},    {"\"tea time\"", 50},
                 {"t-*", 200},     {"\"p\"*", 200},     {"*", 200},            {"t**", 200},      {"OR x*", 200},
                 {"plan OR xylo", 300}, {"plan -apple", 300}, {"plan NEAR/2 time", 100}, {"(cafe OR ete) apple", 100}};
    int found = 0;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const auto& c : cases) {
            for (const bool withSnippet : {true, false}) {
                const QString expression = QString::fromUtf8(c.expression);
                const auto indexed = NoteSearchIndex::titleRows(db, expression, c.limit, withSnippet);
                const QString columns = withSnippet ? QStringLiteral("key, title, folder, snippet(notes, '[', ']', '...', 1, 64)")
                                                    : QStringLiteral("key, title, folder");
                // A malformed expression fails in both.
                const auto expected = readTextRows(db, QStringLiteral("SELECT %1 FROM notes WHERE title MATCH ? LIMIT ?").arg(columns),
                                                   {expression, c.limit}, c.limit, withSnippet ? 4 : 3);
                ASSERT_EQ(bool(indexed), bool(expected)) << c.expression;
                if (!expected)
                    continue;
                found += !expected->empty();
                EXPECT_EQ(joined(*indexed), joined(*expected)) << c.expression << " " << withSnippet;
            }
        }
        for (const char* other : {"title:pl*", "content:filler", "key:n1*"})
            EXPECT_FALSE(NoteSearchIndex::titleRows(db, QString::fromUtf8(other), 200, true)) << other;
    });
    EXPECT_GE(found, 36);
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
