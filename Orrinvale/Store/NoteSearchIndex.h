#pragma once

#include "TextRows.h"

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>
#include <vector>

class SLDatabase;

// Every note's words indexed a second time by runs of three characters, in the
// table notes_word_runs beside the word table: a LIKE pattern holding such a run
// is answered from the notes that hold all of its runs, and one of one or two
// ASCII characters from the notes holding a run that starts with them, instead
// of reading every note's text. The index keeps only which notes hold a run,
// so the pattern itself is still tested on each of those notes' text.
//
// Every title indexed a second time by its words, in the table notes_titles:
// a title query there reads the lists of the titles' words alone, where the
// word table would merge those of every word of the notes' text that shares
// a prefix, tens of milliseconds for a short one in a large store.
//
// Every key indexed a second time, in the plain table notes_keys(docid, key):
// a note's row is found there by its exact key, where the word table would
// read the lists of its words, in every row for the folder and the extension.
//
// The rows are written with the notes' rows by NoteSearchRow. Any other write
// to the notes (another connection, another program, a statement of its own)
// leaves the indexes behind, which the database itself shows; opening the
// database, or the next search that would use them, fills them afresh first.
class NoteSearchIndex {
public:
    // Creates the tables that are missing and fills those that do not follow
    // the notes.
    static void create(SLDatabase& db);
    // Leaves the indexes behind the notes, so that the writes until the next
    // fill skip them: after many rows, one fill costs less than following
    // each transaction.
    static void leaveBehind(SLDatabase& db);
    // A writer of many rows into an empty table can fill the indexes left
    // behind a part at a time, in step with its writes: emptied first, the
    // indexes take the rows above a row id, and are marked as following the
    // notes once every row is in. Each is false (null) when the indexes
    // cannot be so filled: no tables, filled afresh meanwhile (a search), or
    // a failed statement; the writer then leaves them to be filled afresh.
    static bool emptyBehind(SLDatabase& db);
    // A row's distinct words (distinctWords) made off the database's queue,
    // with the size in bytes of the content they were made from.
    struct KnownWords {
        qsizetype contentBytes = 0;
        QByteArray words;
    };
    using WordsByRow = QHash<qint64, KnownWords>;
    // Adds the rows with ids above after; the last row id added (after when
    // none is above). The words of a row in known are taken as they are when
    // its content still has their size.
    static std::optional<qint64> addRowsAbove(SLDatabase& db, qint64 after, const WordsByRow* known = nullptr);
    static bool markFollowing(SLDatabase& db);

    // Writes of notes rows, inserted, updated or deleted: the old entries of
    // the rows replaced go before the writes, those of the rows written after.
    class Change {
    public:
        Change(SLDatabase& db, const QList<qint64>& replacedRows);
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;
        // After the writes; rows are those now holding the text written.
        void finish(bool written, const QList<qint64>& rows);

    private:
        SLDatabase& db_;
        bool inStep_;
    };

    // For each key, the row ids of the notes rows whose key is exactly that,
    // in row order; null when the key index cannot answer (no table, left
    // behind by a write it did not see, a failed statement).
    static std::optional<QHash<QString, QList<qint64>>> rowsOfKeys(SLDatabase& db, const QStringList& keys);

    // The words of a row's content (its runs between blanks) as the run index
    // takes them: each once, in the order they first appear, joined by blanks.
    static QByteArray distinctWords(QByteArrayView text);

    // The full-text expression naming every run of three characters in the
    // LIKE pattern, whose "%" and "_" stand between runs; empty when it has
    // none and the index cannot narrow the notes.
    static QString runsOf(const QString& pattern);

    // Up to limit rows (key, folder) of "SELECT c0key, c3folder FROM
    // notes_content WHERE " + condition + restriction, in table order, with
    // condition testing c2content against the pattern (bound first) and the
    // restriction's own arguments after it; null when the index cannot answer
    // (no table, a pattern it cannot narrow, a failed statement). With a
    // restriction only runs of three are looked up.
    static std::optional<std::vector<TextRow>> rows(SLDatabase& db, const QString& pattern, const QString& condition,
                                                    const QString& restriction, const QVariantList& arguments,
                                                    int limit);

    // Narrows a title query to the notes of one tag.
    struct TitleNarrowing {
        // Words of the tag's column ("hashtag:work"), all of which a note holds.
        QString columnWords;
        // A condition on the notes_content columns of the row, and its arguments.
        QString restriction;
        QVariantList arguments;

        // "columnWords AND (query)"; the query alone without column words.
        QString expression(const QString& query) const;
    };
    // Up to limit rows (key, title, folder[, title snippet]) of "FROM notes
    // WHERE title MATCH expression", in table order, the snippet as
    // "snippet(notes, '[', ']', '...', 1, 64)" gives it; null when the index
    // cannot answer (no table, an expression naming a column, a failed
    // statement). Narrowed by the column's words and the restriction.
    static std::optional<std::vector<TextRow>> titleRows(SLDatabase& db, const QString& expression, int limit,
                                                         bool withSnippet, const TitleNarrowing& narrowing = {});
};
