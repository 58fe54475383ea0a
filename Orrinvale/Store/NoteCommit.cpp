#include "Note.h"

#include "AppleCloud.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"
#include "NoteStorageListener.h"

#include "Clock.h"
#include "Dispatch.h"
#include "Folders.h"
#include "Log.h"
#include "files/AtomicFile.h"
#include "files/FileDates.h"
#include "files/FileName.h"
#include "files/Trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>

namespace {

constexpr qsizetype BlankNoteMaxLength = 20;
// Names tried for a new note before its commit fails.
constexpr int MaxNameAttempts = 5;

std::atomic<NoteServices*> installedServices{nullptr};

thread_local Note::IndexBatch* openBatch = nullptr;

} // namespace

struct Note::IndexBatch::Entry {
    NoteSearchRow row;
    QString marker;
    QString document;
    NoteIndexMarker::Identity indexed;
};

void Note::setServices(NoteServices* services)
{
    installedServices = services;
}

NoteServices* Note::services()
{
    return installedServices;
}

// Runs in place, before the write it guards, so no later file work of the
// same note can run between the two.
bool Note::backUpIntoTrash(const QString& key, const QString& document)
{
    // Only a regular file holds text to keep; copying a FIFO would block.
    if (!QFileInfo(document).isFile())
        return true;
    QString path = QDir(Folders::temporary()).filePath(key);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(qint64(Clock::nowPrecise() * 1000), Qt::UTC);
        const QString stamp = QStringLiteral("-%1-%2").arg(now.toString(QStringLiteral("yyyyMMdd-HHmmsszzz")),
                                                           Clock::newUUID());
        path = QDir(Folders::temporary()).filePath(FileName::fitted(key, stamp.toUtf8().size()) + stamp);
    }
    LogInfo("note:commitLocal backup trash/%1", QFileInfo(path).fileName());
    createImmediateDirectoryForFilePath(path);
    Error error;
    if (QFile::copy(document, path) && Trash::moveToTrash(path, nullptr, &error))
        return true;
    QFile::remove(path);
    LogError("note:commitLocal backup failed, the old text stays: %1 %2", key, error.localizedDescription());
    return false;
}

void Note::setUpdatedOnForChange(int64_t now)
{
    int64_t date = now;
    const QString name = key();
    for (const int service : {NoteServiceCloud, NoteServiceCloudKit}) {
        const QString link = name.isEmpty() ? QString() : linkFileForKey(name, service, storage());
        if (!link.isEmpty() && QFileInfo::exists(link))
            date = std::max(date, FileDates::modificationDate(link) + 1);
    }
    setUpdatedOn(date);
}

void Note::commitNote(Completion completion, CloudCompletion cloudCompletion, const Completion& written)
{
    _commitLocalNote([&](bool ok) {
        if (written)
            written(ok);
        handToCloud(false, ok, completion, cloudCompletion);
    });
}

void Note::commitAndCloseNote(Completion completion, CloudCompletion cloudCompletion, const Completion& written)
{
    _commitAndCloseLocalNote([&](bool ok) {
        if (written)
            written(ok);
        handToCloud(true, ok, completion, cloudCompletion);
    });
}

void Note::handToCloud(bool close, bool ok, const Completion& completion, const CloudCompletion& cloudCompletion)
{
    NoteServices* const core = services();
    if (!core || !core->enabledAppleCloud()) {
        if (completion)
            completion(ok);
        if (cloudCompletion)
            cloudCompletion(QDateTime());
        return;
    }
    // The drive's failure is its own to log; the local outcome stands.
    AppleCloud::CommitHandler handler = [ok, completion, cloudCompletion](const QDateTime& date, const Error&) {
        if (completion)
            completion(ok);
        if (cloudCompletion)
            cloudCompletion(date);
    };
    if (close)
        core->appleCloud()->commitAndCloseNote(self(), std::move(handler));
    else
        core->appleCloud()->commitNote(self(), std::move(handler));
}

