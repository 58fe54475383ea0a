#include "NoteSearchIndex.h"

#include "Folders.h"
#include "Log.h"
#include "SLDatabase.h"
#include "SLResultSet.h"

#include <sqlite3.h>

#include <QCryptographicHash>
#include <QHash>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

QString idList(const QList<qint64>& ids)
{
    QStringList numbers;
    numbers.reserve(ids.size());
    for (const qint64 id : ids)
        numbers.append(QString::number(id));
    return numbers.join(QLatin1Char(','));
}

// A second index of the notes beside their word table, a full-text table of
// its own, written with the notes' rows.
struct SideTable {
    QString name;
    // In the side file: a schema keeps the statement without its "side.".
    QString create;
    QString empty;
    // Every note's row; with " WHERE docid IN (...)" appended, the rows listed.
    QString fill;
    // The rows listed, taken out again (%1), as they went in.
    QString remove;
};

// The trigram index keeps only which notes hold each run (no positions, no
// text of its own), a third of the text's size. A piece of a pattern holds no
// blank, so it lies inside one of the text's words: the index takes each
// word once (WordsFunction), not the runs of every repetition and of the
// blanks between. The words go in with two end marks, so every character of
// them, and every pair, starts a run: the notes holding one or two characters
// are those of the runs that start with them.
//
// The title index holds each note's title and tags, split into words as the
// word table splits them: a prefix there merges the lists of the titles'
// words only, not those of every word of every note's text, and a query
// within a tag tests the few notes of the tag without reading their text. A
// prefix of one or two bytes, which would merge the lists of thousands of
// words, has a list of its own. Nothing ranks its rows, so it keeps no sizes
// of them (the older form of its match statistics).
//
// The key index is a plain table of each row's key: the word table finds a key
// only through the lists of its words, and "inbox" and "txt" are in every row.
const std::array<SideTable, 3> SideTables = {{
    {QStringLiteral("notes_word_runs"),
     QStringLiteral("CREATE VIRTUAL TABLE side.notes_word_runs USING fts5(text, content='', tokenize='trigram', detail=none)"),
     QStringLiteral("INSERT INTO notes_word_runs(notes_word_runs) VALUES('delete-all')"),
     QStringLiteral("INSERT INTO notes_word_runs(rowid, text) SELECT docid, notes_words(c2content) || "
                    "char(1, 1) FROM notes_content"),
     QStringLiteral("INSERT INTO notes_word_runs(notes_word_runs, rowid, text) SELECT 'delete', docid, "
                    "notes_words(c2content) || char(1, 1) FROM notes_content WHERE docid IN (%1)")},
    {QStringLiteral("notes_titles"),
     QStringLiteral("CREATE VIRTUAL TABLE side.notes_titles USING fts4(title, hashtag, mention, tokenize=unicode61, "
                    "prefix=\"1,2\", matchinfo=fts3)"),
     QStringLiteral("DELETE FROM notes_titles"),
     QStringLiteral("INSERT INTO notes_titles(docid, title, hashtag, mention) SELECT docid, c1title, c4hashtag, "
                    "c5mention FROM notes_content"),
     QStringLiteral("DELETE FROM notes_titles WHERE docid IN (%1)")},
    {QStringLiteral("notes_keys"),
     QStringLiteral("CREATE TABLE side.notes_keys(docid INTEGER PRIMARY KEY, key TEXT); "
                    "CREATE INDEX side.notes_keys_key ON notes_keys(key)"),
     QStringLiteral("DELETE FROM notes_keys"),
     QStringLiteral("INSERT OR REPLACE INTO notes_keys(docid, key) SELECT docid, c0key FROM notes_content"),
     QStringLiteral("DELETE FROM notes_keys WHERE docid IN (%1)")},
}};

const QString WordsFunction = QStringLiteral("notes_words");

