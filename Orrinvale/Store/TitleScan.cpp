#include "TitleScan.h"

#include "SLDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Titles walked before the rest is left to the index, and those walked before
// a prefix that would not fill the list within the walk is left to it early.
constexpr int WalkedRows = 3000;
constexpr int SampledRows = 300;
// The index's merge grows with the table, the walk's cost with the prefix's
// rarity: below this many rows the index is as quick.
constexpr qint64 SmallestWalkedTable = 20000;
// A longer prefix has few words to merge in the index and rarely fills a list early in the walk.
constexpr qsizetype LongestWalkedPrefix = 2;

// The full-text module's tokenizer interface, as its documentation gives it.
struct TokenizerModule;
struct Tokenizer {
    const TokenizerModule* module;
};
struct TokenizerCursor {
    Tokenizer* tokenizer;
};
struct TokenizerModule {
    int version;
    int (*create)(int argc, const char* const* argv, Tokenizer** tokenizer);
    int (*destroy)(Tokenizer* tokenizer);
    int (*open)(Tokenizer* tokenizer, const char* input, int bytes, TokenizerCursor** cursor);
    int (*close)(TokenizerCursor* cursor);
    int (*next)(TokenizerCursor* cursor, const char** token, int* bytes, int* start, int* end, int* position);
};

struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

QString columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

// What the walk keeps with the connection: the table's tokenizer, and a small
// table of the same shape in memory of its own, so that its writes count as
// no change of the connection's tables.
class Walker {
public:
    static Walker* of(SLDatabase& db)
    {
        static const char key = 0;
        auto walker = std::static_pointer_cast<Walker>(db.attachment(&key));
        if (!walker) {
            walker = std::make_shared<Walker>(db.sqliteHandle());
            db.setAttachment(&key, walker);
        }
        return walker->probe_ ? walker.get() : nullptr;
    }

    explicit Walker(sqlite3* db)
    {
        // Only a table made with the plain tokenizer is split into words as the walk splits them.
        const Statement schema =
            db ? prepare(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'notes'") : nullptr;
        if (!schema || sqlite3_step(schema.get()) != SQLITE_ROW
            || !QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(schema.get(), 0)))
                    .endsWith("tokenize=unicode61)"))
            return;
        // The one-argument form only reads the tokenizer the table uses.
        const Statement lookup = prepare(db, "SELECT fts3_tokenizer('unicode61')");
        if (!lookup || sqlite3_step(lookup.get()) != SQLITE_ROW
            || sqlite3_column_bytes(lookup.get(), 0) != int(sizeof(module_)))
            return;
        std::memcpy(&module_, sqlite3_column_blob(lookup.get(), 0), sizeof(module_));
        if (!module_ || module_->create(0, nullptr, &tokenizer_) != SQLITE_OK)
            return;
        tokenizer_->module = module_;
        auto probe = SLDatabase::databaseWithPath();
        if (probe->open()
            && probe->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE probe USING fts4(key, title, content, folder, "
                                                   "hashtag, mention, tokenize=unicode61)")))
            probe_ = std::move(probe);
    }

    ~Walker()
    {
        if (tokenizer_)
            module_->destroy(tokenizer_);
    }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    SLDatabase& probe() const { return *probe_; }

    // Calls each(token bytes, length, start, end) for the text's tokens until it answers true.
    template <typename Each>
    bool anyToken(const char* text, int bytes, Each&& each) const
    {
        TokenizerCursor* cursor = nullptr;
        if (module_->open(tokenizer_, text, bytes, &cursor) != SQLITE_OK)
            return false;
        cursor->tokenizer = tokenizer_;
        const char* token = nullptr;
        int length = 0, start = 0, end = 0, position = 0;
        bool found = false;
        while (!found && module_->next(cursor, &token, &length, &start, &end, &position) == SQLITE_OK)
            found = each(token, length, start, end);
        module_->close(cursor);
        return found;
    }

    // The word of "word*" or "*word*" as the table folds it; empty unless the
    // word is one or two letters and digits that make one whole token.
    std::string foldedPrefix(const QString& expression) const
    {
        const qsizetype start = expression.startsWith(QLatin1Char('*')) ? 1 : 0;
        if (expression.size() < start + 2 || !expression.endsWith(QLatin1Char('*')))
            return {};
        const QString word = expression.mid(start, expression.size() - start - 1);
        if (word.isEmpty() || word.size() > LongestWalkedPrefix
            || !std::all_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            return {};
        const QByteArray utf8 = word.toUtf8();
        std::string folded;
        int tokens = 0;
        anyToken(utf8.constData(), int(utf8.size()), [&](const char* token, int length, int start, int end) {
            folded.assign(token, size_t(length));
            ++tokens;
            return start != 0 || end != int(utf8.size());
        });
        return tokens == 1 ? folded : std::string();
    }

private:
    const TokenizerModule* module_ = nullptr;
    Tokenizer* tokenizer_ = nullptr;
    std::shared_ptr<SLDatabase> probe_;
};

} // namespace

