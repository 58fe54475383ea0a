#include "SyncConflict.h"

#include "LinkFiles.h"
#include "NoteHistory.h"

#include "Store/AppleCloud.h"
#include "Store/NoteIndexMarker.h"
#include "Store/NoteServices.h"

#include "Log.h"
#include "files/FileDates.h"
#include "files/FileTimes.h"
#include "files/HeldFolder.h"
#include "files/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace SyncConflict {

namespace {

// A copy of the note's text file in the Trash, under the note's name.
void trashCopy(const QString& key, int storage)
{
    const QString folder = QFileInfo(Note::linkDirectoryForService(NoteServiceCloud)).path() + QStringLiteral("/Replaced");
    QDir().mkpath(folder);
    const QString copy = folder + QLatin1Char('/') + key;
    QFile::remove(copy);
    if (!QFile::copy(Note::documentFileForKey(key, storage), copy) || !Trash::moveToTrash(copy))
        LogError("sync:replaced text not kept %1", key);
    else
        LogInfo("sync:replaced text kept in the Trash %1", key);
}

void sendRecord(const NotePtr& note)
{
    if (NoteServices* const services = Note::services())
        services->appleCloud()->ckCloud()->saveNote(note, {});
}

} // namespace

bool hasUnexchangedLocalChanges(const QString& key, int storage, std::initializer_list<int> services)
{
    const QString path = Note::documentFileForKey(key, storage);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    const FileTime changed = FileTime::fromWholeSeconds(FileDates::modificationDate(path));
    for (const int service : services) {
        if (linkCovers(LinkFiles::modificationDate(key, service, storage), changed))
            return false;
    }
    return true;
}

bool linkCovers(const std::optional<FileTime>& link, const FileTime& textDate)
{
    // Truncated toward zero, as a commit writes updatedOn there.
    const int64_t second = textDate.seconds < 0 && textDate.nanoseconds > 0 ? textDate.seconds + 1 : textDate.seconds;
    return link && LinkFiles::dateIsNewerOrEqualTo(*link, FileTime::fromWholeSeconds(second));
}

bool hasUnsentChanges(const QString& key, int storage, int service)
{
    if (hasUnexchangedLocalChanges(key, storage))
        return true;
    if (!hasUnexchangedLocalChanges(key, storage, {service}))
        return false;
    Note local(key, storage);
    return local.restoreText() && NoteHistory::load(key, storage).received != NoteHistory::hashOf(local.text());
}

bool repairCutCommit(const QString& key, int storage)
{
    const std::optional<FileTime> date = FileTimes::modificationTime(Note::documentFileForKey(key, storage));
    // Hidden names are a save under way, no note.
    if (!mayBeCutCommit(date) || key.startsWith(QLatin1Char('.')) || !Note::isReadableFileName(key))
        return false;
    auto note = std::make_shared<Note>(key, storage);
    note->restoreMeta();
    if (!note->restoreText())
        return false;
    LogInfo("sync:cut commit made again %1", key);
    // Bytes the store never indexed (another program's): once committed here the folder watch takes
    // them for ours, so the editor and the list hear of the new text now.
    const bool outside = NoteIndexMarker::stampOf(Note::documentFileForKey(key, storage)) !=
                         NoteIndexMarker::stampOf(Note::indexFileForKey(key, storage));
    // Dated when the file was written (its second, rounded up), not now: a folder of notes another
    // program wrote keeps its order by date once sync is turned on.
    note->setUpdatedOnForChange(std::max(note->updatedOn(), date->seconds + 1));
    bool done = false;
    note->_commitAndCloseLocalNote([&](bool ok) { done = ok; });
    if (NoteServices* const services = done && outside ? Note::services() : nullptr)
        services->noteDidUpdateFromRemoteServer(note);
    return done;
}

