#include "LinkFiles.h"

#include "Store/Note.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<uint64_t> changeCounts[NoteServiceTrash + 1];

// Makes a new link already dated: 0, or the errno (EEXIST on anything at the
// path, even a link whose target is gone). A link dated after it took its
// name would, if the process died in between, keep the date of that moment
// and claim an exchange later than the real one: the file is dated while it
// has no name yet, where the file system allows, else at once after.
int createDated(const QString& path, const FileTime& date)
{
    const QByteArray name = QFile::encodeName(path);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(date.seconds), date.nanoseconds}};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    const int unnamed = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(unnamed);
        const bool named = ::futimens(unnamed, times) == 0
                           && ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0;
        const int error = named ? 0 : errno;
        ::close(unnamed);
        if (named || error == EEXIST)
            return error;
    } else if (errno == ENOENT) {
        return ENOENT;
    }
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::futimens(fd, times);
    ::close(fd);
    return 0;
}

} // namespace

uint64_t LinkFiles::changes(int service)
{
    return service >= 0 && service <= NoteServiceTrash ? changeCounts[service].load() : 0;
}

void LinkFiles::changed(int service)
{
    if (service >= 0 && service <= NoteServiceTrash)
        ++changeCounts[service];
}

void LinkFiles::droppedAll()
{
    for (int service = 0; service <= NoteServiceTrash; ++service)
        changed(service);
}

std::optional<FileTime> LinkFiles::modificationDate(const QString& key, int service, int storage)
{
    return FileTimes::modificationTime(Note::linkFileForKey(key, service, storage));
}

bool LinkFiles::isNewerOrEqualTo(const QString& key, int service, int storage, const FileTime& date)
{
    const auto linkDate = modificationDate(key, service, storage);
    return linkDate && dateIsNewerOrEqualTo(*linkDate, date);
}

void LinkFiles::write(const QString& key, int service, int storage, const std::optional<FileTime>& changeDate) const
{
    if (!changeDate) {
        if (owner_ == Owner::AppleCloud)
            LogError("apcloud:writeLine error no changeDate");
        else
            LogError("ckcloud:addlink error no changeDate");
    }
    const QString path = Note::linkFileForKey(key, service, storage);
    if (path.isEmpty())
        return;
    std::lock_guard lock(account_->mutex);
    if (generation_ != account_->generation && service != NoteServiceTrash) {
        if (owner_ == Owner::AppleCloud)
            LogInfo("apcloud:writeLine drop (account changed) %1", key);
        else
            LogInfo("ckcloud:addlink drop (account changed) %1", key);
        return;
    }
    // A new file without a date takes the project's clock, not the file system's.
    const FileTime date = changeDate.value_or(FileTime::now());
    // Tried first, as the folder is there and the link is not for most notes.
    int error = createDated(path, date);
    if (error == ENOENT) {
        Note::createImmediateDirectoryForFilePath(path);
        error = createDated(path, date);
    }
    if (error == EEXIST && changeDate)
        FileTimes::setModificationTime(path, *changeDate);
    changed(service);
}

void LinkFiles::remove(const QString& key, int service, int storage)
{
    const QString path = Note::linkFileForKey(key, service, storage);
    if (!path.isEmpty())
        QFile::remove(path);
    changed(service);
}

void LinkFiles::retire(const QString& key, int service, int storage, const std::optional<FileTime>& gone) const
{
    write(key, NoteServiceTrash, storage, gone);
    remove(key, service, storage);
}

void LinkFiles::moveCloudLink(const QString& fromKey, int fromStorage, const QString& toKey, int toStorage) const
{
    const auto date = modificationDate(fromKey, NoteServiceCloud, fromStorage);
    if (date)
        write(toKey, NoteServiceCloud, toStorage, date);
    retire(fromKey, NoteServiceCloud, fromStorage, date ? *date : FileTime::now());
}

void LinkFiles::changeAccount(int service)
{
    std::lock_guard lock(account_->mutex);
    generation_ = ++account_->generation;
    QDir(Note::linkDirectoryForService(service)).removeRecursively();
    changed(service);
}

bool LinkFiles::isCurrentAccount() const
{
    std::lock_guard lock(account_->mutex);
    return generation_ == account_->generation;
}