// A word's hash, eight bytes at a time: most words take one step.
quint64 wordHash(const char* word, qsizetype size)
{
    quint64 hash = quint64(size);
    for (qsizetype at = 0; at < size; at += 8) {
        quint64 chunk = 0;
        std::memcpy(&chunk, word + at, size_t(std::min<qsizetype>(8, size - at)));
        hash = (hash ^ chunk) * 0x9E3779B97F4A7C15ULL;
        hash ^= hash >> 29;
    }
    return hash;
}

// The words met so far, in a flat table kept at most half full: one look a
// word, no node to allocate.
class WordSet {
public:
    explicit WordSet(qsizetype expected) : slots_(std::bit_ceil(size_t(expected) * 2 + 16)) {}

    // False when the word was there already.
    bool insert(const char* word, qsizetype size)
    {
        if ((count_ + 1) * 2 > slots_.size())
            grow();
        const quint64 hash = wordHash(word, size);
        Slot* slot = find(hash, word, size);
        if (slot->word)
            return false;
        *slot = Slot{word, size, hash};
        ++count_;
        return true;
    }

private:
    struct Slot {
        const char* word = nullptr;
        qsizetype size = 0;
        quint64 hash = 0;
    };

    Slot* find(quint64 hash, const char* word, qsizetype size)
    {
        const size_t mask = slots_.size() - 1;
        for (size_t at = size_t(hash) & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (!slot.word || (slot.hash == hash && slot.size == size && std::memcmp(slot.word, word, size_t(size)) == 0))
                return &slot;
        }
    }

    void grow()
    {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.word)
                *find(slot.hash, slot.word, slot.size) = slot;
        }
    }

    std::vector<Slot> slots_;
    size_t count_ = 0;
};

} // namespace

QByteArray NoteSearchIndex::distinctWords(QByteArrayView text)
{
    QByteArray words;
    words.reserve(text.size());
    // Sized once for the usual text rather than grown word by word.
    WordSet seen(text.size() / 6);
    const char* const end = text.data() + text.size();
    for (const char* start = text.data(); start < end;) {
        const char* blank = static_cast<const char*>(std::memchr(start, ' ', size_t(end - start)));
        const char* const wordEnd = blank ? blank : end;
        const qsizetype size = wordEnd - start;
        if (size > 0 && seen.insert(start, size)) {
            if (!words.isEmpty())
                words += ' ';
            words.append(start, size);
        }
        start = wordEnd + 1;
    }
    return words;
}

namespace {

void resultWords(sqlite3_context* context, sqlite3_value* content)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(content));
    const QByteArray words = NoteSearchIndex::distinctWords(QByteArrayView(bytes, bytes ? sqlite3_value_bytes(content) : 0));
    sqlite3_result_text(context, words.constData(), int(words.size()), SQLITE_TRANSIENT);
}

// Every statement writing the side tables reads the text through it.
bool registerWords(SLDatabase& db)
{
    if (!db.hasFunctionNamed(WordsFunction)) {
        db.makeFunctionNamed(WordsFunction, 1,
                             [](sqlite3_context* context, int, sqlite3_value** argv) { resultWords(context, argv[0]); });
    }
    return db.hasFunctionNamed(WordsFunction);
}

bool sideAttached(SLDatabase& db)
{
    return db.sqliteHandle() && sqlite3_db_filename(db.sqliteHandle(), "side");
}

// True when the side file is attached and holds the indexes' marks.
bool hasMarks(SLDatabase& db)
{
    return sideAttached(db)
           && !db.stringForQuery(QStringLiteral(
                     "SELECT name FROM side.sqlite_master WHERE type = 'table' AND name = 'notes_side'"))
                   .isEmpty();
}

