#pragma once

#include "files/FileDates.h"

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// The titles a storage's list sorts by, each kept with the version of the note's text file it was
// read for, in memory and in one file beside the header folders: a list sorted by title then reads
// one file instead of a header file per note. A file changed since (by anyone) has another version,
// so its title is read again. A cache file that is missing, of another format or damaged counts as
// empty. Used on one thread at a time; `find` may run on many at once.
class ListTitleCache {
public:
    explicit ListTitleCache(QString path);
    // Where a storage's list keeps its titles.
    static QString fileForStorage(int storage);

    // The title kept for the note when its text file still has this version.
    const QString* find(const QString& key, const FileDates::Version& version) const;

    // A listed note: its key, its text file's version and its title when known to belong to that
    // version (kept or freshly read), else none.
    struct Row {
        QString key;
        FileDates::Version version;
        std::optional<QString> title;
        bool fresh = false;
    };
    // Keeps the titles of the rows; when the rows are the storage's whole folder, only theirs. The
    // file is written again when that changed anything.
    void keep(const std::vector<Row>& rows, bool whole);

private:
    struct Entry {
        FileDates::Version version;
        QString title;
    };
    void read();
    void write() const;

    QString path_;
    QHash<QString, Entry> entries_;
};
