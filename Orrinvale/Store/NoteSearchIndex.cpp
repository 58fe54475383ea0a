#include "NoteSearchIndex.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <sqlite3.h>

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <array>

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
    QString create;
    QString empty;
    // Every note's row; with " WHERE docid IN (...)" appended, the rows listed.
    QString fill;
    // The rows listed, taken out again (%1), as they went in.
    QString remove;
};

// The trigram index keeps only which notes hold each run (no positions, no
// text of its own), a third of the text's size. Each text goes in with two end
// marks, so every character of it, and every pair, starts a run: the notes
// holding one or two characters are those of the runs that start with them.
//
// The title index holds each note's title alone, split into words as the word
// table splits it: a prefix there merges the lists of the titles' words only,
// not those of every word of every note's text.
const std::array<SideTable, 2> SideTables = {{
    {QStringLiteral("notes_trigram"),
     QStringLiteral("CREATE VIRTUAL TABLE notes_trigram USING fts5(text, content='', tokenize='trigram', detail=none)"),
     QStringLiteral("INSERT INTO notes_trigram(notes_trigram) VALUES('delete-all')"),
     QStringLiteral("INSERT INTO notes_trigram(rowid, text) SELECT docid, c2content || char(1, 1) FROM notes_content"),
     QStringLiteral("INSERT INTO notes_trigram(notes_trigram, rowid, text) SELECT 'delete', docid, "
                    "c2content || char(1, 1) FROM notes_content WHERE docid IN (%1)")},
    {QStringLiteral("notes_titles"), QStringLiteral("CREATE VIRTUAL TABLE notes_titles USING fts4(title, tokenize=unicode61)"),
     QStringLiteral("DELETE FROM notes_titles"),
     QStringLiteral("INSERT INTO notes_titles(docid, title) SELECT docid, c1title FROM notes_content"),
     QStringLiteral("DELETE FROM notes_titles WHERE docid IN (%1)")},
}};

bool removeRows(SLDatabase& db, const QList<qint64>& rows)
{
    const QString ids = idList(rows);
    return std::all_of(SideTables.begin(), SideTables.end(),
                       [&](const SideTable& table) { return db.executeUpdate(table.remove.arg(ids)); });
}

bool addRows(SLDatabase& db, const QList<qint64>& rows)
{
    const QString where = QStringLiteral(" WHERE docid IN (%1)").arg(idList(rows));
    return std::all_of(SideTables.begin(), SideTables.end(),
                       [&](const SideTable& table) { return db.executeUpdate(table.fill + where); });
}

// More runs narrow the notes little further and each is a list to merge.
constexpr qsizetype MaximumRuns = 16;

// How far each index follows the notes, kept in the database itself, so that
// every connection and every writer, this program's or not, is seen: the
// notes' row counts every row written to the word table (triggers count them,
// whoever writes), and each index's row the count it was last brought up to.
// An index whose count differs missed a write and is filled afresh; asking
// reads three rows, whatever the number of notes.
const QString NotesMark = QStringLiteral("notes");

const QStringList MarkSchema = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS notes_side(name TEXT PRIMARY KEY, written INTEGER NOT NULL)"),
    QStringLiteral("INSERT OR IGNORE INTO notes_side VALUES('notes', 0)"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS notes_side_insert AFTER INSERT ON notes_content BEGIN "
                   "UPDATE notes_side SET written = written + 1 WHERE name = 'notes'; END"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS notes_side_update AFTER UPDATE ON notes_content BEGIN "
                   "UPDATE notes_side SET written = written + 1 WHERE name = 'notes'; END"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS notes_side_delete AFTER DELETE ON notes_content BEGIN "
                   "UPDATE notes_side SET written = written + 1 WHERE name = 'notes'; END"),
};

// Each index's count against the notes': the tables that missed a write, or
// have no count yet; null when the counts cannot be read.
std::optional<std::vector<const SideTable*>> laggingTables(SLDatabase& db)
{
    // A database never opened through create() has no counts to read.
    if (!db.tableExists(QStringLiteral("notes_side")))
        return std::nullopt;
    QHash<QString, int64_t> written;
    SLResultSet marks = db.executeQuery(QStringLiteral("SELECT name, written FROM notes_side"));
    while (marks.next())
        written.insert(marks.stringForColumnIndex(0), marks.longForColumnIndex(1));
    marks.close();
    if (db.hadError() || !written.contains(NotesMark))
        return std::nullopt;
    std::vector<const SideTable*> lagging;
    for (const SideTable& table : SideTables) {
        if (written.value(table.name, -1) != written.value(NotesMark))
            lagging.push_back(&table);
    }
    return lagging;
}

