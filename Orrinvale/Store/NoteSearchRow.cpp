#include "NoteSearchRow.h"
#include "NoteSearchIndex.h"
#include "TextScans.h"

#include "Note.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// A pass over every row, each on a page of its own: read through the mapped
// file, every page would stay resident with the process, the whole table for
// a list of names. It reads through SQLite's small cache instead, and leaves
// the mapping as it was for the searches.
template <typename Row>
void readEveryRow(SLDatabase& db, const QString& sql, Row&& row)
{
    const int64_t mapped = db.longForQuery(QStringLiteral("PRAGMA mmap_size"));
    db.executeStatements(QStringLiteral("PRAGMA mmap_size=0"));
    SLResultSet rows = db.executeQuery(sql);
    while (rows.next())
        row(rows);
    rows.close();
    db.executeStatements(QStringLiteral("PRAGMA mmap_size=%1").arg(mapped));
}

QString lowerJoined(const QStringList& tags)
{
    return tags.join(QLatin1Char(' ')).toLower();
}

// The key as one full-text phrase. Everything the tokenizer splits on becomes
// a space, so no character of a file name can act as query syntax.
QString keyPhrase(const QString& searchKey)
{
    QString phrase;
    phrase.reserve(searchKey.size() + 2);
    phrase.append(QLatin1Char('"'));
    for (const QChar c : searchKey)
        phrase.append(c.isLetterOrNumber() || c.isMark() ? c : QLatin1Char(' '));
    phrase.append(QLatin1Char('"'));
    return phrase;
}

// What a unit is to the row's content: a mark joins a run of white space and
// emphasis or bracket characters, a rule unit a run of "-" or "=".
enum class Unit : uint8_t { Word, Mark, Rule, Surrogate };

constexpr std::array<Unit, 128> AsciiUnits = [] {
    std::array<Unit, 128> units{};
    for (const char c : std::string_view("*_\"[](){} \t\n\v\f\r"))
        units[size_t(c)] = Unit::Mark;
    units['-'] = units['='] = Unit::Rule;
    return units;
}();

Unit wideUnitKind(char16_t c)
{
    if (QChar::isSurrogate(c))
        return Unit::Surrogate;
    return TextScans::isExpressionSpace(c) ? Unit::Mark : Unit::Word;
}

// Each run of marks becomes one blank and, with dropRules, each run of three
// or more rule units goes: one loop, since nearly every word ends a run and a
// match per word would cost more than the rest of the row. Every unit is
// written and the output moves on past those kept: blanks and words alternate
// too often for a branch to guess. With dropRules it gives up, false, at a
// lone surrogate: such text keeps its rules.
bool withoutMarks(const QString& text, bool dropRules, QString* cleaned)
{
    QString result(text.size(), Qt::Uninitialized);
    QChar* const begin = result.data();
    QChar* out = begin;
    bool inRun = false;
    qsizetype rules = 0;
    const QChar* const end = text.constData() + text.size();
    for (const QChar* p = text.constData(); p < end; ++p) {
        const char16_t c = p->unicode();
        const Unit unit = c < 128 ? AsciiUnits[c] : wideUnitKind(c);
        const bool rule = unit == Unit::Rule;
        // A run of rules ends before the unit is written, a pair's high half included.
        if (!rule && rules >= 3 && dropRules)
            out -= rules;
        rules = rule ? rules + 1 : 0;
        if (unit == Unit::Surrogate) {
            const bool paired = p->isHighSurrogate() && p + 1 < end && p[1].isLowSurrogate();
            if (!paired && dropRules)
                return false;
            if (paired)
                *out++ = *p++;
        }
        const bool mark = unit == Unit::Mark;
        *out = mark ? QChar(u' ') : *p;
        out += !(mark && inRun);
        inRun = mark;
    }
    if (rules >= 3 && dropRules)
        out -= rules;
    result.truncate(out - begin);
    *cleaned = result;
    return true;
}

