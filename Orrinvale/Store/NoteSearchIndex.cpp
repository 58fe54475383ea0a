#include "NoteSearchIndex.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <sqlite3.h>

#include <QStringList>

#include <algorithm>
#include <memory>
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

const QString Table = QStringLiteral("notes_trigram");
// The index keeps only which notes hold each run (no positions, no text of
// its own), a third of the text's size. Each text goes in with two end marks,
// so every character of it, and every pair, starts a run: the notes holding
// one or two characters are those of the runs that start with them.
const QString CreateTable =
    QStringLiteral("CREATE VIRTUAL TABLE notes_trigram USING fts5(text, content='', tokenize='trigram', detail=none)");
const QString MarkedText = QStringLiteral("c2content || char(1, 1)");
const QString EmptyIndex = QStringLiteral("INSERT INTO notes_trigram(notes_trigram) VALUES('delete-all')");
const QString FillIndex =
    QStringLiteral("INSERT INTO notes_trigram(rowid, text) SELECT docid, c2content || char(1, 1) FROM notes_content");
// The runs of the rows with the listed ids, taken out of the index (as they
// went in) or put in.
QString removeRuns(const QList<qint64>& rows)
{
    return QStringLiteral("INSERT INTO notes_trigram(notes_trigram, rowid, text) SELECT 'delete', docid, %1 FROM "
                          "notes_content WHERE docid IN (%2)")
        .arg(MarkedText, idList(rows));
}
QString addRuns(const QList<qint64>& rows)
{
    return QStringLiteral("INSERT INTO notes_trigram(rowid, text) SELECT docid, %1 FROM notes_content WHERE docid IN (%2)")
        .arg(MarkedText, idList(rows));
}
// More runs narrow the notes little further and each is a list to merge.
constexpr qsizetype MaximumRuns = 16;

// Writes on this connection, then those of any other connection to the file.
using Stamp = std::pair<int64_t, int64_t>;
Stamp stampOf(SLDatabase& db) { return {db.totalChanges(), db.longForQuery(QStringLiteral("PRAGMA data_version"))}; }

// Whether the connection's index follows the notes: it does as found when the
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
        state->exists = db.tableExists(Table);
        state->stamp = stampOf(db);
        db.setAttachment(&key, state);
    }
    return *state;
}

// Every note's runs afresh, in one transaction of its own.
bool rebuild(SLDatabase& db)
{
    if (!db.beginTransaction())
        return false;
    if (db.executeUpdate(EmptyIndex) && db.executeUpdate(FillIndex) && db.commit())
        return true;
    db.rollback();
    return false;
}

// True when the index follows the notes, rebuilt first when another write
// left it behind. Not inside a transaction: its rollback would take back the
// rebuild but not the knowledge of it.
bool inStep(SLDatabase& db)
{
    State& state = stateOf(db);
    if (!state.exists)
        return false;
    if (!state.stale && state.stamp == stampOf(db))
        return true;
    if (!sqlite3_get_autocommit(db.sqliteHandle()) || !rebuild(db))
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
    if (!db.tableExists(Table))
        filled = db.executeUpdate(CreateTable) && rebuild(db);
    State& state = stateOf(db);
    state.exists = db.tableExists(Table);
    state.stale = !filled;
    state.stamp = stampOf(db);
}

NoteSearchIndex::Change::Change(SLDatabase& db, const QList<qint64>& replacedRows) : db_(db)
{
    const State& state = stateOf(db);
    inStep_ = state.exists && !state.stale && state.stamp == stampOf(db);
    if (inStep_ && !replacedRows.isEmpty())
        inStep_ = db.executeUpdate(removeRuns(replacedRows));
}

void NoteSearchIndex::Change::finish(bool written, const QList<qint64>& rows)
{
    State& state = stateOf(db_);
    if (!state.exists)
        return;
    inStep_ = inStep_ && written;
    if (inStep_ && !rows.isEmpty())
        inStep_ = db_.executeUpdate(addRuns(rows));
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