// Records that the table follows every write of the notes so far.
bool markCurrent(SLDatabase& db, const SideTable& table)
{
    return db.executeUpdate(QStringLiteral("INSERT OR REPLACE INTO notes_side(name, written) SELECT ?, written FROM "
                                           "notes_side WHERE name = 'notes'"),
                            table.name);
}

// The tables afresh, in one transaction of their own.
bool refill(SLDatabase& db, const std::vector<const SideTable*>& tables)
{
    if (!db.beginTransaction())
        return false;
    const bool filled = std::all_of(tables.begin(), tables.end(), [&](const SideTable* table) {
        return db.executeUpdate(table->empty) && db.executeUpdate(table->fill) && markCurrent(db, *table);
    });
    if (filled && db.commit())
        return true;
    db.rollback();
    return false;
}

// True when the indexes follow the notes, refilled first when a write left
// them behind. Not inside a transaction: the caller's rollback would take
// the refill back with its own writes.
bool inStep(SLDatabase& db)
{
    const auto lagging = laggingTables(db);
    if (!lagging)
        return false;
    return lagging->empty() || (sqlite3_get_autocommit(db.sqliteHandle()) && refill(db, *lagging));
}

// The pattern's pieces between its wildcards, as the statement binds them
// (a lone surrogate replaced).
QStringList piecesOf(const QString& pattern)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : QString::fromUtf8(pattern.toUtf8())) {
        if (c != QLatin1Char('%') && c != QLatin1Char('_')) {
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
    if (!db.executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS temp.notes_trigram_runs USING "
                                         "fts5vocab(main, notes_trigram, 'row')")))
        return std::nullopt;
    const QString first = piece.toLower();
    const QString last = first + QString::fromUcs4(U"\U0010FFFF", 1);
    QStringList runs;
    SLResultSet terms = db.executeQuery(
        QStringLiteral("SELECT term FROM temp.notes_trigram_runs WHERE term >= ? AND term <= ? LIMIT ?"), first, last,
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

void NoteSearchIndex::create(SLDatabase& db)
{
    // Writes made while a count trigger was missing went uncounted: no
    // index's count can be trusted then.
    const bool counted = db.longForQuery(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' "
                                                        "AND name LIKE 'notes_side_%'")) == 3;
    if (!db.beginTransaction())
        return;
    bool made = std::all_of(MarkSchema.begin(), MarkSchema.end(), [&](const QString& sql) { return db.executeUpdate(sql); });
    if (!counted)
        made = made && db.executeUpdate(QStringLiteral("DELETE FROM notes_side WHERE name != 'notes'"));
    for (const SideTable& table : SideTables) {
        if (!db.tableExists(table.name))
            made = made && db.executeUpdate(table.create);
    }
    if (!made || !db.commit()) {
        db.rollback();
        return;
    }
    inStep(db);
}

NoteSearchIndex::Change::Change(SLDatabase& db, const QList<qint64>& replacedRows) : db_(db)
{
    const auto lagging = laggingTables(db);
    inStep_ = lagging && lagging->empty();
    if (inStep_ && !replacedRows.isEmpty())
        inStep_ = removeRows(db, replacedRows);
}

void NoteSearchIndex::Change::finish(bool written, const QList<qint64>& rows)
{
    // Left uncounted, the tables are filled afresh before they next answer.
    if (!inStep_ || !written || (!rows.isEmpty() && !addRows(db_, rows)))
        return;
    for (const SideTable& table : SideTables)
        markCurrent(db_, table);
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
    const QString sql = QStringLiteral("SELECT c0key, c3folder FROM notes_trigram JOIN notes_content ON docid = "
                                       "notes_trigram.rowid WHERE notes_trigram MATCH ? AND ") +
                        condition + restriction + QStringLiteral(" ORDER BY notes_trigram.rowid LIMIT ") +
                        QString::number(limit);
    return readTextRows(db, sql, QVariantList{*expression, pattern} + arguments, limit, 2);
}

std::optional<std::vector<TextRow>> NoteSearchIndex::titleRows(SLDatabase& db, const QString& expression, int limit,
                                                               bool withSnippet)
{
    // A column named in the expression is one of the word table's own.
    if (expression.contains(QLatin1Char(':')) || !inStep(db))
        return std::nullopt;
    const QString sql =
        QStringLiteral("SELECT c0key, c1title, c3folder%1 FROM notes_titles JOIN notes_content ON notes_content.docid = "
                       "notes_titles.docid WHERE notes_titles MATCH ? ORDER BY notes_titles.docid LIMIT %2")
            .arg(withSnippet ? QStringLiteral(", snippet(notes_titles, '[', ']', '...', 0, 64)") : QString())
            .arg(limit);
    return readTextRows(db, sql, {expression}, limit, withSnippet ? 4 : 3);
}
