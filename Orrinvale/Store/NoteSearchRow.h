#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class SLDatabase;

// A note's row in the full-text table notes(key, title, content, folder,
// hashtag, mention). The table has no index on key, so a row is found through
// the key index beside it (NoteSearchIndex), else through the key column's
// full-text index and the exact key, then written by row id: "WHERE key=?"
// would read the whole table.
class NoteSearchRow {
public:
    NoteSearchRow() = default;
    // Every tag goes into the row in lower case, whatever the storage.
    NoteSearchRow(int storage, const QString& key, const QString& title, const QString& text,
                  const QStringList& hashtags, const QStringList& mentions);

    // "inbox/Plan.txt": the storage's search name, a slash and the file name.
    static QString searchKey(int storage, const QString& key);
    // The text as the full-text table holds it: heading marks, emphasis and
    // bracket characters and rules taken out.
    static QString cleanedContent(const QString& text);

    // Updates the key's row or inserts it; true when the row is in.
    bool write(SLDatabase& db) const;
    // The table's row ids by key, read in one pass over the table.
    using RowIds = QHash<QString, QList<qint64>>;
    static RowIds readRowIds(SLDatabase& db);
    // The rows in one transaction, looked up in ids, which gains the rows
    // inserted; each flag says whether that row is in.
    static QList<bool> writeAll(SLDatabase& db, const QList<NoteSearchRow>& rows, RowIds& ids);
    // The same for a few rows, each looked up by its key.
    static QList<bool> writeAll(SLDatabase& db, const QList<NoteSearchRow>& rows);
    // The lower-case tags in the key's rows; false when it has no row.
    static bool readTags(SLDatabase& db, const QString& searchKey, QStringList* hashtags, QStringList* mentions);
    // The search key of every row.
    static QStringList keys(SLDatabase& db);
    // Deletes every row of the search key.
    static bool remove(SLDatabase& db, const QString& searchKey);

    QString key;
    QString title;
    QString content;
    QString folder;
    QString hashtag;
    QString mention;

private:
    static QList<qint64> rowIdsForKey(SLDatabase& db, const QString& searchKey);
    // Each key's ids through the key index, else through the full-text index.
    static RowIds rowIdsForKeys(SLDatabase& db, const QStringList& searchKeys);
    static QList<qint64> rowIdsMatchingKey(SLDatabase& db, const QString& searchKey);
    static bool changeTogether(SLDatabase& db, const QList<qint64>& replaced, const std::function<bool()>& change,
                               const std::function<QList<qint64>()>& written);
    // Updates the first of the key's rows (deleting the others) or inserts one.
    bool write(SLDatabase& db, const QList<qint64>& ids) const;
};
