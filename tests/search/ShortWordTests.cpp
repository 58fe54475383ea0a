#include "Store/NoteSearchShortWord.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

#include <gtest/gtest.h>

namespace {

const QString ContentStatement =
    QStringLiteral("SELECT key, title, folder, snippet(notes, '[', ']', '...', -1) FROM notes WHERE content MATCH ?");

// The table "notes" afresh, with the tokenizer's arguments, holding every text once a round.
void fill(SLDatabase& db, const QString& tokenizer, int rounds)
{
    EXPECT_TRUE(db.executeUpdate(QStringLiteral("DROP TABLE IF EXISTS notes")));
    EXPECT_TRUE(db.executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, "
                                                "hashtag, mention, tokenize=") +
                                 tokenizer + QLatin1Char(')')));
    const QStringList texts = {
        QStringLiteral("buy milk and bread"), QStringLiteral("Buy MILK today"), QStringLiteral("buy gum, rum"),
        QStringLiteral("buy (mangoes) for the plan"), QStringLiteral("plan to buy"),
        QStringLiteral("buy \u00c9mile a gift"), QStringLiteral("buy the m\u0301ilk"),
        QStringLiteral("buy \u212Aelvin rods"), QStringLiteral("buy \u2019mints\u2019 now"),
        QStringLiteral("buy x\u00e9mo"), QStringLiteral("buy 2kg of 24 things"), QStringLiteral("nothing here"),
        QStringLiteral("buy stuff\nmore lines"), QStringLiteral("call mom, buy mi"),
    };
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype i = 0; i < texts.size(); ++i)
            EXPECT_TRUE(db.executeUpdate(
                QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag) VALUES(?, ?, ?, ?, ?)"),
                QStringLiteral("inbox/%1-%2.txt").arg(round).arg(i), QStringLiteral("Note %1").arg(i), texts[i],
                QStringLiteral("inbox"), i % 2 ? QStringLiteral("work") : QStringLiteral("home")));
    }
}

std::shared_ptr<SLDatabase> corpus()
{
    const auto db = SLDatabase::databaseWithPath();
    EXPECT_TRUE(db->open());
    fill(*db, QStringLiteral("unicode61"), 3);
    return db;
}

QStringList joined(const std::vector<TextRow>& rows)
{
    QStringList lines;
    for (const TextRow& row : rows)
        lines.append(QStringList(row.columns.begin(), row.columns.end()).join(QLatin1Char('|')));
    return lines;
}

} // namespace

// Every row the plain statement gives, in its order and with its snippet,
// comes out of the notes holding the whole words, in batches of any size,
// with or without a restriction; within a tag also out of the tag's notes
// read whole.
TEST(SearchShortWord, RowsAndSnippetsAreThePlainStatementsOwn)
{
    const auto db = corpus();
    const QString tag = QStringLiteral(" AND (' ' || hashtag || ' ') LIKE ?");
    const struct {
        const char* name;
        QString restriction;
        QString tagExpression;
    } restrictions[] = {{"none", {}, {}}, {"tag", tag, {}}, {"tag read whole", tag, QStringLiteral("hashtag:work")}};
    for (const char* text : {"buy m", "Buy M", "buy mi", "buy k", "buy e", "buy 2", "buy mo", "plan to", "call m",
                             "\u00e9mile a", "BUY the m", "rum m"}) {
        const QString query = QString::fromUtf8(text);
        const auto split = NoteSearchShortWord::split(query);
        ASSERT_TRUE(split) << qPrintable(query);
        for (const int wanted : {1, 4, 200}) {
            for (const auto& r : restrictions) {
                const QVariantList arguments =
                    r.restriction.isEmpty() ? QVariantList() : QVariantList{QStringLiteral("% work %")};
                const auto narrowed = [&](const QString& words) {
                    return r.tagExpression.isEmpty() ? words
                                                     : r.tagExpression + QStringLiteral(" AND (") + words + QLatin1Char(')');
                };
                const QString expression = narrowed(query + QLatin1Char('*'));
                const auto plain = readTextRows(*db, ContentStatement + r.restriction,
                                                QVariantList{expression} + arguments, 1000, 4);
                ASSERT_TRUE(plain);
                std::vector<TextRow> rows;
                const NoteSearchShortWord::Pass pass{ContentStatement, r.restriction, arguments, expression,
                                                     narrowed(split->words), split->start, wanted, {},
                                                     r.tagExpression, split->words};
                ASSERT_TRUE(NoteSearchShortWord::rows(*db, pass, [&](const TextRow& row) {
                    rows.push_back(row);
                    return true;
                })) << qPrintable(query);
                EXPECT_EQ(joined(rows), joined(*plain)) << qPrintable(query) << wanted << r.name;
            }
        }
    }
}

