#include "NoteIndexRebuild.h"

#include "FolderListing.h"
#include "FolderNameCache.h"
#include "NoteIndexMarker.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"
#include "TagLinkIndex.h"

#include "Folders.h"
#include "Log.h"
#include "SLDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The meta file's dates: when missing, from the text file's; when older than
// the text, the text's. True when the file needs writing. An empty record (a
// crash before its bytes reached the disk) is read as missing, so it is made
// again too. The meta folder is open, or -1 when it could not be.
bool refreshMeta(Note& note, const NoteIndexMarker::Stamp& stamp, int metaFolder)
{
    const NoteIndexMarker::Stamp record =
        metaFolder >= 0 ? NoteIndexMarker::stampAt(metaFolder, QFile::encodeName(note.key()).constData())
                        : NoteIndexMarker::stampOf(Note::metaFileForKey(note.key(), note.storage()));
    const bool hadMeta = record.size > 0;
    note.restoreMeta();
    if (hadMeta && note.updatedOn() >= stamp.seconds)
        return false;
    note.setUpdatedOn(std::max(note.updatedOn(), stamp.seconds));
    return true;
}

int openFolder(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

NoteIndexRebuild::NoteIndexRebuild(int batchSize)
    : batchSize_(batchSize > 0 ? batchSize : 1),
      links_(DispatchQueue::createSerial(QStringLiteral("note-links"))),
      records_(DispatchQueue::createSerial(QStringLiteral("note-records")))
{
    // Tag folders changed while the application was closed are read afresh.
    TagLinkIndex::shared().forget();
}

NoteIndexRebuild::~NoteIndexRebuild()
{
    closeDocumentFolder();
    for (const int folder : openCacheFolders_)
        ::close(folder);
}

void NoteIndexRebuild::closeDocumentFolder()
{
    if (documentFolder_ >= 0)
        ::close(documentFolder_);
    documentFolder_ = -1;
}

bool NoteIndexRebuild::openNextStorage()
{
    if (storage_ == NoteStorageArchive)
        return false;
    storage_ = storage_ == 0 ? NoteStorageInbox : NoteStorageArchive;
    names_.clear();
    closeDocumentFolder();
    cacheFolders_ = {};
    next_ = 0;
    Error error;
    const QString folder = Note::documentDirectoryForStorage(storage_);
    if (!QFileInfo::exists(folder))
        return false;
    if (!listFolderNames(folder, &names_, &error)) {
        LogError("build:reload error: %1", error.localizedDescription());
        return false;
    }
    // Off the path of the first new note's commit, which would list the folder.
    FolderNameCache::shared().prepare(folder);
    // One listing of the markers instead of a look-up per note keeps a start
    // with everything indexed cheap.
    QStringList markerNames;
    listFolderNames(Note::indexDirectoryForStorage(storage_), &markerNames, nullptr);
    indexed_ = QSet<QString>(markerNames.cbegin(), markerNames.cend());
    documentFolder_ = openFolder(folder);
    // Made now, so that every marker and record is written inside them.
    const auto cacheFolder = [this](const QString& path) {
        Folders::ensure(path);
        const int fd = openFolder(path);
        if (fd >= 0)
            openCacheFolders_.append(fd);
        return fd;
    };
    cacheFolders_ = {cacheFolder(Note::indexDirectoryForStorage(storage_)),
                     cacheFolder(Note::headerDirectoryForStorage(storage_)),
                     cacheFolder(Note::metaDirectoryForStorage(storage_))};
    return true;
}

bool NoteIndexRebuild::needsIndexing(const QString& name, NoteIndexMarker::Stamp* stamp) const
{
    if (name.startsWith(QLatin1Char('.')))
        return false;
    // One look at the text file and one at its marker, relative to the open
    // folders: a start with everything indexed stays cheap.
    const QByteArray native = QFile::encodeName(name);
    *stamp = NoteIndexMarker::stampAt(documentFolder_, native.constData());
    if (!stamp->regular) {
        // A FIFO or device would block the read for ever.
        LogInfo("build:skip %1, not a regular file", name);
        return false;
    }
    return !indexed_.contains(name) || NoteIndexMarker::stampAt(cacheFolders_.markers, native.constData()) != *stamp;
}

QList<bool> NoteIndexRebuild::writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows)
{
    if (db.totalChanges() != changesAfterLastBatch_)
        rowIds_ = NoteSearchRow::readRowIds(db);
    // Every row goes in through the same statement: prepared once a batch,
    // not once a row. The connection's own setting is back afterwards.
    const bool cached = db.shouldCacheStatements();
    db.setShouldCacheStatements(true);
    const QList<bool> stored = NoteSearchRow::writeAll(db, rows, rowIds_);
    db.setShouldCacheStatements(cached);
    changesAfterLastBatch_ = db.totalChanges();
    return stored;
}

