#pragma once

#include "OneAtATime.h"

#include "Store/Note.h"

#include "files/FileTimes.h"

#include <QStringList>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>

// The conflict rule's answers that the drive and record-store sides share.
namespace SyncConflict {

// True when the note's text file was changed here after its last exchange
// with each of the services (the drive and the record store unless named):
// its modification date (whole seconds, as a commit writes updatedOn there)
// is later than each of their link dates; a missing link counts as never
// exchanged. A missing text file has no changes.
bool hasUnexchangedLocalChanges(const QString& key, int storage,
                                std::initializer_list<int> services = {NoteServiceCloud, NoteServiceCloudKit});
// Whether a service's link of that date (nothing: no link) says the text
// file of that date was exchanged with it.
bool linkCovers(const std::optional<FileTime>& link, const FileTime& textDate);

// True when the service never had the note's text and nothing else says it
// was seen: unexchanged with every service, or written here (not taken in
// unchanged) and unexchanged with that one. One service taking an edit does
// not carry it through the other.
bool hasUnsentChanges(const QString& key, int storage, int service);

// File queue. A commit sets its text file's date to the note's whole second:
// any other date means the commit was cut short (or another program wrote the
// file). Such a note is committed again here, dated now, so the passes that
// send local changes find it; true when that was done. Another program's text
// is told as an update from outside, as the folder watch would tell it.
bool repairCutCommit(const QString& key, int storage);
// Whether repairCutCommit may find work for a text file of that date: a pass
// over every note asks this first and goes to the file queue for those alone.
inline bool mayBeCutCommit(const std::optional<FileTime>& textDate) { return textDate && textDate->nanoseconds != 0; }

// Whether a pass that would take `gone` of `total` linked notes out looks
// like a folder gone wrong rather than removals made on purpose.
constexpr int RemovalFloor = 5;
constexpr double RemovalShare = 0.2;
inline bool tooManyGone(qsizetype gone, qsizetype total)
{
    return double(gone) > std::max<double>(RemovalFloor, RemovalShare * double(total));
}

// The notes the service's links say it holds whose text file is
// gone here: moved, renamed or deleted while the service was off. Nothing
// when a storage's folder that held such notes is missing, or when tooManyGone
// of the notes the drive or the record store holds. Only reads: off the file
// queue, a caller looks at each note again before acting.
QList<std::pair<QString, int>> notesGoneSinceExchange(int service);

// The name a conflict gives the text it keeps beside the note: the note's
// name and a short hash of the text, so every computer keeping the same text
// of the same note keeps one note.
QString forkKey(const QString& key, const QString& text);
// File queue: commits the text as that fork, unless a note of that name
// exists, and sends it to the drive and the record store. A fork a conflict
// sets aside for the text the note keeps (keptFor, its hash) names that text
// in its history, which goes out with it.
void keepAsFork(const QString& key, int storage, const QString& text, int64_t updatedOn, int64_t createdOn,
                const QString& keptFor = QString());

// File queue: keepAsFork with the local note's text and dates, when it has a text.
void keepLocalAsFork(const QString& key, int storage, const QString& keptFor = QString());

// File queue, once the note's text was taken in or kept over another: when
// the fork a conflict made of that very text (where a move or delete met it)
// still holds it, the note has brought the text back and the fork goes to
// the Trash, its deletion out to the drive and the record store. Only the
// note's own text settling does this: a fork coming in while the note still
// holds its text may be all that is left of it once a deletion arrives. A
// fork set aside for another text stays: the note holding its text meanwhile
// moves on to that one, which was written over it. Unless the note's text
// came in sent over that one (the sender's history, sentOver, names it): the
// conflict that set the fork aside was judged before that history came.
void dropForkTheNoteHolds(const QString& key, int storage, const QString& text, const QStringList& sentOver = {});

// Whether a text whose history is `hashes` (its own hash first) was sent over
// the text the note holds here: its writer held this text and chose its own,
// so it is newer than this one whatever the dates say.
bool sentOverHeldText(const QStringList& hashes, const QString& key, int storage);

// The note's history with the text about to be sent added (an empty text,
// as of a deleted note not read, adds nothing), as the field the drive's side
// file and the record carry.
QString sending(const QString& key, int storage, const QString& text);

// Not on the file queue: sending, done there, for a save of the note's text;
// nothing when the note holds another text by then (one taken in since, which
// the conflict rule kept beside it, or a later edit). Sent, it would claim to
// be made over texts it never saw, and replace them everywhere.
std::optional<QString> sendingHeld(const QString& key, int storage, const QString& text);

// A text from elsewhere for a local note.
struct Incoming {
    QString key;
    int storage = 0;
    QString text;
    int64_t updatedOn = 0;
    int64_t createdOn = 0;
    QStringList history; // the sender's, the text's own hash among them
};

enum class Outcome {
    Take,      // the caller commits the incoming text, then calls taken()
    TakeOverFork, // as Take, the local text kept as a fork: what went out of it is written over
    Same,      // the note holds that text already
    KeepLocal, // the local text stays and is sent again over the incoming one
};

// File queue. An incoming text written over the local one replaces it (the
// local text into the Trash unless it was itself taken in unchanged); one
// the local text was written over is old and changes nothing; two written
// beside each other keep the one with the greater hash on every computer and
// the other as a fork.
Outcome meet(const Incoming& incoming);
inline bool takes(Outcome outcome)
{
    return outcome == Outcome::Take || outcome == Outcome::TakeOverFork;
}
// After the incoming text was committed.
void taken(const Incoming& incoming);

// Writes from elsewhere that may fork a local note take turns, process-wide:
// two of them seeing the same unexchanged edit at once would fork it twice.
void takeTurn(OneAtATime::Job job);

} // namespace SyncConflict
