#include "NoteHistory.h"

#include "Store/Note.h"

#include "files/AtomicFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

QString pathFor(const QString& key, int storage)
{
    const QString storageName = Note::resourceNameForStorage(storage);
    if (storageName.isEmpty() || !Note::isSafePathComponent(key))
        return QString();
    return QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/History/") + storageName
           + QLatin1Char('/') + key;
}

} // namespace

QString NoteHistory::hashOf(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

NoteHistory NoteHistory::load(const QString& key, int storage)
{
    NoteHistory history;
    QFile file(pathFor(key, storage));
    if (!file.open(QIODevice::ReadOnly))
        return history;
    const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return history;
    history.received = lines.first() == QLatin1String("-") ? QString() : lines.first();
    history.hashes = lines.mid(1, Limit);
    return history;
}

void NoteHistory::save(const QString& key, int storage) const
{
    const QString path = pathFor(key, storage);
    if (path.isEmpty())
        return;
    Note::createImmediateDirectoryForFilePath(path);
    const QString text = (received.isEmpty() ? QStringLiteral("-") : received) + QLatin1Char('\n')
                         + hashes.join(QLatin1Char('\n')) + QLatin1Char('\n');
    // Not waited for on the disk: one wait per note made a first start with sync on crawl. A history a
    // crash leaves empty only makes a text this computer held look new, which keeps it as a fork.
    // For the same reason a note's first history is written in place: a temporary file and a rename
    // in a folder of every note cost a first start more than the rest of the history's work.
    const QByteArray bytes = text.toLatin1();
    if (AtomicFile::createCache(path, bytes) != 0)
        AtomicFile::writeCache(path, bytes);
}

void NoteHistory::copy(const QString& fromKey, int fromStorage, const QString& toKey, int toStorage)
{
    const NoteHistory held = load(fromKey, fromStorage);
    if (held.hashes.isEmpty())
        return;
    NoteHistory history = load(toKey, toStorage);
    if (history.hashes.isEmpty())
        history = held;
    else
        history.merge(held.hashes);
    history.save(toKey, toStorage);
}

QStringList NoteHistory::fromField(const QString& field, const QString& text)
{
    QStringList hashes = field.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(0, Limit);
    const QString own = hashOf(text);
    if (!hashes.contains(own))
        hashes.prepend(own);
    return hashes;
}

void NoteHistory::add(const QString& hash)
{
    hashes.removeAll(hash);
    hashes.prepend(hash);
    hashes = hashes.mid(0, Limit);
}

void NoteHistory::merge(const QStringList& others)
{
    for (auto hash = others.rbegin(); hash != others.rend(); ++hash) {
        if (!hashes.contains(*hash))
            hashes.insert(std::min<qsizetype>(1, hashes.size()), *hash);
    }
    hashes = hashes.mid(0, Limit);
}
