#include "RecordIntake.h"

#include "LinkFiles.h"

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

bool resisted(const Record& record, const NoteRecord::Name& name, const char* reader)
{
    const auto committed = NoteRecord::commitDate(record);
    if (!committed) {
        LogError("ckcloud:%1 error no commitDate %2", reader, name.key);
        return true;
    }
    const struct {
        int service;
        const char* word;
    } services[] = {{NoteServiceCloudKit, "ckcloud"}, {NoteServiceTrash, "trash"}, {NoteServiceCloud, "applecloud"}};
    for (const auto& s : services) {
        if (LinkFiles::isNewerOrEqualTo(name.key, s.service, name.storage, *committed)) {
            LogInfo("ckcloud:%1 resist update (%2) %3", reader, s.word, name.key);
            return true;
        }
    }
    return false;
}

} // namespace RecordIntake
