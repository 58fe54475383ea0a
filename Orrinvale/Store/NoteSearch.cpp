#include "Store/ContentPattern.h"
#include "Store/ListItem.h"
#include "Store/MatchEntry.h"
#include "Store/NoteSearchIndex.h"
#include "Store/NoteSearchShortWord.h"
#include "Store/SplitScan.h"
#include "Store/Note.h"

#include "Search/Score.h"

#include "SLDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The most rows one search gives, in both lists together. A one- or
// two-letter query matches most of the table: the passes stop reading when
// the lists are full, and a pass that would only add rows after a full list
// is not run, so no snippet is built for a row that is not shown.
constexpr int MaxRows = 200;
// The most rows one pass reads. Each row read is a seek into the table; the
// loose title pass may read thousands of titles of which few score.
constexpr int MaxRowsReadPerPass = 1000;

enum Pass { TitlePass, LooseTitlePass, ContentPass, LooseContentPass };

// The content scan's statement ends with its test of the note's text.
const std::array<QString, 4> PassStatements = {
    QStringLiteral("SELECT  key, title, folder, snippet(notes, '[', ']', '...', 1, 64) FROM notes WHERE title MATCH ?"),
    QStringLiteral("SELECT  key, title, folder FROM notes WHERE title MATCH ?"),
    QStringLiteral("SELECT  key, title, folder, snippet(notes, '[', ']', '...', -1) FROM notes WHERE content MATCH ?"),
    QStringLiteral("SELECT  key, folder FROM notes WHERE "),
};
// The same scan over every note reads the full-text table's own store of its
// columns (the "_content" table, "c" + index + name) instead of fetching each
// row through the full-text module: the same rows in the same order, in a
// third less time.
const QString UnfilteredScanStatement = QStringLiteral("SELECT  c0key, c3folder FROM notes_content WHERE ");

// The scan's test of a note's text: the content pattern's own function where
// the pattern lets it match alike, else LIKE.
QString scanCondition(SLDatabase& db, const QString& column, const QString& pattern)
{
    if (ContentPattern::parse(pattern.toUtf8())) {
        ContentPattern::registerOn(db);
        if (db.hasFunctionNamed(ContentPattern::FunctionName))
            return ContentPattern::FunctionName + QLatin1Char('(') + column + QStringLiteral(", ?)");
    }
    return column + QStringLiteral(" LIKE ?");
}

// Notes carrying the whole tag. The tag column holds a note's tags in lower
// case joined by single blanks, so the padded column contains " work " for
// the tag "work" and not for "homework". The tag's words are looked up first:
// joined to a pass's own full-text expression, the index narrows the rows by
// the tag before it reads any of the query's (large) word lists, and the
// content scan visits only the tag's rows. A tag with no letter or digit has
// no words to look up, and one with a character the table may split
// differently is looked up by the padded column alone.
struct TagFilter {
    QString sql;
    QVariantList arguments;
    // Restricts the content scan to the rows holding the tag.
    QString scanSql;
    QVariantList scanArguments;
    // The column's words, joined to each full-text pass; with the whole tag
    // as the index of titles, which holds the tags too, tests it.
    NoteSearchIndex::TitleNarrowing titles;

