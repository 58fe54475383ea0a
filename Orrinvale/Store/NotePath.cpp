#include "Note.h"

#include <QCoreApplication>
#include <QStringList>

#include <mutex>

namespace {

struct Roots {
    std::mutex mutex;
    QString documents;
    QString caches;
};

Roots& roots()
{
    static auto* const instance = new Roots; // queues may still make paths while the process exits
    return *instance;
}

// Joins with one separator between components; any empty part (an unset root,
// a refused name) makes the whole path empty, so nothing lands outside the store.
// Sized once: paths are made for every note a rebuild indexes.
QString join(std::initializer_list<QString> parts)
{
    qsizetype size = 0;
    for (const QString& part : parts) {
        if (part.isEmpty())
            return QString();
        size += part.size() + 1;
    }
    QString path;
    path.reserve(size);
    for (const QString& part : parts) {
        if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += part;
    }
    return path;
}

QString safe(const QString& name)
{
    return Note::isSafePathComponent(name) ? name : QString();
}

QString tagFolderName(const QString& name)
{
    return safe(name.toLower());
}

} // namespace

void Note::setRootDirectories(const QString& documentDirectory, const QString& cachesDirectory)
{
    Roots& r = roots();
    std::lock_guard lock(r.mutex);
    r.documents = documentDirectory;
    r.caches = cachesDirectory;
}

QString Note::documentRoot()
{
    Roots& r = roots();
    std::lock_guard lock(r.mutex);
    return r.documents;
}

QString Note::cachesRoot()
{
    Roots& r = roots();
    std::lock_guard lock(r.mutex);
    return r.caches;
}

bool Note::isSafePathComponent(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return false;
    return name.toUtf8().size() <= 255;
}

// --- Names and numbers

QString Note::resourceNameForStorage(int storage)
{
    switch (storage) {
    case NoteStorageInbox:
        return QStringLiteral("Inbox");
    case NoteStorageArchive:
        return QStringLiteral("Archive");
    }
    Q_ASSERT_X(false, "Note::resourceNameForStorage", "false");
    return QString();
}

int Note::storageKeyForResourceName(const QString& name)
{
    if (name == QLatin1String("Archive"))
        return NoteStorageArchive;
    if (name == QLatin1String("Inbox") || name == QLatin1String("Home"))
        return NoteStorageInbox;
    return 0;
}

QString Note::searchNameForStorage(int storage)
{
    switch (storage) {
    case NoteStorageInbox:
        return QStringLiteral("inbox");
    case NoteStorageArchive:
        return QStringLiteral("archive");
    }
    Q_ASSERT_X(false, "Note::searchNameForStorage", "false");
    return QString();
}

int Note::storageKeyForSearchName(const QString& name)
{
    if (name == QLatin1String("archive"))
        return NoteStorageArchive;
    if (name == QLatin1String("inbox") || name == QLatin1String("home"))
        return NoteStorageInbox;
    return 0;
}

QString Note::resourceNameForService(int service)
{
    switch (service) {
    case NoteServiceCloud:
        return QStringLiteral("Cloud");
    case NoteServiceCloudKit:
        return QStringLiteral("CloudKit");
    case NoteServiceTrash:
        return QStringLiteral("Trash");
    }
    Q_ASSERT_X(false, "Note::resourceNameForService", "false");
    return QString();
}

QString Note::resourceNameForTag(int tag)
{
    switch (tag) {
    case NoteTagHashtag:
        return QStringLiteral("Hashtag");
    case NoteTagMention:
        return QStringLiteral("Mention");
    }
    Q_ASSERT_X(false, "Note::resourceNameForTag", "false");
    return QString();
}

QString Note::localizedNameForStorage(int storage)
{
    switch (storage) {
    case NoteStorageInbox:
        return QCoreApplication::translate("Note", "All Notes");
    case NoteStorageArchive:
        return QCoreApplication::translate("Note", "Archive");
    }
    return QString();
}

QString Note::localizedNameForHashtag(const QString& name)
{
    return QLatin1Char('#') + name;
}

QString Note::localizedNameForMention(const QString& name)
{
    return QLatin1Char('@') + name;
}

QString Note::localizedAccessibilityLabelForHashtag(const QString& name)
{
    return QCoreApplication::translate("Note", "%1 Hashtag").arg(name);
}

QString Note::localizedAccessibilityLabelForMention(const QString& name)
{
    return QCoreApplication::translate("Note", "Mention %1").arg(name);
}

// --- Directories

QString Note::documentDirectoryForStorage(int storage)
{
    // Only the documents tree calls the inbox "Home".
    if (storage == NoteStorageInbox)
        return join({documentRoot(), QStringLiteral("Home")});
    return join({documentRoot(), resourceNameForStorage(storage)});
}

QString Note::metaDirectoryForStorage(int storage)
{
    return join({cachesRoot(), QStringLiteral("Meta"), resourceNameForStorage(storage)});
}

QString Note::headerDirectoryForStorage(int storage)
{
    return join({cachesRoot(), QStringLiteral("Head"), resourceNameForStorage(storage)});
}

QString Note::indexDirectoryForStorage(int storage)
{
    return join({cachesRoot(), QStringLiteral("Index"), resourceNameForStorage(storage)});
}

QString Note::linkDirectoryForService(int service)
{
    return join({cachesRoot(), QStringLiteral("Link"), resourceNameForService(service)});
}

QString Note::linkDirectoryForService(int service, int storage)
{
    return join({linkDirectoryForService(service), resourceNameForStorage(storage)});
}

QString Note::linkDirectoryForTag(int tag)
{
    return join({cachesRoot(), QStringLiteral("Link"), resourceNameForTag(tag)});
}

QString Note::linkDirectoryForTag(int tag, const QString& name)
{
    return join({linkDirectoryForTag(tag), tagFolderName(name)});
}

QString Note::linkDirectoryForTag(int tag, const QString& name, int storage)
{
    return join({linkDirectoryForTag(tag, name), resourceNameForStorage(storage)});
}

// --- Files

QString Note::documentFileForKey(const QString& key, int storage)
{
    Q_ASSERT_X(!key.isNull(), "Note::documentFileForKey", "key != nil");
    return join({documentDirectoryForStorage(storage), safe(key)});
}

QString Note::metaFileForKey(const QString& key, int storage)
{
    Q_ASSERT_X(!key.isNull(), "Note::metaFileForKey", "key != nil");
    return join({metaDirectoryForStorage(storage), safe(key)});
}

QString Note::headerFileForKey(const QString& key, int storage)
{
    Q_ASSERT_X(!key.isNull(), "Note::headerFileForKey", "key != nil");
    return join({headerDirectoryForStorage(storage), safe(key)});
}

QString Note::indexFileForKey(const QString& key, int storage)
{
    Q_ASSERT_X(!key.isNull(), "Note::indexFileForKey", "key != nil");
    return join({indexDirectoryForStorage(storage), safe(key)});
}

QString Note::linkFileForKey(const QString& key, int service, int storage)
{
    return join({linkDirectoryForService(service, storage), safe(key)});
}

QString Note::metaFileForTag(int tag, const QString& name)
{
    return join({linkDirectoryForTag(tag, name), QStringLiteral(".meta")});
}
