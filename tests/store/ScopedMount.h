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

// A file system mounted over a test folder for the life of the object. The
// tests run as root; where mounting is refused, make() answers null and the
// reason, for the test to skip with.
class ScopedMount {
public:
    // A tmpfs of the given size, or the folder bound read-only onto itself.
    enum class Kind { SmallTmpfs, ReadOnlyBind };

    static std::unique_ptr<ScopedMount> make(Kind kind, const QString& folder, QString* refusal)
    {
        QDir().mkpath(folder);
        const QByteArray target = QFile::encodeName(folder);
        const bool ok = kind == Kind::SmallTmpfs
                            ? ::mount("tmpfs", target.constData(), "tmpfs", 0, "size=256k") == 0
                            : ::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) == 0
                                  && (::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                                              nullptr) == 0
                                      || (::umount2(target.constData(), MNT_DETACH), false));
        if (!ok) {
            *refusal = QStringLiteral("mounting over %1 was refused: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        return std::unique_ptr<ScopedMount>(new ScopedMount(target));
    }
    ~ScopedMount() { ::umount2(target_.constData(), MNT_DETACH); }

    // Fills the file system with one file until no byte more fits.
    void fill() const
    {
        const int fd = ::open((target_ + "/.filler").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const QByteArray block(4096, 'x');
        while (fd >= 0 && ::write(fd, block.constData(), block.size()) > 0) {
        }
        while (fd >= 0 && ::write(fd, block.constData(), 1) > 0) {
        }
        if (fd >= 0)
            ::close(fd);
    }

private:
    explicit ScopedMount(QByteArray target) : target_(std::move(target)) {}
    QByteArray target_;
};
