#include "Note.h"

#include "NoteHeaderFile.h"
#include "NoteIndexMarker.h"
#include "NoteMetaFile.h"

#include "Clock.h"
#include "files/AtomicFile.h"
#include "files/FileDates.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A small record named inside an open folder: no path to resolve, and a
// missing one costs a single failed open.
QByteArray contentsAt(int folder, const QString& name)
{
    const int fd = ::openat(folder, QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QByteArray data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            data.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
    return data;
}

// The records are caches: the note's text and file dates can make them again,
// so they are not flushed to disk one by one. A new record costs no look
// first, nor a temporary and a rename in a folder of every note; inside the
// record's folder, open, no path from the root either. One that is there
// already is replaced as anywhere else, unless it holds the same bytes (a
// note saved again with a new date keeps its title record).
bool writeRecord(const QString& path, const QByteArray& data, Error* error, int folder = -1)
{
    if (path.isEmpty())
        return false;
    const int created = folder >= 0 ? AtomicFile::createCacheAt(folder, path, data) : AtomicFile::createCache(path, data);
    if (created == 0)
        return true;
    if (AtomicFile::holds(path, data))
        return true;
    Note::createImmediateDirectoryForFilePath(path);
    return AtomicFile::writeCache(path, data, error);
}

} // namespace

// --- Meta file

bool Note::restoreMeta(Error*, bool* hadRecord, int folder)
{
    if (hadRecord)
        *hadRecord = false;
    const Fields f = fields();
    Q_ASSERT_X(!f.key.isNull(), "Note::restoreMeta", "self.key != nil");
    if (f.key.isNull())
        return false;
    NoteMetaFile meta{f.scrollCaret, f.scrollCaretOffset, f.selectedCaret, f.createdOn, f.updatedOn, f.branchSignature};
    // An empty record (a crash before its bytes reached the disk) counts as missing.
    const QByteArray record = folder < 0                         ? contents(metaFileForKey(f.key, f.storage))
                              : isSafePathComponent(f.key) ? contentsAt(folder, f.key)
                                                           : QByteArray();
    if (!record.isEmpty()) {
        if (hadRecord)
            *hadRecord = true;
        if (!meta.read(record))
            return true;
    } else {
        // Without a record the text file knows the dates best; "now" would be
        // written into its creation date at the next commit.
        int64_t created = 0;
        int64_t updated = 0;
        FileDates::regularFileDates(documentFileForKey(f.key, f.storage), &created, &updated);
        const int64_t now = Clock::now();
        meta.scrollCaret = 0;
        meta.scrollCaretOffset = 0;
        meta.createdOn = created > 0 ? created : now;
        meta.updatedOn = updated > 0 ? updated : now;
    }
    std::lock_guard lock(mutex_);
    fields_.scrollCaret = meta.scrollCaret;
    fields_.scrollCaretOffset = meta.scrollCaretOffset;
    fields_.selectedCaret = meta.selectedCaret;
    fields_.createdOn = meta.createdOn;
    fields_.updatedOn = meta.updatedOn;
    fields_.branchSignature = meta.branchSignature;
    return true;
}

bool Note::writeMetaFile(Error* error, int folder)
{
    const Fields f = fields();
    if (f.key.isNull())
        return false;
    const NoteMetaFile meta{f.scrollCaret, f.scrollCaretOffset, f.selectedCaret,
                            f.createdOn,   f.updatedOn,         f.branchSignature};
    return writeRecord(metaFileForKey(f.key, f.storage), meta.data(), error, folder);
}

bool Note::removeMetaFile(Error*)
{
    const Fields f = fields();
    return f.key.isNull() || removeItemIfExistsAtPath(metaFileForKey(f.key, f.storage));
}

// --- Header file

bool Note::restoreHeader(Error* error)
{
    const Fields f = fields();
    Q_ASSERT_X(!f.key.isNull(), "Note::restoreHeader", "self.key != nil");
    if (f.key.isNull())
        return false;
    const QString path = headerFileForKey(f.key, f.storage);
    // An empty record (a crash before its bytes reached the disk) is made again.
    if (const QByteArray record = contents(path); !record.isEmpty()) {
        NoteHeaderFile header{f.title, f.summary};
        if (header.read(record)) {
            std::lock_guard lock(mutex_);
            fields_.title = header.title;
            fields_.summary = header.summary;
        }
        return true;
    }
    if (f.text.isNull())
        restoreText();
    if (!text().isNull())
        writeHeaderFile(error);
    return true;
}

bool Note::writeHeaderFile(Error* error, int folder)
{
    _reloadHeader();
    return writeHeaderRecord(error, folder);
}

bool Note::writeHeaderRecord(Error* error, int folder)
{
    const Fields f = fields();
    if (f.key.isNull())
        return false;
    const NoteHeaderFile header{f.title, f.summary};
    return writeRecord(headerFileForKey(f.key, f.storage), header.data(), error, folder);
}

bool Note::removeHeaderFile(Error*)
{
    const Fields f = fields();
    return f.key.isNull() || removeItemIfExistsAtPath(headerFileForKey(f.key, f.storage));
}

// --- Index file

bool Note::writeIndexFile(Error*)
{
    const Fields f = fields();
    const QString path = f.key.isNull() ? QString() : indexFileForKey(f.key, f.storage);
    if (path.isEmpty())
        return false;
    createImmediateDirectoryForFilePath(path);
    return NoteIndexMarker::write(path, documentFileForKey(f.key, f.storage));
}

bool Note::hasCurrentIndexFile() const
{
    const Fields f = fields();
    if (f.key.isNull())
        return false;
    const NoteIndexMarker::Stamp text = NoteIndexMarker::stampOf(documentFileForKey(f.key, f.storage));
    return text.regular && NoteIndexMarker::stampOf(indexFileForKey(f.key, f.storage)) == text;
}

bool Note::removeIndexFile(Error*)
{
    const Fields f = fields();
    return f.key.isNull() || removeItemIfExistsAtPath(indexFileForKey(f.key, f.storage));
}
