#include "Trash.h"

#include "Clock.h"
#include "FileName.h"
#include "Folders.h"
#include "Posix.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Trash {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// "<name>.trashinfo" must fit in a name of 255 bytes.
constexpr qsizetype LongestTrashName = 255 - 10;
constexpr int MaxVariant = 9999;

// The base cut at a character so that "<base>.9999<suffix>" fits; the info
// file keeps the original path.
QString fittedBase(const QString& base, const QString& suffix)
{
    return FileName::fitted(base, 5 + suffix.toUtf8().size(), LongestTrashName);
}

// Takes a free name by creating its ".trashinfo" exclusively, so two trashers
// never pick the same one: "a.txt", then "a.2.txt", "a.3.txt" …
int reserveName(const QString& trash, const QString& name, QString* chosen)
{
    const QFileInfo parts(name);
    QString base = parts.completeBaseName().isEmpty() ? name : parts.completeBaseName();
    QString suffix = parts.completeBaseName().isEmpty() || parts.suffix().isEmpty()
                         ? QString()
                         : QLatin1Char('.') + parts.suffix();
    // A long name whose suffix leaves no room is cut as a whole.
    if (suffix.size() > 16 && name.toUtf8().size() > LongestTrashName) {
        base = name;
        suffix.clear();
    }
    const QString shortBase = fittedBase(base, suffix);
    for (int n = 1; n <= MaxVariant; ++n) {
        QString candidate = n == 1 ? name : QStringLiteral("%1.%2%3").arg(base).arg(n).arg(suffix);
        if (candidate.toUtf8().size() > LongestTrashName)
            candidate = n == 1 ? shortBase + suffix : QStringLiteral("%1.%2%3").arg(shortBase).arg(n).arg(suffix);
        struct stat existing {};
        if (::lstat(native(trash + QStringLiteral("/files/") + candidate).constData(), &existing) == 0)
            continue;
        const QString info = trash + QStringLiteral("/info/") + candidate + QStringLiteral(".trashinfo");
        const int fd = ::open(native(info).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            *chosen = candidate;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

QByteArray infoRecord(const QString& origin)
{
    const QString date = QDateTime::fromSecsSinceEpoch(Clock::now()).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    return QByteArrayLiteral("[Trash Info]\nPath=") + QUrl::toPercentEncoding(origin, "/")
           + QByteArrayLiteral("\nDeletionDate=") + date.toLatin1() + '\n';
}

// For an item on another device than the trash: files, folders and symbolic
// links are copied as they are.
bool copyItem(const QString& from, const QString& to)
{
    struct stat item {};
    if (::lstat(native(from).constData(), &item) != 0)
        return false;
    if (S_ISLNK(item.st_mode)) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(native(from).constData(), target, sizeof target - 1);
        if (length < 0)
            return false;
        target[length] = '\0';
        return ::symlink(target, native(to).constData()) == 0;
    }
    if (!S_ISDIR(item.st_mode))
        return QFile::copy(from, to);
    if (::mkdir(native(to).constData(), 0700) != 0)
        return false;
    const QStringList entries = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (!copyItem(from + QLatin1Char('/') + entry, to + QLatin1Char('/') + entry))
            return false;
    }
    return ::chmod(native(to).constData(), item.st_mode & 07777) == 0;
}

bool removeItem(const QString& path)
{
    const QFileInfo item(path);
    if (item.isDir() && !item.isSymLink())
        return QDir(path).removeRecursively();
    return ::unlink(native(path).constData()) == 0;
}

} // namespace

QString folder()
{
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.isEmpty() && QDir::isAbsolutePath(data))
        return QDir::cleanPath(data) + QStringLiteral("/Trash");
    return QDir::cleanPath(QDir(Folders::home()).absolutePath() + QStringLiteral("/.local/share/Trash"));
}

bool moveToTrash(const QString& path, QString* trashedPath, Error* error)
{
    const QString origin = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty() || QFileInfo(origin).fileName().isEmpty()) {
        setError(error, posixError(EINVAL, QStringLiteral("Cannot move to the Trash"), path));
        return false;
    }
    struct stat item {};
    if (::lstat(native(origin).constData(), &item) != 0) {
        setError(error, posixError(errno, QStringLiteral("Cannot move to the Trash"), origin));
        return false;
    }
    const QString trash = folder();
    // A trash made here is the user's alone: it holds the notes' text.
    for (const QString& sub : {QStringLiteral("/files"), QStringLiteral("/info")}) {
        if (!Folders::ensure(trash + sub)) {
            setError(error, posixError(EACCES, QStringLiteral("Cannot create the Trash folder"), trash + sub));
            return false;
        }
    }
    QString name;
    const int fd = reserveName(trash, QFileInfo(origin).fileName(), &name);
    if (fd < 0) {
        setError(error, posixError(errno, QStringLiteral("Cannot record in the Trash"), origin));
        return false;
    }
    const QString info = trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
    const QString destination = trash + QStringLiteral("/files/") + name;
    const bool recorded = writeAll(fd, infoRecord(origin));
    const int recordError = errno;
    ::close(fd);
    if (!recorded) {
        ::unlink(native(info).constData());
        setError(error, posixError(recordError, QStringLiteral("Cannot record in the Trash"), origin));
        return false;
    }
    if (::rename(native(origin).constData(), native(destination).constData()) != 0) {
        int code = errno;
        if (code != EXDEV || !copyItem(origin, destination)) {
            if (code == EXDEV) {
                code = errno;
                removeItem(destination);
            }
            ::unlink(native(info).constData());
            setError(error, posixError(code, QStringLiteral("Cannot move to the Trash"), origin));
            return false;
        }
        // The copy in the trash stays even when the original cannot be removed
        // completely: nothing of it is lost.
        if (!removeItem(origin)) {
            setError(error, posixError(errno ? errno : EIO, QStringLiteral("Cannot remove after copying to the Trash"), origin));
            return false;
        }
    }
    // So is what lies in it, whatever the original allowed; a link has no mode.
    if (!S_ISLNK(item.st_mode))
        ::chmod(native(destination).constData(), item.st_mode & 0700);
    if (trashedPath)
        *trashedPath = destination;
    return true;
}

} // namespace Trash
