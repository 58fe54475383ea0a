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
// The three indexes and their marks live in a file of their own beside the
// notes' (sideDatabasePath), attached to the connection as "side": a second
// connection can fill them while the notes' own writes the notes' rows.
//
// The rows are written with the notes' rows by NoteSearchRow. Any other write
// to the notes (another connection, another program, a statement of its own)
// leaves the indexes behind, which the database itself shows; opening the
// database, or the next search that would use them, fills them afresh first.
class NoteSearchIndex {
public:
    // The side file beside the notes' database file; empty for a database
    // in memory or a temporary one, whose side file is temporary too.
    static QString sideDatabasePath(const QString& databasePath);
    // Attaches the side file to the connection, once; one that is not a
    // database is made afresh. Not inside a transaction.
    static bool attach(SLDatabase& db);
    // Attaches the side file, creates the tables that are missing and fills
    // those that do not follow the notes.
    static void create(SLDatabase& db);
    // Leaves the indexes behind the notes, so that the writes until the next
    // fill skip them: after many rows, one fill costs less than following
    // each transaction.
    static void leaveBehind(SLDatabase& db);
    // A writer of many rows into an empty table can fill the indexes left
    // behind a part at a time, in step with its writes: emptied first, the
    // indexes take the rows as written, and are marked as following the
    // notes once every row is in. False when the indexes cannot be so
    // filled: no tables, filled afresh meanwhile (a search, on this
    // connection or another), or a failed statement; the writer then leaves
    // them to be filled afresh.
    static bool emptyBehind(SLDatabase& db);
    // A row as written, for the side indexes: its content's distinct words
    // (distinctWords), made off the database's queue, in place of the content.
    struct SideRow {
        qint64 docid = 0;
        QString key;
        QString title;
        QString hashtag;
        QString mention;
        QByteArray words;
    };
    // Adds the rows, in row order, to the indexes left behind.
    static bool addRows(SLDatabase& db, const QList<SideRow>& rows);
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
