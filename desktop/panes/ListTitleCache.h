#pragma once

#include "Store/ListItem.h"
#include "files/FileDates.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

// A folder open for lookups by name inside it, closed with the object; -1 when it cannot be opened.
struct OpenFolder {
    explicit OpenFolder(const QString& path);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const int fd;
};

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

    struct Entry {
        FileDates::Version version;
        QString title;
    };
    // After a listing in which `found` rows had their titles here: keeps the titles read afresh and,
    // when the rows are the storage's whole folder, drops those of notes no longer listed. The file is
    // written again when that changed anything.
    void keep(const QHash<QString, Entry>& fresh, qsizetype found, const QList<ListItemPtr>& rows, bool whole);

private:
    void read();
    void write() const;

    QString path_;
    QHash<QString, Entry> entries_;
};

// The titles of one listing by title, read from any thread: the kept title of a note unchanged since,
// else its header file's, kept in turn when the note's index marker matches its text file (the store
// writes the header before that marker, so the marker, looked at first, vouches for it).
class ListTitleReader {
public:
    ListTitleReader(ListTitleCache& cache, int storage);

    // Once for each name listed, or made ahead of the listing; `finish` gets the rows listed.
    void read(ListItem& item, const FileDates::Version& version);
    // The listing is over: the cache keeps what was read.
    void finish(const QList<ListItemPtr>& rows, bool whole);

    // The title in the note's header file; empty when it cannot be read.
    static QString headerTitle(const QString& key, int storage);

private:
    ListTitleCache& cache_;
    const OpenFolder headers_;
    const OpenFolder markers_;
    // Rows without a kept title, counted instead of the rows with one: they are few, so the threads
    // seldom pass the count between cores.
    std::atomic<qsizetype> missed_ = 0;
    std::mutex mutex_;
    QHash<QString, ListTitleCache::Entry> fresh_;
};
