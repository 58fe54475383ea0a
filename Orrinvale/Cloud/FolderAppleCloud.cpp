#include "FolderAppleCloud.h"

#include "AppleDocument.h"
#include "NoteHistory.h"
#include "SyncConflict.h"

#include "Store/NoteServices.h"

#include "Folders.h"
#include "Log.h"
#include "UserDefaults.h"
#include "files/AtomicFile.h"
#include "files/FileDates.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FolderAppleCloud::Pass {
    std::shared_ptr<FolderQuery> query;
    int key = 0;
    QStringList files;
    QHash<QString, FileTime> changeDates;
    int cursor = 0; // queue only
};

namespace {

const int Storages[] = {NoteStorageInbox, NoteStorageArchive};

QString storageName(int storage)
{
    return Note::resourceNameForStorage(storage);
}

int storageOfDocument(const QString& path)
{
    return Note::storageKeyForResourceName(QFileInfo(QFileInfo(path).path()).fileName());
}

// Hidden files and placeholders, and names no note file can have.
bool isImportableName(const QString& name)
{
    return !name.startsWith(QLatin1Char('.')) && Note::isSafePathComponent(name);
}

// Regular files only, never through a link, and of a size a note can have.
bool isImportableFile(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)
        && info.st_size <= FolderAppleCloud::MaxDocumentBytes;
}

bool exists(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Broken links too (QDir lists them among the system entries): a link file
// whose date cannot be read still says the note was in the folder.
QStringList linkedKeys(int storage)
{
    return QDir(Note::linkDirectoryForService(NoteServiceCloud, storage)).entryList(QDir::Files | QDir::System, QDir::Name);
}

void sendUpdate(const NotePtr& note, bool deleted)
{
    if (NoteServices* const services = Note::services())
        deleted ? services->noteDidDeleteFromRemoteServer(note) : services->noteDidUpdateFromRemoteServer(note);
}

} // namespace

FolderAppleCloud::FolderAppleCloud(std::shared_ptr<CKCloud> ckCloud, UserDefaults& defaults)
    : ckCloud_(std::move(ckCloud))
    , defaults_(defaults)
    , container_(defaults)
    , queue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".cloud"))))
{
}

FolderAppleCloud::~FolderAppleCloud()
{
    // Queued blocks hold the object: none is left but, perhaps, the one running this.
    if (lastQuery_)
        lastQuery_->stop();
}

bool FolderAppleCloud::quickCloudCheck() const
{
    NoteServices* const services = Note::services();
    return services && services->enabledAppleCloud() && !container_.identityToken().isEmpty();
}

bool FolderAppleCloud::documentExists(const QString& key, int storage) const
{
    // The inbox's documents may sit in a "Home" folder too.
    const QString path = fileURLForKey(key, storage);
    return exists(path)
        || (storage == NoteStorageInbox && !path.isEmpty()
            && exists(QFileInfo(QFileInfo(path).path()).path() + QStringLiteral("/Home/") + key));
}

QString FolderAppleCloud::fileURLForKey(const QString& key, int storage) const
{
    std::lock_guard lock(mutex_);
    if (documents_.isEmpty() || !Note::isSafePathComponent(key) || storageName(storage).isEmpty())
        return QString();
    return documents_ + QLatin1Char('/') + storageName(storage) + QLatin1Char('/') + key;
}

// --- Identity and container

void FolderAppleCloud::adoptToken(const QString& token)
{
    token_ = token;
    const QString linkedKey = QString::fromLatin1(LinkedAccountKey);
    if (defaults_.stringForKey(linkedKey) != token) {
        // These links speak of another account's documents: kept, the trash
        // pass would delete every note missing there.
        LogInfo("apcloud:account changed %1", token);
        links_.changeAccount(NoteServiceCloud);
        defaults_.setString(token, linkedKey);
        defaults_.synchronize();
    }
    // Edits made while the folder was away still have to go out.
    requireUploadOfflineDocuments_ = true;
}

void FolderAppleCloud::lookUpContainer()
{
    const QString documents = container_.documentsPath();
    std::lock_guard lock(mutex_);
    documents_ = QFileInfo(documents).isDir() ? documents : QString();
}

