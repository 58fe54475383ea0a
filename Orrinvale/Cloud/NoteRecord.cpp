#include "NoteRecord.h"

#include "Store/Note.h"

#include <QStringDecoder>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

constexpr size_t DeflateStep = 16384;
constexpr int GzipWindowBits = 15 + 16;
constexpr int DetectHeaderWindowBits = 15 + 32;

bool isSafeKey(const QString& key)
{
    return Note::isSafePathComponent(key) && !key.startsWith(QLatin1Char('.'));
}

std::optional<QString> decodeUtf16(QByteArrayView bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    auto encoding = QStringConverter::Utf16BE;
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = QStringConverter::Utf16LE;
        bytes = bytes.sliced(2);
    } else if (bytes.startsWith("\xFE\xFF")) {
        bytes = bytes.sliced(2);
    }
    // The mark is gone already; a second one is part of the text.
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

QString NoteRecord::recordName(int storage, const QString& key)
{
    if ((storage != NoteStorageInbox && storage != NoteStorageArchive) || !isSafeKey(key))
        return QString();
    static_assert(Note::LongestKeyBytes + qsizetype(sizeof("Archive/")) - 1 <= Record::MaximumNameBytes);
    return Note::resourceNameForStorage(storage) + QLatin1Char('/') + Note::fittedKey(key);
}

void NoteRecord::setFileName(Record& record, const QString& key)
{
    if (Note::fittedKey(key) != key)
        record.setValue(FileNameKey, key);
}

RecordID NoteRecord::recordID(int storage, const QString& key)
{
    return RecordID{recordName(storage, key)};
}

NoteRecord::Name NoteRecord::splitName(const QString& recordName)
{
    Name name;
    const qsizetype slash = recordName.lastIndexOf(QLatin1Char('/'));
    name.key = recordName.mid(slash + 1);
    if (slash < 0)
        return name;
    const QString rest = recordName.left(slash);
    name.storageName = rest.mid(rest.lastIndexOf(QLatin1Char('/')) + 1);
    if (isSafeKey(name.key))
        name.storage = Note::storageKeyForResourceName(name.storageName);
    return name;
}

void NoteRecord::setLive(Record& record, const QByteArray& data, const FileTime& commitDate)
{
    record.setValue(VersionKey, Version);
    record.setValue(StateKey, StateLive);
    record.setValue(CommitDateKey, commitDate.toDateTime());
    record.setValue(FileSizeKey, int64_t(data.size()));
    record.setValue(TextKey, data);
}

void NoteRecord::setTombstone(Record& record, const FileTime& commitDate)
{
    record.setValue(VersionKey, Version);
    record.setValue(StateKey, StateDeleted);
    record.setValue(CommitDateKey, commitDate.toDateTime());
    record.setValue(FileSizeKey, int64_t(0));
    record.setValue(TextKey, QByteArray());
}

void NoteRecord::setCreatedDate(Record& record, const FileTime& date)
{
    record.setValue(CreatedDateKey, date.toDateTime());
}

std::optional<FileTime> NoteRecord::commitDate(const Record& record)
{
    const auto date = record.date(CommitDateKey);
    if (!date || !date->isValid())
        return std::nullopt;
    return FileTime::fromDateTime(*date);
}

int64_t NoteRecord::wholeSeconds(const FileTime& date)
{
    return date.seconds < 0 && date.nanoseconds > 0 ? date.seconds + 1 : date.seconds;
}

// --- Codec

QByteArray NoteRecord::dataFromString(const QString& text)
{
    if (text.isEmpty())
        return QByteArray();
    QByteArray bytes(2 + text.size() * 2, Qt::Uninitialized);
    bytes[0] = char(0xFF);
    bytes[1] = char(0xFE);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data() + 2);
    return gzipDeflate(bytes);
}

std::optional<QString> NoteRecord::stringFromData(const QByteArray& data, int64_t version)
{
    if (version < CompressedFromVersion)
        return decodeUtf16(data);
    const auto inflated = gzipInflate(data);
    if (!inflated)
        return std::nullopt;
    return decodeUtf16(*inflated);
}

