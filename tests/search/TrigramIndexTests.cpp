#include "SearchTestSupport.h"

#include "Store/ContentPattern.h"
#include "Store/NoteSearchIndex.h"
#include "Store/NoteSearchRow.h"

#include <sqlite3.h>

#include <QFile>

#include <array>
#include <random>
#include <set>

namespace {

// Characters where the index and LIKE could part: ASCII in both cases, letters
// LIKE keeps apart by case and the index folds, a character outside the basic
// plane, the wildcards, the quote of the index's own syntax and the index's
// own end mark.
const QStringList Alphabet = {"a", "b", "A", "B", "c", "\u00e9", "\u00c9", "\u00df", "\u65e5",
                              QString::fromUtf8("\xF0\x9F\x98\x80"), "%", "_", " ", "\"", QString(QChar(1))};

// A database file with an empty notes table and no side file yet.
std::shared_ptr<SLDatabase> freshDatabase(const QString& path)
{
    SLDatabase::removeDatabaseFiles(path);
    SLDatabase::removeDatabaseFiles(NoteSearchIndex::sideDatabasePath(path));
    auto db = SLDatabase::databaseWithPath(path);
    EXPECT_TRUE(db->open());
    EXPECT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, "
                                                 "hashtag, mention, tokenize=unicode61)")));
    return db;
}

class SearchTrigramIndex : public SearchTest {
protected:
    std::mt19937 random{5623};

    QString randomText(int longest)
    {
        QString text;
        for (int n = int(random() % unsigned(longest + 1)); n > 0; --n)
            text += Alphabet.at(qsizetype(random() % Alphabet.size()));
        return text;
    }

    // A piece of a stored text with some letters' case flipped and a wildcard
    // or two, or random text; between "%"s as the search builds it.
    QString randomPattern(const QStringList& texts)
    {
        QString piece = randomText(6);
        if (!texts.isEmpty() && random() % 4) {
            const QString& text = texts.at(qsizetype(random() % texts.size()));
            const qsizetype from = text.isEmpty() ? 0 : qsizetype(random() % text.size());
            piece = text.mid(from, 1 + qsizetype(random() % 8));
            for (QChar& c : piece) {
                if (random() % 3 == 0)
                    c = c.isUpper() ? c.toLower() : c.toUpper();
            }
            if (piece.size() > 4 && random() % 3 == 0)
                piece[qsizetype(random() % piece.size())] = QLatin1Char(random() % 2 ? '_' : '%');
        }
        return QLatin1Char('%') + piece + QLatin1Char('%');
    }

    // A word of a stored title as a prefix, loose or not, or random text.
    QString randomTitleExpression(const QStringList& titles)
    {
        QString word = randomText(3);
        if (!titles.isEmpty() && random() % 4) {
            const QStringList words = titles.at(qsizetype(random() % titles.size())).split(QLatin1Char(' '));
            word = words.at(qsizetype(random() % words.size())).left(1 + qsizetype(random() % 3));
        }
        return (random() % 2 ? QStringLiteral("*") : QString()) + word + QLatin1Char('*');
    }

    // The key index against the plain statement over every key the test writes;
    // the number of keys it answered.
    static int compareKeys(SLDatabase& db)
    {
        int answered = 0;
        for (const QString& name : {QStringLiteral("N%1"), QStringLiteral("B%1")}) {
            for (int n = 0; n < 60; ++n) {
                const QString key = QStringLiteral("inbox/") + name.arg(n) + QStringLiteral(".txt");
                QList<qint64> expected;
                SLResultSet rows = db.executeQuery(
                    QStringLiteral("SELECT docid FROM notes_content WHERE c0key = ? ORDER BY docid"), key);
                while (rows.next())
                    expected.append(rows.longForColumnIndex(0));
                rows.close();
                // Named twice, as a batch writing one note twice names it.
                const auto indexed = NoteSearchIndex::rowsOfKeys(db, {key, key});
                if (!indexed)
                    continue;
                EXPECT_EQ(indexed->value(key), expected) << qPrintable(key);
                ++answered;
            }
        }
        return answered;
    }