// A commit waits for the notes' file to reach the disk, not for the side
// file: transactions it loses in a crash take their marks with them, so the
// indexes no longer match the notes' state and are filled afresh.
bool attachFile(SLDatabase& db, const QString& path)
{
    // Private from the start, as the notes' own file is.
    if (!path.isEmpty())
        Folders::createPrivateFile(path);
    return db.executeUpdate(QStringLiteral("ATTACH DATABASE ? AS side"), path)
           && db.executeStatements(QStringLiteral(
               "PRAGMA side.journal_mode=WAL; PRAGMA side.synchronous=NORMAL; PRAGMA side.mmap_size=268435456"))
           && !db.stringForQuery(QStringLiteral("SELECT count(*) FROM side.sqlite_master")).isEmpty();
}

bool removeRows(SLDatabase& db, const QList<qint64>& rows)
{
    const QString ids = idList(rows);
    return std::all_of(SideTables.begin(), SideTables.end(),
                       [&](const SideTable& table) { return db.executeUpdate(table.remove.arg(ids)); });
}

bool fillRows(SLDatabase& db, const QList<qint64>& rows)
{
    const QString where = QStringLiteral(" WHERE docid IN (%1)").arg(idList(rows));
    return std::all_of(SideTables.begin(), SideTables.end(),
                       [&](const SideTable& table) { return db.executeUpdate(table.fill + where); });
}

// More runs narrow the notes little further and each is a list to merge.
constexpr qsizetype MaximumRuns = 16;

