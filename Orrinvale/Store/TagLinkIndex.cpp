#include "TagLinkIndex.h"

#include "FolderListing.h"
#include "Note.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TagLinkIndex& TagLinkIndex::shared()
{
    // Never destroyed: a queue may still commit a note while the process exits.
    static auto* const index = new TagLinkIndex;
    return *index;
}

TagLinkIndex::Identity TagLinkIndex::identityOf(int at, const char* name, int flags)
{
    struct statx info {};
    if (::statx(at, name, flags, STATX_INO | STATX_BTIME, &info) != 0)
        return {};
    const qint64 born = (info.stx_mask & STATX_BTIME) ? qint64(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec
                                                       : 0;
    return {(quint64(info.stx_dev_major) << 32) | info.stx_dev_minor, info.stx_ino, born};
}

size_t TagLinkIndex::noteHash(int storage, const QString& key) { return qHashMulti(0, storage, key); }

TagLinkIndex::Kind::StorageFolder& TagLinkIndex::heldIn(Kind& kind, const QString& tag, int storage)
{
    return kind.held[tag][storage == NoteStorageArchive ? 1 : 0];
}

void TagLinkIndex::read(const QString& kindFolder, Kind& kind)
{
    kind.links.clear();
    kind.names.clear();
    kind.held.clear();
    kind.untidy.clear();
    kind.spellings.clear();
    QStringList tagFolders;
    listFolderNames(kindFolder, &tagFolders);
    for (const QString& d : std::as_const(tagFolders)) {
        kind.names.insert(d);
        int holding = 0;
        bool untidy = false;
        for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
            QStringList keys;
            Kind::StorageFolder& folder = heldIn(kind, d, storage);
            if (!listFolderNames(kindFolder + QLatin1Char('/') + d + QLatin1Char('/') + Note::resourceNameForStorage(storage),
                            &keys)) {
                folder.present = errno != ENOENT;
                untidy = untidy || folder.present;
                continue;
            }
            untidy = untidy || keys.isEmpty();
            holding += keys.isEmpty() ? 0 : 1;
            folder = {int(keys.size()), true};
            for (const QString& key : std::as_const(keys))
                kind.links[noteHash(storage, key)].append(d);
        }
        if (untidy || holding == 0)
            kind.untidy.append(d);
    }
}

TagLinkIndex::Kind* TagLinkIndex::find(const QString& kindFolder)
{
    // A note's links ask a few questions of one kind in a row: the path is
    // compared once, not hashed for each.
    if (last_ && kindFolder == lastFolder_)
        return last_;
    const auto found = kinds_.find(kindFolder);
    if (found == kinds_.end())
        return nullptr;
    lastFolder_ = kindFolder;
    last_ = &*found;
    return last_;
}

TagLinkIndex::Kind& TagLinkIndex::current(const QString& kindFolder, const Identity& identity)
{
    if (Kind* const found = find(kindFolder); found && found->identity == identity)
        return *found;
    // Taking a kind in may move the others.
    last_ = nullptr;
    Kind& kind = kinds_[kindFolder];
    kind.identity = identity;
    read(kindFolder, kind);
    return kind;
}

TagLinkIndex::Kind& TagLinkIndex::known(const QString& kindFolder)
{
    Kind* const found = find(kindFolder);
    return found ? *found : current(kindFolder, identityOf(AT_FDCWD, QFile::encodeName(kindFolder).constData(), 0));
}

QStringList TagLinkIndex::foldersFor(const QString& kindFolder, int kindFd, int storage, const QString& key)
{
    // Looked at and hashed before the lock: the links of several notes are
    // made side by side.
    const Identity identity = identityOf(kindFd, "", AT_EMPTY_PATH);
    const size_t note = noteHash(storage, key);
    std::lock_guard lock(mutex_);
    Kind& kind = current(kindFolder, identity);
    return kind.links.value(note) + std::exchange(kind.untidy, {});
}

void TagLinkIndex::linked(const QString& kindFolder, int storage, const QString& key, const QStringList& tags)
{
    if (tags.isEmpty())
        return;
    const size_t note = noteHash(storage, key);
    std::lock_guard lock(mutex_);
    Kind& kind = known(kindFolder);
    QStringList& noteTags = kind.links[note];
    // A note's few tags are looked through, not hashed.
    for (const QString& tag : tags) {
        if (noteTags.contains(tag))
            continue;
        const auto name = kind.names.constFind(tag);
        noteTags.append(name != kind.names.cend() ? *name : *kind.names.insert(tag));
        Kind::StorageFolder& folder = heldIn(kind, tag, storage);
        ++folder.links;
        folder.present = true;
    }
}

