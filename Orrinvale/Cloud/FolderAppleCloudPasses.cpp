// FolderAppleCloud's passes over the folder: the update pass that takes
// changed documents into the local notes, then the upload pass for notes
// edited while offline and the trash pass for documents gone from the folder.
#include "FolderAppleCloud.h"

#include "AppleDocument.h"
#include "NoteHistory.h"
#include "SyncConflict.h"

#include "Store/FolderListing.h"
#include "Store/NoteServices.h"

#include "Log.h"
#include "UserDefaults.h"
#include "files/AtomicFile.h"
#include "files/FileDates.h"
#include "files/HeldFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>

namespace {

const int Storages[] = {NoteStorageInbox, NoteStorageArchive};

HeldFolder cloudLinkFolder(int storage)
{
    return HeldFolder(Note::linkDirectoryForService(NoteServiceCloud, storage));
}

} // namespace

struct FolderAppleCloud::Pass {
    std::shared_ptr<FolderQuery> query;
    int key = 0;
    QStringList files;
    QHash<QString, FileTime> changeDates;
    int cursor = 0; // queue only
    // Counted before the choice reads a link: the later passes take the dates it
    // read for as long as no link changes.
    uint64_t cloudLinkChanges = LinkFiles::changes(NoteServiceCloud);
    // The choice's look at each document's Cloud link, opened as it starts, and what it found.
    HeldFolder cloudLinks[2] = {cloudLinkFolder(NoteStorageInbox), cloudLinkFolder(NoteStorageArchive)};
    QHash<QString, std::optional<FileTime>> cloudLinksRead[2];
    // The notes gone here though linked to the folder, seen before the pass links anything.
    QList<std::pair<QString, int>> goneSinceExchange;

    // Reads the links of every dated document side by side, for the choice to take while no link changes.
    void readCloudLinksAhead(const std::vector<DriveItem>& items);

    std::optional<FileTime> cloudLinkDate(const QString& key, int storage)
    {
        const int at = storage == NoteStorageArchive;
        if (LinkFiles::changes(NoteServiceCloud) != cloudLinkChanges)
            return cloudLinks[at].modificationTime(key);
        auto found = cloudLinksRead[at].constFind(key);
        if (found == cloudLinksRead[at].cend())
            found = cloudLinksRead[at].insert(key, cloudLinks[at].modificationTime(key));
        return *found;
    }

    // The link's date as a read in links now would find it, with no read while the choice's still holds.
    std::optional<FileTime> currentCloudLinkDate(const HeldFolder& links, const QString& key, int storage) const
    {
        const QHash<QString, std::optional<FileTime>>& read = cloudLinksRead[storage == NoteStorageArchive];
        const auto found = read.constFind(key);
        if (found != read.cend() && LinkFiles::changes(NoteServiceCloud) == cloudLinkChanges)
            return *found;
        return links.modificationTime(key);
    }
};