void NoteIndexRebuild::store(NoteServices& core)
{
    if (pendingRows_.isEmpty())
        return;
    // The markers follow the rows that went in, on the database's queue,
    // while the other queues go on with the next notes.
    core.asyncDatabase(
        [this, notes = std::exchange(pendingNotes_, {}), rows = std::exchange(pendingRows_, {})](SLDatabase& db) {
            const QList<bool> stored = writeRows(db, rows);
            for (qsizetype i = 0; i < notes.size(); ++i) {
                if (stored.value(i))
                    NoteIndexMarker::writeAt(notes[i].folders.markers,
                                             QFile::encodeName(notes[i].note->key()).constData(), notes[i].stamp);
            }
        });
}

void NoteIndexRebuild::hand(QList<Read>& read, NoteServices* core, bool store)
{
    if (read.isEmpty() && !store)
        return;
    links_->async([this, read = std::exchange(read, {}), core, store]() mutable {
        // The row comes with the links: both follow from the tags of the text.
        QList<std::pair<Read, NoteSearchRow>> linked;
        linked.reserve(read.size());
        for (Read& r : read) {
            NoteSearchRow row = r.indexed.note->writeTagLinkFiles(false, nullptr);
            linked.append({std::move(r), std::move(row)});
        }
        records_->async([this, linked = std::move(linked), core, store]() mutable {
            for (auto& [r, row] : linked) {
                const NotePtr& note = r.indexed.note;
                note->writeHeaderFile(nullptr, r.indexed.folders.headers);
                if (r.writeMeta)
                    note->writeMetaFile(nullptr, r.indexed.folders.metas);
                row.title = note->title();
                pendingRows_.append(std::move(row));
                pendingNotes_.append(std::move(r.indexed));
            }
            if (store && core) {
                this->store(*core);
            } else if (store) {
                // No database to take them.
                pendingRows_.clear();
                pendingNotes_.clear();
            }
        });
    });
}

bool NoteIndexRebuild::step()
{
    if (done_)
        return false;
    NoteServices* const core = Note::services();
    // Half a batch per transaction: the first half's rows go in while the
    // second half's files are written. The other queues get the notes a few
    // at a time, not one wake-up each.
    const int half = std::max(1, (batchSize_ + 1) / 2);
    constexpr int NotesPerHand = 16;
    QList<Read> read;
    int taken = 0;
    while (taken < batchSize_) {
        if (next_ >= names_.size()) {
            if (!openNextStorage()) {
                done_ = true;
                break;
            }
            continue;
        }
        const QString& name = names_[next_++];
        // Taken before the read: a write meanwhile leaves a marker that does
        // not match, and the note is indexed again at the next start.
        NoteIndexMarker::Stamp stamp;
        if (!needsIndexing(name, &stamp))
            continue;
        auto note = std::make_shared<Note>(name, storage_);
        // An unreadable note gets no marker, so the next start tries it again.
        if (!note->restoreText())
            continue;
        // The links carry the meta file's dates, so those come first; the
        // links and the row follow on the links' queue, the title and the
        // records on the records' queue.
        const bool writeMeta = refreshMeta(*note, stamp, cacheFolders_.metas);
        read.append({{std::move(note), stamp, cacheFolders_}, writeMeta});
        ++taken;
        if (taken == half)
            hand(read, core, true);
        else if (read.size() == NotesPerHand)
            hand(read, core, false);
    }
    hand(read, core, true);
    // The batch is whole when the step returns: links, records, rows and
    // markers are in. Each queue has handed everything on once it is synced.
    links_->sync([] {});
    records_->sync([] {});
    if (core)
        core->syncDatabase([](SLDatabase&) {});
    return !done_;
}
