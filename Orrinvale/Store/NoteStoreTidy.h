#pragma once

#include <QString>

#include <cstdint>

// Start-up clean-up of what interrupted work leaves behind. It runs while the
// instance lock is held and before any note is saved, so nothing it removes
// can still be in use.
namespace NoteStoreTidy {

constexpr int64_t PurgedKeepSeconds = 7 * 24 * 3600;

// Removes the temporaries of atomic saves cut short (".save-<16 hex>.tmp"):
// in the folder itself, or in its whole tree.
void removeSaveTemporaries(const QString& folder, bool wholeTree);
// Removes the purged notes last changed before now minus a week.
void removeOldPurged(const QString& purgedFolder, int64_t now);
// Both, on the store's folders: the two note folders, the caches, "Purged".
void atStart();

} // namespace NoteStoreTidy
