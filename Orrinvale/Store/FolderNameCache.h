#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

// The names in the store's folders, compared the way peers' file systems do
// (case and Unicode normalisation ignored), so that finding a free name does
// not list a folder of tens of thousands of notes each time. A folder is
// listed the first time it is asked about and kept current from the file
// system's change events, the store's own writes, moves and deletes and
// those from outside alike. Where no events can be had, each question lists
// the folder again. A name taken between the question and the write is
// caught by the write: a new note's file is created exclusively.
class FolderNameCache {
public:
    static FolderNameCache& shared();
    ~FolderNameCache();
    FolderNameCache(const FolderNameCache&) = delete;
    FolderNameCache& operator=(const FolderNameCache&) = delete;

    // The first of the candidates (given by number from 0 until a null
    // string) that no entry of the folder has once folded; null when all are
    // taken.
    QString firstFree(const QString& folder, const std::function<QString(int)>& candidate);

    static QString folded(const QString& name);

    // Lists and watches the folder now unless that was done, so the first
    // question about it does not wait for a listing. The start-up rebuild
    // calls it for each storage folder it walks.
    void prepare(const QString& folder);

private:
    FolderNameCache();

    // Folded name to the spellings on disk that fold to it.
    using Names = QHash<QString, QStringList>;
    struct Folder {
        int watch = -1;
        Names names;
    };

    Names& current(const QString& folder);
    static void list(const QString& folder, Names& names);
    static void add(Names& names, const QString& spelling);
    static void remove(Names& names, const QString& spelling);
    // Applies the queued change events; false when some were lost.
    bool applyEvents();
    void forgetAll();

    std::mutex mutex_;
    int events_ = -1;
    QHash<QString, Folder> folders_;
    QHash<int, QString> watched_;
};