    static QStringList joined(const std::vector<TextRow>& rows, int columns = 2)
    {
        QStringList out;
        for (const TextRow& row : rows)
            out.append(QStringList(row.columns.begin(), row.columns.begin() + columns).join(QLatin1Char('|')));
        return out;
    }

    // The index of titles against the word table's own title query.
    int compareTitles(SLDatabase& db, const QStringList& titles)
    {
        int compared = 0;
        for (int q = 0; q < 8; ++q) {
            const QString expression = randomTitleExpression(titles);
            const int limit = std::array{1, 3, 200}[random() % 3];
            const bool withSnippet = random() % 2;
            const int columns = withSnippet ? 4 : 3;
            const auto expected = readTextRows(
                db, QStringLiteral("SELECT key, title, folder%1 FROM notes WHERE title MATCH ? LIMIT %2")
                        .arg(withSnippet ? QStringLiteral(", snippet(notes, '[', ']', '...', 1, 64)") : QString())
                        .arg(limit),
                {expression}, limit, columns);
            const auto indexed = NoteSearchIndex::titleRows(db, expression, limit, withSnippet);
            EXPECT_EQ(bool(indexed), bool(expected)) << qPrintable(expression);
            if (!indexed || !expected)
                continue;
            EXPECT_EQ(joined(*indexed, columns), joined(*expected, columns)) << qPrintable(expression);
            compared += !expected->empty();
        }
        return compared;
    }
};

