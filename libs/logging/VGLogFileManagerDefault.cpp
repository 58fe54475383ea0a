#include "VGLogFileManagerDefault.h"

#include "Clock.h"
#include "ConsoleLog.h"
#include "Folders.h"
#include "VGLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Plain data: the logger threads still name files while the process exits.
constexpr QLatin1StringView logExtension(".log");

QStringList logFileNamesIn(const QString& directory)
{
    QStringList names;
    const QStringList entries = QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString& name : entries) {
        if (VGLogFileManagerDefault::dateInLogFileName(name))
            names << name;
    }
    return names;
}

QList<VGLogFileInfo> sortedInfosIn(const QString& directory)
{
    QList<VGLogFileInfo> infos;
    for (const QString& name : logFileNamesIn(directory))
        infos << VGLogFileInfo(QDir(directory).filePath(name));
    // Files made within one clock tick share a birth time: their names tell the order.
    const auto nameOrder = [](const VGLogFileInfo& info) {
        const QString name = info.fileName();
        const QStringList pieces = name.chopped(logExtension.size()).split(QLatin1Char(' '));
        const int number = pieces.size() > 3 ? pieces.last().toInt() : 1;
        return std::make_pair(VGLogFileManagerDefault::dateInLogFileName(name).value_or(0), number);
    };
    std::stable_sort(infos.begin(), infos.end(), [&](const VGLogFileInfo& a, const VGLogFileInfo& b) {
        if (VGLogFileInfo::isNewerByCreationDate(a, b))
            return true;
        if (VGLogFileInfo::isNewerByCreationDate(b, a))
            return false;
        return nameOrder(a) > nameOrder(b);
    });
    return infos;
}

// Unlinking a file's last name frees its blocks, which on a file system that
// discards them waits for the disk. Held open, the file leaves the folder at
// once and its blocks are freed when the descriptor closes, off this thread.
void removeLogFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    const bool removed = ::unlink(name.constData()) == 0;
    if (fd < 0)
        return;
    if (!removed) {
        ::close(fd);
        return;
    }
    DispatchQueue::global()->async([fd] { ::close(fd); });
}

} // namespace

VGLogFileManagerDefault::VGLogFileManagerDefault(const QString& logsDirectory)
    : logsDirectory_(logsDirectory.isEmpty() ? defaultLogsDirectory() : logsDirectory)
{
}

QString VGLogFileManagerDefault::defaultLogsDirectory()
{
    QString library = Folders::library();
    if (library.isEmpty())
        library = QDir::tempPath();
    return library + QStringLiteral("/Logs/") + QString::fromLocal8Bit(program_invocation_short_name);
}

QString VGLogFileManagerDefault::applicationName()
{
    static const QString* const name = [] { // never destroyed, for the same reason
        QString found = Folders::bundleIdentifier();
        if (found.isEmpty())
            found = QString::fromLocal8Bit(program_invocation_short_name);
        return new QString(found);
    }();
    return *name;
}

QString VGLogFileManagerDefault::logFileDate(double time)
{
    const auto seconds = static_cast<time_t>(std::floor(time));
    std::tm fields {};
    gmtime_r(&seconds, &fields);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d-%02d", fields.tm_year + 1900, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min);
    return QString::fromLatin1(text);
}

std::optional<double> VGLogFileManagerDefault::parseLogFileDate(const QString& text)
{
    // Exactly "yyyy-MM-dd HH-mm".
    static const char pattern[] = "dddd-dd-dd dd-dd";
    if (text.size() != qsizetype(sizeof pattern - 1))
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9');
        if (pattern[i] == 'd' ? !digit : text[i] != QLatin1Char(pattern[i]))
            return std::nullopt;
    }
    std::tm fields {};
    fields.tm_year = text.mid(0, 4).toInt() - 1900;
    fields.tm_mon = text.mid(5, 2).toInt() - 1;
    fields.tm_mday = text.mid(8, 2).toInt();
    fields.tm_hour = text.mid(11, 2).toInt();
    fields.tm_min = text.mid(14, 2).toInt();
    if (fields.tm_mon > 11 || fields.tm_mday < 1 || fields.tm_mday > 31 || fields.tm_hour > 23 || fields.tm_min > 59)
        return std::nullopt;
    return double(timegm(&fields));
}

std::optional<double> VGLogFileManagerDefault::dateInLogFileName(const QString& fileName)
{
    const QString& app = applicationName();
    if (!fileName.startsWith(app) || !fileName.endsWith(logExtension))
        return std::nullopt;
    const QString middle = fileName.mid(app.size(), fileName.size() - app.size() - logExtension.size());
    if (middle.size() < 17)
        return std::nullopt;
    const QStringList pieces = middle.split(QLatin1Char(' '));
    if (pieces.size() != 3 && pieces.size() != 4)
        return std::nullopt;
    return parseLogFileDate(pieces[1] + QLatin1Char(' ') + pieces[2]);
}

