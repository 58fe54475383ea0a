#pragma once

#include "ZPArchive.h"

#include <vector>

// An archive that can be rewritten with a new list of entries.
class ZPMutableArchive : public ZPArchive {
public:
    using ZPArchive::ZPArchive;
    using NewEntries = QList<std::shared_ptr<ZPArchiveEntry>>;

    // Entries taken from this archive's own list stay as they are, others are
    // written anew. When a leading run of the loaded entries is passed first,
    // in order, as the very same objects, and their local records lie back to
    // back before the central directory, only the tail is written, into the
    // old file (a failure there writes the old bytes back); otherwise a new
    // archive replaces the old one. Codes 4 to 8, with the underlying error and
    // for 5 and 6 the entry's index. On success the archive reloads on next use.
    bool updateEntries(const NewEntries& entries, Error* error = nullptr);

private:
    // How many leading entries are the loaded ones, unchanged and laid out so
    // that the tail can be written behind them.
    qsizetype keptPrefix(const NewEntries& entries) const;
    // The local records after the prefix, every central record and the end
    // record, as if the output began at the initial skip.
    static bool writeArchive(ZPChannelOutput& output, const std::vector<std::unique_ptr<ZPArchiveEntryWriter>>& writers,
                             qsizetype prefix, std::uint32_t initialSkip, Error* error);
    // Writes the temporary channel's bytes at the initial skip and cuts the
    // file there; on failure the old bytes are put back.
    bool patchInPlace(ZPChannel& temporary, std::uint32_t initialSkip, Error* error);
    void restoreTail(std::uint32_t initialSkip);
};
