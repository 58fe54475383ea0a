#include "panes/ListTitleCache.h"

#include "Store/Note.h"
#include "Store/NoteHeaderFile.h"
#include "Store/NoteIndexMarker.h"
#include "files/AtomicFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QSet>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The file: this mark, the digest of the entries and then the entries. The header files' version is
// part of the mark: titles made another way are read again.
QByteArray mark()
{
    return "list-titles 1 " + QByteArray::number(NoteHeaderFile::Version) + '\n';
}

constexpr auto Digest = QCryptographicHash::Sha256;

QDataStream& operator<<(QDataStream& out, const FileDates::Version& v)
{
    return out << quint64(v.inode) << qint64(v.size) << qint64(v.modifiedSeconds) << qint64(v.modifiedNanoseconds)
               << qint64(v.changed);
}

QDataStream& operator>>(QDataStream& in, FileDates::Version& v)
{
    quint64 inode = 0;
    qint64 size = 0, seconds = 0, nanoseconds = 0, changed = 0;
    in >> inode >> size >> seconds >> nanoseconds >> changed;
    v = {inode, size, seconds, nanoseconds, changed};
    return in;
}

// A small file of a folder read whole with one open and, for files under 4 KB, one read. Empty when
// the file cannot be read.
QByteArray readSmallFile(int folder, const QByteArray& name)
{
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray data(4096, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        const ssize_t got = ::read(fd, data.data() + size, size_t(data.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            size = 0;
        if (got <= 0)
            break;
        size += got;
        // A short read of a regular file is its end; a full one may have more behind it.
        if (size < data.size())
            break;
        data.resize(size * 2);
    }
    ::close(fd);
    data.truncate(size);
    return data;
}

std::optional<QString> titleInHeaders(int headers, const QString& key)
{
    NoteHeaderFile header;
    if (headers < 0 || !Note::isSafePathComponent(key) || !header.read(readSmallFile(headers, QFile::encodeName(key))))
        return std::nullopt;
    return header.title;
}

} // namespace

OpenFolder::OpenFolder(const QString& path)
    : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
}

OpenFolder::~OpenFolder()
{
    if (fd >= 0)
        ::close(fd);
}

ListTitleCache::ListTitleCache(QString path) : path_(std::move(path))
{
    read();
}

QString ListTitleCache::fileForStorage(int storage)
{
    return Note::headerDirectoryForStorage(storage) + QStringLiteral(".titles");
}

const QString* ListTitleCache::find(const QString& key, const FileDates::Version& version) const
{
    const auto entry = entries_.constFind(key);
    return entry != entries_.constEnd() && entry->version == version ? &entry->title : nullptr;
}

void ListTitleCache::keep(const QHash<QString, Entry>& fresh, qsizetype found, const QList<ListItemPtr>& rows, bool whole)
{
    bool changed = !fresh.isEmpty();
    entries_.insert(fresh);
    // More entries than rows that found theirs: some are of notes no longer listed (or of older versions).
    if (whole && entries_.size() > found + fresh.size()) {
        QSet<QString> listed;
        listed.reserve(rows.size());
        for (const ListItemPtr& row : rows)
            listed.insert(row->key());
        changed = entries_.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); }) > 0 || changed;
    }
    if (changed)
        write();
}

void ListTitleCache::read()
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.readAll();
    const qsizetype markSize = mark().size();
    const qsizetype digestSize = QCryptographicHash::hashLength(Digest);
    if (!data.startsWith(mark()) || data.size() < markSize + digestSize)
        return;
    const QByteArray body = data.mid(markSize + digestSize);
    if (QCryptographicHash::hash(body, Digest) != data.mid(markSize, digestSize))
        return;
    QDataStream in(body);
    quint32 count = 0;
    in >> count;
    QHash<QString, Entry> entries;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString key;
        Entry entry;
        in >> key >> entry.version >> entry.title;
        entries.insert(key, entry);
    }
    if (in.status() == QDataStream::Ok && in.atEnd())
        entries_ = std::move(entries);
}

void ListTitleCache::write() const
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out << quint32(entries_.size());
    for (auto entry = entries_.constBegin(); entry != entries_.constEnd(); ++entry)
        out << entry.key() << entry->version << entry->title;
    Note::createImmediateDirectoryForFilePath(path_);
    AtomicFile::writeCache(path_, mark() + QCryptographicHash::hash(body, Digest) + body);
}

ListTitleReader::ListTitleReader(ListTitleCache& cache, int storage)
    : cache_(cache), headers_(Note::headerDirectoryForStorage(storage)), markers_(Note::indexDirectoryForStorage(storage))
{
}

void ListTitleReader::read(ListItem& item, const FileDates::Version& version)
{
    if (const QString* title = cache_.find(item.key(), version)) {
        item.setTitle(*title);
        return;
    }
    ++missed_;
    const NoteIndexMarker::Stamp text{version.size, version.modifiedSeconds, version.modifiedNanoseconds, true};
    const bool indexed =
        version.size >= 0 && NoteIndexMarker::stampAt(markers_.fd, QFile::encodeName(item.key()).constData()) == text;
    const std::optional<QString> title = titleInHeaders(headers_.fd, item.key());
    if (!title)
        return;
    item.setTitle(*title);
    if (indexed) {
        std::lock_guard lock(mutex_);
        fresh_.insert(item.key(), {version, *title});
    }
}

void ListTitleReader::finish(const QList<ListItemPtr>& rows, bool whole)
{
    cache_.keep(fresh_, rows.size() - missed_, rows, whole);
}

QString ListTitleReader::headerTitle(const QString& key, int storage)
{
    return titleInHeaders(OpenFolder(Note::headerDirectoryForStorage(storage)).fd, key).value_or(QString());
}