std::optional<std::vector<TextRow>> TitleScan::rows(SLDatabase& db, const QString& expression, int wanted,
                                                   bool withSnippet)
{
    Walker* const walker = Walker::of(db);
    const std::string prefix = walker ? walker->foldedPrefix(expression) : std::string();
    if (prefix.empty() || wanted <= 0
        || db.longForQuery(QStringLiteral("SELECT (SELECT max(rowid) FROM notes_content) - "
                                          "(SELECT min(rowid) FROM notes_content)")) < SmallestWalkedTable)
        return std::nullopt;
    SLDatabase& probe = walker->probe();
    const Statement walk =
        prepare(db.sqliteHandle(), "SELECT rowid, c0key, c1title, c3folder FROM notes_content ORDER BY rowid");
    const Statement insert =
        prepare(probe.sqliteHandle(), "INSERT INTO probe(docid, key, title, folder) VALUES(?, ?, ?, ?)");
    if (!walk || !insert || !probe.executeUpdate(QStringLiteral("DELETE FROM probe")))
        return std::nullopt;

    // The walk: rows whose title has a word starting with the prefix. Without
    // snippets they are the rows; with them they go to the small table.
    std::vector<TextRow> rows;
    int found = 0;
    bool walkedAll = false;
    sqlite3_int64 last = 0;
    for (int walked = 0; walked < WalkedRows && found < wanted; ++walked) {
        if (walked == SampledRows && found * WalkedRows < wanted * SampledRows)
            break;
        const int rc = sqlite3_step(walk.get());
        if (rc == SQLITE_DONE) {
            walkedAll = true;
            break;
        }
        if (rc != SQLITE_ROW)
            return std::nullopt;
        last = sqlite3_column_int64(walk.get(), 0);
        const auto* title = reinterpret_cast<const char*>(sqlite3_column_text(walk.get(), 2));
        const bool matches = title && walker->anyToken(title, sqlite3_column_bytes(walk.get(), 2),
                                                       [&](const char* token, int length, int, int) {
                                                           return size_t(length) >= prefix.size()
                                                               && std::memcmp(token, prefix.data(), prefix.size()) == 0;
                                                       });
        if (!matches)
            continue;
        ++found;
        if (!withSnippet) {
            rows.push_back({{columnText(walk.get(), 1), columnText(walk.get(), 2), columnText(walk.get(), 3)}});
            continue;
        }
        sqlite3_reset(insert.get());
        sqlite3_bind_int64(insert.get(), 1, last);
        for (int c = 1; c <= 3; ++c)
            sqlite3_bind_value(insert.get(), c + 1, sqlite3_column_value(walk.get(), c));
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return std::nullopt;
    }

    // The same query over the rows found checks them and makes their snippets.
    const int columns = withSnippet ? 4 : 3;
    const auto selectFrom = [withSnippet](const QString& table) {
        return (withSnippet ? QStringLiteral("SELECT  key, title, folder, snippet(%1, '[', ']', '...', 1, 64) FROM %1")
                            : QStringLiteral("SELECT  key, title, folder FROM %1"))
            .arg(table);
    };
    if (withSnippet) {
        const auto checked = readTextRows(probe, selectFrom(QStringLiteral("probe")) + QStringLiteral(" WHERE title MATCH ?"),
                                          {expression}, found, columns);
        if (!checked || int(checked->size()) != found)
            return std::nullopt;
        rows = *checked;
    }
    if (walkedAll || found == wanted)
        return rows;

    // The rest of the table is the index's.
    const auto rest = readTextRows(db, selectFrom(QStringLiteral("notes")) +
                                           QStringLiteral(" WHERE title MATCH ? AND docid > ?"),
                                   {expression, qint64(last)}, wanted - found, columns);
    if (!rest)
        return std::nullopt;
    rows.insert(rows.end(), rest->begin(), rest->end());
    return rows;
}

std::optional<std::vector<TextRow>> readTextRows(SLDatabase& db, const QString& sql, const QVariantList& arguments,
                                                 int limit, int columns)
{
    std::vector<TextRow> read;
    Error error;
    SLResultSet rows = db.executeQueryWithArgumentsInArray(sql, arguments);
    while (int(read.size()) < limit && rows.nextWithError(&error)) {
        TextRow row;
        for (int c = 0; c < columns; ++c)
            row.columns[size_t(c)] = rows.stringForColumnIndex(c);
        read.push_back(std::move(row));
    }
    rows.close();
    if (!error.isNull())
        return std::nullopt;
    return read;
}