// How far each index follows the notes, kept in the database itself, so that
// every connection and every writer, this program's or not, is seen: each
// index's row holds the state of the word table it was last brought up to,
// a digest of the table's segments and totals. Every write of the notes
// (once flushed into the segments, as each transaction's are at its end)
// changes them. An index whose state differs missed a write and is filled
// afresh; asking reads a few dozen rows, whatever the number of notes.
//
// No trigger counts the writes: a trigger on the word table's rows makes the
// module flush its pending words at every row, as a savepoint does, which
// slowed a rebuild by a third.
const QStringList MarkSchema = {
    // Earlier versions kept the indexes in the notes' own file.
    QStringLiteral("DROP TABLE IF EXISTS main.notes_side"),
    QStringLiteral("DROP TABLE IF EXISTS main.notes_word_runs"),
    QStringLiteral("DROP TABLE IF EXISTS main.notes_titles"),
    QStringLiteral("DROP TABLE IF EXISTS main.notes_keys"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS side.notes_side(name TEXT PRIMARY KEY, written INTEGER NOT NULL)"),
    // The earlier trigram index of the whole text.
    QStringLiteral("DROP TABLE IF EXISTS notes_trigram"),
    QStringLiteral("DELETE FROM notes_side WHERE name = 'notes_trigram'"),
    QStringLiteral("DROP TRIGGER IF EXISTS notes_side_insert"),
    QStringLiteral("DROP TRIGGER IF EXISTS notes_side_update"),
    QStringLiteral("DROP TRIGGER IF EXISTS notes_side_delete"),
};

// The word table's present state; null when it cannot be read. Inside a
// transaction its pending words are flushed first, by a savepoint.
std::optional<qint64> notesState(SLDatabase& db)
{
    if (!sqlite3_get_autocommit(db.sqliteHandle())
        && !db.executeStatements(QStringLiteral("SAVEPOINT notes_side; RELEASE notes_side")))
        return std::nullopt;
    QCryptographicHash digest(QCryptographicHash::Sha1);
    SLResultSet parts = db.executeQuery(QStringLiteral(
        "SELECT 0, level, idx, start_block || ' ' || end_block, root FROM notes_segdir UNION ALL "
        "SELECT 1, 0, 0, 'totals', value FROM notes_stat WHERE id = 0 UNION ALL "
        "SELECT 2, 0, 0, 'last', max(docid) FROM notes_content ORDER BY 1, 2, 3"));
    while (parts.next()) {
        for (int column = 1; column < 5; ++column) {
            digest.addData(parts.dataForColumnIndex(column));
            digest.addData(QByteArrayView("\0", 1));
        }
    }
    parts.close();
    if (db.hadError())
        return std::nullopt;
    return qFromLittleEndian<qint64>(digest.result().constData());
}

struct Lag {
    qint64 state;
    // The tables that missed a write, or have no state yet.
    std::vector<const SideTable*> tables;
};

// Each index's recorded state against the notes' present one; null when
// either cannot be read.
std::optional<Lag> laggingTables(SLDatabase& db)
{
    // A database never opened through create() has no states to read.
    if (!hasMarks(db))
        return std::nullopt;
    const std::optional<qint64> state = notesState(db);
    if (!state)
        return std::nullopt;
    QHash<QString, int64_t> written;
    SLResultSet marks = db.executeQuery(QStringLiteral("SELECT name, written FROM notes_side"));
    while (marks.next())
        written.insert(marks.stringForColumnIndex(0), marks.longForColumnIndex(1));
    marks.close();
    if (db.hadError())
        return std::nullopt;
    Lag lag{*state, {}};
    for (const SideTable& table : SideTables) {
        if (const auto found = written.constFind(table.name); found == written.cend() || *found != *state)
            lag.tables.push_back(&table);
    }
    return lag;
}

// Records that the table follows the notes in the state given.
bool markCurrent(SLDatabase& db, const SideTable& table, qint64 state)
{
    return db.executeUpdate(QStringLiteral("INSERT OR REPLACE INTO notes_side(name, written) VALUES(?, ?)"), table.name,
                            state);
}

// The statements in one transaction of their own, taken back whole when one
// fails. Deferred: it locks the side file alone, not the notes' file too.
template <typename Statements>
bool together(SLDatabase& db, Statements statements)
{
    if (!db.beginDeferredTransaction())
        return false;
    if (statements() && db.commit())
        return true;
    db.rollback();
    return false;
}

// The tables afresh, in one transaction of their own.
bool refill(SLDatabase& db, const Lag& lag)
{
    return registerWords(db) && together(db, [&] {
               return std::all_of(lag.tables.begin(), lag.tables.end(), [&](const SideTable* table) {
                   return db.executeUpdate(table->empty) && db.executeUpdate(table->fill)
                          && markCurrent(db, *table, lag.state);
               });
           });
}

// True when the indexes follow the notes, refilled first when a write left
// them behind. Not inside a transaction: the caller's rollback would take
// the refill back with its own writes.
bool inStep(SLDatabase& db)
{
    const auto lagging = laggingTables(db);
    if (!lagging)
        return false;
    return lagging->tables.empty() || (sqlite3_get_autocommit(db.sqliteHandle()) && refill(db, *lagging));
}

// The pattern's pieces between its wildcards and blanks, as the statement
// binds them (a lone surrogate replaced).
QStringList piecesOf(const QString& pattern)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : QString::fromUtf8(pattern.toUtf8())) {
        if (c != QLatin1Char('%') && c != QLatin1Char('_') && c != QLatin1Char(' ')) {
            piece += c;
            continue;
        }
        if (!piece.isEmpty())
            pieces.append(piece);
        piece.clear();
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    return pieces;
}

// A run as a string of the full-text syntax, where only the quote has a meaning.
QString quoted(const QString& run)
{
    return QLatin1Char('"') + QString(run).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// The runs that start with a piece of one or two ASCII characters, quoted;
// null when there are too many to name. The index folds ASCII letters to
// lower case and nothing else of ASCII, so the piece is looked up so.
std::optional<QStringList> runsStartingWith(SLDatabase& db, const QString& piece)
{
    if (!db.executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS temp.notes_word_runs_terms USING "
                                         "fts5vocab(side, notes_word_runs, 'row')")))
        return std::nullopt;
    const QString first = piece.toLower();
    const QString last = first + QString::fromUcs4(U"\U0010FFFF", 1);
    QStringList runs;
    SLResultSet terms = db.executeQuery(
        QStringLiteral("SELECT term FROM temp.notes_word_runs_terms WHERE term >= ? AND term <= ? LIMIT ?"), first, last,
        MaximumRuns + 1);
    while (terms.next())
        runs.append(quoted(terms.stringForColumnIndex(0)));
    terms.close();
    if (db.hadError() || runs.size() > MaximumRuns)
        return std::nullopt;
    return runs;
}

