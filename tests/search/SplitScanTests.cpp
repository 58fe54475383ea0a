#include "SearchTestSupport.h"

#include "Store/ContentPattern.h"
#include "Store/SplitScan.h"

namespace {

using Search = SearchTest;

// The two halves together must give the rows of one scan, in its order and
// up to its limit, wherever the matching notes lie and whatever test is used.
TEST_F(Search, SplitContentScanGivesTheRowsOfOneScan)
{
    constexpr int Rows = 4500;
    const auto marked = [](int i) {
        QString content = QStringLiteral("filler words");
        if (i >= 3000 && i < 3010)
            content += QStringLiteral(" mmqzxmm"); // upper half only
        if (i < 300)
            content += QStringLiteral(" nnkvwnn"); // more than the limit in the lower half
        if ((i >= 2150 && i < 2350) || (i >= 4000 && i < 4100))
            content += QStringLiteral(" ppjyfpp"); // across the middle
        return content;
    };
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ASSERT_TRUE(db.beginTransaction());
        for (int i = 0; i < Rows; ++i)
            db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES(?, ?, ?, 'inbox')"),
                             QStringLiteral("inbox/N%1.txt").arg(i), QStringLiteral("T%1").arg(i), marked(i));
        ASSERT_TRUE(db.commit());
        ContentPattern::registerOn(db);
    });
    const struct {
        const char* pattern;
        int limit;
    } cases[] = {{"%qzx%", 200}, {"%kvw%", 200}, {"%jyf%", 200}, {"%jyf%", 250}, {"%jyf%", 1}, {"%zzzz%", 200},
                 {"%filler%", 3}, {"%a_b%", 50}};
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const auto& c : cases) {
            for (const QString& condition : {QStringLiteral("c2content LIKE ?"), QStringLiteral("notecontains(c2content, ?)")}) {
                if (condition.startsWith(QLatin1String("notecontains")) && !ContentPattern::parse(c.pattern))
                    continue;
                const auto split = SplitScan::rows(db, condition, {QString::fromUtf8(c.pattern)}, c.limit, {});
                ASSERT_TRUE(split) << c.pattern;
                QStringList found;
                for (const TextRow& row : *split)
                    found.append(row.columns[0] + QLatin1Char('|') + row.columns[1]);
                QStringList whole;
                SLResultSet set = db.executeQuery(QStringLiteral("SELECT c0key, c3folder FROM notes_content WHERE ") +
                                                      condition + QStringLiteral(" LIMIT ?"),
                                                  QString::fromUtf8(c.pattern), c.limit);
                while (set.next())
                    whole.append(set.stringForColumnIndex(0) + QLatin1Char('|') + set.stringForColumnIndex(1));
                EXPECT_EQ(found, whole) << c.pattern << " " << c.limit << " " << qPrintable(condition);
            }
        }
        // Rows of an open transaction are the connection's own: no second connection scans them.
        ASSERT_TRUE(db.beginTransaction());
        EXPECT_FALSE(SplitScan::rows(db, QStringLiteral("c2content LIKE ?"), {QStringLiteral("%qzx%")}, 200, {}));
        ASSERT_TRUE(db.rollback());
        // A search that is no longer wanted stops both halves.
        const auto stopped = SplitScan::rows(db, QStringLiteral("c2content LIKE ?"), {QStringLiteral("%zzzz%")}, 200,
                                             [] { return true; });
        EXPECT_TRUE(!stopped || stopped->empty());
    });
    // Through the search: the fallback's rows, in table order.
    QStringList expected;
    for (int i = 2150; i < 2350; ++i)
        expected.append(QStringLiteral("3:N%1.txt").arg(i));
    EXPECT_EQ(rows(search(QStringLiteral("jyf")).notes), expected);
}

} // namespace
