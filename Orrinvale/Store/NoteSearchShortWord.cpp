#include "NoteSearchShortWord.h"

#include "SLDatabase.h"
#include "SLResultSet.h"

#include <QStringList>

#include <algorithm>

namespace {

// The notes holding the words read before the plain statement is judged the
// cheaper, if they gave too few with the start: a few milliseconds.
constexpr int FirstBatchReadLimit = 600;

const QString CandidateStatement =
    QStringLiteral("SELECT docid, key, title, content, folder, hashtag, mention FROM notes WHERE content MATCH ?");
const QString CopyStatement = QStringLiteral(
    "INSERT INTO notes(docid, key, title, content, folder, hashtag, mention) VALUES(?, ?, ?, ?, ?, ?, ?)");
constexpr int CandidateColumns = 7;
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

// A fresh table of the notes' own columns and tokenizer, in memory.
std::shared_ptr<SLDatabase> scratchTable(const QString& schema)
{
    auto scratch = SLDatabase::databaseWithPath(QStringLiteral(":memory:"));
    if (!scratch->open() || !scratch->executeUpdate(schema))
        return nullptr;
    scratch->setShouldCacheStatements(true);
    return scratch;
}

// The pass's rows among the copied ones, in table order; null on a failure.
std::optional<std::vector<TextRow>> matchesAmong(const QString& schema, const QList<QVariantList>& copied,
                                                 const NoteSearchShortWord::Pass& pass)
{
    if (copied.isEmpty())
        return std::vector<TextRow>();
    const auto scratch = scratchTable(schema);
    if (!scratch || !scratch->beginTransaction())
        return std::nullopt;
    const bool all = std::all_of(copied.begin(), copied.end(), [&](const QVariantList& row) {
        return scratch->executeUpdateWithArgumentsInArray(CopyStatement, row);
    });
    if (!all || !scratch->commit())
        return std::nullopt;
    return readTextRows(*scratch, pass.statement + pass.restriction,
                        QVariantList{pass.expression} + pass.restrictionArguments, int(copied.size()), 4);
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
    bool first = true;
    bool exhausted = false;
    while (!exhausted) {
        QList<QVariantList> copied;
        int read = 0;
        while (copied.size() < pass.wanted && !(first && read == FirstBatchReadLimit)) {
            if (!candidates.nextWithError(&error)) {
                exhausted = true;
                break;
            }
            ++read;
            if (!mayHoldWordStarting(candidates.dataNoCopyForColumnIndex(ContentColumn), pass.start))
                continue;
            QVariantList row;
            for (int column = 0; column < CandidateColumns; ++column)
                row.append(candidates.objectForColumnIndex(column));
            copied.append(std::move(row));
        }
        const auto found = error.isNull() ? matchesAmong(schema, copied, pass) : std::nullopt;
        // Nothing handed yet: the plain statement can still answer.
        if (first && (!found || (!exhausted && copied.size() < pass.wanted))) {
            candidates.close();
            return false;
        }
        first = false;
        for (const TextRow& row : found.value_or(std::vector<TextRow>())) {
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