// Through the writes the application makes, and writes around it, the index
// gives the same rows in the same order as the plain LIKE statement, under
// LIKE and the content pattern's function, with and without a restriction;
// the index of titles those of the word table's title query.
TEST_F(SearchTrigramIndex, GivesThePlainStatementsRowsThroughEveryWrite)
{
    int compared = 0;
    int compactCompared = 0;
    int titlesCompared = 0;
    int keysCompared = 0;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ContentPattern::registerOn(db);
        // Hundreds of commits: not each to the disk.
        ASSERT_TRUE(db.executeStatements(QStringLiteral("PRAGMA synchronous=OFF")));
        for (int step = 0; step < 400; ++step) {
            const unsigned action = random() % 20;
            NoteSearchRow row;
            row.key = QStringLiteral("inbox/N%1.txt").arg(random() % 60);
            row.title = randomText(12);
            row.content = random() % 15 ? randomText(40) : QString();
            row.folder = random() % 3 ? QStringLiteral("inbox") : QStringLiteral("archive");
            if (action < 12) {
                ASSERT_TRUE(row.write(db));
            } else if (action < 15) {
                ASSERT_TRUE(NoteSearchRow::remove(db, row.key));
            } else if (action < 17) {
                QList<NoteSearchRow> batch;
                for (int i = 0; i < 5; ++i) {
                    batch.append(row);
                    batch.last().key = QStringLiteral("inbox/B%1.txt").arg(random() % 30);
                    batch.last().content = randomText(40);
                }
                NoteSearchRow::RowIds ids = NoteSearchRow::readRowIds(db);
                for (const bool stored : NoteSearchRow::writeAll(db, batch, ids))
                    ASSERT_TRUE(stored);
            } else if (action == 17) {
                ASSERT_TRUE(db.executeUpdate(QStringLiteral("INSERT INTO notes(key, content, folder) VALUES(?, ?, ?)"),
                                             row.key, row.content, row.folder));
                // A row the key index did not see: a write looking its key up
                // there would add a second one.
                EXPECT_FALSE(NoteSearchIndex::rowsOfKeys(db, {row.key}));
            } else if (action == 18) {
                ASSERT_TRUE(db.executeUpdate(QStringLiteral("UPDATE notes SET title = ?, content = ? WHERE rowid IN "
                                                            "(SELECT rowid FROM notes LIMIT 1)"),
                                             row.title, row.content));
            } else {
                ASSERT_TRUE(db.executeUpdate(QStringLiteral("DELETE FROM notes WHERE rowid IN "
                                                            "(SELECT rowid FROM notes ORDER BY rowid LIMIT 1 OFFSET ?)"),
                                             int(random() % 8)));
            }
            if (step % 10 != 9)
                continue;
            QStringList texts, titles;
            SLResultSet stored = db.executeQuery(QStringLiteral("SELECT c2content, c1title FROM notes_content"));
            while (stored.next()) {
                texts.append(stored.stringForColumnIndex(0));
                titles.append(stored.stringForColumnIndex(1));
            }
            stored.close();
            titlesCompared += compareTitles(db, titles);
            keysCompared += compareKeys(db);
            for (int q = 0; q < 16; ++q) {
                const QString pattern = randomPattern(texts);
                const int limit = std::array{1, 3, 200}[random() % 3];
                const bool restricted = random() % 2;
                const QString restriction = restricted ? QStringLiteral(" AND c3folder = ?") : QString();
                const QVariantList arguments =
                    restricted ? QVariantList{QStringLiteral("archive")} : QVariantList{};
                const QString plain = QStringLiteral("SELECT c0key, c3folder FROM notes_content WHERE c2content LIKE ?") +
                                      restriction + QStringLiteral(" LIMIT ") + QString::number(limit);
                const QStringList expected =
                    joined(*readTextRows(db, plain, QVariantList{pattern} + arguments, limit, 2));
                QStringList conditions = {QStringLiteral("notes_content.c2content LIKE ?")};
                if (ContentPattern::parse(pattern.toUtf8()))
                    conditions.append(ContentPattern::FunctionName + QStringLiteral("(notes_content.c2content, ?)"));
                for (const QString& condition : conditions) {
                    const auto indexed = NoteSearchIndex::rows(db, pattern, condition, restriction, arguments, limit);
                    // Runs of three are answered from the index, and so are one or
                    // two ASCII characters without a restriction.
                    if (!NoteSearchIndex::runsOf(pattern).isEmpty()) {
                        ASSERT_TRUE(indexed) << qPrintable(pattern);
                    }
                    if (!indexed)
                        continue;
                    EXPECT_EQ(joined(*indexed), expected) << qPrintable(pattern) << " " << qPrintable(condition);
                    ++compared;
                    compactCompared += NoteSearchIndex::runsOf(pattern).isEmpty();
                }
            }
        }
        ASSERT_TRUE(db.executeStatements(QStringLiteral("PRAGMA synchronous=FULL")));
    });
    EXPECT_GT(compared, 300);
    EXPECT_GT(compactCompared, 50);
    EXPECT_GT(titlesCompared, 100);
    EXPECT_GT(keysCompared, 40 * 90);
}

