#include "Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Folders {

static QString fromEnvironment(const char* variable, const QString& fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home() + QLatin1Char('/') + fallbackUnderHome);
}

QString displayName() { return QStringLiteral("Brindlewick"); }
QString bundleIdentifier() { return QStringLiteral("net.brindlewick.Brindlewick"); }
QString productIdentifier() { return QStringLiteral("net.brindlewick.notes"); }
QString queueLabel(const QString& suffix) { return productIdentifier() + suffix; }

QString home()
{
    const QString value = qEnvironmentVariable("HOME");
    return value.isEmpty() ? QDir::homePath() : QDir::cleanPath(value);
}

QString documents()
{
    return fromEnvironment("XDG_DOCUMENTS_DIR", QStringLiteral("Documents")) + QLatin1Char('/') + displayName();
}

QString caches() { return fromEnvironment("XDG_CACHE_HOME", QStringLiteral(".cache")) + QStringLiteral("/brindlewick"); }
QString library() { return fromEnvironment("XDG_STATE_HOME", QStringLiteral(".local/state")); }
QString config() { return fromEnvironment("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/brindlewick"); }
QString data() { return fromEnvironment("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/brindlewick"); }
QString temporary() { return caches() + QStringLiteral("/tmp"); }

bool ensure(const QString& path)
{
    if (path.isEmpty())
        return false;
    // Each folder made here is the user's alone: they hold the notes' text (the
    // search cache), the logs and the records. A folder that exists is left
    // as it is: it may be a shared one such as /tmp.
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    const QByteArray native = QFile::encodeName(absolute);
    if (::mkdir(native.constData(), 0700) == 0)
        return true;
    if (errno == EEXIST)
        return QFileInfo(absolute).isDir();
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    return errno == ENOENT && slash > 0 && ensure(absolute.left(slash)) &&
           (::mkdir(native.constData(), 0700) == 0 || errno == EEXIST);
}

bool createPrivateFile(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0 || errno == EEXIST;
}

void makePrivate(const QStringList& paths)
{
    for (const QString& path : paths) {
        const QByteArray native = QFile::encodeName(path);
        struct stat info {};
        if (::lstat(native.constData(), &info) == 0 && !S_ISLNK(info.st_mode) && info.st_uid == ::geteuid()
            && (info.st_mode & 077) != 0)
            ::chmod(native.constData(), info.st_mode & 07700);
    }
}

void placeInHome(const QString& root)
{
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", ""},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_STATE_HOME", "/.local/state"},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_DOCUMENTS_DIR", "/Documents"},
    };
    for (const auto& [variable, sub] : folders) {
        const QString path = root + QLatin1String(sub);
        ensure(path);
        qputenv(variable, QFile::encodeName(path));
    }
}

void applyApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("brindlewick"));
    QCoreApplication::setOrganizationName(displayName());
    QCoreApplication::setOrganizationDomain(QStringLiteral("brindlewick.net"));
}

} // namespace Folders
