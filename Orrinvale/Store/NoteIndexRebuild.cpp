#include "NoteIndexRebuild.h"

#include "FolderListing.h"
#include "FolderNameCache.h"
#include "NoteIndexMarker.h"
#include "NoteSearchIndex.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"
#include "TagLinkIndex.h"

#include "DispatchApply.h"
#include "Folders.h"
#include "Log.h"
#include "SLDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <future>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The meta file's dates: when missing, from the text file's; when older than
// the text, the text's. True when the file needs writing. An empty record (a
// crash before its bytes reached the disk) is read as missing, so it is made
// again too.
bool refreshMeta(Note& note, const NoteIndexMarker::Stamp& stamp, int metaFolder)
{
    bool hadMeta = false;
    note.restoreMeta(nullptr, &hadMeta, metaFolder);
    if (hadMeta && note.updatedOn() >= stamp.seconds)
        return false;
    note.setUpdatedOn(std::max(note.updatedOn(), stamp.recordSeconds()));
    return true;
}

// The row's words for the side indexes are made here too, off the
// database's queue, the run's slowest.
void parseText(Note& note, Note::TagLinks* tags, NoteSearchRow* row, QByteArray* words)
{
    note._reloadHeader();
    *tags = note.tagLinks();
    *row = note.searchRow(*tags);
    *words = NoteSearchIndex::distinctWords(row->content.toUtf8());
}

bool isStopped(const std::atomic<bool>* stopped)
{
    return stopped && stopped->load(std::memory_order_relaxed);
}

// Work on each note alone, cut into slices that run side by side with the
// caller; returns once every slice has run. A busy machine shares its cores
// out by thread: with four helpers the run takes a larger share of them.
void inSlices(qsizetype notes, const std::function<void(size_t begin, size_t end)>& work)
{
    constexpr size_t NotesPerSlice = 32;
    constexpr int Helpers = 4;
    dispatchApply(size_t(notes), NotesPerSlice, Helpers, work);
}

