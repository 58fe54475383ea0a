#include "ZPFileChannel.h"

#include "ZPFileChannelOutput.h"
#include "files/Posix.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::nullptr_t failWithErrno(Error* error, const QString& what, const QString& path)
{
    setError(error, posixError(errno, what, path));
    return nullptr;
}

void syncDirectory(const QString& path)
{
    const Descriptor directory(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
}

} // namespace

std::shared_ptr<const ZPContents> ZPFileChannel::newInput(Error* error)
{
    const Descriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return failWithErrno(error, QStringLiteral("open"), m_path);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return failWithErrno(error, QStringLiteral("stat"), m_path);
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return failWithErrno(error, QStringLiteral("open"), m_path);
    }
    if (info.st_size == 0)
        return ZPContents::fromByteArray(QByteArray());
    const auto length = static_cast<std::size_t>(info.st_size);
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (address == MAP_FAILED)
        return failWithErrno(error, QStringLiteral("map"), m_path);
    return ZPContents::fromMapping(address, length);
}

std::unique_ptr<ZPChannelOutput> ZPFileChannel::newOutput(Error* error)
{
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return failWithErrno(error, QStringLiteral("open"), m_path);
    return std::make_unique<ZPFileChannelOutput>(fd, m_path);
}

QString ZPFileChannel::resolvedPath() const
{
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(m_path).constData(), resolved))
        return QFile::decodeName(resolved);
    return QFileInfo(m_path).absoluteFilePath();
}

std::shared_ptr<ZPChannel> ZPFileChannel::temporaryChannel(Error* error)
{
    const QString name = QFileInfo(m_path).fileName();
    QByteArray directory = QFile::encodeName(QFileInfo(resolvedPath()).absolutePath() + QStringLiteral("/.") + name
                                         + QStringLiteral(".XXXXXX"));
    if (!::mkdtemp(directory.data()))
        return failWithErrno(error, QStringLiteral("make temporary folder"), QFile::decodeName(directory));
    return std::make_shared<ZPFileChannel>(QFile::decodeName(directory) + u'/' + name);
}

bool ZPFileChannel::replaceWithChannel(ZPChannel& temporary, Error* error)
{
    const QString source = temporary.URL();
    const QString target = resolvedPath();
    const Descriptor file(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0 || ::fdatasync(file.get()) != 0) {
        failWithErrno(error, QStringLiteral("sync"), source);
        return false;
    }
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0 && ::fchmod(file.get(), old.st_mode & 07777) != 0) {
        failWithErrno(error, QStringLiteral("change mode of"), source);
        return false;
    }
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0) {
        failWithErrno(error, QStringLiteral("replace"), target);
        return false;
    }
    syncDirectory(QFileInfo(target).absolutePath());
    return true;
}

void ZPFileChannel::removeAsTemporary()
{
    // Only the file and its own folder: never more than the temporary channel made.
    ::unlink(QFile::encodeName(m_path).constData());
    ::rmdir(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData());
}
