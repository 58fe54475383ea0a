#include "SearchTestSupport.h"

#include "Store/NoteSearchSession.h"

#include <sqlite3.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <random>

namespace {

using Search = SearchTest;

// What the session delivered, in order, as "query:kind:key ..." lines.
struct Deliveries {
    std::mutex mutex;
    QStringList lines;

    Note::SearchBlock recorder(const QString& query)
    {
        return [this, query](const Note::ListItemList& notes, const Note::ListItemList& archived) {
            std::lock_guard lock(mutex);
            lines.append(query + QLatin1Char(':') + SearchTest::rows(notes + archived).join(QLatin1Char(' ')));
        };
    }
};

// Waits until every block queued on the database queue so far has run.
void drainDatabaseQueue()
{
    Core::shared().syncDatabase([](SLDatabase&) {});
}

TEST_F(Search, SessionDeliversOnlyTheNewestQuery)
{
    addRow(QStringLiteral("Todo.txt"), QStringLiteral("Todo"), QStringLiteral("Todo eggs"));
    addRow(QStringLiteral("Tomato.txt"), QStringLiteral("Tomato"), QStringLiteral("Tomato soup"));
    NoteSearchSession session;
    Deliveries deliveries;

    // Both keystrokes arrive while the queue is busy: the older never runs.
    std::promise<void> release;
    Core::shared().asyncDatabase([gate = release.get_future().share()](SLDatabase&) { gate.wait(); });
    session.search(QStringLiteral("to"), 0, QString(), deliveries.recorder(QStringLiteral("to")));
    session.search(QStringLiteral("tod"), 0, QString(), deliveries.recorder(QStringLiteral("tod")));
    release.set_value();
    drainDatabaseQueue();
    EXPECT_EQ(deliveries.lines, QStringList{"tod:1:Todo.txt"});

    // A keystroke during a pass: the running search stops at once, runs no
    // further pass and never delivers.
    deliveries.lines.clear();
    int laterStatementsOfOld = 0;
    bool started = false;
    std::function<void(const QString&)> onStatement = [&](const QString& sql) {
        if (!sql.contains(QLatin1String("tomato")))
            return;
        if (started) {
            ++laterStatementsOfOld;
            return;
        }
        started = true;
        session.search(QStringLiteral("soup"), 0, QString(), deliveries.recorder(QStringLiteral("soup")));
    };
    const auto trace = [](unsigned, void* context, void* statement, void*) {
        char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
        (*static_cast<std::function<void(const QString&)>*>(context))(QString::fromUtf8(sql));
        sqlite3_free(sql);
        return 0;
    };
    Core::shared().syncDatabase([&](SLDatabase& db) {
        sqlite3_trace_v2(db.sqliteHandle(), SQLITE_TRACE_STMT, trace, &onStatement);
    });
    session.search(QStringLiteral("tomato"), 0, QString(), deliveries.recorder(QStringLiteral("tomato")));
    drainDatabaseQueue();
    Core::shared().syncDatabase([](SLDatabase& db) { sqlite3_trace_v2(db.sqliteHandle(), 0, nullptr, nullptr); });
    EXPECT_TRUE(started);
    EXPECT_EQ(laterStatementsOfOld, 0);
    EXPECT_EQ(deliveries.lines, QStringList{"soup:2:Tomato.txt"});
}

// Text over a tiny alphabet, so that short queries often match only inside
// words, where the index cannot see them and the content scan runs.
QString randomText(std::mt19937& random, int words)
{
    QString text;
    for (int w = 0; w < words; ++w) {
        if (w)
            text += QLatin1Char(' ');
        for (int i = 1 + int(random() % 6); i > 0; --i)
            text += QChar(u"abcdeABx"[random() % 8]);
    }
    return text;
}

// What the content scan must find: the note holds the query's blank-separated
// pieces in order, ASCII letters in either case.
bool holdsInOrder(const QString& content, const QString& query)
{
    qsizetype at = 0;
    for (const QString& piece : query.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        at = content.indexOf(piece, at, Qt::CaseInsensitive);
        if (at < 0)
            return false;
        at += piece.size();
    }
    return true;
}

TEST_F(Search, SkippedContentScanAgreesWithFullSearchAndBruteForce)
{
    std::mt19937 random(20261206);
    QHash<QString, QString> contents;
    for (int i = 0; i < 40; ++i) {
        const QString key = QStringLiteral("N%1.txt").arg(i);
        contents[key] = randomText(random, 3);
        addRow(key, QStringLiteral("T%1").arg(i), contents[key]);
    }
    NoteSearchSession session;
    int emptyScans = 0;
    for (int round = 0; round < 60; ++round) {
        const QString typed = randomText(random, 1 + int(random() % 2));
        for (qsizetype length = 1; length <= typed.size(); ++length) {
            const QString query = typed.left(length);
            Note::ListItemList viaSession;
            session.search(query, 0, QString(), [&](const Note::ListItemList& notes, const Note::ListItemList&) {
                viaSession = notes;
            });
            drainDatabaseQueue();
            Note::SearchPasses passes;
            const Results full = [&] {
                Results results;
                Core::shared().syncDatabase([&](SLDatabase& db) {
                    Note::searchDatabase(db, query, 0, QString(),
                                         [&](const Note::ListItemList& notes, const Note::ListItemList&) {
                                             results.notes = notes;
                                         },
                                         &passes);
                });
                return results;
            }();
            ASSERT_EQ(rows(viaSession), rows(full.notes)) << qPrintable(query);
            const bool scanned = passes.looseContentFoundNothing ||
                                 (!full.notes.isEmpty() && std::all_of(full.notes.cbegin(), full.notes.cend(),
                                     [](const ListItemPtr& row) { return row->tag() == 3 && row->score() == 0; }));
            if (!scanned)
                continue;
            // The indexed passes found nothing: the scan's rows are exactly
            // the notes holding the query.
            QStringList expected;
            for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
                if (holdsInOrder(it.value(), query))
                    expected.append(QStringLiteral("3:") + it.key());
            }
            QStringList found = rows(full.notes);
            expected.sort();
            found.sort();
            ASSERT_EQ(found, expected) << qPrintable(query);
            emptyScans += passes.looseContentFoundNothing ? 1 : 0;
        }
    }
    // The draw must have exercised the skip.
    EXPECT_GT(emptyScans, 10);

    // A write to the table forgets what the scan found: the longer query
    // scans again and finds the new note.
    session.search(QStringLiteral("zzq"), 0, QString(), [](const Note::ListItemList&, const Note::ListItemList&) {});
    addRow(QStringLiteral("New.txt"), QStringLiteral("New"), QStringLiteral("yzzqy"));
    Note::ListItemList after;
    session.search(QStringLiteral("zzqy"), 0, QString(),
                   [&](const Note::ListItemList& notes, const Note::ListItemList&) { after = notes; });
    drainDatabaseQueue();
    EXPECT_EQ(rows(after), QStringList{"3:New.txt"});
}

} // namespace
