#pragma once

#include "FileTimes.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A folder held open for a run of looks at the entries in it: each look walks
// one name instead of the whole path. A folder that cannot be opened looks
// empty, as its path would.
class HeldFolder {
public:
    enum class Entries {
        Files,      // regular files, links followed
        NonFolders, // anything but a folder, a broken link too
    };

    explicit HeldFolder(const QString& path);
    ~HeldFolder();
    HeldFolder(HeldFolder&& other) noexcept;
    HeldFolder& operator=(HeldFolder&& other) noexcept;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // As FileTimes::modificationTime on the entry's path.
    std::optional<FileTime> modificationTime(const QString& name) const;
    // The same for each name, in order; the looks go side by side.
    std::vector<std::optional<FileTime>> modificationTimes(const QStringList& names) const;
    // The names of the entries, unsorted; hidden ones (".name") left out.
    QStringList names(Entries entries) const;

private:
    int fd_ = -1;
};