// Notes the caller lists already are passed over, and a caller taking no
// more than it wanted gets the plain statement's next rows, in its order.
TEST(SearchShortWord, ListedNotesArePassedOverAndTheRestComeInOrder)
{
    const auto db = corpus();
    const struct {
        const char* name;
        std::function<bool(const QString& key)> listed;
    } listings[] = {
        {"none", nullptr},
        {"some", [](const QString& key) { return key.endsWith(QLatin1String("1.txt")); }},
        {"first round", [](const QString& key) { return key.startsWith(QLatin1String("inbox/0-")); }},
        {"all", [](const QString&) { return true; }},
    };
    for (const char* text : {"buy m", "buy mi", "plan to", "buy e", "call m"}) {
        const QString query = QString::fromUtf8(text);
        const auto split = NoteSearchShortWord::split(query);
        ASSERT_TRUE(split) << text;
        const auto plain = readTextRows(*db, ContentStatement, {query + QLatin1Char('*')}, 1000, 4);
        ASSERT_TRUE(plain);
        for (const auto& listing : listings) {
            std::vector<TextRow> unlisted;
            std::copy_if(plain->begin(), plain->end(), std::back_inserter(unlisted), [&](const TextRow& row) {
                return !listing.listed || !listing.listed(row.columns[0]);
            });
            for (const int wanted : {1, 3, 200}) {
                const NoteSearchShortWord::Pass pass{ContentStatement, {},           {},
                                                     query + QLatin1Char('*'), split->words, split->start,
                                                     wanted,           listing.listed};
                std::vector<TextRow> rows;
                ASSERT_TRUE(NoteSearchShortWord::rows(*db, pass, [&](const TextRow& row) {
                    rows.push_back(row);
                    return int(rows.size()) < wanted;
                })) << text;
                const auto expected = std::vector<TextRow>(
                    unlisted.begin(), unlisted.begin() + std::min<qsizetype>(wanted, qsizetype(unlisted.size())));
                EXPECT_EQ(joined(rows), joined(expected)) << text << " " << listing.name << " " << wanted;
            }
        }
    }
}

// Batches of many rows, matched on two threads, on one connection whose
// table is made again with another tokenizer ("Émile" starts with "e" only
// where accents are removed): the rows are still those of the table as it is.
TEST(SearchShortWord, ManyRowsFollowTheTableAsItIsNow)
{
    const auto db = SLDatabase::databaseWithPath();
    ASSERT_TRUE(db->open());
    for (const char* tokenizer : {"unicode61", "unicode61 \"remove_diacritics=0\"", "unicode61", "simple"}) {
        fill(*db, QString::fromUtf8(tokenizer), 40);
        for (const char* text : {"buy e", "buy m", "plan t"}) {
            const QString expression = QString::fromUtf8(text) + QLatin1Char('*');
            const auto split = NoteSearchShortWord::split(QString::fromUtf8(text));
            ASSERT_TRUE(split) << text;
            const auto plain = readTextRows(*db, ContentStatement, {expression}, 1000, 4);
            ASSERT_TRUE(plain);
            for (const int wanted : {7, 400}) {
                const NoteSearchShortWord::Pass pass{ContentStatement, {}, {}, expression, split->words, split->start,
                                                     wanted};
                std::vector<TextRow> rows;
                ASSERT_TRUE(NoteSearchShortWord::rows(*db, pass, [&](const TextRow& row) {
                    rows.push_back(row);
                    return true;
                })) << text;
                EXPECT_EQ(joined(rows), joined(*plain)) << tokenizer << " " << text << " " << wanted;
            }
        }
    }
}