    TagFilter(int kind, const QString& tag)
    {
        if (kind != NoteTagHashtag && kind != NoteTagMention)
            return;
        const QString column = kind == NoteTagHashtag ? QStringLiteral("hashtag") : QStringLiteral("mention");
        const QString stored = kind == NoteTagHashtag ? QStringLiteral("c4hashtag") : QStringLiteral("c5mention");
        QString name = tag.toLower();
        const auto paddedLike = [](const QString& tags) {
            return QStringLiteral("(' ' || ") + tags + QStringLiteral(" || ' ') LIKE ? ESCAPE '\\'");
        };
        const QString padded = paddedLike(column);
        const QString words = wordsOf(name);
        QString pattern = name;
        pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        pattern.replace(QLatin1Char('%'), QLatin1String("\\%"));
        pattern.replace(QLatin1Char('_'), QLatin1String("\\_"));
        pattern = QStringLiteral("% ") + pattern + QStringLiteral(" %");

        scanSql = QStringLiteral(" AND docid IN (SELECT docid FROM notes WHERE ");
        if (!words.isEmpty()) {
            scanSql += column + QStringLiteral(" MATCH ? AND ");
            // Inside a phrase only the double quote has a meaning.
            scanArguments.append(QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1Char(' ')) +
                                 QLatin1Char('"'));
        }
        scanSql += padded + QLatin1Char(')');
        scanArguments.append(pattern);
        if (words.isEmpty() || !tokenizesAlike(name)) {
            sql = scanSql;
            arguments = scanArguments;
            return;
        }
        QStringList filtered;
        for (const QString& word : words.split(QLatin1Char(' ')))
            filtered.append(column + QLatin1Char(':') + word);
        sql = QStringLiteral(" AND ") + padded;
        arguments = {pattern};
        titles = {filtered.join(QLatin1Char(' ')), QStringLiteral(" AND ") + paddedLike(stored), arguments};
    }

    // False where the tag is matched by the padded column alone, which the
    // title passes leave to the word table.
    bool titlesIndexed() const { return sql.isEmpty() || !titles.columnWords.isEmpty(); }

    // A pass's full-text expression, narrowed by the tag when it can be.
    QString expression(const QString& query) const { return titles.expression(query); }

private:
    // The runs of letters, digits and marks, blank-separated.
    static QString wordsOf(const QString& name)
    {
        QString words;
        for (const QChar c : name)
            words += c.isLetterOrNumber() || c.isMark() ? c : QLatin1Char(' ');
        return words.simplified();
    }

    // The table splits on ASCII punctuation as wordsOf does; outside ASCII its
    // older character tables may keep a symbol inside a word.
    static bool tokenizesAlike(const QString& name)
    {
        return std::all_of(name.begin(), name.end(),
                           [](QChar c) { return c.unicode() < 0x80 || c.isLetterOrNumber() || c.isMark(); });
    }
};

// The loose title pass asks the same for every query that starts with the same
// character: the titles with a word beginning with it, up to a pass's reading
// limit. Within a tag that is a merge of the lists of every such word of the
// notes' text, tens of milliseconds in a large store. The rows are kept with
// the connection while no write touched the table, so only the first query of
// a character reads them.
class KeptRows {
public:
    static KeptRows& of(SLDatabase& db)
    {
        static const char key = 0;
        auto kept = std::static_pointer_cast<KeptRows>(db.attachment(&key));
        if (!kept) {
            kept = std::make_shared<KeptRows>();
            db.setAttachment(&key, kept);
        }
        return *kept;
    }

    // The rows kept under the key, or those read() gives now, kept unless
    // it answers null (an interrupted or failed read, used once).
    template <typename Read>
    const std::vector<TextRow>& rows(SLDatabase& db, const QString& key, Read&& read)
    {
        const std::pair<int64_t, int64_t> stamp = db.writeStamp();
        if (stamp != stamp_) {
            entries_.clear();
            stamp_ = stamp;
        }
        if (const auto it = entries_.constFind(key); it != entries_.cend())
            return *it;
        if (entries_.size() >= MaximumEntries)
            entries_.clear();
        std::optional<std::vector<TextRow>> fresh = read();
        if (!fresh || !db.sqliteHandle()) {
            failed_ = fresh ? std::move(*fresh) : std::vector<TextRow>();
            return failed_;
        }
        return *entries_.insert(key, std::move(*fresh));
    }

private:
    static constexpr int MaximumEntries = 16;
    std::pair<int64_t, int64_t> stamp_{-1, -1};
    QHash<QString, std::vector<TextRow>> entries_;
    std::vector<TextRow> failed_;
};

double fuzzyScore(const QString& text, const QString& query)
{
    return Score::scoreAgainst(text, query, std::nullopt, ScoreOptionDivideByStringLength);
}

double score(const ListItemPtr& item) { return item->score(); }
double score(const MatchEntry& entry) { return entry.score; }