namespace {

// The last two components of a document's path, read in place: one pass
// looks at thousands of paths.
struct DocumentPath {
    QStringView folder;
    QStringView name;
};

DocumentPath splitDocumentPath(QStringView path)
{
    // std's search: Qt's looks for one character as for any text.
    const std::u16string_view chars(path.utf16(), size_t(path.size()));
    const size_t slash = chars.rfind(u'/');
    if (slash == chars.npos)
        return {{}, path};
    const size_t before = chars.substr(0, slash).rfind(u'/');
    const size_t folder = before == chars.npos ? 0 : before + 1;
    return {path.sliced(qsizetype(folder), qsizetype(slash - folder)), path.sliced(qsizetype(slash) + 1)};
}

int storageOfDocument(const QString& path)
{
    return Note::storageKeyForResourceName(splitDocumentPath(path).folder.toString());
}

// Hidden files and placeholders, and names no note file can have.
bool isImportableName(const QString& name)
{
    return !name.startsWith(QLatin1Char('.')) && Note::isSafePathComponent(name);
}

// Broken links too: a link file whose date cannot be read still says the note was in the folder.
QStringList linkedKeys(int storage)
{
    return cloudLinkFolder(storage).names(HeldFolder::Entries::NonFolders);
}

void sendUpdate(const NotePtr& note, bool deleted)
{
    if (NoteServices* const services = Note::services())
        deleted ? services->noteDidDeleteFromRemoteServer(note) : services->noteDidUpdateFromRemoteServer(note);
}

// Imports of one turn whose texts are written but whose folders are not yet
// flushed, one flush for them all. What says each was taken in waits for it:
// a link to a text a crash took would have the trash pass delete the document.
class TakenIn {
public:
    // The commits made in work leave their folders to settle().
    void commit(const std::function<void()>& work) { folders_.collect(work); }
    // The steps touch the note and the fork its text may have left.
    void add(const QString& key, int storage, const QString& text, std::function<void()> steps)
    {
        notes_.insert(nameOf(key, storage));
        notes_.insert(nameOf(SyncConflict::forkKey(key, text), storage));
        steps_.push_back(std::move(steps));
    }
    bool touches(const QString& key, int storage) const { return notes_.contains(nameOf(key, storage)); }
    // Flushes the folders, then runs the steps in the order the notes came;
    // meanwhile runs here while the folders flush.
    void settle(const std::function<void()>& meanwhile)
    {
        folders_.flushWhile(meanwhile);
        notes_.clear();
        for (const std::function<void()>& steps : std::exchange(steps_, {}))
            steps();
    }

private:
    static QString nameOf(const QString& key, int storage) { return QString::number(storage) + QLatin1Char('/') + key; }

    AtomicFile::FolderFlushes folders_;
    QSet<QString> notes_;
    std::vector<std::function<void()>> steps_;
};

} // namespace

void FolderAppleCloud::Pass::readCloudLinksAhead(const std::vector<DriveItem>& items)
{
    QStringList keys[2];
    for (const DriveItem& item : items) {
        const DocumentPath parts = splitDocumentPath(item.path);
        const int storage = Note::storageKeyForResourceName(parts.folder.toString());
        if (item.changeDate && storage != 0)
            keys[storage == NoteStorageArchive].append(parts.name.toString());
    }
    for (int at = 0; at < 2; ++at) {
        const std::vector<std::optional<FileTime>> dates = cloudLinks[at].modificationTimes(keys[at]);
        cloudLinksRead[at].reserve(keys[at].size());
        for (qsizetype i = 0; i < keys[at].size(); ++i)
            cloudLinksRead[at].insert(keys[at][i], dates[size_t(i)]);
    }
}

// --- The update pass

void FolderAppleCloud::updateFiles(const std::shared_ptr<FolderQuery>& query)
{
    if (!quickCloudCheck())
        return;
    const int key = updateKey_ = (updateKey_ + 1) % 4096;
    LogInfo("apcloud:updateFiles disableUpdates");
    query->disableUpdates();
    queue_->async([self = shared_from_this(), query, key] {
        auto pass = std::make_shared<Pass>();
        pass->query = query;
        pass->key = key;
        self->releaseDeletedDocuments();
        pass->goneSinceExchange = SyncConflict::notesGoneSinceExchange(NoteServiceCloud);
        const std::vector<DriveItem> results = pass->query->results();
        pass->readCloudLinksAhead(results);
        for (auto item = results.rbegin(); item != results.rend(); ++item) {
            if (!self->isCurrent(pass->key))
                return;
            if (self->choose(*item, *pass))
                pass->files.append(item->path);
        }
        std::sort(pass->files.begin(), pass->files.end(),
                  [](const QString& a, const QString& b) { return a.localeAwareCompare(b) > 0; });
        self->runWorkers(pass);
    });
}