// The full-text expression naming the notes that may match the pattern: all
// of its runs of three, else the runs starting with its piece of one or two
// ASCII characters that the fewest runs start with. Empty when no note can
// match; null when the index cannot narrow the notes.
std::optional<QString> expressionFor(SLDatabase& db, const QString& pattern)
{
    const QString runs = NoteSearchIndex::runsOf(pattern);
    if (!runs.isEmpty())
        return runs;
    std::optional<QStringList> fewest;
    for (const QString& piece : piecesOf(pattern)) {
        if (!std::all_of(piece.begin(), piece.end(), [](QChar c) { return c.unicode() < 0x80; }))
            continue;
        const std::optional<QStringList> starting = runsStartingWith(db, piece);
        if (starting && (!fewest || starting->size() < fewest->size()))
            fewest = starting;
    }
    if (!fewest)
        return std::nullopt;
    return fewest->join(QStringLiteral(" OR "));
}

} // namespace

namespace {

// The table as this version makes it: one an earlier version made otherwise
// is made again, and filled afresh for want of a state.
bool madeAsNow(SLDatabase& db, const SideTable& table)
{
    const QString made = db.stringForQuery(
        QStringLiteral("SELECT sql FROM side.sqlite_master WHERE type = 'table' AND name = ?"), table.name);
    return !made.isEmpty() && QString(table.create).remove(QStringLiteral("side.")).startsWith(made);
}

bool makeAgain(SLDatabase& db, const SideTable& table)
{
    return db.executeUpdate(QStringLiteral("DROP TABLE IF EXISTS side.") + table.name)
           && db.executeUpdate(QStringLiteral("DELETE FROM notes_side WHERE name = ?"), table.name)
           && db.executeStatements(table.create);
}

} // namespace

QString NoteSearchIndex::sideDatabasePath(const QString& databasePath)
{
    if (databasePath.isEmpty())
        return {};
    const QLatin1String suffix(".sqlite");
    return databasePath.endsWith(suffix) ? databasePath.chopped(suffix.size()) + QStringLiteral("-side") + suffix
                                         : databasePath + QStringLiteral("-side");
}

bool NoteSearchIndex::attach(SLDatabase& db)
{
    sqlite3* const handle = db.sqliteHandle();
    if (!handle || sideAttached(db))
        return handle != nullptr;
    const char* const notes = sqlite3_db_filename(handle, "main");
    const QString path = sideDatabasePath(notes ? QString::fromUtf8(notes) : QString());
    if (attachFile(db, path))
        return true;
    // The side file is a cache: one that is not a database is made afresh.
    LogError("db:side error %1 %2", db.lastErrorCode(), db.lastErrorMessage());
    if (sideAttached(db))
        db.executeUpdate(QStringLiteral("DETACH DATABASE side"));
    if (path.isEmpty())
        return false;
    SLDatabase::removeDatabaseFiles(path);
    return attachFile(db, path);
}

void NoteSearchIndex::create(SLDatabase& db)
{
    const bool made = attach(db) && together(db, [&] {
        bool made = std::all_of(MarkSchema.begin(), MarkSchema.end(), [&](const QString& sql) { return db.executeUpdate(sql); });
        for (const SideTable& table : SideTables) {
            if (!madeAsNow(db, table))
                made = made && makeAgain(db, table);
        }
        return made;
    });
    if (made)
        inStep(db);
}

void NoteSearchIndex::leaveBehind(SLDatabase& db)
{
    // An index with no recorded state is filled afresh before it next answers.
    if (hasMarks(db))
        db.executeUpdate(QStringLiteral("DELETE FROM notes_side"));
}

