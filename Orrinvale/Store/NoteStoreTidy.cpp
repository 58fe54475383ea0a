#include "NoteStoreTidy.h"

#include "Note.h"

#include "Clock.h"
#include "Folders.h"
#include "Log.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <dirent.h>
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

// Every entry of the folder with its type, without "." and "..".
template <typename Visit>
void eachEntry(const QString& folder, Visit visit)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const QString path = folder + QLatin1Char('/') + QFile::decodeName(name);
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            isDir = ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        visit(name, path, isDir);
    }
    ::closedir(dir);
}

} // namespace

void removeSaveTemporaries(const QString& folder, bool wholeTree)
{
    eachEntry(folder, [wholeTree](const char* name, const QString& path, bool isDir) {
        if (isDir) {
            if (wholeTree)
                removeSaveTemporaries(path, true);
        } else if (isSaveTemporary(name)) {
            LogInfo("store:tidy removes the temporary %1", path);
            ::unlink(QFile::encodeName(path).constData());
        }
    });
}

void removeOldPurged(const QString& purgedFolder, int64_t now)
{
    eachEntry(purgedFolder, [now](const char*, const QString& path, bool) {
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_mtim.tv_sec < now - PurgedKeepSeconds)
            Note::removeItemIfExistsAtPath(path);
    });
}

void atStart()
{
    for (const int storage : {NoteStorageInbox, NoteStorageArchive})
        removeSaveTemporaries(Note::documentDirectoryForStorage(storage), false);
    removeSaveTemporaries(Note::cachesRoot(), true);
    removeOldPurged(QDir(Folders::temporary()).filePath(QStringLiteral("Purged")), Clock::now());
}

} // namespace NoteStoreTidy