int openFolder(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

NoteIndexRebuild::NoteIndexRebuild(int batchSize, int sideRowsPerPart)
    : batchSize_(batchSize > 0 ? batchSize : 1),
      table_(std::make_shared<Table>(std::max(1, sideRowsPerPart))),
      parser_(DispatchQueue::createSerial(QStringLiteral("note-parser"))),
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

bool NoteIndexRebuild::needsIndexing(const QString& name, NoteIndexMarker::Identity* identity) const
{
    if (name.startsWith(QLatin1Char('.')))
        return false;
    // One look at the text file and one at its marker, relative to the open
    // folders: a start with everything indexed stays cheap.
    const QByteArray native = QFile::encodeName(name);
    *identity = NoteIndexMarker::identityAt(documentFolder_, native.constData());
    const NoteIndexMarker::Stamp& stamp = identity->stamp;
    if (!stamp.regular) {
        // A FIFO or device would block the read for ever.
        LogInfo("build:skip %1, not a regular file", name);
        return false;
    }
    return !indexed_.contains(name) || NoteIndexMarker::stampAt(cacheFolders_.markers, native.constData()) != stamp;
}

// Fills the side indexes left behind through a connection of its own, on a
// queue of its own: the side file takes each part while the notes'
// connection, the run's slowest, writes the next rows.
class NoteIndexRebuild::Table::SideFill {
public:
    explicit SideFill(const QString& databasePath)
        : state_(std::make_shared<State>(databasePath)),
          queue_(DispatchQueue::createSerial(QStringLiteral("note-side-fill")))
    {
    }

    void addRows(QList<NoteSearchIndex::SideRow> rows)
    {
        queue_->async([state = state_, rows = std::move(rows)] {
            state->filled = state->filled && state->open() && NoteSearchIndex::addRows(*state->db, rows);
        });
    }

    // Once every part handed is in: true when each went in.
    bool finish()
    {
        bool filled = false;
        queue_->sync([&] {
            filled = state_->filled;
            state_->db.reset();
        });
        return filled;
    }

private:
    // The queue's alone.
    struct State {
        explicit State(const QString& path) : path(path) {}
        bool open()
        {
            if (db)
                return true;
            auto opened = SLDatabase::databaseWithPath(path);
            if (!opened->open() || !NoteSearchIndex::attach(*opened))
                return false;
            db = std::move(opened);
            return true;
        }
        QString path;
        std::shared_ptr<SLDatabase> db;
        bool filled = true;
    };
    std::shared_ptr<State> state_;
    DispatchQueuePtr queue_;
};

// The markers of one store's notes, written on the records' queue, the least
// busy, once both the database's queue has taken their rows and the records'
// queue their links and records, whichever comes last: the database's queue
// goes on with the next rows meanwhile.
struct NoteIndexRebuild::Marking {
    explicit Marking(Whole whole) : whole(std::move(whole)) {}
    // True for the last of the two to arrive.
    bool arrive() { return waiting.fetch_sub(1, std::memory_order_acq_rel) == 1; }
    void writeMarkers() const
    {
        for (const Indexed& n : notes) {
            if (n.row.wentIn())
                NoteIndexMarker::writeAt(n.folders.markers, QFile::encodeName(n.note->key()).constData(), n.stamp);
        }
        if (whole)
            whole();
    }
    Whole whole;
    // Set by the records' queue before it arrives.
    QList<Indexed> notes;
    std::atomic<int> waiting{2};
};

QList<bool> NoteIndexRebuild::Table::writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows,
                                               const QList<QByteArray>& words)
{
    const bool first = changesAfterLastBatch_ < 0;
    if (db.totalChanges() != changesAfterLastBatch_) {
        rowIds_ = NoteSearchRow::readRowIds(db);
        // After the first batch: rows already in the side indexes may have changed.
        sideFillMissedRows_ = !first;
    }
    // Into an empty table every row is the run's: the side indexes are filled
    // in a few large parts, in place of following each transaction. A
    // database in memory has no file for a second connection to open.
    if (first && rowIds_.isEmpty()) {
        sideIndexesBehind_ = true;
        if (!db.databasePath().isEmpty() && NoteSearchIndex::emptyBehind(db))
            sideFill_ = std::make_shared<SideFill>(db.databasePath());
    }
    // Every row goes in through the same statement: prepared once a batch,
    // not once a row. The connection's own setting is back afterwards.
    const bool cached = db.shouldCacheStatements();
    db.setShouldCacheStatements(true);
    const QList<bool> stored = NoteSearchRow::writeAll(db, rows, rowIds_);
    db.setShouldCacheStatements(cached);
    changesAfterLastBatch_ = db.totalChanges();
    if (!sideFill_ || sideFillMissedRows_)
        return stored;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const NoteSearchRow& row = rows[i];
        const qint64 docid = rowIds_.value(row.key).value(0);
        if (stored.value(i))
            sideRows_.insert(docid, {docid, row.key, row.title, row.hashtag, row.mention, words.value(i)});
    }
    if (sideRows_.size() >= sideRowsPerPart_)
        handSideRows();
    return stored;
}

void NoteIndexRebuild::Table::handSideRows()
{
    sideFill_->addRows(std::exchange(sideRows_, {}).values());
}

void NoteIndexRebuild::Table::finishSideIndexes(SLDatabase& db)
{
    if (!sideIndexesBehind_)
        return;
    sideIndexesBehind_ = false;
    if (db.totalChanges() != changesAfterLastBatch_)
        sideFillMissedRows_ = true;
    if (sideFill_ && !sideFillMissedRows_ && !sideRows_.isEmpty())
        handSideRows();
    // Waited for before any write of the notes' connection to the side file.
    const bool filled = sideFill_ && sideFill_->finish();
    sideFill_.reset();
    if (!filled || sideFillMissedRows_ || !NoteSearchIndex::markFollowing(db))
        NoteSearchIndex::create(db);
}

void NoteIndexRebuild::parse(QList<Read>& read, bool store, const Whole& whole)
{
    if (read.isEmpty() && !store)
        return;
    parser_->async([this, read = std::exchange(read, {}), store, whole, last = done_]() mutable {
        for (Read& r : read) {
            if (r.parsed) {
                r.tags = r.parsed->tags;
                r.indexed.row = r.parsed->answer;
                r.parsed.reset();
                continue;
            }
            if (!rowsStored_)
                rowsStored_ = std::make_shared<QList<bool>>();
            r.indexed.row = {rowsStored_, rows_.size()};
            rows_.append(NoteSearchRow());
            rowWords_.append(QByteArray());
            parseText(*r.indexed.note, &r.tags, &rows_.last(), &rowWords_.last());
        }
        // The rows need nothing of the meta files: the database's queue, the
        // busiest, has them before their dates are read.
        const auto marking = whole ? std::make_shared<Marking>(whole) : nullptr;
        if (store)
            storeRows(last, marking);
        // The links carry the meta file's dates, read now: a note read ahead
        // may have had its meta file written since.
        for (Read& r : read)
            r.writeMeta = refreshMeta(*r.indexed.note, r.indexed.stamp, r.indexed.folders.metas);
        hand(read, marking);
    });
}

