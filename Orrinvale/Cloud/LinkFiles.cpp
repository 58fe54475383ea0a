#include "LinkFiles.h"

#include "Store/Note.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Something is at the path, even a link whose target is gone.
bool existsAt(const QString& path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

bool createEmpty(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

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
    if (!existsAt(path)) {
        Note::createImmediateDirectoryForFilePath(path);
        if (!createEmpty(path))
            return;
    } else if (!changeDate) {
        return;
    }
    // A new file without a date takes the project's clock, not the file system's.
    FileTimes::setModificationTime(path, changeDate.value_or(FileTime::now()));
}

void LinkFiles::remove(const QString& key, int service, int storage)
{
    const QString path = Note::linkFileForKey(key, service, storage);
    if (!path.isEmpty())
        QFile::remove(path);
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
}

bool LinkFiles::isCurrentAccount() const
{
    std::lock_guard lock(account_->mutex);
    return generation_ == account_->generation;
}