// The characters after which a line starts, for "^" in the expressions.
bool isLineTerminator(char16_t c)
{
    return c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The end of the heading mark whose "#" is at hash: at a line's start, or
// after ">" there and any ">" and blanks, "#" and a blank or a run of "#";
// 0 for none. The quote marks end at hash.
qsizetype headingMarkEnd(QStringView text, qsizetype hash)
{
    qsizetype lineStart = hash;
    while (lineStart > 0 && (text[lineStart - 1] == QLatin1Char('>') || text[lineStart - 1] == QLatin1Char(' ')))
        --lineStart;
    if (lineStart < hash && text[lineStart] != QLatin1Char('>'))
        return 0;
    if ((lineStart > 0 && !isLineTerminator(text[lineStart - 1].unicode())) || hash + 1 >= text.size())
        return 0;
    if (text[hash + 1] == QLatin1Char(' '))
        return hash + 2;
    qsizetype end = hash + 1;
    while (end < text.size() && text[end] == QLatin1Char('#'))
        ++end;
    return end > hash + 1 ? end : 0;
}

// Each heading mark becomes its quote marks and a blank.
QString withoutHeadingMarks(const QString& text)
{
    QString result;
    qsizetype copied = 0;
    for (qsizetype hash = text.indexOf(QLatin1Char('#')); hash >= 0;) {
        const qsizetype end = headingMarkEnd(text, hash);
        if (end > 0) {
            if (result.isNull())
                result.reserve(text.size());
            result += QStringView(text).mid(copied, hash - copied);
            result += QLatin1Char(' ');
            copied = end;
        }
        hash = text.indexOf(QLatin1Char('#'), std::max(end, hash + 1));
    }
    if (result.isNull())
        return text;
    result += QStringView(text).mid(copied);
    return result;
}

} // namespace

NoteSearchRow::NoteSearchRow(int storage, const QString& key, const QString& title, const QString& text,
                             const QStringList& hashtags, const QStringList& mentions)
    : key(searchKey(storage, key))
    , title(title)
    , content(cleanedContent(text))
    , folder(Note::searchNameForStorage(storage))
    , hashtag(lowerJoined(hashtags))
    , mention(lowerJoined(mentions))
{
}

QString NoteSearchRow::searchKey(int storage, const QString& key)
{
    return Note::searchNameForStorage(storage) + QLatin1Char('/') + key;
}

QString NoteSearchRow::cleanedContent(const QString& text)
{
    // Text that is not valid UTF-16 (a lone surrogate) keeps its heading
    // marks and rules, as it always has: rows already stored stay the same.
    // A heading mark holds no surrogate, so the first pass tells.
    QString content;
    if (!withoutMarks(withoutHeadingMarks(text), true, &content))
        withoutMarks(text, false, &content);
    // Empty content is stored as it always was: null.
    return content.isEmpty() ? QString() : content;
}

QList<qint64> NoteSearchRow::rowIdsForKey(SLDatabase& db, const QString& searchKey)
{
    return rowIdsForKeys(db, {searchKey}).value(searchKey);
}

NoteSearchRow::RowIds NoteSearchRow::rowIdsForKeys(SLDatabase& db, const QStringList& searchKeys)
{
    if (std::optional<RowIds> indexed = NoteSearchIndex::rowsOfKeys(db, searchKeys))
        return *indexed;
    RowIds ids;
    for (const QString& searchKey : searchKeys) {
        if (!ids.contains(searchKey))
            ids.insert(searchKey, rowIdsMatchingKey(db, searchKey));
    }
    return ids;
}

QList<qint64> NoteSearchRow::rowIdsMatchingKey(SLDatabase& db, const QString& searchKey)
{
    QList<qint64> ids;
    SLResultSet rows = db.executeQuery(QStringLiteral("SELECT rowid, key FROM notes WHERE key MATCH ?"),
                                       keyPhrase(searchKey));
    while (rows.next()) {
        if (rows.stringForColumnIndex(1) == searchKey)
            ids.append(rows.longForColumnIndex(0));
    }
    return ids;
}

bool NoteSearchRow::write(SLDatabase& db) const
{
    const QList<qint64> ids = rowIdsForKey(db, key);
    return changeTogether(db, ids, [&] { return write(db, ids); },
                          [&] { return QList<qint64>{ids.isEmpty() ? db.lastInsertRowId() : ids.first()}; });
}

// The rows and their side indexes change together, with one flush for all;
// a change that failed is taken back whole, so that no side index is left
// without rows it was said to follow.
bool NoteSearchRow::changeTogether(SLDatabase& db, const QList<qint64>& replaced, const std::function<bool()>& change,
                                   const std::function<QList<qint64>()>& written)
{
    // Deferred, as every transaction of the search database: one written by
    // its first statement alone locks no other file attached, so a second
    // connection can fill the side file meanwhile.
    const bool transaction = !db.inTransaction() && db.beginDeferredTransaction();
    NoteSearchIndex::Change sides(db, replaced);
    const bool changed = change();
    sides.finish(changed, changed ? written() : QList<qint64>());
    if (transaction && (!changed || !db.commit())) {
        db.rollback();
        return false;
    }
    return changed;
}

