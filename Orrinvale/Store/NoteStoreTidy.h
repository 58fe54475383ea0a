#pragma once

#include <QString>

#include <cstdint>

// Start-up clean-up of what interrupted work leaves behind. It runs on the
// file queue while the instance lock is held, so no save is in flight and
// nothing it removes can still be in use.
namespace NoteStoreTidy {

constexpr int64_t PurgedKeepSeconds = 7 * 24 * 3600;

// Removes the temporaries of atomic saves cut short (".save-<16 hex>.tmp")
// from the folder.
void removeSaveTemporaries(const QString& folder);
// Removes the purged notes last changed before now minus a week.
void removeOldPurged(const QString& purgedFolder, int64_t now);
// Removes the rows whose note file is gone, with the note's side files and
// tag links.
void removeGhostRows();
// All of them, on the store's folders (temporaries where atomic saves write:
// the notes' folders and their meta and header folders), after the start-up
// rebuild.
void atStart();

} // namespace NoteStoreTidy