bool FolderAppleCloud::choose(const DriveItem& item, Pass& pass)
{
    const DocumentPath parts = splitDocumentPath(item.path);
    const QString name = parts.name.toString();
    const int storage = Note::storageKeyForResourceName(parts.folder.toString());
    if (!isImportableName(name) || storage == 0)
        return false;
    if (isOpening(item.path))
        return false;
    const QString folder = storageName(storage);
    if (!item.uploadingError.isEmpty())
        LogError("apcloud:file uploadError:%1 %2/%3 ", item.uploadingError, folder, name);
    if (!item.downloadingError.isEmpty())
        LogError("apcloud:file downloadError:%1 %2/%3 ", item.downloadingError, folder, name);
    if (item.downloadingStatus != QLatin1String("current"))
        LogInfo("apcloud:file status:%1 %2/%3 ", item.downloadingStatus, folder, name);
    if (!item.changeDate)
        return true;
    const FileTime date = *item.changeDate;
    // A date means the scan found the file on disk: no read for a document already taken in.
    if (linkHolds(pass.cloudLinkDate(name, storage), name, storage, date, item.path))
        return false;
    const std::optional<FileTime> ckDate = LinkFiles::modificationDate(name, NoteServiceCloudKit, storage);
    if (ckDate && LinkFiles::dateIsNewerOrEqualTo(*ckDate, date)) {
        links_.write(name, NoteServiceCloud, storage, ckDate);
        LogInfo("apcloud:file resist update (ckcloud) %1/%2", folder, name);
        return false;
    }
    if (LinkFiles::isNewerOrEqualTo(name, NoteServiceTrash, storage, date)) {
        LogInfo("apcloud:file resist update (trash) %1/%2", folder, name);
        return false;
    }
    pass.changeDates.insert(item.path, date);
    return true;
}

void FolderAppleCloud::runWorkers(const std::shared_ptr<Pass>& pass)
{
    startedFiles_ = 0;
    finishedFiles_ = 0;
    listedFiles_ = int(pass->files.size());
    auto group = DispatchGroup::create();
    const int workers = std::min<int>(int(pass->files.size()), MaxWorkers);
    for (int i = 0; i < workers && isCurrent(pass->key); ++i) {
        group->enter();
        workerTurn(pass, [group] { group->leave(); });
    }
    group->notify(queue_, [self = shared_from_this(), pass] {
        if (self->isCurrent(pass->key))
            self->afterUpdate(pass);
    });
}

void FolderAppleCloud::workerTurn(const std::shared_ptr<Pass>& pass, Done done)
{
    if (!isCurrent(pass->key) || !quickCloudCheck() || pass->cursor >= pass->files.size()) {
        done();
        return;
    }
    const QString path = pass->files.at(pass->cursor++);
    ++startedFiles_;
    importFile(pass, path, [self = shared_from_this(), pass, done] {
        self->queue_->async([self, pass, done] {
            ++self->finishedFiles_;
            self->workerTurn(pass, done);
        });
    });
}

void FolderAppleCloud::importFile(const std::shared_ptr<Pass>& pass, const QString& path, Done done)
{
    const QString key = QFileInfo(path).fileName();
    const int storage = storageOfDocument(path);
    if (!exists(path)) {
        LogInfo("apcloud:updateLocal skip %1", path);
        return done();
    }
    if (storage == 0 || !isImportableName(key) || !isImportableFile(path)) {
        LogError("apcloud:updateLocal refused %1", path);
        return done();
    }
    const FileTime date = pass->changeDates.contains(path) ? pass->changeDates.value(path)
                                                            : FileTimes::modificationTime(path).value_or(FileTime());
    if (!acceptsImport(key, storage, date, path))
        return done();
    // A cut or garbled file is never taken in as text.
    const std::optional<AppleDocument> document = AppleDocument::open(path);
    if (!document) {
        LogError("apcloud:updateLocal undecodable %1", path);
        return done();
    }
    importText(key, storage, date, document->text(), historyOf(path, document->text()), std::move(done));
}

void FolderAppleCloud::updateFile(const AppleDocument& document, int updateKey, Done completion)
{
    queue_->async([self = shared_from_this(), document, updateKey, completion] {
        const Done done = [completion] {
            if (completion)
                completion();
        };
        if (!self->isCurrent(updateKey))
            return done();
        const QString key = QFileInfo(document.path()).fileName();
        const int storage = storageOfDocument(document.path());
        const std::optional<FileTime> date = document.fileModificationDate();
        if (storage == 0 || !isImportableName(key) || !date || !self->acceptsImport(key, storage, *date, document.path()))
            return done();
        self->importText(key, storage, *date, document.text(), self->historyOf(document.path(), document.text()), done);
    });
}