QString VGLogFileManagerDefault::logsDirectory()
{
    if (!QFileInfo::exists(logsDirectory_) && !Folders::ensure(logsDirectory_))
        consoleLog(QStringLiteral("VGFileLogManagerDefault: Error creating logsDirectory: %1").arg(logsDirectory_));
    return logsDirectory_;
}

QString VGLogFileManagerDefault::newLogFileName() const
{
    return applicationName() + QLatin1Char(' ') + logFileDate(Clock::nowPrecise()) + logExtension;
}

bool VGLogFileManagerDefault::isLogFile(const QString& fileName) const { return bool(dateInLogFileName(fileName)); }

QStringList VGLogFileManagerDefault::unsortedLogFilePaths()
{
    const QDir directory(logsDirectory());
    QStringList paths;
    for (const QString& name : logFileNamesIn(directory.path()))
        paths << directory.filePath(name);
    return paths;
}

QStringList VGLogFileManagerDefault::unsortedLogFileNames()
{
    logsDirectory();
    return logFileNamesIn(logsDirectory_);
}

QList<VGLogFileInfo> VGLogFileManagerDefault::unsortedLogFileInfos()
{
    QList<VGLogFileInfo> infos;
    for (const QString& path : unsortedLogFilePaths())
        infos << VGLogFileInfo(path);
    return infos;
}

QList<VGLogFileInfo> VGLogFileManagerDefault::sortedLogFileInfos()
{
    logsDirectory();
    return sortedInfosIn(logsDirectory_);
}

QStringList VGLogFileManagerDefault::sortedLogFilePaths()
{
    QStringList paths;
    for (const VGLogFileInfo& info : sortedLogFileInfos())
        paths << info.filePath();
    return paths;
}

QStringList VGLogFileManagerDefault::sortedLogFileNames()
{
    QStringList names;
    for (const VGLogFileInfo& info : sortedLogFileInfos())
        names << info.fileName();
    return names;
}

QString VGLogFileManagerDefault::createNewLogFile()
{
    const QString name = newLogFileName();
    const QDir directory(logsDirectory());
    const QString stem = name.chopped(logExtension.size());
    for (unsigned long attempt = 1;; ++attempt) {
        const QString candidate = attempt == 1 ? name : stem + QStringLiteral(" %1").arg(attempt) + logExtension;
        const QString path = directory.filePath(candidate);
        // Exclusive creation: another instance may take the same name at the same moment.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd >= 0)
            ::close(fd);
        deleteOldLogFiles();
        return path;
    }
}

void VGLogFileManagerDefault::deleteOldLogFiles() { deleteOldLogFiles(logsDirectory(), *limits_); }

void VGLogFileManagerDefault::deleteOldLogFiles(const QString& directory, const Limits& limits)
{
    const QList<VGLogFileInfo> infos = sortedInfosIn(directory);
    const uint64_t quota = limits.logFilesDiskQuota;
    const uint64_t maximum = limits.maximumNumberOfLogFiles;
    std::optional<qsizetype> firstToDelete;
    if (quota != 0) {
        uint64_t total = 0;
        for (qsizetype i = 0; i < infos.size(); ++i) {
            total += infos[i].fileSize();
            if (total > quota) {
                firstToDelete = i;
                break;
            }
        }
    }
    if (maximum != 0 && (!firstToDelete || uint64_t(*firstToDelete) > maximum))
        firstToDelete = qsizetype(std::min<uint64_t>(maximum, uint64_t(infos.size())));
    // The newest unarchived file is the one being written: it stays even over the quota.
    if (firstToDelete == 0 && !infos.isEmpty() && !infos.first().isArchived())
        firstToDelete = 1;
    if (!firstToDelete)
        return;
    for (qsizetype i = *firstToDelete; i < infos.size(); ++i)
        removeLogFile(infos[i].filePath());
}

void VGLogFileManagerDefault::setMaximumNumberOfLogFiles(uint64_t count)
{
    if (limits_->maximumNumberOfLogFiles.exchange(count) != count)
        limitsDidChange();
}

void VGLogFileManagerDefault::setLogFilesDiskQuota(uint64_t bytes)
{
    if (limits_->logFilesDiskQuota.exchange(bytes) != bytes)
        limitsDidChange();
}

void VGLogFileManagerDefault::limitsDidChange()
{
    VGLog::loggingQueue()->async([directory = logsDirectory_, limits = limits_] {
        deleteOldLogFiles(directory, *limits);
    });
}
