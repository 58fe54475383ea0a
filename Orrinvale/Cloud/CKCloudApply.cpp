#include "StoreCKCloud.h"

#include "NoteHistory.h"
#include "NoteRecord.h"
#include "RecordIntake.h"
#include "SyncConflict.h"

#include "Store/AppleCloud.h"
#include "Store/NoteServices.h"

#include "Log.h"

namespace {

using Done = std::function<void()>;

// What one incoming record asks of its note, taken before the file queue.
struct Incoming {
    NoteRecord::Name name;
    NoteRecord::Change change = NoteRecord::Change::UnknownState;
    int64_t state = 0;
    int64_t version = 0;
    FileTime committed;
    int64_t createdOn = 0; // 0: none, the commit takes now
    std::optional<QString> text;
    QString history; // the sender's, as the record holds it

    QString resourceName() const { return Note::resourceNameForStorage(name.storage); }
};

Incoming incomingOf(const Record& record, const NoteRecord::Name& name)
{
    Incoming in;
    in.name = name;
    in.change = NoteRecord::change(record);
    in.state = record.integer(NoteRecord::StateKey).value_or(NoteRecord::StateLive);
    in.version = record.integer(NoteRecord::VersionKey).value_or(0);
    in.committed = NoteRecord::commitDate(record).value_or(FileTime());
    if (const auto created = record.date(NoteRecord::CreatedDateKey))
        in.createdOn = NoteRecord::wholeSeconds(FileTime::fromDateTime(*created));
    if (in.change == NoteRecord::Change::Write)
        in.text = NoteRecord::stringFromData(record.data(NoteRecord::TextKey).value_or(QByteArray()), in.version);
    in.history = record.string(NoteRecord::HistoryKey).value_or(QString());
    return in;
}

// Logs why the record changes nothing here; false when it does change something.
bool refused(const Incoming& in)
{
    switch (in.change) {
    case NoteRecord::Change::UnknownState:
        LogInfo("ckcloud:reload update error: unknown state %1", qint64(in.state));
        return true;
    case NoteRecord::Change::RefusedDeleteWithText:
        LogInfo("ckcloud:reload purge error (fileSize > 0) %1", in.name.key);
        return true;
    case NoteRecord::Change::RefusedEmpty:
        LogInfo("ckcloud:reload resist update (file size <= 0) %1", in.name.key);
        return true;
    case NoteRecord::Change::Write:
        return !in.text || in.text->isEmpty(); // an undecodable or empty text: silently
    case NoteRecord::Change::Delete:
        return false;
    }
    return true;
}

SyncConflict::Incoming meeting(const Incoming& in)
{
    return {in.name.key, in.name.storage, *in.text, NoteRecord::wholeSeconds(in.committed), in.createdOn,
            NoteHistory::fromField(in.history, *in.text)};
}

// Over a local text kept as a fork, the folder may hold that text under the
// note's name (saved there after the deletion): it goes too, or a computer
// taking it from there would bring the note back beside the fork.
void trashLocal(const Incoming& in, const LinkFiles& links, bool overFork, const Done& done)
{
    auto note = std::make_shared<Note>(in.name.key, in.name.storage);
    note->_deleteLocalNote([=](const Error& error) {
        if (!error.isNull())
            return done();
        links.retire(in.name.key, NoteServiceCloudKit, in.name.storage, in.committed);
        if (NoteServices* const services = Note::services()) {
            services->noteDidDeleteFromRemoteServer(note);
            if (overFork)
                services->appleCloud()->deleteNote(note, {});
        }
        LogInfo("ckcloud:reload purge ok %1/%2", in.resourceName(), in.name.key);
        done();
    });
}

// Over a local text kept as a fork, the folder may still hold that text (sent
// there a moment ago): it gets the text taken, or a computer taking the
// folder's would undo the choice.
void writeLocal(const Incoming& in, const LinkFiles& links, bool overFork, const Done& done)
{
    auto note = std::make_shared<Note>(in.name.key, in.name.storage);
    note->restoreMeta();
    note->setStorage(in.name.storage);
    note->setCreatedOn(in.createdOn);
    note->setUpdatedOn(NoteRecord::wholeSeconds(in.committed));
    note->setText(*in.text);
    note->_commitAndCloseLocalNote([=](bool ok) {
        if (!ok) {
            LogError("ckcloud:reload update error %1/%2", in.resourceName(), in.name.key);
            return done();
        }
        LogInfo("ckcloud:reload update ok (v%1) %2/%3", qint64(in.version), in.resourceName(), in.name.key);
        links.write(in.name.key, NoteServiceCloudKit, in.name.storage, in.committed);
        const SyncConflict::Incoming met = meeting(in);
        SyncConflict::taken(met);
        if (NoteServices* const services = Note::services()) {
            services->noteDidUpdateFromRemoteServer(note);
            if (overFork)
                services->appleCloud()->commitNote(note, {});
        }
        SyncConflict::dropForkTheNoteHolds(in.name.key, in.name.storage, *in.text, met.history);
        done();
    });
}

// File queue: the record's change unless a link resists it; nothing changed
// here and sent nowhere is lost to it.
void applyLocally(const Record& record, const NoteRecord::Name& name, const LinkFiles& links, const Done& done)
{
    if (RecordIntake::resisted(record, name, "reload"))
        return done();
    const Incoming in = incomingOf(record, name);
    if (refused(in))
        return done();
    if (in.change == NoteRecord::Change::Delete) {
        // A text the deleting computer never held was written beside the deletion: it stays, as a fork.
        Note local(in.name.key, in.name.storage);
        const bool beside = in.history.isEmpty()
                                ? SyncConflict::hasUnexchangedLocalChanges(in.name.key, in.name.storage)
                                : local.restoreText() && !in.history.contains(NoteHistory::hashOf(local.text()));
        if (beside)
            SyncConflict::keepLocalAsFork(in.name.key, in.name.storage);
        return trashLocal(in, links, beside, done);
    }
    const SyncConflict::Outcome outcome = SyncConflict::meet(meeting(in));
    if (SyncConflict::takes(outcome))
        return writeLocal(in, links, outcome == SyncConflict::Outcome::TakeOverFork, done);
    links.write(in.name.key, NoteServiceCloudKit, in.name.storage, in.committed);
    done();
}

} // namespace

void StoreCKCloud::_reloadNoteWithRecordID(const RecordID& id, std::function<void()> block)
{
    queue_->async([=, this] {
        fetch(id, [=, this](const std::shared_ptr<Database>&, std::optional<Record> record, const Error& error) {
            if (!error.isNull() || !record) {
                LogError("ckcloud:reload error %1", error.localizedDescription());
                if (block)
                    block();
                return;
            }
            _reloadNoteWithRecord(*record, block);
        });
    });
}

void StoreCKCloud::_reloadNoteWithRecord(const Record& record, std::function<void()> block)
{
    applyRecord(record, links_, std::move(block));
}

void StoreCKCloud::applyRecord(const Record& record, const LinkFiles& links, std::function<void()> block)
{
    const auto name = RecordIntake::admit(record, "reload");
    NoteServices* const services = Note::services();
    if (!name || !services) {
        if (block)
            block();
        return;
    }
    const DispatchQueuePtr fileQueue = services->fileQueue();
    SyncConflict::takeTurn([=](std::function<void()> finished) {
        const Done done = [finished, block] {
            finished();
            if (block)
                block();
        };
        fileQueue->async([=] {
            if (!links.isCurrentAccount()) {
                LogInfo("ckcloud:reload drop (account changed) %1", name->key);
                return done();
            }
            applyLocally(record, *name, links, done);
        });
    });
}