// Highest score first; equal scores keep their order.
template <typename T>
void sortByScore(QList<T>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const T& a, const T& b) { return score(a) > score(b); });
}

// The first character of the query as one whole code point, so that a query
// starting outside the basic plane does not send half a surrogate pair.
QString firstCharacter(const QString& query)
{
    const int length = query.size() > 1 && query.at(0).isHighSurrogate() && query.at(1).isLowSurrogate() ? 2 : 1;
    return query.left(length);
}

// The query without control characters: a NUL would end the LIKE pattern
// early and match every row.
QString withoutControls(const QString& query)
{
    QString cleaned;
    cleaned.reserve(query.size());
    for (const QChar c : query) {
        if (c.category() != QChar::Other_Control)
            cleaned += c;
    }
    return cleaned;
}

class DatabaseSearch {
public:
    DatabaseSearch(SLDatabase& database, int kind, const QString& tag, const Note::SearchPasses* passes)
        : database_(database), filter_(kind, tag), passes_(passes)
    {
    }

    // Hands the block each row while the lists have room, up to the pass's
    // reading limit; a failed statement has no rows. Returns the rows read.
    template <typename Block>
    int run(Pass pass, const QString& parameter, Block&& block)
    {
        if (full() || (cancelled() && cancelled()()))
            return 0;
        if (pass == LooseContentPass)
            return scan(parameter, block);
        if (pass == ContentPass) {
            if (const auto read = shortWordRun(parameter, block))
                return *read;
        }
        const QString sql = PassStatements[pass] + filter_.sql;
        const QVariantList arguments = QVariantList{filter_.expression(parameter)} + filter_.arguments;
        // The title passes ask the index of titles where it can.
        const bool titlesOnly = filter_.titlesIndexed() && pass != ContentPass;
        if (pass == LooseTitlePass)
            return runRows(keptRows(sql, arguments, titlesOnly ? parameter : QString()), block);
        if (titlesOnly) {
            if (const auto found = titleRows(parameter, int(MaxRows - size()), true))
                return runRows(*found, block);
        }
        SLResultSet rows = database_.executeQueryWithArgumentsInArray(sql, arguments);
        int read = 0;
        for (; read < MaxRowsReadPerPass && !full() && rows.next(); ++read)
            block(rows);
        rows.close();
        return read;
    }

    // The content pass of whole words and the first letter or two of the
    // last one, without the word table's merge of every word with that
    // start; null when the plain statement is to answer.
    template <typename Block>
    std::optional<int> shortWordRun(const QString& expression, Block&& block)
    {
        // After a blank the star stands alone and the last word is matched
        // whole: no merge to spare.
        const bool prefix =
            expression.size() > 1 && expression.endsWith(QLatin1Char('*')) && !expression.chopped(1).back().isSpace();
        const auto query = prefix ? NoteSearchShortWord::split(expression.chopped(1)) : std::nullopt;
        if (!query)
            return std::nullopt;
        const NoteSearchShortWord::Pass pass{PassStatements[ContentPass],
                                             filter_.sql,
                                             filter_.arguments,
                                             filter_.expression(expression),
                                             filter_.expression(query->words),
                                             query->start,
                                             int(MaxRows - size()),
                                             [this](const QString& key) { return seen.contains(key); },
                                             filter_.titles.columnWords,
                                             query->words};
        int read = 0;
        const bool answered = NoteSearchShortWord::rows(database_, pass, [&](const TextRow& row) {
            block(row);
            ++read;
            return read < MaxRowsReadPerPass && !full();
        });
        return answered ? std::optional<int>(read) : std::nullopt;
    }