void Note::_commitAndCloseLocalNote(const Completion& completion)
{
    _commitLocalNote([&](bool ok) {
        _closeLocalNote([&](bool) {
            if (completion)
                completion(ok);
        });
    });
}

// Before a blank text overwrites a readable-named file, a copy of that file
// goes into the Trash, so an accidental select-all and delete can be undone.
void Note::_commitLocalNote(const Completion& completion)
{
    // Another program wrote the file since we read it: its text stays there,
    // ours becomes a note of its own, as for a sync conflict.
    if (changedOnDisk())
        forkFromChangedFile();
    const Fields f = fields();
    // A null text the note never read its file for writes nothing (and keeps
    // nothing); one set over a text it read is an emptied note.
    const bool known = !f.text.isNull() || f.onDisk;
    if (known && !f.key.isNull() && f.text.size() <= BlankNoteMaxLength && isReadableFileName(f.key)
        && f.text.trimmed().isEmpty()) {
        if (f.text.isNull())
            setText(QStringLiteral(""));
        if (!backUpBeforeBlanking(f.key, documentFileForKey(f.key, f.storage))) {
            if (completion)
                completion(false);
            return;
        }
    }
    commitLocalFiles(completion);
}

// One copy per version of the file: a save retried after a failed write
// finds the file it kept already in the Trash, and a file already blank
// holds nothing to keep.
bool Note::backUpBeforeBlanking(const QString& key, const QString& document)
{
    if (document.isEmpty())
        return true;
    const NoteIndexMarker::Identity identity = NoteIndexMarker::identityOf(document);
    if (fields().backedUp == identity || AtomicFile::holds(document, text().toUtf8()))
        return true;
    if (!backUpIntoTrash(key, document))
        return false;
    std::lock_guard lock(mutex_);
    fields_.backedUp = identity;
    return true;
}

void Note::commitLocalFiles(const Completion& completion)
{
    if (storage() == 0)
        setStorage(NoteStorageInbox);
    const int64_t now = Clock::now();
    {
        std::lock_guard lock(mutex_);
        if (fields_.updatedOn == 0)
            fields_.updatedOn = now;
        if (fields_.createdOn == 0)
            fields_.createdOn = now;
    }

    // Until the row is in again, the marker must not say the new text is
    // indexed. The same bytes saved again under a current marker (a note
    // another program wrote, dated once sync starts) leave the row as it is,
    // and the marker stays for the file's new stamp.
    const bool rowCurrent = hasCurrentIndexFile();
    if (!rowCurrent)
        removeIndexFile();
    bool written = false;
    TextWritten how;
    if (key().isNull())
        written = how.created = writeUnderNewName();
    else if (!(written = writeTextFile(false, &how, [this] { removeIndexFile(); })) && how.changedMeanwhile) {
        forkFromChangedFile();
        written = how.created = writeUnderNewName();
    }
    if (written) {
        writeMetaFile();
        writeHeaderFile();
        if (how.inPlace && rowCurrent)
            redateTagLinksAndIndexFile();
        else
            writeTagLinkAndIndexFiles(true, nullptr, how.created);
    }
    if (completion)
        completion(written);
}

void Note::forkFromChangedFile()
{
    LogInfo("note:commit %1 changed on disk since read, kept -> fork.", key());
    forkNote();
}

bool Note::changedOnDisk() const
{
    const Fields f = fields();
    return !f.key.isNull() && f.onDisk && changedSince(documentFileForKey(f.key, f.storage), *f.onDisk);
}

bool Note::changedSince(const QString& path, const DiskState& version)
{
    const NoteIndexMarker::Identity now = NoteIndexMarker::identityOf(path);
    // Only a text file holds another program's text: a removed one is written anew.
    if (!now.stamp.regular || now == version.identity)
        return false;
    // Written again with the text we know (a sync program's copy, a touch): nothing to keep.
    const QString text = newTextFromURL(QUrl::fromLocalFile(path));
    return text.isNull() || qHash(text) != version.textHash;
}

