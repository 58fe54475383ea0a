#include "NoteStoreTidy.h"

#include "Note.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"

#include "Clock.h"
#include "Folders.h"
#include "Log.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NoteStoreTidy {

namespace {

// ".save-" + 16 lower-case hex digits + ".tmp", as AtomicFile names them.
bool isSaveTemporary(const char* name)
{
    if (std::strncmp(name, ".save-", 6) != 0 || std::strlen(name) != 26 || std::strcmp(name + 22, ".tmp") != 0)
        return false;
    return std::all_of(name + 6, name + 22, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

int openFolder(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

void removeSaveTemporaries(const QString& folder)
{
    const int fd = openFolder(folder);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!isSaveTemporary(entry->d_name))
            continue;
        LogInfo("store:tidy removes the temporary %1/%2", folder, QFile::decodeName(entry->d_name));
        ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

void removeOldPurged(const QString& purgedFolder, int64_t now)
{
    const QStringList entries = QDir(purgedFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QString path = purgedFolder + QLatin1Char('/') + entry;
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_mtim.tv_sec < now - PurgedKeepSeconds)
            Note::removeItemIfExistsAtPath(path);
    }
}

void removeGhostRows()
{
    NoteServices* const core = Note::services();
    if (!core)
        return;
    QStringList keys;
    core->syncDatabase([&](SLDatabase& db) { keys = NoteSearchRow::keys(db); });
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const QString prefix = NoteSearchRow::searchKey(storage, QString());
        // A missing folder holds no note: every row of its storage goes.
        const int folder = openFolder(Note::documentDirectoryForStorage(storage));
        for (const QString& searchKey : std::as_const(keys)) {
            if (!searchKey.startsWith(prefix))
                continue;
            const QString key = searchKey.mid(prefix.size());
            struct stat info {};
            if (folder >= 0 && Note::isSafePathComponent(key)
                && ::fstatat(folder, QFile::encodeName(key).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
                continue;
            LogInfo("store:tidy removes %1, its file is gone", searchKey);
            std::make_shared<Note>(key, storage)->removeFromIndex();
        }
        if (folder >= 0)
            ::close(folder);
    }
}

void atStart()
{
    // Where atomic saves write: the notes and their meta and header files.
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        for (const QString& folder : {Note::documentDirectoryForStorage(storage), Note::metaDirectoryForStorage(storage),
                                      Note::headerDirectoryForStorage(storage)})
            removeSaveTemporaries(folder);
    }
    removeOldPurged(QDir(Folders::temporary()).filePath(QStringLiteral("Purged")), Clock::now());
    removeGhostRows();
}

} // namespace NoteStoreTidy