void FolderAppleCloud::updateLocalFile(const AppleDocument& document, Done completion)
{
    updateFile(document, updateKey_, std::move(completion));
}

bool FolderAppleCloud::acceptsImport(const QString& key, int storage, const FileTime& date, const QString& path) const
{
    const QString folder = storageName(storage);
    if (exists(Note::documentFileForKey(key, storage))) {
        if (linkHolds(LinkFiles::modificationDate(key, NoteServiceCloud, storage), key, storage, date, path)) {
            LogInfo("apcloud:localfile resist update (applecloud) %1/%2", folder, key);
            return false;
        }
        const std::optional<FileTime> ckDate = LinkFiles::modificationDate(key, NoteServiceCloudKit, storage);
        if (ckDate && LinkFiles::dateIsNewerOrEqualTo(*ckDate, date)) {
            LogInfo("apcloud:localfile resist update (ckcloud) %1/%2", folder, key);
            links_.write(key, NoteServiceCloud, storage, ckDate);
            return false;
        }
    }
    if (LinkFiles::isNewerOrEqualTo(key, NoteServiceTrash, storage, date)) {
        LogInfo("apcloud:localfile resist update (trash) %1/%2", folder, key);
        return false;
    }
    return true;
}

void FolderAppleCloud::importText(const QString& key, int storage, const FileTime& date, const QString& text,
                                  const QStringList& history, Done done)
{
    NoteServices* const services = Note::services();
    if (text.isEmpty() || !services)
        return done();
    {
        std::lock_guard lock(waitingMutex_);
        waiting_.push_back({{key, storage, text, date.seconds, 0, history}, date, std::move(done)});
        if (std::exchange(takingIn_, true))
            return;
    }
    takeTurnForWaiting(services->fileQueue());
}

void FolderAppleCloud::takeTurnForWaiting(const DispatchQueuePtr& fileQueue)
{
    // The documents already queued to be read come first: the turn takes them
    // all, and pays its waits for the disk once for them.
    queue_->async([self = shared_from_this(), fileQueue] {
        SyncConflict::takeTurn([self, fileQueue](std::function<void()> finished) {
            fileQueue->async([self, fileQueue, finished] {
                const bool more = self->takeInWaiting();
                finished();
                if (more)
                    self->takeTurnForWaiting(fileQueue);
            });
        });
    });
}

bool FolderAppleCloud::takeInWaiting()
{
    std::deque<Waiting> taking;
    {
        std::lock_guard lock(waitingMutex_);
        taking.swap(waiting_);
    }
    {
        // One transaction for the rows instead of one per note; the workers
        // read the next documents meanwhile.
        std::optional<Note::IndexBatch> rows(std::in_place);
        TakenIn takenIn;
        // The texts of notes new here reach the disk together, each before it takes its name.
        AtomicFile::Prepared texts;
        for (const Waiting& waiting : taking) {
            const QString path = Note::documentFileForKey(waiting.incoming.key, waiting.incoming.storage);
            if (exists(path))
                continue;
            Note::createImmediateDirectoryForFilePath(path);
            texts.prepare(path, waiting.incoming.text.toUtf8());
        }
        // Each note to commit, its text parsed here while the texts go to the disk.
        std::vector<NotePtr> notes;
        for (const Waiting& waiting : taking) {
            notes.push_back(std::make_shared<Note>(waiting.incoming.key, waiting.incoming.storage));
            notes.back()->setText(waiting.incoming.text);
        }
        texts.makeDurable([&notes] {
            for (const NotePtr& note : notes)
                note->parseAhead();
        });
        for (size_t i = 0; i < taking.size(); ++i) {
            Waiting& waiting = taking[i];
            const SyncConflict::Incoming& incoming = waiting.incoming;
            // A note here may meet the text with forks and re-sends that go out at once, and a
            // waiting step may read or change the note: the imports before it settle first.
            if (exists(Note::documentFileForKey(incoming.key, incoming.storage))
                || takenIn.touches(incoming.key, incoming.storage))
                takenIn.settle([&rows] { rows->makeLinks(); });
            if (!SyncConflict::takes(SyncConflict::meet(incoming))) {
                links_.write(incoming.key, NoteServiceCloud, incoming.storage, waiting.date);
                waiting.done();
                continue;
            }
            Done taken;
            takenIn.commit([&] { taken = commitImport(incoming, waiting.date, notes[i]); });
            takenIn.add(incoming.key, incoming.storage, incoming.text, [taken, done = std::move(waiting.done)] {
                if (taken)
                    taken();
                done();
            });
        }
        // The rows go to the database beside the folders' flush, committed
        // beside the turns after, nobody waiting for them; the links are made
        // beside the flush and the steps, and waited for at the turn's end.
        // A row whose text a crash took is a ghost the start-up tidy removes,
        // and a text whose row or links a crash took has no marker and is
        // indexed again.
        takenIn.settle([&rows] { rows->handOff(); });
        rows.reset();
    }
    std::lock_guard lock(waitingMutex_);
    takingIn_ = !waiting_.empty();
    return takingIn_;
}

