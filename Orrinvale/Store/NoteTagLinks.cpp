#include "Note.h"

#include "NoteStorageListener.h"

#include "Folders.h"
#include "TagLinkIndex.h"

#include "files/FileDates.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <shared_mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Removes the folder (relative to the kind's folder) when it is empty, in
// one call and no listing; true when a folder is still there afterwards.
bool keepsFolder(int kindFolder, const QByteArray& folder)
{
    if (::unlinkat(kindFolder, folder.constData(), AT_REMOVEDIR) == 0)
        return false;
    return errno != ENOENT && errno != ENOTDIR;
}

// The kind's folder, open for the duration of one pass: every path below it
// is resolved from there rather than from the root, once per tag folder.
// With a caller's slot, the folder open there is used and one opened here is
// left there for the next note, the caller closing it.
class KindFolder {
public:
    KindFolder(const QString& path, int* kept) : path_(path), kept_(kept)
    {
        if (kept_ && *kept_ >= 0)
            fd_ = *kept_;
        else
            open();
    }
    ~KindFolder()
    {
        if (!kept_ && fd_ >= 0)
            ::close(fd_);
    }
    KindFolder(const KindFolder&) = delete;
    KindFolder& operator=(const KindFolder&) = delete;

    int fd() const { return fd_; }

    // Makes the folder and its parents when it is missing.
    int made()
    {
        if (fd_ < 0 && Folders::ensure(path_))
            open();
        return fd_;
    }

private:
    void open()
    {
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (kept_)
            *kept_ = fd_;
    }

    QString path_;
    int* kept_;
    int fd_ = -1;
};

