#include "ZPMutableArchive.h"

#include "ZPByteWriter.h"
#include "ZPEndOfCentralDirectory.h"
#include "ZPError.h"
#include "files/Posix.h"

#include <cerrno>
#include <vector>

namespace {

constexpr qsizetype entryLimit = 0xFFFF;

bool fail(Error* error, ZPError::Code code, const Error& underlying, std::optional<std::uint32_t> index = {})
{
    setError(error, ZPError::make(code, underlying.isNull() ? std::nullopt : std::optional(underlying), index));
    return false;
}

// Removes the temporary channel on every way out.
struct TemporaryRemover {
    std::shared_ptr<ZPChannel> channel;
    ~TemporaryRemover()
    {
        if (channel)
            channel->removeAsTemporary();
    }
};

QByteArray endOfCentralDirectory(qsizetype entries, std::uint32_t size, std::uint32_t offset)
{
    QByteArray record(ZPEndOfCentralDirectory::fixedSize, '\0');
    ZPByteWriter::put32(record, 0, ZPEndOfCentralDirectory::signature);
    ZPByteWriter::put16(record, 8, std::uint16_t(entries));
    ZPByteWriter::put16(record, 10, std::uint16_t(entries));
    ZPByteWriter::put32(record, 12, size);
    ZPByteWriter::put32(record, 16, offset);
    return record;
}

} // namespace

qsizetype ZPMutableArchive::keptPrefix(const NewEntries& entries) const
{
    if (!m_entries || !m_contents)
        return 0;
    const auto end = ZPEndOfCentralDirectory::find(m_contents->bytes());
    qsizetype prefix = 0;
    std::uint64_t previousEnd = 0;
    while (prefix < entries.size() && prefix < m_entries->size() && entries[prefix] == m_entries->at(prefix)) {
        const ZPOldArchiveEntry& entry = *m_entries->at(prefix);
        const auto record = entry.localRecord();
        const std::uint32_t start = entry.centralFileHeader().localHeaderOffset();
        // Each kept record must end where the next begins, or the tail could
        // land on bytes still in use.
        if (!end || !record || (prefix > 0 && start != previousEnd))
            return 0;
        previousEnd = start + record->size();
        ++prefix;
    }
    return end && previousEnd <= end->centralDirectoryOffset ? prefix : 0;
}

bool ZPMutableArchive::updateEntries(const NewEntries& entries, Error* error)
{
    if (entries.size() > entryLimit)
        return fail(error, ZPError::EndOfCentralDirectoryWriteFailed,
                    posixError(EFBIG, QStringLiteral("write"), QStringLiteral("more than 65,535 entries")));
    const qsizetype prefix = keptPrefix(entries);
    std::vector<std::unique_ptr<ZPArchiveEntryWriter>> writers;
    for (qsizetype i = 0; i < entries.size(); ++i)
        writers.push_back(entries[i]->newWriter(i < prefix));
    const std::uint32_t initialSkip = prefix > 0 ? writers[std::size_t(prefix - 1)]->offsetToLocalFileEnd() : 0;

    Error underlying;
    const TemporaryRemover temporary{m_channel->temporaryChannel(&underlying)};
    if (!temporary.channel)
        return fail(error, ZPError::TemporaryChannelFailed, underlying);
    {
        const auto output = temporary.channel->newOutput(&underlying);
        if (!output)
            return fail(error, ZPError::TemporaryChannelFailed, underlying);
        if (!writeArchive(*output, writers, prefix, initialSkip, error))
            return false;
        if (!output->close(&underlying))
            return fail(error, ZPError::EndOfCentralDirectoryWriteFailed, underlying);
    }
    const bool placed = initialSkip > 0 ? patchInPlace(*temporary.channel, initialSkip, &underlying)
                                        : m_channel->replaceWithChannel(*temporary.channel, &underlying);
    if (!placed)
        return fail(error, ZPError::ReplaceFailed, underlying);
    m_contents.reset();
    m_entries.reset();
    return true;
}

bool ZPMutableArchive::writeArchive(ZPChannelOutput& output,
                                    const std::vector<std::unique_ptr<ZPArchiveEntryWriter>>& writers,
                                    qsizetype prefix, std::uint32_t initialSkip, Error* error)
{
    Error underlying;
    for (std::size_t i = std::size_t(prefix); i < writers.size(); ++i) {
        if (!writers[i]->writeLocalFile(output, initialSkip, &underlying))
            return fail(error, ZPError::LocalFileWriteFailed, underlying, std::uint32_t(i));
    }
    const auto directoryOffset = output.landingOffset(initialSkip, &underlying);
    for (std::size_t i = 0; i < writers.size(); ++i) {
        if (!directoryOffset || !writers[i]->writeCentralFileHeader(output, &underlying))
            return fail(error, ZPError::CentralFileHeaderWriteFailed, underlying, std::uint32_t(i));
    }
    const auto directoryEnd = output.landingOffset(initialSkip, &underlying);
    if (!directoryOffset || !directoryEnd
        || !output.writeData(ZPByteWriter::bytesOf(endOfCentralDirectory(qsizetype(writers.size()),
                                                                         *directoryEnd - *directoryOffset,
                                                                         *directoryOffset)),
                             &underlying))
        return fail(error, ZPError::EndOfCentralDirectoryWriteFailed, underlying);
    return true;
}

bool ZPMutableArchive::patchInPlace(ZPChannel& temporary, std::uint32_t initialSkip, Error* error)
{
    const auto tail = temporary.newInput(error);
    // The old tail moves into memory: entries still held keep reading it, and
    // it is what a failure writes back.
    if (!tail || !m_contents->keepInMemoryFrom(initialSkip, error))
        return false;
    const std::uint64_t length = std::uint64_t(initialSkip) + tail->bytes().size();
    if (length > ZPChannelOutput::sizeLimit) {
        setError(error, posixError(EFBIG, QStringLiteral("write"), URL()));
        return false;
    }
    auto output = m_channel->newOutput(error);
    if (!output)
        return false;
    const bool written = output->reserve(std::uint32_t(length), error) && output->seekToOffset(initialSkip, error)
        && output->writeData(tail->bytes(), error) && output->truncateAtOffset(std::uint32_t(length), error)
        && output->close(error);
    output.reset();
    if (!written)
        restoreTail(initialSkip);
    return written;
}

void ZPMutableArchive::restoreTail(std::uint32_t initialSkip)
{
    // Best effort: the error reported is the one that made the patch fail.
    const auto output = m_channel->newOutput();
    const auto old = m_contents->bytes();
    if (!output || !output->seekToOffset(initialSkip) || !output->writeData(old.subspan(initialSkip)))
        return;
    output->truncateAtOffset(std::uint32_t(old.size()));
    output->close();
}
