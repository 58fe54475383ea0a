#include "NoteSearchIndex.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <sqlite3.h>

#include <QStringList>

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <utility>

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

bool tablesExist(SLDatabase& db)
{
    return std::all_of(SideTables.begin(), SideTables.end(),
                       [&](const SideTable& table) { return db.tableExists(table.name); });
}

// More runs narrow the notes little further and each is a list to merge.
constexpr qsizetype MaximumRuns = 16;

// Writes on this connection, then those of any other connection to the file.
using Stamp = std::pair<int64_t, int64_t>;
Stamp stampOf(SLDatabase& db) { return {db.totalChanges(), db.longForQuery(QStringLiteral("PRAGMA data_version"))}; }

// Whether the connection's indexes follow the notes: it does as found when the
// connection first asks, and after each write made through Change while the
// stamp shows no other write in between.
struct State {
    bool exists = false;
    bool stale = false;
    Stamp stamp;
};

State& stateOf(SLDatabase& db)
{
    static const char key = 0;
    auto state = std::static_pointer_cast<State>(db.attachment(&key));
    if (!state) {
        state = std::make_shared<State>();
        state->exists = tablesExist(db);
        state->stamp = stampOf(db);
        db.setAttachment(&key, state);
    }
    return *state;
}

// The tables afresh, in one transaction of their own.
bool refill(SLDatabase& db, std::span<const SideTable> tables)
{
    if (!db.beginTransaction())
        return false;
    const bool filled = std::all_of(tables.begin(), tables.end(), [&](const SideTable& table) {
        return db.executeUpdate(table.empty) && db.executeUpdate(table.fill);
    });
    if (filled && db.commit())
        return true;
    db.rollback();
    return false;
}

// True when the indexes follow the notes, rebuilt first when another write
// left them behind. Not inside a transaction: its rollback would take back the
// rebuild but not the knowledge of it.
bool inStep(SLDatabase& db)
{
    State& state = stateOf(db);
    if (!state.exists)
        return false;
    if (!state.stale && state.stamp == stampOf(db))
        return true;
    if (!sqlite3_get_autocommit(db.sqliteHandle()) || !refill(db, SideTables))
        return false;
    state.stale = false;
    state.stamp = stampOf(db);
    return true;
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
    bool filled = true;
    for (const SideTable& table : SideTables) {
        if (!db.tableExists(table.name))
            filled = db.executeUpdate(table.create) && refill(db, {&table, 1}) && filled;
    }
    State& state = stateOf(db);
    state.exists = tablesExist(db);
    state.stale = !filled;
    state.stamp = stampOf(db);
}

NoteSearchIndex::Change::Change(SLDatabase& db, const QList<qint64>& replacedRows) : db_(db)
{
    const State& state = stateOf(db);
    inStep_ = state.exists && !state.stale && state.stamp == stampOf(db);
    if (inStep_ && !replacedRows.isEmpty())
        inStep_ = removeRows(db, replacedRows);
}

void NoteSearchIndex::Change::finish(bool written, const QList<qint64>& rows)
{
    State& state = stateOf(db_);
    if (!state.exists)
        return;
    inStep_ = inStep_ && written;
    if (inStep_ && !rows.isEmpty())
        inStep_ = addRows(db_, rows);
    state.stale = state.stale || !inStep_;
    state.stamp = stampOf(db_);
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