    // The content scan with the pattern, up to the rows the lists can still take.
    template <typename Block>
    int scan(const QString& pattern, Block&& block)
    {
        const int limit = int(MaxRows - size());
        const QString indexedCondition = scanCondition(database_, QStringLiteral("notes_content.c2content"), pattern);
        if (const auto indexed = NoteSearchIndex::rows(database_, pattern, indexedCondition, filter_.scanSql,
                                                       filter_.scanArguments, limit))
            return runRows(*indexed, block);
        QString sql;
        if (filter_.scanSql.isEmpty()) {
            const QString condition = scanCondition(database_, QStringLiteral("c2content"), pattern);
            if (const auto split = SplitScan::rows(database_, condition, {pattern}, limit, cancelled()))
                return runRows(*split, block);
            sql = UnfilteredScanStatement + condition;
        } else {
            sql = PassStatements[LooseContentPass] + scanCondition(database_, QStringLiteral("content"), pattern) +
                  filter_.scanSql;
        }
        sql += QStringLiteral(" LIMIT ") + QString::number(limit);
        const auto rows = readTextRows(database_, sql, QVariantList{pattern} + filter_.scanArguments, limit, 2);
        return rows ? runRows(*rows, block) : 0;
    }

    // The loose title pass's rows, kept for the statement while the table is
    // unchanged; from the index of titles when given its expression there
    // and it can answer.
    const std::vector<TextRow>& keptRows(const QString& sql, const QVariantList& arguments,
                                         const QString& titlesExpression)
    {
        QString key = sql;
        for (const QVariant& argument : arguments)
            key += QChar(0) + argument.toString();
        return KeptRows::of(database_).rows(database_, key, [&] {
            if (auto rows = titlesExpression.isEmpty() ? std::nullopt
                                                        : titleRows(titlesExpression, MaxRowsReadPerPass, false))
                return rows;
            return readTextRows(database_, sql, arguments, MaxRowsReadPerPass, 3);
        });
    }

    // The index of titles' rows for the expression, within the tag.
    std::optional<std::vector<TextRow>> titleRows(const QString& expression, int limit, bool withSnippet)
    {
        return NoteSearchIndex::titleRows(database_, expression, limit, withSnippet, filter_.titles);
    }

    // As run, over rows read before.
    template <typename Block>
    int runRows(const std::vector<TextRow>& rows, Block&& block)
    {
        int read = 0;
        for (; read < int(rows.size()) && !full(); ++read)
            block(rows[size_t(read)]);
        return read;
    }

    const std::function<bool()>& cancelled() const
    {
        static const std::function<bool()> never;
        return passes_ ? passes_->cancelled : never;
    }

    qsizetype size() const { return notes.size() + archived.size(); }
    bool full() const { return size() >= MaxRows; }
    bool isEmpty() const { return size() == 0; }

    // The key column names the storage too; the row's key is the file name after it.
    void add(int kind, const QString& keyColumn, const QString& title, const QString& snippet, const QString& folder,
             double score = 0)
    {
        const int storage = Note::storageKeyForSearchName(folder);
        const QString key = keyColumn.mid(keyColumn.lastIndexOf(QLatin1Char('/')) + 1);
        (storage == NoteStorageArchive ? archived : notes)
            .append(std::make_shared<ListItem>(kind, key, title, snippet, storage, score));
    }

    Note::ListItemList notes;
    Note::ListItemList archived;
    // Key column values of the title rows, so a note is listed once.
    QSet<QString> seen;

private:
    SLDatabase& database_;
    TagFilter filter_;
    const Note::SearchPasses* passes_;
};

} // namespace

void Note::searchDatabase(SLDatabase& database, const QString& query, const SearchBlock& block)
{
    searchDatabase(database, query, 0, QString(), block);
}

