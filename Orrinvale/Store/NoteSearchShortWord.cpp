#include "NoteSearchShortWord.h"

#include "Dispatch.h"
#include "SLDatabase.h"
#include "SLResultSet.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <limits>
#include <memory>

namespace {

// The notes holding the words read before the plain statement is judged the
// cheaper, if they gave too few with the start: a few milliseconds.
constexpr int FirstBatchReadLimit = 600;
// Copies of the first batch for each row they match, at most, before the
// plain statement is judged the cheaper: it costs about as much as copying
// eight times a full list.
constexpr int CopiesPerMatchAtMost = 8;
// The copies of a first batch too small to judge by.
constexpr int LeastCopiesJudged = 32;
// The rows each thread matches at a time, at least: a run costs a
// transaction and a statement of its own.
constexpr int RowsPerRun = 16;
// The most notes of a tag read in full: reading and testing a note costs a
// tenth of the word table's own test of it, and reading a large tag whole
// would cost more than the lists of the query's words.
constexpr int SmallTagNotes = 500;

const QString CandidateStatement =
    QStringLiteral("SELECT docid, key, title, content, folder, hashtag, mention FROM notes WHERE content MATCH ?");
const QString CopyStatement = QStringLiteral(
    "INSERT INTO notes(docid, key, title, content, folder, hashtag, mention) VALUES(?, ?, ?, ?, ?, ?, ?)");
constexpr int CandidateColumns = 7;
constexpr int KeyColumn = 1;
constexpr int ContentColumn = 3;

bool isAsciiWordByte(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Letters and digits the word table's tokenizer keeps whole in a word, as it
// has since long before the tables it was built with: Latin ones.
bool isPlainWordCharacter(QChar c)
{
    return c.unicode() < 0x250 && c.isLetterOrNumber();
}

bool isOperator(const QString& word)
{
    static const QStringList operators = {QStringLiteral("and"), QStringLiteral("or"), QStringLiteral("not"),
                                          QStringLiteral("near")};
    return operators.contains(word, Qt::CaseInsensitive);
}

// The code point starting at a UTF-8 lead byte.
char32_t codePointAt(QByteArrayView text, qsizetype i)
{
    const uchar lead = uchar(text[i]);
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < text.size(); ++k)
        c = (c << 6) | (uchar(text[i + k]) & 0x3F);
    return c;
}

// Outside ASCII the tokenizer folds only accented Latin letters and a few
// letter-like symbols (the kelvin and ångström signs) into ASCII ones.
bool mayFoldToAscii(char32_t c)
{
    return c < 0x2000 || (c >= 0x2100 && c < 0x2150);
}

using CopiedRows = QList<QVariantList>;

// A table of the notes' own columns and tokenizer, in memory, kept empty
// between batches while the notes' columns stay the same. Its rows are
// matched before the transaction ends and then rolled back: the table
// answers from the words it holds pending, which a commit would first write
// into its segments, a fifth of the whole time.
class ScratchTable {
public:
    // The pass's rows among the copied ones, in table order; null on a failure.
    std::optional<std::vector<TextRow>> matches(const QString& schema, CopiedRows::const_iterator begin,
                                                CopiedRows::const_iterator end, const NoteSearchShortWord::Pass& pass)
    {
        if (begin == end)
            return std::vector<TextRow>();
        if (!open(schema) || !db_->beginTransaction()) {
            db_ = nullptr;
            return std::nullopt;
        }
        const bool all = std::all_of(begin, end, [&](const QVariantList& row) {
            return db_->executeUpdateWithArgumentsInArray(CopyStatement, row);
        });
        auto found = all ? readTextRows(*db_, pass.statement + pass.restriction,
                                        QVariantList{pass.expression} + pass.restrictionArguments, int(end - begin), 4)
                         : std::nullopt;
        if (!db_->rollback())
            db_ = nullptr;
        return found;
    }

private:
    bool open(const QString& schema)
    {
        if (db_ && schema == schema_)
            return true;
        db_ = SLDatabase::databaseWithPath(QStringLiteral(":memory:"));
        if (!db_->open() || !db_->executeUpdate(schema))
            return false;
        db_->setShouldCacheStatements(true);
        schema_ = schema;
        return true;
    }

