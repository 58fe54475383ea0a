#include "panes/ListTitleCache.h"

#include "Store/Note.h"
#include "Store/NoteHeaderFile.h"
#include "files/AtomicFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>

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

} // namespace

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

void ListTitleCache::keep(const std::vector<Row>& rows, bool whole)
{
    qsizetype kept = 0;
    bool fresh = false;
    for (const Row& row : rows) {
        kept += row.title.has_value();
        fresh = fresh || row.fresh;
    }
    // Entries of notes no longer listed, or of older versions, go with the next whole listing.
    if (!fresh && (!whole || kept == entries_.size()))
        return;
    if (whole)
        entries_.clear();
    for (const Row& row : rows) {
        if (row.title)
            entries_.insert(row.key, {row.version, *row.title});
    }
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