void Note::searchDatabase(SLDatabase& database, const QString& typed, int storage, const QString& tag,
                          const SearchBlock& block, SearchPasses* passes)
{
    const QString query = withoutControls(typed);
    if (query.isEmpty()) {
        block({}, {});
        return;
    }
    DatabaseSearch search(database, storage, tag, passes);
    const bool hasSyntax = query.contains(QLatin1Char('*')) || query.contains(QLatin1Char('"'));
    const QString prefix = hasSyntax ? query : query + QLatin1Char('*');

    search.run(TitlePass, prefix, [&](const auto& row) {
        const QString key = row.stringForColumnIndex(0);
        if (search.seen.contains(key))
            return;
        const QString snippet = row.stringForColumnIndex(3);
        search.add(ListItemTitleMatch, key, row.stringForColumnIndex(1), snippet, row.stringForColumnIndex(2),
                   fuzzyScore(snippet, query));
        search.seen.insert(key);
    });

    // For a query of one letter or digit the loose expression is the title
    // pass's own and finds nothing new.
    const QString first = firstCharacter(query);
    const bool looseIsTitle = first == query && !hasSyntax && first.at(0).isLetterOrNumber();
    if (!looseIsTitle) {
        search.run(LooseTitlePass, QLatin1Char('*') + first + QLatin1Char('*'), [&](const auto& row) {
            const QString key = row.stringForColumnIndex(0);
            if (search.seen.contains(key))
                return;
            const double score = fuzzyScore(row.stringForColumnIndex(1), query);
            if (score <= 0)
                return;
            search.add(ListItemFuzzyMatch, key, query, QString(), row.stringForColumnIndex(2), score);
            search.seen.insert(key);
        });
    }

    sortByScore(search.notes);
    sortByScore(search.archived);

    search.run(ContentPass, prefix, [&](const auto& row) {
        const QString key = row.stringForColumnIndex(0);
        if (!search.seen.contains(key))
            search.add(ListItemContentMatch, key, row.stringForColumnIndex(1), row.stringForColumnIndex(3),
                       row.stringForColumnIndex(2));
    });

    // The full scan runs only when the indexed passes found nothing, and not
    // at all when a shorter query it extends found nothing in it.
    if (search.isEmpty() && !(passes && passes->skipLooseContent)) {
        QString pattern = query;
        pattern.replace(QLatin1Char(' '), QLatin1Char('%'));
        const int found =
            search.run(LooseContentPass, QLatin1Char('%') + pattern + QLatin1Char('%'), [&](const auto& row) {
                search.add(ListItemFuzzyMatch, row.stringForColumnIndex(0), query, QString(),
                           row.stringForColumnIndex(1));
            });
        if (passes)
            passes->looseContentFoundNothing = found == 0;
    }

    block(search.notes, search.archived);
}

void Note::searchTagWithQuery(const QString& query, int tag, const TagSearchBlock& block)
{
    const QString directory = linkDirectoryForTag(tag);
    const QString sign = tag == NoteTagMention ? QStringLiteral("@") : QStringLiteral("#");
    QList<MatchEntry> entries;
    // A missing or unlistable folder lists nothing; without QDir::Hidden,
    // names beginning with "." (the folder's own files) are left out.
    const QStringList names = QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const double score = fuzzyScore(sign + name, query);
        if (score <= 0)
            continue;
        QString key = name;
        const QString metaPath = metaFileForTag(tag, name);
        if (QFileInfo::exists(metaPath)) {
            QFile meta(metaPath);
            if (!meta.open(QIODevice::ReadOnly))
                continue;
            const QString spelling = QString::fromUtf8(meta.readAll());
            // A spelling of another tag is not shown under this one.
            if (spelling.toLower() != name)
                continue;
            key = spelling;
        }
        entries.append({key, score, tag});
    }
    sortByScore(entries);

    ListItemList items;
    for (const MatchEntry& entry : entries)
        items.append(std::make_shared<ListItem>(ListItemTagEntry, entry.key, sign + entry.key, query, entry.storage,
                                                entry.score));
    block(items);
}

void Note::searchStorageWithQuery(const QString& query, const TagSearchBlock& block)
{
    QList<MatchEntry> entries;
    for (const auto& [name, storage] : {std::pair{QStringLiteral("All"), NoteStorageInbox},
                                        std::pair{QStringLiteral("Archive"), NoteStorageArchive}}) {
        const double score = fuzzyScore(name, query);
        if (score > 0)
            entries.append({name, score, storage});
    }
    sortByScore(entries);

    ListItemList items;
    for (const MatchEntry& entry : entries)
        items.append(std::make_shared<ListItem>(ListItemTagEntry, QString(), entry.key, query, entry.storage,
                                                entry.score));
    block(items);
}