bool Note::writeUnderNewName()
{
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString key = newFileName();
        setKey(key);
        LogInfo("note:commit new %1", key);
        if (writeTextFile(true))
            return true;
        const QString path = documentFileForKey(key, storage());
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            break;
    }
    // Still a new note: the next commit names it afresh, and nothing reads a
    // file that was never written.
    setKey(QString());
    return false;
}

void Note::writeTagLinks(const TagLinks& tags, bool manifest, const LinkedTags* linkedBefore, Error* error,
                         KindFolders* open)
{
    const int storage = fields().storage;
    writeTag(NoteTagHashtag, tags.linkedHashtags, storage, manifest, linkedBefore ? &linkedBefore->hashtags : nullptr,
             error, open);
    writeTag(NoteTagMention, tags.linkedMentions, storage, manifest, linkedBefore ? &linkedBefore->mentions : nullptr,
             error, open);
}

NoteSearchRow Note::writeTagLinkFiles(bool manifest, const LinkedTags* linkedBefore, Error* error)
{
    const TagLinks tags = tagLinks();
    if (error || !IndexBatch::holdLinks(self(), tags, manifest, linkedBefore))
        writeTagLinks(tags, manifest, linkedBefore, error);
    return searchRow(tags);
}

bool Note::writeTagLinkAndIndexFiles(bool manifest, Error* error, bool textCreated)
{
    const Fields f = fields();
    if (f.key.isNull())
        return true;
    NoteServices* const core = services();
    // The note's row names every tag it was linked under (a superset in the
    // archive), so only those folders need a visit. Without a row, links
    // could be left from anywhere: every folder is visited.
    LinkedTags before;
    bool hasRow = false;
    if (core && !textCreated)
        core->syncDatabase([&](SLDatabase& db) {
            hasRow = NoteSearchRow::readTags(db, NoteSearchRow::searchKey(f.storage, f.key), &before.hashtags,
                                             &before.mentions);
        });
    const NoteSearchRow row = writeTagLinkFiles(manifest, hasRow ? &before : nullptr, error);
    if (IndexBatch* const batch = IndexBatch::current()) {
        const QString document = documentFileForKey(f.key, f.storage);
        batch->entries_.push_back({row, indexFileForKey(f.key, f.storage), document, NoteIndexMarker::identityOf(document)});
        return true;
    }
    // The marker says the row is in: written without it, the note would never
    // be indexed again.
    bool stored = false;
    if (core)
        core->syncDatabase([&](SLDatabase& db) { stored = row.write(db); });
    if (stored)
        writeIndexFile(error);
    return true;
}

void Note::redateTagLinksAndIndexFile()
{
    const TagLinks tags = tagLinks();
    // Tag folders are named in lower case.
    const auto lower = [](const QStringList& names) {
        QStringList lowered;
        for (const QString& name : names)
            lowered.append(name.toLower());
        return lowered;
    };
    const LinkedTags linked{lower(tags.linkedHashtags), lower(tags.linkedMentions)};
    writeTagLinks(tags, true, &linked);
    writeIndexFile();
}

bool Note::buildTagLinkAndIndexFiles(bool manifest, Error* error)
{
    if (!restoreTextOrHead())
        return false;
    restoreHeader(error);
    return writeTagLinkAndIndexFiles(manifest, error);
}

// --- Rows held back

// The links not yet begun are taken by a helper or by the waiter, whichever
// comes first: the waiter never waits for a helper that has not started.
struct Note::IndexBatch::Links {
    struct Held {
        NotePtr note;
        TagLinks tags;
        bool manifest = false;
        std::optional<LinkedTags> linkedBefore;
    };
    std::mutex mutex;
    std::condition_variable finished;
    std::deque<Held> waiting;
    int running = 0;

