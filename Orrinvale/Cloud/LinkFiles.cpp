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

// Fails with EEXIST on anything at the path, even a link whose target is gone.
int createEmpty(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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
    // Tried first, as the folder is there and the link is not for most notes.
    int fd = createEmpty(path);
    if (fd < 0 && errno == ENOENT) {
        Note::createImmediateDirectoryForFilePath(path);
        fd = createEmpty(path);
    }
    if (fd >= 0) {
        // A new file without a date takes the project's clock, not the file system's.
        const FileTime date = changeDate.value_or(FileTime::now());
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(date.seconds), date.nanoseconds}};
        ::futimens(fd, times);
        ::close(fd);
    } else if (errno == EEXIST && changeDate) {
        FileTimes::setModificationTime(path, *changeDate);
    }
    changed(service);
}

void LinkFiles::remove(const QString& key, int service, int storage)
{
    const QString path = Note::linkFileForKey(key, service, storage);
    if (!path.isEmpty())
        QFile::remove(path);
    changed(service);
}

void LinkFiles::moveCloudLink(const QString& fromKey, int fromStorage, const QString& toKey, int toStorage) const
{
    const auto date = modificationDate(fromKey, NoteServiceCloud, fromStorage);
    remove(fromKey, NoteServiceCloud, fromStorage);
    if (date)
        write(toKey, NoteServiceCloud, toStorage, date);
    write(fromKey, NoteServiceTrash, fromStorage, date ? *date : FileTime::now());
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