FolderAppleCloud::Done FolderAppleCloud::commitImport(const SyncConflict::Incoming& incoming, const FileTime& date,
                                                      const NotePtr& note)
{
    note->restoreMeta();
    note->setStorage(incoming.storage);
    note->setUpdatedOn(incoming.updatedOn);
    note->setText(incoming.text);
    bool committed = false;
    note->_commitAndCloseLocalNote([&](bool ok) { committed = ok; });
    const QString folder = storageName(note->storage());
    if (!committed) {
        LogError("apcloud:updateLocal update error %1/%2", folder, note->key());
        return {};
    }
    return [this, incoming, date, note, folder] {
        LogInfo("apcloud:updateLocal update ok %1/%2", folder, note->key());
        links_.write(note->key(), NoteServiceCloud, note->storage(), date);
        SyncConflict::taken(incoming);
        sendUpdate(note, false);
        SyncConflict::dropForkTheNoteHolds(incoming.key, incoming.storage, incoming.text, incoming.history);
    };
}

// A link can be dated ahead of the clock (a conflict re-send is dated after the text it met), so a
// later save elsewhere can carry an earlier date: one whose history chose it over this text is newer.
bool FolderAppleCloud::linkHolds(const std::optional<FileTime>& linked, const QString& key, int storage,
                                 const FileTime& date, const QString& path) const
{
    if (!linked || !LinkFiles::dateIsNewerOrEqualTo(*linked, date))
        return false;
    // Dated as the document it was written for: that document, unchanged, with no history to read.
    if (*linked == date)
        return true;
    const QStringList lines = historyFileLines(path);
    const QStringList hashes = lines.size() >= 2 ? lines.at(1).split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList();
    return hashes.isEmpty() || hashes.first() != lines.first() || !SyncConflict::sentOverHeldText(hashes, key, storage);
}

