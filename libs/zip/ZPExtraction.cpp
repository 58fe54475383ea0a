#include "ZPExtraction.h"

#include "ZPInflateInputStream.h"
#include "files/Posix.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ZPExtraction {

namespace {

Error refusal(Code code, const QString& text) { return Error::make(QString::fromLatin1(domain), code, text); }

QString nameOf(const ZPOldArchiveEntry& entry)
{
    return entry.fileName().value_or(QStringLiteral("<name not valid in its encoding>"));
}

// The name's path components, or nothing when it could point outside the
// target: absolute, with a ".." component or a NUL, or not decodable.
std::optional<QStringList> safeComponents(const std::optional<QString>& name)
{
    if (!name || name->startsWith(u'/') || name->contains(QChar(0)))
        return std::nullopt;
    QStringList components = name->split(u'/', Qt::SkipEmptyParts);
    components.removeAll(QStringLiteral("."));
    if (components.contains(QStringLiteral("..")))
        return std::nullopt;
    return components;
}

// A link target that resolves inside the target wherever it sits: relative,
// its ".." only at the front and no more of them than folders above the link.
// A ".." after a name could climb out through a link made later.
bool linkStaysInside(const QByteArray& link, qsizetype depth)
{
    if (link.isEmpty() || link.startsWith('/') || link.contains('\0'))
        return false;
    qsizetype ups = 0;
    bool descended = false;
    for (const QByteArray& part : link.split('/')) {
        if (part == "..") {
            if (descended || ++ups > depth)
                return false;
        } else if (!part.isEmpty() && part != ".") {
            descended = true;
        }
    }
    return true;
}

// The directory at the path below the parent, made where missing; symbolic
// links are not followed. -1 with errno on failure.
int openDirectories(int parent, const QStringList& path)
{
    int directory = ::dup(parent);
    for (const QString& component : path) {
        const QByteArray local = QFile::encodeName(component);
        if (::mkdirat(directory, local.constData(), 0755) != 0 && errno != EEXIST) {
            ::close(directory);
            return -1;
        }
        const int next = ::openat(directory, local.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(directory);
        if (next < 0)
            return -1;
        directory = next;
    }
    return directory;
}

enum class Kind { File, Directory, Link };

Kind kindOf(const ZPOldArchiveEntry& entry)
{
    if (entry.fileName()->endsWith(u'/') || (entry.fileMode() & S_IFMT) == S_IFDIR)
        return Kind::Directory;
    return (entry.fileMode() & S_IFMT) == S_IFLNK ? Kind::Link : Kind::File;
}

// Where the entry's local record lies in the archive.
struct Extent {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    qsizetype index = 0;
};

// Why the entry must not be written, or nothing. Run before any of its bytes
// are; the extents are those of the entries accepted before it.
std::optional<Error> refusalFor(const ZPOldArchiveEntry& entry, const QList<Extent>& accepted, std::uint64_t room,
                                Extent& extent)
{
    Error error;
    if (!entry.check(&error) || !entry.checkEncryptionAndCompression(&error))
        return error;
    const auto record = entry.localRecord();
    const auto data = entry.fileData(&error);
    if (!record || !data)
        return error;
    extent.begin = entry.centralFileHeader().localHeaderOffset();
    extent.end = extent.begin + record->size();
    for (const Extent& other : accepted) {
        if (extent.begin < other.end && other.begin < extent.end)
            return refusal(Overlapping, QStringLiteral("its data overlaps entry %1's").arg(other.index));
    }
    const std::uint64_t length = data->bytes.size();
    const bool backed = entry.compressionMethod() == 0
        ? length == entry.uncompressedSize()
        : entry.uncompressedSize() <= ZPInflateInputStream::maximumInflatedSize(length);
    if (!backed)
        return refusal(SizeNotBacked, QStringLiteral("its declared size of %1 bytes does not match its %2 stored bytes")
                                          .arg(entry.uncompressedSize())
                                          .arg(length));
    if (kindOf(entry) != Kind::Directory && entry.uncompressedSize() > room)
        return refusal(OverLimit, QStringLiteral("its %1 bytes are more than the %2 bytes of room left")
                                      .arg(entry.uncompressedSize())
                                      .arg(room));
    if (kindOf(entry) == Kind::Link && entry.uncompressedSize() >= PATH_MAX)
        return refusal(LinkOutsideTarget, QStringLiteral("its link is longer than a path"));
    return std::nullopt;
}

// Writes the file, or the link, under a fresh temporary name and puts it in
// place only when all of it was there, so a failure leaves what was before.
// The short name fits beside any entry's and is never one that exists.
bool writeLeaf(const ZPOldArchiveEntry& entry, Kind kind, int directory, const QByteArray& leaf, qsizetype depth,
               const QString& password, Error& error)
{
    QByteArray partial;
    bool done = false;
    if (kind == Kind::Link) {
        const auto link = entry.newData(password, &error);
        if (link && !linkStaysInside(*link, depth))
            error = refusal(LinkOutsideTarget, QStringLiteral("its link leads outside the target"));
        else if (link && underFreshName([&](const QByteArray& name) {
                             return ::symlinkat(link->constData(), directory, name.constData());
                         }, &partial) != 0)
            error = posixError(errno, QStringLiteral("create"), nameOf(entry));
        else
            done = link.has_value();
    } else {
        // An entry without a mode (from a host that gives none) is an ordinary
        // file; the kernel applies the umask to the mode a new file is made with.
        const mode_t permissions = entry.fileMode() & 0777 ? entry.fileMode() & 0775 : 0644;
        const int file = underFreshName(
            [&](const QByteArray& name) {
                return ::openat(directory, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                permissions);
            },
            &partial);
        if (file < 0) {
            error = posixError(errno, QStringLiteral("create"), nameOf(entry));
            return false;
        }
        done = writeEntryData(entry, password, file, &error);
        done = ::close(file) == 0 && done;
    }
    if (done && ::renameat(directory, partial.constData(), directory, leaf.constData()) != 0) {
        error = posixError(errno, QStringLiteral("put in place"), nameOf(entry));
        done = false;
    }
    if (!done && !partial.isEmpty())
        ::unlinkat(directory, partial.constData(), 0);
    return done;
}

// Writes one checked entry below the target, making its folders.
bool extractEntry(const ZPOldArchiveEntry& entry, const QStringList& components, int target, const QString& password,
                  Error& error)
{
    const Kind kind = kindOf(entry);
    const QStringList folders = kind == Kind::Directory ? components : components.mid(0, components.size() - 1);
    const int directory = openDirectories(target, folders);
    if (directory < 0) {
        error = posixError(errno, QStringLiteral("make folder for"), nameOf(entry));
        return false;
    }
    const bool done = kind == Kind::Directory || components.isEmpty()
        || writeLeaf(entry, kind, directory, QFile::encodeName(components.last()), folders.size(), password, error);
    ::close(directory);
    return done;
}

std::uint64_t freeSpace(int directory)
{
    struct statvfs info {};
    if (::fstatvfs(directory, &info) != 0)
        return 0;
    return std::uint64_t(info.f_bavail) * info.f_frsize;
}

} // namespace

bool writeEntryData(const ZPOldArchiveEntry& entry, const QString& password, int descriptor, Error* error)
{
    const auto stream = entry.newStream(password, error);
    if (!stream)
        return false;
    stream->open();
    std::array<std::byte, 64 * 1024> buffer;
    std::int64_t count = 0;
    while ((count = stream->read(buffer)) > 0) {
        if (!writeAll(descriptor, QByteArray::fromRawData(reinterpret_cast<const char*>(buffer.data()), count))) {
            setError(error, posixError(errno, QStringLiteral("write"), nameOf(entry)));
            break;
        }
    }
    if (count < 0)
        setError(error, stream->streamError().value_or(Error{}));
    stream->close();
    return count == 0;
}

std::optional<Result> extract(const ZPArchive::Entries& entries, const QString& target, const Options& options,
                              Error* error)
{
    const QByteArray path = QFile::encodeName(target);
    ::mkdir(path.constData(), 0755);
    const int directory = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        setError(error, posixError(errno, QStringLiteral("open"), target));
        return std::nullopt;
    }
    std::uint64_t room = options.limit.value_or(freeSpace(directory));
    Result result;
    QList<Extent> accepted;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const ZPOldArchiveEntry& entry = *entries[index];
        const auto components = safeComponents(entry.fileName());
        Extent extent{.index = index};
        std::optional<Error> refused;
        if (!components)
            refused = refusal(NameOutsideTarget, QStringLiteral("the name leads outside the target"));
        else
            refused = refusalFor(entry, accepted, room, extent);
        Error failure;
        if (!refused && !extractEntry(entry, *components, directory, options.password, failure))
            refused = failure;
        if (refused) {
            result.refusals.append({index, nameOf(entry), *refused});
            continue;
        }
        accepted.append(extent);
        if (kindOf(entry) != Kind::Directory) {
            room -= entry.uncompressedSize();
            result.written += entry.uncompressedSize();
        }
    }
    ::close(directory);
    return result;
}

} // namespace ZPExtraction