QList<std::pair<QString, int>> notesGoneSinceExchange(int service)
{
    QList<std::pair<QString, int>> gone;
    // Judged over the notes either service holds: each may hold a few of them only.
    qsizetype linked = 0;
    qsizetype goneFromEither = 0;
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        QSet<QString> keys[2];
        for (const int each : {NoteServiceCloud, NoteServiceCloudKit}) {
            const QStringList names = HeldFolder(Note::linkDirectoryForService(each, storage)).names(HeldFolder::Entries::NonFolders);
            keys[each == service] = QSet<QString>(names.cbegin(), names.cend());
        }
        const QSet<QString> either = keys[0] + keys[1];
        const QString folder = Note::documentDirectoryForStorage(storage);
        // A storage never used has no folder; one whose notes were exchanged lost it.
        if (!QFileInfo(folder).isDir()) {
            if (either.isEmpty())
                continue;
            return {};
        }
        const QStringList notes = HeldFolder(folder).names(HeldFolder::Entries::Files);
        const QSet<QString> held(notes.cbegin(), notes.cend());
        linked += either.size();
        for (const QString& key : either) {
            if (held.contains(key))
                continue;
            ++goneFromEither;
            if (keys[1].contains(key))
                gone.append({key, storage});
        }
    }
    if (tooManyGone(goneFromEither, linked)) {
        LogError("sync:removals refused: %1 of %2 linked notes gone", goneFromEither, linked);
        return {};
    }
    return gone;
}

// File queue: commits the note again, dated at least updatedOn, and sends it
// to the drive and the record store.
static void resend(const NotePtr& note, int64_t updatedOn)
{
    note->setUpdatedOn(std::max(note->updatedOn(), updatedOn));
    note->commitAndCloseNote([note](bool ok) {
        if (ok)
            sendRecord(note);
    });
}

QString forkKey(const QString& key, const QString& text)
{
    return Note::forkFileName(key, text);
}

void keepAsFork(const QString& key, int storage, const QString& text, int64_t updatedOn, int64_t createdOn,
                const QString& keptFor)
{
    const QString fork = forkKey(key, text);
    if (!Note::isSafePathComponent(fork) || QFileInfo::exists(Note::documentFileForKey(fork, storage)))
        return;
    auto note = std::make_shared<Note>(fork, storage);
    note->setText(text);
    note->setCreatedOn(createdOn);
    // Made again after it went (its note had held the text): dated after that
    // deletion, or every computer's trash link would refuse it.
    const std::optional<FileTime> gone = LinkFiles::modificationDate(fork, NoteServiceTrash, storage);
    note->setUpdatedOn(gone ? std::max(updatedOn, gone->seconds + 1) : updatedOn);
    LogInfo("sync:fork %1 -> %2", key, fork);
    NoteHistory history;
    if (!keptFor.isEmpty())
        history.add(keptFor);
    history.add(NoteHistory::hashOf(text));
    history.save(fork, storage);
    note->commitAndCloseNote([note](bool ok) {
        if (ok)
            sendRecord(note);
    });
}

void keepLocalAsFork(const QString& key, int storage, const QString& keptFor)
{
    Note local(key, storage);
    local.restoreMeta();
    if (local.restoreText())
        keepAsFork(key, storage, local.text(), local.updatedOn(), local.createdOn(), keptFor);
}

// Its history names a text besides its own that the note's text was not
// sent over: one a conflict kept over it, which may yet hold the note.
static bool setAside(const QString& fork, int storage, const QString& text, const QStringList& sentOver)
{
    const QString own = NoteHistory::hashOf(text);
    const QStringList hashes = NoteHistory::load(fork, storage).hashes;
    return std::any_of(hashes.begin(), hashes.end(),
                       [&](const QString& hash) { return hash != own && !sentOver.contains(hash); });
}

