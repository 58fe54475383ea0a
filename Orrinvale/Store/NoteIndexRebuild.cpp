#include "NoteIndexRebuild.h"

#include "NoteServices.h"

#include "Log.h"
#include "SLDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>
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

void NoteIndexRebuild::readTagFolders()
{
    tagFoldersRead_ = true;
    for (const int kind : {NoteTagHashtag, NoteTagMention}) {
        const auto tagsOf = [kind](Note::LinkedTags& tags) -> QStringList& {
            return kind == NoteTagHashtag ? tags.hashtags : tags.mentions;
        };
        const QString kindFolder = Note::linkDirectoryForTag(kind);
        QStringList tagFolders;
        listFolder(kindFolder, &tagFolders, nullptr);
        for (const QString& d : std::as_const(tagFolders)) {
            int holding = 0;
            bool untidy = false;
            for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
                const QString name = Note::resourceNameForStorage(storage);
                QStringList keys;
                Error error;
                if (!listFolder(kindFolder + QLatin1Char('/') + d + QLatin1Char('/') + name, &keys, &error)) {
                    untidy = untidy || error.code != ENOENT;
                    continue;
                }
                if (keys.isEmpty())
                    untidy = true;
                else
                    ++holding;
                for (const QString& key : std::as_const(keys))
                    tagsOf(linked_[name + QLatin1Char('/') + key]).append(d);
            }
            if (untidy || holding == 0)
                tagsOf(untidy_).append(d);
        }
    }
}

Note::LinkedTags NoteIndexRebuild::linkedTags(const QString& name)
{
    if (!tagFoldersRead_)
        readTagFolders();
    Note::LinkedTags tags = linked_.take(Note::resourceNameForStorage(storage_) + QLatin1Char('/') + name);
    // A full pass would tidy these away at the first note; so does this one.
    tags.hashtags += std::exchange(untidy_.hashtags, {});
    tags.mentions += std::exchange(untidy_.mentions, {});
    return tags;
}

QList<bool> NoteIndexRebuild::writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows)
{
    if (db.totalChanges() != changesAfterLastBatch_)
        rowIds_ = NoteSearchRow::readRowIds(db);
    const QList<bool> stored = NoteSearchRow::writeAll(db, rows, rowIds_);
    changesAfterLastBatch_ = db.totalChanges();
    return stored;
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
        const Note::LinkedTags before = linkedTags(name);
        rows.append(note->writeTagLinkFiles(false, &before));
        notes.append(std::move(note));
    }
    NoteServices* const core = Note::services();
    if (!rows.isEmpty() && core) {
        QList<bool> stored;
        core->syncDatabase([&](SLDatabase& db) { stored = writeRows(db, rows); });
        for (qsizetype i = 0; i < notes.size(); ++i) {
            if (stored.value(i))
                notes[i]->writeIndexFile();
        }
    }
    return !done_;
}
