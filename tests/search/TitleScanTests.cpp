#include "SearchTestSupport.h"

#include "Store/TitleScan.h"

#include <random>

namespace {

using Search = SearchTest;

// The walk's rows must be the index's, snippets included, whether the walk
// covers the table, stops at the rows wanted, or leaves the rest to the index.
TEST_F(Search, TitleWalkGivesTheIndexRowsForAPlainPrefix)
{
    const QStringList words = {"Plan", "plane", QString::fromUtf8("\u00c9t\u00e9"), "ete", QString::fromUtf8("\u00d6konomie"),
                               "oko", "t", "T2", "tea-time", "42nd", QString::fromUtf8("caf\u00e9"), "CAFE", "apple", "of"};
    std::mt19937 random(2612);
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ASSERT_TRUE(db.beginTransaction());
        for (int i = 0; i < 3500; ++i) {
            QStringList title;
            for (int w = 1 + int(random() % 4); w > 0; --w)
                title.append(words.at(qsizetype(random() % words.size())));
            // A rare word, found only past the walk's reach.
            if (i % 700 == 699)
                title.append(QStringLiteral("Xylo"));
            db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, folder) VALUES(?, ?, ?)"),
                             QStringLiteral("inbox/N%1.txt").arg(i), title.join(QLatin1Char(' ')),
                             i % 3 ? QStringLiteral("inbox") : QStringLiteral("archive"));
        }
        ASSERT_TRUE(db.commit());
    });
    const auto viaIndex = [](SLDatabase& db, const QString& expression, int wanted, bool withSnippet) {
        QStringList rows;
        SLResultSet set = db.executeQuery(
            (withSnippet ? QStringLiteral("SELECT key, title, folder, snippet(notes, '[', ']', '...', 1, 64)")
                         : QStringLiteral("SELECT key, title, folder")) +
                QStringLiteral(" FROM notes WHERE title MATCH ? LIMIT ?"),
            expression, wanted);
        while (set.next())
            rows.append(QStringList{set.stringForColumnIndex(0), set.stringForColumnIndex(1), set.stringForColumnIndex(2),
                                    withSnippet ? set.stringForColumnIndex(3) : QString()}
                            .join(QLatin1Char('|')));
        return rows;
    };
    const struct {
        const char* expression;
        int wanted;
    } cases[] = {
        {"t*", 200}, {"*t*", 1000}, {"pla*", 200}, {"Plan*", 1000}, {"e*", 200}, {"\u00e9*", 200}, {"o*", 5000},
        {"42*", 200}, {"caf*", 1000}, {"x*", 200}, {"*x*", 1000}, {"xylo*", 3}, {"zz*", 200},
    };
    Core::shared().syncDatabase([&](SLDatabase& db) {
        for (const auto& c : cases) {
            const QString expression = QString::fromUtf8(c.expression);
            for (const bool withSnippet : {true, false}) {
                const auto walked = TitleScan::rows(db, expression, c.wanted, withSnippet);
                ASSERT_TRUE(walked) << c.expression;
                QStringList rows;
                for (const TextRow& row : *walked)
                    rows.append(QStringList(row.columns.begin(), row.columns.end()).join(QLatin1Char('|')));
                const QStringList expected = viaIndex(db, expression, c.wanted, withSnippet);
                EXPECT_FALSE(expected.isEmpty() && QByteArray(c.expression) != "zz*") << c.expression;
                EXPECT_EQ(rows, expected) << c.expression << " " << withSnippet;
            }
        }
        // Anything but one plain word with its star is the index's.
        for (const char* other : {"pla", "plan tea*", "\"plan\"*", "tea-time*", "*", "t**", "OR x*"})
            EXPECT_FALSE(TitleScan::rows(db, QString::fromUtf8(other), 200, true)) << other;
    });
}

} // namespace
