#include "FolderListing.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>

bool listFolderNames(const QString& folder, QStringList* names, Error* error)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        const int code = errno;
        setError(error, Error::make(QStringLiteral("NSPOSIXErrorDomain"), code,
                                    QString::fromLocal8Bit(std::strerror(code))));
        errno = code;
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            names->append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return true;
}

bool holdsUndecodableName(const QString& folder, const QString& name)
{
    if (!name.contains(QChar::ReplacementCharacter))
        return false;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray bytes(entry->d_name);
        const QString decoded = QFile::decodeName(bytes);
        if (decoded == name && QFile::encodeName(decoded) != bytes) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