void NoteIndexRebuild::queueRows(NoteServices& core, const std::shared_ptr<Table>& table, QList<NoteSearchRow> rows,
                                 QList<QByteArray> words, const Stored& stored)
{
    core.asyncDatabase([table, rows = std::move(rows), words = std::move(words), stored](SLDatabase& db) {
        *stored = table->writeRows(db, rows, words);
    });
}

void NoteIndexRebuild::storeRows(bool last, const std::shared_ptr<Marking>& marking)
{
    NoteServices* const core = Note::services();
    if (core && !rows_.isEmpty())
        queueRows(*core, table_, std::exchange(rows_, {}), std::exchange(rowWords_, {}), rowsStored_);
    rows_.clear();
    rowWords_.clear();
    rowsStored_.reset();
    if (core && last)
        core->asyncDatabase([table = table_](SLDatabase& db) { table->finishSideIndexes(db); });
    if (!marking)
        return;
    if (!core)
        marking->arrive();
    else
        core->asyncDatabase([marking, records = records_](SLDatabase&) {
            if (marking->arrive())
                records->async([marking] { marking->writeMarkers(); });
        });
}

void NoteIndexRebuild::hand(QList<Read>& read, const std::shared_ptr<Marking>& marking)
{
    if (read.isEmpty() && !marking)
        return;
    // The header and meta files need nothing of the links: they are written
    // while the links are.
    QList<Indexed> notes;
    QList<bool> writeMeta;
    for (const Read& r : read) {
        notes.append(r.indexed);
        writeMeta.append(r.writeMeta);
    }
    records_->async([notes, writeMeta] {
        for (qsizetype i = 0; i < notes.size(); ++i) {
            notes[i].note->writeHeaderRecord(nullptr, notes[i].folders.headers);
            if (writeMeta[i])
                notes[i].note->writeMetaFile(nullptr, notes[i].folders.metas);
        }
    });
    links_->async([this, read = std::exchange(read, {}), notes = std::move(notes), marking]() mutable {
        // Side by side in slices: a busy machine shares its cores out by
        // thread, and the links are the run's largest part. Each slice opens
        // the folders again for its hand: the run holds the file queue during
        // a step, and a folder replaced between steps is not written into.
        inSlices(read.size(), [&reads = std::as_const(read)](size_t begin, size_t end) {
            Note::KindFolders kinds;
            for (size_t i = begin; i < end; ++i) {
                const Read& r = reads[qsizetype(i)];
                r.indexed.note->writeTagLinks(r.tags, false, nullptr, nullptr, &kinds);
            }
        });
        // After the records' queue has written these notes' records.
        records_->async([this, notes = std::move(notes), marking]() mutable {
            unmarked_.append(std::move(notes));
            if (!marking)
                return;
            marking->notes = std::exchange(unmarked_, {});
            if (marking->arrive())
                marking->writeMarkers();
        });
    });
}

std::optional<NoteIndexRebuild::Read> NoteIndexRebuild::readNote(const QString& name,
                                                                 NoteIndexMarker::Identity* identity)
{
    // Taken before the read: a write meanwhile leaves a marker that does
    // not match, and the note is indexed again at the next start.
    // The same look stands for the one the read would take.
    if (!needsIndexing(name, identity))
        return std::nullopt;
    auto note = std::make_shared<Note>(name, storage_);
    // An unreadable note gets no marker, so the next start tries it again.
    if (!note->restoreTextOrHead(identity))
        return std::nullopt;
    return Read{{std::move(note), identity->stamp, cacheFolders_, {}}, false, {}, nullptr};
}

std::optional<NoteIndexRebuild::Read> NoteIndexRebuild::nextNote()
{
    NoteIndexMarker::Identity identity;
    while (!ahead_.isEmpty()) {
        Ahead ahead = ahead_.takeFirst();
        const QString key = ahead.read.indexed.note->key();
        // Written, moved or replaced since it was read: read again.
        if (NoteIndexMarker::identityAt(documentFolder_, QFile::encodeName(key).constData()) == ahead.identity)
            return std::move(ahead.read);
        if (std::optional<Read> read = readNote(key, &identity))
            return read;
        dropAheadRow(key, identity);
    }
    for (;;) {
        if (next_ >= names_.size()) {
            if (!openNextStorage()) {
                done_ = true;
                return std::nullopt;
            }
            continue;
        }
        if (std::optional<Read> read = readNote(names_[next_++], &identity))
            return read;
    }
}

