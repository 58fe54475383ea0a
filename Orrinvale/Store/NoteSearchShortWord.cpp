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
// Rows below which a batch is not split between two threads.
constexpr int SmallestSplitRows = 16;

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

// The thread that matches the upper half of a batch, kept with the connection.
DispatchQueue& helperQueue(SLDatabase& db)
{
    static const char key = 0;
    auto queue = std::static_pointer_cast<DispatchQueue>(db.attachment(&key));
    if (!queue) {
        queue = DispatchQueue::createSerial(QStringLiteral("search.short-word"));
        db.setAttachment(&key, queue);
    }
    return *queue;
}

using CopiedRows = QList<QVariantList>;

// The pass's rows among the copied ones, in table order; null on a failure.
// They go into a fresh table of the notes' own columns and tokenizer, in
// memory, and are matched there before the transaction ends: the table
// answers from the words it holds pending, which a commit would first write
// into its segments, a fifth of the whole time.
std::optional<std::vector<TextRow>> matchesAmong(const QString& schema, CopiedRows::const_iterator begin,
                                                 CopiedRows::const_iterator end, const NoteSearchShortWord::Pass& pass)
{
    if (begin == end)
        return std::vector<TextRow>();
    const auto scratch = SLDatabase::databaseWithPath(QStringLiteral(":memory:"));
    if (!scratch->open() || !scratch->executeUpdate(schema) || !scratch->beginTransaction())
        return std::nullopt;
    scratch->setShouldCacheStatements(true);
    const bool all = std::all_of(begin, end, [&](const QVariantList& row) {
        return scratch->executeUpdateWithArgumentsInArray(CopyStatement, row);
    });
    auto found = all ? readTextRows(*scratch, pass.statement + pass.restriction,
                                    QVariantList{pass.expression} + pass.restrictionArguments, int(end - begin), 4)
                     : std::nullopt;
    scratch->rollback();
    return found;
}

// The upper half's outcome, handed from the helper's thread.
struct UpperHalf {
    std::optional<std::vector<TextRow>> rows;
    std::atomic<bool> done {false};
};

// As matchesAmong over every copied row: a batch large enough is matched in
// two halves at once, the upper one on the helper's thread, or here after
// the lower one when that thread has not started it by then.
std::optional<std::vector<TextRow>> matchesInHalves(SLDatabase& db, const QString& schema, const CopiedRows& copied,
                                                    const NoteSearchShortWord::Pass& pass)
{
    if (copied.size() < SmallestSplitRows)
        return matchesAmong(schema, copied.cbegin(), copied.cend(), pass);
    const auto middle = copied.cbegin() + copied.size() / 2;
    auto upper = std::make_shared<UpperHalf>();
    // The block reads the caller's rows: it ends before this function returns.
    DispatchRetractable upperRun = helperQueue(db).asyncRetractable([&, upper] {
        upper->rows = matchesAmong(schema, middle, copied.cend(), pass);
        upper->done.store(true);
        upper->done.notify_all();
    });
    std::optional<std::vector<TextRow>> rows = matchesAmong(schema, copied.cbegin(), middle, pass);
    if (!upperRun.runHereIfWaiting())
        upper->done.wait(false);
    if (!rows || !upper->rows)
        return std::nullopt;
    rows->insert(rows->end(), std::make_move_iterator(upper->rows->begin()),
                 std::make_move_iterator(upper->rows->end()));
    return rows;
}

struct Batch {
    CopiedRows rows;
    // No candidate is left after these.
    bool exhausted = false;
};

// The next candidates that may match, copied, up to wanted of them or until
// readLimit were read; the notes the caller lists already are passed over.
Batch nextBatch(SLResultSet& candidates, const NoteSearchShortWord::Pass& pass, int wanted, int readLimit,
                Error& error)
{
    Batch batch;
    for (int read = 0; batch.rows.size() < wanted && read < readLimit; ++read) {
        if (!candidates.nextWithError(&error)) {
            batch.exhausted = true;
            break;
        }
        if (pass.listed && pass.listed(candidates.stringForColumnIndex(KeyColumn)))
            continue;
        if (!NoteSearchShortWord::mayHoldWordStarting(candidates.dataNoCopyForColumnIndex(ContentColumn), pass.start))
            continue;
        QVariantList row;
        for (int column = 0; column < CandidateColumns; ++column)
            row.append(candidates.objectForColumnIndex(column));
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
    SLResultSet candidates = db.executeQueryWithArgumentsInArray(
        CandidateStatement + pass.restriction, QVariantList{pass.wordsExpression} + pass.restrictionArguments);
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
        const auto found = error.isNull() ? matchesInHalves(db, schema, batch.rows, pass) : std::nullopt;
        // Nothing handed yet: the plain statement can still answer.
        if (first && (!found || (!exhausted && batch.rows.size() < wanted))) {
            candidates.close();
            return false;
        }
        first = false;
        for (const TextRow& row : found.value_or(std::vector<TextRow>())) {
            ++handed;
            if (!take(row)) {
                candidates.close();
                return true;
            }
        }
        exhausted = exhausted || !found;
    }
    candidates.close();
    return true;
}
