#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

// A file system mounted over a test folder for the life of the object: a
// small tmpfs, or the folder bound read-only onto itself. The tests run as
// root; where mounting is refused, make() answers null and why, to skip with.
class ScopedMount {
public:
    enum class Kind { SmallTmpfs, ReadOnlyBind };

    static std::unique_ptr<ScopedMount> make(Kind kind, const QString& folder, QString* refusal)
    {
        QDir().mkpath(folder);
        const QByteArray at = QFile::encodeName(folder);
        const bool ok = kind == Kind::SmallTmpfs
                            ? ::mount("tmpfs", at.constData(), "tmpfs", 0, "size=256k") == 0
                            : ::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) == 0
                                  && (::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0
                                      || (::umount2(at.constData(), MNT_DETACH), false));
        if (!ok)
            *refusal = QStringLiteral("mounting over %1 was refused: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return ok ? std::unique_ptr<ScopedMount>(new ScopedMount(at)) : nullptr;
    }
    ~ScopedMount() { ::umount2(at_.constData(), MNT_DETACH); }

    // Fills the file system with one hidden file until no byte more fits.
    void fill() const
    {
        const int fd = ::open((at_ + "/.filler").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const QByteArray block(4096, 'x');
        for (const qsizetype size : {block.size(), qsizetype(1)}) {
            while (fd >= 0 && ::write(fd, block.constData(), size_t(size)) > 0) {
            }
        }
        if (fd >= 0)
            ::close(fd);
    }

private:
    explicit ScopedMount(QByteArray at) : at_(std::move(at)) {}
    QByteArray at_;
};
