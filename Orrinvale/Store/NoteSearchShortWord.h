#pragma once

#include "TextRows.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>

#include <functional>
#include <optional>

class SLDatabase;

// A content query of whole words ending in the first letter or two of
// another ("buy m"). The word table answers a prefix that short by merging
// the lists of every word starting with it, a large part of the index, before
// it gives a row. Instead the notes holding the whole words are read in table
// order, those whose text may hold a word with that start are copied into a
// table of the same columns in memory, and the query itself runs there: the
// same rows in the same order, with the same snippets. Copying costs most:
// only the rows the caller still wants are copied, and a large batch goes
// into two such tables at once, on two threads.
class NoteSearchShortWord {
public:
    struct Query {
        // The whole words, a full-text query of their own.
        QString words;
        // The last word: one or two ASCII letters or digits, in lower case.
        QByteArray start;
    };
    // The query's parts when it is such a query: words of letters and digits
    // alone, none of them an operator.
    static std::optional<Query> split(const QString& query);

    struct Pass {
        // Reads four columns of "notes", the full-text expression its first argument.
        QString statement;
        // Appended to the statement, with its own arguments after the expression.
        QString restriction;
        QVariantList restrictionArguments;
        QString expression;
        // Names every note the expression may match.
        QString wordsExpression;
        QByteArray start;
        // The rows the caller means to take, at most.
        int wanted = 0;
        // The notes the caller lists already, by their key column: passed
        // over before their text is copied, as the caller would drop them.
        std::function<bool(const QString& key)> listed = {};
        // Names the notes of the tag the restriction keeps to, by its words
        // alone; with the query's whole words, as typed. A small tag's notes
        // are read in full and their text tested for the words here, where
        // the word table would read the whole lists of common words or read
        // every word of each note again.
        QString tagExpression = {};
        QString words = {};
    };
    // Hands take() the pass's rows in table order while it answers that it
    // wants more.
    // False, with nothing handed, when too few of the many notes holding the
    // words hold the start, or too few of the first ones copied match: the
    // plain statement answers sooner then.
    static bool rows(SLDatabase& db, const Pass& pass, const std::function<bool(const TextRow&)>& take);

    // False only where the word table's tokenizer finds no word starting
    // with start (lower-case ASCII) in the UTF-8 text.
    static bool mayHoldWordStarting(QByteArrayView text, QByteArrayView start);
};