bool TagLinkIndex::holdsLinks(const QString& kindFolder, const QString& tag, int storage)
{
    std::lock_guard lock(mutex_);
    const Kind& kind = known(kindFolder);
    const auto found = kind.held.constFind(tag);
    return found != kind.held.constEnd() && (*found)[storage == NoteStorageArchive ? 1 : 0].links > 0;
}

bool TagLinkIndex::mayHoldFolder(const QString& kindFolder, const QString& tag, int storage)
{
    std::lock_guard lock(mutex_);
    const Kind& kind = known(kindFolder);
    // A folder not read and not made since was not there.
    const auto found = kind.held.constFind(tag);
    return found != kind.held.constEnd() && (*found)[storage == NoteStorageArchive ? 1 : 0].present;
}

QList<bool> TagLinkIndex::keptByLinks(const QString& kindFolder, const QStringList& tags)
{
    const auto holds = [](const Kind::StorageFolder& folder) { return folder.links > 0; };
    const auto empty = [](const Kind::StorageFolder& folder) { return folder.links == 0 && folder.present; };
    QList<bool> kept;
    kept.reserve(tags.size());
    std::lock_guard lock(mutex_);
    const Kind& kind = known(kindFolder);
    for (const QString& tag : tags) {
        const auto found = kind.held.constFind(tag);
        kept.append(found != kind.held.constEnd() && std::any_of(found->cbegin(), found->cend(), holds)
                    && std::none_of(found->cbegin(), found->cend(), empty));
    }
    return kept;
}

void TagLinkIndex::folderPresent(const QString& kindFolder, const QString& tag, int storage, bool present)
{
    std::lock_guard lock(mutex_);
    heldIn(known(kindFolder), tag, storage).present = present;
}

void TagLinkIndex::unlinked(const QString& kindFolder, int storage, const QString& key, const QStringList& tags)
{
    // A note's entry goes with its last tag, never empty.
    if (tags.isEmpty())
        return;
    const size_t note = noteHash(storage, key);
    std::lock_guard lock(mutex_);
    Kind& kind = known(kindFolder);
    const auto found = kind.links.find(note);
    if (found == kind.links.end())
        return;
    const QSet<QString> gone(tags.cbegin(), tags.cend());
    found->removeIf([&](const QString& tag) {
        if (!gone.contains(tag))
            return false;
        int& held = heldIn(kind, tag, storage).links;
        held = std::max(held - 1, 0);
        return true;
    });
    if (found->isEmpty())
        kind.links.erase(found);
}

bool TagLinkIndex::holdsSpelling(const QString& kindFolder, int kindFd, const QString& tag, const QByteArray& path,
                                 const QByteArray& spelling)
{
    if (const std::optional<QByteArray> text = rememberedSpelling(kindFolder, kindFd, tag, path))
        return *text == spelling;
    return readSpelling(kindFolder, kindFd, tag, path, spelling.size()) == spelling;
}

std::optional<QByteArray> TagLinkIndex::rememberedSpelling(const QString& kindFolder, int kindFd, const QString& tag,
                                                           const QByteArray& path)
{
    Kind::Spelling remembered;
    {
        std::lock_guard lock(mutex_);
        const Kind& kind = known(kindFolder);
        const auto found = kind.spellings.constFind(tag);
        if (found == kind.spellings.constEnd())
            return std::nullopt;
        remembered = *found;
    }
    if (FileDates::versionAt(kindFd, path.constData(), AT_SYMLINK_NOFOLLOW) != remembered.version)
        return std::nullopt;
    return remembered.text;
}

QByteArray TagLinkIndex::readSpelling(const QString& kindFolder, int kindFd, const QString& tag, const QByteArray& path,
                                      qsizetype expected)
{
    const int fd = ::openat(kindFd, path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    const FileDates::Version version = FileDates::versionAt(fd, "", AT_EMPTY_PATH);
    // A file changed less than a second before it is read may still be
    // mid-write, or change again within the same tick of the file clock and
    // keep its version: such a read is not remembered.
    const bool settled = FileDates::isSettled(version);
    // One byte more than expected tells a longer text from the one expected.
    QByteArray text(expected + 1, Qt::Uninitialized);
    const ssize_t n = ::read(fd, text.data(), size_t(text.size()));
    ::close(fd);
    if (n < 0)
        return {};
    text.truncate(n);
    // Only a whole file, settled before it was read, is remembered.
    if (n == version.size && settled) {
        std::lock_guard lock(mutex_);
        Kind& kind = known(kindFolder);
        kind.spellings.insert(*kind.names.insert(tag), {version, text});
    }
    return text;
}

void TagLinkIndex::forget()
{
    std::lock_guard lock(mutex_);
    last_ = nullptr;
    kinds_.clear();
}