void FolderAppleCloud::identityDidChange()
{
    const QString token = container_.identityToken();
    if (token == token_)
        return;
    if (token.isEmpty()) {
        LogInfo("apcloud:token not availabled!");
        token_.clear();
        queue_->async([self = shared_from_this()] {
            std::lock_guard lock(self->mutex_);
            self->documents_.clear();
        });
        return;
    }
    LogInfo("apcloud:token changed: %1", token);
    adoptToken(token);
    queue_->async([self = shared_from_this()] { self->lookUpContainer(); });
}

// --- The query

void FolderAppleCloud::startQuery()
{
    if (state_ != Idle)
        return;
    LogInfo("apcloud:startQuery start");
    std::weak_ptr<FolderAppleCloud> weak = weak_from_this();
    container_.setIdentityCallback([weak] {
        if (auto self = weak.lock())
            self->identityDidChange();
    });
    const QString token = container_.identityToken();
    if (token.isEmpty()) {
        LogInfo("apcloud:startQuery token disabled!");
        token_.clear();
        return;
    }
    adoptToken(token);
    state_ = Fetching;
    needTrash_ = false;
    queue_->async([self = shared_from_this()] {
        self->lookUpContainer();
        std::shared_ptr<FolderQuery> old;
        QString documents;
        {
            std::lock_guard lock(self->mutex_);
            documents = self->documents_;
            old = std::exchange(self->lastQuery_, nullptr);
        }
        if (documents.isEmpty()) {
            LogError("apcloud:startQuery error container not availabled!");
            self->state_ = Idle;
            return;
        }
        if (old && old->isStarted() && !old->isStopped())
            DispatchQueue::main()->async([old] {
                old->stop();
                LogInfo("apcloud:startQuery stop query.. ok");
            });
        auto query = FolderQuery::create(documents);
        std::weak_ptr<FolderAppleCloud> weak = self;
        std::weak_ptr<FolderQuery> weakQuery = query;
        auto notify = [weak, weakQuery](bool gathering) {
            return [weak, weakQuery, gathering] {
                auto cloud = weak.lock();
                auto query = weakQuery.lock();
                if (cloud && query)
                    cloud->queryDidNotify(query, gathering);
            };
        };
        query->setDidFinishGathering(notify(true));
        query->setDidUpdate(notify(false));
        query->setScanObserver([weak] {
            if (auto cloud = weak.lock())
                cloud->container_.check();
        });
        LogInfo("apcloud:startQuery malloc %1", documents);
        {
            std::lock_guard lock(self->mutex_);
            self->lastQuery_ = query;
        }
        DispatchQueue::main()->async([self, query] {
            LogInfo("apcloud:startQuery start.. (not)");
            if (query->start()) {
                LogInfo("apcloud:startQuery start.. ok");
                self->state_ = Running;
                return;
            }
            LogError("apcloud:startQuery start.. failed");
            std::lock_guard lock(self->mutex_);
            self->lastQuery_.reset();
            self->state_ = Idle;
        });
    });
}

std::shared_ptr<FolderQuery> FolderAppleCloud::endQuery()
{
    updateKey_ = (updateKey_ + 1) % 4096;
    std::shared_ptr<FolderQuery> query;
    {
        std::lock_guard lock(mutex_);
        query = std::exchange(lastQuery_, nullptr);
    }
    state_ = Idle;
    return query && query->isStarted() && !query->isStopped() ? query : nullptr;
}

void FolderAppleCloud::stopQuery()
{
    if (state_ != Running)
        return;
    if (const auto query = endQuery())
        queue_->async([query] {
            DispatchQueue::main()->async([query] {
                query->stop();
                LogInfo("apcloud:stopQuery stop.. ok");
            });
        });
}

void FolderAppleCloud::emergencyStopQuery()
{
    if (state_ != Running)
        return;
    if (const auto query = endQuery())
        query->stop();
    LogInfo("apcloud:emergencyStopQuery stop.. ok");
}

void FolderAppleCloud::lockQuery()
{
    int idle = Idle;
    state_.compare_exchange_strong(idle, Locked);
}

void FolderAppleCloud::unlockAndStartQuery()
{
    int locked = Locked;
    if (state_.compare_exchange_strong(locked, Idle))
        startQuery();
}