    std::shared_ptr<SLDatabase> db_;
    QString schema_;
};

// The second thread matching a batch and the tables of both, kept with the
// connection.
struct Helper {
    DispatchQueuePtr queue = DispatchQueue::createSerial(QStringLiteral("search.short-word"));
    ScratchTable own;
    ScratchTable helpers;
};

Helper& helperFor(SLDatabase& db)
{
    static const char key = 0;
    auto helper = std::static_pointer_cast<Helper>(db.attachment(&key));
    if (!helper) {
        helper = std::make_shared<Helper>();
        db.setAttachment(&key, helper);
    }
    return *helper;
}

// A batch cut into runs of rows that both threads take one at a time, each
// into its own table, until none is left: a thread held up by other work
// leaves its share to the other.
class Runs {
public:
    Runs(const QString& schema, const CopiedRows& rows, const NoteSearchShortWord::Pass& pass)
        : schema_(schema), rows_(rows), pass_(pass), found_(size_t(std::max<qsizetype>(1, rows.size() / RowsPerRun)))
    {
    }

    int count() const { return int(found_.size()); }

    void work(ScratchTable& table)
    {
        for (int run = next_.fetch_add(1); run < count(); run = next_.fetch_add(1)) {
            found_[size_t(run)] =
                table.matches(schema_, rows_.cbegin() + start(run), rows_.cbegin() + start(run + 1), pass_);
        }
    }

    // Every run's rows in table order; null when one failed.
    std::optional<std::vector<TextRow>> take()
    {
        std::vector<TextRow> rows;
        for (auto& found : found_) {
            if (!found)
                return std::nullopt;
            rows.insert(rows.end(), std::make_move_iterator(found->begin()), std::make_move_iterator(found->end()));
        }
        return rows;
    }

private:
    qsizetype start(int run) const { return rows_.size() * run / count(); }

    const QString& schema_;
    const CopiedRows& rows_;
    const NoteSearchShortWord::Pass& pass_;
    std::atomic<int> next_ {0};
    std::vector<std::optional<std::vector<TextRow>>> found_;
};

// The pass's rows among the copied ones, in table order; null on a failure.
// A batch of more than one run is matched on the helper's thread as well,
// unless that thread has not started by the time this one is done.
std::optional<std::vector<TextRow>> matchesAmong(SLDatabase& db, const QString& schema, const CopiedRows& copied,
                                                 const NoteSearchShortWord::Pass& pass)
{
    Helper& helper = helperFor(db);
    Runs runs(schema, copied, pass);
    if (runs.count() == 1) {
        runs.work(helper.own);
        return runs.take();
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    // The block works on this function's runs: it ends before they do.
    DispatchRetractable second = helper.queue->asyncRetractable([&runs, &helper, done] {
        runs.work(helper.helpers);
        done->store(true);
        done->notify_all();
    });
    runs.work(helper.own);
    if (!second.runHereIfWaiting())
        done->wait(false);
    return runs.take();
}

struct Batch {
    CopiedRows rows;
    // No candidate is left after these.
    bool exhausted = false;
};

// The notes that may match: those holding the whole words, or every note of
// a small tag with the words (lower-case ASCII ones) to test on its text.
struct Candidates {
    SLResultSet rows;
    QList<QByteArray> words;

    Candidates(SLDatabase& db, const NoteSearchShortWord::Pass& pass)
    {
        const bool smallTag =
            !pass.tagExpression.isEmpty() &&
            db.intForQuery(QStringLiteral("SELECT count(*) FROM (SELECT docid FROM notes WHERE notes MATCH ? LIMIT ?)"),
                           pass.tagExpression, SmallTagNotes + 1) <= SmallTagNotes &&
            !db.hadError();
        rows = db.executeQueryWithArgumentsInArray(
            CandidateStatement + pass.restriction,
            QVariantList{smallTag ? pass.tagExpression : pass.wordsExpression} + pass.restrictionArguments);
        if (!smallTag)
            return;
        // A word outside ASCII may match text the test cannot tell: the
        // copy's own match decides.
        for (const QString& word : pass.words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (std::all_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 0x80; }))
                words.append(word.toLatin1().toLower());
        }
    }

    bool mayMatch(QByteArrayView text, QByteArrayView start) const
    {
        return NoteSearchShortWord::mayHoldWordStarting(text, start) &&
               std::all_of(words.begin(), words.end(), [&](const QByteArray& word) {
                   return NoteSearchShortWord::mayHoldWordStarting(text, word);
               });
    }
};