// The runs a pattern names: three characters at a time between wildcards,
// characters outside the basic plane whole, quotes doubled.
TEST_F(SearchTrigramIndex, NamesTheRunsBetweenWildcards)
{
    const struct {
        QString pattern;
        QString runs;
    } cases[] = {
        {"%ab%", ""},
        {"%a_b%c%", ""},
        {"%abc%", "\"abc\""},
        {"%abcd%", "\"abc\" AND \"bcd\""},
        {"%ab_cd%efg%", "\"efg\""},
        {"%abc def%", "\"abc\" AND \"def\""},
        {"%ab cd%", ""},
        {"%a\"b%", "\"a\"\"b\""},
        {QString::fromUtf8("%a\xF0\x9F\x98\x80" "b%"), QString::fromUtf8("\"a\xF0\x9F\x98\x80" "b\"")},
        {"%" + QString(18, QLatin1Char('x')) + "%", QStringList(16, "\"xxx\"").join(" AND ")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoteSearchIndex::runsOf(c.pattern), c.runs) << qPrintable(c.pattern);
}


// The words the run index takes: each once, in the order met, however many
// there are (the table grows) and however alike (words that differ only past
// their eighth byte, or in length, or hold a zero byte).
TEST_F(SearchTrigramIndex, TakesEachWordOnceInTheOrderMet)
{
    const auto plainSet = [](const QByteArray& text) {
        QByteArray words;
        std::set<QByteArray> seen;
        for (const QByteArray& word : text.split(' ')) {
            if (!word.isEmpty() && seen.insert(word).second)
                words += (words.isEmpty() ? "" : " ") + word;
        }
        return words;
    };
    const struct {
        QByteArray text;
        QByteArray words;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"a", "a"},
        {" a  b a ", "a b"},
        {"abcdefgh abcdefghi abcdefgh abcdefghij", "abcdefgh abcdefghi abcdefghij"},
        {QByteArray("x\0y x\0z x\0y", 11), QByteArray("x\0y x\0z", 7)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoteSearchIndex::distinctWords(c.text), c.words) << c.text.toStdString();

    // Far more different words than the table is first sized for.
    QByteArray pairs;
    for (char first = '0'; first < 'X'; ++first) {
        for (char second = '0'; second < 'X'; ++second)
            pairs += QByteArray(1, first) + second + ' ';
    }
    EXPECT_EQ(NoteSearchIndex::distinctWords(pairs + pairs.left(300)), plainSet(pairs));

    // Words of a few letters, short ones repeated, long ones mostly not.
    for (int round = 0; round < 300; ++round) {
        QByteArray text;
        for (int words = int(random() % 1500); words > 0; --words) {
            for (int n = 1 + int(random() % unsigned(1 + round % 12)); n > 0; --n)
                text += "ab\x01c"[random() % 4];
            text += random() % 3 ? " " : "  ";
        }
        ASSERT_EQ(NoteSearchIndex::distinctWords(text), plainSet(text)) << text.toStdString();
    }
}

// A database an earlier version left, without either index or with the
// trigram index alone, has both filled from its notes when it is opened.
TEST_F(SearchTrigramIndex, AnEarlierDatabaseHasItsIndexesFilledWhenOpened)
{
    enum Earlier { NoIndex, TrigramsOfTheWholeText, TitlesWithoutPrefixLists };
    for (const Earlier earlier : {NoIndex, TrigramsOfTheWholeText, TitlesWithoutPrefixLists}) {
        const bool withTrigrams = earlier == TrigramsOfTheWholeText;
        const auto db = SLDatabase::databaseWithPath();
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, "
                                                     "hashtag, mention, tokenize=unicode61)")));
        ASSERT_TRUE(db->executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES "
                                                     "('inbox/A.txt', 'Plan ahead', 'apple pie', 'inbox'), "
                                                     "('archive/B.txt', 'Pie chart', 'plans', 'archive')")));
        if (withTrigrams) {
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes_trigram USING fts5(text, content='', "
                                                         "tokenize='trigram', detail=none)")));
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("INSERT INTO notes_trigram(rowid, text) SELECT docid, "
                                                         "c2content || char(1, 1) FROM notes_content")));
        }
        if (earlier == TitlesWithoutPrefixLists) {
            // Filled and recorded as following the notes, with a title the
            // notes no longer hold.
            NoteSearchIndex::create(*db);
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("DROP TABLE notes_titles")));
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes_titles USING fts4(title, "
                                                         "tokenize=unicode61)")));
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("INSERT INTO notes_titles(docid, title) VALUES (2, 'Plot')")));
        }
        NoteSearchIndex::create(*db);
        // The earlier index of the whole text is gone.
        EXPECT_FALSE(db->tableExists(QStringLiteral("notes_trigram")));
        const auto titles = NoteSearchIndex::titleRows(*db, QStringLiteral("pl*"), 10, false);
        ASSERT_TRUE(titles);
        EXPECT_EQ(joined(*titles, 3), QStringList{"inbox/A.txt|Plan ahead|inbox"}) << earlier;
        EXPECT_TRUE(db->stringForQuery(QStringLiteral("SELECT sql FROM side.sqlite_master WHERE name = 'notes_titles'"))
                        .contains(QStringLiteral("prefix")))
            << earlier;
        const auto texts = NoteSearchIndex::rows(*db, QStringLiteral("%pie%"),
                                                 QStringLiteral("notes_content.c2content LIKE ?"), {}, {}, 10);
        ASSERT_TRUE(texts);
        EXPECT_EQ(joined(*texts), QStringList{"inbox/A.txt|inbox"}) << earlier;
    }
}


