#include "RecordIntake.h"

#include "LinkFiles.h"
#include "NoteHistory.h"
#include "SyncConflict.h"

#include "Store/Note.h"

#include "Log.h"

namespace RecordIntake {

std::optional<NoteRecord::Name> admit(const Record& record, const char* reader)
{
    const NoteRecord::Admitted admitted = NoteRecord::admit(record);
    switch (admitted.admission) {
    case NoteRecord::Admission::Accepted:
        return admitted.name;
    case NoteRecord::Admission::TooNew:
        LogError("ckcloud:%1 error (version > %2)", reader, qint64(NoteRecord::HighestVersion));
        break;
    case NoteRecord::Admission::TooOld:
        break;
    case NoteRecord::Admission::TooBig:
        LogError("ckcloud:%1 error too big file", reader);
        break;
    case NoteRecord::Admission::GarbagePath:
        LogError("ckcloud:%1 error garbage path %2", reader, admitted.name.storageName);
        break;
    }
    return std::nullopt;
}

namespace {

// A link stands for the text this computer exchanged as of its date, not for
// every text dated before it: two computers saving one note in one second, or
// a record saved after another computer's later save to the folder, date
// another text alike. So the Cloud and CloudKit links hold a record back only
// when its text (the first hash of the history it carries) is one this
// computer held, or when the record carries no history to tell. A text held
// here before the one the note holds now, sent over that one (its history
// knows it), is newer than it: two texts that came in one after the other
// leave the later one's writer's choice to the conflict rule.
bool heldHere(const Record& record, const NoteRecord::Name& name)
{
    const QStringList hashes = record.string(NoteRecord::HistoryKey).value_or(QString()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (hashes.isEmpty())
        return true;
    return NoteHistory::load(name.key, name.storage).contains(hashes.first())
           && !SyncConflict::sentOverHeldText(hashes, name.key, name.storage);
}

// The word of the service whose link holds the record back; nullptr when none does.
const char* holdingLink(const Record& record, const NoteRecord::Name& name, const FileTime& committed)
{
    const struct {
        int service;
        const char* word;
    } services[] = {{NoteServiceCloudKit, "ckcloud"}, {NoteServiceTrash, "trash"}, {NoteServiceCloud, "applecloud"}};
    for (const auto& s : services) {
        if (LinkFiles::isNewerOrEqualTo(name.key, s.service, name.storage, committed)
            && (s.service == NoteServiceTrash || heldHere(record, name)))
            return s.word;
    }
    return nullptr;
}

} // namespace

bool resisted(const Record& record, const NoteRecord::Name& name, const char* reader)
{
    const auto committed = NoteRecord::commitDate(record);
    if (!committed) {
        LogError("ckcloud:%1 error no commitDate %2", reader, name.key);
        return true;
    }
    const char* const word = holdingLink(record, name, *committed);
    if (word)
        LogInfo("ckcloud:%1 resist update (%2) %3", reader, word, name.key);
    return word;
}

bool exchangedHere(const Record& record, const NoteRecord::Name& name)
{
    const auto committed = NoteRecord::commitDate(record);
    return !committed || holdingLink(record, name, *committed);
}

} // namespace RecordIntake
