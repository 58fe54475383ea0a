#include "NoteSearchIndex.h"

#include "SLDatabase.h"

#include <sqlite3.h>

#include <QStringList>

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
// The index reads the text from the word table's own store of it, so it keeps
// only which notes hold each run (no positions), a third of the text's size.
const QString CreateTable = QStringLiteral(
    "CREATE VIRTUAL TABLE notes_trigram USING fts5(c2content, content='notes_content', content_rowid='docid', "
    "tokenize='trigram', detail=none)");
const QString Rebuild = QStringLiteral("INSERT INTO notes_trigram(notes_trigram) VALUES('rebuild')");
// The runs of the rows with the listed ids, taken out of the index or put in.
QString removeRuns(const QList<qint64>& rows)
{
    return QStringLiteral("INSERT INTO notes_trigram(notes_trigram, rowid, c2content) SELECT 'delete', docid, "
                          "c2content FROM notes_content WHERE docid IN (%1)")
        .arg(idList(rows));
}
QString addRuns(const QList<qint64>& rows)
{
    return QStringLiteral("INSERT INTO notes_trigram(rowid, c2content) SELECT docid, c2content FROM notes_content "
                          "WHERE docid IN (%1)")
        .arg(idList(rows));
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
    if (!sqlite3_get_autocommit(db.sqliteHandle()) || !db.executeUpdate(Rebuild))
        return false;
    state.stale = false;
    state.stamp = stampOf(db);
    return true;
}

} // namespace

void NoteSearchIndex::create(SLDatabase& db)
{
    if (!db.tableExists(Table)) {
        const bool transaction = db.beginTransaction();
        const bool created = db.executeUpdate(CreateTable) && db.executeUpdate(Rebuild);
        if (transaction && !(created ? db.commit() : db.rollback()))
            db.rollback();
    }
    State& state = stateOf(db);
    state.exists = db.tableExists(Table);
    state.stale = false;
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
    // The characters as the statement binds them, a lone surrogate replaced.
    const QString bound = QString::fromUtf8(pattern.toUtf8());
    QString piece;
    const auto takeRuns = [&] {
        const QList<uint> points = piece.toUcs4();
        for (qsizetype i = 0; i + 3 <= points.size() && runs.size() < MaximumRuns; ++i) {
            // Inside a string only the double quote has a meaning.
            runs.append(QLatin1Char('"') +
                        QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + i), 3)
                            .replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                        QLatin1Char('"'));
        }
        piece.clear();
    };
    for (const QChar c : bound) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_'))
            takeRuns();
        else
            piece += c;
    }
    takeRuns();
    return runs.join(QStringLiteral(" AND "));
}

std::optional<std::vector<TextRow>> NoteSearchIndex::rows(SLDatabase& db, const QString& pattern,
                                                          const QString& condition, const QString& restriction,
                                                          const QVariantList& arguments, int limit)
{
    const QString runs = runsOf(pattern);
    if (runs.isEmpty() || !inStep(db))
        return std::nullopt;
    // The index gives its notes in row order, the order of the table's scan.
    const QString sql = QStringLiteral("SELECT c0key, c3folder FROM notes_trigram JOIN notes_content ON docid = "
                                       "notes_trigram.rowid WHERE notes_trigram MATCH ? AND ") +
                        condition + restriction + QStringLiteral(" ORDER BY notes_trigram.rowid LIMIT ") +
                        QString::number(limit);
    return readTextRows(db, sql, QVariantList{runs, pattern} + arguments, limit, 2);
}