void NoteIndexRebuild::dropAheadRow(const QString& key, const NoteIndexMarker::Identity& identity)
{
    NoteServices* const core = Note::services();
    // Committed meanwhile by the note store, whose row came after it.
    const QByteArray native = QFile::encodeName(key);
    if (!core
        || (identity.stamp.regular && NoteIndexMarker::stampAt(cacheFolders_.markers, native.constData()) == identity.stamp))
        return;
    core->asyncDatabase([searchKey = NoteSearchRow::searchKey(storage_, key)](SLDatabase& db) {
        NoteSearchRow::remove(db, searchKey);
    });
}

std::future<void> NoteIndexRebuild::readAhead(const std::atomic<bool>* stopped)
{
    // Only inside the storage: the folders stay those of the notes read.
    QList<Read> read;
    while (read.size() < batchSize_ && next_ < names_.size() && !isStopped(stopped)) {
        NoteIndexMarker::Identity identity;
        std::optional<Read> note = readNote(names_[next_++], &identity);
        if (!note)
            continue;
        note->parsed = std::make_shared<Parsed>();
        ahead_.append(Ahead{*note, identity});
        read.append(std::move(*note));
    }
    if (read.isEmpty())
        return {};
    // Queued after the batch's own notes, so made before the next batch's
    // notes are taken there. Their rows go in now, while this batch's links
    // are made: the database's queue is the run's slowest.
    auto handed = std::make_shared<std::promise<void>>();
    std::future<void> rowsHanded = handed->get_future();
    parser_->async([table = table_, read = std::move(read), handed] {
        inSlices(read.size(), [&read](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                const Read& r = read[qsizetype(i)];
                parseText(*r.indexed.note, &r.parsed->tags, &r.parsed->row, &r.parsed->words);
            }
        });
        NoteServices* const core = Note::services();
        if (!core) {
            handed->set_value();
            return;
        }
        auto stored = std::make_shared<QList<bool>>();
        QList<NoteSearchRow> rows;
        QList<QByteArray> words;
        for (qsizetype i = 0; i < read.size(); ++i) {
            rows.append(std::move(read[i].parsed->row));
            words.append(std::move(read[i].parsed->words));
            read[i].parsed->answer = {stored, i};
        }
        queueRows(*core, table, std::move(rows), std::move(words), stored);
        handed->set_value();
    });
    return rowsHanded;
}

bool NoteIndexRebuild::step(const std::atomic<bool>* stopped)
{
    if (done_ && ahead_.isEmpty())
        return false;
    // Notes read now go in half a batch per transaction, the first half's
    // rows while the second half is read, and on to the other queues a few
    // at a time, not one wake-up each. Notes read ahead have their rows in
    // already, and go on together.
    const int half = std::max(1, (batchSize_ + 1) / 2);
    constexpr int NotesPerHand = 16;
    QList<Read> read;
    int taken = 0;
    // A stop (the application quitting) waits for no more reads: what was
    // read is indexed whole, the rest at the next start.
    while (taken < batchSize_ && !isStopped(stopped)) {
        std::optional<Read> note = nextNote();
        if (!note)
            break;
        read.append(std::move(*note));
        ++taken;
        const bool readNow = !read.last().parsed;
        if (taken == half && readNow)
            parse(read, true);
        else if (read.size() >= NotesPerHand && readNow)
            parse(read, false);
    }
    // The batch is whole when the step returns: links, records, rows and
    // markers are in. Every queue takes its blocks in order, so the last
    // notes' markers come after all of them: one wake-up on a busy machine,
    // not one for each queue. Meanwhile this queue reads the next notes.
    std::promise<void> whole;
    parse(read, true, [&whole] { whole.set_value(); });
    std::future<void> aheadRowsHanded;
    if (!done_)
        aheadRowsHanded = readAhead(stopped);
    whole.get_future().wait();
    // The next batch's rows are on the database's queue before anything
    // queued between steps.
    if (aheadRowsHanded.valid())
        aheadRowsHanded.wait();
    return !done_ || !ahead_.isEmpty();
}