QStringList FolderAppleCloud::historyFileLines(const QString& path) const
{
    QFile file(historyFileFor(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.read(4096)).split(QLatin1Char('\n')) : QStringList();
}

// The history the side file beside the document gives its text; the text's own alone when it speaks of another.
QStringList FolderAppleCloud::historyOf(const QString& path, const QString& text) const
{
    const QStringList lines = historyFileLines(path);
    const bool describesText = lines.size() >= 2 && lines.first() == NoteHistory::hashOf(text);
    return NoteHistory::fromField(describesText ? lines.at(1) : QString(), text);
}

QString FolderAppleCloud::historyFileFor(const QString& path) const
{
    const QFileInfo document(path);
    return QFileInfo(document.path()).path() + QStringLiteral("/.history/") + QFileInfo(document.path()).fileName()
           + QLatin1Char('/') + document.fileName();
}

void FolderAppleCloud::afterUpdate(const std::shared_ptr<Pass>& pass)
{
    if (!quickCloudCheck() || !isCurrent(pass->key))
        return;
    queue_->async([self = shared_from_this(), pass] {
        if (!self->quickCloudCheck() || !self->isCurrent(pass->key))
            return;
        if (self->requireUploadOfflineDocuments_.exchange(false))
            return self->uploadOfflineDocuments(pass);
        if (self->needTrash_.exchange(false))
            return self->trashDocumentsMissingFromCloud(pass);
        LogInfo("apcloud:afterUpdate enableUpdates");
        pass->query->enableUpdates();
    });
}

// --- Upload and trash passes

bool FolderAppleCloud::shouldUpload(const QString& key, int storage, const FileTime& textDate,
                                    const std::optional<FileTime>& link) const
{
    // A text the drive's link covers has nothing to send, wherever the document is: the common
    // case, answered without looking at the document. Only the drive's link counts: an edit the
    // record store took first is still missing from the drive, where a move would carry the
    // stale document to every computer.
    if (SyncConflict::linkCovers(link, textDate))
        return false;
    const QString document = fileURLForKey(key, storage);
    if (document.isEmpty())
        return false;
    const std::optional<FileTime> documentDate = FileTimes::modificationTime(document);
    if (!documentDate)
        return !link && !exists(Note::linkFileForKey(key, NoteServiceCloud, storage)); // gone elsewhere: the trash pass decides
    // A document nobody changed since this computer's last exchange takes local edits.
    return link && LinkFiles::dateIsNewerOrEqualTo(*link, *documentDate);
}

// The text file's date, once its commit is whole: a cut one is made again on the file queue.
std::optional<FileTime> FolderAppleCloud::committedTextDate(const HeldFolder& texts, const QString& key, int storage) const
{
    const std::optional<FileTime> date = texts.modificationTime(key);
    NoteServices* const services = Note::services();
    if (!SyncConflict::mayBeCutCommit(date) || !services)
        return date;
    services->fileQueue()->sync([&] { SyncConflict::repairCutCommit(key, storage); });
    return texts.modificationTime(key);
}

void FolderAppleCloud::uploadOfflineDocuments(const std::shared_ptr<Pass>& pass)
{
    for (const int storage : Storages) {
        // Held open for the looks at every name; each link is taken after its text is read.
        const HeldFolder texts(Note::documentDirectoryForStorage(storage));
        const HeldFolder links = cloudLinkFolder(storage);
        QStringList names = texts.names(HeldFolder::Entries::Files);
        std::sort(names.begin(), names.end());
        LogInfo("apcloud:uploadOffline uploads: %1", names.join(QStringLiteral(", ")));
        for (const QString& name : names) {
            if (!quickCloudCheck() || !isCurrent(pass->key))
                return;
            if (name.startsWith(QLatin1Char('.')))
                continue;
            const std::optional<FileTime> textDate = committedTextDate(texts, name, storage);
            if (!textDate || !shouldUpload(name, storage, *textDate, pass->currentCloudLinkDate(links, name, storage))) {
                LogInfo("apcloud:uploadOffline already existed %1", name);
                continue;
            }
            LogInfo("apcloud:uploadOffline upload %1", name);
            auto note = std::make_shared<Note>(name, storage);
            // The file's date is what the links are compared with.
            note->setUpdatedOn(FileDates::modificationDate(Note::documentFileForKey(name, storage)));
            if (note->restoreText())
                save(note, {});
        }
    }
    carryOfflineRemovals(pass);
}

void FolderAppleCloud::carryOfflineRemovals(const std::shared_ptr<Pass>& pass)
{
    for (const auto& [key, storage] : std::as_const(pass->goneSinceExchange)) {
        if (!quickCloudCheck() || !isCurrent(pass->key))
            return;
        // Taken in again by the update pass: a change made elsewhere since.
        if (exists(Note::documentFileForKey(key, storage)))
            continue;
        const QString path = fileURLForKey(key, storage);
        const std::optional<FileTime> link = LinkFiles::modificationDate(key, NoteServiceCloud, storage);
        const std::optional<FileTime> documentDate = FileTimes::modificationTime(path);
        // A missing document is the trash pass's; one changed since the link, the update pass took in.
        if (!link || !documentDate || !LinkFiles::dateIsNewerOrEqualTo(*link, *documentDate))
            continue;
        LogInfo("apcloud:uploadOffline remove %1/%2", storageName(storage), key);
        if (!deleteFile(path).isNull())
            continue;
        // As a move's old name: changes up to the last exchange are refused, later ones still come in.
        links_.retire(key, NoteServiceCloud, storage, link);
        QFile::remove(historyFileFor(path));
    }
    afterUpdate(pass);
}

bool FolderAppleCloud::isHealthyForTrash(const QList<QStringList>& linked) const
{
    const QString token = container_.identityToken();
    const QString documents = container_.documentsPath();
    if (token.isEmpty() || token != defaults_.stringForKey(QString::fromLatin1(LinkedAccountKey))
        || !QFileInfo(documents).isDir())
        return false;
    for (qsizetype i = 0; i < linked.size(); ++i) {
        const QString folder = documents + QLatin1Char('/') + storageName(Storages[i]);
        if (!linked[i].isEmpty() && (!QFileInfo(folder).isDir() || isLinkedFolder(folder)))
            return false;
    }
    return true;
}

// The names in the storage's drive folder (the inbox's documents may sit in a
// "Home" folder too): one listing, not a look per linked key.
QSet<QString> FolderAppleCloud::documentNames(int storage) const
{
    QString documents;
    {
        std::lock_guard lock(mutex_);
        documents = documents_;
    }
    QStringList names;
    if (documents.isEmpty())
        return {};
    listFolderNames(documents + QLatin1Char('/') + storageName(storage), &names);
    if (storage == NoteStorageInbox)
        listFolderNames(documents + QStringLiteral("/Home"), &names);
    return QSet<QString>(names.cbegin(), names.cend());
}

void FolderAppleCloud::trashDocumentsMissingFromCloud(const std::shared_ptr<Pass>& pass)
{
    if (!quickCloudCheck())
        return;
    QList<QStringList> linked;
    for (const int storage : Storages)
        linked.append(linkedKeys(storage));
    if (!isHealthyForTrash(linked)) {
        LogError("apcloud:trash skipped: the folder is not complete");
        return afterUpdate(pass);
    }
    QList<std::pair<QString, int>> missing;
    qsizetype total = 0;
    for (qsizetype i = 0; i < linked.size(); ++i) {
        const QSet<QString> documents = documentNames(Storages[i]);
        total += linked[i].size();
        QStringList gone;
        for (const QString& key : std::as_const(linked[i])) {
            if (!documents.contains(key))
                gone.append(key);
        }
        // Walked from the last name to the first.
        std::sort(gone.begin(), gone.end(), std::greater<>());
        for (const QString& key : std::as_const(gone))
            missing.append({key, Storages[i]});
    }
    // More than that looks like a folder gone wrong rather than deletions made elsewhere.
    if (SyncConflict::tooManyGone(missing.size(), total)) {
        LogError("apcloud:trash refused: %1 of %2 documents missing", missing.size(), total);
        return afterUpdate(pass);
    }
    for (const auto& [key, storage] : missing)
        trashNote(key, storage);
    afterUpdate(pass);
}

void FolderAppleCloud::trashNote(const QString& key, int storage)
{
    auto note = std::make_shared<Note>(key, storage);
    const QString folder = storageName(storage);
    std::optional<FileTime> date = LinkFiles::modificationDate(key, NoteServiceCloud, storage);
    if (!date) {
        LogInfo("apcloud:trash use meta update %1/%2", folder, key);
        note->restoreMeta();
        date = FileTime::fromWholeSeconds(note->updatedOn());
    } else if (NoteServices* const services = Note::services()) {
        // An edit made here that went nowhere yet (offline, or cut short) stays, as a fork; so does one
        // only the record store took: whoever removed the document may never have seen it.
        services->fileQueue()->sync([&] {
            if (SyncConflict::hasUnsentChanges(key, storage, NoteServiceCloud))
                SyncConflict::keepLocalAsFork(key, storage);
        });
    }
    note->_deleteLocalNote([&](const Error& error) {
        if (!error.isNull()) {
            LogError("apcloud:trash error %1/%2 %3", folder, key, error.description());
            return;
        }
        links_.retire(key, NoteServiceCloud, storage, date);
        LogInfo("apcloud:trash ok %1/%2", folder, key);
        sendUpdate(note, true);
    });
    ckCloud_->notifyDeleteNote(note, *date, [](bool) {});
}