QString FolderAppleCloud::localizedStatus() const
{
    auto tr = [](const char* text) { return QCoreApplication::translate("AppleCloud", text); };
    if (!quickCloudCheck())
        return tr("Disabled");
    switch (state_.load()) {
    case Idle:
        return tr("Cannot start query");
    case Fetching:
        return tr("Fetching..");
    case Locked:
        return tr("Locked");
    case Running: {
        const int count = listedFiles_;
        const int finished = finishedFiles_;
        if (finished < startedFiles_ && finished < count)
            return tr("Download %1 / %2 ..").arg(std::clamp(finished, 0, count)).arg(count);
        return tr("Ready");
    }
    default:
        return tr("Idle");
    }
}

void FolderAppleCloud::queryDidNotify(const std::shared_ptr<FolderQuery>& query, bool gathering)
{
    {
        std::lock_guard lock(mutex_);
        if (query != lastQuery_)
            return;
    }
    if (gathering)
        LogInfo("apcloud:query finish gathering");
    else
        LogInfo("apcloud:query update");
    needTrash_ = true;
    updateFiles(query);
}

// --- Documents open here

void FolderAppleCloud::presentDocument(const std::shared_ptr<AppleDocument>& document)
{
    std::lock_guard lock(mutex_);
    presented_.insert(document->path(), document);
}

void FolderAppleCloud::closeDocument(const QString& path)
{
    std::lock_guard lock(mutex_);
    presented_.remove(path);
}

QStringList FolderAppleCloud::openingFiles() const
{
    std::lock_guard lock(mutex_);
    return presented_.keys();
}

bool FolderAppleCloud::isOpening(const QString& path) const
{
    std::lock_guard lock(mutex_);
    return presented_.contains(path);
}

void FolderAppleCloud::releaseDeletedDocuments()
{
    QList<std::shared_ptr<AppleDocument>> deleted;
    {
        std::lock_guard lock(mutex_);
        for (const auto& document : std::as_const(presented_))
            if (!exists(document->path()))
                deleted.append(document);
    }
    for (const auto& document : deleted)
        document->accommodatePresentedItemDeletion([self = shared_from_this(), path = document->path()](const Error& error) {
            if (error.isNull())
                self->closeDocument(path);
        });
}

void FolderAppleCloud::fileURLForNote(const NotePtr& note, std::function<void(const QString& path)> hander)
{
    if (!quickCloudCheck())
        return hander(QString());
    queue_->async([self = shared_from_this(), note, hander = std::move(hander)] {
        hander(self->fileURLForKey(note->key(), note->storage()));
    });
}

// --- The update pass

void FolderAppleCloud::updateFiles(const std::shared_ptr<FolderQuery>& query)
{
    if (!quickCloudCheck())
        return;
    auto pass = std::make_shared<Pass>();
    pass->query = query;
    pass->key = updateKey_ = (updateKey_ + 1) % 4096;
    LogInfo("apcloud:updateFiles disableUpdates");
    query->disableUpdates();
    queue_->async([self = shared_from_this(), pass] {
        self->releaseDeletedDocuments();
        const std::vector<DriveItem> results = pass->query->results();
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
    const QString name = QFileInfo(item.path).fileName();
    const int storage = storageOfDocument(item.path);
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
    if (LinkFiles::isNewerOrEqualTo(name, NoteServiceCloud, storage, date))
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
    if (!acceptsImport(key, storage, date))
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
        if (storage == 0 || !isImportableName(key) || !date || !self->acceptsImport(key, storage, *date))
            return done();
        self->importText(key, storage, *date, document.text(), self->historyOf(document.path(), document.text()), done);
    });
}

void FolderAppleCloud::updateLocalFile(const AppleDocument& document, Done completion)
{
    updateFile(document, updateKey_, std::move(completion));
}