bool NoteSearchRow::write(SLDatabase& db, const QList<qint64>& ids) const
{
    if (ids.isEmpty()) {
        return db.executeUpdate(
            QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag, mention) VALUES(?, ?, ?, ?, ?, ?)"),
            key, title, content, folder, hashtag, mention);
    }
    // One row per key: a second row, left by an older layout, would show the note twice.
    for (qsizetype i = 1; i < ids.size(); ++i)
        db.executeUpdate(QStringLiteral("DELETE FROM notes WHERE rowid=?"), ids[i]);
    return db.executeUpdate(
        QStringLiteral("UPDATE notes SET title=?, content=?, folder=?, hashtag=?, mention=? WHERE rowid=?"), title,
        content, folder, hashtag, mention, ids.first());
}

NoteSearchRow::RowIds NoteSearchRow::readRowIds(SLDatabase& db)
{
    RowIds ids;
    readEveryRow(db, QStringLiteral("SELECT rowid, key FROM notes"), [&](SLResultSet& rows) {
        ids[rows.stringForColumnIndex(1)].append(rows.longForColumnIndex(0));
    });
    return ids;
}

// A look-up in ids instead of a full-text query per row: such a query in a
// transaction would flush the pending rows to disk at every row.
QList<bool> NoteSearchRow::writeAll(SLDatabase& db, const QList<NoteSearchRow>& rows, RowIds& idsByKey)
{
    QList<bool> stored;
    stored.reserve(rows.size());
    const bool transaction = db.beginDeferredTransaction();
    // The trigram index takes the batch's rows in one statement each way: a
    // statement per row would write its pending runs out at every row.
    QList<qint64> replaced;
    for (const NoteSearchRow& row : rows)
        replaced += idsByKey.value(row.key);
    NoteSearchIndex::Change change(db, replaced);
    QList<qint64> written;
    bool all = true;
    for (const NoteSearchRow& row : rows) {
        QList<qint64>& ids = idsByKey[row.key];
        const bool inserted = ids.isEmpty();
        stored.append(row.write(db, ids));
        all = all && stored.last();
        // A second row of the same key in the batch updates the first.
        if (inserted && stored.last())
            ids.append(db.lastInsertRowId());
        if (stored.last())
            written.append(ids.first());
    }
    change.finish(all, written);
    if (transaction && !db.commit()) {
        db.rollback();
        stored.fill(false);
        // The ids of rows inserted before the rollback are gone again.
        idsByKey = readRowIds(db);
    }
    return stored;
}

QList<bool> NoteSearchRow::writeAll(SLDatabase& db, const QList<NoteSearchRow>& rows)
{
    // Looked up before the transaction opens, where a full-text query would
    // first write out the rows pending so far.
    QStringList keys;
    for (const NoteSearchRow& row : rows)
        keys.append(row.key);
    RowIds ids = rowIdsForKeys(db, keys);
    const bool cached = db.shouldCacheStatements();
    db.setShouldCacheStatements(true);
    const QList<bool> stored = writeAll(db, rows, ids);
    db.setShouldCacheStatements(cached);
    return stored;
}

bool NoteSearchRow::readTags(SLDatabase& db, const QString& searchKey, QStringList* hashtags, QStringList* mentions)
{
    const QList<qint64> ids = rowIdsForKey(db, searchKey);
    for (const qint64 id : ids) {
        SLResultSet row = db.executeQuery(QStringLiteral("SELECT hashtag, mention FROM notes WHERE docid = ?"), id);
        if (!row.next())
            continue;
        hashtags->append(row.stringForColumnIndex(0).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        mentions->append(row.stringForColumnIndex(1).split(QLatin1Char(' '), Qt::SkipEmptyParts));
    }
    return !ids.isEmpty();
}

QStringList NoteSearchRow::keys(SLDatabase& db)
{
    QStringList keys;
    readEveryRow(db, QStringLiteral("SELECT key FROM notes"),
                 [&](SLResultSet& rows) { keys.append(rows.stringForColumnIndex(0)); });
    return keys;
}

bool NoteSearchRow::remove(SLDatabase& db, const QString& searchKey)
{
    const QList<qint64> ids = rowIdsForKey(db, searchKey);
    return changeTogether(
        db, ids,
        [&] {
            return std::all_of(ids.begin(), ids.end(), [&](qint64 id) {
                return db.executeUpdate(QStringLiteral("DELETE FROM notes WHERE rowid=?"), id);
            });
        },
        [] { return QList<qint64>(); });
}