namespace {

// True while the indexes are left behind with no state recorded: nobody has
// filled them afresh since.
bool stillBehind(SLDatabase& db)
{
    return hasMarks(db) && db.intForQuery(QStringLiteral("SELECT count(*) FROM notes_side")) == 0 && !db.hadError();
}

} // namespace

bool NoteSearchIndex::emptyBehind(SLDatabase& db)
{
    leaveBehind(db);
    return stillBehind(db) && together(db, [&] {
               return std::all_of(SideTables.begin(), SideTables.end(),
                                  [&](const SideTable& table) { return db.executeUpdate(table.empty); });
           });
}

bool NoteSearchIndex::addRows(SLDatabase& db, const QList<SideRow>& rows)
{
    const bool cached = db.shouldCacheStatements();
    db.setShouldCacheStatements(true);
    // Checked inside the transaction: a connection filling the indexes
    // afresh meanwhile makes these writes fail, not add the rows twice.
    const bool added = together(db, [&] {
        return stillBehind(db) && std::all_of(rows.begin(), rows.end(), [&](const SideRow& row) {
                   return db.executeUpdate(QStringLiteral("INSERT INTO notes_word_runs(rowid, text) VALUES(?, CAST(? "
                                                          "AS TEXT) || char(1, 1))"),
                                           row.docid, row.words)
                          && db.executeUpdate(QStringLiteral("INSERT INTO notes_titles(docid, title, hashtag, mention) "
                                                             "VALUES(?, ?, ?, ?)"),
                                              row.docid, row.title, row.hashtag, row.mention)
                          && db.executeUpdate(
                              QStringLiteral("INSERT OR REPLACE INTO notes_keys(docid, key) VALUES(?, ?)"), row.docid,
                              row.key);
               });
    });
    db.setShouldCacheStatements(cached);
    return added;
}

bool NoteSearchIndex::markFollowing(SLDatabase& db)
{
    const std::optional<qint64> state = notesState(db);
    return state && stillBehind(db) && together(db, [&] {
               return std::all_of(SideTables.begin(), SideTables.end(),
                                  [&](const SideTable& table) { return markCurrent(db, table, *state); });
           });
}

NoteSearchIndex::Change::Change(SLDatabase& db, const QList<qint64>& replacedRows) : db_(db)
{
    const auto lagging = laggingTables(db);
    inStep_ = lagging && lagging->tables.empty() && registerWords(db);
    if (inStep_ && !replacedRows.isEmpty())
        inStep_ = removeRows(db, replacedRows);
}

void NoteSearchIndex::Change::finish(bool written, const QList<qint64>& rows)
{
    if (!inStep_)
        return;
    // Unmarked, the tables are filled afresh before they next answer: a write
    // that failed may have left the notes as they were, and the marks with them.
    if (!written || (!rows.isEmpty() && !fillRows(db_, rows))) {
        leaveBehind(db_);
        return;
    }
    const std::optional<qint64> state = notesState(db_);
    if (!state)
        return;
    for (const SideTable& table : SideTables)
        markCurrent(db_, table, *state);
}

namespace {

// True when the key index follows the notes. Never filled here: a look-up on
// the way to a write waits for no refill. Known so until anybody writes: a
// commit's two look-ups, and those of a batch, check the state once.
bool keysInStep(SLDatabase& db)
{
    struct Checked {
        std::pair<int64_t, int64_t> stamp{-1, -1};
    };
    static const char key = 0;
    auto checked = std::static_pointer_cast<Checked>(db.attachment(&key));
    if (!checked) {
        checked = std::make_shared<Checked>();
        db.setAttachment(&key, checked);
    }
    const std::pair<int64_t, int64_t> stamp = db.writeStamp();
    if (stamp == checked->stamp)
        return true;
    const auto lagging = laggingTables(db);
    if (!lagging || std::any_of(lagging->tables.begin(), lagging->tables.end(),
                                [](const SideTable* table) { return table->name == QLatin1String("notes_keys"); }))
        return false;
    checked->stamp = stamp;
    return true;
}

} // namespace