// The next candidates that may match, copied, up to wanted of them or until
// readLimit were read; the notes the caller lists already are passed over.
Batch nextBatch(Candidates& candidates, const NoteSearchShortWord::Pass& pass, int wanted, int readLimit,
                Error& error)
{
    SLResultSet& rows = candidates.rows;
    Batch batch;
    for (int read = 0; batch.rows.size() < wanted && read < readLimit; ++read) {
        if (!rows.nextWithError(&error)) {
            batch.exhausted = true;
            break;
        }
        if (pass.listed && pass.listed(rows.stringForColumnIndex(KeyColumn)))
            continue;
        if (!candidates.mayMatch(rows.dataNoCopyForColumnIndex(ContentColumn), pass.start))
            continue;
        QVariantList row;
        for (int column = 0; column < CandidateColumns; ++column)
            row.append(rows.objectForColumnIndex(column));
        batch.rows.append(std::move(row));
    }
    return batch;
}

} // namespace

std::optional<NoteSearchShortWord::Query> NoteSearchShortWord::split(const QString& query)
{
    QStringList words = query.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return std::nullopt;
    const QString last = words.takeLast();
    const bool shortAscii = last.size() <= 2 && std::all_of(last.begin(), last.end(), [](QChar c) {
                                return c.unicode() < 0x80 && isAsciiWordByte(uchar(c.unicode()));
                            });
    const bool plain = std::all_of(words.begin(), words.end(), [](const QString& word) {
        return !isOperator(word) && std::all_of(word.begin(), word.end(), isPlainWordCharacter);
    });
    if (!shortAscii || isOperator(last) || !plain)
        return std::nullopt;
    return Query{words.join(QLatin1Char(' ')), last.toLatin1().toLower()};
}

bool NoteSearchShortWord::mayHoldWordStarting(QByteArrayView text, QByteArrayView start)
{
    for (qsizetype i = 0; i + start.size() <= text.size(); ++i) {
        const uchar first = uchar(text[i]);
        // Inside a character, or inside a word: no word starts here.
        if ((first & 0xC0) == 0x80 || (i > 0 && isAsciiWordByte(uchar(text[i - 1]))))
            continue;
        if (first >= 0x80) {
            if (mayFoldToAscii(codePointAt(text, i)))
                return true;
            continue;
        }
        qsizetype j = 0;
        while (j < start.size() && uchar(text[i + j]) < 0x80 && (text[i + j] | 0x20) == start[j])
            ++j;
        // A character outside ASCII may fold to the letter, or lose its
        // accent and leave the next one in its place.
        if (j == start.size() || uchar(text[i + j]) >= 0x80)
            return true;
    }
    return false;
}

bool NoteSearchShortWord::rows(SLDatabase& db, const Pass& pass, const std::function<bool(const TextRow&)>& take)
{
    const QString schema =
        db.stringForQuery(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'notes'"));
    if (schema.isEmpty() || pass.wanted <= 0)
        return false;
    // Their cursor closes at every return, before the caller reads anything else.
    Candidates candidates(db, pass);
    Error error;
    int handed = 0;
    bool first = true;
    bool exhausted = false;
    while (!exhausted) {
        // One row at a time once the caller takes more than it meant to.
        const int wanted = std::max(1, pass.wanted - handed);
        const Batch batch = nextBatch(candidates, pass, wanted,
                                      first ? FirstBatchReadLimit : std::numeric_limits<int>::max(), error);
        exhausted = batch.exhausted;
        const auto found = error.isNull() ? matchesAmong(db, schema, batch.rows, pass) : std::nullopt;
        // Nothing handed yet: the plain statement can still answer, and
        // answers sooner when few notes hold the start or few of those
        // copied match (text outside ASCII, which the test lets through).
        const bool fewMatch = found && batch.rows.size() >= LeastCopiesJudged &&
                              qsizetype(found->size()) * CopiesPerMatchAtMost < batch.rows.size();
        if (first && (!found || (!exhausted && (batch.rows.size() < wanted || fewMatch))))
            return false;
        first = false;
        for (const TextRow& row : found.value_or(std::vector<TextRow>())) {
            ++handed;
            if (!take(row))
                return true;
        }
        exhausted = exhausted || !found;
    }
    return true;
}