// A database kept by this program, then written by another that leaves the
// indexes alone (rows added past them, a row changed in place, a row taken
// out, or all three by an earlier version that kept no record), is trusted no
// further when it is opened again: every note is found, as in the notes.
TEST_F(SearchTrigramIndex, IndexesLeftBehindByAnotherWriterAreFilledWhenOpened)
{
    const QStringList written = {
        QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES ('inbox/C.txt', 'Plum tart', "
                       "'pie crust', 'inbox'), ('inbox/D.txt', 'Pleats', 'a pied piper', 'inbox')"),
        QStringLiteral("UPDATE notes SET title = 'Plain pie', content = 'pie again' WHERE key = 'inbox/B.txt'"),
        QStringLiteral("DELETE FROM notes WHERE key = 'inbox/A.txt'"),
    };
    const QString path = TestSupport::home() + QStringLiteral("/behind.sqlite");
    const auto open = [&] {
        auto db = SLDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        return db;
    };
    for (int c = 0; c <= written.size(); ++c) {
        const QStringList writes = c < written.size() ? QStringList{written[c]} : written;
        SCOPED_TRACE(writes.join(QLatin1Char(';')).toStdString());
        {
            const auto db = freshDatabase(path);
            NoteSearchIndex::create(*db);
            for (const auto& [key, title, content] : {std::array<QString, 3>{"inbox/A.txt", "Plan ahead", "apple pie"},
                                                      std::array<QString, 3>{"inbox/B.txt", "Chart", "plans"}}) {
                NoteSearchRow row;
                row.key = key;
                row.title = title;
                row.content = content;
                row.folder = QStringLiteral("inbox");
                ASSERT_TRUE(row.write(*db));
            }
        }
        {
            const auto other = open();
            if (c == written.size()) {
                ASSERT_TRUE(NoteSearchIndex::attach(*other));
                ASSERT_TRUE(other->executeUpdate(QStringLiteral("DROP TABLE notes_side")));
            }
            for (const QString& sql : writes)
                ASSERT_TRUE(other->executeUpdate(sql));
        }
        const auto db = open();
        NoteSearchIndex::create(*db);
        const auto titles = NoteSearchIndex::titleRows(*db, QStringLiteral("pl*"), 10, false);
        const auto texts = NoteSearchIndex::rows(*db, QStringLiteral("%pie%"),
                                                 QStringLiteral("notes_content.c2content LIKE ?"), {}, {}, 10);
        ASSERT_TRUE(titles && texts);
        EXPECT_EQ(joined(*titles, 2),
                  joined(*readTextRows(*db, QStringLiteral("SELECT key, title FROM notes WHERE title MATCH 'pl*' "
                                                           "ORDER BY docid"), {}, 10, 2)));
        EXPECT_EQ(joined(*texts),
                  joined(*readTextRows(*db, QStringLiteral("SELECT key, folder FROM notes WHERE content LIKE "
                                                           "'%pie%' ORDER BY docid"), {}, 10, 2)));
    }
}