// Creates the file below the folder unless it exists; -1 with errno EEXIST
// when it does. The create's own error answers whether it was there.
int createAt(int folder, const QByteArray& path)
{
    return ::openat(folder, path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

// A tag folder and its storage folder below the kind's folder, private like
// every cache folder; true when the storage folder is there afterwards.
bool makeFolders(int kindFolder, const QByteArray& tagFolder, const QByteArray& storageFolder)
{
    if (::mkdirat(kindFolder, tagFolder.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::mkdirat(kindFolder, storageFolder.constData(), 0700) == 0 || errno == EEXIST;
}

void writeSpelling(int fd, const QString& spelling)
{
    if (fd < 0)
        return;
    const QByteArray bytes = spelling.toUtf8();
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.constData(), size_t(bytes.size()));
    ::close(fd);
}

void sortedUnique(QStringList& names)
{
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

// Links may be made side by side (the index rebuild): a folder is taken away
// only while no link is being made, or a link made between its folder's
// making and its own create would go with the folder.
std::shared_mutex& folderRemovals()
{
    static std::shared_mutex mutex;
    return mutex;
}

bool setDates(int fd, int64_t created, int64_t updated)
{
    const bool modified = FileDates::setModificationDate(fd, updated);
    return FileDates::setCreationDate(fd, created) && modified;
}

} // namespace

bool Note::writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest, Error* error)
{
    return writeTag(tag, linkFiles, storage, manifest, nullptr, error);
}

Note::KindFolders::~KindFolders()
{
    for (const int fd : {hashtags_, mentions_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool Note::writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest,
                    const QStringList* linkedBefore, Error* error, KindFolders* open)
{
    // Links handed to helpers come first, as their commits did.
    IndexBatch::makeHeldLinks();
    const Fields f = fields();
    const NotePtr note = self();
    NoteStorageListener* const events = relay();
    const QString kindFolder = linkDirectoryForTag(tag);
    if (f.key.isNull() || kindFolder.isEmpty() || !isSafePathComponent(f.key))
        return true;

    // A note has a few tags: sorted lists, not hash sets, to look them up.
    QStringList lower;
    for (const QString& name : linkFiles)
        lower.append(name.toLower());
    sortedUnique(lower);
    const auto linksTo = [&lower](const QString& d) { return std::binary_search(lower.cbegin(), lower.cend(), d); };

    // Only the folders that can hold the note's link or need tidying, in the
    // order of their names, so the events come in the order a pass over every
    // folder sends them.
    TagLinkIndex& index = TagLinkIndex::shared();
    KindFolder kind(kindFolder, open ? &open->of(tag) : nullptr);
    QStringList tagFolders = lower + index.foldersFor(kindFolder, kind.fd(), storage, f.key);
    if (linkedBefore)
        tagFolders += *linkedBefore;
    if (kind.fd() < 0)
        tagFolders.clear();
    tagFolders.removeIf([](const QString& d) { return !isSafePathComponent(d); });
    sortedUnique(tagFolders);
    // Keys are unique only within a storage: a link under the same key in the
    // other storage belongs to another note and stays.
    const QByteArray key = '/' + QFile::encodeName(f.key);
    const QString resource = resourceNameForStorage(storage);
    const QByteArray storageName = '/' + QFile::encodeName(resource);
    // The links go first, all told to the index at once, then each folder
    // left without links.
    QStringList unlinked;
    for (const QString& d : std::as_const(tagFolders)) {
        const QByteArray link = QFile::encodeName(d) + storageName + key;
        if (!resource.isEmpty() && !linksTo(d) && ::unlinkat(kind.fd(), link.constData(), 0) == 0)
            unlinked.append(d);
    }
    index.unlinked(kindFolder, storage, f.key, unlinked);
    // A folder left without links goes.
    const auto tidy = [&](const QString& d) {
        const QByteArray name = QFile::encodeName(d);
        const QByteArray relative = name + '/';
        // A folder known to hold links, or known to be missing, is not tried:
        // the removal would fail. Before the whole tag folder goes, every
        // folder without known links is tried, in case the index missed one.
        const auto keptStorageFolders = [&](bool trustMissing) {
            bool kept = false;
            for (const int t : {NoteStorageInbox, NoteStorageArchive}) {
                if (index.holdsLinks(kindFolder, d, t)) {
                    kept = true;
                } else if (!trustMissing || index.mayHoldFolder(kindFolder, d, t)) {
                    const bool keeps = keepsFolder(kind.fd(), relative + QFile::encodeName(resourceNameForStorage(t)));
                    index.folderPresent(kindFolder, d, t, keeps);
                    kept = keeps || kept;
                }
            }
            return kept;
        };
        std::unique_lock removing(folderRemovals());
        bool kept = keptStorageFolders(true);
        // Both storage folders gone is the one case that asks whether the tag
        // folder is there at all.
        struct stat entry;
        if (!kept && ::fstatat(kind.fd(), name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        kept = kept || keptStorageFolders(false);
        if (!kept) {
            const QString tagFolder = kindFolder + QLatin1Char('/') + d;
            QDir(tagFolder).removeRecursively();
            QFile::remove(tagFolder);
            if (events)
                events->noteTagDidDeleteFromStorage(d, tag);
        }
    };
    // Links the index knows of keep a folder: no look, and no wait for the
    // links being made beside this note's.
    const QList<bool> keptByLinks = index.keptByLinks(kindFolder, tagFolders);
    for (qsizetype i = 0; i < tagFolders.size(); ++i) {
        const QString& d = tagFolders[i];
        // Made in the folders' order, so as sorted as they are.
        const bool removed = std::binary_search(unlinked.cbegin(), unlinked.cend(), d);
        if (!keptByLinks[i])
            tidy(d);
        // Told even when another note's links, made beside these, took the
        // emptied folder away before this tidy came to it.
        if (removed && events)
            events->noteDidDeleteFromStorage(note, tag, d);
    }

    bool datesSet = true;
    QStringList linked;
    for (const QString& g : linkFiles) {
        const QString gLower = g.toLower();
        // The checks that naming the folder by path would make.
        if (resource.isEmpty() || !isSafePathComponent(gLower) || kind.made() < 0)
            continue;
        const bool strong = isStrongTag(g);
        const QByteArray tagFolder = QFile::encodeName(gLower);
        const QByteArray storageFolder = tagFolder + storageName;
        const QByteArray link = storageFolder + key;

        // Every path from the open kind folder, and no look before a create:
        // its error says whether the link or its folder was there.
        std::shared_lock making(folderRemovals());
        int fd = createAt(kind.fd(), link);
        const bool existed = fd < 0 && errno == EEXIST;
        if (fd < 0 && errno == ENOENT) {
            if (events)
                events->noteTagDidAddToStorage(strong ? gLower : g, tag);
            if (makeFolders(kind.fd(), tagFolder, storageFolder)) {
                index.folderPresent(kindFolder, gLower, storage, true);
                fd = createAt(kind.fd(), link);
            }
        }
        making.unlock();
        if (existed) {
            fd = ::openat(kind.fd(), link.constData(), O_RDONLY | O_CLOEXEC);
            datesSet = fd >= 0 && setDates(fd, f.createdOn, f.updatedOn) && datesSet;
            linked.append(gLower);
        } else {
            if (fd >= 0) {
                setDates(fd, f.createdOn, f.updatedOn);
                linked.append(gLower);
            }
            if (events)
                events->noteDidAddToStorage(note, tag, gLower);
        }
        if (fd >= 0)
            ::close(fd);

        // The spelling shown for the tag: a strong spelling never replaces
        // another, and a weak one replaces it only when the caller says so.
        const QByteArray spelling = tagFolder + "/.meta";
        const QString shown = strong ? gLower : g;
        // Otherwise the spelling is written only where none is: the create
        // itself tells, with no read first.
        if (!strong && manifest) {
            // The spelling file already says this: rewriting it would only churn the disk.
            if (index.holdsSpelling(kindFolder, kind.fd(), gLower, spelling, shown.toUtf8()))
                continue;
            ::unlinkat(kind.fd(), spelling.constData(), 0);
        }
        writeSpelling(createAt(kind.fd(), spelling), shown);
    }
    index.linked(kindFolder, storage, f.key, linked);
    if (!datesSet)
        setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 512,
                                    QStringLiteral("The dates of a tag link could not be set.")));
    return true;
}
