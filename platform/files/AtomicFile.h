#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// Saving a file so that a reader sees either the old bytes or the new ones,
// never a mixture: the data goes to a temporary file in the same folder, is
// flushed to disk and renamed over the target. A file that was there keeps its
// permissions and its creation date. On any failure the temporary is removed
// and the old file is left as it was. A symbolic link is written through to
// its target. The folder must exist; an empty path is refused.
namespace AtomicFile {

// flushFolder also flushes the folder itself, so the rename survives a crash
// (used for note text files).
bool write(const QString& path, const QByteArray& data, Error* error = nullptr, bool flushFolder = false);
// The same replacement, made only while unchanged() answers true for the file
// in place: it is asked just before the rename, under a lock on the folder
// that every such save takes, so that of two saves over one version (in this
// process or another) only one passes. Fails with ESTALE, the file left
// alone, when it answers false.
bool writeIfUnchanged(const QString& path, const QByteArray& data, const std::function<bool()>& unchanged,
                      Error* error = nullptr);
// The same for a new file: fails with EEXIST, and leaves the entry alone,
// when the name is taken, even by an entry that appears meanwhile.
bool create(const QString& path, const QByteArray& data, Error* error = nullptr, bool flushFolder = false);
// The same replacement for a cache the program can make again, without
// waiting for the disk: after a crash the file may be empty, and its readers
// take a record they cannot read for a missing one. A new cache file is the
// user's alone (0600).
bool writeCache(const QString& path, const QByteArray& data, Error* error = nullptr);
// A new cache file named by path inside the folder open as folder, every name
// resolved from there: 0 when written, else the errno, EEXIST when the name is
// taken (the entry is left alone). It is written under its own name, so a
// reader may find it empty for a moment, as after a crash.
int createCacheAt(int folder, const QString& path, const QByteArray& data);
// The same with path resolved as it stands.
int createCache(const QString& path, const QByteArray& data);

// True when path is a regular file holding exactly data (read through a
// symbolic link): saving the same bytes again then needs only their dates,
// and spares the disk a flush. False where a save would be refused.
bool holds(const QString& path, const QByteArray& data);

// Durable saves made inside collect() on its thread flush their file but
// leave its folder to the holder, which flushes each folder it was left once,
// at flush() or at its end: a batch of notes pays one folder flush. Nothing
// may say such a file is on disk before then. Saves outside collect() flush
// their folder themselves; a holder collecting inside another's collect()
// takes the folders until its own collect() returns.
class FolderFlushes {
public:
    FolderFlushes() = default;
    ~FolderFlushes();
    FolderFlushes(const FolderFlushes&) = delete;
    FolderFlushes& operator=(const FolderFlushes&) = delete;

    void collect(const std::function<void()>& work);
    void flush();
    // The same, the folders flushed on the pool while meanwhile runs here:
    // work with its own wait for the disk shares a commit with theirs.
    void flushWhile(const std::function<void()>& meanwhile);

private:
    std::vector<QString> folders_;
};

// Texts written ahead of their saves: prepare() writes each to a temporary
// beside its target and only starts it toward the disk; makeDurable() then
// waits for them all, so that one commit of the file system carries them
// instead of one commit each. A durable save on the holder's thread of the
// same target and bytes only moves its temporary into place. Temporaries no
// save took are removed at the end; the inner of two holders answers saves.
class Prepared {
public:
    Prepared();
    ~Prepared();
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    void prepare(const QString& path, const QByteArray& data);
    // With meanwhile, every wait is on the pool while it runs here.
    void makeDurable(const std::function<void()>& meanwhile = {});
    // For the saves: the durable temporary holding exactly data for the
    // absolute target, taken once; empty when there is none.
    QByteArray take(const QString& target, const QByteArray& data);

private:
    struct Entry {
        QString target;
        QByteArray temporary;
        QByteArray data;
        int fd = -1;
        bool durable = false;
    };
    std::vector<Entry> entries_;
    Prepared* outer_;
};

// Where a disk cannot be filled or made read-only (tests without mount
// rights), a check answers the errno a save of the path fails with, before
// anything is written; 0 lets it run. An empty check removes it.
void setFaultCheck(std::function<int(const QString& path)> check);
// Tests see each folder flush and each text made durable ahead: the watch
// is told the folder, or the text's temporary, once it was flushed. An empty
// watch removes it.
void setFlushWatch(std::function<void(const QString& folder)> watch);

} // namespace AtomicFile