// A batch of rows reaches the word table's index in one flush, not one per
// row, also in a database an earlier version left with row-counting triggers.
TEST_F(SearchTrigramIndex, ABatchOfRowsIsFlushedOnce)
{
    for (const bool withTriggers : {false, true}) {
        const auto db = SLDatabase::databaseWithPath();
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, "
                                                     "hashtag, mention, tokenize=unicode61)")));
        if (withTriggers) {
            ASSERT_TRUE(db->executeStatements(QStringLiteral(
                "CREATE TABLE notes_side(name TEXT PRIMARY KEY, written INTEGER NOT NULL); "
                "CREATE TRIGGER notes_side_insert AFTER INSERT ON notes_content BEGIN UPDATE notes_side SET "
                "written = written + 1 WHERE name = 'notes'; END")));
        }
        NoteSearchIndex::create(*db);
        QList<NoteSearchRow> rows;
        for (int i = 0; i < 40; ++i)
            rows.append(NoteSearchRow(NoteStorageInbox, QStringLiteral("N%1.txt").arg(i), QStringLiteral("Plan %1").arg(i),
                                      QStringLiteral("apple pie %1").arg(i), {}, {}));
        NoteSearchRow::RowIds ids;
        EXPECT_EQ(NoteSearchRow::writeAll(*db, rows, ids), QList<bool>(rows.size(), true));
        EXPECT_EQ(db->longForQuery(QStringLiteral("SELECT count(*) FROM notes_segdir")), 1) << withTriggers;
        const auto texts = NoteSearchIndex::rows(*db, QStringLiteral("%pie 39%"),
                                                 QStringLiteral("notes_content.c2content LIKE ?"), {}, {}, 10);
        ASSERT_TRUE(texts);
        EXPECT_EQ(joined(*texts), QStringList{"inbox/N39.txt|inbox"}) << withTriggers;
    }
}

// The side file is a cache: one that is no database (a crash, another
// program) is made afresh when the database opens, and the indexes answer.
TEST_F(SearchTrigramIndex, AnUnreadableSideFileIsMadeAfresh)
{
    const QString path = TestSupport::home() + QStringLiteral("/unreadable.sqlite");
    const QString side = NoteSearchIndex::sideDatabasePath(path);
    EXPECT_EQ(side, TestSupport::home() + QStringLiteral("/unreadable-side.sqlite"));
    {
        const auto db = freshDatabase(path);
        ASSERT_TRUE(db->executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES "
                                                     "('inbox/A.txt', 'Plan ahead', 'apple pie', 'inbox')")));
    }
    TestSupport::writeFile(side, QByteArray(4096, 'x'));
    const auto db = SLDatabase::databaseWithPath(path);
    ASSERT_TRUE(db->open());
    NoteSearchIndex::create(*db);
    const auto titles = NoteSearchIndex::titleRows(*db, QStringLiteral("pl*"), 10, false);
    const auto texts = NoteSearchIndex::rows(*db, QStringLiteral("%pie%"),
                                             QStringLiteral("notes_content.c2content LIKE ?"), {}, {}, 10);
    ASSERT_TRUE(titles && texts);
    EXPECT_EQ(joined(*titles, 3), QStringList{"inbox/A.txt|Plan ahead|inbox"});
    EXPECT_EQ(joined(*texts), QStringList{"inbox/A.txt|inbox"});
}

// Rows added beside a rebuild go in with the words given for their content,
// and only while the indexes are still behind: once another connection has
// filled them afresh, adding would list the rows twice.
TEST_F(SearchTrigramIndex, RowsAddedGoInWithTheirWordsOnlyWhileTheIndexesAreBehind)
{
    const QString path = TestSupport::home() + QStringLiteral("/added.sqlite");
    const auto open = [&] {
        auto db = SLDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        EXPECT_TRUE(NoteSearchIndex::attach(*db));
        return db;
    };
    for (const bool filledMeanwhile : {false, true}) {
        SCOPED_TRACE(filledMeanwhile);
        const auto db = freshDatabase(path);
        NoteSearchIndex::create(*db);
        ASSERT_TRUE(NoteSearchIndex::emptyBehind(*db));
        const NoteSearchRow row(NoteStorageInbox, QStringLiteral("A.txt"), QStringLiteral("Plum"),
                                QStringLiteral("apple pie"), {}, {});
        NoteSearchRow::RowIds ids;
        ASSERT_EQ(NoteSearchRow::writeAll(*db, {row}, ids), QList<bool>{true});
        const qint64 docid = ids.value(row.key).value(0);
        if (filledMeanwhile)
            NoteSearchIndex::create(*open());
        const NoteSearchIndex::SideRow added{docid, row.key, row.title, row.hashtag, row.mention, "zebra"};
        EXPECT_EQ(NoteSearchIndex::addRows(*open(), {added}), !filledMeanwhile);
        const auto count = [&](const QString& sql) { return db->intForQuery(sql); };
        EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM notes_word_runs WHERE notes_word_runs MATCH 'zeb'")),
                  !filledMeanwhile);
        EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM notes_word_runs WHERE notes_word_runs MATCH 'app'")),
                  filledMeanwhile);
        EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM notes_titles WHERE notes_titles MATCH 'plum'")), 1);
        EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM notes_keys")), 1);
    }
}

} // namespace

