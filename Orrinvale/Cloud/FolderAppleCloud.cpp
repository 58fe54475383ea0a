// FolderAppleCloud: identity and container, the folder query and its status,
// documents open here, and the file checks the passes and the writes share.
// The passes over the folder are in FolderAppleCloudPasses.cpp, the note
// store's writes in FolderAppleCloudWrite.cpp.
#include "FolderAppleCloud.h"

#include "AppleDocument.h"

#include "Store/NoteServices.h"

#include "Folders.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

QString FolderAppleCloud::fileURLForKey(const QString& key, int storage) const
{
    std::lock_guard lock(mutex_);
    if (documents_.isEmpty() || !Note::isSafePathComponent(key) || storageName(storage).isEmpty())
        return QString();
    const QString folder = documents_ + QLatin1Char('/') + storageName(storage);
    if (isLinkedFolder(folder))
        return QString();
    return folder + QLatin1Char('/') + key;
}

// A storage folder that is a symbolic link leads where the folder's listings
// never look, out of the sync folder or into another storage: no write goes
// through it.
bool FolderAppleCloud::isLinkedFolder(const QString& folder)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return false;
    LogError("apcloud:folder %1 is a link, left alone", folder);
    return true;
}

QString FolderAppleCloud::storageName(int storage)
{
    return Note::resourceNameForStorage(storage);
}

// Regular files only, never through a link, and of a size a note can have.
bool FolderAppleCloud::isImportableFile(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)
        && info.st_size <= MaxDocumentBytes;
}

bool FolderAppleCloud::exists(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0;
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