void dropForkTheNoteHolds(const QString& key, int storage, const QString& text, const QStringList& sentOver)
{
    const auto holds = [&](const QString& name) {
        Note held(name, storage);
        return QFileInfo(Note::documentFileForKey(name, storage)).isFile() && held.restoreText() && held.text() == text;
    };
    // The fork first: seldom there, while the note's text is read whole.
    const QString fork = forkKey(key, text);
    if (!holds(fork) || !holds(key) || setAside(fork, storage, text, sentOver))
        return;
    LogInfo("sync:fork held by its note again %1", fork);
    std::make_shared<Note>(fork, storage)->trashNote({});
}

bool sentOverHeldText(const QStringList& hashes, const QString& key, int storage)
{
    if (hashes.size() < 2)
        return false;
    Note local(key, storage);
    if (!QFileInfo(Note::documentFileForKey(key, storage)).isFile() || !local.restoreText())
        return false;
    const QString mine = NoteHistory::hashOf(local.text());
    return mine != hashes.first() && hashes.contains(mine);
}

QString sending(const QString& key, int storage, const QString& text)
{
    NoteHistory history = NoteHistory::load(key, storage);
    if (!text.isEmpty()) {
        history.add(NoteHistory::hashOf(text));
        history.save(key, storage);
    }
    return history.toField();
}

std::optional<QString> sendingHeld(const QString& key, int storage, const QString& text)
{
    std::optional<QString> history;
    const auto check = [&] {
        Note local(key, storage);
        if (!QFileInfo(Note::documentFileForKey(key, storage)).isFile() || !local.restoreText() || local.text() == text)
            history = sending(key, storage, text);
    };
    if (NoteServices* const services = Note::services())
        services->fileQueue()->sync(check);
    else
        check();
    return history;
}

Outcome meet(const Incoming& in)
{
    auto local = std::make_shared<Note>(in.key, in.storage);
    if (!QFileInfo(Note::documentFileForKey(in.key, in.storage)).isFile() || !local->restoreText())
        return Outcome::Take;
    NoteHistory history = NoteHistory::load(in.key, in.storage);
    const QString mine = NoteHistory::hashOf(local->text());
    const QString theirs = NoteHistory::hashOf(in.text);
    if (mine == theirs) {
        history.add(mine);
        history.merge(in.history);
        history.save(in.key, in.storage);
        return Outcome::Same;
    }
    const bool theyKnowMine = in.history.contains(mine);
    const bool iKnowTheirs = history.contains(theirs);
    const bool mineCameIn = history.received == mine;
    if ((theyKnowMine && !iKnowTheirs) || (!theyKnowMine && !iKnowTheirs && mineCameIn)) {
        if (!mineCameIn)
            trashCopy(in.key, in.storage);
        return Outcome::Take;
    }
    local->restoreMeta();
    if (iKnowTheirs && !theyKnowMine) {
        LogInfo("sync:old text met %1", in.key);
    } else if (theirs > mine) {
        // Written beside each other: the greater hash holds the note everywhere.
        keepLocalAsFork(in.key, in.storage, theirs);
        return Outcome::TakeOverFork;
    } else {
        keepAsFork(in.key, in.storage, in.text, in.updatedOn, in.createdOn ? in.createdOn : in.updatedOn, mine);
    }
    // Ours goes out again, dated after theirs so no link holds it back.
    history.add(mine);
    history.merge(in.history);
    history.save(in.key, in.storage);
    resend(local, std::max(local->updatedOn(), in.updatedOn) + 1);
    dropForkTheNoteHolds(in.key, in.storage, local->text());
    return Outcome::KeepLocal;
}

void taken(const Incoming& in)
{
    NoteHistory history = NoteHistory::load(in.key, in.storage);
    const QString hash = NoteHistory::hashOf(in.text);
    history.add(hash);
    history.merge(in.history);
    history.received = hash;
    history.save(in.key, in.storage);
}

void takeTurn(OneAtATime::Job job)
{
    static const auto* const turns = new std::shared_ptr<OneAtATime>(OneAtATime::create());
    (*turns)->run(std::move(job));
}

} // namespace SyncConflict
