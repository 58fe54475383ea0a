#include "VGLogFileInfo.h"

#include "Clock.h"
#include "ConsoleLog.h"
#include "VGLogFileManagerDefault.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

VGLogFileInfo::VGLogFileInfo(QString filePath) : filePath_(std::move(filePath)) {}

QString VGLogFileInfo::fileName() const { return QFileInfo(filePath_).fileName(); }

const std::optional<VGLogFileInfo::Attributes>& VGLogFileInfo::attributes() const
{
    if (!attributes_) {
        struct statx st {};
        const QByteArray path = QFile::encodeName(filePath_);
        if (statx(AT_FDCWD, path.constData(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
            attributes_.emplace(std::nullopt);
        } else {
            Attributes read;
            if (st.stx_mask & STATX_BTIME)
                read.birth = double(st.stx_btime.tv_sec) + st.stx_btime.tv_nsec / 1e9;
            read.modification = double(st.stx_mtime.tv_sec) + st.stx_mtime.tv_nsec / 1e9;
            read.size = st.stx_size;
            attributes_.emplace(read);
        }
    }
    return *attributes_;
}

std::optional<double> VGLogFileInfo::creationDate() const
{
    const auto& read = attributes();
    if (!read)
        return std::nullopt;
    if (read->birth)
        return read->birth;
    if (const auto named = VGLogFileManagerDefault::dateInLogFileName(fileName()))
        return named;
    return read->modification;
}

std::optional<double> VGLogFileInfo::modificationDate() const
{
    const auto& read = attributes();
    return read ? std::optional<double>(read->modification) : std::nullopt;
}

uint64_t VGLogFileInfo::fileSize() const
{
    if (fileSize_ == 0) {
        struct stat st {};
        if (::stat(QFile::encodeName(filePath_).constData(), &st) == 0)
            fileSize_ = uint64_t(st.st_size);
    }
    return fileSize_;
}

double VGLogFileInfo::age() const
{
    const auto created = creationDate();
    return created ? Clock::nowPrecise() - *created : 0;
}

bool VGLogFileInfo::isArchived() const { return hasExtendedAttributeWithName(ArchivedAttribute); }

void VGLogFileInfo::setIsArchived(bool archived)
{
    if (archived)
        addExtendedAttributeWithName(ArchivedAttribute);
    else
        removeExtendedAttributeWithName(ArchivedAttribute);
}

void VGLogFileInfo::addExtendedAttributeWithName(const char* name)
{
    if (::setxattr(QFile::encodeName(filePath_).constData(), name, nullptr, 0, 0) != 0)
        consoleLog(QStringLiteral("VGLogFileInfo: setxattr(%1, %2): error = %3")
                       .arg(QString::fromUtf8(name), fileName(), QString::fromLocal8Bit(std::strerror(errno))));
}

void VGLogFileInfo::removeExtendedAttributeWithName(const char* name)
{
    if (::removexattr(QFile::encodeName(filePath_).constData(), name) != 0 && errno != ENODATA)
        consoleLog(QStringLiteral("VGLogFileInfo: removexattr(%1, %2): error = %3")
                       .arg(QString::fromUtf8(name), fileName(), QString::fromLocal8Bit(std::strerror(errno))));
}

bool VGLogFileInfo::hasExtendedAttributeWithName(const char* name) const
{
    return ::getxattr(QFile::encodeName(filePath_).constData(), name, nullptr, 0) >= 0;
}

void VGLogFileInfo::reset() { attributes_.reset(); }

void VGLogFileInfo::renameFile(const QString& newName)
{
    if (newName == fileName())
        return;
    const QString newPath = QFileInfo(filePath_).dir().filePath(newName);
    // rename(2) replaces a file at the new path in one step.
    if (::rename(QFile::encodeName(filePath_).constData(), QFile::encodeName(newPath).constData()) != 0)
        consoleLog(QStringLiteral("VGLogFileInfo: Error renaming file (%1): %2")
                       .arg(fileName(), QString::fromLocal8Bit(std::strerror(errno))));
    filePath_ = newPath;
    reset();
}

bool VGLogFileInfo::isNewerByCreationDate(const VGLogFileInfo& a, const VGLogFileInfo& b)
{
    return a.creationDate().value_or(0) > b.creationDate().value_or(0);
}

bool VGLogFileInfo::isNewerByModificationDate(const VGLogFileInfo& a, const VGLogFileInfo& b)
{
    return a.modificationDate().value_or(0) > b.modificationDate().value_or(0);
}

QString VGLogFileInfo::description() const
{
    const auto date = [](std::optional<double> value) { return value ? QString::number(*value, 'f', 3) : QString(); };
    return QStringLiteral("{ filePath = %1; fileName = %2; creationDate = %3; modificationDate = %4; "
                          "fileSize = %5; age = %6; isArchived = %7; }")
        .arg(filePath_, fileName(), date(creationDate()), date(modificationDate()))
        .arg(fileSize())
        .arg(age())
        .arg(isArchived() ? 1 : 0);
}