std::optional<QHash<QString, QList<qint64>>> NoteSearchIndex::rowsOfKeys(SLDatabase& db, const QStringList& keys)
{
    if (!keysInStep(db))
        return std::nullopt;
    QHash<QString, QList<qint64>> rows;
    for (const QString& key : keys) {
        if (rows.contains(key))
            continue;
        QList<qint64>& ids = rows[key];
        SLResultSet found =
            db.executeQuery(QStringLiteral("SELECT docid FROM notes_keys WHERE key = ? ORDER BY docid"), key);
        while (found.next())
            ids.append(found.longForColumnIndex(0));
        found.close();
        if (db.hadError())
            return std::nullopt;
    }
    return rows;
}

QString NoteSearchIndex::runsOf(const QString& pattern)
{
    QStringList runs;
    for (const QString& piece : piecesOf(pattern)) {
        const QList<uint> points = piece.toUcs4();
        for (qsizetype i = 0; i + 3 <= points.size() && runs.size() < MaximumRuns; ++i)
            runs.append(quoted(QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + i), 3)));
    }
    return runs.join(QStringLiteral(" AND "));
}

std::optional<std::vector<TextRow>> NoteSearchIndex::rows(SLDatabase& db, const QString& pattern,
                                                          const QString& condition, const QString& restriction,
                                                          const QVariantList& arguments, int limit)
{
    if (!inStep(db))
        return std::nullopt;
    // A restriction (the notes of one tag) narrows the notes better than the
    // many runs starting with a short piece: those are left to the scan.
    std::optional<QString> expression;
    if (restriction.isEmpty())
        expression = expressionFor(db, pattern);
    else if (const QString runs = runsOf(pattern); !runs.isEmpty())
        expression = runs;
    if (!expression)
        return std::nullopt;
    if (expression->isEmpty())
        return std::vector<TextRow>();
    // The index gives its notes in row order, the order of the table's scan.
    const QString sql = QStringLiteral("SELECT c0key, c3folder FROM notes_word_runs JOIN notes_content ON docid = "
                                       "notes_word_runs.rowid WHERE notes_word_runs MATCH ? AND ") +
                        condition + restriction + QStringLiteral(" ORDER BY notes_word_runs.rowid LIMIT ") +
                        QString::number(limit);
    return readTextRows(db, sql, QVariantList{*expression, pattern} + arguments, limit, 2);
}

std::optional<std::vector<TextRow>> NoteSearchIndex::titleRows(SLDatabase& db, const QString& expression, int limit,
                                                               bool withSnippet, const TitleNarrowing& narrowing)
{
    // A column named in the expression is one of the word table's own.
    if (expression.contains(QLatin1Char(':')) || !inStep(db))
        return std::nullopt;
    const QString sql =
        QStringLiteral("SELECT c0key, c1title, c3folder%1 FROM notes_titles JOIN notes_content ON notes_content.docid = "
                       "notes_titles.docid WHERE notes_titles.title MATCH ?%2 ORDER BY notes_titles.docid LIMIT %3")
            .arg(withSnippet ? QStringLiteral(", snippet(notes_titles, '[', ']', '...', 0, 64)") : QString(),
                 narrowing.restriction)
            .arg(limit);
    return readTextRows(db, sql, QVariantList{narrowing.expression(expression)} + narrowing.arguments, limit,
                        withSnippet ? 4 : 3);
}

QString NoteSearchIndex::TitleNarrowing::expression(const QString& query) const
{
    return columnWords.isEmpty() ? query : columnWords + QStringLiteral(" AND (") + query + QLatin1Char(')');
}