    bool makeOne()
    {
        std::unique_lock lock(mutex);
        if (waiting.empty())
            return false;
        const Held held = std::move(waiting.front());
        waiting.pop_front();
        ++running;
        lock.unlock();
        {
            // The batch is out of sight meanwhile: on its own thread, the wait of
            // other link work for the held links would wait for this one.
            const struct Restore {
                Note::IndexBatch* outer;
                ~Restore() { openBatch = outer; }
            } restore{std::exchange(openBatch, nullptr)};
            KindFolders kinds;
            held.note->writeTagLinks(held.tags, held.manifest, held.linkedBefore ? &*held.linkedBefore : nullptr,
                                     nullptr, &kinds);
        }
        lock.lock();
        if (--running == 0)
            finished.notify_all();
        return true;
    }

    // Returns once every link held so far is made.
    void makeAll()
    {
        while (makeOne()) {
        }
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return running == 0; });
    }
};

Note::IndexBatch::IndexBatch()
    : links_(std::make_shared<Links>()),
      outer_(std::exchange(openBatch, this))
{
}

Note::IndexBatch::~IndexBatch()
{
    makeLinks();
    openBatch = outer_;
    close();
}

Note::IndexBatch* Note::IndexBatch::current()
{
    return openBatch;
}

bool Note::IndexBatch::holdLinks(const NotePtr& note, const TagLinks& tags, bool manifest,
                                 const LinkedTags* linkedBefore)
{
    IndexBatch* const batch = openBatch;
    if (!batch || !note)
        return false;
    const std::pair linked(note->key(), note->storage());
    if (std::find(batch->linked_.begin(), batch->linked_.end(), linked) != batch->linked_.end())
        batch->makeLinks();
    batch->linked_.push_back(linked);
    {
        std::lock_guard lock(batch->links_->mutex);
        batch->links_->waiting.push_back(
            {note, tags, manifest, linkedBefore ? std::optional(*linkedBefore) : std::nullopt});
    }
    DispatchQueue::global()->async([links = batch->links_] { links->makeOne(); });
    return true;
}

void Note::IndexBatch::makeLinks()
{
    links_->makeAll();
    linked_.clear();
}

void Note::IndexBatch::makeHeldLinks()
{
    for (IndexBatch* batch = openBatch; batch; batch = batch->outer_)
        batch->makeLinks();
}

// Rows given to the database queue whose markers are still to come. Only
// dropped is written after the hand-off, and only under the lock.
struct Note::IndexBatch::HandedOff {
    std::vector<Entry> entries;
    std::vector<char> dropped;
    // The batch's links, made before any marker.
    std::shared_ptr<Links> links;
};

// The hand-offs whose markers are still to come, and those of them whose rows
// are not yet written: the queued writer takes every one there when it runs.
struct Note::IndexBatch::HandOffs {
    std::vector<std::shared_ptr<HandedOff>> awaitingMarkers;
    std::vector<std::shared_ptr<HandedOff>> awaitingRows;
};

Note::IndexBatch::HandOffs& Note::IndexBatch::handOffs(std::unique_lock<std::mutex>& lock)
{
    static std::mutex mutex;
    static HandOffs waiting;
    lock = std::unique_lock(mutex);
    return waiting;
}

void Note::IndexBatch::drop(const QString& searchKey)
{
    const auto dropped = [&](const Entry& entry) { return entry.row.key == searchKey; };
    for (IndexBatch* batch = openBatch; batch; batch = batch->outer_)
        std::erase_if(batch->entries_, dropped);
    std::unique_lock<std::mutex> lock;
    for (const auto& handed : handOffs(lock).awaitingMarkers) {
        for (size_t i = 0; i < handed->entries.size(); ++i)
            handed->dropped[i] = handed->dropped[i] || dropped(handed->entries[i]);
    }
}