// A write or removal the database refuses leaves the key index answering
// with the note's row, or not at all: a look-up answering "no row" would
// have the next write add a second one.
TEST_F(SearchTrigramIndex, ARefusedWriteLeavesNoRowUnknownToTheKeyIndex)
{
    struct Case {
        const char* name;
        int refused;
        bool outerTransaction;
    };
    const Case cases[] = {
        {"removal", SQLITE_DELETE, false},
        {"removal inside a transaction", SQLITE_DELETE, true},
        {"rewrite", SQLITE_UPDATE, false},
        {"rewrite inside a transaction", SQLITE_UPDATE, true},
    };
    for (const Case& c : cases) {
        const auto db = SLDatabase::databaseWithPath();
        ASSERT_TRUE(db->open() && db->executeUpdate(QStringLiteral(
                                      "CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, hashtag, "
                                      "mention, tokenize=unicode61)")));
        NoteSearchIndex::create(*db);
        NoteSearchRow row;
        row.key = QStringLiteral("inbox/Plan.txt");
        row.content = QStringLiteral("apple pie");
        ASSERT_TRUE(row.write(*db));
        int refused = c.refused;
        sqlite3_set_authorizer(
            db->sqliteHandle(),
            [](void* action, int code, const char* table, const char*, const char*, const char*) {
                return code == *static_cast<int*>(action) && table && qstrcmp(table, "notes") == 0 ? SQLITE_DENY
                                                                                                  : SQLITE_OK;
            },
            &refused);
        if (c.outerTransaction) {
            ASSERT_TRUE(db->beginTransaction());
        }
        row.content = QStringLiteral("cherry pie");
        EXPECT_FALSE(c.refused == SQLITE_DELETE ? NoteSearchRow::remove(*db, row.key) : row.write(*db)) << c.name;
        if (c.outerTransaction) {
            ASSERT_TRUE(db->commit());
        }
        sqlite3_set_authorizer(db->sqliteHandle(), nullptr, nullptr);
        const auto indexed = NoteSearchIndex::rowsOfKeys(*db, {row.key});
        if (indexed) {
            EXPECT_EQ(indexed->value(row.key), QList<qint64>{1}) << c.name;
        }
    }
}

// A connection that found the key index in step and stays open is not fooled
// by another's writes: the key index stops answering until it is filled
// afresh, as when the database is opened again.
TEST_F(SearchTrigramIndex, TheKeyIndexStopsAnsweringOnceAnotherConnectionWrites)
{
    const QString path = TestSupport::home() + QStringLiteral("/shared.sqlite");
    const auto open = [&] {
        auto db = SLDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        return db;
    };
    const auto ours = open();
    ASSERT_TRUE(ours->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, "
                                                   "hashtag, mention, tokenize=unicode61)")));
    NoteSearchIndex::create(*ours);
    const QString key = QStringLiteral("inbox/Plan.txt");
    const auto asked = [&] { return NoteSearchIndex::rowsOfKeys(*ours, {key}); };
    ASSERT_TRUE(asked());
    EXPECT_EQ(asked()->value(key), QList<qint64>());
    ASSERT_TRUE(open()->executeUpdate(QStringLiteral("INSERT INTO notes(key, content) VALUES (?, 'apple pie')"), key));
    EXPECT_FALSE(asked());
    NoteSearchIndex::create(*ours);
    ASSERT_TRUE(asked());
    EXPECT_EQ(asked()->value(key), QList<qint64>{1});
}
