#include "NoteIndexRebuild.h"

#include "Note.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"

#include "Log.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>

namespace {

// Names in the folder's own order, without "." and ".."; false when it
// cannot be listed.
bool listFolder(const QString& folder, QStringList* names, Error* error)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        setError(error, Error::make(QStringLiteral("NSPOSIXErrorDomain"), errno,
                                    QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            names->append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return true;
}

} // namespace

NoteIndexRebuild::NoteIndexRebuild(int batchSize) : batchSize_(batchSize > 0 ? batchSize : 1) {}

bool NoteIndexRebuild::openNextStorage()
{
    if (storage_ == NoteStorageArchive)
        return false;
    storage_ = storage_ == 0 ? NoteStorageInbox : NoteStorageArchive;
    names_.clear();
    next_ = 0;
    Error error;
    const QString folder = Note::documentDirectoryForStorage(storage_);
    if (!QFileInfo::exists(folder))
        return false;
    if (!listFolder(folder, &names_, &error)) {
        LogError("build:reload error: %1", error.localizedDescription());
        return false;
    }
    // One listing of the markers instead of a look-up per note keeps a start
    // with everything indexed cheap.
    QStringList markers;
    listFolder(Note::indexDirectoryForStorage(storage_), &markers, nullptr);
    indexed_ = QSet<QString>(markers.cbegin(), markers.cend());
    return true;
}

bool NoteIndexRebuild::step()
{
    if (done_)
        return false;
    QList<NotePtr> notes;
    QList<NoteSearchRow> rows;
    while (notes.size() < batchSize_) {
        if (next_ >= names_.size()) {
            if (!openNextStorage()) {
                done_ = true;
                break;
            }
            continue;
        }
        const QString& name = names_[next_++];
        if (name.startsWith(QLatin1Char('.')) || indexed_.contains(name))
            continue;
        auto note = std::make_shared<Note>(name, storage_);
        // An unreadable note gets no marker, so the next start tries it again.
        if (!note->restoreText())
            continue;
        note->restoreHeader();
        rows.append(note->writeTagLinkFiles(false));
        notes.append(std::move(note));
    }
    NoteServices* const core = Note::services();
    if (!rows.isEmpty() && core) {
        QList<bool> stored;
        core->syncDatabase([&](SLDatabase& db) { stored = NoteSearchRow::writeAll(db, rows); });
        for (qsizetype i = 0; i < notes.size(); ++i) {
            if (stored.value(i))
                notes[i]->writeIndexFile();
        }
    }
    return !done_;
}
