#pragma once

#include <QString>

// The start-up migration and a few file operations of the store's layout.
class Migrator {
public:
    // The layout the store is at, kept in the user default "migrate".
    static constexpr int CurrentLevel = 9;

    // Raises "migrate" to the current level; a higher level stays.
    static void migrateInMainThread();
    // The start-up index rebuild and tidy, run to their end on the calling thread.
    static void build();
    // A directory at the path; a plain file there is first moved to "<path>.backup".
    static void forceMakeDirectory(const QString& path);
    // Copies the named file between directories when the source has it; an
    // existing destination file stays.
    static void copyFile(const QString& name, const QString& fromDirectory, const QString& toDirectory);
};