std::vector<Note::IndexBatch::Entry> Note::IndexBatch::takeCurrent()
{
    // A text file moved, deleted or written again since its row was made
    // gets no row from here: a move or commit writes its own, and a note
    // left without a marker is indexed again.
    std::vector<Entry> current;
    for (Entry& entry : std::exchange(entries_, {})) {
        if (entry.indexed.stamp.regular && NoteIndexMarker::identityOf(entry.document) == entry.indexed)
            current.push_back(std::move(entry));
    }
    return current;
}

QList<bool> Note::IndexBatch::writeRows(SLDatabase& db, const std::vector<Entry>& entries)
{
    QList<NoteSearchRow> rows;
    rows.reserve(qsizetype(entries.size()));
    for (const Entry& entry : entries)
        rows.append(entry.row);
    return NoteSearchRow::writeAll(db, rows);
}

void Note::IndexBatch::writeMarker(const Entry& entry)
{
    createImmediateDirectoryForFilePath(entry.marker);
    NoteIndexMarker::write(entry.marker, entry.indexed.stamp);
}

void Note::IndexBatch::close()
{
    NoteServices* const core = services();
    const std::vector<Entry> current = takeCurrent();
    if (!core || current.empty())
        return;
    QList<bool> stored;
    core->syncDatabase([&](SLDatabase& db) { stored = writeRows(db, current); });
    for (size_t i = 0; i < current.size(); ++i) {
        if (stored.value(qsizetype(i)))
            writeMarker(current[i]);
    }
}

void Note::IndexBatch::handOff()
{
    NoteServices* const core = services();
    auto handed = std::make_shared<HandedOff>(HandedOff{takeCurrent(), {}, links_});
    if (!core || handed->entries.empty())
        return;
    handed->dropped.assign(handed->entries.size(), false);
    bool writerQueued = false;
    {
        std::unique_lock<std::mutex> lock;
        HandOffs& waiting = handOffs(lock);
        waiting.awaitingMarkers.push_back(handed);
        writerQueued = !waiting.awaitingRows.empty();
        waiting.awaitingRows.push_back(handed);
    }
    // While the database queue is behind, hand-offs join the writer already
    // queued: one transaction for them all, not one each.
    if (!writerQueued)
        core->asyncDatabase([core](SLDatabase& db) { writeHandedRows(core, db); });
}

void Note::IndexBatch::writeHandedRows(NoteServices* core, SLDatabase& db)
{
    std::vector<std::shared_ptr<HandedOff>> taken;
    {
        std::unique_lock<std::mutex> lock;
        taken.swap(handOffs(lock).awaitingRows);
    }
    std::vector<Entry> entries;
    for (const auto& handed : taken)
        entries.insert(entries.end(), handed->entries.begin(), handed->entries.end());
    const QList<bool> stored = writeRows(db, entries);
    core->fileQueue()->async([taken, stored] {
        qsizetype first = 0;
        for (const auto& handed : taken) {
            const qsizetype count = qsizetype(handed->entries.size());
            writeMarkersOf(*handed, stored.mid(first, count));
            first += count;
        }
    });
}

// On the file queue, where texts are written: a text written again since its
// row keeps no marker (its own commit writes one), nor does a note taken out
// of the index meanwhile.
void Note::IndexBatch::writeMarkersOf(const HandedOff& handed, const QList<bool>& stored)
{
    handed.links->makeAll();
    std::vector<char> dropped;
    {
        std::unique_lock<std::mutex> lock;
        std::erase_if(handOffs(lock).awaitingMarkers, [&](const auto& other) { return other.get() == &handed; });
        dropped = handed.dropped;
    }
    for (size_t i = 0; i < handed.entries.size(); ++i) {
        const Entry& entry = handed.entries[i];
        if (stored.value(qsizetype(i)) && !dropped[i] && NoteIndexMarker::identityOf(entry.document) == entry.indexed)
            writeMarker(entry);
    }
}