// Text outside ASCII passes the text test whether it holds the start or not:
// when few of a first batch of many copies match, the plain statement is left
// to answer; when they match, or when no other note holds the words, the
// copies give its rows.
TEST(SearchShortWord, FewMatchesAmongTheFirstCopiesLeaveThePlainStatementToAnswer)
{
    const struct {
        int notes;
        // One note in so many holds a word starting with "m"; the others "молоко".
        int every;
        bool answered;
    } cases[] = {{100, 1, true}, {100, 4, true}, {100, 9, false}, {100, 20, false}, {30, 20, true}};
    constexpr int Wanted = 40;
    for (const auto& c : cases) {
        const auto db = SLDatabase::databaseWithPath();
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, "
                                                     "folder, hashtag, mention, tokenize=unicode61)")));
        for (int n = 0; n < c.notes; ++n) {
            ASSERT_TRUE(db->executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content) VALUES(?, ?, ?)"),
                                          QStringLiteral("inbox/%1.txt").arg(n), QStringLiteral("Note"),
                                          (n + 1) % c.every ? QStringLiteral("buy \u043c\u043e\u043b\u043e\u043a\u043e")
                                                            : QStringLiteral("buy milk")));
        }
        const QString expression = QStringLiteral("buy m*");
        const auto plain = readTextRows(*db, ContentStatement, {expression}, Wanted, 4);
        ASSERT_TRUE(plain);
        const NoteSearchShortWord::Pass pass{ContentStatement, {}, {}, expression, QStringLiteral("buy"), "m", Wanted};
        std::vector<TextRow> rows;
        const bool answered = NoteSearchShortWord::rows(*db, pass, [&](const TextRow& row) {
            rows.push_back(row);
            return int(rows.size()) < Wanted;
        });
        EXPECT_EQ(answered, c.answered) << c.notes << " " << c.every;
        EXPECT_EQ(joined(rows), c.answered ? joined(*plain) : QStringList()) << c.notes << " " << c.every;
    }
}

TEST(SearchShortWord, OnlyPlainWordsEndingInOneOrTwoLettersSplit)
{
    const struct {
        QString query;
        QString words;
        QByteArray start;
    } cases[] = {
        {"buy m", "buy", "m"},          {"  buy  fresh   MI ", "buy fresh", "mi"}, {"caf\u00e9 2", "caf\u00e9", "2"},
        {"buy", {}, {}},                {"buy mil", {}, {}},                    {"buy \u00e9", {}, {}},
        {"buy OR m", {}, {}},           {"buy or", {}, {}},                     {"content:buy m", {}, {}},
        {"-buy m", {}, {}},             {"\u4e70 m", {}, {}},
    };
    for (const auto& c : cases) {
        const auto split = NoteSearchShortWord::split(c.query);
        EXPECT_EQ(split.has_value(), !c.start.isEmpty()) << qPrintable(c.query);
        if (split && !c.start.isEmpty()) {
            EXPECT_EQ(split->words, c.words);
            EXPECT_EQ(split->start, c.start);
        }
    }
}

// The text test may keep a note without the word, never drop one the word
// table's tokenizer finds it in: every character outside ASCII is tried
// before, inside and after the start.
TEST(SearchShortWord, TextTestKeepsEveryNoteTheTokenizerFindsTheStartIn)
{
    const auto db = SLDatabase::databaseWithPath();
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE temp.words USING fts3tokenize(unicode61)")));
    for (const QByteArray& start : {QByteArray("m"), QByteArray("mi"), QByteArray("mil")}) {
        QList<QByteArray> pieces;
        for (char32_t c = 0x80; c < 0x30000; ++c) {
            if (c >= 0xD800 && c < 0xE000)
                continue;
            const QByteArray character = QString::fromUcs4(&c, 1).toUtf8();
            pieces += {character + "ilk", "m" + character + "ilk", "x" + character + "mi"};
        }
        QByteArray text = pieces.join('\n');
        QList<qsizetype> ends;
        qsizetype end = -1;
        for (const QByteArray& piece : pieces)
            ends.append(end += piece.size() + 1);
        SLResultSet tokens = db->executeQuery(QStringLiteral("SELECT token, start FROM temp.words WHERE input = ?"),
                                              QString::fromUtf8(text));
        int found = 0;
        while (tokens.next()) {
            if (!tokens.dataForColumnIndex(0).startsWith(start))
                continue;
            const qsizetype piece = std::lower_bound(ends.begin(), ends.end(), tokens.longForColumnIndex(1)) - ends.begin();
            ++found;
            EXPECT_TRUE(NoteSearchShortWord::mayHoldWordStarting(pieces[piece], start))
                << pieces[piece].toHex().constData() << " " << start.constData();
        }
        EXPECT_GT(found, 0);
    }
    const struct {
        QByteArray text;
        QByteArray start;
        bool may;
    } cases[] = {
        {"gum and rum", "m", false}, {"(milk)", "m", true},  {"MILK", "mi", true},   {"mxlk", "mi", false},
        {"4m", "m", false},          {"x-mi", "mi", true},   {"m", "mi", false},     {"a_m", "m", true},
        {"\xe2\x80\x99s", "m", false}, {"\xc3\x89mile", "e", true}, {"24 things", "2", true}, {"", "m", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoteSearchShortWord::mayHoldWordStarting(c.text, c.start), c.may) << c.text.constData();
}
