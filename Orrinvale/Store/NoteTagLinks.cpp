#include "Note.h"

#include "NoteStorageListener.h"

#include "Folders.h"
#include "TagLinkIndex.h"

#include "files/FileDates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
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
class KindFolder {
public:
    explicit KindFolder(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~KindFolder()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    KindFolder(const KindFolder&) = delete;
    KindFolder& operator=(const KindFolder&) = delete;

    int fd() const { return fd_; }

private:
    int fd_;
};

void writeSpelling(const QString& path, const QString& spelling)
{
    Note::createImmediateDirectoryForFilePath(path);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(spelling.toUtf8());
}

bool setDates(const QString& path, int64_t created, int64_t updated)
{
    const bool modified = FileDates::setModificationDate(path, updated);
    return FileDates::setCreationDate(path, created) && modified;
}

} // namespace

bool Note::writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest, Error* error)
{
    return writeTag(tag, linkFiles, storage, manifest, nullptr, error);
}

bool Note::writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest,
                    const QStringList* linkedBefore, Error* error)
{
    const Fields f = fields();
    const NotePtr note = self();
    NoteStorageListener* const events = relay();
    const QString kindFolder = linkDirectoryForTag(tag);
    if (f.key.isNull() || kindFolder.isEmpty() || !isSafePathComponent(f.key))
        return true;

    QSet<QString> lower;
    for (const QString& name : linkFiles)
        lower.insert(name.toLower());

    // Only the folders that can hold the note's link or need tidying, in the
    // order of their names, so the events come in the order a pass over every
    // folder sends them.
    TagLinkIndex& index = TagLinkIndex::shared();
    QSet<QString> names = lower;
    for (const QString& name : index.foldersFor(kindFolder, storage, f.key))
        names.insert(name);
    if (linkedBefore) {
        for (const QString& name : *linkedBefore)
            names.insert(name);
    }
    QStringList tagFolders;
    struct stat entry;
    for (const QString& d : std::as_const(names)) {
        if (isSafePathComponent(d)
            && ::lstat(QFile::encodeName(kindFolder + QLatin1Char('/') + d).constData(), &entry) == 0)
            tagFolders.append(d);
    }
    std::sort(tagFolders.begin(), tagFolders.end());
    // Keys are unique only within a storage: a link under the same key in the
    // other storage belongs to another note and stays.
    const KindFolder kind(kindFolder);
    const QByteArray key = '/' + QFile::encodeName(f.key);
    for (const QString& d : tagFolders) {
        const QString tagFolder = kindFolder + QLatin1Char('/') + d;
        const QByteArray relative = QFile::encodeName(d) + '/';
        bool removed = false;
        bool kept = false;
        for (const int t : {NoteStorageInbox, NoteStorageArchive}) {
            const QByteArray storageFolder = relative + QFile::encodeName(resourceNameForStorage(t));
            if (t == storage && !lower.contains(d)) {
                const QByteArray link = storageFolder + key;
                if (::faccessat(kind.fd(), link.constData(), F_OK, 0) == 0 &&
                    ::unlinkat(kind.fd(), link.constData(), 0) == 0) {
                    removed = true;
                    index.unlinked(kindFolder, storage, f.key, d);
                }
            }
            kept = keepsFolder(kind.fd(), storageFolder) || kept;
        }
        if (!kept) {
            QDir(tagFolder).removeRecursively();
            QFile::remove(tagFolder);
            if (events)
                events->noteTagDidDeleteFromStorage(d, tag);
        }
        if (removed && events)
            events->noteDidDeleteFromStorage(note, tag, d);
    }

    bool datesSet = true;
    for (const QString& g : linkFiles) {
        const QString gLower = g.toLower();
        const QString folder = linkDirectoryForTag(tag, g, storage);
        if (folder.isEmpty())
            continue;
        const bool strong = isStrongTag(g);
        if (!QFileInfo::exists(folder) && events)
            events->noteTagDidAddToStorage(strong ? gLower : g, tag);

        const QString link = folder + QLatin1Char('/') + f.key;
        if (QFileInfo::exists(link)) {
            datesSet = setDates(link, f.createdOn, f.updatedOn) && datesSet;
            index.linked(kindFolder, storage, f.key, gLower);
        } else {
            Folders::ensure(folder);
            QFile file(link);
            if (file.open(QIODevice::WriteOnly)) {
                file.close();
                setDates(link, f.createdOn, f.updatedOn);
                index.linked(kindFolder, storage, f.key, gLower);
            }
            if (events)
                events->noteDidAddToStorage(note, tag, gLower);
        }

        // The spelling shown for the tag: a strong spelling never replaces
        // another, and a weak one replaces it only when the caller says so.
        const QString spelling = metaFileForTag(tag, g);
        const bool exists = QFileInfo::exists(spelling);
        if (strong) {
            if (!exists)
                writeSpelling(spelling, gLower);
        } else if (manifest) {
            QFile::remove(spelling);
            writeSpelling(spelling, g);
        } else if (!exists) {
            writeSpelling(spelling, g);
        }
    }
    if (!datesSet)
        setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 512,
                                    QStringLiteral("The dates of a tag link could not be set.")));
    return true;
}