bool FolderAppleCloud::acceptsImport(const QString& key, int storage, const FileTime& date) const
{
    const QString folder = storageName(storage);
    if (exists(Note::documentFileForKey(key, storage))) {
        if (LinkFiles::isNewerOrEqualTo(key, NoteServiceCloud, storage, date)) {
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
    const SyncConflict::Incoming incoming{key, storage, text, date.seconds, 0, history};
    const DispatchQueuePtr fileQueue = services->fileQueue();
    SyncConflict::takeTurn([self = shared_from_this(), incoming, date, done, fileQueue](std::function<void()> finished) {
        fileQueue->async([self, incoming, date, done, finished] {
            if (SyncConflict::meet(incoming) == SyncConflict::Outcome::Take)
                self->commitImport(incoming, date);
            else
                self->links_.write(incoming.key, NoteServiceCloud, incoming.storage, date);
            finished();
            done();
        });
    });
}

void FolderAppleCloud::commitImport(const SyncConflict::Incoming& incoming, const FileTime& date)
{
    auto note = std::make_shared<Note>(incoming.key, incoming.storage);
    note->restoreMeta();
    note->setStorage(incoming.storage);
    note->setUpdatedOn(incoming.updatedOn);
    note->setText(incoming.text);
    note->_commitAndCloseLocalNote([&](bool ok) {
        const QString folder = storageName(note->storage());
        if (!ok) {
            LogError("apcloud:updateLocal update error %1/%2", folder, note->key());
            return;
        }
        LogInfo("apcloud:updateLocal update ok %1/%2", folder, note->key());
        links_.write(note->key(), NoteServiceCloud, note->storage(), date);
        SyncConflict::taken(incoming);
        sendUpdate(note, false);
        SyncConflict::dropForkTheNoteHolds(incoming.key, incoming.storage, incoming.text);
    });
}

// The history the side file beside the document gives its text; the text's own alone when it speaks of another.
QStringList FolderAppleCloud::historyOf(const QString& path, const QString& text) const
{
    QFile file(historyFileFor(path));
    const QStringList lines = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.read(4096)).split(QLatin1Char('\n'))
                                                              : QStringList();
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

bool FolderAppleCloud::shouldUpload(const QString& key, int storage) const
{
    const QString document = fileURLForKey(key, storage);
    if (document.isEmpty())
        return false;
    const std::optional<FileTime> documentDate = FileTimes::modificationTime(document);
    if (!documentDate)
        return !exists(Note::linkFileForKey(key, NoteServiceCloud, storage)); // gone elsewhere: the trash pass decides
    // A document nobody changed since this computer's last exchange takes local edits. Only the
    // drive's link counts: an edit the record store took first is still missing from the drive,
    // where a move would carry the stale document to every computer.
    return SyncConflict::hasUnexchangedLocalChanges(key, storage, {NoteServiceCloud})
        && LinkFiles::isNewerOrEqualTo(key, NoteServiceCloud, storage, *documentDate);
}

void FolderAppleCloud::uploadOfflineDocuments(const std::shared_ptr<Pass>& pass)
{
    for (const int storage : Storages) {
        const QStringList names = QDir(Note::documentDirectoryForStorage(storage)).entryList(QDir::Files, QDir::Name);
        LogInfo("apcloud:uploadOffline uploads: %1", names.join(QStringLiteral(", ")));
        for (const QString& name : names) {
            if (!quickCloudCheck() || !isCurrent(pass->key))
                return;
            if (name.startsWith(QLatin1Char('.')))
                continue;
            if (NoteServices* const services = Note::services())
                services->fileQueue()->sync([&] { SyncConflict::repairCutCommit(name, storage); });
            if (!shouldUpload(name, storage)) {
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
    afterUpdate(pass);
}

bool FolderAppleCloud::isHealthyForTrash() const
{
    const QString token = container_.identityToken();
    const QString documents = container_.documentsPath();
    if (token.isEmpty() || token != defaults_.stringForKey(QString::fromLatin1(LinkedAccountKey))
        || !QFileInfo(documents).isDir())
        return false;
    for (const int storage : Storages) {
        if (!linkedKeys(storage).isEmpty() && !QFileInfo(documents + QLatin1Char('/') + storageName(storage)).isDir())
            return false;
    }
    return true;
}

void FolderAppleCloud::trashDocumentsMissingFromCloud(const std::shared_ptr<Pass>& pass)
{
    if (!quickCloudCheck())
        return;
    if (!isHealthyForTrash()) {
        LogError("apcloud:trash skipped: the folder is not complete");
        return afterUpdate(pass);
    }
    QList<std::pair<QString, int>> missing;
    qsizetype linked = 0;
    for (const int storage : Storages) {
        const QStringList keys = linkedKeys(storage);
        linked += keys.size();
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            if (!documentExists(*key, storage))
                missing.append({*key, storage});
        }
    }
    if (missing.size() > std::max<double>(TrashFloor, TrashShare * double(linked))) {
        LogError("apcloud:trash refused: %1 of %2 documents missing", missing.size(), linked);
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
        LinkFiles::remove(key, NoteServiceCloud, storage);
        links_.write(key, NoteServiceTrash, storage, date);
        LogInfo("apcloud:trash ok %1/%2", folder, key);
        sendUpdate(note, true);
    });
    ckCloud_->notifyDeleteNote(note, *date, [](bool) {});
}

// --- Outgoing writes

namespace {

Error pathError(int code, const QString& description, const QString& path)
{
    Error error = Error::make(QStringLiteral("NSCocoaErrorDomain"), code, description.arg(path));
    error.userInfo.insert(QStringLiteral("FileURL"), path);
    return error;
}

Error alreadyExists(const QString& destination)
{
    Error error;
    error.domain = QStringLiteral("The document, already exists at path: %1").arg(destination);
    error.code = 512;
    error.userInfo.insert(QStringLiteral("FileURL"), destination);
    return error;
}

bool isRegularOrMissing(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode);
}

// Check and move in one step, so a document appearing meantime is never replaced.
int moveNoReplace(const QString& source, const QString& destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: the link refuses an existing name just as well.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    return ::unlink(from.constData()) == 0 ? 0 : errno;
}

} // namespace

// A document another computer changed with a text this one never held would
// be lost under the save: it is taken in first, and the conflict rule says
// which text the document holds then.
bool FolderAppleCloud::takesInFirst(const NotePtr& note, const QString& path)
{
    const std::optional<FileTime> date = FileTimes::modificationTime(path);
    if (!date || !isImportableFile(path)
        || LinkFiles::isNewerOrEqualTo(note->key(), NoteServiceCloud, note->storage(), *date))
        return false;
    const std::optional<AppleDocument> document = AppleDocument::open(path);
    if (!document || document->text() == note->text() || document->text().isEmpty()
        || NoteHistory::load(note->key(), note->storage()).contains(NoteHistory::hashOf(document->text())))
        return false;
    LogInfo("apcloud:save takes in first %1", note->key());
    importText(note->key(), note->storage(), *date, document->text(), historyOf(path, document->text()), [] {});
    return true;
}

std::optional<AppleDocument> FolderAppleCloud::saveDocument(const NotePtr& note, Error* error)
{
    const QString path = fileURLForKey(note->key(), note->storage());
    const QString folder = storageName(note->storage());
    if (path.isEmpty() || !isRegularOrMissing(path)) {
        setError(error, pathError(4, QStringLiteral("No document at %1"), path.isEmpty() ? note->key() : path));
        LogError("apcloud:save failed %1/%2", folder, note->key());
        return std::nullopt;
    }
    if (takesInFirst(note, path)) {
        setError(error, pathError(4, QStringLiteral("%1 changed elsewhere: taken in first"), path));
        return std::nullopt;
    }
    AppleDocument document(path);
    document.setText(note->text());
    Note::createImmediateDirectoryForFilePath(path);
    // Dated by the project's clock, as the notes and records are, and never before the note's own date
    // (a change can be dated after its last exchange): the link it leaves must count the text as sent.
    if (!document.save(error, std::max(FileTime::now(), FileTime::fromWholeSeconds(note->updatedOn())))) {
        LogError("apcloud:save failed %1/%2", folder, note->key());
        return std::nullopt;
    }
    const QString history = historyFileFor(path);
    Note::createImmediateDirectoryForFilePath(history);
    AtomicFile::write(history, (NoteHistory::hashOf(note->text()) + QLatin1Char('\n')
                                + SyncConflict::sending(note->key(), note->storage(), note->text()))
                                   .toLatin1());
    LogInfo("apcloud:save ok %1/%2", folder, note->key());
    return document;
}

std::optional<FileTime> FolderAppleCloud::commitNow(const NotePtr& note, Error* error)
{
    std::optional<AppleDocument> document = saveDocument(note, error);
    const std::optional<FileTime> date = document ? document->fileModificationDate() : std::nullopt;
    if (date)
        links_.write(note->key(), NoteServiceCloud, note->storage(), date);
    else
        LogError("apcloud:save failed %1", note->key());
    return date;
}

void FolderAppleCloud::save(const NotePtr& note, CommitHandler handler)
{
    Error error;
    const std::optional<FileTime> date = commitNow(note, &error);
    if (handler)
        handler(date ? date->toDateTime() : QDateTime(), date ? Error() : error);
}

bool FolderAppleCloud::hasDocuments() const
{
    std::lock_guard lock(mutex_);
    return !documents_.isEmpty();
}

// Off, or no folder yet: the handler gets empty values at once.
void FolderAppleCloud::onQueue(std::function<void()> work, std::function<void()> off)
{
    if (held_.keep([self = shared_from_this(), work, off] { self->onQueue(work, off); }))
        return;
    if (!quickCloudCheck())
        return off();
    queue_->async([self = shared_from_this(), work = std::move(work), off = std::move(off)] {
        self->hasDocuments() ? work() : off();
    });
}

void FolderAppleCloud::holdWrites()
{
    held_.hold();
}

void FolderAppleCloud::releaseWrites()
{
    // The new folder's account and path come first, so no held write
    // reaches the old folder or is linked under its account.
    identityDidChange();
    queue_->async([self = shared_from_this()] { self->lookUpContainer(); });
    held_.release();
}

void FolderAppleCloud::commitNote(const NotePtr& note, CommitHandler handler)
{
    onQueue([self = shared_from_this(), note, handler] { self->save(note, handler); },
            [handler] {
                if (handler)
                    handler(QDateTime(), Error());
            });
}

void FolderAppleCloud::commitAndCloseNote(const NotePtr& note, CommitHandler handler)
{
    commitNote(note, std::move(handler));
}

void FolderAppleCloud::prepareNote(const NotePtr& note, CommitHandler handler)
{
    auto answer = [handler](const QDateTime& date, const Error& error) {
        if (handler)
            handler(date, error);
    };
    onQueue([self = shared_from_this(), note, answer] { self->prepareNow(note, answer); },
            [answer] { answer(QDateTime(), Error()); });
}

void FolderAppleCloud::prepareNow(const NotePtr& note, const CommitHandler& handler)
{
    const QString key = note->key();
    const int storage = note->storage();
    const QString folder = storageName(storage);
    if (exists(fileURLForKey(key, storage)))
        return handler(QDateTime(), Error());
    const std::optional<FileTime> ckDate = LinkFiles::modificationDate(key, NoteServiceCloudKit, storage);
    if (!ckDate) {
        LogInfo("apcloud:prepare resist (ckcloud) %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    if (LinkFiles::isNewerOrEqualTo(key, NoteServiceTrash, storage, *ckDate)) {
        LogInfo("apcloud:prepare resist (trash) %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    Error error;
    const std::optional<AppleDocument> document = saveDocument(note, &error);
    if (!document) {
        LogError("apcloud:prepare failed %1/%2", folder, key);
        return handler(QDateTime(), error);
    }
    const std::optional<FileTime> date = document->fileModificationDate();
    if (!date) {
        LogError("apcloud:prepare error file not exists: %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    links_.write(key, NoteServiceCloud, storage, ckDate);
    LogInfo("apcloud:prepare ok %1/%2", folder, key);
    handler(date->toDateTime(), Error());
}

Error FolderAppleCloud::moveFile(const QString& source, const QString& destination)
{
    if (!exists(source))
        return Error();
    if (exists(destination))
        return alreadyExists(destination);
    Note::createImmediateDirectoryForFilePath(destination);
    if (const int code = moveNoReplace(source, destination)) {
        const Error error = code == EEXIST ? alreadyExists(destination)
                                           : pathError(512, QStringLiteral("Cannot move to %1"), destination);
        LogError("apcloud:move failed %1 error: %2", QFileInfo(source).fileName(), error.description());
        return error;
    }
    LogInfo("apcloud:move ok %1 -> %2", QFileInfo(source).fileName(), QFileInfo(destination).fileName());
    return Error();
}

Error FolderAppleCloud::deleteFile(const QString& path)
{
    LogInfo("apcloud:delete start %1", path);
    if (!exists(path))
        return Error();
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const Error error = pathError(513, QStringLiteral("Cannot delete %1"), path);
        LogError("apcloud:delete failed %1 error: %2", path, error.description());
        return error;
    }
    LogInfo("apcloud:delete ok %1", path);
    return Error();
}

Error FolderAppleCloud::deleteNow(const NotePtr& note)
{
    const QString path = fileURLForKey(note->key(), note->storage());
    const Error error = deleteFile(path);
    if (error.isNull()) {
        LinkFiles::remove(note->key(), NoteServiceCloud, note->storage());
        if (!path.isEmpty())
            QFile::remove(historyFileFor(path));
    }
    return error;
}

// A side file left under the old name would speak for a later document there.
void FolderAppleCloud::moveHistoryFile(const QString& source, const QString& destination) const
{
    const QString from = historyFileFor(source);
    const QString to = historyFileFor(destination);
    QFile::remove(to);
    if (!QFileInfo::exists(from))
        return;
    Note::createImmediateDirectoryForFilePath(to);
    if (!QFile::rename(from, to))
        QFile::remove(from);
}

// A move carries the document only when it holds the moved text. Another
// computer's edit waiting there, never held here, meets the move as it would
// a deletion: it stays beside, as a fork of the note it was written to.
bool FolderAppleCloud::holdsAnotherText(const NotePtr& note, const QString& path) const
{
    const std::optional<AppleDocument> document = exists(path) ? AppleDocument::open(path) : std::nullopt;
    if (!document || document->text() == note->text())
        return false;
    const auto keep = [&] {
        const std::optional<FileTime> date = document->fileModificationDate();
        if (!document->text().isEmpty() && date
            && !NoteHistory::load(note->key(), note->storage()).contains(NoteHistory::hashOf(document->text())))
            SyncConflict::keepAsFork(note->key(), note->storage(), document->text(), date->seconds, date->seconds);
    };
    if (NoteServices* const services = Note::services())
        services->fileQueue()->sync(keep);
    else
        keep();
    return true;
}

void FolderAppleCloud::relocate(const NotePtr& from, const NotePtr& to, bool rename, Handler handler)
{
    auto answer = [handler] {
        if (handler)
            handler(Error());
    };
    onQueue(
        [self = shared_from_this(), from, to, rename, answer] {
            const QString source = self->fileURLForKey(from->key(), from->storage());
            const QString destination = self->fileURLForKey(to->key(), to->storage());
            if (!self->holdsAnotherText(from, source) && self->moveFile(source, destination).isNull()) {
                self->links_.moveCloudLink(from->key(), from->storage(), to->key(), to->storage());
                self->moveHistoryFile(source, destination);
                return answer();
            }
            // Delete and save afresh; a failed save here only shows in the log.
            self->deleteNow(from);
            const std::optional<FileTime> date = self->commitNow(to, nullptr);
            if (rename && date)
                to->setUpdatedOn(date->seconds);
            answer();
        },
        answer);
}

void FolderAppleCloud::renameNote(const NotePtr& from, const NotePtr& to, Handler handler)
{
    relocate(from, to, true, std::move(handler));
}

void FolderAppleCloud::moveNote(const NotePtr& from, const NotePtr& to, Handler handler)
{
    relocate(from, to, false, std::move(handler));
}

void FolderAppleCloud::deleteNote(const NotePtr& note, Handler handler)
{
    auto answer = [handler](const Error& error) {
        if (handler)
            handler(error);
    };
    onQueue([self = shared_from_this(), note, answer] { answer(self->deleteNow(note)); },
            [answer] { answer(Error()); });
}

void FolderAppleCloud::wait(std::function<void()> block)
{
    queue_->async([self = shared_from_this(), block = std::move(block)] {
        NoteServices* const services = Note::services();
        if (!services)
            return self->ckCloud_->wait(block);
        services->fileQueue()->async([self, block] { self->ckCloud_->wait(block); });
    });
}