QByteArray NoteRecord::gzipDeflate(const QByteArray& data)
{
    if (data.isEmpty())
        return data;
    if (size_t(data.size()) > std::numeric_limits<uInt>::max())
        return QByteArray();
    z_stream stream {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, GzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray out(DeflateStep, Qt::Uninitialized);
    do {
        if (stream.total_out >= size_t(out.size()))
            out.resize(out.size() + DeflateStep);
        stream.next_out = reinterpret_cast<Bytef*>(out.data()) + stream.total_out;
        stream.avail_out = uInt(size_t(out.size()) - stream.total_out);
        deflate(&stream, Z_FINISH);
    } while (stream.avail_out == 0);
    deflateEnd(&stream);
    out.truncate(qsizetype(stream.total_out));
    return out;
}

std::optional<QByteArray> NoteRecord::gzipInflate(const QByteArray& data)
{
    if (data.isEmpty())
        return data;
    if (size_t(data.size()) > std::numeric_limits<uInt>::max())
        return std::nullopt;
    const size_t length = size_t(data.size());
    const size_t step = std::max<size_t>(length / 2, 1);
    QByteArray out;
    out.resize(qsizetype(std::min(length + step, MaximumInflatedSize + 1)));
    z_stream stream {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(length);
    if (inflateInit2(&stream, DetectHeaderWindowBits) != Z_OK)
        return std::nullopt;
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.total_out >= size_t(out.size())) {
            // One byte past the cap is room enough to tell an overlong stream.
            if (stream.total_out > MaximumInflatedSize)
                break;
            out.resize(qsizetype(std::min(size_t(out.size()) + step, MaximumInflatedSize + 1)));
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data()) + stream.total_out;
        stream.avail_out = uInt(size_t(out.size()) - stream.total_out);
        status = inflate(&stream, Z_SYNC_FLUSH);
    }
    const bool ended = status == Z_STREAM_END && stream.total_out <= MaximumInflatedSize;
    if (inflateEnd(&stream) != Z_OK || !ended)
        return std::nullopt;
    out.truncate(qsizetype(stream.total_out));
    return out;
}

// --- Dates

bool NoteRecord::dateIsNewerOrEqualTo(const std::optional<FileTime>& date, const FileTime& other)
{
    return !date || *date >= other;
}

bool NoteRecord::dateIsNewerThan(const std::optional<FileTime>& date, const FileTime& other)
{
    return date && *date > other;
}

// --- Acceptance

NoteRecord::Admitted NoteRecord::admit(const Record& record)
{
    Admitted admitted;
    const int64_t version = record.integer(VersionKey).value_or(0);
    if (version > HighestVersion)
        admitted.admission = Admission::TooNew;
    else if (version < Version)
        admitted.admission = Admission::TooOld;
    else if (record.integer(FileSizeKey).value_or(0) >= MaximumFileSize)
        admitted.admission = Admission::TooBig;
    else if ((admitted.name = splitName(record.recordID().recordName)).storage == 0)
        admitted.admission = Admission::GarbagePath;
    // A whole name counts only when it is the one the record is named after.
    const QString whole = record.string(FileNameKey).value_or(QString());
    if (admitted.admission == Admission::Accepted && !whole.isEmpty()
        && recordName(admitted.name.storage, whole) == record.recordID().recordName)
        admitted.name.key = whole;
    return admitted;
}

NoteRecord::Change NoteRecord::change(const Record& record)
{
    const int64_t fileSize = record.integer(FileSizeKey).value_or(0);
    switch (record.integer(StateKey).value_or(StateLive)) {
    case StateLive:
        return fileSize >= 1 ? Change::Write : Change::RefusedEmpty;
    case StateDeleted:
        return fileSize <= 0 ? Change::Delete : Change::RefusedDeleteWithText;
    default:
        return Change::UnknownState;
    }
}
